// The NTFS parser on a damaged volume: the input becomes the MFT (and whatever follows it) of a
// 2 MiB volume with a fixed boot sector (4096-byte clusters, MFT at cluster 4). The whole scan
// runs in the standard, deep and advanced modes; every entry is listed with its texts, and every
// file up to 4 MiB is extracted.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "FuzzScan.h"

namespace {

constexpr std::size_t kVolume = 2 * 1024 * 1024;
constexpr std::size_t kMftOffset = 4 * 4096;

// The volume is built in one buffer kept from run to run: only the input's stretch changes.
const std::vector<std::uint8_t>& volumeFor(const std::uint8_t* data, std::size_t size) {
    static std::vector<std::uint8_t> v(kVolume, 0);
    std::memset(v.data() + kMftOffset, 0, kVolume - kMftOffset);
    std::memcpy(&v[3], "NTFS    ", 8);
    v[11] = 0x00;
    v[12] = 0x02;  // 512 bytes per sector
    v[13] = 8;     // 8 sectors per cluster
    const std::uint64_t sectors = kVolume / 512 - 1;
    for (int k = 0; k < 8; ++k) v[40 + k] = static_cast<std::uint8_t>(sectors >> (8 * k));
    v[48] = 4;  // MFT cluster
    v[56] = 2;  // mirror cluster
    std::memcpy(&v[kMftOffset], data, std::min(size, kVolume - kMftOffset));
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvello;
    const auto& bytes = volumeFor(data, size);
    // The standard and the deep mode over the same bytes, then the search for MFT copies.
    for (const RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep, RecoveryMode::Advanced})
        fuzz::scanAndExtract(bytes, u"NTFS", u"2  MB", mode, 4 * 1024 * 1024);
    return 0;
}
