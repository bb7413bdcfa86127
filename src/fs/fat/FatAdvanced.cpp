// The advanced mode of the FAT12/16/32 parser: for volumes whose boot sector or directory tree
// can no longer be trusted. The volume is searched for FAT copies, every cluster is scanned for
// directory slots that look genuine, and the records are built from what was found.

#include <algorithm>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "device/VolumeView.h"
#include "fs/fat/FatVolume.h"

namespace corvello {

namespace {

constexpr std::int64_t kSearchBlock = 10 * 1024 * 1024;
constexpr std::int64_t kScanBlock = 1024 * 1024;
constexpr std::size_t kMaxFound = 5'000'000;  // positions kept from one scan

bool inL1(std::uint8_t c) { return (c >= 0x41 && c <= 0x5B) || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool inL2(std::uint8_t c) { return (c >= 0x41 && c <= 0x5B) || (c >= 0x5F && c <= 0x7A) || (c >= '0' && c <= '9'); }
bool inL3(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool oneOf(std::uint8_t c, std::initializer_list<std::uint8_t> set) { return std::find(set.begin(), set.end(), c) != set.end(); }

bool plausibleDate(std::uint16_t d) { return plausibleDosDate(d); }
bool plausibleTime(std::uint16_t t) { return plausibleDosTime(t); }

bool isDotSlot(ByteSpan s) {
    return s[0] == '.' && s[1] == ' ' && (s[11] & 0x10) != 0 && s[32] == '.' && s[33] == '.';
}

}  // namespace

std::vector<std::int64_t> FatVolume::findFatTables(std::int64_t max) {
    std::vector<std::int64_t> found;
    if (reader_ == nullptr) return found;
    if (max <= 0) max = 3;
    const std::int64_t total = volumeBytes;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min<std::int64_t>(kSearchBlock, std::max<std::int64_t>(total, 0))));
    if (host != nullptr) host->setProgressRange(0, 1000);
    for (std::int64_t b = 0; b < total && static_cast<std::int64_t>(found.size()) < max; b += kSearchBlock) {
        if (host != nullptr) {
            host->setProgressPos(b * 1000 / total);
            if (isFat32())
                host->setStatus(format("Parsing Disk Currently at position %f of the disk of size %f", static_cast<double>(b),
                                       static_cast<double>(total)));
        }
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(kSearchBlock, total - b));
        readVolume(*reader_, b, block.data(), n);
        const ByteSpan bytes(block.data(), n);
        for (std::size_t s = 0; s + 8 <= n; s += 512) {
            const std::uint32_t e0 = le32(bytes, s);
            const std::uint32_t e1 = le32(bytes, s + 4);
            // FAT32 keeps four reserved bits on top of each entry: only the low 28 bits count.
            const bool hit = isFat32() ? (e0 & 0x0FFFFFFF) == 0x0FFFFFF8 && (e1 & 0x0FFFFFFF) == 0x0FFFFFFF
                                       : e0 == 0xFFFFFFF8;
            if (!hit) continue;
            found.push_back(b + static_cast<std::int64_t>(s));
            status(format("found fat entry  %d ", static_cast<int>(found.size())));
            if (static_cast<std::int64_t>(found.size()) >= max) break;
        }
        if (host != nullptr && host->checkpoint()) break;
    }
    if (host != nullptr) host->setProgressPos(1000);
    return found;
}

void FatVolume::useFatCandidate(std::int64_t offset) {
    bytesPerSector = 512;
    sectorsPerCluster = std::max<std::uint32_t>(advancedSectorsPerCluster, 1);
    clusterBytes = bytesPerSector * sectorsPerCluster;
    const std::uint64_t limit = isFat32() ? 0x0FFFFFF5u : (isFat12() ? 0xFF5u : 0xFFF5u);
    clusterCount = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max<std::int64_t>(volumeBytes, 0)) / clusterBytes, limit));
    const std::uint64_t entryBytes = isFat32() ? 4 : 2;
    fatOffset = std::max<std::int64_t>(offset, 0);
    fatBytes = (static_cast<std::uint64_t>(clusterCount) + 2) * entryBytes;
    fat_.setup(reader_, isFat12() ? FatKind::Fat12 : isFat32() ? FatKind::Fat32 : FatKind::Fat16, fatOffset, fatBytes,
               clusterCount + 1);
    if (!bootValid) {
        // Two FATs after the chosen one, then (FAT12/16) a root region of 512 slots.
        const std::int64_t fatSize = static_cast<std::int64_t>((fatBytes + 511) / 512 * 512);
        rootOffset = fatOffset + 2 * fatSize;
        rootBytes = isFat32() ? 0 : 16384;
        dataOffset = rootOffset + rootBytes;
    }
}

