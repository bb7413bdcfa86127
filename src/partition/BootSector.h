#pragma once
// Recognising the first sector of a volume: NTFS, FAT12/16/32, exFAT and the HFS+ header.

#include <cstdint>
#include <functional>
#include <string>

#include "common/Bytes.h"

namespace corvello {

enum class BootKind { None, Ntfs, Fat12, Fat16, Fat32, ExFat, HfsPlus };

struct BootInfo {
    BootKind kind = BootKind::None;
    std::int64_t sizeBytes = 0;  // volume size the boot record declares
};

// NTFS: EB 52 .. "NTFS", 512 bytes per sector; size from the 64-bit sector count at 40.
BootInfo classifyNtfs(ByteSpan sector, bool requireOemName = true);
// FAT12/16/32 by structure: jump, bytes per sector a power of two 512..4096, sectors per cluster
// a power of two, reserved sectors > 0, one or two FATs, the 0x55AA mark; the type decided by the
// sectors-per-FAT fields and the cluster count.
BootInfo classifyFat(ByteSpan sector);
// exFAT: EB 3C/58/76 .. "EXFA"; size from the 64-bit volume length at 72.
BootInfo classifyExFat(ByteSpan sector);
// HFS+ / HFSX volume header (the sector 1,024 bytes into the volume): "H+" or "HX", version;
// size = block size × total blocks.
BootInfo classifyHfsPlus(ByteSpan header);
// ext2/3/4 superblock (1,024 bytes into the volume): magic 0xEF53.
bool isExtSuperblock(ByteSpan superblock);

// The file-system name of a volume whose first 4 KiB are given, as the volume list names it
// ("NTFS", "FAT12", "FAT16", "FAT32", "FAT64", "extX", "HFS+"), or empty.
std::u16string recogniseVolume(ByteSpan firstBytes);

// The size an ext superblock declares (blocks × block size), or 0.
std::int64_t extVolumeBytes(ByteSpan superblock);

// Reads count bytes at a byte offset from the volume's first byte; false when they cannot be read.
using VolumeReadFn = std::function<bool(std::int64_t offset, std::uint8_t* buffer, std::size_t count)>;

// A volume recognised from its first sectors or, when they are gone, from the copies its file
// system keeps: NTFS its boot sector in its last sector, FAT32 in sector 6, exFAT a whole boot
// region from sector 12, ext its superblock at the start of later block groups.
struct VolumeGuess {
    std::u16string fileSystem;      // as recogniseVolume names it; empty when nothing was found
    BootKind kind = BootKind::None;  // None for ext
    std::int64_t sizeBytes = 0;      // the size the file system declares (0 when unknown)
    std::int64_t backupOffset = -1;  // byte offset of the backup copy used; -1: the first sectors told
};

// Looks at the volume of volumeBytes bytes (0 when unknown: the NTFS copy is then not looked for).
VolumeGuess recogniseVolumeWithBackups(const VolumeReadFn& read, std::int64_t volumeBytes);

// The backup copies of one volume, where each file system keeps them.
inline constexpr std::int64_t kFat32BackupSector = 6;
inline constexpr std::int64_t kExFatBackupSector = 12;
// An NTFS boot sector, read at the given sector of its volume, that is the backup copy: the
// sectors it counts end right before it.
bool isNtfsBackupAt(ByteSpan sector, std::int64_t sectorIndex);
// A FAT32 boot sector that names sector 6 as its backup.
bool isFat32Backup(ByteSpan sector);
// Where ext keeps backup superblocks in group 1 and 3 for the usual geometries; a superblock
// found there is taken when its own group number and geometry place it exactly there.
bool findExtBackupSuperblock(const VolumeReadFn& read, std::int64_t volumeBytes, std::int64_t& offset,
                             std::int64_t& sizeBytes);

// The status line shown when a volume opens from a backup copy.
std::string backupStatusText(BootKind kind, std::int64_t backupOffset);

}  // namespace corvello
