#pragma once
// One entry of a volume list: a partition found on a disk, or a logical volume of the machine.

#include <cstdint>
#include <string>

namespace corvello {

struct VolumeRecord {
    std::u16string fileSystem;   // "NTFS", "FAT32", "FAT16", "FAT12", "FAT64", "extX", "HFS+", ...
    std::u16string displayName;  // a logical volume's mount point; empty for a found partition
    std::u16string locator;      // a logical volume's device path; else the row number as text
    std::u16string sizeText;     // size in MiB as text ("%lld  MB" and the like)
    std::int64_t startSector = 0;  // first 512-byte sector on the device
    std::int64_t sectorCount = 0;  // the volume's length in 512-byte sectors; 0 when not known

    // The leading decimal digits of sizeText × 1,048,576: the volume size the parsers use.
    std::int64_t sizeBytes() const;
};

}  // namespace corvello
