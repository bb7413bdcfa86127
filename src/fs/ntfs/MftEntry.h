#pragma once
// The NTFS entry record (one per MFT record slot) and the run-list element.

#include <array>
#include <cstdint>

namespace corvello {

// One run of a run list. Cluster numbers and lengths are 64-bit: a volume may have more than
// 2^31 clusters and a run may be longer than 2^32 clusters.
struct MftRun {
    std::int64_t lcn = 0;     // first logical cluster; 0 for a sparse run
    std::uint64_t count = 0;  // length in clusters
    bool sparse = false;      // no clusters on disk (LCN 0 is a real cluster: $Boot lives there)
};

// One MFT record slot. Indices into the parser's table equal MFT record numbers.
struct MftEntry {
    std::array<char, 4> signature{};  // "FILE" for a record
    std::uint64_t location = 0;       // byte offset of the slot from the volume start
    const char16_t* name = nullptr;   // NUL-terminated, owned by the parser; null when nameless
    std::int64_t parent = 0;          // record number of the parent directory
    std::uint64_t allocatedSize = 0;  // from the file-name attribute
    std::uint16_t recordFlags = 0;    // bit 0 in use, bit 1 directory
    char kind = 0;                    // 'D' for a directory
    std::uint64_t index = 0;          // own position in the table
    std::uint8_t orphan = 0;          // could not be placed under its parent
    std::int64_t firstChild = 0;      // 0 = none
    std::int64_t nextSibling = 0;     // 0 or negative ends the list

    // Bookkeeping of this implementation.
    std::uint64_t baseRecord = 0;  // for an extension record: its base record's number, else 0
    bool damaged = false;          // the update-sequence check failed
    bool attached = false;         // already linked under its parent (a second name does not move it)

    bool isFile() const { return signature == std::array<char, 4>{'F', 'I', 'L', 'E'}; }
};

}  // namespace corvello
