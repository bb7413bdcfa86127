#pragma once
// Writing and reading the integers of on-disk structures in tests that build or patch them:
// little-endian (the PC file systems and partition tables) and big-endian (HFS+). The value's
// low bytes are written; the vector forms check the offset (std::out_of_range past the end).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvello::test {

inline void putLe(std::uint8_t* p, std::size_t width, std::uint64_t v) {
    for (std::size_t i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putBe(std::uint8_t* p, std::size_t width, std::uint64_t v) {
    for (std::size_t i = 0; i < width; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
}
inline std::uint64_t getLe(const std::uint8_t* p, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = width; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

inline void put16(std::uint8_t* p, std::uint64_t v) { putLe(p, 2, v); }
inline void put32(std::uint8_t* p, std::uint64_t v) { putLe(p, 4, v); }
inline void put64(std::uint8_t* p, std::uint64_t v) { putLe(p, 8, v); }

namespace detail {
inline std::uint8_t* checked(std::vector<std::uint8_t>& b, std::uint64_t at, std::size_t width) {
    (void)b.at(static_cast<std::size_t>(at + width - 1));
    return b.data() + at;
}
inline const std::uint8_t* checked(const std::vector<std::uint8_t>& b, std::uint64_t at, std::size_t width) {
    (void)b.at(static_cast<std::size_t>(at + width - 1));
    return b.data() + at;
}
}  // namespace detail

inline void put16(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t v) { putLe(detail::checked(b, at, 2), 2, v); }
inline void put32(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t v) { putLe(detail::checked(b, at, 4), 4, v); }
inline void put64(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t v) { putLe(detail::checked(b, at, 8), 8, v); }
inline void putBe16(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t v) { putBe(detail::checked(b, at, 2), 2, v); }
inline void putBe32(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t v) { putBe(detail::checked(b, at, 4), 4, v); }
inline void putBe64(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t v) { putBe(detail::checked(b, at, 8), 8, v); }

inline std::uint16_t get16(const std::vector<std::uint8_t>& b, std::uint64_t at) {
    return static_cast<std::uint16_t>(getLe(detail::checked(b, at, 2), 2));
}
inline std::uint32_t get32(const std::vector<std::uint8_t>& b, std::uint64_t at) {
    return static_cast<std::uint32_t>(getLe(detail::checked(b, at, 4), 4));
}

}  // namespace corvello::test
