// Fuzz target of raw recovery: the input's first byte tells how many 171-byte records
// (up to 8) open it as a settings file; the rest is the volume that is carved with them.

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/FileReadSeek.h"
#include "raw/myJpg.h"

namespace {

std::string writeTemp(const char* tag, const std::uint8_t* data, std::size_t size) {
    const std::string path = "/tmp/corvello-fuzz-" + std::to_string(::getpid()) + "-" + tag;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t records = data[0] % 9;
    const std::size_t settingsSize = std::min(size - 1, records * corvello::kDefinitionRecordSize);
    const std::string settings = writeTemp("set", data + 1, settingsSize);
    const std::string image = writeTemp("img", data + 1 + settingsSize, size - 1 - settingsSize);

    corvello::MemoryScanHost host;
    corvello::MemoryResultTree tree;
    corvello::FileReadSeek reader;
    corvello::myJpg engine;
    corvello::loadDefinitions(engine, settings, false, host);
    if (reader.open(image)) {
        engine.reader = &reader;
        engine.host = &host;
        engine.resultTree = &tree;
        // A range larger than the image: the engine must cut it at the device's end.
        engine.rangeBytes = 4 << 20;
        engine.blockSize = 4096;
        engine.carve();
        for (const corvello::CarvedFile& f : engine.carvedFiles)
            if (f.offset < 0 || f.size <= 0 || f.offset + f.size > static_cast<std::int64_t>(size)) __builtin_trap();
    }
    ::unlink(settings.c_str());
    ::unlink(image.c_str());
    return 0;
}
