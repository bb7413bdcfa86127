#pragma once
// One entry of a volume list: a partition found on a disk, or a logical volume of the machine.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvello {

// The file systems the parsers read.
enum class FileSystemKind : std::uint8_t { None, Ntfs, Fat12, Fat16, Fat32, ExFat, Ext, HfsPlus };

// The name the volume list shows for a kind: "NTFS", "FAT12", "FAT16", "FAT32", "FAT64" (exFAT),
// "extX", "HFS+"; empty for None.
std::u16string fileSystemName(FileSystemKind kind);
// The kind a name stands for, compared without regard to case: the list's names, and "fat" (for
// FAT16) and "exFat" as a user may type them; None for any other text.
FileSystemKind fileSystemKindOf(std::u16string_view name);

struct VolumeRecord {
    // The file system as the list shows it: the name of kind, or a text that names none the
    // parsers read (a mount's type, a partition's name, "Unknown", "RAW").
    std::u16string fileSystem;
    std::u16string displayName;  // a logical volume's mount point; empty for a found partition
    std::u16string locator;      // a logical volume's device path; else the row number as text
    std::u16string sizeText;     // size in MiB as text ("%lld  MB" and the like)
    std::int64_t startSector = 0;  // first 512-byte sector on the device
    // The exact length of the volume in bytes, where it is known (the partition table's sector
    // count, the boot record's own size, the image's length); 0 when only sizeText tells it.
    std::int64_t byteLength = 0;
    // The file system the volume was found with, or the one the user chose to treat it as.
    FileSystemKind kind = FileSystemKind::None;

    // Sets kind and the name the list shows for it.
    void setKind(FileSystemKind k) {
        kind = k;
        fileSystem = fileSystemName(k);
    }
    // Sets the file-system text (as found, or as typed) and the kind it names.
    void setFileSystem(std::u16string text) {
        kind = fileSystemKindOf(text);
        fileSystem = std::move(text);
    }
    // The kind to read the volume as: kind, or, for a record that only has a text, the kind the
    // text names.
    FileSystemKind fileSystemKind() const { return kind != FileSystemKind::None ? kind : fileSystemKindOf(fileSystem); }

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
