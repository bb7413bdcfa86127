#pragma once
// The records the HFS+ parser keeps: catalog and extents-overflow B-tree nodes, one entry per
// catalog folder or file record, and the index of extents-overflow records.

#include <cstdint>
#include <string>
#include <vector>

namespace corvello {

// One extent descriptor: a run of allocation blocks.
struct HfsExtent {
    std::uint32_t startBlock = 0;
    std::uint32_t blockCount = 0;
};

// A B-tree node as recorded by the node walks.
struct HfsNode {
    std::uint64_t number = 0;  // node number (scanned: first block / blocks per node)
    std::int8_t kind = 0;      // -1 leaf, 0 index, 1 header, 2 map
    std::uint8_t height = 0;
    std::uint16_t records = 0;
    std::vector<std::uint16_t> offsets;  // record offsets, first record first
    std::uint64_t position = 0;          // byte offset of the node on the volume
    std::uint32_t forward = 0;           // the next node of the same level (0 none)
    std::uint32_t size = 0;              // node size when found by scanning (0: the tree's)
};

inline constexpr std::int64_t kNoLink = -1;

// One folder or file of the catalog, keyed by its catalog node ID.
struct HfsEntry {
    std::uint16_t kind = 0;                // 1 folder, 2 file
    // CNIDs are 32-bit on disk; the fields are wider so that the "ORPHAN_ENTRY" folder (largest
    // CNID + 1) always has an ID of its own and every CNID can be a link.
    std::uint64_t parentId = 0;            // parent CNID from the record's key
    std::uint64_t cnid = 0;                // folder ID or file ID
    std::int64_t firstChild = kNoLink;     // CNID of the first child, -1 none
    std::int64_t nextSibling = kNoLink;    // CNID of the next sibling, < 1 ends the list
    std::uint32_t totalBlocks = 0;         // files: the data fork's total blocks
    std::u16string name;
    std::uint64_t nodeBlock = 0;           // block that holds the start of the catalog node
    std::uint32_t recordOffset = 0;        // offset of the record from that block's start
    std::uint64_t size = 0;                // files: the data fork's logical size
    std::vector<HfsExtent> extents;        // files: the catalog record's extents with start != 0
};

// Where an extents-overflow record lies.
struct HfsOverflowRef {
    std::uint32_t startBlock = 0;    // first fork block the record describes
    std::uint32_t recordOffset = 0;  // offset of the record within its node
    std::uint64_t nodeBlock = 0;     // block that holds the start of the node
    std::uint64_t nodePosition = 0;  // byte offset of the node on the volume
};

}  // namespace corvello
