// Where an HFS+ file's data fork lies: the catalog record's extents, then the extents-overflow
// records; and the times its catalog record keeps.

#include <limits>

#include "common/Bytes.h"
#include "device/VolumeView.h"
#include "fs/hfsplus/HfsPlusParser.h"

namespace corvello {

namespace {
constexpr std::size_t kExtentKeySize = 12;
}  // namespace

void HfsPlusParser::appendRun(std::vector<HfsExtent>& runs, std::uint32_t start, std::uint32_t count) const {
    // Blocks outside the volume cannot hold the file's data; they are left out.
    const auto inside = static_cast<std::uint32_t>(blocksInside(HfsExtent{start, count}));
    if (inside != 0) runs.push_back(HfsExtent{start, inside});
}

bool HfsPlusParser::readOverflowExtents(std::vector<HfsExtent>& runs, std::uint64_t have, std::uint64_t cnid, std::uint32_t total) {
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
            appendRun(runs, start, count);
        }
        if (have == before) return false;
    }
    return have >= total;
}

HfsPlusParser::FileTimes HfsPlusParser::recordFileTimes(const HfsEntry& entry) const {
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

bool HfsPlusParser::dataRuns(const HfsEntry& entry, std::vector<HfsExtent>& runs) {
    runs.clear();
    if (entry.extents.empty() || blockSize == 0) return false;
    std::uint64_t listed = 0;
    for (const HfsExtent& e : entry.extents) {
        listed += e.blockCount;
        appendRun(runs, e.startBlock, e.blockCount);
    }
    if (listed < entry.totalBlocks) readOverflowExtents(runs, listed, entry.cnid, entry.totalBlocks);
    // Not one block inside the volume: an empty file would pass for the data.
    return !runs.empty();
}

}  // namespace corvello
