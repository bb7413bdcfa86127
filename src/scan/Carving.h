#pragma once
// Carving for the wizard's raw-recovery page and corvello-cli carve: the byte range a run
// covers, and the engine set up on it. The carving definitions, the engine and the writing of
// found files come with this header: they are what both front ends show and save.

#include <cstdint>

#include "raw/CarveSave.h"
#include "raw/CarvingEngine.h"
#include "raw/SignatureDefinition.h"

namespace corvello {

class FileReadSeek;
class ResultTree;
class ScanHost;
struct VolumeRecord;

// The bytes a carving run covers, from byte start of the medium.
struct CarveRange {
    std::int64_t start = 0;
    std::int64_t length = 0;  // 0: nothing to carve ("zero size volume..")
};

// Bytes of the medium the reader has open: its sectors, or its length as a file when longer.
std::int64_t mediumBytes(const FileReadSeek& reader);

// A volume of the list: from its first sector over its exact length or, when the list does not
// know the length (and its size text is not 0), to the end of the medium.
CarveRange volumeCarveRange(const FileReadSeek& reader, const VolumeRecord& volume);
// From a byte offset to the end of the medium.
CarveRange carveRangeFrom(const FileReadSeek& reader, std::int64_t start);

// Sets the engine up to carve the range through reader into tree, reporting through host; its
// definitions are loaded already. Then engine.carve() runs it.
void prepareCarving(CarvingEngine& engine, FileReadSeek& reader, const CarveRange& range, ResultTree& tree, ScanHost& host);

}  // namespace corvello
