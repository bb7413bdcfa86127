// Extraction of an HFS+ file's data fork: the catalog record's extents, then the
// extents-overflow records, written up to the fork's logical size; then the file's times.

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/Bytes.h"
#include "common/ScanHost.h"
#include "device/VolumeView.h"
#include "fs/hfsplus/HFSP.h"
#include "platform/Files.h"

namespace corvello {

namespace {
constexpr std::uint64_t kCopyChunk = 1 << 20;  // bytes per read while copying a run of blocks
constexpr std::size_t kExtentKeySize = 12;
}  // namespace

void HFSP::appendRun(std::uint32_t start, std::uint32_t count) {
    // Blocks outside the volume cannot hold the file's data; they are left out.
    const auto inside = static_cast<std::uint32_t>(blocksInside(HfsExtent{start, count}));
    if (inside != 0) blockList.push_back(HfsExtent{start, inside});
}

bool HFSP::readOverflowExtents(std::uint64_t have, std::uint64_t cnid, std::uint32_t total) {
    if (cnid > std::numeric_limits<std::uint32_t>::max() || extentsNodeSize == 0) return false;
    std::vector<std::uint8_t> buffer;
    // Each round must add blocks, and no record can be used twice.
    for (std::size_t round = 0; have < total && round <= overflowIndex.size(); ++round) {
        const auto it = overflowIndex.find({static_cast<std::uint32_t>(cnid), static_cast<std::uint32_t>(have)});
        if (it == overflowIndex.end()) return false;
        if (!readNode(it->second.nodePosition, extentsNodeSize, buffer)) return false;
        const ByteSpan b(buffer);
        const std::size_t data = it->second.recordOffset + kExtentKeySize;
        const std::uint64_t before = have;
        for (std::size_t i = 0; i < 8; ++i) {
            const std::uint32_t start = be32(b, data + i * 8);
            const std::uint32_t count = be32(b, data + i * 8 + 4);
            if (start == 0 || count == 0) continue;
            have += count;
            appendRun(start, count);
        }
        if (have == before) return false;
    }
    return have >= total;
}

HFSP::FileTimes HFSP::recordFileTimes(const HfsEntry& entry) const {
    FileTimes times;
    std::vector<std::uint8_t> data;
    if (!readRecordData(entry, data)) return times;
    const ByteSpan d(data);
    times.known = true;
    times.creation = platform::fromHfsTime(be32(d, 12));
    times.access = platform::fromHfsTime(be32(d, 24));
    // The content modification date is the file's modification time as the Mac shows it.
    times.modification = platform::fromHfsTime(be32(d, 16));
    return times;
}

HfsExtractResult HFSP::extractEntry(platform::OutputFile& out, const HfsEntry& entry) {
    // A hard link is written with the data and times of the file it names (one step only).
    if (const HfsEntry* target = hardLinkTarget(entry)) {
        const HfsEntry copy = *target;
        return extractFork(out, copy);
    }
    return extractFork(out, entry);
}

HfsExtractResult HFSP::extractFork(platform::OutputFile& out, const HfsEntry& entry) {
    blockList.clear();
    if (entry.size == 0) return HfsExtractResult::NothingToWrite;
    if (entry.extents.empty() || blockSize == 0) return HfsExtractResult::NoData;
    std::uint64_t listed = 0;
    for (const HfsExtent& e : entry.extents) {
        listed += e.blockCount;
        appendRun(e.startBlock, e.blockCount);
    }
    if (listed < entry.totalBlocks) readOverflowExtents(listed, entry.cnid, entry.totalBlocks);
    // Not one block inside the volume: an empty file would pass for the data.
    if (blockList.empty()) return HfsExtractResult::NoData;
    if (!out.isOpen()) return HfsExtractResult::CannotCreate;

    std::vector<std::uint8_t> buffer;
    std::uint64_t remaining = entry.size;
    for (const HfsExtent& run : blockList) {
        std::uint64_t position = std::uint64_t{run.startBlock} * blockSize;
        std::uint64_t runBytes = std::uint64_t{run.blockCount} * blockSize;
        while (runBytes > 0 && remaining > 0) {
            if (host != nullptr && host->stopRequested()) break;
            const std::uint64_t want = std::min({runBytes, remaining, kCopyChunk});
            buffer.assign(static_cast<std::size_t>(want), 0);
            // An unreadable stretch is written as zeros so that later bytes keep their offsets.
            reader->readAt(position, buffer.data(), static_cast<std::size_t>(want));
            if (!out.write(buffer.data(), buffer.size())) break;
            position += want;
            runBytes -= want;
            remaining -= want;
        }
        if (remaining == 0) break;
    }
    const FileTimes times = recordFileTimes(entry);
    if (times.known) out.setTimes(times.access, times.modification);
    return HfsExtractResult::Written;
}

}  // namespace corvello
