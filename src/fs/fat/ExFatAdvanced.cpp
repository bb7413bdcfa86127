// The advanced mode of the exFAT parser: FAT and cluster-heap search, a scan of every cluster
// for entry sets that look genuine, and the records built from them. (Fat64Advanced.cpp in the
// original design.)

#include <algorithm>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "device/VolumeView.h"
#include "fs/fat/ExFatParser.h"

namespace corvello {

namespace {

constexpr std::int64_t kSearchBlock = 10 * 1024 * 1024;
constexpr std::int64_t kScanBlock = 1024 * 1024;
constexpr std::size_t kSetTail = 20 * 32;  // the longest entry set: file, stream and 18 names
constexpr std::size_t kMaxFound = 5'000'000;  // positions kept from one scan

bool allZero(ByteSpan b, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
        if (b[i] != 0) return false;
    return true;
}

// The length in bytes of an entry set that looks genuine at the start of b, or 0.
std::size_t acceptedSet(ByteSpan b) {
    if (b.size() < 96) return 0;
    const std::uint8_t t = b[0];
    if (t != 0x85 && t != 0x05) return 0;
    const std::uint8_t a = b[4];
    if (a != 0x10 && a != 0x11 && a != 0x12 && a != 0x13 && a != 0x15 && a != 0x20 && a != 0x30) return 0;
    if (b[6] != 0 || b[7] != 0 || !allZero(b, 25, 32)) return 0;
    const ByteSpan st = b.subspan(32, 32);
    if ((st[0] != 0xC0 && st[0] != 0x40) || st[2] != 0 || st[6] != 0 || st[7] != 0 || !allZero(st, 16, 20)) return 0;
    if (st[1] != 1 && st[1] != 3) return 0;
    const std::size_t names = (static_cast<std::size_t>(st[3]) + 14) / 15;
    if (names == 0 || 64 + names * 32 > b.size()) return 0;
    for (std::size_t i = 0; i < names; ++i) {
        const ByteSpan n = b.subspan(64 + i * 32, 32);
        if ((n[0] != 0xC1 && n[0] != 0x41) || n[1] > 3) return 0;
    }
    return 64 + names * 32;
}

}  // namespace

std::vector<std::int64_t> ExFatParser::findFatTables(std::int64_t max) {
    std::vector<std::int64_t> found;
    if (reader_ == nullptr) return found;
    if (max <= 0) max = 3;
    const std::int64_t total = std::max<std::int64_t>(volumeBytes, 0);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min(kSearchBlock, total)));
    if (host != nullptr) host->setProgressRange(0, 1000);
    for (std::int64_t b = 0; b < total && static_cast<std::int64_t>(found.size()) < max; b += kSearchBlock) {
        if (host != nullptr) host->setProgressPos(b * 1000 / total);
        const std::size_t n = static_cast<std::size_t>(std::min(kSearchBlock, total - b));
        readVolume(*reader_, b, block.data(), n);
        const ByteSpan bytes(block.data(), n);
        for (std::size_t s = 0; s + 8 <= n; s += 512) {
            if (le32(bytes, s) != 0xFFFFFFF8u || le32(bytes, s + 4) != 0xFFFFFFFFu) continue;
            found.push_back(b + static_cast<std::int64_t>(s));
            status(format("found fat entry  %d ", static_cast<int>(found.size())));
            if (static_cast<std::int64_t>(found.size()) >= max) break;
        }
        if (host != nullptr && host->checkpoint()) break;
    }
    if (host != nullptr) host->setProgressPos(1000);
    return found;
}

std::vector<std::int64_t> ExFatParser::findHeapStarts(std::int64_t max) {
    std::vector<std::int64_t> found;
    if (reader_ == nullptr) return found;
    if (max <= 0) max = 3;
    const std::int64_t total = std::max<std::int64_t>(volumeBytes, 0);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min(kSearchBlock, total)));
    for (std::int64_t b = 0; b < total && static_cast<std::int64_t>(found.size()) <= max; b += kSearchBlock) {
        if (host != nullptr && host->checkpoint()) break;
        const std::size_t n = static_cast<std::size_t>(std::min(kSearchBlock, total - b));
        readVolume(*reader_, b, block.data(), n);
        const ByteSpan bytes(block.data(), n);
        for (std::size_t s = 0; s + 8 <= n; s += 512) {
            if (le32(bytes, s) != 0xFFFFFFFFu || le32(bytes, s + 4) != 0xFFFFFFFFu) continue;
            found.push_back(b + static_cast<std::int64_t>(s));
            if (static_cast<std::int64_t>(found.size()) > max) break;
        }
    }
    return found;
}

