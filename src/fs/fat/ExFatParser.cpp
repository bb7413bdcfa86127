#include "fs/fat/ExFatParser.h"

#include <algorithm>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "device/VolumeView.h"
#include "partition/BootSector.h"
#include "platform/Files.h"

namespace corvello {

namespace {

constexpr int kMaxDepth = 128;
constexpr std::uint64_t kMaxFolderBytes = 32u << 20;  // far above what a folder of files needs
constexpr int kMaxNameEntries = 32;

bool isFileEntry(std::uint8_t t) { return t == 0x85 || t == 0x05; }
bool isStreamEntry(std::uint8_t t) { return t == 0xC0 || t == 0x40; }
bool isNameEntry(std::uint8_t t) { return t == 0xC1 || t == 0x41; }

// A timestamp a writer can have stored, or none.
bool plausibleTimestamp(std::uint32_t t) {
    return t == 0 || (plausibleDosDate(static_cast<std::uint16_t>(t >> 16)) &&
                      plausibleDosTime(static_cast<std::uint16_t>(t & 0xFFFF)));
}

}  // namespace

// A folder read past its end (a damaged length or chain that runs into file data) offers data
// as entries: a set becomes a record only when it can be one of this volume: its count of
// secondary entries, attributes, times and stream flags as a writer leaves them, a name that
// fits its name entries, a first cluster of the heap and a length the clusters from the first
// to the heap's end can hold. (Its checksum is not asked for: a set damaged in one field still
// names its file.)
bool ExFatParser::plausibleSet(std::uint8_t secondaryCount, const ExFatEntry& e) const {
    const std::size_t secondaries = secondaryCount;
    if (secondaries < 2 || secondaries > 18) return false;
    if ((e.attributes & 0xFFC8) != 0) return false;
    if (!plausibleTimestamp(e.createTimestamp) || !plausibleTimestamp(e.modifyTimestamp) ||
        !plausibleTimestamp(e.accessTimestamp) || e.create10ms > 199 || e.modify10ms > 199)
        return false;
    if ((e.streamFlags & 0xFC) != 0 || e.nameLength == 0) return false;
    if ((static_cast<std::size_t>(e.nameLength) + 14) / 15 > secondaries - 1) return false;
    if (e.validDataLength > e.dataLength) return false;
    if (e.dataLength > 0) {
        if (!fat_.isCluster(e.firstCluster)) return false;
        const std::uint64_t room = (static_cast<std::uint64_t>(fat_.maxCluster()) - e.firstCluster + 1) * clusterBytes;
        if (e.dataLength > room) return false;
    }
    return true;
}

bool ExFatParser::checkBootSector() {
    bootValid = false;
    if (reader_ == nullptr) return false;
    std::uint8_t boot[512];
    readVolume(*reader_, 0, boot, sizeof boot);
    const ByteSpan s(boot, sizeof boot);
    if (!hasBytes(s, 3, "EXFAT")) {
        // The first sector is gone: the backup boot region starts at sector 12.
        readVolume(*reader_, kExFatBackupSector * 512, boot, sizeof boot);
        if (!hasBytes(s, 3, "EXFAT") || classifyExFat(s).kind != BootKind::ExFat) return false;
        status(backupStatusText(BootKind::ExFat, kExFatBackupSector * 512));
    }
    const unsigned bpsShift = u8(s, 108);
    const unsigned spcShift = u8(s, 109);
    // Sectors of 512 to 4,096 bytes, clusters of at most 32 MiB.
    if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift) return false;
    const std::uint64_t fatSector = le32(s, 80);
    const std::uint64_t fatLength = le32(s, 84);
    const std::uint64_t heapSector = le32(s, 88);
    const std::uint32_t count = le32(s, 92);
    const std::uint32_t root = le32(s, 96);
    if (fatSector == 0 || fatLength == 0 || heapSector == 0 || count == 0 || count > 0xFFFFFFF5u) return false;
    if (root < 2 || root > static_cast<std::uint64_t>(count) + 1) return false;

    bytesPerSector = 1u << bpsShift;
    sectorsPerCluster = 1u << spcShift;
    clusterBytes = bytesPerSector * sectorsPerCluster;
    fatOffset = static_cast<std::int64_t>(fatSector * bytesPerSector);
    fatBytes = std::min<std::uint64_t>(fatLength * bytesPerSector, (static_cast<std::uint64_t>(count) + 2) * 4);
    heapOffset = static_cast<std::int64_t>(heapSector * bytesPerSector);
    clusterCount = count;
    rootCluster = root;
    bootClusterShift = static_cast<std::uint8_t>(spcShift);
    fat_.setup(reader_, FatKind::ExFat, fatOffset, fatBytes, count + 1);
    bootValid = true;
    return true;
}

std::uint32_t ExFatParser::nextCluster(std::uint32_t cluster) {
    if (driveFormatted) return 0;
    return fat_.next(cluster);
}

ClusterSource ExFatParser::source(bool contiguous) {
    ClusterSource s;
    s.reader = reader_;
    s.fat = &fat_;
    s.dataOffset = heapOffset;
    s.clusterBytes = clusterBytes;
    s.contiguous = contiguous;
    return s;
}

bool ExFatParser::readRootCluster() {
    rootBuffer_.clear();
    if (!bootValid) return false;
    const std::uint64_t limit = driveFormatted ? clusterBytes : kMaxFolderBytes;
    rootBuffer_ = readFolderClusters(source(false), rootCluster, limit, false, visitedClusters_);
    return !rootBuffer_.empty();
}

bool ExFatParser::append(ExFatEntry& entry) { return appendRecord(entries, entry); }

