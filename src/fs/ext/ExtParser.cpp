#include "fs/ext/ExtParser.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/VolumeView.h"
#include "fs/ext/ExtLayout.h"
#include "partition/BootSector.h"

namespace corvello {

using namespace extlayout;

ExtParser::ExtParser(const ParserInputs& inputs)
    : volume(inputs.volume),
      rootLabel(inputs.rootLabel),
      volumeBytes(inputs.volumeBytes),
      host_(*inputs.host),
      tree_(inputs.tree),
      view_(inputs.view) {}

bool ExtParser::stopSeen() {
    if (!host_.checkpoint()) return false;
    host_.clearStop();
    return true;
}

bool ExtParser::attachReader() {
    reader_ = view_.valid() ? &view_ : nullptr;
    if (reader_ == nullptr) return false;
    deviceBytes_ = view_.sectorBytes();
    return true;
}

bool ExtParser::readVolume(std::int64_t offset, std::uint8_t* buffer, std::size_t count) const {
    if (offset < 0) {
        std::memset(buffer, 0, count);
        if (view_.source() != nullptr) view_.source()->countUnread(count);
        return false;
    }
    return view_.readFull(static_cast<std::uint64_t>(offset), buffer, count);
}

bool ExtParser::blockInVolume(std::uint64_t block, std::uint64_t count) const {
    const std::uint64_t first = std::max<std::uint64_t>(firstDataBlock_, 1);
    return block >= first && count <= blocksCount_ && block <= blocksCount_ - count;
}

bool ExtParser::readBlocks(std::uint64_t block, std::uint64_t count, std::uint8_t* buffer) {
    const std::uint64_t bytes = count * blockSize_;
    if (bytes > std::numeric_limits<std::uint32_t>::max()) return false;
    std::memset(buffer, 0, static_cast<std::size_t>(bytes));
    if (reader_ == nullptr || !blockInVolume(block, count)) return false;
    const auto offset = volumeStart_ + static_cast<std::int64_t>(block * blockSize_);
    return readVolume(offset, buffer, static_cast<std::size_t>(bytes));
}

// ---------------------------------------------------------------------------------------------
// Superblock and group descriptors

bool ExtParser::takeSuperblock(ByteSpan sb, std::uint64_t offset) {
    const std::uint32_t logBlock = le32(sb, kSbLogBlockSize);
    if (logBlock > 3) return false;  // 1 KiB to 8 KiB blocks
    const std::uint32_t bs = 1024u << logBlock;
    const std::uint32_t incompat = le32(sb, kSbFeatureIncompat);
    const std::uint32_t inodes = le32(sb, kSbInodesCount);
    std::uint64_t blocks = le32(sb, kSbBlocksCount);
    if (incompat & kIncompat64Bit) blocks |= static_cast<std::uint64_t>(le32(sb, kSbBlocksCountHi)) << 32;
    const std::uint32_t firstData = le32(sb, kSbFirstDataBlock);
    const std::uint32_t bpg = le32(sb, kSbBlocksPerGroup);
    const std::uint32_t ipg = le32(sb, kSbInodesPerGroup);
    const std::uint32_t rev = le32(sb, kSbRevLevel);
    const std::uint32_t inodeSize = rev == 0 ? 128 : le16(sb, kSbInodeSize);
    std::uint32_t descSize = 32;
    if (incompat & kIncompat64Bit) {
        descSize = le16(sb, kSbDescSize);
        if (descSize == 0) descSize = 32;
    }
    const auto pow2 = [](std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
    if (inodes == 0 || bpg < 8 || bpg > 8 * bs || ipg == 0 || ipg > 8 * bs) return false;
    if (inodeSize < 128 || inodeSize > bs || !pow2(inodeSize)) return false;
    if (descSize < 32 || descSize > 1024 || !pow2(descSize)) return false;
    if (firstData >= bpg || blocks <= firstData) return false;

    // The superblock may be a backup copy at the start of a later group; block 0 of the volume
    // lies that group's offset before it (and 1024 bytes before the primary copy).
    const std::uint32_t group = rev == 0 ? 0 : le16(sb, kSbBlockGroupNr);
    const std::uint64_t before =
        group == 0 ? 1024 : (static_cast<std::uint64_t>(group) * bpg + firstData) * static_cast<std::uint64_t>(bs);
    if (before > offset) return false;

    // Groups: the blocks after the first data block divided by the blocks per group, rounded
    // up (the last group may be partial); no more than the inodes count allows.
    std::uint64_t groups = (blocks - firstData + bpg - 1) / bpg;
    const std::uint64_t inodeGroups = (static_cast<std::uint64_t>(inodes) + ipg - 1) / ipg;
    groups = std::min(groups, inodeGroups);
    if (incompat & kIncompatMetaBg) {
        // Descriptors live beside their groups; groups that start past the device's end have
        // nothing to read.
        if (deviceBytes_ > 0) {
            const std::uint64_t deviceGroups = deviceBytes_ / bs / bpg + 1;
            groups = std::min(groups, deviceGroups);
        }
    } else if (groups * descSize > static_cast<std::uint64_t>(bpg - 1) * bs) {
        return false;  // the descriptor table must fit in its group
    }
    // The descriptors are a tiny part of a real volume (a 64-byte descriptor per group of
    // thousands of blocks): a damaged count cannot make the parser hold more of them than a
    // sixteenth of the device could.
    if (deviceBytes_ > 0) groups = std::min<std::uint64_t>(groups, std::max<std::uint64_t>(deviceBytes_ / 16, 1 << 20) / descSize);
    if (groups == 0 || groups > std::numeric_limits<std::uint32_t>::max()) return false;

    superblockOffset_ = offset;
    std::memcpy(superblock_.data(), sb.data(), superblock_.size());
    volumeStart_ = static_cast<std::int64_t>(offset - before);
    blockSize_ = bs;
    blocksCount_ = blocks;
    firstDataBlock_ = firstData;
    blocksPerGroup_ = bpg;
    inodesPerGroup_ = ipg;
    inodeSize_ = inodeSize;
    descriptorSize_ = descSize;
    groupCount_ = static_cast<std::uint32_t>(groups);
    inodeCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(inodes, groups * ipg));
    superblockGroup_ = group;
    featureIncompat_ = incompat;
    featureRoCompat_ = le32(sb, kSbFeatureRoCompat);
    hasFileType_ = (incompat & kIncompatFileType) != 0;
    return true;
}

bool ExtParser::findSuperblock() {
    if (volumeBytes <= 1536 || reader_ == nullptr) return false;
    const auto limit = static_cast<std::uint64_t>(volumeBytes);
    constexpr std::uint64_t kChunk = 1 << 20;
    std::vector<std::uint8_t> buffer(kChunk + 1024);
    for (std::uint64_t base = 1024; base + 1024 <= limit; base += kChunk) {
        if (stopSeen()) return false;
        if (base == 1024 + kChunk) {
            host_.setStatus("Searching for the ext superblock....");
            host_.setProgressRange(0, static_cast<std::int64_t>(limit >> 20));
        }
        if (base > 1024) host_.setProgressPos(static_cast<std::int64_t>(base >> 20));
        const std::uint64_t want = std::min<std::uint64_t>(buffer.size(), limit - base);
        std::fill(buffer.begin(), buffer.end(), 0);
        reader_->readAt(base, buffer.data(), static_cast<std::size_t>(want));
        for (std::uint64_t off = 0; off < kChunk && off + 1024 <= want; off += 512) {
            const ByteSpan sb(buffer.data() + off, 1024);
            if (le16(sb, kSbMagic) == kExtMagic && takeSuperblock(sb, base + off)) {
                if (superblockGroup_ != 0 || superblockOffset_ != 1024)
                    host_.setStatus(backupStatusText(BootKind::None, static_cast<std::int64_t>(superblockOffset_)));
                return true;
            }
        }
    }
    return false;
}

bool ExtParser::groupHasSuperblock(std::uint64_t group) const {
    if (group <= 1 || !(featureRoCompat_ & kRoCompatSparseSuper)) return true;
    for (std::uint64_t base : {3u, 5u, 7u}) {
        std::uint64_t p = base;
        while (p < group) p *= base;
        if (p == group) return true;
    }
    return false;
}

bool ExtParser::readDescriptorBlock(std::uint64_t block, std::vector<std::uint8_t>& out) {
    out.assign(blockSize_, 0);
    return readBlocks(block, 1, out.data());
}

bool ExtParser::readGroupDescriptors() {
    if (blockSize_ == 0) return false;
    groups_.assign(groupCount_, Group{});
    const std::uint32_t perBlock = blockSize_ / descriptorSize_;
    const std::uint64_t tableStart =
        static_cast<std::uint64_t>(superblockGroup_) * blocksPerGroup_ + firstDataBlock_ + 1;
    const bool metaBg = (featureIncompat_ & kIncompatMetaBg) != 0;
    const std::uint64_t firstMeta = metaBg ? static_cast<std::uint64_t>(le32(superblock_, kSbFirstMetaBg)) * perBlock
                                           : std::numeric_limits<std::uint64_t>::max();
    std::vector<std::uint8_t> block;
    std::uint64_t cached = 0;
    bool cachedOk = false;
    for (std::uint32_t g = 0; g < groupCount_; ++g) {
        if (g % 4096 == 0 && stopSeen()) break;
        std::uint64_t where;
        if (g < firstMeta) {
            where = tableStart + g / perBlock;
        } else {
            const std::uint64_t first = static_cast<std::uint64_t>(g) / perBlock * perBlock;
            where = first * blocksPerGroup_ + firstDataBlock_ + (groupHasSuperblock(first) ? 1 : 0);
        }
        if (block.empty() || where != cached) {
            cached = where;
            cachedOk = readDescriptorBlock(where, block);
        }
        if (!cachedOk) continue;
        const ByteSpan d = ByteSpan(block).subspan((g % perBlock) * descriptorSize_, descriptorSize_);
        Group& group = groups_[g];
        group.tableBlock = le32(d, kGdInodeTable);
        if ((featureIncompat_ & kIncompat64Bit) && descriptorSize_ >= 64)
            group.tableBlock |= static_cast<std::uint64_t>(le32(d, kGdInodeTableHi)) << 32;
        group.blockBitmap = le32(d, kGdBlockBitmap);
        if ((featureIncompat_ & kIncompat64Bit) && descriptorSize_ >= 64)
            group.blockBitmap |= static_cast<std::uint64_t>(le32(d, kGdBlockBitmapHi)) << 32;
        group.flags = le16(d, kGdFlags);
        group.readable = true;
    }
    return !groups_.empty() && groups_[0].readable;
}

std::uint64_t ExtParser::inodeTableBlock(std::uint32_t group) const {
    return group < groups_.size() ? groups_[group].tableBlock : 0;
}

// ---------------------------------------------------------------------------------------------
// Inode tables

bool ExtParser::scanInodeTables() {
    host_.setProgressRange(0, groupCount_);
    for (std::uint32_t g = 0; g < groupCount_; ++g) {
        if (stopSeen()) break;
        host_.setStatus(format("parsing group %u  of %u ", g + 1, groupCount_));
        host_.setProgressPos(g + 1);
        readInodeTable(g);
    }
    return true;
}

void ExtParser::readInodeTable(std::uint32_t g) {
    if (g >= groups_.size() || !groups_[g].readable) return;
    const Group& group = groups_[g];
    // With group checksums, a group flagged as having no initialised inodes holds none; its
    // table may be stale bytes.
    if ((featureRoCompat_ & (kRoCompatGdtCsum | kRoCompatMetadataCsum)) && (group.flags & kBgInodeUninit)) return;
    const std::uint64_t firstNumber = static_cast<std::uint64_t>(g) * inodesPerGroup_ + 1;
    if (firstNumber > inodeCount_) return;
    const std::uint32_t count =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(inodesPerGroup_, inodeCount_ - firstNumber + 1));
    const std::uint64_t tableBytes = static_cast<std::uint64_t>(count) * inodeSize_;
    const std::uint64_t tableBlocks = (tableBytes + blockSize_ - 1) / blockSize_;
    if (!blockInVolume(group.tableBlock, tableBlocks)) {
        host_.setStatus(format("The inode table of group %u lies outside the volume.", g + 1));
        return;
    }
    // Every inode needs 128 bytes of table on the device: a damaged volume cannot make the
    // parser record more inodes than the device could hold.
    const std::uint64_t maxRecords = deviceBytes_ > 0 ? deviceBytes_ / 128 : inodeCount_;
    const std::uint64_t end = firstNumber - 1 + count;
    if (end > maxRecords) return;
    if (inodes_.size() < end) inodes_.resize(end);

