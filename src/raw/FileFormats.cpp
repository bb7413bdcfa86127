#include "raw/FileFormats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "common/Bytes.h"
#include "raw/CarveSource.h"

namespace corvello {

namespace {

using i64 = std::int64_t;

constexpr std::size_t kPiece = 256 * 1024;
// Decoding a compressed stream to find its end stops after this many bytes of output, so that
// a stream built to expand without end cannot hold the scan.
constexpr std::uint64_t kMaxDecoded = std::uint64_t{1} << 30;
// Values of TIFF arrays (strip and tile offsets and counts, sub-IFDs) read for one file.
constexpr i64 kMaxTiffValues = i64{1} << 22;

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

FormatVerdict notAFile() { return {}; }
FormatVerdict whole(i64 size, i64 endMarker = -1) { return {true, false, size, endMarker}; }
FormatVerdict partial(i64 size) { return size > 0 ? FormatVerdict{true, true, size, -1} : FormatVerdict{}; }

bool printable(ByteSpan b) {
    return std::all_of(b.begin(), b.end(), [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
}
bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// ---------------------------------------------------------------------------------------------
// JPEG: the marker segments, then each scan's entropy-coded data up to the next marker, until
// the EOI that follows the last scan. An EXIF thumbnail lies inside an APP1 segment, so its own
// EOI is stepped over with the segment.

bool jpegSegmentIsSound(std::uint8_t marker, ByteSpan seg, bool& frame) {
    const std::size_t n = seg.size();
    const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (sof) {
        if (n < 6) return false;
        const std::uint8_t components = seg[5];
        if ((seg[0] != 8 && seg[0] != 12 && seg[0] != 16) || components < 1 || components > 4) return false;
        if (n != 6 + 3u * components || be16(seg, 3) == 0) return false;
        frame = true;
        return true;
    }
    switch (marker) {
    case 0xC4: {  // DHT: tables of class 0/1, id 0..3
        std::size_t p = 0;
        while (p < n) {
            if (p + 17 > n || (seg[p] >> 4) > 1 || (seg[p] & 15) > 3) return false;
            std::size_t count = 0;
            for (std::size_t k = 1; k <= 16; ++k) count += seg[p + k];
            if (count > 256) return false;
            p += 17 + count;
        }
        return p == n;
    }
    case 0xDB: {  // DQT: 8- or 16-bit tables, id 0..3
        std::size_t p = 0;
        while (p < n) {
            if ((seg[p] >> 4) > 1 || (seg[p] & 15) > 3) return false;
            p += 1 + 64u * ((seg[p] >> 4) + 1u);
        }
        return p == n;
    }
    case 0xDA:  // SOS
        return frame && n >= 1 && seg[0] >= 1 && seg[0] <= 4 && n == 4 + 2u * seg[0];
    case 0xDD:  // DRI
        return n == 2;
    default:
        return true;
    }
}

// The end of the last further picture an MPF segment (APP2 "MPF") lists, or -1. Its offsets
// count from the segment's TIFF header at base; each further picture must begin with an SOI.
i64 multiPictureEnd(const Walk& w, i64 base, ByteSpan seg) {
    if (seg.size() < 16 || std::memcmp(seg.data(), "MPF", 4) != 0) return -1;
    const ByteSpan t = seg.subspan(4);
    const bool little = t[0] == 'I' && t[1] == 'I';
    if (!little && !(t[0] == 'M' && t[1] == 'M')) return -1;
    const auto u16 = [&](std::size_t at) -> std::uint32_t { return little ? le16(t, at) : be16(t, at); };
    const auto u32 = [&](std::size_t at) -> std::uint32_t { return little ? le32(t, at) : be32(t, at); };
    const std::size_t ifd = u32(4);
    if (!fits(t, ifd, 2)) return -1;
    const std::size_t count = u16(ifd);
    i64 end = -1;
    for (std::size_t e = 0; e < count && fits(t, ifd + 2 + 12 * e, 12); ++e) {
        const std::size_t at = ifd + 2 + 12 * e;
        if (u16(at) != 0xB002) continue;
        const std::size_t length = u32(at + 4), entries = u32(at + 8);
        for (std::size_t k = 0; k + 16 <= length && fits(t, entries + k, 16); k += 16) {
            const i64 size = u32(entries + k + 4), offset = u32(entries + k + 8);
            if (offset == 0 || size < 4) continue;
            ByteSpan soi;
            const bool beyond = base + offset + size > w.limit;  // a cut file: its end tells so
            if (!beyond && (!w.get(base + offset, 3, soi) || soi[0] != 0xFF || soi[1] != 0xD8 || soi[2] != 0xFF)) return -1;
            end = std::max(end, base + offset + size);
        }
    }
    return end;
}

FormatVerdict checkJpeg(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 4, h) || h[0] != 0xFF || h[1] != 0xD8 || h[2] != 0xFF) return notAFile();
    i64 pos = 2;
    bool frame = false, scan = false;
    int segments = 0;
    i64 pictures = -1;  // where the further pictures of a multi-picture file end
    const auto damaged = [&](i64 at) { return scan ? partial(at) : notAFile(); };
    while (true) {
        ByteSpan m;
        if (!w.get(pos, 2, m) || m[0] != 0xFF) return damaged(pos);
        const std::uint8_t marker = m[1];
        if (marker == 0xFF) {  // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9) {
            if (!scan) return notAFile();
            // A multi-picture file (MPF) keeps its further pictures after the first one's EOI.
            if (pictures > pos + 2) {
                ByteSpan last;
                if (pictures > w.limit) return partial(pos + 2);
                if (w.get(pictures - 2, 2, last) && last[0] == 0xFF && last[1] == 0xD9) return whole(pictures, pictures - 2);
                return partial(pos + 2);  // the further pictures are damaged
            }
            return whole(pos + 2, pos);
        }
        const bool segment = (marker >= 0xC0 && marker <= 0xCF) || (marker >= 0xDA && marker <= 0xDF) ||
                             (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
        if (!segment) return damaged(pos);
        ByteSpan lengthBytes;
        if (!w.get(pos + 2, 2, lengthBytes)) return damaged(pos);
        const i64 length = be16(lengthBytes, 0);
        ByteSpan seg;
        if (length < 2 || !w.get(pos + 4, static_cast<std::size_t>(length - 2), seg)) return damaged(pos);
        if (segments == 0 && marker == 0xDA) return notAFile();
        if (!jpegSegmentIsSound(marker, seg, frame)) return damaged(pos);
        if (marker == 0xE2 && pictures < 0) pictures = multiPictureEnd(w, pos + 8, seg);
        ++segments;
        pos += 2 + length;
        if (marker != 0xDA) continue;
        scan = true;
        // Entropy-coded data: stuffed 0xFF00 and restart markers in sequence belong to it.
        int nextRestart = 0;
        while (true) {
            const i64 ff = w.findByte(pos, w.limit, 0xFF);
            if (ff < 0) return partial(w.limit);
            ByteSpan next;
            if (!w.get(ff + 1, 1, next)) return partial(ff);
            const std::uint8_t x = next[0];
            if (x == 0x00) {
                pos = ff + 2;
            } else if (x >= 0xD0 && x <= 0xD7) {
                if (x - 0xD0 != nextRestart) return partial(ff);
                nextRestart = (nextRestart + 1) & 7;
                pos = ff + 2;
            } else if (x == 0xFF) {
                pos = ff + 1;
            } else {
                pos = ff;
                break;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// PNG: chunks with their CRCs, IHDR first, up to IEND.

FormatVerdict checkPng(const Walk& w) {
    ByteSpan h;
    static constexpr std::uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (!w.get(0, 8, h) || std::memcmp(h.data(), kSig, 8) != 0) return notAFile();
    i64 pos = 8;
    bool first = true;
    while (true) {
        const auto damaged = [&] { return first ? notAFile() : partial(pos); };
        ByteSpan c;
        if (!w.get(pos, 8, c)) return damaged();
        const i64 length = be32(c, 0);
        const ByteSpan type = c.subspan(4, 4);
        const bool letters = std::all_of(type.begin(), type.end(), [](std::uint8_t t) {
            return (t >= 'A' && t <= 'Z') || (t >= 'a' && t <= 'z');
        });
        if (length > 0x7FFFFFFF || !letters) return damaged();
        if (first && (std::memcmp(type.data(), "IHDR", 4) != 0 || length != 13)) return notAFile();
        std::uint32_t crc = 0;
        ByteSpan stored;
        if (!w.crc(pos + 4, 4 + length, crc) || !w.get(pos + 8 + length, 4, stored) || be32(stored, 0) != crc)
            return damaged();
        const bool iend = std::memcmp(w.at(pos + 4, 4).data(), "IEND", 4) == 0;
        first = false;
        pos += 12 + length;
        if (iend) return whole(pos, pos - 8);
    }
}

// ---------------------------------------------------------------------------------------------
// GIF: header, colour tables, extension and image blocks with their sub-blocks, trailer.

FormatVerdict checkGif(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 13, h) || (std::memcmp(h.data(), "GIF87a", 6) != 0 && std::memcmp(h.data(), "GIF89a", 6) != 0))
        return notAFile();
    i64 pos = 13 + ((h[10] & 0x80) ? 3 * (i64{2} << (h[10] & 7)) : 0);
    int images = 0;
    i64 lastBlock = pos;  // a block followed by no valid block may have run into foreign bytes
    const auto skipSubBlocks = [&]() {
        while (true) {
            ByteSpan b;
            if (!w.get(pos, 1, b)) return false;
            ++pos;
            if (b[0] == 0) return true;
            pos += b[0];
        }
    };
    while (true) {
        const auto damaged = [&] { return images > 0 ? partial(std::min(pos, w.limit)) : notAFile(); };
        ByteSpan b;
        if (!w.get(pos, 1, b)) return damaged();
        if (b[0] == 0x3B) return images > 0 ? whole(pos + 1, pos - 1) : notAFile();
        if (b[0] != 0x21 && b[0] != 0x2C) {
            pos = lastBlock;
            return damaged();
        }
        const i64 blockStart = pos;
        lastBlock = pos;
        if (b[0] == 0x21) {
            pos += 2;
            if (!skipSubBlocks()) {
                pos = blockStart;
                return damaged();
            }
        } else if (b[0] == 0x2C) {
            ByteSpan d;
            if (!w.get(pos, 11, d)) return damaged();
            pos += 10 + ((d[9] & 0x80) ? 3 * (i64{2} << (d[9] & 7)) : 0);
            ByteSpan code;
            if (!w.get(pos, 1, code) || code[0] < 1 || code[0] > 12) {
                pos = blockStart;
                return damaged();
            }
            ++pos;
            if (!skipSubBlocks()) {
                pos = blockStart;
                return damaged();
            }
            ++images;
        } else {
            return damaged();
        }
    }
}

// ---------------------------------------------------------------------------------------------
// BMP: the file size field, checked against the header and the pixel array it describes.

FormatVerdict checkBmp(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 30, h) || h[0] != 'B' || h[1] != 'M' || le32(h, 6) != 0) return notAFile();
    const i64 size = le32(h, 2), dataOffset = le32(h, 10), dib = le32(h, 14);
    if (dib != 12 && dib != 40 && dib != 52 && dib != 56 && dib != 64 && dib != 108 && dib != 124) return notAFile();
    i64 width = 0, height = 0;
    std::uint32_t planes = 0, bpp = 0, compression = 0;
    if (dib == 12) {
        width = le16(h, 18), height = le16(h, 20), planes = le16(h, 22), bpp = le16(h, 24);
    } else {
        if (!w.get(0, 34, h)) return notAFile();
        width = static_cast<std::int32_t>(le32(h, 18));
        height = static_cast<std::int32_t>(le32(h, 22));
        planes = le16(h, 26), bpp = le16(h, 28), compression = le32(h, 30);
    }
    if (height < 0) height = -height;
    if (planes != 1 || width <= 0 || height == 0 || compression > 6) return notAFile();
    if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32 && bpp != 64) return notAFile();
    if (dataOffset < 14 + dib || size < dataOffset) return notAFile();
    if (compression == 0 || compression == 3) {
        const i64 row = (width * bpp + 31) / 32 * 4;
        if (row * height > size - dataOffset) return notAFile();
    }
    if (size > w.limit) return partial(w.limit);
    return whole(size);
}

// ---------------------------------------------------------------------------------------------
// RIFF (WAV, AVI, WebP): the size in the header, checked by walking the chunks it holds; an
// AVI's extension RIFF lists (AVIX) that follow it belong to the file.

FormatVerdict checkRiff(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 20, h) || std::memcmp(h.data(), "RIFF", 4) != 0 || !printable(h.subspan(8, 4))) return notAFile();
    const std::string_view form(reinterpret_cast<const char*>(h.data() + 8), 4);
    const i64 declared = le32(h, 4);
    if (declared < 12) return notAFile();
    const std::string_view firstChunk(reinterpret_cast<const char*>(h.data() + 12), 4);
    if (form == "WEBP" && firstChunk != "VP8 " && firstChunk != "VP8L" && firstChunk != "VP8X") return notAFile();
    if (form == "AVI " && firstChunk != "LIST") return notAFile();
    i64 end = 8 + declared + (declared & 1);
    i64 pos = 12;
    int chunks = 0;
    bool format = false;
    while (pos < end) {
        ByteSpan c;
        if (pos + 8 > w.limit) return partial(std::min(pos, w.limit));
        if (!w.get(pos, 8, c) || !printable(c.subspan(0, 4))) return chunks > 0 ? partial(pos) : notAFile();
        if (std::memcmp(c.data(), "fmt ", 4) == 0) format = true;
        if (form == "WAVE" && std::memcmp(c.data(), "data", 4) == 0 && !format) return notAFile();
        const i64 length = le32(c, 4);
        ++chunks;
        pos += 8 + length + (length & 1);
        if (pos > w.limit) return partial(w.limit);
    }
    if (form == "WAVE" && !format) return notAFile();
    // A file whose last chunk has no pad byte ends at the declared size.
    if (pos > end + 1) return partial(end);
    end = std::min(pos, end);
    if (form == "AVI ") {
        for (int extra = 0; extra < 4096; ++extra) {
            ByteSpan x;
            if (!w.get(end, 12, x) || std::memcmp(x.data(), "RIFF", 4) != 0 || std::memcmp(x.data() + 8, "AVIX", 4) != 0) break;
            const i64 length = le32(x, 4);
            if (end + 8 + length > w.limit) return partial(w.limit);
            end += 8 + length + (length & 1);
        }
    }
    return whole(std::min(end, w.limit));
}

