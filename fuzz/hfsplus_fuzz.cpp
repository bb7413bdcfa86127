// Fuzz target for the HFS+ parser: the input is a volume image. Every mode scans it, the tree is
// listed with its display texts, and every file is extracted.
// Seeds: fuzz/corpus/hfsplus (small built volumes) and, by hand, the shared hfsplus.raw.

#include <cstdint>
#include <string>

#include "FuzzScan.h"

using namespace corvello;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep})
        fuzz::scanAndExtract(std::span<const std::uint8_t>(data, size), u"HFS+", u"1  MB", mode, UINT64_MAX);
    return 0;
}
