#pragma once
// FAT32 volumes: the root directory is a cluster chain, 32-bit FAT entries (28 bits used).

#include "fs/fat/FatVolume.h"

namespace corvello {

class Fat32Class : public FatVolume {
public:
    Fat32Class() : FatVolume(FatKind::Fat32) {}
    // True for a FAT32 boot sector.
    bool checkBootSector() { return acceptBootSector(true); }
};

}  // namespace corvello