// ---------------------------------------------------------------------------------------------
// TIFF: the chain of IFDs with their sub-IFDs, and every value, strip and tile they point to;
// the file ends after the last byte any of them uses.

struct TiffReader {
    const Walk& w;
    bool little;
    std::uint32_t u16(ByteSpan b, std::size_t at) const { return little ? le16(b, at) : be16(b, at); }
    std::uint32_t u32(ByteSpan b, std::size_t at) const { return little ? le32(b, at) : be32(b, at); }
};

i64 tiffTypeSize(std::uint32_t type) {
    static constexpr std::array<i64, 19> kSizes = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
    return type < kSizes.size() ? kSizes[type] : 0;
}

FormatVerdict checkTiff(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 8, h)) return notAFile();
    const bool little = h[0] == 'I' && h[1] == 'I' && h[2] == 42 && h[3] == 0;
    const bool big = h[0] == 'M' && h[1] == 'M' && h[2] == 0 && h[3] == 42;
    if (!little && !big) return notAFile();
    const TiffReader r{w, little};
    std::vector<i64> pending{static_cast<i64>(r.u32(h, 4))};
    std::vector<i64> seen;
    i64 end = 8;
    bool image = false, damaged = false;
    i64 budget = kMaxTiffValues;
    // Reads count values of a SHORT or LONG array at offset (or inline).
    const auto values = [&](std::uint32_t type, i64 count, i64 valueAt, std::vector<i64>& out) {
        const i64 size = tiffTypeSize(type);
        if ((type != 3 && type != 4 && type != 13) || count <= 0 || count > budget) return false;
        budget -= count;
        const i64 at = size * count > 4 ? static_cast<i64>(r.u32(w.at(valueAt, 4), 0)) : valueAt;
        ByteSpan v;
        for (i64 k = 0; k < count; ++k) {
            if (!w.get(at + k * size, static_cast<std::size_t>(size), v)) return false;
            out.push_back(size == 2 ? r.u16(v, 0) : r.u32(v, 0));
        }
        return true;
    };
    while (!pending.empty() && seen.size() < 256) {
        const i64 ifd = pending.back();
        pending.pop_back();
        if (ifd < 8 || std::find(seen.begin(), seen.end(), ifd) != seen.end()) {
            if (ifd != 0 && ifd < 8) damaged = true;
            continue;
        }
        seen.push_back(ifd);
        ByteSpan n;
        if (!w.get(ifd, 2, n)) {
            damaged = true;
            continue;
        }
        const i64 count = r.u16(n, 0);
        ByteSpan entries;
        if (count == 0 || count > 4096 || !w.get(ifd + 2, static_cast<std::size_t>(12 * count + 4), entries)) {
            damaged = true;
            continue;
        }
        end = std::max(end, ifd + 2 + 12 * count + 4);
        std::vector<i64> offsets, counts, tileOffsets, tileCounts;
        i64 jpegAt = -1, jpegLength = -1;
        bool width = false;
        for (i64 e = 0; e < count; ++e) {
            const auto at = static_cast<std::size_t>(12 * e);
            const std::uint32_t tag = r.u16(entries, at), type = r.u16(entries, at + 2);
            const i64 number = r.u32(entries, at + 4);
            const i64 size = tiffTypeSize(type);
            if (size == 0) {
                damaged = true;
                continue;
            }
            const i64 valueAt = ifd + 2 + 12 * e + 8;
            if (size * number > 4) {
                const i64 out = r.u32(entries, at + 8);
                if (out + size * number > w.limit) {
                    damaged = true;
                    continue;
                }
                end = std::max(end, out + size * number);
            }
            std::vector<i64> v;
            switch (tag) {
            case 256: width = true; break;
            case 273: damaged |= !values(type, number, valueAt, offsets); break;
            case 279: damaged |= !values(type, number, valueAt, counts); break;
            case 324: damaged |= !values(type, number, valueAt, tileOffsets); break;
            case 325: damaged |= !values(type, number, valueAt, tileCounts); break;
            case 513: if (values(type, 1, valueAt, v)) jpegAt = v[0]; break;
            case 514: if (values(type, 1, valueAt, v)) jpegLength = v[0]; break;
            case 330: case 34665: case 34853: case 40965:
                if (values(type == 13 ? 4 : type, number, valueAt, v))
                    for (std::size_t k = 0; k < v.size() && pending.size() < 256; ++k) pending.push_back(v[k]);
                break;
            default: break;
            }
        }
        const auto extents = [&](const std::vector<i64>& at, const std::vector<i64>& length) {
            if (at.size() != length.size()) {
                damaged = damaged || !at.empty() || !length.empty();
                return;
            }
            for (std::size_t k = 0; k < at.size(); ++k) {
                if (at[k] + length[k] > w.limit) {
                    damaged = true;
                    continue;
                }
                end = std::max(end, at[k] + length[k]);
                image = image || (width && length[k] > 0);
            }
        };
        extents(offsets, counts);
        extents(tileOffsets, tileCounts);
        if (jpegAt > 0 && jpegLength > 0 && jpegAt + jpegLength <= w.limit) end = std::max(end, jpegAt + jpegLength);
        const i64 next = r.u32(entries, static_cast<std::size_t>(12 * count));
        if (next != 0) pending.push_back(next);
    }
    if (!image) return notAFile();
    end = std::min(end, w.limit);
    return damaged ? partial(end) : whole(end);
}

