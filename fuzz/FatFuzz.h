#pragma once
// The body shared by the FAT-family fuzz targets: the input is a volume. It is scanned in the
// standard mode (completed, listed, a few of its files extracted), then in the advanced mode:
// the FAT (and exFAT heap) search, the slot scan with small clusters, the records built and
// listed.

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "FuzzScan.h"
#include "common/MemoryScanHost.h"
#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"
#include "fs/fat/ExFatParser.h"
#include "scan/Candidates.h"
#include "scan/FatFamilySession.h"

namespace corvello::fuzz {

// Every chain of child links ends inside the list.
template <class Session>
void checkLinks(ScanSession* scanned) {
    auto* session = dynamic_cast<Session*>(scanned);
    if (session == nullptr) return;
    const auto& entries = session->parser().entries;
    for (const auto& e : entries) {
        std::size_t steps = 0;
        for (std::uint32_t c = e.firstChild; c < entries.size() && steps <= entries.size(); c = entries[c].nextSibling)
            ++steps;
        if (steps > entries.size()) __builtin_trap();
    }
}

template <class Parser>
int runFatFuzz(const std::uint8_t* data, std::size_t size) {
    constexpr bool kExFat = std::is_same_v<Parser, ExFatParser>;
    using Session = std::conditional_t<kExFat, FatFamilySession<ExFatParser, ExFatEntry>,
                                       FatFamilySession<FatVolume, FatEntry>>;
    const std::span<const std::uint8_t> image(data, size);
    ScanRequest request;
    request.volume.fileSystem = kExFat ? u"exFAT" : std::is_same_v<Parser, Fat32Parser> ? u"FAT32" : u"FAT16";
    request.volume.byteLength = static_cast<std::int64_t>(size);
    {
        const auto scan = scanAndExtract(image, request, UINT64_MAX, 4);
        if (!scan->session) return 0;
        checkLinks<Session>(scan->session.get());
    }

    // The advanced mode on the same input, with the first table (and heap) found, or a guess.
    MemorySource source(image);
    request.reader = &source;
    MemoryScanHost host;
    const CandidateList found = findCandidates(request, host);
    request.mode = RecoveryMode::Advanced;
    request.foundTables = found.tables.empty() ? std::vector<std::int64_t>{512} : found.tables;
    request.foundHeaps = found.heaps.empty() ? std::vector<std::int64_t>{4096} : found.heaps;
    request.sectorsPerCluster = kExFat ? static_cast<std::uint32_t>(size % 3) : 1u << (size % 3);
    const auto advanced = scanAndExtract(image, request, UINT64_MAX, 0);
    if (advanced->session) checkLinks<Session>(advanced->session.get());
    return 0;
}

}  // namespace corvello::fuzz
