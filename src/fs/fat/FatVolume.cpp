#include "fs/fat/FatVolume.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "device/VolumeView.h"
#include "partition/BootSector.h"
#include "platform/Files.h"

namespace corvello {

namespace {

constexpr int kMaxDepth = 128;                        // folders nested deeper are listed, not read
constexpr std::uint64_t kMaxFolderBytes = 65536 * 32;  // a FAT folder holds at most 65,536 slots
constexpr std::size_t kMaxLongNameSlots = 20;         // 255 characters

bool isLongNameSlot(std::uint8_t attributes) { return (attributes & 0x3F) == 0x0F; }

// Bytes no writer puts into an 8.3 name (below 0x80; OEM letters above it are all allowed).
bool forbiddenInShortName(std::uint8_t c) {
    if (c < 0x20) return true;
    static constexpr char kForbidden[] = "\"*+,./:;<=>?[\\]|";
    for (const char f : std::string_view(kForbidden))
        if (c == static_cast<std::uint8_t>(f)) return true;
    return false;
}

// A long-name slot keeps its cluster field and its type byte 0.
bool plausibleLongNameSlot(ByteSpan slot) { return slot[12] == 0 && le16(slot, 26) == 0; }

}  // namespace

// A directory read past its end (a damaged root-entry count, a chain that runs into file data)
// offers file data as slots: a slot becomes a record only when it can be an entry of this
// volume: a name of 8.3 characters, no reserved attribute bit, dates and times a writer can
// store (or none), a first cluster of the volume, and a size the clusters from the first to the
// volume's end can hold (none for a live folder).
bool FatVolume::plausibleSlot(ByteSpan s) const {
    const std::uint8_t attributes = s[11];
    if ((attributes & 0xC0) != 0) return false;
    for (std::size_t i = 0; i < 11; ++i) {
        const std::uint8_t c = s[i];
        if (i == 0 && (c == 0xE5 || c == 0x05)) continue;  // the deletion mark, a leading 0xE5
        if (forbiddenInShortName(c) || (i == 0 && c == ' ')) return false;
    }
    if (s[13] > 199) return false;  // hundredths of the creation time's two seconds
    if (!plausibleDosTime(le16(s, 14)) || !plausibleDosTime(le16(s, 22))) return false;
    for (const std::size_t at : {16, 18, 24}) {
        const std::uint16_t date = le16(s, at);
        if (date != 0 && !plausibleDosDate(date)) return false;
    }
    const std::uint32_t first = isFat32() ? (static_cast<std::uint32_t>(le16(s, 20)) << 16) | le16(s, 26) : le16(s, 26);
    const std::uint64_t size = le32(s, 28);
    // A folder records no size (a deleted one may have lost its clusters' high word, and with
    // it everything but its name).
    if (isFatDirectory(attributes)) return s[0] == 0xE5 || (size == 0 && fat_.isCluster(first));
    if (first == 0) return size == 0;
    if (!fat_.isCluster(first)) return false;
    const std::uint64_t room = (static_cast<std::uint64_t>(fat_.maxCluster()) - first + 1) * clusterBytes;
    return size <= room;
}

bool FatVolume::acceptBootSector(bool fat32) {
    bootValid = false;
    if (reader_ == nullptr) return false;
    std::uint8_t boot[512];
    readVolume(*reader_, 0, boot, sizeof boot);
    const ByteSpan s(boot, sizeof boot);
    BootInfo info = classifyFat(s);
    if (fat32 && info.kind == BootKind::None) {
        // The first sector is gone: FAT32 keeps a copy of it in sector 6.
        std::uint8_t backup[512];
        readVolume(*reader_, kFat32BackupSector * 512, backup, sizeof backup);
        if (isFat32Backup(ByteSpan(backup, sizeof backup))) {
            std::memcpy(boot, backup, sizeof boot);
            info = classifyFat(s);
            status(backupStatusText(info.kind, kFat32BackupSector * 512));
        }
    }
    const bool wanted = fat32 ? info.kind == BootKind::Fat32
                              : (info.kind == BootKind::Fat12 || info.kind == BootKind::Fat16);
    if (!wanted) return false;
    kind_ = info.kind == BootKind::Fat12 ? FatKind::Fat12 : info.kind == BootKind::Fat16 ? FatKind::Fat16 : FatKind::Fat32;

    // classifyFat has checked the fields below for range and consistency.
    bytesPerSector = le16(s, 11);
    sectorsPerCluster = u8(s, 13);
    const std::uint64_t reserved = le16(s, 14);
    const std::uint64_t fats = u8(s, 16);
    const std::uint64_t rootEntries = le16(s, 17);
    const std::uint64_t totalSectors = le16(s, 19) != 0 ? le16(s, 19) : le32(s, 32);
    const std::uint64_t fatSectors = le16(s, 22) != 0 ? le16(s, 22) : le32(s, 36);
    const std::uint64_t rootSectors = (rootEntries * 32 + bytesPerSector - 1) / bytesPerSector;

    clusterBytes = bytesPerSector * sectorsPerCluster;
    fatOffset = static_cast<std::int64_t>(reserved * bytesPerSector);
    fatBytes = fatSectors * bytesPerSector;
    rootOffset = static_cast<std::int64_t>((reserved + fats * fatSectors) * bytesPerSector);
    rootBytes = static_cast<std::uint32_t>(rootEntries * 32);
    dataOffset = rootOffset + static_cast<std::int64_t>(rootSectors * bytesPerSector);
    const std::uint64_t dataSectors = totalSectors - (reserved + fats * fatSectors + rootSectors);
    clusterCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(dataSectors / sectorsPerCluster, 0x0FFFFFF5));
    rootCluster = isFat32() ? le32(s, 44) : 0;
    bootSectorsPerCluster = static_cast<std::uint8_t>(sectorsPerCluster);
    bootValid = true;
    return true;
}

