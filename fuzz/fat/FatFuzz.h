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

namespace corvello::fuzz {

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
    static const std::string out = "/tmp/corvello-fat-fuzz-" + std::to_string(::getpid());
    int extracted = 0;
    for (std::size_t i = 1; i < entries.size() && extracted < 4; ++i) {
        if constexpr (std::is_same_v<Parser, Fat64Class>) {
            if (isExFatDirectory(entries[i].attributes)) continue;
        } else {
            if (isFatDirectory(entries[i].attributes)) continue;
        }
        v->parser.extractFile(out, entries[i]);
        ++extracted;
    }
    ::unlink(out.c_str());
    return 0;
}

}  // namespace corvello::fuzz
