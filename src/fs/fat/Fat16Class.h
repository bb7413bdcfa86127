#pragma once
// FAT12 and FAT16 volumes: a fixed root-directory region, 12- or 16-bit FAT entries.

#include "fs/fat/FatVolume.h"

namespace corvello {

class Fat16Class : public FatVolume {
public:
    Fat16Class() : FatVolume(FatKind::Fat16) {}
    // True for a FAT12 or FAT16 boot sector.
    bool checkBootSector() { return acceptBootSector(false); }
};

}  // namespace corvello
