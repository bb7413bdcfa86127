#pragma once
// Bounds-checked little- and big-endian field readers over a byte buffer. A field that does not
// fit in the buffer reads as 0, so a truncated structure never reads past its buffer.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace corvello {

using ByteSpan = std::span<const std::uint8_t>;

inline bool fits(ByteSpan b, std::size_t offset, std::size_t size) {
    return offset <= b.size() && size <= b.size() - offset;
}

inline std::uint8_t u8(ByteSpan b, std::size_t off) { return fits(b, off, 1) ? b[off] : 0; }

inline std::uint16_t le16(ByteSpan b, std::size_t off) {
    if (!fits(b, off, 2)) return 0;
    return static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8));
}

inline std::uint32_t le32(ByteSpan b, std::size_t off) {
    if (!fits(b, off, 4)) return 0;
    return static_cast<std::uint32_t>(b[off]) | (static_cast<std::uint32_t>(b[off + 1]) << 8) |
           (static_cast<std::uint32_t>(b[off + 2]) << 16) | (static_cast<std::uint32_t>(b[off + 3]) << 24);
}

inline std::uint64_t le64(ByteSpan b, std::size_t off) {
    if (!fits(b, off, 8)) return 0;
    return static_cast<std::uint64_t>(le32(b, off)) | (static_cast<std::uint64_t>(le32(b, off + 4)) << 32);
}

inline std::uint16_t be16(ByteSpan b, std::size_t off) {
    if (!fits(b, off, 2)) return 0;
    return static_cast<std::uint16_t>((b[off] << 8) | b[off + 1]);
}

inline std::uint32_t be32(ByteSpan b, std::size_t off) {
    if (!fits(b, off, 4)) return 0;
    return (static_cast<std::uint32_t>(b[off]) << 24) | (static_cast<std::uint32_t>(b[off + 1]) << 16) |
           (static_cast<std::uint32_t>(b[off + 2]) << 8) | static_cast<std::uint32_t>(b[off + 3]);
}

inline std::uint64_t be64(ByteSpan b, std::size_t off) {
    if (!fits(b, off, 8)) return 0;
    return (static_cast<std::uint64_t>(be32(b, off)) << 32) | static_cast<std::uint64_t>(be32(b, off + 4));
}

// True when the bytes at off equal the given text (without its terminator).
template <std::size_t N>
inline bool hasBytes(ByteSpan b, std::size_t off, const char (&text)[N]) {
    return fits(b, off, N - 1) && std::memcmp(b.data() + off, text, N - 1) == 0;
}

}  // namespace corvello