void FatVolume::readFat() {
    if (!bootValid || reader_ == nullptr) return;
    fat_.setup(reader_, kind_, fatOffset, fatBytes, clusterCount + 1);
}

std::uint32_t FatVolume::nextCluster(std::uint32_t cluster) {
    if (driveFormatted) return 0;
    return fat_.next(cluster);
}

std::uint32_t FatVolume::firstCluster(const FatEntry& e) const {
    // On FAT12 and FAT16 the high word is not part of the cluster number.
    return isFat32() ? firstClusterOf(e) : e.clusterLow;
}

ClusterSource FatVolume::source(bool contiguous) {
    ClusterSource s;
    s.reader = reader_;
    s.fat = &fat_;
    s.dataOffset = dataOffset;
    s.clusterBytes = clusterBytes;
    s.contiguous = contiguous;
    return s;
}

void FatVolume::readRootDirectory() {
    rootBuffer_.clear();
    if (!bootValid || reader_ == nullptr) return;
    if (isFat32()) {
        // The root is an ordinary cluster chain that starts at the boot sector's root cluster.
        const std::uint64_t limit = driveFormatted ? clusterBytes : kMaxFolderBytes;
        rootBuffer_ = readFolderClusters(source(false), rootCluster, limit, false, visitedClusters_, &rootStarts_);
        return;
    }
    rootBuffer_.resize(rootBytes);
    readVolume(*reader_, rootOffset, rootBuffer_.data(), rootBuffer_.size());
    rootStarts_ = {rootOffset};
}

bool FatVolume::append(FatEntry& entry) { return appendRecord(entries, entry); }

std::vector<FatEntry> FatVolume::parseRootDirectory() {
    entries.clear();
    // Record 0 stands for the root folder; it carries the fields of the first root slot.
    FatEntry dummy;
    if (rootBuffer_.size() >= 32) {
        const ByteSpan first(rootBuffer_.data(), 32);
        dummy.attributes = u8(first, 11);
        dummy.createTimeTenth = u8(first, 13);
        dummy.createTime = le16(first, 14);
        dummy.createDate = le16(first, 16);
        dummy.accessDate = le16(first, 18);
        dummy.clusterHigh = le16(first, 20);
        dummy.writeTime = le16(first, 22);
        dummy.writeDate = le16(first, 24);
        dummy.clusterLow = le16(first, 26);
        dummy.size = le32(first, 28);
    }
    dummy.name = u"DUMMY ENTRY";
    append(dummy);

    SlotPlaces places;
    places.starts = rootStarts_;
    places.unit = isFat32() ? clusterBytes : rootBytes;
    liveWalk_ = advancedMarker == 0;
    walkDirectory(rootBuffer_, 0, 0, false, places);
    liveWalk_ = false;
    checkDataStart();
    // Deleted folders are read after the live tree, so that a live folder is never left empty
    // because a stale slot elsewhere names its clusters.
    for (std::size_t i = 0; i < deferredFolders_.size() && !stopped_; ++i) {
        const auto [index, depth] = deferredFolders_[i];
        walkFolder(index, depth);
    }
    deferredFolders_.clear();
    rootBuffer_.clear();
    rootBuffer_.shrink_to_fit();
    return entries;
}

