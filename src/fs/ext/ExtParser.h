#pragma once
// The ext2, ext3 and ext4 parser: finds the superblock, reads the block-group descriptors,
// records every inode, walks the directories to name the inodes, links the named entries into
// a tree and fills its top level. It also gives the file list's texts and reads files' data.
// (ext2Class in the original design.)

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/Bytes.h"
#include "common/ResultTree.h"
#include "device/VolumeView.h"
#include "fs/ParserInputs.h"
#include "fs/ext/ExtEntry.h"
#include "common/VolumeRecord.h"
#include "platform/Time.h"

namespace corvello {

class ScanHost;

// A run of a file's logical blocks: `count` blocks from `logical` stored from `physical` on.
// Logical blocks no run covers (holes, uninitialised extents, damaged pointers) read as zeros.
struct ExtBlockRun {
    std::uint64_t logical = 0;
    std::uint64_t physical = 0;
    std::uint64_t count = 0;
};

// Where the bytes of a named inode lie, as a saved file takes them.
struct ExtFileMap {
    bool inodeRead = false;  // the inode could be read
    bool mapWhole = true;    // the block map or extent tree was walked whole
    bool inInode = false;    // the data are kept in the inode (inline data, a short link target)
    std::vector<std::uint8_t> inodeBytes;  // those data, as the inode holds them
    // The block runs in file order, none overlapping (where runs overlap the first keeps the
    // bytes), each starting before the file's size.
    std::vector<ExtBlockRun> runs;
    std::uint64_t dataEnd = 0;  // the file offset where the last run's data end (at most the size)
};

struct ExtInodeTimes {
    platform::UnixTime creation;  // the inode's change time
    platform::UnixTime access;
    platform::UnixTime modification;
    std::optional<platform::UnixTime> birth;  // the creation time large inodes keep
};

class ExtParser {
public:
    // inputs.host must not be null.
    explicit ExtParser(const ParserInputs& inputs);

    // From the parser's inputs.
    VolumeRecord volume;
    std::u16string rootLabel = u"ROOT";
    std::int64_t volumeBytes = 0;

    // The scan, in this order.
    bool attachReader();
    bool findSuperblock();
    bool readGroupDescriptors();
    bool scanInodeTables();
    bool parseDirectories();
    bool buildEntryMap();
    bool linkEntries();
    void fillTreeTopLevel();

    // Display texts of the file list.
    std::string sizeText(const ExtEntry& entry) const;
    // Change, access and modification time, and the permission letters.
    std::array<std::string, 4> timeTexts(const ExtEntry& entry);

    // Where the entry's data lie: read from its inode (which is read again from the volume).
    ExtFileMap fileMap(const ExtEntry& entry);
    // Reads the bytes of a file mapped by runs (see ExtFileMap) from file offset `offset` into
    // buffer; bytes no run covers are zeros. False when a block could not be read (it then
    // reads as zeros where the medium gave nothing).
    bool readMapped(const std::vector<ExtBlockRun>& runs, std::uint64_t offset, std::span<std::uint8_t> buffer);
    ExtInodeTimes inodeFileTimes(const ExtEntry& entry);

    // The data block runs of an on-disk inode, in file order, up to its size; false when the
    // block map or extent tree is damaged (the damaged parts read as zeros).
    bool collectBlocks(ByteSpan inode);
    const std::vector<ExtBlockRun>& blocks() const { return blocks_; }

    // Where an entry's data lie: in the inode itself (inline data, a short link), or in block
    // runs. False when the inode cannot be read.
    bool dataPlace(const ExtEntry& entry, bool& inInode, std::vector<ExtBlockRun>& runs);
    // Whether its group's block bitmap marks block b in use. A group whose bitmap was never
    // initialised holds no data; a bitmap that cannot be read counts every block in use.
    bool blockInUse(std::uint64_t block);
    std::uint64_t blocksCount() const { return blocksCount_; }

    // The volume as found.
    std::uint64_t superblockOffset() const { return superblockOffset_; }
    std::int64_t volumeStart() const { return volumeStart_; }
    std::uint32_t blockSize() const { return blockSize_; }
    std::uint32_t groupCount() const { return groupCount_; }
    std::uint32_t inodeCount() const { return inodeCount_; }
    std::uint32_t inodeSize() const { return inodeSize_; }
    std::uint32_t descriptorSize() const { return descriptorSize_; }
    bool hasFileType() const { return hasFileType_; }
    std::uint64_t inodeTableBlock(std::uint32_t group) const;