// ---------------------------------------------------------------------------------------------
// PDF: the last "%%EOF" of the file: one followed by another body section (an incremental
// update or a linearized file's main part) is not the end.

FormatVerdict checkPdf(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 8, h) || std::memcmp(h.data(), "%PDF-", 5) != 0 || !isDigit(h[5]) || h[6] != '.' || !isDigit(h[7]))
        return notAFile();
    i64 pos = 8;
    i64 lastEnd = -1;
    // Another PDF that begins on a sector of its own inside the range searched: this one (cut or
    // overwritten) cannot run into it.
    const auto otherFile = [&](i64 from, i64 to) {
        for (i64 at = w.find(from, to, "%PDF-"); at >= 0; at = w.find(at + 1, to, "%PDF-"))
            if ((w.start + at) % 512 == 0) return at;
        return i64{-1};
    };
    i64 bound = w.limit;
    while (true) {
        const i64 eof = w.find(pos, w.limit, "%%EOF");
        const i64 other = otherFile(pos, eof < 0 ? w.limit : eof);
        if (other >= 0) {
            bound = other;
            break;
        }
        if (eof < 0) break;
        // A real end follows a startxref.
        const i64 back = std::max<i64>(0, eof - 64);
        const ByteSpan before = w.at(back, static_cast<std::size_t>(eof - back));
        const std::string_view text(reinterpret_cast<const char*>(before.data()), before.size());
        pos = eof + 5;
        if (text.find("startxref") == std::string_view::npos) continue;
        i64 end = eof + 5;
        // The line end after the marker: CR LF, or a single CR or LF where the line before it
        // ends so (a byte that merely follows the file is not taken for its line end).
        const ByteSpan eol = w.at(end, 2);
        const bool crlf = text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n';
        const bool cr = !text.empty() && text.back() == '\r';
        if (eol.size() == 2 && eol[0] == '\r' && eol[1] == '\n') {
            end += 2;
        } else if (!crlf && !eol.empty() && eol[0] == (cr ? '\r' : '\n')) {
            ++end;
        }
        lastEnd = end;
        // What follows: another section of the same file, or something else.
        const ByteSpan next = w.at(end, 64);
        std::size_t k = 0;
        while (k < next.size() && (next[k] == ' ' || next[k] == '\r' || next[k] == '\n' || next[k] == '\t')) ++k;
        const std::string_view rest(reinterpret_cast<const char*>(next.data()) + k, next.size() - k);
        bool more = rest.starts_with("xref") || rest.starts_with("trailer") || rest.starts_with("%%EOF");
        // A comment (some writers start an update with a new header) in the same sector; a file
        // that follows on the medium begins on a sector of its own.
        more = more || (rest.starts_with("%") && (w.start + end + static_cast<i64>(k)) % 512 != 0);
        if (!more && !rest.empty() && isDigit(static_cast<std::uint8_t>(rest[0]))) {
            std::size_t q = 0;
            while (q < rest.size() && isDigit(static_cast<std::uint8_t>(rest[q]))) ++q;
            if (q < rest.size() && rest[q] == ' ') {
                ++q;
                while (q < rest.size() && isDigit(static_cast<std::uint8_t>(rest[q]))) ++q;
                more = rest.substr(q).starts_with(" obj");
            }
        }
        if (!more) return whole(end, eof);
        pos = end;
    }
    if (lastEnd > 0) return partial(lastEnd);
    // No end at all: the body up to its last complete object.
    i64 lastObject = -1;
    for (i64 at = w.find(8, bound, "endobj"); at >= 0; at = w.find(at + 6, bound, "endobj")) lastObject = at + 6;
    return lastObject > 0 ? partial(lastObject) : notAFile();
}

// ---------------------------------------------------------------------------------------------
// ZIP and the formats built on it: local entries, the central directory and the end record
// with its comment; the Zip64 end records where the archive has them.

FormatVerdict checkZip(const Walk& w) {
    i64 pos = 0;
    int entries = 0;
    i64 sound = 0;
    ByteSpan h;
    while (true) {
        if (!w.get(pos, 30, h)) return entries > 0 ? partial(sound) : notAFile();
        const std::uint32_t sig = le32(h, 0);
        if (sig == 0x02014B50) break;
        if (sig != 0x04034B50 || le16(h, 4) > 100 || (le16(h, 8) > 20 && le16(h, 8) < 93 && le16(h, 8) != 98))
            return entries > 0 ? partial(sound) : notAFile();
        const std::uint32_t flags = le16(h, 6);
        i64 packed = le32(h, 18);
        const i64 nameLength = le16(h, 26), extraLength = le16(h, 28);
        const i64 data = pos + 30 + nameLength + extraLength;
        bool zip64 = false;
        if (packed == 0xFFFFFFFF) {
            ByteSpan extra;
            if (!w.get(pos + 30 + nameLength, static_cast<std::size_t>(extraLength), extra))
                return entries > 0 ? partial(sound) : notAFile();
            for (std::size_t e = 0; e + 4 <= extra.size();) {
                const std::size_t len = le16(extra, e + 2);
                if (le16(extra, e) == 1 && len >= 16) {
                    packed = static_cast<i64>(le64(extra, e + 12) & 0x3FFFFFFFFFFFFFFF);
                    zip64 = true;
                }
                e += 4 + len;
            }
        }
        i64 next = data + packed;
        if (flags & 8) {
            const i64 descriptor = zip64 ? 24 : 16;
            ByteSpan d;
            if (packed == 0) {
                // The size is only in the descriptor: find it by its signature and size.
                i64 at = data;
                next = -1;
                while ((at = w.find(at, w.limit, "PK\x07\x08")) >= 0) {
                    if (w.get(at, 16, d) && static_cast<i64>(le32(d, 8)) == at - data) {
                        next = at + 16;
                        break;
                    }
                    if (w.get(at, 24, d) && static_cast<i64>(le64(d, 8)) == at - data) {
                        next = at + 24;
                        break;
                    }
                    ++at;
                }
                if (next < 0) return entries > 0 ? partial(sound) : notAFile();
            } else if (w.get(next, 4, d) && le32(d, 0) == 0x08074B50) {
                next += descriptor;
            } else {
                next += descriptor - 4;
            }
        }
        if (next > w.limit) return entries > 0 ? partial(sound) : notAFile();
        ++entries;
        pos = sound = next;
    }
    // The central directory, then the end records.
    const i64 directory = pos;
    i64 records = 0;
    while (w.get(pos, 46, h) && le32(h, 0) == 0x02014B50) {
        pos += 46 + le16(h, 28) + le16(h, 30) + le16(h, 32);
        ++records;
    }
    if (w.get(pos, 4, h) && le32(h, 0) == 0x06064B50 && w.get(pos, 12, h)) pos += 12 + static_cast<i64>(le64(h, 4) & 0xFFFFFFFF);
    if (w.get(pos, 4, h) && le32(h, 0) == 0x07064B50) pos += 20;
    if (!w.get(pos, 22, h) || le32(h, 0) != 0x06054B50) return partial(sound);
    const std::uint32_t total = le16(h, 10), size = le32(h, 12);
    if ((total != 0xFFFF && total != (records & 0xFFFF)) || (size != 0xFFFFFFFF && size > pos - directory))
        return partial(sound);
    const i64 end = pos + 22 + le16(h, 20);
    if (end > w.limit) return partial(pos);
    return whole(end, pos);
}

// ---------------------------------------------------------------------------------------------
// SQLite: page size times the page count the header keeps (valid while the change counter and
// its copy agree).

