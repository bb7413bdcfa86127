#pragma once
// Test helpers for the FAT-family parsers: a volume in memory scanned through the scan layer,
// its parser, and the records looked up by name.

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"
#include "fs/fat/ExFatParser.h"
#include "scan/FatFamilySession.h"
#include "scan/MemoryScan.h"

namespace corvello::test {

inline std::vector<std::uint8_t> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<std::uint8_t> bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// The parser family of each FAT parser, as the volume list names it.
template <class Parser>
constexpr const char16_t* familyText() {
    if constexpr (std::is_same_v<Parser, ExFatParser>) return u"exFAT";
    if constexpr (std::is_same_v<Parser, Fat32Parser>) return u"FAT32";
    return u"FAT16";
}

// A volume in memory scanned in the standard mode as the wizard scans it, and the parser of
// the scan (a parser that saw nothing when the scan refused the volume).
template <class Parser>
struct ParsedVolume {
    using Session = std::conditional_t<std::is_same_v<Parser, ExFatParser>, FatFamilySession<ExFatParser, ExFatEntry>,
                                       FatFamilySession<FatVolume, FatEntry>>;
    explicit ParsedVolume(std::unique_ptr<MemoryScan> s)
        : scan(std::move(s)),
          session(dynamic_cast<Session*>(scan->session.get())),
          accepted(session != nullptr),
          host(scan->host),
          tree(scan->tree),
          parser(session != nullptr ? static_cast<Parser&>(session->parser()) : spare) {}
    std::unique_ptr<MemoryScan> scan;
    Session* session;
    bool accepted;
    MemoryScanHost& host;
    MemoryResultTree& tree;
    Parser spare;
    Parser& parser;
};

template <class Parser>
std::unique_ptr<ParsedVolume<Parser>> parseVolume(std::span<const std::uint8_t> image) {
    ScanRequest request;
    request.volume.fileSystem = familyText<Parser>();
    return std::make_unique<ParsedVolume<Parser>>(scanMemory(image, request, false));
}

// The index of the first record with the given name, or -1.
template <class Entry>
long findRecord(const std::vector<Entry>& entries, const std::u16string& name) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].name == name) return static_cast<long>(i);
    return -1;
}

}  // namespace corvello::test
