#include "common/ScanHost.h"
#include "scan/Families.h"

namespace corvello {

// Not yet available: the exFAT parser has not landed.
std::unique_ptr<ScanSession> runExFatScan(const ScanRequest& /*request*/, ScanHost& host, ResultTree& /*tree*/) {
    host.notice("exFAT volumes cannot be read by this version yet.");
    return nullptr;
}

}  // namespace corvello