FormatVerdict checkSqlite(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 100, h) || std::memcmp(h.data(), "SQLite format 3", 16) != 0) return notAFile();
    i64 page = be16(h, 16);
    if (page == 1) page = 65536;
    if (page < 512 || (page & (page - 1)) != 0) return notAFile();
    if (h[18] < 1 || h[18] > 2 || h[19] < 1 || h[19] > 2 || h[21] != 64 || h[22] != 32 || h[23] != 32) return notAFile();
    const i64 pages = be32(h, 28);
    if (pages == 0 || be32(h, 24) != be32(h, 92)) return partial(std::min(page, w.limit));
    const i64 size = page * pages;
    if (size > w.limit) return partial(w.limit / page * page);
    // Pages on the free list may hold anything; every other page begins as a b-tree page, an
    // overflow page (the next one's number), or a pointer-map page does.
    std::vector<bool> free(static_cast<std::size_t>(pages) + 1, false);
    std::uint32_t trunk = be32(h, 32);
    for (int guard = 0; trunk != 0 && trunk <= pages && guard < 1 << 16; ++guard) {
        ByteSpan t;
        if (!w.get((trunk - 1) * page, 8, t)) break;
        free[trunk] = true;
        const std::uint32_t leaves = be32(t, 4);
        const ByteSpan list = w.at((trunk - 1) * page + 8, std::min<std::size_t>(4u * leaves, static_cast<std::size_t>(page - 8)));
        for (std::size_t k = 0; k + 4 <= list.size(); k += 4)
            if (be32(list, k) <= pages) free[be32(list, k)] = true;
        trunk = be32(t, 0);
    }
    const bool pointerMaps = be32(h, 52) != 0;
    for (i64 n = 2; n <= pages; ++n) {
        if (free[static_cast<std::size_t>(n)]) continue;
        ByteSpan p;
        if (!w.get((n - 1) * page, 4, p)) return partial((n - 1) * page);
        const std::uint8_t type = p[0];
        const bool sound = type == 2 || type == 5 || type == 10 || type == 13 || (type == 0 && be32(p, 0) <= pages) ||
                           (pointerMaps && type >= 1 && type <= 5);
        if (!sound) return partial((n - 1) * page);
    }
    return whole(size);
}

// ---------------------------------------------------------------------------------------------
// MP3: the ID3v2 tag, then MPEG audio frames of one stream, then an ID3v1 tag; a LAME/Xing
// header's byte count tells a cut stream from a whole one.

i64 mpegFrameLength(ByteSpan f, std::uint32_t& kind) {
    if (f.size() < 4 || f[0] != 0xFF || (f[1] & 0xE0) != 0xE0) return 0;
    const std::uint32_t version = (f[1] >> 3) & 3, layer = (f[1] >> 1) & 3;
    const std::uint32_t bitrateIndex = f[2] >> 4, rateIndex = (f[2] >> 2) & 3, pad = (f[2] >> 1) & 1;
    if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
    static constexpr int kBitrates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static constexpr int kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int layerIndex = 3 - static_cast<int>(layer);  // 0: layer I, 1: II, 2: III
    const i64 bitrate = i64{kBitrates[mpeg1 ? 0 : 1][layerIndex][bitrateIndex]} * 1000;
    const i64 rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    kind = (f[1] & 0x1E) << 8 | (rateIndex << 2);
    if (layerIndex == 0) return (12 * bitrate / rate + pad) * 4;
    if (layerIndex == 2 && !mpeg1) return 72 * bitrate / rate + pad;
    return 144 * bitrate / rate + pad;
}

FormatVerdict checkMp3(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 10, h)) return notAFile();
    i64 pos = 0;
    const bool tagged = std::memcmp(h.data(), "ID3", 3) == 0;
    if (tagged) {
        if (h[3] < 2 || h[3] > 4 || h[4] == 0xFF || ((h[6] | h[7] | h[8] | h[9]) & 0x80)) return notAFile();
        pos = 10 + ((i64{h[6]} << 21) | (i64{h[7]} << 14) | (i64{h[8]} << 7) | h[9]) + ((h[5] & 0x10) ? 10 : 0);
        // Some writers leave zeros between the tag and the first frame.
        for (int k = 0; k < 4096; ++k) {
            ByteSpan z;
            if (!w.get(pos, 1, z) || z[0] != 0) break;
            ++pos;
        }
    }
    const i64 first = pos;
    std::uint32_t streamKind = 0;
    i64 frames = 0, expectedBytes = -1;
    while (true) {
        ByteSpan f;
        std::uint32_t kind = 0;
        const i64 length = w.get(pos, 4, f) ? mpegFrameLength(f, kind) : 0;
        if (length == 0 || (frames > 0 && kind != streamKind)) break;
        if (frames == 0) {
            streamKind = kind;
            const ByteSpan head = w.at(pos, 64);
            const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
            for (const char* tag : {"Xing", "Info"}) {
                const std::size_t at = text.find(tag);
                if (at != std::string_view::npos && at + 16 <= head.size() && (be32(head, at + 4) & 2))
                    expectedBytes = static_cast<i64>(be32(head, at + 4) & 1 ? be32(head, at + 12) : be32(head, at + 8));
            }
        }
        if (pos + length > w.limit) return frames > 0 ? partial(pos) : notAFile();
        pos += length;
        ++frames;
    }
    // A stream without a tag starts at a bare frame header: it takes a run of frames to tell it
    // from chance.
    if (frames < (tagged ? 2 : 8)) return notAFile();
    if (expectedBytes > 0 && pos - first < expectedBytes) return partial(pos);
    ByteSpan tag;
    if (w.get(pos, 3, tag) && std::memcmp(tag.data(), "TAG", 3) == 0 && pos + 128 <= w.limit) pos += 128;
    return whole(pos);
}

// ---------------------------------------------------------------------------------------------
// ISO base media (MP4, MOV, 3GP, M4A, HEIC): the chain of top-level boxes, ftyp first; the
// movie box (or the meta box of an image) must be among them.

bool topLevelBox(std::string_view type) {
    static constexpr std::string_view kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta",
                                                  "pdin", "moof", "mfra", "styp", "sidx", "ssix", "prft", "udta",
                                                  "pnot", "junk", "emsg", "jumb", "PICT", "idat"};
    return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

FormatVerdict checkIsoMedia(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 16, h) || std::memcmp(h.data() + 4, "ftyp", 4) != 0 || be32(h, 0) < 16 || be32(h, 0) > 4096 ||
        !printable(h.subspan(8, 4)))
        return notAFile();
    i64 pos = 0;
    bool movie = false, data = false;
    while (pos < w.limit) {
        ByteSpan b;
        if (!w.get(pos, 16, b) && !w.get(pos, 8, b)) break;
        const std::string_view type(reinterpret_cast<const char*>(b.data() + 4), 4);
        if (!topLevelBox(type)) break;
        i64 size = be32(b, 0);
        if (size == 1) {
            if (b.size() < 16) break;
            size = static_cast<i64>(be64(b, 8) & 0x7FFFFFFFFFFFFFFF);
            if (size < 16) break;
        } else if (size == 0) {
            // The box runs to the end of the file, which nothing else tells.
            return partial(w.limit);
        } else if (size < 8) {
            break;
        }
        movie = movie || type == "moov" || type == "meta" || type == "moof";
        data = data || type == "mdat" || type == "meta";
        if (pos + size > w.limit) return partial(w.limit);
        pos += size;
    }
    if (pos <= 16) return notAFile();
    return movie && data ? whole(pos) : partial(pos);
}

// ---------------------------------------------------------------------------------------------
// 7z: the start header's CRC, then the next header it points to with its own CRC.

