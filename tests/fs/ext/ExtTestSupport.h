#pragma once
// Scanning an ext image in a test: the scan and its parser, and byte patches on copies of the
// fixture images.

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/Text.h"
#include "support/ByteWriters.h"
#include "fs/ext/ExtParser.h"
#include "scan/Families.h"
#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/VolumeView.h"
#include "scan/Scan.h"

namespace corvello::test {

// A bare ext volume image scanned as the wizard scans it, read into memory first.
struct ExtScan {
    std::vector<std::uint8_t> image;
    std::unique_ptr<MemorySource> source;
    MemoryScanHost host;
    MemoryResultTree tree;
    std::unique_ptr<ScanSession> session;
    ExtParser* parser = nullptr;  // the scan's parser, null when the scan stopped early
    bool superblock = false;
    bool descriptors = false;

    // prepare runs before the scan (to watch the host's reports).
    explicit ExtScan(const std::string& path, std::function<void(MemoryScanHost&)> prepare = {}) {
        if (prepare) prepare(host);
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        if (!in) return;
        image.resize(static_cast<std::size_t>(in.tellg()));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
        source = std::make_unique<MemorySource>(image);
        ScanRequest request;
        request.reader = source.get();
        request.volume.fileSystem = u"extX";
        request.volume.sizeText = fromUtf8(std::to_string((image.size() / 512 * 512) >> 20));
        session = runScan(request, host, tree);
        if (session) parser = extParserOf(*session);
        const auto statuses = host.statuses();
        const bool noDescriptors = std::find(statuses.begin(), statuses.end(),
                                             "The group descriptors of the volume cannot be read.") != statuses.end();
        superblock = parser != nullptr || noDescriptors;
        descriptors = parser != nullptr;
    }

    // The record at a '/'-separated path below ROOT, or null.
    const ExtEntry* find(const std::string& path) const {
        const ExtEntry* at = parser ? parser->entry(2) : nullptr;
        std::size_t pos = 0;
        while (at != nullptr && pos < path.size()) {
            std::size_t end = path.find('/', pos);
            if (end == std::string::npos) end = path.size();
            const std::string part = path.substr(pos, end - pos);
            pos = end + 1;
            const ExtEntry* found = nullptr;
            for (std::int32_t k = at->firstChild; k > 0 && found == nullptr;) {
                const ExtEntry* child = parser->entry(static_cast<std::uint32_t>(k));
                if (child == nullptr) break;
                if (child->name == part) found = child;
                k = child->nextSibling;
            }
            at = found;
        }
        return at;
    }

    // Byte offset of a record's inode in the image.
    std::uint64_t inodeOffset(const ExtEntry& e) const {
        return static_cast<std::uint64_t>(parser->volumeStart()) + e.tableBlock * parser->blockSize() +
               static_cast<std::uint64_t>(e.slot) * parser->inodeSize();
    }
};

inline std::vector<std::uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<std::uint8_t> bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}


}  // namespace corvello::test
