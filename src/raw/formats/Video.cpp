// Video and the media containers: RIFF (WAV, AVI, WebP), ISO base media, Matroska, ASF,
// FLV and MPEG program streams.

#include "raw/formats/FormatChecks.h"

#include <cstring>
#include <string_view>

namespace corvello::formats {

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
// ISO base media (MP4, MOV, 3GP, M4A, HEIC): the chain of top-level boxes, ftyp first; the
// movie box (or the meta box of an image) must be among them.

namespace {

bool topLevelBox(std::string_view type) {
    static constexpr std::string_view kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta",
                                                  "pdin", "moof", "mfra", "styp", "sidx", "ssix", "prft", "udta",
                                                  "pnot", "junk", "emsg", "jumb", "PICT", "idat"};
    return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

}  // namespace

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
// Matroska / WebM: the EBML header element and the segment that follows it, by their sizes.

namespace {

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

}  // namespace

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

}  // namespace corvello::formats
