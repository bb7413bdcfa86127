#pragma once
// The body shared by the FAT-family fuzz targets: the input is a volume; it is parsed through
// the standard scan order, linked, put into a tree, walked, and a few of its files extracted.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "fs/fat/FatTestSupport.h"
#include "platform/Files.h"

namespace corvello::fuzz {

// The advanced mode on the same input: FAT search, slot scan with one-sector clusters, build.
template <class Parser>
void runAdvancedFuzz(const std::uint8_t* data, std::size_t size) {
    test::MemoryReader reader(std::span<const std::uint8_t>(data, size));
    MemoryResultTree tree;
    MemoryScanHost host;
    Parser p;
    p.tree = &tree;
    p.host = &host;
    p.attachReader(&reader);
    p.volumeBytes = static_cast<std::int64_t>(size);
    p.checkBootSector();
    p.fatCandidates = p.findFatTables(3);
    const std::int64_t fat = p.fatCandidates.empty() ? 512 : p.fatCandidates.front();
    if constexpr (std::is_same_v<Parser, Fat64Class>) {
        p.heapCandidates = p.findHeapStarts(3);
        p.setAdvancedClusterShift(static_cast<unsigned>(size % 3));
        p.scanForSlots();
        p.buildFromFoundSlots(p.heapCandidates.empty() ? 4096 : p.heapCandidates.front(), fat);
    } else {
        p.advancedMarker = 1;
        p.advancedBytesPerSector = 512;
        p.advancedSectorsPerCluster = static_cast<std::uint8_t>(1u << (size % 3));
        p.useFatCandidate(fat);
        p.scanForSlots();
        p.buildFromFoundSlots(fat);
    }
    p.linkEntries();
    p.fillTree();
}

template <class Parser>
int runFatFuzz(const std::uint8_t* data, std::size_t size) {
    test::MemoryReader reader(std::span<const std::uint8_t>(data, size));
    auto v = test::parseVolume<Parser>(reader);
    if (!v->accepted) return 0;
    auto& entries = v->parser.entries;
    // Every chain of child links ends inside the list.
    for (const auto& e : entries) {
        std::size_t steps = 0;
        for (std::uint32_t c = e.firstChild; c < entries.size() && steps <= entries.size(); c = entries[c].nextSibling)
            ++steps;
        if (steps > entries.size()) __builtin_trap();
    }
    int extracted = 0;
    for (std::size_t i = 1; i < entries.size() && extracted < 4; ++i) {
        if constexpr (std::is_same_v<Parser, Fat64Class>) {
            if (isExFatDirectory(entries[i].attributes)) continue;
        } else {
            if (isFatDirectory(entries[i].attributes)) continue;
        }
        platform::OutputFile sink;
        sink.openMemory(0);
        v->parser.extractFile(sink, entries[i]);
        ++extracted;
    }
    runAdvancedFuzz<Parser>(data, size);
    return 0;
}

}  // namespace corvello::fuzz
