#include "common/ScanHost.h"
#include "scan/Families.h"

namespace corvello {

// Not yet available: the ext parser has not landed.
std::unique_ptr<ScanSession> runExtScan(const ScanRequest& /*request*/, ScanHost& host, ResultTree& /*tree*/) {
    host.notice("ext volumes cannot be read by this version yet.");
    return nullptr;
}

}  // namespace corvello