    // The records by key: an inode's index for its first name, keys past every inode's for its
    // further names (hard links); ROOT under 2.
    const std::map<std::uint32_t, ExtEntry>& entries() const { return entries_; }
    const ExtEntry* entry(std::uint32_t key) const;
    TreeItem rootItem() const { return rootItem_; }

private:
    struct InodeInfo {
        std::uint64_t size = 0;
        std::uint16_t mode = 0;
        std::uint16_t links = 0;
        bool recorded = false;  // its group's table was read
    };
    bool recorded(std::uint32_t number) const {
        return number >= 1 && number - 1 < inodes_.size() && inodes_[number - 1].recorded;
    }
    struct DirectoryInode {
        std::uint32_t number = 0;
        std::vector<std::uint8_t> inode;  // the on-disk inode
    };
    struct Naming {
        std::string name;
        std::int32_t parent = -1;
        std::uint16_t mode = 0;  // from the entry's file type; 0 keeps the inode's mode
        bool live = false;       // an entry in use in a directory in use
    };
    struct Group {
        std::uint64_t tableBlock = 0;
        std::uint64_t blockBitmap = 0;
        std::uint16_t flags = 0;
        bool readable = false;  // the descriptor was read
    };

    bool takeSuperblock(ByteSpan sb, std::uint64_t offset);
    // The data of an inode with inline data: its block area and its "system.data" attribute.
    std::vector<std::uint8_t> inlineData(ByteSpan inode) const;
    bool readDescriptorBlock(std::uint64_t block, std::vector<std::uint8_t>& out);
    void readInodeTable(std::uint32_t group);
    bool groupHasSuperblock(std::uint64_t group) const;
    // False when a stop was requested.
    bool walkDirectory(const DirectoryInode& dir, bool strong, std::vector<std::pair<std::uint32_t, Naming>>& weak);
    // Names an inode from an entry in use in a directory in use: a directory keeps its last
    // such name, any other inode every name (its hard links).
    void nameInode(std::uint32_t number, std::string name, std::int32_t parent, std::uint8_t fileType);
    // Names that only removed entries or directories no longer in use give: for inodes no entry
    // in use names, the first name of a directory, every name of anything else.
    void nameFromRemoved(std::vector<std::pair<std::uint32_t, Naming>>& weak);
    bool readInode(std::uint64_t tableBlock, std::uint32_t slot, std::vector<std::uint8_t>& out);
    bool readBlocks(std::uint64_t block, std::uint64_t count, std::uint8_t* buffer);
    bool blockInVolume(std::uint64_t block, std::uint64_t count = 1) const;
    std::uint64_t maxFileBlocks(ByteSpan inode) const;
    void walkExtents(ByteSpan node, int depth, std::uint64_t limit, int& budget, bool& ok);
    void addRun(std::uint64_t logical, std::uint64_t physical, std::uint64_t count);
    void walkIndirect(std::uint64_t block, int level, std::uint64_t& logical, std::uint64_t limit, bool& ok);
    bool stopSeen();

    ScanHost& host_;
    ResultTree* tree_;
    // Reads count bytes at offset from the volume's first byte (nothing before it).
    bool readVolume(std::int64_t offset, std::uint8_t* buffer, std::size_t count) const;

    VolumeView view_;
    const VolumeView* reader_ = nullptr;  // &view_ once a view is attached
    std::uint64_t deviceBytes_ = 0;  // bytes of the device from the volume's start on

    // Volume fields.
    std::uint64_t superblockOffset_ = 0;
    std::int64_t volumeStart_ = 0;  // byte where block 0 begins
    std::array<std::uint8_t, 1024> superblock_{};
    std::uint32_t inodeCount_ = 0;
    std::uint64_t blocksCount_ = 0;
    std::uint32_t firstDataBlock_ = 0;
    std::uint32_t groupCount_ = 0;
    std::uint32_t blockSize_ = 0;
    std::uint32_t blocksPerGroup_ = 0;
    std::uint32_t inodesPerGroup_ = 0;
    std::uint32_t inodeSize_ = 0;
    std::uint32_t descriptorSize_ = 32;
    std::uint32_t superblockGroup_ = 0;
    std::uint32_t featureIncompat_ = 0;
    std::uint32_t featureRoCompat_ = 0;
    bool hasFileType_ = false;

    std::vector<Group> groups_;
    std::vector<InodeInfo> inodes_;               // by inode number - 1
    std::vector<DirectoryInode> directories_;     // directory inodes, in inode order
    std::unordered_map<std::uint32_t, Naming> names_;  // the first name, by inode number - 1
    std::vector<std::pair<std::uint32_t, Naming>> moreNames_;  // further names (hard links), by inode number - 1
    std::map<std::uint32_t, ExtEntry> entries_;
    std::vector<ExtBlockRun> blocks_;
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> blockBitmaps_;  // by group, read on first use
    bool runsFull_ = false;
    TreeItem rootItem_ = 0;
};

// The permission letters of a mode: "-OE", "-OW", "-OR", "-GE", "-GW", "-GR", "-UE", "-UW",
// "-UR" for each bit set from 0x001 up.
std::string extPermissionText(std::uint16_t mode);
// A name from a directory entry as text: UTF-8 when the bytes are valid UTF-8, else the
// program's 8-bit code page.
std::u16string extNameText(const std::string& bytes);

}  // namespace corvello
