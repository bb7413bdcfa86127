#pragma once
// Recognising the first sector of a volume: NTFS, FAT12/16/32, exFAT and the HFS+ header.

#include <cstdint>
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

}  // namespace corvello
