#include "common/ScanHost.h"
#include "scan/Families.h"

namespace corvello {

// Not yet available: the HFS+ parser has not landed.
std::unique_ptr<ScanSession> runHfsPlusScan(const ScanRequest& /*request*/, ScanHost& host, ResultTree& /*tree*/) {
    host.notice("HFS+ volumes cannot be read by this version yet.");
    return nullptr;
}

}  // namespace corvello
