#include "common/ScanHost.h"
#include "scan/Families.h"

namespace corvello {

// Not yet available: the NTFS parser has not landed.
std::unique_ptr<ScanSession> runNtfsScan(const ScanRequest& /*request*/, ScanHost& host, ResultTree& /*tree*/) {
    host.notice("NTFS volumes cannot be read by this version yet.");
    return nullptr;
}

}  // namespace corvello
