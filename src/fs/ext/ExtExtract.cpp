// The data of an ext inode: its block map or extent tree as block runs, and the file's bytes
// read from them with holes as zeros in their place.

#include <algorithm>
#include <cstring>
#include <limits>

#include "fs/ext/ExtLayout.h"
#include "fs/ext/ExtParser.h"

namespace corvello {

using namespace extlayout;

namespace {

// Index nodes an extent tree may make the parser read for one file.
constexpr int kExtentNodeBudget = 1 << 16;
// Bytes read from the volume at a time.
constexpr std::uint64_t kChunkBytes = 1 << 20;
// Discontiguous runs one file may have (a damaged map repeating one block stops here).
constexpr std::size_t kMaxRuns = 1 << 22;

}  // namespace

std::uint64_t ExtParser::maxFileBlocks(ByteSpan inode) const {
    if (le32(inode, kInFlags) & kExtentsFlag) return 1ULL << 32;
    const std::uint64_t p = blockSize_ / 4;
    return 12 + p + p * p + p * p * p;
}

void ExtParser::addRun(std::uint64_t logical, std::uint64_t physical, std::uint64_t count) {
    if (!blocks_.empty()) {
        ExtBlockRun& last = blocks_.back();
        if (last.logical + last.count == logical && last.physical + last.count == physical) {
            last.count += count;
            return;
        }
    }
    if (blocks_.size() >= kMaxRuns) {
        runsFull_ = true;
        return;
    }
    blocks_.push_back(ExtBlockRun{logical, physical, count});
}

void ExtParser::walkExtents(ByteSpan node, int depth, std::uint64_t limit, int& budget, bool& ok) {
    const std::size_t entries = le16(node, 2);
    if (le16(node, 0) != kExtentMagic || le16(node, 6) != depth || node.size() < 12 ||
        entries > (node.size() - 12) / 12) {
        ok = false;
        return;
    }
    for (std::size_t i = 0; i < entries && !runsFull_; ++i) {
        const ByteSpan e = node.subspan(12 + 12 * i, 12);
        const std::uint64_t first = le32(e, 0);
        if (depth == 0) {
            std::uint64_t length = le16(e, 4);
            const bool uninitialised = length > kMaxInitExtent;
            if (uninitialised) length -= kMaxInitExtent;
            const std::uint64_t start = (static_cast<std::uint64_t>(le16(e, 6)) << 32) | le32(e, 8);
            if (length == 0 || first >= limit || uninitialised) continue;  // preallocated: zeros
            length = std::min(length, limit - first);
            if (!blockInVolume(start, length)) {
                ok = false;
                continue;
            }
            addRun(first, start, length);
        } else {
            const std::uint64_t child = (static_cast<std::uint64_t>(le16(e, 8)) << 32) | le32(e, 4);
            if (first >= limit) continue;
            if (--budget < 0 || !blockInVolume(child)) {
                ok = false;
                if (budget < 0) return;
                continue;
            }
            std::vector<std::uint8_t> block(blockSize_);
            if (!readBlocks(child, 1, block.data())) {
                ok = false;
                continue;
            }
            walkExtents(ByteSpan(block), depth - 1, limit, budget, ok);
        }
    }
}

void ExtParser::walkIndirect(std::uint64_t block, int level, std::uint64_t& logical, std::uint64_t limit, bool& ok) {
    const std::uint64_t p = blockSize_ / 4;
    std::uint64_t span = 1;
    for (int i = 1; i < level; ++i) span *= p;  // blocks one pointer of this block covers
    std::vector<std::uint8_t> buffer(blockSize_);
    if (!readBlocks(block, 1, buffer.data())) {
        ok = false;
        logical += span * p;
        return;
    }
    for (std::uint64_t i = 0; i < p; ++i) {
        if (logical >= limit || runsFull_) return;
        const std::uint32_t pointer = le32(buffer, 4 * i);
        if (pointer == 0) {
            logical += span;  // a hole
        } else if (!blockInVolume(pointer)) {
            ok = false;
            logical += span;
        } else if (level == 1) {
            addRun(logical, pointer, 1);
            ++logical;
        } else {
            walkIndirect(pointer, level - 1, logical, limit, ok);
        }
    }
}

bool ExtParser::collectBlocks(ByteSpan inode) {
    blocks_.clear();
    runsFull_ = false;
    if (blockSize_ == 0) return false;
    const std::uint32_t flags = le32(inode, kInFlags);
    if (flags & kInlineDataFlag) return true;
    std::uint64_t size = le32(inode, kInSize) | (static_cast<std::uint64_t>(le32(inode, kInSizeHigh)) << 32);
    const std::uint64_t limit = std::min((size + blockSize_ - 1) / blockSize_, maxFileBlocks(inode));
    bool ok = true;
    if (flags & kExtentsFlag) {
        const ByteSpan root = inode.subspan(kInBlock, kInBlockBytes);
        const int depth = le16(root, 6);
        if (le16(root, 0) != kExtentMagic || depth > kMaxExtentDepth) return false;
        int budget = kExtentNodeBudget;
        walkExtents(root, depth, limit, budget, ok);
        std::stable_sort(blocks_.begin(), blocks_.end(),
                         [](const ExtBlockRun& a, const ExtBlockRun& b) { return a.logical < b.logical; });
        return ok && !runsFull_;
    }
    std::uint64_t logical = 0;
    for (int i = 0; i < 12 && logical < limit; ++i, ++logical) {
        const std::uint32_t pointer = le32(inode, kInBlock + 4 * i);
        if (pointer == 0) continue;
        if (blockInVolume(pointer))
            addRun(logical, pointer, 1);
        else
            ok = false;
    }
    const std::uint64_t p = blockSize_ / 4;
    std::uint64_t span = p;
    for (int level = 1; level <= 3 && logical < limit; ++level, span *= p) {
        const std::uint32_t pointer = le32(inode, kInBlock + 4 * (11 + level));
        if (pointer == 0) {
            logical += span;
        } else if (!blockInVolume(pointer)) {
            ok = false;
            logical += span;
        } else {
            walkIndirect(pointer, level, logical, limit, ok);
        }
    }
    return ok && !runsFull_;
}

ExtFileMap ExtParser::fileMap(const ExtEntry& entry) {
    ExtFileMap map;
    std::vector<std::uint8_t> raw;
    map.inodeRead = readInode(entry.tableBlock, entry.slot, raw);
    const ByteSpan inode(raw);
    const std::uint64_t size = entry.size;
    const std::uint16_t mode = le16(inode, kInMode);
    const std::uint32_t flags = le32(inode, kInFlags);
    const bool fastSymlink = (mode & kExtTypeMask) == kExtSymlink && !(flags & kExtentsFlag) && size < kInBlockBytes;
    if (fastSymlink || (flags & kInlineDataFlag)) {
        // The data lives in the inode (a short link target, or inline data).
        map.inInode = true;
        map.inodeBytes = fastSymlink ? std::vector<std::uint8_t>(raw.begin() + kInBlock, raw.begin() + kInBlock + kInBlockBytes)
                                     : inlineData(inode);
        return map;
    }
    if (!map.inodeRead) return map;
    map.mapWhole = collectBlocks(inode);
    const std::uint64_t bs = blockSize_;
    std::uint64_t pos = 0;  // the end of the data the runs kept so far
    for (const ExtBlockRun& block : blocks_) {
        ExtBlockRun run = block;
        if (run.logical * bs < pos) {  // overlaps what an earlier run holds: keep the first
            const std::uint64_t skip = std::min(run.count, (pos - run.logical * bs + bs - 1) / bs);
            run.logical += skip;
            run.physical += skip;
            run.count -= skip;
        }
        if (run.count == 0 || run.logical * bs >= size) continue;
        map.runs.push_back(run);
        pos = std::min((run.logical + run.count) * bs, size);
    }
    map.dataEnd = pos;
    return map;
}

bool ExtParser::readMapped(const std::vector<ExtBlockRun>& runs, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    std::fill(buffer.begin(), buffer.end(), 0);
    const std::uint64_t bs = blockSize_;
    if (bs == 0 || buffer.empty()) return true;
    const std::uint64_t end = offset + buffer.size();
    const std::uint64_t chunkBlocks = std::max<std::uint64_t>(1, kChunkBytes / bs);
    std::vector<std::uint8_t> chunk;
    bool ok = true;
    // The first run that ends after offset.
    auto run = std::upper_bound(runs.begin(), runs.end(), offset, [bs](std::uint64_t at, const ExtBlockRun& r) {
        return at < (r.logical + r.count) * bs;
    });
    for (; run != runs.end() && run->logical * bs < end; ++run) {
        const std::uint64_t runStart = run->logical * bs;
        std::uint64_t from = std::max(offset, runStart);
        const std::uint64_t to = std::min(end, (run->logical + run->count) * bs);
        while (from < to) {
            const std::uint64_t first = (from - runStart) / bs;  // block of the run
            const std::uint64_t count = std::min(chunkBlocks, (to - runStart + bs - 1) / bs - first);
            chunk.resize(static_cast<std::size_t>(count * bs));
            if (!readBlocks(run->physical + first, count, chunk.data())) ok = false;
            const std::uint64_t upTo = std::min(to, runStart + (first + count) * bs);
            std::memcpy(buffer.data() + (from - offset), chunk.data() + (from - runStart - first * bs),
                        static_cast<std::size_t>(upTo - from));
            from = upTo;
        }
    }
    return ok;
}

}  // namespace corvello