void FatVolume::walkFolder(std::uint32_t index, int depth) {
    if (depth >= kMaxDepth) return;
    const std::uint32_t first = firstCluster(entries[index]);
    const std::uint64_t limit = driveFormatted ? clusterBytes : kMaxFolderBytes;
    SlotPlaces places;
    places.unit = clusterBytes;
    places.consume = advancedMarker != 0;
    const bool seen = visitedClusters_.count(first) != 0;
    const auto bytes = readFolderClusters(source(false), first, limit, true, visitedClusters_, &places.starts);
    if (liveWalk_ && entries[index].deleted == 0 && !seen && fat_.isCluster(first)) {
        // A live folder's first cluster begins with its "." slot; one that does not was
        // overwritten, or does not lie where the boot sector puts it.
        if (bytes.empty()) {
            if (unreadFolders_.size() < 4) unreadFolders_.push_back(first);
        } else {
            ++readFolders_;
        }
    }
    walkDirectory(bytes, index, depth + 1, true, places);
}

// When not one live folder begins where the boot sector puts it, the data area may lie
// elsewhere: a damaged count of root slots (FAT12/16) moves every cluster. The folders' own
// "." slots tell where cluster 2 lies; when they agree on another place, the files' data cannot
// be found from this boot sector, and the scan says so.
void FatVolume::checkDataStart() {
    if (isFat32() || advancedMarker != 0 || readFolders_ > 0 || unreadFolders_.empty() || reader_ == nullptr) return;
    // A root region holds at most 65,535 slots: cluster 2 lies within that much after the FATs.
    const std::uint64_t span = 65536ull * 32;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(span + 64));
    std::int64_t found = -1;
    for (const std::uint32_t c : unreadFolders_) {
        const std::int64_t base = rootOffset + static_cast<std::int64_t>(c - 2) * clusterBytes;
        readVolume(*reader_, base, bytes.data(), bytes.size());
        std::int64_t here = -1;
        for (std::uint64_t k = 0; k < span && here < 0; k += bytesPerSector) {
            const ByteSpan dot(bytes.data() + k, 64);
            if (hasBytes(dot, 0, ".          ") && (dot[11] & 0x10) != 0 && le16(dot, 26) == (c & 0xFFFF) &&
                hasBytes(dot, 32, "..         ") && (dot[43] & 0x10) != 0)
                here = rootOffset + static_cast<std::int64_t>(k);
        }
        if (here < 0 || here == dataOffset || (found >= 0 && here != found)) return;
        found = here;
    }
    dataMisplaced_ = true;
    if (host != nullptr) {
        const std::int64_t shift = found - dataOffset;
        host->notice(format("The boot sector of this volume does not fit its folders: they lie %lld bytes %s the "
                            "place it gives them. The files are listed, but their data could not be found; the "
                            "advanced mode finds the folders where they lie.",
                            static_cast<long long>(shift < 0 ? -shift : shift), shift < 0 ? "before" : "after"));
    }
}

