#pragma once
// One name of an inode of an ext2/3/4 volume, as the results tree and the save walk see it. An
// inode with several names (hard links) has a record for each.

#include <cstdint>
#include <string>

namespace corvello {

struct ExtEntry {
    std::string name;               // name bytes from a directory entry; empty when none
    std::uint32_t index = 0;        // inode number - 1; the key of the record map for its first name
    std::int32_t parent = -1;       // the parent's index (2 for the root's entries); -1 unknown
    std::uint16_t mode = 0;         // inode mode, or 0x4000 / 0x8000 from the entry's file type
    std::uint64_t size = 0;         // file size in bytes
    std::uint64_t tableBlock = 0;   // block of the inode table that holds the inode
    std::uint32_t slot = 0;         // position of the inode in that table
    std::int32_t firstChild = -1;   // key of the first child; -1 none
    std::int32_t nextSibling = -1;  // key of the next sibling; a value <= 0 ends the list
    bool deleted = false;           // the name was removed, or the inode is no longer linked (link count 0)
};

// Mode type bits.
inline constexpr std::uint16_t kExtTypeMask = 0xF000;
inline constexpr std::uint16_t kExtDirectory = 0x4000;
inline constexpr std::uint16_t kExtRegular = 0x8000;
inline constexpr std::uint16_t kExtSymlink = 0xA000;

inline bool extIsDirectory(std::uint16_t mode) { return (mode & kExtTypeMask) == kExtDirectory; }
// Records saved as files: regular files and symbolic links (whose data is the link's target).
inline bool extIsFile(std::uint16_t mode) {
    return (mode & kExtTypeMask) == kExtRegular || (mode & kExtTypeMask) == kExtSymlink;
}

}  // namespace corvello
