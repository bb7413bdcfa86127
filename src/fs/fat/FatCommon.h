#pragma once
// What the three FAT-family parsers share: volume reads that zero-fill, the cached FAT lookup,
// the slot name rules, the display texts and the cluster copy of the extraction.

#include <array>
#include <cstdint>
#include <string>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "common/Bytes.h"
#include "fs/fat/FatEntry.h"
#include "platform/Time.h"

namespace corvello {

class VolumeView;

namespace platform {
class OutputFile;
}

// Reads count bytes at offset from the volume's first byte into buffer; what does not arrive
// reads as zero.
void readVolume(const VolumeView& view, std::int64_t offset, std::uint8_t* buffer, std::size_t count);

enum class FatKind { Fat12, Fat16, Fat32, ExFat };

// A DOS date a writer can have stored: day 1 to 31, month 1 to 12 (any year).
inline bool plausibleDosDate(std::uint16_t d) {
    const int day = d & 0x1F;
    const int month = (d >> 5) & 0x0F;
    return day >= 1 && day <= 31 && month >= 1 && month <= 12;
}
// A DOS time a writer can have stored: hour below 24, minute below 60, two-second count below 30.
inline bool plausibleDosTime(std::uint16_t t) { return (t >> 11) < 24 && ((t >> 5) & 0x3F) < 60 && (t & 0x1F) < 30; }

// The first FAT of a volume, read from disk in blocks and kept while the cache stays small.
class FatTable {
public:
    void setup(const VolumeView* view, FatKind kind, std::int64_t fatOffset, std::uint64_t fatBytes,
               std::uint32_t maxCluster);

    // The stored value for cluster c (masked to the entry width), or nothing when c is not a
    // cluster of the volume.
    bool entry(std::uint32_t c, std::uint32_t& value);
    // The next cluster of a chain, or 0 when c ends it (end mark, free, bad, outside the volume).
    std::uint32_t next(std::uint32_t c);
    // Whether the FAT marks cluster c free (the chain of a deleted file is usually gone).
    bool isFree(std::uint32_t c);
    bool isCluster(std::uint32_t c) const { return c >= 2 && c <= maxCluster_; }
    std::uint32_t maxCluster() const { return maxCluster_; }

private:
    std::uint8_t byteAt(std::uint64_t offset);

    static constexpr std::uint64_t kBlockBytes = 64 * 1024;
    static constexpr std::size_t kMaxBlocks = 512;
    const VolumeView* reader_ = nullptr;
    FatKind kind_ = FatKind::Fat16;
    std::uint64_t lastBlock_ = UINT64_MAX;            // the block looked at last, and its bytes
    const std::vector<std::uint8_t>* lastBytes_ = nullptr;
    std::int64_t fatOffset_ = 0;
    std::uint64_t fatBytes_ = 0;
    std::uint32_t maxCluster_ = 0;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> blocks_;
};

// A short name (8.3 slot) as shown: the base without its trailing blanks, then, when the
// extension is not blank, a dot and the extension without its trailing blanks, for files and
// folders alike; the lower-case flags of byte 12 applied. The bytes are OEM text in the given
// code page; a first byte 0xE5 (the deletion mark) shows as U+FFE5, a first byte 0x05 stands
// for a real 0xE5.
std::u16string shortNameOf(ByteSpan slot, int codePage);
// The up to 13 characters of a long-name slot, cut at the first 0.
std::u16string longNamePiece(ByteSpan slot);
// The checksum of an 8.3 name that its long-name slots carry at byte 13.
std::uint8_t shortNameChecksum(ByteSpan slot);

// Creation, access (date only), modification and attribute texts of a FAT record.
std::array<std::string, 4> formatTimes(const FatEntry& entry);
// The same for an exFAT record (the access text carries a time).
std::array<std::string, 4> formatTimes(const ExFatEntry& entry);
std::string formatSize(const FatEntry& entry);
std::string formatSize(const ExFatEntry& entry);

// A DOS date and time as a point in time (local time of the writing machine).
std::optional<platform::UnixTime> dosTime(std::uint16_t date, std::uint16_t time);
// An exFAT timestamp with its UTC-offset byte (bit 7 set: the offset in 15-minute steps is valid).
std::optional<platform::UnixTime> exFatTime(std::uint32_t timestamp, std::uint8_t utcOffset);

// Where a file's bytes lie: the data region, the cluster size and how to follow the file.
struct ClusterSource {
    const VolumeView* reader = nullptr;
    FatTable* fat = nullptr;
    std::int64_t dataOffset = 0;    // byte offset of cluster 2
    std::uint32_t clusterBytes = 0;
    bool contiguous = false;        // take the clusters that follow the first on the disk
};

// The end of the clusters (2 up to the value, not included, at most maxCluster + 1) whose bytes
// the medium holds: on a cut image the clusters past its end cannot be read.
std::uint64_t clusterEndOnMedium(const VolumeView* view, std::int64_t dataOffset, std::uint32_t clusterBytes,
                                 std::uint32_t maxCluster);

// One stretch of consecutive clusters of a file: its bytes lie at volumeOffset, length long.
struct ClusterRun {
    std::int64_t volumeOffset = 0;
    std::uint64_t length = 0;
};

// Where the first length bytes of the file that starts at cluster first lie, in file order:
// stretches of at most 1 MiB. They end at the end of the chain, at a cluster outside the volume
// or when the chain runs into a loop, so they may hold fewer bytes than length: never more than
// the distinct clusters of the chain hold (a loop gives each of its clusters once).
std::vector<ClusterRun> clusterRuns(const ClusterSource& source, std::uint32_t first, std::uint64_t length);

// Copies length bytes of the file that starts at cluster first into out; returns the number
// of bytes written. The copy stops at the end of the chain, at a cluster outside the volume or
// when the chain runs into a loop.
std::uint64_t copyClusters(const ClusterSource& source, std::uint32_t first, std::uint64_t length,
                           platform::OutputFile& out);

// Reads the clusters of a folder into one buffer: the chain from first (or, when contiguous,
// the clusters that follow it), each cluster at most once per parse (visited), never more than
// maxBytes; starts, when given, receives the volume offset of each cluster read. With requireDot the first cluster must begin with a "." slot, else nothing is
// taken (the cluster was reused by other data) and the chain is not followed.
std::vector<std::uint8_t> readFolderClusters(const ClusterSource& source, std::uint32_t first,
                                             std::uint64_t maxBytes, bool requireDot,
                                             std::set<std::uint32_t>& visited,
                                             std::vector<std::int64_t>* starts = nullptr);

}  // namespace corvello

namespace corvello {

// Sets firstChild and nextSibling of every record from its parent index, children in list
// order. Record 0, its own parent, is nobody's child.
template <class Entry>
void linkRecords(std::vector<Entry>& records) {
    const std::size_t n = records.size();
    std::vector<std::uint32_t> lastChild(n, kNoEntry);
    for (auto& r : records) r.firstChild = r.nextSibling = kNoEntry;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t p = records[i].parent;
        if (p >= n || p == i) continue;
        const auto me = static_cast<std::uint32_t>(i);
        if (lastChild[p] == kNoEntry)
            records[p].firstChild = me;
        else
            records[lastChild[p]].nextSibling = me;
        lastChild[p] = me;
    }
}

}  // namespace corvello
