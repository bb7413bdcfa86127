// Documents: PDF, compound files (DOC, XLS, PPT) and RTF.

#include "raw/formats/FormatChecks.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace corvello::formats {

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

}  // namespace corvello::formats
