// Fuzz target of raw recovery: the input's first byte tells how many 171-byte records
// (up to 8) open it as a settings file; the rest is the volume that is carved with them. With
// no records the volume is carved with one definition of every format the engine knows, so
// that their structure checks meet damaged files.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <unistd.h>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/VolumeView.h"
#include "raw/CarvingEngine.h"

namespace {

std::string writeTemp(const char* tag, const std::uint8_t* data, std::size_t size) {
    const std::string path = "/tmp/corvello-fuzz-" + std::to_string(::getpid()) + "-" + tag;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}

struct Known {
    const char16_t* extension;
    std::initializer_list<std::uint8_t> start;
    std::initializer_list<std::uint8_t> end;
};

// Start (and end) signatures as the default set has them.
const Known kKnown[] = {
    {u"jpg", {0xFF, 0xD8, 0xFF}, {0xFF, 0xD9}},
    {u"png", {0x89, 0x50, 0x4E, 0x47}, {0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82}},
    {u"gif", {0x47, 0x49, 0x46, 0x38}, {0x00, 0x3B}},
    {u"bmp", {0x42, 0x4D}, {}},
    {u"tif", {0x49, 0x49, 0x2A, 0x00}, {}},
    {u"tif", {0x4D, 0x4D, 0x00, 0x2A}, {}},
    {u"wav", {0x52, 0x49, 0x46, 0x46}, {}},
    {u"pdf", {0x25, 0x50, 0x44, 0x46, 0x2D}, {0x25, 0x25, 0x45, 0x4F, 0x46, 0x0A}},
    {u"zip", {0x50, 0x4B, 0x03, 0x04}, {}},
    {u"db", {0x53, 0x51, 0x4C, 0x69, 0x74, 0x65}, {}},
    {u"mp3", {0x49, 0x44, 0x33}, {}},
    {u"mp4", {0x2A, 0x2A, 0x2A, 0x2A, 0x66, 0x74, 0x79, 0x70}, {}},
    {u"7z", {0x37, 0x7A, 0xBC, 0xAF}, {}},
    {u"gz", {0x1F, 0x8B, 0x08}, {}},
    {u"bz2", {0x42, 0x5A, 0x68}, {}},
    {u"xz", {0xFD, 0x37, 0x7A, 0x58}, {}},
    {u"ogg", {0x4F, 0x67, 0x67, 0x53}, {}},
    {u"mid", {0x4D, 0x54, 0x68, 0x64}, {}},
    {u"rar", {0x52, 0x61, 0x72, 0x21}, {}},
    {u"flac", {0x66, 0x4C, 0x61, 0x43}, {}},
    {u"mkv", {0x1A, 0x45, 0xDF, 0xA3}, {}},
    {u"wmv", {0x30, 0x26, 0xB2, 0x75}, {}},
    {u"flv", {0x46, 0x4C, 0x56, 0x01}, {}},
    {u"mpg", {0x00, 0x00, 0x01, 0xBA}, {}},
    {u"doc", {0xD0, 0xCF, 0x11, 0xE0}, {}},
    {u"rtf", {0x7B, 0x5C, 0x72, 0x74}, {}},
};

void addKnownFormats(corvello::CarvingEngine& engine) {
    for (const Known& k : kKnown) {
        corvello::SignatureRecord r;
        r.extension = k.extension;
        r.extensionLength = static_cast<std::uint8_t>(r.extension.size());
        r.startLength = static_cast<std::uint8_t>(k.start.size());
        r.endLength = static_cast<std::uint8_t>(k.end.size());
        std::copy(k.start.begin(), k.start.end(), r.startSignature.begin());
        std::copy(k.end.begin(), k.end.end(), r.endSignature.begin());
        r.approximateSize = 1 << 20;
        r.category = u"Known";
        engine.addDefinition(r);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t records = data[0] % 9;
    const std::size_t settingsSize = std::min(size - 1, records * corvello::kDefinitionRecordSize);
    const std::string settings = writeTemp("set", data + 1, settingsSize);

    corvello::MemoryScanHost host;
    corvello::MemoryResultTree tree;
    // The volume is carved where it lies in memory.
    const corvello::MemorySource source(std::span(data + 1 + settingsSize, size - 1 - settingsSize));
    corvello::CarvingEngine engine;
    if (records == 0) {
        addKnownFormats(engine);
    } else {
        corvello::loadDefinitions(engine, settings, false, host);
    }
    engine.view = corvello::VolumeView::toEnd(&source, 0);
    engine.host = &host;
    engine.resultTree = &tree;
    // A range larger than the image: the engine must cut it at the medium's end.
    engine.rangeBytes = 4 << 20;
    engine.blockSize = 4096;
    engine.carve();
    for (const corvello::CarvedFile& f : engine.carvedFiles)
        if (f.offset < 0 || f.size <= 0 || f.offset + f.size > static_cast<std::int64_t>(size)) __builtin_trap();
    ::unlink(settings.c_str());
    return 0;
}