std::vector<ExFatEntry> ExFatParser::parseRootDirectory() {
    entries.clear();
    ExFatEntry dummy;
    dummy.name = u"DUMMY ENTRY";
    append(dummy);
    walkDirectory(rootBuffer_, 0, 0);
    for (std::size_t i = 0; i < deferredFolders_.size() && !stopped_; ++i) {
        const auto [index, depth] = deferredFolders_[i];
        walkFolder(index, depth);
    }
    deferredFolders_.clear();
    rootBuffer_.clear();
    rootBuffer_.shrink_to_fit();
    return entries;
}

bool ExFatParser::contiguousData(const ExFatEntry& e) {
    // Without a FAT chain the clusters follow each other; a deleted file whose chain was
    // freed is taken the same way.
    return driveFormatted || (e.streamFlags & 0x02) != 0 || (e.entryType == 0x05 && fat_.isFree(e.firstCluster));
}

void ExFatParser::walkFolder(std::uint32_t index, int depth) {
    if (depth >= kMaxDepth) return;
    const ExFatEntry& e = entries[index];
    const bool contiguous = contiguousData(e);
    std::uint64_t limit = std::min<std::uint64_t>(std::max<std::uint64_t>(e.dataLength, clusterBytes), kMaxFolderBytes);
    if (driveFormatted) limit = clusterBytes;
    std::vector<std::int64_t> starts;
    const auto bytes = readFolderClusters(source(contiguous), e.firstCluster, limit, false, visitedClusters_, &starts);
    walkDirectory(bytes, index, depth + 1, starts, clusterBytes, advancedMarker != 0);
}

void ExFatParser::walkDirectory(const std::vector<std::uint8_t>& bytes, std::uint32_t parent, int depth,
                               const std::vector<std::int64_t>& starts, std::uint64_t unit, bool consume) {
    if (host != nullptr && host->checkpoint()) stopped_ = true;
    if (stopped_ || full_) return;
    std::map<std::uint32_t, std::uint32_t> seenHere;
    const std::size_t n = bytes.size() / 32;
    const ByteSpan all(bytes.data(), n * 32);
    for (std::size_t k = 0; k < n && !full_; ++k) {
        if (!isFileEntry(all[k * 32])) continue;
        if (consume && unit != 0 && k * 32 / unit < starts.size()) {
            const std::int64_t at = starts[k * 32 / unit] + static_cast<std::int64_t>(k * 32 % unit);
            if (!consumedSlots.insert(at).second) break;
        }
        const ByteSpan f = all.subspan(k * 32, 32);
        ExFatEntry e;
        e.entryType = f[0];
        e.attributes = le16(f, 4);
        e.createTimestamp = le32(f, 8);
        e.modifyTimestamp = le32(f, 12);
        e.accessTimestamp = le32(f, 16);
        e.create10ms = f[20];
        e.modify10ms = f[21];
        e.createUtcOffset = f[22];
        e.modifyUtcOffset = f[23];
        e.accessUtcOffset = f[24];
        if (parent == 0 && !haveDummyFields_ && !entries.empty()) {
            // Record 0 carries the type, attributes and times of the root's first entry set.
            ExFatEntry& d = entries[0];
            d.entryType = e.entryType;
            d.attributes = e.attributes;
            d.createTimestamp = e.createTimestamp;
            d.modifyTimestamp = e.modifyTimestamp;
            d.accessTimestamp = e.accessTimestamp;
            haveDummyFields_ = true;
        }
        std::size_t next = k + 1;
        if (next >= n || !isStreamEntry(all[next * 32])) continue;  // a set without its stream is lost
        const ByteSpan st = all.subspan(next * 32, 32);
        e.streamType = st[0];
        e.streamFlags = st[1];
        e.nameLength = st[3];
        e.validDataLength = le64(st, 8);
        e.firstCluster = le32(st, 20);
        e.dataLength = le64(st, 24);
        ++next;
        for (int count = 0; next < n && count < kMaxNameEntries && isNameEntry(all[next * 32]); ++count, ++next) {
            const ByteSpan ne = all.subspan(next * 32, 32);
            for (std::size_t off = 2; off < 32; off += 2) {
                const char16_t c = le16(ne, off);
                if (c == 0) break;
                e.name.push_back(c);
            }
        }
        // The name is as long as the stream entry says: a name entry left over from an older,
        // longer set that follows this one adds nothing to it.
        if (e.nameLength > 0 && e.name.size() > e.nameLength) e.name.resize(e.nameLength);
        if (!plausibleSet(f[1], e)) continue;
        k = next - 1;
        e.parent = parent;

        if (!isExFatDirectory(e.attributes)) {
            append(e);
            continue;
        }
        if (e.firstCluster >= 2) {
            const auto seen = seenHere.find(e.firstCluster);
            if (seen != seenHere.end() && seen->second < entries.size()) {
                entries[seen->second].name = e.name;
                continue;
            }
        }
        if (!append(e)) break;
        const std::uint32_t index = static_cast<std::uint32_t>(entries.size() - 1);
        if (e.firstCluster >= 2) seenHere[e.firstCluster] = index;
        if (e.entryType == 0x05)
            deferredFolders_.emplace_back(index, depth);
        else
            walkFolder(index, depth);
    }
}

void ExFatParser::linkEntries() {
    linkRecords(entries);
    copyLinks(entries, entryCopy);
}

void ExFatParser::fillTree() {
    fillTopLevel(
        entries, [](const ExFatEntry& e) { return isExFatDirectory(e.attributes); },
        [](const ExFatEntry& e) { return e.entryType == 0x05 || e.name == u"ORPHAN ENTRY"; });
}

std::vector<ClusterRun> ExFatParser::dataRuns(const ExFatEntry& e) {
    return clusterRuns(source(contiguousData(e)), e.firstCluster, std::min(e.validDataLength, e.dataLength));
}

}  // namespace corvello
