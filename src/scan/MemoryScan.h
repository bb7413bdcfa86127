#pragma once
// A scan of a volume image held in memory, with the host and results tree kept in memory: what
// the tests and the fuzz targets run, in the same calling order as the wizard and the command
// line, without an image file.

#include <cstdint>
#include <memory>
#include <span>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/VolumeView.h"
#include "scan/Scan.h"

namespace corvello {

struct MemoryScan {
    explicit MemoryScan(std::span<const std::uint8_t> image) : source(image) {}
    MemorySource source;
    MemoryScanHost host;
    MemoryResultTree tree;
    std::unique_ptr<ScanSession> session;  // null when the scan refused the volume
};

// Runs request (its reader replaced by the image) through runScan and, when a session comes
// back and complete is set, the scan completion (placeholders, recycle-bin names). An empty size text and no byte length take the image's length.
// The image's bytes must stay where they are while the result is used.
std::unique_ptr<MemoryScan> scanMemory(std::span<const std::uint8_t> image, ScanRequest request, bool complete = true);

}  // namespace corvello
