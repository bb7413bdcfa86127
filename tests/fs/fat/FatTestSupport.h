#pragma once
// Test helpers for the FAT-family parsers: a reader over bytes in memory, the standard scan
// order run directly on a parser, and the records looked up by name.

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/readWriteInterface.h"
#include "fs/fat/Fat16Class.h"
#include "fs/fat/Fat32Class.h"
#include "fs/fat/Fat64Class.h"

namespace corvello::test {

// Reads a volume held in memory; bytes past the end read as zero (as the sector reader does).
// It reads the caller's bytes in place; they must stay where they are while it is used.
class MemoryReader : public readWriteInterface {
public:
    explicit MemoryReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool open(const std::string& /*path*/) override { return true; }
    bool seek(std::int64_t offset, int /*method*/ = FILE_BEGIN) override {
        pos_ = offset + baseOffset;
        return true;
    }
    bool read(void* buffer, std::uint32_t count) override {
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::uint32_t done = 0;
        if (pos_ >= 0 && static_cast<std::uint64_t>(pos_) < bytes_.size()) {
            done = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, bytes_.size() - static_cast<std::uint64_t>(pos_)));
            std::memcpy(out, bytes_.data() + pos_, done);
        }
        std::memset(out + done, 0, count - done);
        pos_ += count;
        return done == count;
    }
private:
    std::span<const std::uint8_t> bytes_;
    std::int64_t pos_ = 0;
};

inline std::vector<std::uint8_t> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<std::uint8_t> bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// A parser run through the standard scan order over a reader.
template <class Parser>
struct ParsedVolume {
    MemoryResultTree tree;
    MemoryScanHost host;
    Parser parser;
    bool accepted = false;
};

template <class Parser>
std::unique_ptr<ParsedVolume<Parser>> parseVolume(readWriteInterface& reader) {
    auto v = std::make_unique<ParsedVolume<Parser>>();
    Parser& p = v->parser;
    p.tree = &v->tree;
    p.host = &v->host;
    p.attachReader(&reader);
    if constexpr (std::is_same_v<Parser, Fat64Class>) {
        v->accepted = p.checkBootSector();
        if (!v->accepted || !p.readRootCluster()) return v;
    } else {
        v->accepted = p.checkBootSector();
        if (!v->accepted) return v;
        p.readFat();
        p.readRootDirectory();
    }
    auto copy = p.parseRootDirectory();
    p.entryCopy.insert(p.entryCopy.end(), copy.begin(), copy.end());
    p.linkEntries();
    p.fillTree();
    return v;
}

// The index of the first record with the given name, or -1.
template <class Entry>
long findRecord(const std::vector<Entry>& entries, const std::u16string& name) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].name == name) return static_cast<long>(i);
    return -1;
}

}  // namespace corvello::test
