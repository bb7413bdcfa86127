#include "scan/MemoryScan.h"

namespace corvello {

std::unique_ptr<MemoryScan> scanMemory(std::span<const std::uint8_t> image, ScanRequest request, bool complete) {
    auto scan = std::make_unique<MemoryScan>(image);
    request.reader = &scan->source;
    if (request.volume.byteLength == 0 && request.volume.sizeText.empty())
        request.volume.byteLength = static_cast<std::int64_t>(image.size());
    scan->session = runScan(request, scan->host, scan->tree);
    if (scan->session && complete) completeScan(*scan->session, scan->tree, scan->host);
    return scan;
}

}  // namespace corvello
