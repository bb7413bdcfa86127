#pragma once
// Everything a scan needs to start: the reader, the chosen volume, the recovery mode and the
// advanced-mode choices.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/Text.h"
#include "common/VolumeRecord.h"
#include "common/RecoveryMode.h"

namespace corvello {

class ByteSource;

struct ScanRequest {
    ByteSource* reader = nullptr;  // the medium: the sector reader, or bytes in memory
    VolumeRecord volume;
    RecoveryMode mode = RecoveryMode::Standard;
    bool driveFormatted = false;
    std::u16string rootLabel = u"ROOT";
    // The OEM code page FAT short names are decoded in (isOemCodePage); long names are UTF-16.
    int codePage = kDefaultOemCodePage;

    // Advanced mode: the chosen candidate (MFT copy, FAT table) and its geometry.
    std::optional<std::int64_t> candidateIndex;      // --copy K / --fat K
    std::optional<std::int64_t> heapIndex;           // --heap K (exFAT)
    std::optional<std::uint32_t> sectorsPerCluster;  // --sectors-per-cluster N
    std::int64_t maxCandidates = 3;                  // how many copies or tables the search keeps
    // What an earlier search of the same volume found (MFT copies, FAT tables, exFAT heap
    // starts): the scan takes its choice from these instead of searching the volume a second time.
    std::optional<std::vector<std::int64_t>> foundTables;
    std::optional<std::vector<std::int64_t>> foundHeaps;
};

}  // namespace corvello