FormatVerdict checkSevenZip(const Walk& w) {
    ByteSpan h;
    static constexpr std::uint8_t kSig[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
    if (!w.get(0, 32, h) || std::memcmp(h.data(), kSig, 6) != 0 || h[6] != 0) return notAFile();
    if (static_cast<std::uint32_t>(crc32(0L, h.data() + 12, 20)) != le32(h, 8)) return notAFile();
    const std::uint64_t offset = le64(h, 12), size = le64(h, 20);
    if (offset > (std::uint64_t{1} << 40) || size > (std::uint64_t{1} << 32)) return notAFile();
    const i64 end = 32 + static_cast<i64>(offset + size);
    if (end > w.limit) return partial(std::min<i64>(32 + static_cast<i64>(offset), w.limit));
    std::uint32_t crc = 0;
    if (!w.crc(32 + static_cast<i64>(offset), static_cast<i64>(size), crc) || crc != le32(h, 28))
        return partial(32 + static_cast<i64>(offset));
    return whole(end);
}

// ---------------------------------------------------------------------------------------------
// gzip: each member's header, its deflate stream decoded to its end, and the CRC and length
// of the trailer; members that follow one another make one file.

FormatVerdict checkGzip(const Walk& w) {
    i64 pos = 0;
    int members = 0;
    std::vector<std::uint8_t> out(64 * 1024);
    while (true) {
        ByteSpan h;
        if (!w.get(pos, 10, h) || h[0] != 0x1F || h[1] != 0x8B || h[2] != 8 || (h[3] & 0xE0) != 0) break;
        if (members == 0 && (h[8] & ~6) != 0) return notAFile();
        const std::uint8_t flags = h[3];
        i64 at = pos + 10;
        if (flags & 4) {
            ByteSpan x;
            if (!w.get(at, 2, x)) break;
            at += 2 + le16(x, 0);
        }
        for (const std::uint8_t text : {std::uint8_t{8}, std::uint8_t{16}}) {
            if (!(flags & text)) continue;
            const i64 zero = w.findByte(at, at + 65536, 0);
            if (zero < 0) return members > 0 ? partial(pos) : notAFile();
            at = zero + 1;
        }
        if (flags & 2) at += 2;
        z_stream z{};
        if (inflateInit2(&z, -15) != Z_OK) return notAFile();
        uLong crc = crc32(0L, Z_NULL, 0);
        int rc = Z_OK;
        i64 in = at;
        while (rc == Z_OK) {
            const ByteSpan piece = w.some(in, kPiece);
            if (piece.empty()) break;
            z.next_in = const_cast<Bytef*>(piece.data());
            z.avail_in = static_cast<uInt>(piece.size());
            while (z.avail_in > 0 && rc == Z_OK) {
                z.next_out = out.data();
                z.avail_out = static_cast<uInt>(out.size());
                rc = inflate(&z, Z_NO_FLUSH);
                crc = crc32(crc, out.data(), static_cast<uInt>(out.size() - z.avail_out));
                if (rc == Z_BUF_ERROR) rc = Z_OK;
                if (z.total_out > kMaxDecoded) rc = Z_DATA_ERROR;
            }
            in += static_cast<i64>(piece.size()) - z.avail_in;
        }
        const auto produced = static_cast<std::uint32_t>(z.total_out);
        inflateEnd(&z);
        ByteSpan t;
        if (rc != Z_STREAM_END || !w.get(in, 8, t) || le32(t, 0) != static_cast<std::uint32_t>(crc) || le32(t, 4) != produced)
            return members > 0 || in - at > 1024 ? partial(members > 0 ? pos : in) : notAFile();
        pos = in + 8;
        ++members;
    }
    return members > 0 ? whole(pos) : notAFile();
}

// ---------------------------------------------------------------------------------------------
// bzip2 and xz: the stream decoded to its end by the format's own library (xz with its
// padding); the decoder's checks tell a damaged stream.

template <typename Step>
FormatVerdict decodeToEnd(const Walk& w, Step step) {
    i64 in = 0;
    while (true) {
        const ByteSpan piece = w.some(in, kPiece);
        if (piece.empty()) return in > 0 ? partial(in) : notAFile();
        std::size_t used = 0;
        const int rc = step(piece, used);
        in += static_cast<i64>(used);
        if (rc > 0) return whole(in);
        if (rc < 0) return in > 4096 ? partial(in) : notAFile();
    }
}

}  // namespace
}  // namespace corvello

#include <bzlib.h>
#include <lzma.h>

namespace corvello {
namespace {

FormatVerdict checkBzip2(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 10, h) || h[0] != 'B' || h[1] != 'Z' || h[2] != 'h' || h[3] < '1' || h[3] > '9') return notAFile();
    bz_stream z{};
    if (BZ2_bzDecompressInit(&z, 0, 0) != BZ_OK) return notAFile();
    std::vector<char> out(256 * 1024);
    const FormatVerdict v = decodeToEnd(w, [&](ByteSpan piece, std::size_t& used) {
        z.next_in = const_cast<char*>(reinterpret_cast<const char*>(piece.data()));
        z.avail_in = static_cast<unsigned>(piece.size());
        int rc = BZ_OK;
        while (z.avail_in > 0 && rc == BZ_OK) {
            z.next_out = out.data();
            z.avail_out = static_cast<unsigned>(out.size());
            rc = BZ2_bzDecompress(&z);
            if (((std::uint64_t{z.total_out_hi32} << 32) | z.total_out_lo32) > kMaxDecoded) rc = BZ_DATA_ERROR;
        }
        used = piece.size() - z.avail_in;
        return rc == BZ_STREAM_END ? 1 : rc == BZ_OK ? 0 : -1;
    });
    BZ2_bzDecompressEnd(&z);
    return v;
}

FormatVerdict checkXz(const Walk& w) {
    ByteSpan h;
    static constexpr std::uint8_t kSig[6] = {0xFD, '7', 'z', 'X', 'Z', 0};
    if (!w.get(0, 12, h) || std::memcmp(h.data(), kSig, 6) != 0 || h[6] != 0 ||
        static_cast<std::uint32_t>(crc32(0L, h.data() + 6, 2)) != le32(h, 8))
        return notAFile();
    lzma_stream z = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&z, std::uint64_t{256} << 20, 0) != LZMA_OK) return notAFile();
    std::vector<std::uint8_t> out(256 * 1024);
    const FormatVerdict v = decodeToEnd(w, [&](ByteSpan piece, std::size_t& used) {
        z.next_in = piece.data();
        z.avail_in = piece.size();
        lzma_ret rc = LZMA_OK;
        while (z.avail_in > 0 && rc == LZMA_OK) {
            z.next_out = out.data();
            z.avail_out = out.size();
            rc = lzma_code(&z, LZMA_RUN);
            if (z.total_out > kMaxDecoded) rc = LZMA_DATA_ERROR;
        }
        used = piece.size() - z.avail_in;
        return rc == LZMA_STREAM_END ? 1 : rc == LZMA_OK ? 0 : -1;
    });
    lzma_end(&z);
    return v;
}

// ---------------------------------------------------------------------------------------------
// Ogg: pages with their CRCs up to the page that ends the last stream.

std::uint32_t oggCrc(std::uint32_t crc, ByteSpan b) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    for (const std::uint8_t c : b) crc = (crc << 8) ^ table[((crc >> 24) ^ c) & 0xFF];
    return crc;
}

FormatVerdict checkOgg(const Walk& w) {
    i64 pos = 0;
    int pages = 0, open = 0;
    while (true) {
        ByteSpan h;
        if (!w.get(pos, 27, h) || std::memcmp(h.data(), "OggS", 4) != 0 || h[4] != 0) break;
        const std::size_t segments = h[26];
        ByteSpan page;
        if (!w.get(pos, 27 + segments, page)) break;
        i64 body = 0;
        for (std::size_t k = 0; k < segments; ++k) body += page[27 + k];
        const i64 length = 27 + static_cast<i64>(segments) + body;
        if (!w.get(pos, static_cast<std::size_t>(length), page)) break;
        std::array<std::uint8_t, 27> head{};
        std::copy(page.begin(), page.begin() + 27, head.begin());
        head[22] = head[23] = head[24] = head[25] = 0;
        std::uint32_t crc = oggCrc(0, head);
        crc = oggCrc(crc, page.subspan(27));
        if (crc != le32(page, 22)) break;
        if (h[5] & 2) ++open;
        if (h[5] & 4) --open;
        ++pages;
        pos += length;
        if (open <= 0 && pages > 1) return whole(pos);
    }
    return pages > 0 ? partial(pos) : notAFile();
}

// ---------------------------------------------------------------------------------------------
// MIDI: the header chunk and as many track chunks as it announces.

FormatVerdict checkMidi(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 14, h) || std::memcmp(h.data(), "MThd", 4) != 0 || be32(h, 4) != 6 || be16(h, 8) > 2) return notAFile();
    const std::uint32_t tracks = be16(h, 10);
    if (tracks == 0) return notAFile();
    i64 pos = 14;
    for (std::uint32_t t = 0; t < tracks; ++t) {
        ByteSpan c;
        if (!w.get(pos, 8, c) || !printable(c.subspan(0, 4))) return t > 0 ? partial(pos) : notAFile();
        const i64 next = pos + 8 + be32(c, 4);
        // A track ends with its end-of-track event.
        ByteSpan last;
        if (next > w.limit || be32(c, 4) < 3 || !w.get(next - 3, 3, last) || last[0] != 0xFF || last[1] != 0x2F || last[2] != 0)
            return t > 0 ? partial(pos) : notAFile();
        pos = next;
    }
    return whole(pos);
}

// ---------------------------------------------------------------------------------------------
// RAR 4 and 5: the chain of block headers with their CRCs up to the end-of-archive block.

bool readVint(ByteSpan b, std::size_t& at, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && at < b.size(); shift += 7) {
        const std::uint8_t c = b[at++];
        value |= std::uint64_t{c & 0x7Fu} << shift;
        if (!(c & 0x80)) return true;
    }
    return false;
}