bool FatVolume::acceptSlot(ByteSpan s) const {
    const std::uint8_t first = s[0];
    const std::uint8_t second = s[1];
    const std::uint8_t attributes = s[11];
    const std::uint32_t cluster = (static_cast<std::uint32_t>(le16(s, 20)) << 16) | le16(s, 26);
    const bool times = plausibleDate(le16(s, 16)) && plausibleDate(le16(s, 18)) && plausibleDate(le16(s, 24)) &&
                       plausibleTime(le16(s, 14)) && plausibleTime(le16(s, 22));
    if (!isFat32()) {
        if (attributes == 0x0F)
            return s[12] == 0 && le16(s, 26) == 0 &&
                   (inL1(second) || oneOf(second, {0x20, 0x29, 0x2E, 0x7E, 0xE5}) || (first != 0xE5 && second == 0x5F));
        const bool secondOk = inL1(second) || oneOf(second, {0x20, 0x29, 0x2E, 0x7E, 0xE5});
        if (oneOf(attributes, {0x10, 0x11, 0x12, 0x14, 0x15, 0x16, 0x30}))
            return (inL1(first) || oneOf(first, {0x24, 0x7E, 0xE5})) && secondOk && times &&
                   (first == 0xE5 || (le32(s, 28) == 0 && cluster >= 1 && cluster < clusterCount));
        if (attributes == 0x20 || attributes == 0x26)
            return (inL1(first) || oneOf(first, {0x7E, 0xE5})) && secondOk && (s[12] == 0 || s[12] == 0x18) &&
                   cluster < clusterCount && times;
        return false;
    }
    // FAT32. Many writers leave the creation 10-ms byte 0: it is not required.
    const bool nonZero = le16(s, 18) != 0 && le16(s, 16) != 0 && le16(s, 24) != 0 && le16(s, 14) != 0 && le16(s, 22) != 0;
    const bool clusterOk = cluster >= 1 && cluster < clusterCount;
    if (attributes == 0x0F)
        return s[12] == 0 && le16(s, 26) == 0 && (inL2(second) || oneOf(second, {0x20, 0x29, 0x2C, 0x2E, 0x7E, 0xE5}));
    if (oneOf(attributes, {0x10, 0x11, 0x12, 0x14, 0x15, 0x16, 0x30}))
        return (inL2(first) || oneOf(first, {0x24, 0x7E, 0xE5})) &&
               (inL2(second) || oneOf(second, {0x20, 0x29, 0x2E, 0x7E, 0xE5})) && clusterOk && nonZero && times &&
               (first == 0xE5 || le32(s, 28) == 0);
    if (attributes == 0x20)
        return (inL2(first) || oneOf(first, {0x7E, 0xE5})) &&
               (inL2(second) || oneOf(second, {0x20, 0x2E, 0x5F, 0x7E, 0xE5})) && (s[12] == 0 || s[12] == 0x18) &&
               clusterOk && le32(s, 28) != 0 && nonZero && times;
    return false;
}

void FatVolume::calibrate(ByteSpan s, std::int64_t position, std::map<std::int64_t, std::uint32_t>& votes) const {
    // A folder's first cluster starts with its "." slot, which names that cluster: the two
    // together say where cluster 2 lies.
    if (s.size() < 64 || !isDotSlot(s)) return;
    const std::uint32_t cluster = isFat32() ? (static_cast<std::uint32_t>(le16(s, 20)) << 16) | le16(s, 26) : le16(s, 26);
    if (cluster < 2 || cluster > clusterCount + 1) return;
    const std::int64_t start = position - static_cast<std::int64_t>(cluster - 2) * clusterBytes;
    if (start > 0) ++votes[start];
}

void FatVolume::scanForSlots() {
    if (reader_ == nullptr || clusterBytes == 0) return;
    const std::int64_t total = std::max<std::int64_t>(volumeBytes, 0);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(kScanBlock) + 32);
    if (host != nullptr) host->setProgressRange(0, isFat32() ? 1000 : 100000);
    for (std::int64_t b = 0; b < total; b += kScanBlock) {
        if (host != nullptr) {
            if (host->checkpoint()) {
                // Stop ends the scan; the records are still built from what it found.
                host->clearStop();
                break;
            }
            host->setProgressPos(isFat32() ? b * 1000 / total : b * 100000 / total);
            if (!isFat32()) host->setStatus(format("currently at sector %lld of %lld", static_cast<long long>(b / 512),
                                                   static_cast<long long>(total / 512)));
        }
        // One slot more than the block, so that a "." slot can see the ".." slot after it.
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(kScanBlock, total - b));
        readVolume(*reader_, b, block.data(), n + 32);
        const ByteSpan bytes(block.data(), n + 32);
        for (std::size_t pos = 0; pos + 32 <= n; pos += 32) {
            const ByteSpan slot = bytes.subspan(pos, 32);
            const std::int64_t at = b + static_cast<std::int64_t>(pos);
            calibrate(bytes.subspan(pos, 64), at, dataStartVotes_);
            if (isFat32() && labelOffset_ < 0) {
                const std::uint8_t first = slot[0];
                const bool label = slot[11] == 0x08 || hasBytes(slot, 1, "RECYCLE");
                if (label && (inL3(first) || oneOf(first, {0x24, 0x7E, 0xE5})) &&
                    (inL3(slot[1]) || oneOf(slot[1], {0x20, 0x29, 0x2E, 0x7E, 0xE5})) && (slot[12] == 0 || slot[12] == 0x18) &&
                    slot[28] == 0)
                    labelOffset_ = at;
            }
            if (!acceptSlot(slot) || foundSlots.size() >= kMaxFound) continue;
            foundSlots.push_back(at);
            if (isFat32() && host != nullptr && (foundSlots.size() & 0xFF) == 1)
                host->setStatus(format("found file or directory =  %d ", static_cast<int>(foundSlots.size())));
        }
    }
}

