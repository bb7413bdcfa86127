#pragma once
// A volume of the image scanned as the list, save and cat commands scan it: opened, chosen by
// the volume options, scanned and completed (the recycle-bin pass) in memory.

#include <memory>

#include "cli/CliSupport.h"
#include "common/MemoryResultTree.h"
#include "common/VolumeRecord.h"
#include "scan/ScanSession.h"

namespace corvello::cli {

struct ScannedVolume {
    ConsoleHost host;
    OpenedImage image;
    MemoryResultTree tree;
    std::unique_ptr<ScanSession> session;
    VolumeRecord volume;  // the volume scanned
    explicit ScannedVolume(std::ostream& err) : host(err) {}
};

// Scans the IMAGE (the first of the given number of positionals) with the volume options;
// UsageError or InputError when it cannot.
void scanVolume(ScannedVolume& v, const Args& args, std::size_t positionals = 1);

}  // namespace corvello::cli
