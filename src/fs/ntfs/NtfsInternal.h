#pragma once
// What the parts of the NTFS parser share: limits and small decoders.

#include <cstdint>
#include <string>

#include "common/Bytes.h"

namespace corvello::ntfs_internal {

inline constexpr std::uint64_t kDefaultClusterSize = 4096;
inline constexpr std::uint64_t kMaxClusterSize = 2 * 1024 * 1024;
inline constexpr std::size_t kReadChunk = 1024 * 1024;        // bytes per read when copying data
inline constexpr std::size_t kMaxAttributeList = 256 * 1024;  // an attribute list is far smaller
inline constexpr std::size_t kMaxExtensionRecords = 4096;
inline constexpr std::size_t kMaxUnitBytes = 4 * 1024 * 1024;
inline constexpr std::uint64_t kDirectoryFlag = 0x10000000;
inline constexpr std::uint64_t kScanChunk = 10 * 1024 * 1024;  // bytes per read of a volume scan

inline std::u16string readUtf16(ByteSpan b, std::size_t off, std::size_t chars) {
    std::u16string out;
    out.reserve(chars);
    for (std::size_t k = 0; k < chars; ++k) out.push_back(static_cast<char16_t>(le16(b, off + 2 * k)));
    return out;
}

// The record number of a parent reference (its low 48 bits, sign-extended from bit 47).
inline std::int64_t parentFromReference(std::uint64_t reference) {
    std::uint64_t number = reference & 0xFFFFFFFFFFFFull;
    if (number & 0x800000000000ull) number |= 0xFFFF000000000000ull;
    return static_cast<std::int64_t>(number);
}

}  // namespace corvello::ntfs_internal
