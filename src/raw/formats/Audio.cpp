// Audio: MP3, Ogg, MIDI and FLAC.

#include "raw/formats/FormatChecks.h"

#include <array>
#include <cstring>
#include <string_view>

namespace corvello::formats {

// ---------------------------------------------------------------------------------------------
// MP3: the ID3v2 tag, then MPEG audio frames of one stream, then an ID3v1 tag; a LAME/Xing
// header's byte count tells a cut stream from a whole one.

namespace {

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

}  // namespace

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
// Ogg: pages with their CRCs up to the page that ends the last stream.

namespace {

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

}  // namespace

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
// FLAC: the metadata blocks, then audio frames, each found by its sync code and header CRC;
// the last frame ends where its CRC-16 holds.

namespace {

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

}  // namespace

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

}  // namespace corvello::formats
