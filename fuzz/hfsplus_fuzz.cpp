// Fuzz target for the HFS+ parser: the input is a volume image. Every mode scans it, the tree is
// listed with its display texts, and every file is extracted.
// Seeds: fuzz/corpus/hfsplus (small built volumes) and, by hand, the shared hfsplus.raw.

#include <unistd.h>

#include <cstdint>
#include <string>

#include "FuzzScan.h"
#include "FuzzSupport.h"

using namespace corvello;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::MemoryImage image(data, size);
    if (!image.ok()) return 0;
    for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep})
        fuzz::scanAndExtract(image.path(), u"HFS+", u"1  MB", mode, UINT64_MAX);
    return 0;
}
