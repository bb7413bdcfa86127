#pragma once
// The entry records of the FAT family: one FatEntry per FAT12/16/32 directory slot that names a
// file or folder, one ExFatEntry per exFAT file entry set. Records live in one flat list per
// parse; parent and child links are indices into that list.

#include <cstdint>
#include <string>

namespace corvello {

inline constexpr std::uint32_t kNoEntry = 0xFFFFFFFFu;

struct FatEntry {
    std::uint8_t attributes = 0;       // slot byte 11
    std::uint8_t createTimeTenth = 0;  // slot byte 13
    std::uint16_t createTime = 0;      // slot bytes 14..15
    std::uint16_t createDate = 0;      // slot bytes 16..17
    std::uint16_t accessDate = 0;      // slot bytes 18..19
    std::uint16_t clusterHigh = 0;     // slot bytes 20..21 (FAT32 only)
    std::uint16_t writeTime = 0;       // slot bytes 22..23
    std::uint16_t writeDate = 0;       // slot bytes 24..25
    std::uint16_t clusterLow = 0;      // slot bytes 26..27
    std::uint32_t size = 0;            // slot bytes 28..31
    std::uint8_t deleted = 0;          // the slot (or its long name) carries the 0xE5 mark
    std::u16string name;               // display name
    std::uint32_t parent = 0;          // index of the folder that holds it
    std::uint32_t index = 0;           // own position in the list
    std::uint32_t firstChild = kNoEntry;
    std::uint32_t nextSibling = kNoEntry;
    std::uint8_t caseFlags = 0;        // slot byte 12: lower-case base (0x08) and extension (0x10)
};

struct ExFatEntry {
    std::uint8_t entryType = 0;  // 0x85 live, 0x05 deleted
    std::uint16_t attributes = 0;
    std::uint32_t createTimestamp = 0;
    std::uint32_t modifyTimestamp = 0;
    std::uint32_t accessTimestamp = 0;
    std::uint8_t create10ms = 0;
    std::uint8_t modify10ms = 0;
    std::uint8_t createUtcOffset = 0;
    std::uint8_t modifyUtcOffset = 0;
    std::uint8_t accessUtcOffset = 0;
    std::uint8_t streamType = 0;   // 0xC0 live, 0x40 deleted
    std::uint8_t streamFlags = 0;  // bit 0 allocation possible, bit 1 no FAT chain
    std::uint8_t nameLength = 0;
    std::uint64_t validDataLength = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t dataLength = 0;
    std::u16string name;
    std::uint32_t parent = 0;
    std::uint32_t index = 0;
    std::uint32_t firstChild = kNoEntry;
    std::uint32_t nextSibling = kNoEntry;
};

// The directory attribute values: the directory bit with any of read-only, hidden, system and
// archive, never with the volume-label bit or the reserved high bits.
inline bool isFatDirectory(std::uint8_t attributes) { return (attributes & ~0x27u) == 0x10u; }
inline bool isExFatDirectory(std::uint16_t attributes) { return (attributes & 0x10u) != 0; }

inline std::uint32_t firstClusterOf(const FatEntry& e) {
    return (static_cast<std::uint32_t>(e.clusterHigh) << 16) | e.clusterLow;
}

}  // namespace corvello
