#pragma once
// FAT12 and FAT16 volumes: a fixed root-directory region, 12- or 16-bit FAT entries.
// (Fat16Class in the original design.)

#include "fs/fat/FatVolume.h"

namespace corvello {

class Fat16Parser : public FatVolume {
public:
    explicit Fat16Parser(const ParserInputs& inputs = {}) : FatVolume(FatKind::Fat16, inputs) {}
    // True for a FAT12 or FAT16 boot sector.
    bool checkBootSector() { return acceptBootSector(false); }
};

}  // namespace corvello
