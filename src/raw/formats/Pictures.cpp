// Pictures: JPEG, PNG, GIF, BMP and TIFF.

#include "raw/formats/FormatChecks.h"

#include <array>
#include <cstring>
#include <vector>

namespace corvello::formats {

namespace {

// Values of TIFF arrays (strip and tile offsets and counts, sub-IFDs) read for one file.
constexpr i64 kMaxTiffValues = i64{1} << 22;

}  // namespace

// ---------------------------------------------------------------------------------------------
// JPEG: the marker segments, then each scan's entropy-coded data up to the next marker, until
// the EOI that follows the last scan. An EXIF thumbnail lies inside an APP1 segment, so its own
// EOI is stepped over with the segment.

namespace {

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

}  // namespace

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
// TIFF: the chain of IFDs with their sub-IFDs, and every value, strip and tile they point to;
// the file ends after the last byte any of them uses.

namespace {

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

}  // namespace

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

}  // namespace corvello::formats
