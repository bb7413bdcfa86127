#pragma once
// HFS+ (and HFSX) volume parser: the volume header, the catalog and extents-overflow B-trees,
// one entry per catalog folder and file record linked into a tree, the display texts and where
// a file's data fork lies. (HFSP in the original design.)

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/ResultTree.h"
#include "device/VolumeView.h"
#include "fs/ParserInputs.h"
#include "fs/hfsplus/HfsRecords.h"
#include "common/VolumeRecord.h"
#include "platform/Time.h"

namespace corvello {

class ScanHost;

// A B-tree file's fork: where its bytes lie on the volume.
struct HfsFork {
    std::uint64_t logicalSize = 0;
    std::uint32_t totalBlocks = 0;
    std::vector<HfsExtent> extents;  // in fork order
};

class HfsPlusParser {
public:
    explicit HfsPlusParser(const ParserInputs& inputs = {})
        : volume(inputs.volume), tree(inputs.tree), host(inputs.host), view(inputs.view), rootLabel(inputs.rootLabel) {}

    // From the parser's inputs.
    VolumeRecord volume;
    ResultTree* tree = nullptr;
    ScanHost* host = nullptr;
    VolumeView view;  // the volume, from its first byte
    std::u16string rootLabel = u"ROOT";

    // Reads through view from here on and inserts the root item.
    bool attachReader();
    // Reads the volume header; false without a reader or when the signature is neither "H+"
    // nor "HX".
    bool readVolumeHeader();
    // Standard mode: walks the catalog file node by node through its extents.
    bool readCatalogNodes();
    // Advanced and deep modes: scans the whole volume for catalog leaf nodes.
    bool scanCatalogNodes();
    // Walks the extents-overflow file and indexes its data-fork records.
    bool readExtentsNodes();
    void parseCatalogLeaves();
    void linkEntries();
    void fillTreeTopLevel();

    std::string sizeText(const HfsEntry& entry) const;
    // Creation, access and modification time and the permission text of a file entry.
    void timeTexts(const HfsEntry& entry, std::array<std::string, 4>& out) const;

    // The runs of blocks of a file entry's data fork in fork order (the catalog record's
    // extents, then its extents-overflow records), blocks outside the volume left out; false
    // when not one block lies inside the volume. The entry is taken as it is (no hard link is
    // followed).
    bool dataRuns(const HfsEntry& entry, std::vector<HfsExtent>& runs);
    // Appends to runs the blocks of the extents-overflow records of cnid, from fork block have
    // on, until total blocks are listed; false when a record is missing.
    bool readOverflowExtents(std::vector<HfsExtent>& runs, std::uint64_t have, std::uint64_t cnid, std::uint32_t total);
    struct FileTimes {
        bool known = false;  // false when the catalog record could not be read
        platform::UnixTime creation, access, modification;
    };
    FileTimes recordFileTimes(const HfsEntry& entry) const;

    // A file hard link keeps no data of its own: it names the file "iNode<number>" of the
    // private data folder, which holds the data and the times. Null for any other entry.
    const HfsEntry* hardLinkTarget(const HfsEntry& entry) const;

    // The child entries of a folder, in chain order.
    std::vector<std::uint64_t> childrenOf(std::uint64_t cnid) const;
    const HfsEntry* find(std::uint64_t cnid) const;

    // Parser state.
    std::uint32_t blockSize = 0;
    std::uint32_t volumeBlocks = 0;  // the header's total blocks
    char signature[3] = {0, 0, 0};
    std::uint32_t catalogNodeSize = 0;
    std::uint32_t catalogBlocksPerNode = 0;
    std::uint32_t extentsNodeSize = 0;
    std::uint32_t extentsBlocksPerNode = 0;
    bool scanned = false;
    HfsFork catalogFork;
    HfsFork extentsFork;
    std::vector<HfsNode> catalogNodes;
    std::vector<HfsNode> extentsNodes;
    std::map<std::uint64_t, HfsEntry> entries;
    std::map<std::pair<std::uint32_t, std::uint32_t>, HfsOverflowRef> overflowIndex;
    std::uint64_t orphanId = 0;
    TreeItem rootItem = 0;

private:
    const VolumeView* reader = nullptr;  // &view once attached
    struct TreeHeader {
        std::uint32_t nodeSize = 0;
        std::uint32_t totalNodes = 0;
        std::uint32_t firstLeaf = 0;
    };
    // The leaf nodes in the order their records are taken: the tree's leaf chain first, then
    // nodes outside it (freed nodes may hold stale copies of live records).
    std::vector<std::size_t> leafOrder() const;
    std::uint32_t catalogFirstLeaf_ = 0;
    bool readTreeHeader(const HfsFork& fork, TreeHeader& header);
    bool walkTree(const HfsFork& fork, const TreeHeader& header, std::vector<HfsNode>& out);
    bool readExtentsTree();
    void completeCatalogFork();
    bool readNode(std::uint64_t position, std::uint32_t nodeSize, std::vector<std::uint8_t>& buffer) const;
    // Byte offset on the volume of a fork's logical byte, or false when no extent maps it.
    bool forkPosition(const HfsFork& fork, std::uint64_t logical, std::uint64_t& position) const;
    // The number of blocks an extent may cover without leaving the volume.
    std::uint64_t blocksInside(const HfsExtent& e) const;
    std::uint64_t deviceBlocks() const;
    void appendRun(std::vector<HfsExtent>& runs, std::uint32_t start, std::uint32_t count) const;
    void status(const std::string& text) const;
    bool stop() const;
    void progressRange(std::int64_t high) const;
    void progressPos(std::int64_t pos) const;
    // Reads the record at entry's node block and record offset; false when it cannot be read.
    bool readRecordData(const HfsEntry& entry, std::vector<std::uint8_t>& data) const;

    bool extentsTreeRead_ = false;
    // Files of the private data folder by name, built on the first hard link.
    mutable std::map<std::u16string, std::uint64_t> privateFiles_;
    mutable std::once_flag privateFilesIndexed_;
};

// The permission text of a BSD file mode, e.g. "-Owner:W-Owner:R-OR-GR" for 0644.
std::string hfsPermissionText(std::uint16_t mode);

}  // namespace corvello
