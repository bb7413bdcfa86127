#include "common/ScanHost.h"
#include "scan/Families.h"

namespace corvello {

// Not yet available: the FAT parser has not landed.
std::unique_ptr<ScanSession> runFat16Scan(const ScanRequest& /*request*/, ScanHost& host, ResultTree& /*tree*/) {
    host.notice("FAT volumes cannot be read by this version yet.");
    return nullptr;
}

// Not yet available: the FAT parser has not landed.
std::unique_ptr<ScanSession> runFat32Scan(const ScanRequest& /*request*/, ScanHost& host, ResultTree& /*tree*/) {
    host.notice("FAT volumes cannot be read by this version yet.");
    return nullptr;
}

}  // namespace corvello
