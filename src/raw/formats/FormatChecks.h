#pragma once
// What every format check shares: the walk over a candidate file's bytes and the verdicts. The
// checks themselves are declared below by the file that holds them; each is one row of the
// table in src/raw/FileFormats.cpp.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include <zlib.h>

#include "common/Bytes.h"
#include "raw/CarveSource.h"
#include "raw/FileFormats.h"

namespace corvello::formats {

using i64 = std::int64_t;

inline constexpr std::size_t kPiece = 256 * 1024;

// The bytes of one candidate file: offsets are relative to its start and end at its limit.
struct Walk {
    CarveSource& source;
    i64 start;
    i64 limit;

    ByteSpan at(i64 offset, std::size_t n) const {
        if (offset < 0 || offset >= limit) return {};
        n = static_cast<std::size_t>(std::min<i64>(static_cast<i64>(n), limit - offset));
        return source.bytes(start + offset, n);
    }
    // At least least (fewer only at the limit) and at most most bytes at offset: for searches.
    ByteSpan some(i64 offset, std::size_t most, std::size_t least = 1) const {
        if (offset < 0 || offset >= limit) return {};
        most = static_cast<std::size_t>(std::min<i64>(static_cast<i64>(most), limit - offset));
        return source.some(start + offset, most, least);
    }
    // Exactly n bytes at offset, or false.
    bool get(i64 offset, std::size_t n, ByteSpan& out) const {
        out = at(offset, n);
        return out.size() == n;
    }
    // The first offset in [from, to) holding a byte equal to value, or -1.
    i64 findByte(i64 from, i64 to, std::uint8_t value) const {
        to = std::min(to, limit);
        while (from < to) {
            const ByteSpan piece = some(from, static_cast<std::size_t>(std::min<i64>(to - from, kPiece)));
            if (piece.empty()) return -1;
            if (const void* hit = std::memchr(piece.data(), value, piece.size()))
                return from + (static_cast<const std::uint8_t*>(hit) - piece.data());
            from += static_cast<i64>(piece.size());
        }
        return -1;
    }
    // The first offset in [from, to) where text begins (wholly inside [from, to)), or -1.
    i64 find(i64 from, i64 to, std::string_view text) const {
        const auto n = static_cast<i64>(text.size());
        to = std::min(to, limit);
        while (from + n <= to) {
            const ByteSpan piece = some(from, static_cast<std::size_t>(std::min<i64>(to - from, kPiece)), text.size());
            if (static_cast<i64>(piece.size()) < n) return -1;
            const std::string_view hay(reinterpret_cast<const char*>(piece.data()), piece.size());
            const std::size_t hit = hay.find(text);
            if (hit != std::string_view::npos) return from + static_cast<i64>(hit);
            from += static_cast<i64>(piece.size()) - n + 1;
        }
        return -1;
    }
    // CRC-32 of n bytes at offset; false when they cannot all be read.
    bool crc(i64 offset, i64 n, std::uint32_t& out) const {
        uLong value = crc32(0L, Z_NULL, 0);
        while (n > 0) {
            const ByteSpan piece = some(offset, static_cast<std::size_t>(std::min<i64>(n, kPiece)));
            if (piece.empty()) return false;
            value = crc32(value, piece.data(), static_cast<uInt>(piece.size()));
            offset += static_cast<i64>(piece.size());
            n -= static_cast<i64>(piece.size());
        }
        out = static_cast<std::uint32_t>(value);
        return true;
    }
};

inline FormatVerdict notAFile() { return {}; }
inline FormatVerdict whole(i64 size, i64 endMarker = -1) { return {true, false, size, endMarker}; }
inline FormatVerdict partial(i64 size) { return size > 0 ? FormatVerdict{true, true, size, -1} : FormatVerdict{}; }

inline bool printable(ByteSpan b) {
    return std::all_of(b.begin(), b.end(), [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
}
inline bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// Pictures.cpp
FormatVerdict checkJpeg(const Walk& w);
FormatVerdict checkPng(const Walk& w);
FormatVerdict checkGif(const Walk& w);
FormatVerdict checkBmp(const Walk& w);
FormatVerdict checkTiff(const Walk& w);

// Documents.cpp
FormatVerdict checkPdf(const Walk& w);
FormatVerdict checkOle(const Walk& w);
FormatVerdict checkRtf(const Walk& w);

// Databases.cpp
FormatVerdict checkSqlite(const Walk& w);

// Archives.cpp: archives and compressed streams
FormatVerdict checkZip(const Walk& w);
FormatVerdict checkSevenZip(const Walk& w);
FormatVerdict checkRar(const Walk& w);
FormatVerdict checkGzip(const Walk& w);
FormatVerdict checkBzip2(const Walk& w);
FormatVerdict checkXz(const Walk& w);

// Audio.cpp
FormatVerdict checkMp3(const Walk& w);
FormatVerdict checkOgg(const Walk& w);
FormatVerdict checkMidi(const Walk& w);
FormatVerdict checkFlac(const Walk& w);

// Video.cpp: video and the media containers
FormatVerdict checkRiff(const Walk& w);
FormatVerdict checkIsoMedia(const Walk& w);
FormatVerdict checkMatroska(const Walk& w);
FormatVerdict checkAsf(const Walk& w);
FormatVerdict checkFlv(const Walk& w);
FormatVerdict checkMpeg(const Walk& w);

}  // namespace corvello::formats