void ExFatParser::setAdvancedClusterShift(unsigned shift) {
    advancedMarker = static_cast<std::uint16_t>(advancedMarker + 1);
    bytesPerSector = 512;
    sectorsPerCluster = 1u << std::min(shift, 16u);  // clusters of at most 32 MiB
    clusterBytes = bytesPerSector * sectorsPerCluster;
}

void ExFatParser::scanForSlots() {
    if (reader_ == nullptr || clusterBytes == 0) return;
    const std::int64_t total = std::max<std::int64_t>(volumeBytes, 0);
    std::vector<std::uint8_t> block(static_cast<std::size_t>(kScanBlock) + kSetTail);
    if (host != nullptr) host->setProgressRange(0, 1000);
    std::int64_t resume = 0;  // the scan goes on after an accepted set
    for (std::int64_t b = 0; b < total; b += kScanBlock) {
        if (host != nullptr) {
            if (host->checkpoint()) {
                // Stop ends the scan; the records are still built from what it found.
                host->clearStop();
                break;
            }
            host->setProgressPos(b * 1000 / total);
        }
        const std::size_t n = static_cast<std::size_t>(std::min(kScanBlock, total - b));
        readVolume(*reader_, b, block.data(), n + kSetTail);
        const ByteSpan bytes(block.data(), n + kSetTail);
        for (std::size_t pos = 0; pos + 32 <= n; pos += 32) {
            const std::int64_t at = b + static_cast<std::int64_t>(pos);
            if (at < resume) continue;
            if (bytes[pos] == 0x83 && allZero(bytes, pos + 24, pos + 32)) labelOffset = at;
            const std::size_t length = acceptedSet(bytes.subspan(pos, std::min<std::size_t>(kSetTail, bytes.size() - pos)));
            if (length == 0 || foundSlots.size() >= kMaxFound) continue;
            foundSlots.push_back(at);
            resume = at + static_cast<std::int64_t>(length);
            if (host != nullptr && (foundSlots.size() & 0xFF) == 1)
                host->setStatus(format("found Entry %d ", static_cast<int>(foundSlots.size())));
        }
    }
}

std::vector<ExFatEntry> ExFatParser::buildFromFoundSlots(std::int64_t heapStart, std::int64_t fatStart) {
    if (reader_ == nullptr || clusterBytes == 0) return entries;
    heapOffset = heapStart;
    fatOffset = fatStart;
    clusterCount = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max<std::int64_t>(volumeBytes, 0)) / clusterBytes, 0xFFFFFFF5u));
    fatBytes = (static_cast<std::uint64_t>(clusterCount) + 2) * 4;
    fat_.setup(reader_, FatKind::ExFat, fatOffset, fatBytes, clusterCount + 1);
    std::int64_t rootStart = 0;
    std::int64_t rootEnd = 0;
    for (std::int64_t position : foundSlots) {
        if (full_) break;
        if (host != nullptr) host->pauseGate().pass();
        if (!consumedSlots.insert(position).second) continue;
        const std::int64_t sector = position / 512 * 512;
        std::vector<std::uint8_t> buffer(2048);
        readVolume(*reader_, sector, buffer.data(), buffer.size());
        const std::size_t k = static_cast<std::size_t>(position - sector);
        const std::size_t length = acceptedSet(ByteSpan(buffer).subspan(k));
        if (length == 0) continue;
        if (advancedFirst_) {
            advancedFirst_ = false;
            rootStart = labelOffset != 0 ? labelOffset : position;
            rootEnd = rootStart + clusterBytes;
            entries.clear();
            ExFatEntry dummy;
            dummy.entryType = buffer[k];
            dummy.attributes = le16(ByteSpan(buffer), k + 4);
            dummy.name = u"DUMMY ENTRY";
            append(dummy);
            ExFatEntry orphan = dummy;
            orphan.name = u"ORPHAN ENTRY";
            orphan.attributes = 0x10;
            orphan.parent = 0;
            append(orphan);
            haveDummyFields_ = true;
        }
        const std::vector<std::uint8_t> slice(buffer.begin() + static_cast<long>(k),
                                              buffer.begin() + static_cast<long>(k + length));
        const bool inRoot = position >= rootStart && position < rootEnd;
        walkDirectory(slice, inRoot ? 0 : 1, 0);
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

std::vector<std::uint32_t> clusterShiftChoices(const ExFatParser& parser, bool bootValid) {
    std::vector<std::uint32_t> out;
    if (bootValid) out.push_back(parser.bootClusterShift);
    for (std::uint32_t n : {8u, 9u, 10u, 11u}) out.push_back(n);
    return out;
}

}  // namespace corvello
