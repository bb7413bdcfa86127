// libFuzzer target: an ext2/3/4 volume image, scanned through the whole thread order, then
// every file record extracted. Seeds: small mke2fs images (ext2, ext3 without file types, ext4
// with extents); run with -max_len of the seeds' size.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "fs/ext/ext2Class.h"
#include "platform/Files.h"

namespace {

std::string scratch(const char* name) {
    static const std::string dir = [] {
        char pattern[] = "/tmp/corvello-ext-fuzz.XXXXXX";
        const char* made = ::mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp");
    }();
    return dir + "/" + name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvello;
    const std::string image = scratch("image");
    if (std::FILE* f = std::fopen(image.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    MemoryScanHost host;
    MemoryResultTree tree;
    FileReadSeek reader;
    if (!reader.open(image)) return 0;
    ext2Class parser(host, &tree);
    parser.volume.fileSystem = u"extX";
    parser.volume.sizeText = u"1";
    if (!parser.attachReader(&reader)) return 0;
    parser.volumeBytes = static_cast<std::int64_t>(size);
    if (!parser.findSuperblock() || !parser.readGroupDescriptors()) return 0;
    parser.scanInodeTables();
    parser.parseDirectories();
    parser.buildEntryMap();
    parser.linkEntries();
    parser.fillTreeTopLevel();
    for (const auto& [key, entry] : parser.entries()) {
        parser.sizeText(entry);
        parser.timeTexts(entry);
        extNameText(entry.name);
        // Holes are written as zeros: keep the files a damaged size could ask for small.
        if (extIsFile(entry.mode) && entry.size <= (16u << 20)) {
            platform::OutputFile sink;
            sink.openMemory(0);
            parser.extractEntry(sink, entry);
        }
    }
    return 0;
}