void FatVolume::walkDirectory(const std::vector<std::uint8_t>& bytes, std::uint32_t parent, int depth,
                              bool subfolder, const SlotPlaces& places) {
    if (host != nullptr && host->checkpoint()) stopped_ = true;
    if (stopped_ || full_) return;

    // The long name being collected: its pieces in disk order (the end of the name first).
    std::vector<std::u16string> pieces;
    bool inRun = false;
    bool runDeleted = false;
    std::uint8_t runChecksum = 0;
    std::u16string pending;
    bool havePending = false;
    // First cluster of each folder of this directory, and its record.
    std::map<std::uint32_t, std::uint32_t> seenHere;

    const std::size_t slots = bytes.size() / 32;
    for (std::size_t k = 0; k < slots && !full_; ++k) {
        const std::size_t pos = k * 32;
        const ByteSpan slot(bytes.data() + pos, 32);
        const std::uint8_t b0 = slot[0];
        const std::uint8_t attributes = slot[11];

        if (b0 == 0) {
            inRun = havePending = false;
            // FAT32 folders end a cluster at the first empty slot; elsewhere the walk goes on, so
            // deleted slots that follow are still found.
            if (subfolder && isFat32() && clusterBytes >= 32) k = (pos / clusterBytes + 1) * (clusterBytes / 32) - 1;
            continue;
        }
        if (places.consume && b0 != '.') {
            // A slot that an earlier walk or record already used ends this folder.
            const std::int64_t at = places.at(pos);
            if (at >= 0 && !consumedSlots.insert(at).second) break;
        }
        if (isLongNameSlot(attributes) && !plausibleLongNameSlot(slot)) {
            inRun = havePending = false;
            continue;
        }
        if (isLongNameSlot(attributes)) {
            const bool startsRun = !inRun || (b0 != 0xE5 && (b0 & 0x40) != 0) || pieces.size() >= kMaxLongNameSlots;
            if (startsRun) {
                pieces.clear();
                runDeleted = b0 == 0xE5;
                inRun = true;
            }
            pieces.push_back(longNamePiece(slot));
            runChecksum = slot[13];
            havePending = false;
            continue;
        }
        if (inRun) {
            pending.clear();
            for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) pending += *it;
            havePending = true;
            inRun = false;
        }
        if (advancedMarker != 0 && attributes == 0xCD) {
            havePending = false;
            continue;
        }
        if (b0 == '.' || (attributes & 0x08) != 0 || !plausibleSlot(slot)) {
            // "." and "..", the volume label, and data that only sits where a slot could be:
            // not files of the volume.
            havePending = false;
            continue;
        }

        FatEntry e;
        e.attributes = attributes;
        e.caseFlags = slot[12];
        e.createTimeTenth = slot[13];
        e.createTime = le16(slot, 14);
        e.createDate = le16(slot, 16);
        e.accessDate = le16(slot, 18);
        e.clusterHigh = le16(slot, 20);
        e.writeTime = le16(slot, 22);
        e.writeDate = le16(slot, 24);
        e.clusterLow = le16(slot, 26);
        e.size = le32(slot, 28);
        e.parent = parent;
        const bool folder = isFatDirectory(attributes);
        // A long name belongs to this slot when its checksum matches the 8.3 name; a deleted
        // slot has lost its first letter, so its long name is taken as it comes.
        const bool useLong = havePending && !pending.empty() && (b0 == 0xE5 || runChecksum == shortNameChecksum(slot));
        if (useLong) {
            e.name = pending;
            e.deleted = (b0 == 0xE5 || runDeleted) ? 1 : 0;
        } else {
            e.name = shortNameOf(slot, codePage);
            e.deleted = b0 == 0xE5 ? 1 : 0;
        }
        havePending = false;

        if (!folder) {
            append(e);
            continue;
        }
        const std::uint32_t first = firstCluster(e);
        if (first >= 2) {
            const auto seen = seenHere.find(first);
            if (seen != seenHere.end() && seen->second < entries.size()) {
                // Two slots of one folder name the same clusters: one record, the later name.
                entries[seen->second].name = e.name;
                entries[seen->second].deleted = e.deleted;
                continue;
            }
        }
        if (!append(e)) break;
        const std::uint32_t index = static_cast<std::uint32_t>(entries.size() - 1);
        if (first >= 2) seenHere[first] = index;
        if (e.deleted)
            deferredFolders_.emplace_back(index, depth);
        else
            walkFolder(index, depth);
    }
}

void FatVolume::linkEntries() {
    if (host != nullptr) host->setProgressRange(0, 1000);
    linkRecords(entries);
    copyLinks(entries, entryCopy);
    if (host != nullptr) host->setProgressPos(1000);
}

void FatVolume::fillTree() {
    fillTopLevel(
        entries, [](const FatEntry& e) { return isFatDirectory(e.attributes); },
        [](const FatEntry& e) { return e.deleted != 0; });
}

std::vector<ClusterRun> FatVolume::dataRuns(const FatEntry& e) {
    const std::uint32_t first = firstCluster(e);
    // A deleted file's chain is usually gone from the FAT: its clusters are taken as stored
    // one after another, as they are for a volume whose FATs were rewritten.
    const bool contiguous = driveFormatted || (e.deleted != 0 && fat_.isFree(first));
    return clusterRuns(source(contiguous), first, e.size);
}

}  // namespace corvello