FormatVerdict checkRar(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 8, h) || std::memcmp(h.data(), "Rar!\x1A\x07", 6) != 0) return notAFile();
    const bool five = h[6] == 1 && h[7] == 0;
    if (!five && h[6] != 0) return notAFile();
    i64 pos = five ? 8 : 7;
    int blocks = 0;
    while (true) {
        const auto damaged = [&] { return blocks > 0 ? partial(pos) : notAFile(); };
        ByteSpan b;
        if (five) {
            if (!w.get(pos, 16, b) && !w.get(pos, 7, b)) return damaged();
            std::size_t at = 4;
            std::uint64_t headerSize = 0, type = 0, flags = 0, extra = 0, data = 0;
            if (!readVint(b, at, headerSize) || headerSize == 0 || headerSize > (2u << 20)) return damaged();
            const i64 headerEnd = static_cast<i64>(at + headerSize);
            ByteSpan header;
            if (!w.get(pos, static_cast<std::size_t>(headerEnd), header)) return damaged();
            if (static_cast<std::uint32_t>(crc32(0L, header.data() + 4, static_cast<uInt>(headerEnd - 4))) != le32(header, 0))
                return damaged();
            if (!readVint(header, at, type) || !readVint(header, at, flags)) return damaged();
            if ((flags & 1) && !readVint(header, at, extra)) return damaged();
            if ((flags & 2) && !readVint(header, at, data)) return damaged();
            if (type < 1 || type > 5 || data > (std::uint64_t{1} << 40)) return damaged();
            const i64 next = pos + headerEnd + static_cast<i64>(data);
            if (next > w.limit) return damaged();
            ++blocks;
            if (type == 5) return whole(next, pos);
            pos = next;
        } else {
            if (!w.get(pos, 7, b)) return damaged();
            const std::uint32_t type = b[2], flags = le16(b, 3), size = le16(b, 5);
            if (type < 0x72 || type > 0x7B || size < 7) return damaged();
            ByteSpan header;
            if (!w.get(pos, size, header)) return damaged();
            if (type != 0x72 && (crc32(0L, header.data() + 2, size - 2u) & 0xFFFF) != le16(header, 0)) return damaged();
            i64 next = pos + size;
            if ((flags & 0x8000) || type == 0x74 || type == 0x7A) {
                if (size < 11) return damaged();
                i64 add = le32(header, 7);
                if (type == 0x74 && (flags & 0x100) && size >= 36) add |= i64{le32(header, 32)} << 32;
                next += add;
            }
            if (next > w.limit) return damaged();
            ++blocks;
            if (type == 0x7B) return whole(next, pos);
            pos = next;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Matroska / WebM: the EBML header element and the segment that follows it, by their sizes.

bool ebmlNumber(ByteSpan b, std::size_t& at, std::uint64_t& value, bool keepMarker, bool& unknown) {
    if (at >= b.size() || b[at] == 0) return false;
    int length = 1;
    while (!(b[at] & (0x80 >> (length - 1)))) ++length;
    if (at + static_cast<std::size_t>(length) > b.size()) return false;
    value = keepMarker ? b[at] : b[at] & (0xFFu >> length);
    bool allOnes = value == (0xFFu >> length);
    for (int k = 1; k < length; ++k) {
        value = (value << 8) | b[at + static_cast<std::size_t>(k)];
        allOnes = allOnes && b[at + static_cast<std::size_t>(k)] == 0xFF;
    }
    unknown = !keepMarker && allOnes;
    at += static_cast<std::size_t>(length);
    return true;
}

FormatVerdict checkMatroska(const Walk& w) {
    i64 pos = 0;
    // The EBML header, then the segment; inside it, its top-level elements by their IDs.
    ByteSpan b;
    std::size_t at = 0;
    std::uint64_t id = 0, size = 0;
    bool unknown = false;
    if (!w.get(0, 12, b) || !ebmlNumber(b, at, id, true, unknown) || !ebmlNumber(b, at, size, false, unknown) ||
        id != 0x1A45DFA3 || unknown || size > 4096)
        return notAFile();
    pos = static_cast<i64>(at + size);
    at = 0;
    if (!w.get(pos, 12, b) || !ebmlNumber(b, at, id, true, unknown) || !ebmlNumber(b, at, size, false, unknown) ||
        id != 0x18538067)
        return notAFile();
    const i64 segmentEnd = unknown ? w.limit : pos + static_cast<i64>(at) + static_cast<i64>(size);
    pos += static_cast<i64>(at);
    static constexpr std::uint64_t kTopLevel[] = {0x114D9B74, 0x1549A966, 0x1654AE6B, 0x1F43B675, 0x1C53BB6B,
                                                  0x1941A469, 0x1043A770, 0x1254C367, 0xEC, 0xBF};
    int elements = 0;
    while (pos < segmentEnd) {
        at = 0;
        bool open = false;
        if (!w.get(pos, 12, b) || !ebmlNumber(b, at, id, true, unknown) || !ebmlNumber(b, at, size, false, open) ||
            std::find(std::begin(kTopLevel), std::end(kTopLevel), id) == std::end(kTopLevel) || open)
            break;
        const i64 next = pos + static_cast<i64>(at) + static_cast<i64>(size);
        if (next > w.limit || elements >= (1 << 20)) return partial(pos);
        pos = next;
        ++elements;
    }
    if (elements == 0) return notAFile();
    if (unknown || pos != segmentEnd) return partial(pos);
    return whole(pos);
}

// ---------------------------------------------------------------------------------------------
// ASF (WMV, WMA): the top-level objects by their 64-bit sizes, header object first.

FormatVerdict checkAsf(const Walk& w) {
    static constexpr std::uint8_t kHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    static constexpr std::uint8_t kData[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                               0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    ByteSpan h;
    if (!w.get(0, 30, h) || std::memcmp(h.data(), kHeader, 16) != 0) return notAFile();
    // The file properties object inside the header tells the file's size.
    static constexpr std::uint8_t kProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    i64 declared = -1;
    const i64 headerSize = static_cast<i64>(std::min<std::uint64_t>(le64(h, 16), 1 << 20));
    for (i64 at = 30; at + 24 <= headerSize;) {
        ByteSpan o;
        if (!w.get(at, 24, o)) break;
        const i64 size = static_cast<i64>(std::min<std::uint64_t>(le64(o, 16), 1 << 20));
        if (size < 24) break;
        ByteSpan p;
        if (std::memcmp(o.data(), kProperties, 16) == 0 && w.get(at, 48, p)) declared = static_cast<i64>(le64(p, 40));
        at += size;
    }
    i64 pos = 0;
    bool data = false;
    for (int objects = 0; objects < 64; ++objects) {
        ByteSpan o;
        if (!w.get(pos, 24, o)) break;
        const bool isData = std::memcmp(o.data(), kData, 16) == 0;
        if (objects > 0 && !isData && (o[7] != 0x11 && o[7] != 0x4C && o[7] != 0x41)) break;  // not an ASF GUID family
        const std::uint64_t size = le64(o, 16);
        if (size < 24 || size > (std::uint64_t{1} << 40)) break;
        if (pos + static_cast<i64>(size) > w.limit) return data || isData ? partial(w.limit) : notAFile();
        data = data || isData;
        pos += static_cast<i64>(size);
        if (declared > 0 && pos >= declared) break;
    }
    if (declared > 0 && pos != declared) return partial(std::min(pos, declared));
    return data ? whole(pos) : partial(pos);
}

// ---------------------------------------------------------------------------------------------
// FLV: the header, then tags whose back pointers match their sizes.

FormatVerdict checkFlv(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 13, h) || std::memcmp(h.data(), "FLV\x01", 4) != 0 || (h[4] & 0xFA) != 0 || be32(h, 5) < 9)
        return notAFile();
    i64 pos = be32(h, 5) + 4;
    int tags = 0;
    i64 declared = -1;  // the "filesize" of the metadata tag, where the writer gave one
    while (true) {
        ByteSpan t;
        if (!w.get(pos, 11, t) || (t[0] & 0x1F) < 8 || (t[0] & 0x1F) > 18 || t[8] != 0 || t[9] != 0 || t[10] != 0) break;
        const i64 length = (i64{t[1]} << 16) | (i64{t[2]} << 8) | t[3];
        ByteSpan back;
        if (!w.get(pos + 11 + length, 4, back) || be32(back, 0) != static_cast<std::uint32_t>(11 + length)) break;
        if (tags == 0 && t[0] == 18) {
            const ByteSpan meta = w.at(pos + 11, static_cast<std::size_t>(std::min<i64>(length, 4096)));
            const std::string_view text(reinterpret_cast<const char*>(meta.data()), meta.size());
            const std::size_t at = text.find("filesize");
            if (at != std::string_view::npos && at + 17 <= meta.size() && meta[at + 8] == 0) {
                double value = 0;
                const std::uint64_t bits = be64(meta, at + 9);
                std::memcpy(&value, &bits, sizeof value);
                if (value > 0 && value < 1e15) declared = static_cast<i64>(value);
            }
        }
        pos += 15 + length;
        ++tags;
    }
    if (tags == 0) return notAFile();
    return declared > 0 && pos < declared ? partial(pos) : whole(pos);
}

// ---------------------------------------------------------------------------------------------
// MPEG program stream: pack headers and PES packets up to the end code.

FormatVerdict checkMpeg(const Walk& w) {
    i64 pos = 0;
    int packs = 0;
    while (true) {
        ByteSpan p;
        if (!w.get(pos, 14, p) || p[0] != 0 || p[1] != 0 || p[2] != 1) break;
        const std::uint8_t id = p[3];
        if (id == 0xB9) return packs > 0 ? whole(pos + 4) : notAFile();
        if (id == 0xBA) {
            if ((p[4] & 0xC0) == 0x40) {
                pos += 14 + (p[13] & 7);
            } else if ((p[4] & 0xF0) == 0x20) {
                pos += 12;
            } else {
                break;
            }
            ++packs;
        } else if (id >= 0xBB) {
            pos += 6 + be16(p, 4);
        } else {
            break;
        }
        if (pos > w.limit) return packs > 0 ? partial(w.limit) : notAFile();
    }
    // Many writers leave the end code out: the file ends with its last whole packet.
    return packs > 1 ? whole(pos) : notAFile();
}

// ---------------------------------------------------------------------------------------------
// Compound files (DOC, XLS, PPT): the header, the FAT sectors it lists, and the last sector the
// FAT marks as used.

FormatVerdict checkOle(const Walk& w) {
    ByteSpan h;
    static constexpr std::uint8_t kSig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (!w.get(0, 512, h) || std::memcmp(h.data(), kSig, 8) != 0 || le16(h, 28) != 0xFFFE) return notAFile();
    const std::uint32_t shift = le16(h, 30);
    if (shift != 9 && shift != 12) return notAFile();
    const i64 sector = i64{1} << shift;
    const std::uint32_t fatSectors = le32(h, 44);
    if (fatSectors == 0 || fatSectors > (1u << 20) || i64{fatSectors} * sector > w.limit) return notAFile();
    std::vector<std::uint32_t> fat;
    for (std::size_t k = 0; k < 109 && fat.size() < fatSectors; ++k) fat.push_back(le32(h, 76 + 4 * k));
    std::uint32_t difat = le32(h, 68);
    for (int guard = 0; fat.size() < fatSectors && difat < 0xFFFFFFFA && guard < 65536; ++guard) {
        ByteSpan d;
        if (!w.get(sector * (i64{difat} + 1), static_cast<std::size_t>(sector), d)) return partial(sector);
        for (std::size_t k = 0; k + 4 < d.size() && fat.size() < fatSectors; k += 4) fat.push_back(le32(d, k));
        difat = le32(d, d.size() - 4);
    }
    // Every FAT entry is free, an end of chain, a FAT or DIFAT sector, or a sector of the file;
    // each FAT sector is marked as one. A FAT sector that breaks this lies past a cut.
    const i64 perSector = sector / 4;
    const i64 sectors = i64{fatSectors} * perSector;
    i64 last = -1;
    std::vector<i64> fatMarks;
    for (std::size_t f = 0; f < fat.size(); ++f) {
        if (fat[f] >= 0xFFFFFFFA) return partial(sector);
        ByteSpan table;
        const i64 at = sector * (i64{fat[f]} + 1);
        if (!w.get(at, static_cast<std::size_t>(sector), table)) return partial(std::min(at, w.limit));
        for (std::size_t k = 0; k < table.size(); k += 4) {
            const std::uint32_t v = le32(table, k);
            if (v < 0xFFFFFFFC && v >= sectors) return partial(at);
            if (v == 0xFFFFFFFD) fatMarks.push_back(static_cast<i64>(f * table.size() / 4 + k / 4));
            if (v != 0xFFFFFFFF) last = static_cast<i64>(f * table.size() / 4 + k / 4);
        }
    }
    std::sort(fatMarks.begin(), fatMarks.end());
    for (const std::uint32_t f : fat)
        if (!std::binary_search(fatMarks.begin(), fatMarks.end(), i64{f})) return partial(sector * (i64{f} + 1));
    if (last < 0) return notAFile();
    const i64 end = sector * (last + 2);
    if (end > w.limit) return partial(w.limit);
    return whole(end);
}

// ---------------------------------------------------------------------------------------------
// RTF: the group that opens the file, up to the brace that closes it.

FormatVerdict checkRtf(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 6, h) || std::memcmp(h.data(), "{\\rtf", 5) != 0) return notAFile();
    int depth = 0;
    bool escape = false;
    for (i64 pos = 0; pos < w.limit;) {
        const ByteSpan piece = w.some(pos, kPiece);
        if (piece.empty()) break;
        for (std::size_t k = 0; k < piece.size(); ++k) {
            const std::uint8_t c = piece[k];
            if (escape) {
                escape = false;
            } else if (c == '\\') {
                escape = true;
            } else if (c == '{') {
                ++depth;
            } else if (c == '}') {
                if (--depth == 0) return whole(pos + static_cast<i64>(k) + 1);
            } else if (c == 0) {
                return partial(pos + static_cast<i64>(k));
            }
        }
        pos += static_cast<i64>(piece.size());
    }
    return partial(w.limit);
}

