#pragma once
// FAT32 volumes: the root directory is a cluster chain, 32-bit FAT entries (28 bits used).
// (Fat32Class in the original design.)

#include "fs/fat/FatVolume.h"

namespace corvello {

class Fat32Parser : public FatVolume {
public:
    explicit Fat32Parser(const ParserInputs& inputs = {}) : FatVolume(FatKind::Fat32, inputs) {}
    // True for a FAT32 boot sector.
    bool checkBootSector() { return acceptBootSector(true); }
};

}  // namespace corvello