    const std::uint32_t perRead = std::max<std::uint32_t>(1, (1u << 20) / blockSize_);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(perRead) * blockSize_);
    std::uint32_t slot = 0;
    for (std::uint64_t b = 0; b < tableBlocks && slot < count; b += perRead) {
        const std::uint64_t n = std::min<std::uint64_t>(perRead, tableBlocks - b);
        readBlocks(group.tableBlock + b, n, buffer.data());
        const std::uint64_t bytes = n * blockSize_;
        for (std::uint64_t off = 0; off + inodeSize_ <= bytes && slot < count; off += inodeSize_, ++slot) {
            const ByteSpan inode(buffer.data() + off, inodeSize_);
            const std::uint32_t number = static_cast<std::uint32_t>(firstNumber + slot);
            InodeInfo& info = inodes_[number - 1];
            info.recorded = true;
            info.mode = le16(inode, kInMode);
            info.links = le16(inode, kInLinks);
            info.size = le32(inode, kInSize);
            if (const std::uint32_t high = le32(inode, kInSizeHigh); high != 0)
                info.size |= static_cast<std::uint64_t>(high) << 32;
            // Directories are walked later, in use or not, as long as their block area holds
            // something. The walk needs the first 128 bytes, or all of an inode with inline data.
            if (extIsDirectory(info.mode) && le32(inode, kInBlock) != 0) {
                const std::size_t keep = (le32(inode, kInFlags) & kInlineDataFlag) ? inode.size() : 128;
                directories_.push_back(
                    DirectoryInode{number, std::vector<std::uint8_t>(inode.begin(), inode.begin() + keep)});
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Directories

namespace {

// Further names (hard links) kept beyond the first name of each inode: a damaged volume whose
// directories share blocks cannot make the parser hold more than this many.
std::size_t furtherNameLimit(std::uint32_t inodes) { return std::max<std::size_t>(inodes, 1u << 20); }

}  // namespace

void ExtParser::nameInode(std::uint32_t number, std::string name, std::int32_t parent, std::uint8_t fileType) {
    if (!recorded(number)) return;  // its inode table was not read: nothing to show or save
    const std::uint32_t index = number - 1;
    Naming naming;
    naming.name = std::move(name);
    naming.parent = parent;
    naming.live = true;
    if (hasFileType_) {
        if (fileType == 2) naming.mode = kExtDirectory;
        if (fileType == 1) naming.mode = kExtRegular;
    }
    const auto it = names_.find(index);
    if (it == names_.end()) {
        names_.emplace(index, std::move(naming));
        return;
    }
    // A directory has one name; children are linked to it by its inode.
    if (extIsDirectory(inodes_[index].mode) || extIsDirectory(naming.mode) || extIsDirectory(it->second.mode)) {
        it->second = std::move(naming);
        return;
    }
    if (moreNames_.size() < furtherNameLimit(inodeCount_)) moreNames_.emplace_back(index, std::move(naming));
}

void ExtParser::nameFromRemoved(std::vector<std::pair<std::uint32_t, Naming>>& weak) {
    // The names already given from removed entries, so that one seen twice counts once.
    std::unordered_set<std::string> given;
    const auto key = [](std::uint32_t index, const Naming& n) {
        return std::to_string(index) + '/' + std::to_string(n.parent) + '/' + n.name;
    };
    for (auto& [number, naming] : weak) {
        const std::uint32_t index = number - 1;
        if (!recorded(number) || inodes_[index].mode == 0) continue;
        const auto it = names_.find(index);
        if (it == names_.end()) {
            given.insert(key(index, naming));
            names_.emplace(index, std::move(naming));
            continue;
        }
        // An entry in use names the inode (which a removed name may have pointed to before it
        // was used again), or a directory has its name.
        if (it->second.live || extIsDirectory(inodes_[index].mode)) continue;
        if (moreNames_.size() >= furtherNameLimit(inodeCount_) || !given.insert(key(index, naming)).second) continue;
        moreNames_.emplace_back(index, std::move(naming));
    }
}

namespace {

std::size_t idealLength(std::size_t nameLength) { return (8 + nameLength + 3) & ~static_cast<std::size_t>(3); }

bool plausibleName(ByteSpan name) {
    if (name.empty()) return false;
    for (std::uint8_t c : name)
        if (c == 0 || c == '/') return false;
    return !(name.size() == 1 && name[0] == '.') && !(name.size() == 2 && name[0] == '.' && name[1] == '.');
}

}  // namespace

bool ExtParser::walkDirectory(const DirectoryInode& dir, bool strong,
                              std::vector<std::pair<std::uint32_t, Naming>>& weak) {
    const ByteSpan inode(dir.inode);
    const std::uint32_t flags = le32(inode, kInFlags);
    // The root's entries name ROOT (index 2) as their parent; every other directory its own index.
    const std::int32_t parent = dir.number == kRootInode ? 2 : static_cast<std::int32_t>(dir.number - 1);

    const auto addWeak = [&](std::uint32_t n, std::string name) {
        Naming naming;
        naming.name = std::move(name);
        naming.parent = parent;
        weak.emplace_back(n, std::move(naming));
    };
    const auto entryAt = [&](ByteSpan b, std::size_t off, std::uint32_t& n, std::size_t& recLen,
                             std::size_t& nameLen, std::uint8_t& type) {
        n = le32(b, off);
        recLen = le16(b, off + 4);
        nameLen = hasFileType_ ? u8(b, off + 6) : le16(b, off + 6);
        type = hasFileType_ ? u8(b, off + 7) : 0;
    };
    // Entries removed from a directory stay in the space the entry before them took over.
    const auto scanSlack = [&](ByteSpan b, std::size_t from, std::size_t to) {
        std::size_t q = from;
        while (q + 8 <= to) {
            std::uint32_t n;
            std::size_t recLen, nameLen;
            std::uint8_t type;
            entryAt(b, q, n, recLen, nameLen, type);
            if (n >= 1 && n <= inodeCount_ && nameLen > 0 && q + 8 + nameLen <= to && recLen >= 8 + nameLen &&
                recLen % 4 == 0 && (!hasFileType_ || (type >= 1 && type <= 7)) &&
                plausibleName(b.subspan(q + 8, nameLen))) {
                addWeak(n, std::string(reinterpret_cast<const char*>(b.data() + q + 8), nameLen));
                q += idealLength(nameLen);
            } else {
                q += 4;
            }
        }
    };
    // The entries of one block (or of one inline region); an indexed directory keeps its index
    // behind ".." in its first block.
    const auto walkEntries = [&](ByteSpan b, bool indexRoot) {
        std::size_t off = 0;
        while (off + 8 <= b.size()) {
            std::uint32_t n;
            std::size_t recLen, nameLen;
            std::uint8_t type;
            entryAt(b, off, n, recLen, nameLen, type);
            if (recLen < 8 || recLen % 4 != 0 || off + recLen > b.size() || nameLen == 0 || 8 + nameLen > recLen ||
                n > inodeCount_)
                break;
            std::string name(reinterpret_cast<const char*>(b.data() + off + 8), nameLen);
            const bool dot = name == ".";
            const bool dotDot = name == "..";
            if (n != 0) {
                if (dot) {
                    // The root's own "." is shown under ROOT.
                    if (strong && dir.number == kRootInode && n == kRootInode) nameInode(n, name, 2, type);
                } else if (!dotDot) {
                    if (strong)
                        nameInode(n, std::move(name), parent, type);
                    else
                        addWeak(n, std::move(name));
                }
            }
            const std::size_t ideal = idealLength(nameLen);
            if (recLen >= ideal + 12 && !(indexRoot && dotDot)) scanSlack(b, off + ideal, off + recLen);
            off += recLen;
        }
    };

    if (flags & kInlineDataFlag) {
        // A small directory inside its inode: the parent's number, then entries in the rest of
        // the block area and in the inline-data attribute.
        std::vector<std::uint8_t> data = inlineData(inode);
        const std::size_t area = std::min<std::size_t>(data.size(), kInBlockBytes);
        if (area > 4) walkEntries(ByteSpan(data).subspan(4, area - 4), false);
        if (data.size() > kInBlockBytes) walkEntries(ByteSpan(data).subspan(kInBlockBytes), false);
        return true;
    }

    collectBlocks(inode);
    const std::vector<ExtBlockRun> runs = blocks_;
    std::vector<std::uint8_t> buffer(blockSize_);
    std::uint64_t blocksRead = 0;
    for (const ExtBlockRun& run : runs) {
        for (std::uint64_t i = 0; i < run.count; ++i) {
            if (++blocksRead % 256 == 0 && stopSeen()) return false;
            const std::uint64_t logical = run.logical + i;
            if (!readBlocks(run.physical + i, 1, buffer.data())) continue;
            // A directory no longer in use may have given its blocks to another one: its first
            // block must still begin with its own "." entry.
            if (!strong && logical == 0 &&
                !(le32(buffer, 0) == dir.number && u8(buffer, 6) == 1 && u8(buffer, 8) == '.'))
                return true;
            walkEntries(ByteSpan(buffer), logical == 0 && (flags & kIndexFlag));
        }
    }
    return true;
}

std::vector<std::uint8_t> ExtParser::inlineData(ByteSpan inode) const {
    std::vector<std::uint8_t> out(inode.begin() + std::min<std::size_t>(inode.size(), kInBlock),
                                  inode.begin() + std::min<std::size_t>(inode.size(), kInBlock + kInBlockBytes));
    // The rest is the value of the "system.data" attribute kept in the inode after its extra
    // fields: a magic word, then entries (name length, name index, value offset from the first
    // entry, value inode, value size, hash, name) up to four zero bytes.
    if (inode.size() <= kInExtraIsize) return out;
    const std::size_t header = kInExtraIsize + le16(inode, kInExtraIsize);
    if (!fits(inode, header, 4) || le32(inode, header) != kXattrMagic) return out;
    const std::size_t first = header + 4;
    std::size_t off = first;
    while (fits(inode, off, 16) && le32(inode, off) != 0) {
        const std::size_t nameLen = u8(inode, off);
        const std::uint8_t nameIndex = u8(inode, off + 1);
        const std::size_t valueOffset = le16(inode, off + 2);
        const std::uint32_t valueInode = le32(inode, off + 4);
        const std::size_t valueSize = le32(inode, off + 8);
        if (nameIndex == kXattrSystem && nameLen == 4 && hasBytes(inode, off + 16, "data") && valueInode == 0 &&
            fits(inode, first + valueOffset, valueSize)) {
            out.insert(out.end(), inode.begin() + first + valueOffset, inode.begin() + first + valueOffset + valueSize);
            break;
        }
        off += (16 + nameLen + 3) & ~static_cast<std::size_t>(3);
    }
    return out;
}

bool ExtParser::parseDirectories() {
    host_.setProgressRange(0, inodeCount_);
    std::vector<std::pair<std::uint32_t, Naming>> weak;
    std::uint32_t shownGroup = std::numeric_limits<std::uint32_t>::max();
    bool stopped = false;
    // Directories in use name their entries first (every name of a file; a directory's later
    // name wins); the entries of directories no longer in use and the removed entries found
    // between live ones only name inodes that no entry in use names.
    for (int pass = 0; pass < 2 && !stopped; ++pass) {
        for (const DirectoryInode& dir : directories_) {
            const std::uint32_t index = dir.number - 1;
            const bool live = index < inodes_.size() && inodes_[index].links > 0;
            if (live != (pass == 0)) continue;
            const std::uint32_t group = index / inodesPerGroup_;
            if (group != shownGroup) {
                shownGroup = group;
                if (stopSeen()) {
                    stopped = true;
                    break;
                }
                host_.setStatus(format("parsing inode entry %u  of %u ", dir.number, inodeCount_));
                host_.setProgressPos(dir.number);
            }
            if (!walkDirectory(dir, live, weak)) {
                stopped = true;
                break;
            }
        }
    }
    nameFromRemoved(weak);
    directories_.clear();
    directories_.shrink_to_fit();
    host_.setStatus(format("parsed inode entry %u  of %u ", inodeCount_, inodeCount_));
    return !inodes_.empty();
}

// ---------------------------------------------------------------------------------------------
// Record map, links, tree

bool ExtParser::buildEntryMap() {
    host_.setStatus("clearing vector....");
    entries_.clear();
    const auto makeEntry = [this](std::uint32_t index, Naming& naming) {
        ExtEntry e;
        e.name = std::move(naming.name);
        e.index = index;
        e.parent = naming.parent;
        // A name is shown as in use when its entry and its inode are.
        e.deleted = !naming.live;
        if (index < inodes_.size()) {
            const InodeInfo& info = inodes_[index];
            e.mode = info.mode;
            e.size = info.size;
            e.deleted = e.deleted || (info.mode != 0 && info.links == 0);
        }
        if (naming.mode != 0) e.mode = naming.mode;
        const std::uint32_t group = index / inodesPerGroup_;
        e.tableBlock = inodeTableBlock(group);
        e.slot = index % inodesPerGroup_;
        return e;
    };
    for (auto& [index, naming] : names_) entries_.emplace(index, makeEntry(index, naming));
    // Further names of an inode take keys past every inode's, within the links' range.
    std::uint64_t key = std::max<std::uint64_t>(inodeCount_, 3);
    for (auto& [index, naming] : moreNames_) {
        if (key > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) break;
        entries_.emplace(static_cast<std::uint32_t>(key++), makeEntry(index, naming));
    }
    ExtEntry root;
    root.name = toUtf8(rootLabel);
    root.index = 2;
    root.mode = kExtDirectory;
    // The root record shows the times of the root directory's inode.
    root.tableBlock = inodeTableBlock(0);
    root.slot = (kRootInode - 1) % std::max<std::uint32_t>(inodesPerGroup_, 1);
    entries_[2] = root;
    names_.clear();
    moreNames_.clear();
    moreNames_.shrink_to_fit();
    inodes_.clear();
    inodes_.shrink_to_fit();
    return true;
}

bool ExtParser::linkEntries() {
    host_.setStatus("Maintaining Parent Child....");
    const auto total = static_cast<std::int64_t>(entries_.size());
    host_.setProgressRange(0, total);
    std::int64_t pos = 0;
    for (auto& [key, e] : entries_) {
        ++pos;
        if (pos % 4096 == 1 || pos == total) {
            host_.setStatus(format("Maintaining Parent Child for record %lld of %lld....", static_cast<long long>(pos),
                                   static_cast<long long>(total)));
            host_.setProgressPos(pos);
            if (stopSeen()) break;
        }
        if (e.parent < 1 || key == 0 || key > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
            continue;
        const auto it = entries_.find(static_cast<std::uint32_t>(e.parent));
        if (it == entries_.end() || it->first == key) continue;
        // Put e in front of the parent's children.
        e.nextSibling = it->second.firstChild;
        it->second.firstChild = static_cast<std::int32_t>(key);
    }
    return true;
}

const ExtEntry* ExtParser::entry(std::uint32_t key) const {
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

void ExtParser::fillTreeTopLevel() {
    host_.setStatus("filling root entries in  tree....");
    const auto it = entries_.find(2);
    if (tree_ == nullptr || it == entries_.end()) return;
    const ExtEntry& root = it->second;
    rootItem_ = tree_->insertItem(kTreeTop, rootLabel, IconKind::Folder, reinterpret_cast<ItemData>(&root));
    std::size_t steps = 0;
    for (std::int32_t k = root.firstChild; k > 0 && steps <= entries_.size(); ++steps) {
        const ExtEntry* child = entry(static_cast<std::uint32_t>(k));
        if (child == nullptr) break;
        k = child->nextSibling;
        if (child->name.empty()) continue;
        const TextColor color = child->deleted ? kDeletedColor : kDefaultColor;
        const auto data = reinterpret_cast<ItemData>(child);
        if (extIsDirectory(child->mode))
            tree_->insertItem(rootItem_, extNameText(child->name), IconKind::Folder, data, color);
        else if (extIsFile(child->mode))
            tree_->insertItem(rootItem_, extNameText(child->name), IconKind::File, data, color);
    }
    tree_->expand(rootItem_);
}

// ---------------------------------------------------------------------------------------------
// Display texts

std::string ExtParser::sizeText(const ExtEntry& entry) const { return formatSizeText(entry.size); }

bool ExtParser::readInode(std::uint64_t tableBlock, std::uint32_t slot, std::vector<std::uint8_t>& out) {
    out.assign(inodeSize_, 0);
    if (inodeSize_ == 0 || slot >= inodesPerGroup_) return false;
    const std::uint64_t byte = static_cast<std::uint64_t>(slot) * inodeSize_;
    const std::uint64_t block = tableBlock + byte / blockSize_;
    if (!blockInVolume(block)) return false;
    const auto offset = volumeStart_ + static_cast<std::int64_t>(block * blockSize_ + byte % blockSize_);
    return readVolume(offset, out.data(), inodeSize_);
}

namespace {

platform::UnixTime inodeTime(ByteSpan inode, std::size_t lowOffset, std::size_t extraOffset) {
    platform::UnixTime t;
    t.seconds = static_cast<std::int32_t>(le32(inode, lowOffset));
    // Large inodes keep two more bits of seconds (dates after 2038) and the nanoseconds.
    if (inode.size() > 128 && 128 + static_cast<std::size_t>(le16(inode, kInExtraIsize)) >= extraOffset + 4) {
        const std::uint32_t extra = le32(inode, extraOffset);
        t.seconds += static_cast<std::int64_t>(extra & 3) << 32;
        const std::uint32_t ns = extra >> 2;
        t.nanoseconds = ns < 1000000000u ? ns : 0;
    }
    return t;
}

}  // namespace

std::array<std::string, 4> ExtParser::timeTexts(const ExtEntry& entry) {
    std::array<std::string, 4> out;
    std::vector<std::uint8_t> raw;
    if (!readInode(entry.tableBlock, entry.slot, raw)) return out;
    const ByteSpan inode(raw);
    out[0] = formatLocalTime(inodeTime(inode, kInCtime, kInCtimeExtra));
    out[1] = formatLocalTime(inodeTime(inode, kInAtime, kInAtimeExtra));
    out[2] = formatLocalTime(inodeTime(inode, kInMtime, kInMtimeExtra));
    out[3] = extPermissionText(le16(inode, kInMode));
    return out;
}

ExtInodeTimes ExtParser::inodeFileTimes(const ExtEntry& entry) {
    ExtInodeTimes times;
    std::vector<std::uint8_t> raw;
    if (!readInode(entry.tableBlock, entry.slot, raw)) return times;
    const ByteSpan inode(raw);
    times.creation = inodeTime(inode, kInCtime, kInCtimeExtra);
    times.access = inodeTime(inode, kInAtime, kInAtimeExtra);
    times.modification = inodeTime(inode, kInMtime, kInMtimeExtra);
    // The creation time follows the extra times, where the inode's extra size reaches it.
    if (inode.size() > 128 && 128 + static_cast<std::size_t>(le16(inode, kInExtraIsize)) >= kInCrtime + 4 &&
        inode.size() >= kInCrtime + 4) {
        const platform::UnixTime birth = inodeTime(inode, kInCrtime, kInCrtimeExtra);
        if (birth.seconds != 0 || birth.nanoseconds != 0) times.birth = birth;
    }
    return times;
}

std::string extPermissionText(std::uint16_t mode) {
    static constexpr const char* kLetters[] = {"-OE", "-OW", "-OR", "-GE", "-GW", "-GR", "-UE", "-UW", "-UR"};
    std::string out;
    for (int bit = 0; bit < 9; ++bit)
        if (mode & (1u << bit)) out += kLetters[bit];
    return out;
}

std::u16string extNameText(const std::string& bytes) {
    // Accept well-formed UTF-8 (no overlong forms, no surrogates); anything else is 8-bit text.
    std::size_t i = 0;
    bool valid = true;
    while (i < bytes.size() && valid) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        std::size_t len = 0;
        std::uint32_t cp = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 2;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 3;
            cp = b & 0x07;
        } else {
            valid = false;
            break;
        }
        if (i + len >= bytes.size()) {
            valid = false;
            break;
        }
        for (std::size_t k = 1; k <= len; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if ((c & 0xC0) != 0x80) valid = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((len == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            valid = false;
        i += len + 1;
    }
    return valid ? fromUtf8(bytes) : fromCodePage(bytes);
}

}  // namespace corvello
