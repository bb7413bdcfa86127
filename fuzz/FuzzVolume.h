#pragma once
// Runs a whole scan of one file-system family over fuzz input taken as a volume image, then
// walks the results and extracts every file into a scratch folder, as Save would.

#include <cstdint>
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/FileReadSeek.h"
#include "platform/Files.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"

namespace corvello::fuzz {

inline void scanVolume(const std::uint8_t* data, std::size_t size, const std::u16string& fileSystem,
                       RecoveryMode mode) {
    MemoryImage image(data, size);
    if (!image.ok()) return;
    FileReadSeek reader;
    if (!reader.open(image.path())) return;
    ScanRequest request;
    request.reader = &reader;
    request.volume.fileSystem = fileSystem;
    request.volume.locator = u"0";
    request.volume.sizeText = u"1  MB";
    request.mode = mode;
    MemoryScanHost host;
    MemoryResultTree tree;
    auto session = runScan(request, host, tree);
    if (!session) return;
    completeScan(*session, tree, host);
    static const std::string out = [] {
        std::string dir = platform::tempDirectory() + "/corvello-fuzz-" + std::to_string(::getpid());
        platform::makeDirectories(dir);
        return dir;
    }();
    saveRecords(*session, topLevelRecords(*session, tree), out, host);
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(out, ec)) std::filesystem::remove_all(e.path(), ec);
}

}  // namespace corvello::fuzz
