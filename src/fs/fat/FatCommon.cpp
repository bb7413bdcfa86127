#include "fs/fat/FatCommon.h"

#include <algorithm>
#include <cstring>

#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "device/VolumeView.h"
#include "platform/Files.h"

namespace corvello {

void readVolume(const VolumeView& view, std::int64_t offset, std::uint8_t* buffer, std::size_t count) {
    if (count == 0) return;
    std::memset(buffer, 0, count);
    if (offset < 0) return;
    view.readAt(static_cast<std::uint64_t>(offset), buffer, count);
}

// ---------------------------------------------------------------------------------------------
// FAT lookups

void FatTable::setup(const VolumeView* reader, FatKind kind, std::int64_t fatOffset, std::uint64_t fatBytes,
                     std::uint32_t maxCluster) {
    reader_ = reader;
    kind_ = kind;
    fatOffset_ = fatOffset;
    fatBytes_ = fatBytes;
    // A cluster whose entry lies beyond the FAT is not a cluster of the volume.
    std::uint64_t entries = 0;
    switch (kind) {
        case FatKind::Fat12: entries = fatBytes * 2 / 3; break;
        case FatKind::Fat16: entries = fatBytes / 2; break;
        case FatKind::Fat32:
        case FatKind::ExFat: entries = fatBytes / 4; break;
    }
    const std::uint64_t last = entries == 0 ? 0 : entries - 1;
    maxCluster_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(maxCluster, last));
    blocks_.clear();
    lastBlock_ = UINT64_MAX;
    lastBytes_ = nullptr;
}

std::uint8_t FatTable::byteAt(std::uint64_t offset) {
    if (reader_ == nullptr || offset >= fatBytes_) return 0;
    const std::uint64_t block = offset / kBlockBytes;
    if (block != lastBlock_) {
        auto it = blocks_.find(block);
        if (it == blocks_.end()) {
            if (blocks_.size() >= kMaxBlocks) blocks_.clear();
            const std::uint64_t start = block * kBlockBytes;
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(kBlockBytes, fatBytes_ - start)));
            // The part of a FAT past the medium's end (a cut image) reads as free entries; it is
            // not asked for, so that it never counts as bytes of a file that could not be read.
            const std::uint64_t at = static_cast<std::uint64_t>(std::max<std::int64_t>(fatOffset_, 0)) + start;
            const std::uint64_t medium = reader_->length();
            const std::uint64_t present = at < medium ? std::min<std::uint64_t>(bytes.size(), medium - at) : 0;
            readVolume(*reader_, static_cast<std::int64_t>(at), bytes.data(), static_cast<std::size_t>(present));
            it = blocks_.emplace(block, std::move(bytes)).first;
        }
        lastBlock_ = block;
        lastBytes_ = &it->second;
    }
    const std::uint64_t at = offset % kBlockBytes;
    return at < lastBytes_->size() ? (*lastBytes_)[at] : 0;
}

bool FatTable::entry(std::uint32_t c, std::uint32_t& value) {
    if (!isCluster(c)) return false;
    switch (kind_) {
        case FatKind::Fat12: {
            const std::uint64_t off = static_cast<std::uint64_t>(c) + c / 2;
            const std::uint32_t v = byteAt(off) | (static_cast<std::uint32_t>(byteAt(off + 1)) << 8);
            value = (c & 1) ? (v >> 4) : (v & 0x0FFF);
            return true;
        }
        case FatKind::Fat16: {
            const std::uint64_t off = static_cast<std::uint64_t>(c) * 2;
            value = byteAt(off) | (static_cast<std::uint32_t>(byteAt(off + 1)) << 8);
            return true;
        }
        case FatKind::Fat32:
        case FatKind::ExFat: {
            const std::uint64_t off = static_cast<std::uint64_t>(c) * 4;
            value = byteAt(off) | (static_cast<std::uint32_t>(byteAt(off + 1)) << 8) |
                    (static_cast<std::uint32_t>(byteAt(off + 2)) << 16) |
                    (static_cast<std::uint32_t>(byteAt(off + 3)) << 24);
            if (kind_ == FatKind::Fat32) value &= 0x0FFFFFFF;  // the top four bits are reserved
            return true;
        }
    }
    return false;
}

