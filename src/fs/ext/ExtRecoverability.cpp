// Where an ext inode's data lie and whether the block bitmaps still mark those blocks free:
// what tells whether a deleted file can come back whole.

#include "fs/ext/ExtLayout.h"
#include "fs/ext/ExtParser.h"

namespace corvello {

using namespace extlayout;

bool ExtParser::dataPlace(const ExtEntry& entry, bool& inInode, std::vector<ExtBlockRun>& runs) {
    inInode = false;
    runs.clear();
    std::vector<std::uint8_t> raw;
    if (!readInode(entry.tableBlock, entry.slot, raw)) return false;
    const ByteSpan inode(raw);
    const std::uint16_t mode = le16(inode, kInMode);
    const std::uint32_t flags = le32(inode, kInFlags);
    const bool fastSymlink =
        (mode & kExtTypeMask) == kExtSymlink && !(flags & kExtentsFlag) && entry.size < kInBlockBytes;
    if (fastSymlink || (flags & kInlineDataFlag)) {
        inInode = true;
        return true;
    }
    collectBlocks(inode);
    runs = blocks_;
    return true;
}

bool ExtParser::blockInUse(std::uint64_t block) {
    if (blocksPerGroup_ == 0 || block < firstDataBlock_ || block >= blocksCount_) return true;
    const std::uint64_t rel = block - firstDataBlock_;
    const std::uint64_t g = rel / blocksPerGroup_;
    if (g >= groups_.size()) return true;
    const Group& group = groups_[static_cast<std::size_t>(g)];
    if (!group.readable) return true;
    if (group.flags & kBgBlockUninit) return false;
    auto it = blockBitmaps_.find(static_cast<std::uint32_t>(g));
    if (it == blockBitmaps_.end()) {
        std::vector<std::uint8_t> bitmap(blockSize_);
        if (group.blockBitmap == 0 || !blockInVolume(group.blockBitmap) || !readBlocks(group.blockBitmap, 1, bitmap.data()))
            bitmap.clear();
        it = blockBitmaps_.emplace(static_cast<std::uint32_t>(g), std::move(bitmap)).first;
    }
    const std::vector<std::uint8_t>& bitmap = it->second;
    const std::uint64_t bit = rel % blocksPerGroup_;
    return bit / 8 >= bitmap.size() || ((bitmap[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1) != 0;
}

}  // namespace corvello
