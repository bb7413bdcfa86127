// Archives and compressed streams: ZIP (and the formats built on it), 7z, RAR, gzip,
// bzip2 and xz.

#include "raw/formats/FormatChecks.h"

#include <cstring>
#include <vector>

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>

namespace corvello::formats {

namespace {

// Decoding a compressed stream to find its end stops after this many bytes of output, so that
// a stream built to expand without end cannot hold the scan.
constexpr std::uint64_t kMaxDecoded = std::uint64_t{1} << 30;

}  // namespace

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

namespace {

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
// RAR 4 and 5: the chain of block headers with their CRCs up to the end-of-archive block.

namespace {

bool readVint(ByteSpan b, std::size_t& at, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64 && at < b.size(); shift += 7) {
        const std::uint8_t c = b[at++];
        value |= std::uint64_t{c & 0x7Fu} << shift;
        if (!(c & 0x80)) return true;
    }
    return false;
}

}  // namespace

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

}  // namespace corvello::formats