std::uint32_t FatTable::next(std::uint32_t c) {
    std::uint32_t v = 0;
    if (!entry(c, v)) return 0;
    // End marks, bad-cluster marks and free entries are all above maxCluster or below 2.
    return isCluster(v) ? v : 0;
}

bool FatTable::isFree(std::uint32_t c) {
    std::uint32_t v = 0;
    return entry(c, v) && v == 0;
}

// ---------------------------------------------------------------------------------------------
// Names

std::u16string shortNameOf(ByteSpan slot, int codePage) {
    const std::uint8_t flags = u8(slot, 12);
    auto part = [&](std::size_t from, std::size_t length, bool lower) {
        std::size_t end = from + length;
        while (end > from && u8(slot, end - 1) == ' ') --end;
        std::string bytes;
        for (std::size_t i = from; i < end; ++i) bytes.push_back(static_cast<char>(u8(slot, i)));
        if (from == 0 && !bytes.empty() && u8(slot, 0) == 0x05) bytes[0] = static_cast<char>(0xE5);
        std::u16string text = fromOemCodePage(bytes, codePage);
        if (from == 0 && !text.empty() && u8(slot, 0) == 0xE5) text[0] = u'\uFFE5';  // the lost first letter
        if (lower)
            for (char16_t& c : text)
                if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
                    c = static_cast<char16_t>(c + 0x20);  // ASCII and Latin-1 capitals
        return text;
    };
    std::u16string name = part(0, 8, (flags & 0x08) != 0);
    const std::u16string extension = part(8, 3, (flags & 0x10) != 0);
    if (!extension.empty()) name += u'.' + extension;
    return name;
}

std::u16string longNamePiece(ByteSpan slot) {
    static constexpr std::size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::u16string piece;
    for (std::size_t off : kOffsets) {
        const char16_t c = le16(slot, off);
        if (c == 0) break;
        piece.push_back(c);
    }
    return piece;
}

std::uint8_t shortNameChecksum(ByteSpan slot) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 11; ++i)
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + u8(slot, i));
    return sum;
}

// ---------------------------------------------------------------------------------------------
// Display texts

namespace {

std::string dosTimeText(std::uint16_t date, std::uint16_t time) {
    platform::CivilTime t;
    t.year = 1980 + (date >> 9);
    t.month = (date >> 5) & 0x0F;
    t.day = date & 0x1F;
    t.hour = time >> 11;
    t.minute = (time >> 5) & 0x3F;
    if (t.hour <= 12) return format("%02d/%02d/%d  %02d:%02d AM", t.month, t.day, t.year, t.hour, t.minute);
    return format("%02d/%02d/%d  %02d:%02d PM", t.month, t.day, t.year, t.hour - 12, t.minute);
}

}  // namespace

std::array<std::string, 4> formatTimes(const FatEntry& e) {
    const std::uint16_t a = e.accessDate;
    return {dosTimeText(e.createDate, e.createTime),
            format("%02d/%02d/%d ", (a >> 5) & 0x0F, a & 0x1F, 1980 + (a >> 9)),
            dosTimeText(e.writeDate, e.writeTime), fatAttributeText(e.attributes)};
}

std::array<std::string, 4> formatTimes(const ExFatEntry& e) {
    auto text = [](std::uint32_t ts) {
        return dosTimeText(static_cast<std::uint16_t>(ts >> 16), static_cast<std::uint16_t>(ts & 0xFFFF));
    };
    return {text(e.createTimestamp), text(e.accessTimestamp), text(e.modifyTimestamp),
            fatAttributeText(e.attributes)};
}

std::string formatSize(const FatEntry& e) { return formatSizeText(e.size); }
std::string formatSize(const ExFatEntry& e) { return formatSizeText(e.dataLength); }

