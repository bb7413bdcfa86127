// libFuzzer target: an ext2/3/4 volume image, scanned as the wizard scans it, every entry listed
// with its texts, then every file record extracted. Seeds: small mke2fs images (ext2, ext3
// without file types, ext4 with extents); run with -max_len of the seeds' size.

#include <cstdint>
#include <span>

#include "FuzzScan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvello;
    ScanRequest request;
    request.volume.fileSystem = u"extX";
    request.volume.byteLength = static_cast<std::int64_t>(size);
    // Holes are written as zeros: keep the files a damaged size could ask for small.
    fuzz::scanAndExtract(std::span<const std::uint8_t>(data, size), request, 16u << 20);
    return 0;
}