std::vector<FatEntry> FatVolume::buildFromFoundSlots(std::int64_t /*offset*/) {
    // Where cluster 2 lies: the place most "." slots agree on, else what the boot sector or
    // the chosen FAT said.
    std::uint32_t best = 0;
    for (const auto& [start, count] : dataStartVotes_) {
        if (count > best) {
            best = count;
            dataOffset = start;
        }
    }
    if (best > 0 && !isFat32()) {
        rootBytes = 16384;
        rootOffset = std::max<std::int64_t>(dataOffset - rootBytes, 0);
    }
    for (std::int64_t position : foundSlots) {
        if (full_) break;
        if (host != nullptr) host->pauseGate().pass();
        if (!consumedSlots.insert(position).second) continue;
        const std::int64_t sector = position / 512 * 512;
        std::vector<std::uint8_t> buffer(2048);
        readVolume(*reader_, sector, buffer.data(), buffer.size());
        const std::size_t k = static_cast<std::size_t>(position - sector);
        if (advancedFirst_) {
            advancedFirst_ = false;
            if (!isFat32()) {
                rootAreaStart_ = rootOffset;
                rootAreaEnd_ = rootOffset + std::max<std::int64_t>(rootBytes, clusterBytes);
            } else {
                rootAreaStart_ = labelOffset_ >= 0 ? labelOffset_ : (best > 0 || bootValid ? dataOffset : position - 32);
                rootAreaEnd_ = rootAreaStart_ + clusterBytes;
            }
            entries.clear();
            FatEntry dummy;
            dummy.attributes = 0x0F;
            dummy.name = u"DUMMY ENTRY";
            append(dummy);
            FatEntry orphan;
            orphan.attributes = 0x10;
            orphan.name = u"ORPHAN ENTRY";
            orphan.parent = 0;
            append(orphan);
        }
        if (buffer[k] == '.') continue;
        // A long-name run and the 8.3 slot it belongs to, within the 2,048 bytes read.
        std::size_t end = k;
        while (end + 32 <= buffer.size() && (buffer[end + 11] & 0x3F) == 0x0F && (end - k) / 32 < 20) end += 32;
        if (end + 32 > buffer.size() || (buffer[end + 11] & 0x3F) == 0x0F) continue;
        for (std::size_t p = k + 32; p < end; p += 32) consumedSlots.insert(sector + static_cast<std::int64_t>(p));
        const std::vector<std::uint8_t> slice(buffer.begin() + static_cast<long>(k), buffer.begin() + static_cast<long>(end + 32));
        const bool inRoot = position >= rootAreaStart_ && position < rootAreaEnd_;
        SlotPlaces places;
        places.starts = {position};
        places.unit = slice.size();
        walkDirectory(slice, inRoot ? 0 : 1, 0, false, places);
    }
    for (std::size_t i = 0; i < deferredFolders_.size() && !stopped_; ++i) {
        const auto [index, depth] = deferredFolders_[i];
        walkFolder(index, depth);
    }
    deferredFolders_.clear();
    return entries;
}

}  // namespace corvello

namespace corvello {

std::vector<std::uint32_t> sectorsPerClusterChoices(const FatVolume& parser, bool bootValid) {
    std::vector<std::uint32_t> out;
    const std::uint32_t boot = parser.bootSectorsPerCluster;
    // The boot sector's own value comes first whenever it has one (also 1, which the fixed lists lack).
    if (bootValid && boot != 0) out.push_back(boot);
    const std::vector<std::uint32_t> usual =
        parser.isFat32() ? std::vector<std::uint32_t>{2, 4, 16, 32, 64, 8} : std::vector<std::uint32_t>{4, 8, 16, 2, 32, 64, 128};
    out.insert(out.end(), usual.begin(), usual.end());
    return out;
}

}  // namespace corvello