std::optional<platform::UnixTime> dosTime(std::uint16_t date, std::uint16_t time) {
    const auto civil = platform::civilFromDos(date, time);
    if (!civil) return std::nullopt;
    return platform::unixFromLocalCivil(*civil);
}

std::optional<platform::UnixTime> exFatTime(std::uint32_t timestamp, std::uint8_t utcOffset) {
    const auto civil = platform::civilFromDos(static_cast<std::uint16_t>(timestamp >> 16),
                                              static_cast<std::uint16_t>(timestamp & 0xFFFF));
    if (!civil) return std::nullopt;
    if ((utcOffset & 0x80) == 0) return platform::unixFromLocalCivil(*civil);
    // The offset is a signed 7-bit count of 15-minute steps east of UTC.
    int steps = utcOffset & 0x7F;
    if (steps >= 64) steps -= 128;
    // Days since 1970 of the civil date (proleptic Gregorian), then the time of day.
    const int y = civil->year - (civil->month <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int mp = (civil->month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + civil->day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
    const std::int64_t seconds = days * 86400 + civil->hour * 3600 + civil->minute * 60 + civil->second;
    return platform::UnixTime{seconds - steps * 15 * 60, 0};
}

// ---------------------------------------------------------------------------------------------
// Cluster copies

namespace {

std::int64_t clusterOffset(const ClusterSource& s, std::uint32_t c) {
    return s.dataOffset + static_cast<std::int64_t>(c - 2) * static_cast<std::int64_t>(s.clusterBytes);
}

// Follows a chain one cluster at a time and notices when it comes back to a cluster it has
// passed (Brent's cycle detection, constant memory).
class ChainWalk {
public:
    ChainWalk(const ClusterSource& s, std::uint32_t first) : s_(s), current_(first), saved_(first) {}
    std::uint32_t current() const { return current_; }
    // Whether the walk ended because the chain came back to a cluster it had passed.
    bool looped() const { return looped_; }
    // Moves to the next cluster; false at the end of the chain or in a loop.
    bool advance() {
        std::uint32_t next = 0;
        if (s_.contiguous) {
            next = current_ + 1;
            if (!s_.fat->isCluster(next)) return false;
        } else {
            next = s_.fat->next(current_);
            if (next == 0) return false;
        }
        current_ = next;
        if (current_ == saved_) {
            looped_ = true;
            return false;
        }
        if (++steps_ == power_) {
            saved_ = current_;
            power_ *= 2;
            steps_ = 0;
        }
        return true;
    }

private:
    const ClusterSource& s_;
    std::uint32_t current_;
    std::uint32_t saved_;
    std::uint64_t power_ = 1;
    std::uint64_t steps_ = 0;
    bool looped_ = false;
};

// The number of distinct clusters of a chain from first that runs into a loop through the
// cluster inLoop: the clusters before the loop and those of the loop itself.
std::uint64_t distinctClusters(FatTable& fat, std::uint32_t first, std::uint32_t inLoop) {
    const std::uint64_t bound = static_cast<std::uint64_t>(fat.maxCluster()) + 1;
    std::uint64_t loop = 1;
    for (std::uint32_t c = fat.next(inLoop); c != inLoop && c != 0 && loop < bound; c = fat.next(c)) ++loop;
    // Two walks loop clusters apart meet where the loop begins.
    std::uint32_t ahead = first;
    for (std::uint64_t i = 0; i < loop; ++i) ahead = fat.next(ahead);
    std::uint64_t before = 0;
    for (std::uint32_t behind = first; behind != ahead && behind != 0 && before < bound; ++before) {
        behind = fat.next(behind);
        ahead = fat.next(ahead);
    }
    return before + loop;
}

}  // namespace

std::uint64_t clusterEndOnMedium(const VolumeView* view, std::int64_t dataOffset, std::uint32_t clusterBytes,
                                 std::uint32_t maxCluster) {
    const std::uint64_t end = static_cast<std::uint64_t>(maxCluster) + 1;
    if (view == nullptr || clusterBytes == 0 || dataOffset < 0) return 2;
    const std::uint64_t medium = view->length();
    const auto start = static_cast<std::uint64_t>(dataOffset);
    if (medium <= start) return 2;
    return std::min(end, 2 + (medium - start) / clusterBytes);
}

std::vector<ClusterRun> clusterRuns(const ClusterSource& s, std::uint32_t first, std::uint64_t length) {
    std::vector<ClusterRun> runs;
    if (s.fat == nullptr || s.clusterBytes == 0 || length == 0 || !s.fat->isCluster(first)) return runs;
    constexpr std::uint64_t kRunBytes = 1u << 20;  // consecutive clusters are read together
    std::uint64_t covered = 0;
    ChainWalk walk(s, first);
    bool more = true;
    while (more && covered < length) {
        // Gather a run of consecutive clusters.
        const std::uint32_t start = walk.current();
        std::uint64_t runBytes = s.clusterBytes;
        for (;;) {
            if (covered + runBytes >= length || runBytes >= kRunBytes) {
                more = walk.advance();
                break;
            }
            const std::uint32_t before = walk.current();
            more = walk.advance();
            if (!more) break;
            if (walk.current() != before + 1) break;
            runBytes += s.clusterBytes;
        }
        const std::uint64_t take = std::min(runBytes, length - covered);
        runs.push_back({clusterOffset(s, start), take});
        covered += take;
    }
    if (walk.looped()) {
        // The walk notices a loop only after going round it once or twice: what it took twice
        // is given back, so that no cluster stands for two parts of the file.
        const std::uint64_t most = distinctClusters(*s.fat, first, walk.current()) * s.clusterBytes;
        std::uint64_t kept = 0;
        std::size_t n = 0;
        for (; n < runs.size() && kept < most; ++n) {
            runs[n].length = std::min(runs[n].length, most - kept);
            kept += runs[n].length;
        }
        runs.resize(n);
    }
    return runs;
}

std::uint64_t copyClusters(const ClusterSource& s, std::uint32_t first, std::uint64_t length,
                           platform::OutputFile& out) {
    if (s.reader == nullptr) return 0;
    std::vector<std::uint8_t> buffer;
    std::uint64_t written = 0;
    for (const ClusterRun& run : clusterRuns(s, first, length)) {
        buffer.resize(static_cast<std::size_t>(run.length));
        readVolume(*s.reader, run.volumeOffset, buffer.data(), buffer.size());
        if (!out.write(buffer.data(), buffer.size())) break;
        written += run.length;
    }
    return written;
}

std::vector<std::uint8_t> readFolderClusters(const ClusterSource& s, std::uint32_t first, std::uint64_t maxBytes,
                                             bool requireDot, std::set<std::uint32_t>& visited,
                                             std::vector<std::int64_t>* starts) {
    if (starts != nullptr) starts->clear();
    std::vector<std::uint8_t> bytes;
    if (s.reader == nullptr || s.fat == nullptr || s.clusterBytes == 0 || !s.fat->isCluster(first)) return bytes;
    if (!visited.insert(first).second) return bytes;
    bytes.resize(s.clusterBytes);
    readVolume(*s.reader, clusterOffset(s, first), bytes.data(), bytes.size());
    if (requireDot && bytes[0] != '.') {
        bytes.clear();
        return bytes;
    }
    if (starts != nullptr) starts->push_back(clusterOffset(s, first));
    std::uint32_t c = first;
    while (bytes.size() + s.clusterBytes <= maxBytes) {
        std::uint32_t next = 0;
        if (s.contiguous) {
            next = c + 1;
            if (!s.fat->isCluster(next)) break;
        } else {
            next = s.fat->next(c);
            if (next == 0) break;
        }
        if (!visited.insert(next).second) break;
        const std::size_t at = bytes.size();
        bytes.resize(at + s.clusterBytes);
        readVolume(*s.reader, clusterOffset(s, next), bytes.data() + at, s.clusterBytes);
        if (starts != nullptr) starts->push_back(clusterOffset(s, next));
        c = next;
    }
    return bytes;
}

}  // namespace corvello