// ---------------------------------------------------------------------------------------------
// FLAC: the metadata blocks, then audio frames, each found by its sync code and header CRC;
// the last frame ends where its CRC-16 holds.

std::uint8_t flacCrc8(ByteSpan b) {
    std::uint8_t crc = 0;
    for (const std::uint8_t c : b) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

// The length of a frame header at the start of b (sync, fields, CRC-8), or 0.
std::size_t flacFrameHeader(ByteSpan b) {
    if (b.size() < 16 || b[0] != 0xFF || (b[1] & 0xFE) != 0xF8) return 0;
    if ((b[2] >> 4) == 0 || (b[2] & 15) == 15 || (b[3] >> 4) > 10 || ((b[3] >> 1) & 7) == 3 || ((b[3] >> 1) & 7) == 7 ||
        (b[3] & 1))
        return 0;
    std::size_t at = 4;
    // The UTF-8-like frame or sample number.
    int extra = 0;
    if ((b[at] & 0x80) == 0) extra = 0;
    else if ((b[at] & 0xE0) == 0xC0) extra = 1;
    else if ((b[at] & 0xF0) == 0xE0) extra = 2;
    else if ((b[at] & 0xF8) == 0xF0) extra = 3;
    else if ((b[at] & 0xFC) == 0xF8) extra = 4;
    else if ((b[at] & 0xFE) == 0xFC) extra = 5;
    else if (b[at] == 0xFE) extra = 6;
    else return 0;
    at += 1 + static_cast<std::size_t>(extra);
    const std::uint32_t blockCode = b[2] >> 4, rateCode = b[2] & 15;
    if (blockCode == 6) at += 1;
    if (blockCode == 7) at += 2;
    if (rateCode == 12) at += 1;
    if (rateCode == 13 || rateCode == 14) at += 2;
    if (at >= b.size() || flacCrc8(b.subspan(0, at)) != b[at]) return 0;
    return at + 1;
}

// The bits of a FLAC frame, read most significant first.
class FlacBits {
public:
    FlacBits(const Walk& w, i64 byte) : w_(w), bit_(byte * 8) {}
    bool read(int n, std::uint32_t& value) {
        value = 0;
        for (int k = 0; k < n; ++k) {
            int b = 0;
            if (!next(b)) return false;
            value = (value << 1) | static_cast<std::uint32_t>(b);
        }
        return true;
    }
    void skip(i64 bits) { bit_ += bits; }
    // Zeros up to the next one bit (the one is consumed).
    bool unary(std::uint32_t& zeros) {
        zeros = 0;
        for (int b = 0; zeros < (1u << 24);) {
            if (!next(b)) return false;
            if (b) return true;
            ++zeros;
        }
        return false;
    }
    i64 byteEnd() const { return (bit_ + 7) / 8; }
    bool inside(i64 limit) const { return bit_ <= limit * 8; }

private:
    bool next(int& b) {
        const i64 byte = bit_ >> 3;
        if (byte < at_ || byte >= at_ + static_cast<i64>(piece_.size())) {
            piece_ = w_.some(byte, 64 * 1024);
            at_ = byte;
            if (piece_.empty()) return false;
        }
        b = (piece_[static_cast<std::size_t>(byte - at_)] >> (7 - (bit_ & 7))) & 1;
        ++bit_;
        return true;
    }
    const Walk& w_;
    i64 bit_;
    ByteSpan piece_;
    i64 at_ = -1;
};

// Where the frame at pos ends (after its CRC-16), found by walking its subframes; -1 when they
// do not parse.
i64 flacFrameEnd(const Walk& w, i64 pos, ByteSpan c, std::size_t headerLength, i64 blockSize, int streamBits, i64 maxFrame) {
    const std::uint32_t assignment = c[3] >> 4;
    if (assignment > 10 || blockSize <= 0) return -1;
    static constexpr int kBits[8] = {0, 8, 12, -1, 16, 20, 24, 32};
    const int bits = kBits[(c[3] >> 1) & 7] == 0 ? streamBits : kBits[(c[3] >> 1) & 7];
    if (bits <= 0) return -1;
    const int channels = assignment < 8 ? static_cast<int>(assignment) + 1 : 2;
    FlacBits r(w, pos + static_cast<i64>(headerLength));
    const i64 stop = pos + maxFrame + 16;
    std::uint32_t v = 0;
    for (int channel = 0; channel < channels; ++channel) {
        int sampleBits = bits;
        if ((assignment == 8 && channel == 1) || (assignment == 9 && channel == 0) || (assignment == 10 && channel == 1))
            ++sampleBits;
        if (!r.read(1, v) || v != 0 || !r.read(6, v)) return -1;
        const std::uint32_t type = v;
        if (!r.read(1, v)) return -1;
        if (v) {
            std::uint32_t wasted = 0;
            if (!r.unary(wasted)) return -1;
            sampleBits -= static_cast<int>(wasted) + 1;
            if (sampleBits <= 0) return -1;
        }
        i64 order = 0;
        if (type == 0) {
            r.skip(sampleBits);
            continue;
        }
        if (type == 1) {
            r.skip(blockSize * sampleBits);
            continue;
        }
        if (type >= 8 && type <= 12) {
            order = type - 8;
            r.skip(order * sampleBits);
        } else if (type >= 32) {
            order = (type & 31) + 1;
            r.skip(order * sampleBits);
            if (!r.read(4, v) || v == 15) return -1;
            const i64 precision = v + 1;
            r.skip(5 + order * precision);
        } else {
            return -1;
        }
        // The residual: Rice-coded partitions.
        std::uint32_t method = 0, partitionOrder = 0;
        if (!r.read(2, method) || method > 1 || !r.read(4, partitionOrder)) return -1;
        const i64 perPartition = blockSize >> partitionOrder;
        if (perPartition < order || (perPartition << partitionOrder) != blockSize) return -1;
        const int parameterBits = method == 0 ? 4 : 5;
        const std::uint32_t escape = method == 0 ? 15 : 31;
        for (i64 part = 0; part < (i64{1} << partitionOrder); ++part) {
            const i64 count = perPartition - (part == 0 ? order : 0);
            std::uint32_t parameter = 0;
            if (!r.read(parameterBits, parameter)) return -1;
            if (parameter == escape) {
                if (!r.read(5, v)) return -1;
                r.skip(count * v);
                continue;
            }
            for (i64 k = 0; k < count; ++k) {
                std::uint32_t q = 0;
                if (!r.unary(q)) return -1;
                r.skip(parameter);
            }
            if (!r.inside(stop)) return -1;
        }
        if (!r.inside(stop)) return -1;
    }
    return r.byteEnd() + 2;
}

FormatVerdict checkFlac(const Walk& w) {
    ByteSpan h;
    if (!w.get(0, 42, h) || std::memcmp(h.data(), "fLaC", 4) != 0 || (h[4] & 0x7F) != 0 || (be32(h, 4) & 0x00FFFFFFu) != 34u)
        return notAFile();
    i64 pos = 4;
    for (int blocks = 0;; ++blocks) {
        ByteSpan b;
        if (blocks > 1024 || !w.get(pos, 4, b) || (b[0] & 0x7F) == 127) return notAFile();
        pos += 4 + ((i64{b[1]} << 16) | (i64{b[2]} << 8) | b[3]);
        if (b[0] & 0x80) break;
    }
    // Frames: each is walked through its subframes to its end, where its CRC-16 must hold.
    static const auto table = [] {
        std::array<std::uint16_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 8;
            for (int k = 0; k < 8; ++k) r = (r & 0x8000) ? (r << 1) ^ 0x8005 : r << 1;
            t[i] = static_cast<std::uint16_t>(r);
        }
        return t;
    }();
    const i64 total = static_cast<i64>(((std::uint64_t{h[21]} & 15) << 32) | be32(h, 22));
    const int streamBits = (((h[20] & 1) << 4) | (h[21] >> 4)) + 1;
    i64 maxFrame = (i64{h[15]} << 16) | (i64{h[16]} << 8) | h[17];
    if (maxFrame == 0) maxFrame = 1 << 24;
    const auto blockSamples = [](ByteSpan c, std::size_t headerLength) -> i64 {
        const std::uint32_t code = c[2] >> 4;
        if (code == 1) return 192;
        if (code >= 2 && code <= 5) return i64{576} << (code - 2);
        if (code >= 8) return i64{256} << (code - 8);
        // 6 and 7: the size minus one at the end of the header, before a sample-rate field.
        const std::uint32_t rate = c[2] & 15;
        const std::size_t rateBytes = rate == 12 ? 1 : (rate == 13 || rate == 14) ? 2 : 0;
        const std::size_t at = headerLength - 1 - rateBytes - (code == 6 ? 1 : 2);
        return (code == 6 ? i64{c[at]} : i64{be16(c, at)}) + 1;
    };
    ByteSpan c;
    if (!w.get(pos, 16, c) || flacFrameHeader(c) == 0) return partial(pos);
    const std::uint8_t sync = c[1];
    i64 samples = 0;
    while (true) {
        const std::size_t headerLength = flacFrameHeader(c);
        const i64 frameSamples = blockSamples(c, headerLength);
        const i64 end = flacFrameEnd(w, pos, c, headerLength, frameSamples, streamBits, maxFrame);
        if (end < 0 || end > w.limit) return partial(pos);
        std::uint16_t crc = 0;
        for (i64 at = pos; at < end;) {
            const ByteSpan piece = w.some(at, static_cast<std::size_t>(std::min<i64>(kPiece, end - at)));
            if (piece.empty()) return partial(pos);
            for (const std::uint8_t b : piece) crc = static_cast<std::uint16_t>((crc << 8) ^ table[((crc >> 8) ^ b) & 0xFF]);
            at += static_cast<i64>(piece.size());
        }
        if (crc != 0) return partial(pos);
        samples += frameSamples;
        pos = end;
        if (total > 0 && samples >= total) return whole(pos);
        if (!w.get(pos, 16, c) || c[1] != sync || flacFrameHeader(c) == 0) return total == 0 ? whole(pos) : partial(pos);
    }
}

}  // namespace

