#pragma once
// One entry of a volume list: a partition found on a disk, or a logical volume of the machine.

#include <cstdint>
#include <string>
#include <vector>

namespace corvello {

struct VolumeRecord {
    std::u16string fileSystem;   // "NTFS", "FAT32", "FAT16", "FAT12", "FAT64", "extX", "HFS+", ...
    std::u16string displayName;  // a logical volume's mount point; empty for a found partition
    std::u16string locator;      // a logical volume's device path; else the row number as text
    std::u16string sizeText;     // size in MiB as text ("%lld  MB" and the like)
    std::int64_t startSector = 0;  // first 512-byte sector on the device
    // The exact length of the volume in bytes, where it is known (the partition table's sector
    // count, the boot record's own size, the image's length); 0 when only sizeText tells it.
    std::int64_t byteLength = 0;

    // The volume size the parsers use: byteLength while sizeText still shows it (its whole
    // MiB, or the next one up, as the bare GPT sizes round) or shows no number at all, else the
    // leading decimal digits of sizeText × 1,048,576, so that a size typed over the text counts
    // as typed.
    std::int64_t sizeBytes() const;
    // The leading decimal digits of sizeText, in MiB.
    std::int64_t sizeTextMiB() const;
    // byteLength / 512 (rounded up), or the MiB of sizeText in sectors.
    std::int64_t sectorCount() const { return (sizeBytes() + 511) / 512; }
};

// Where found volumes go: the volume-list page, or a plain list.
class PartitionOwner {
public:
    virtual ~PartitionOwner() = default;
    // Appends a record to the volume list (the boot-record scan shows it at once as a new row).
    virtual void appendVolume(const VolumeRecord& record) = 0;
    // A boot-record scan starts (true) or ends (false): the list grows while it runs.
    virtual void scanRunning(bool /*running*/) {}
};

// A volume list kept in memory.
class VolumeList : public PartitionOwner {
public:
    void appendVolume(const VolumeRecord& record) override { volumes.push_back(record); }
    std::vector<VolumeRecord> volumes;
};

}  // namespace corvello
