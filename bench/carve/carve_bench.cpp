// Times one carving run (scan only, nothing saved) over an image with a settings file:
//   corvello-carve-bench IMAGE SETTINGS
// Prints the bytes scanned, the seconds taken, the throughput and the number of files found.

#include <chrono>
#include <cstdio>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/FileReadSeek.h"
#include "raw/CarvingEngine.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: corvello-carve-bench IMAGE SETTINGS\n");
        return 2;
    }
    corvello::FileReadSeek reader;
    if (!reader.open(argv[1])) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    corvello::MemoryScanHost host;
    corvello::MemoryResultTree tree;
    corvello::CarvingEngine engine;
    if (!corvello::loadDefinitions(engine, argv[2], false, host)) {
        std::fprintf(stderr, "cannot load %s\n", argv[2]);
        return 1;
    }
    engine.view = corvello::VolumeView::toEnd(&reader, 0);
    engine.host = &host;
    engine.resultTree = &tree;
    engine.rangeBytes = static_cast<std::int64_t>(reader.totalSectors() * corvello::kSectorSize);
    const auto t0 = std::chrono::steady_clock::now();
    engine.carve();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("bytes\t%lld\nseconds\t%.3f\nMB/s\t%.1f\nfiles\t%zu\n", static_cast<long long>(engine.rangeBytes), seconds,
                static_cast<double>(engine.rangeBytes) / 1e6 / seconds, engine.carvedFiles.size());
    return 0;
}