FileFormat formatForExtension(std::u16string_view extension) {
    std::string e;
    for (const char16_t c : extension) {
        if (c == 0) break;
        e.push_back(c < 0x80 ? static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c) : '?');
    }
    struct Name {
        std::string_view extension;
        FileFormat format;
    };
    static constexpr Name kNames[] = {
        {"jpg", FileFormat::Jpeg},     {"jpeg", FileFormat::Jpeg},    {"jpe", FileFormat::Jpeg},
        {"png", FileFormat::Png},      {"gif", FileFormat::Gif},      {"bmp", FileFormat::Bmp},
        {"wav", FileFormat::Riff},     {"avi", FileFormat::Riff},     {"webp", FileFormat::Riff},
        {"tif", FileFormat::Tiff},     {"tiff", FileFormat::Tiff},    {"pdf", FileFormat::Pdf},
        {"zip", FileFormat::Zip},      {"docx", FileFormat::Zip},     {"xlsx", FileFormat::Zip},
        {"pptx", FileFormat::Zip},     {"odt", FileFormat::Zip},      {"ods", FileFormat::Zip},
        {"odp", FileFormat::Zip},      {"epub", FileFormat::Zip},     {"jar", FileFormat::Zip},
        {"db", FileFormat::Sqlite},    {"sqli", FileFormat::Sqlite},  {"mp3", FileFormat::Mp3},
        {"mp4", FileFormat::IsoMedia}, {"mov", FileFormat::IsoMedia}, {"3gp", FileFormat::IsoMedia},
        {"m4a", FileFormat::IsoMedia}, {"m4v", FileFormat::IsoMedia}, {"heic", FileFormat::IsoMedia},
        {"heif", FileFormat::IsoMedia}, {"7z", FileFormat::SevenZip},  {"gz", FileFormat::Gzip},
        {"tgz", FileFormat::Gzip},     {"ogg", FileFormat::Ogg},      {"oga", FileFormat::Ogg},
        {"ogv", FileFormat::Ogg},      {"opus", FileFormat::Ogg},     {"mid", FileFormat::Midi},
        {"midi", FileFormat::Midi},    {"rar", FileFormat::Rar},      {"xz", FileFormat::Xz},
        {"bz2", FileFormat::Bzip2},    {"flac", FileFormat::Flac},    {"mkv", FileFormat::Matroska},
        {"webm", FileFormat::Matroska}, {"wmv", FileFormat::Asf},     {"wma", FileFormat::Asf},
        {"asf", FileFormat::Asf},      {"flv", FileFormat::Flv},      {"mpg", FileFormat::Mpeg},
        {"mpeg", FileFormat::Mpeg},    {"vob", FileFormat::Mpeg},     {"doc", FileFormat::Ole},
        {"xls", FileFormat::Ole},      {"ppt", FileFormat::Ole},      {"msg", FileFormat::Ole},
        {"rtf", FileFormat::Rtf},
    };
    for (const Name& n : kNames)
        if (n.extension == e) return n.format;
    return FileFormat::Unknown;
}

FormatVerdict checkFormat(FileFormat format, CarveSource& source, std::int64_t start, std::int64_t limit) {
    const Walk w{source, start, std::max<i64>(0, std::min(limit, source.end() - start))};
    switch (format) {
    case FileFormat::Jpeg: return checkJpeg(w);
    case FileFormat::Png: return checkPng(w);
    case FileFormat::Gif: return checkGif(w);
    case FileFormat::Bmp: return checkBmp(w);
    case FileFormat::Riff: return checkRiff(w);
    case FileFormat::Tiff: return checkTiff(w);
    case FileFormat::Pdf: return checkPdf(w);
    case FileFormat::Zip: return checkZip(w);
    case FileFormat::Sqlite: return checkSqlite(w);
    case FileFormat::Mp3: return checkMp3(w);
    case FileFormat::IsoMedia: return checkIsoMedia(w);
    case FileFormat::SevenZip: return checkSevenZip(w);
    case FileFormat::Gzip: return checkGzip(w);
    case FileFormat::Bzip2: return checkBzip2(w);
    case FileFormat::Xz: return checkXz(w);
    case FileFormat::Ogg: return checkOgg(w);
    case FileFormat::Midi: return checkMidi(w);
    case FileFormat::Rar: return checkRar(w);
    case FileFormat::Matroska: return checkMatroska(w);
    case FileFormat::Asf: return checkAsf(w);
    case FileFormat::Flv: return checkFlv(w);
    case FileFormat::Mpeg: return checkMpeg(w);
    case FileFormat::Ole: return checkOle(w);
    case FileFormat::Rtf: return checkRtf(w);
    case FileFormat::Flac: return checkFlac(w);
    default: return notAFile();
    }
}

}  // namespace corvello
