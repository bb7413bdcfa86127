#pragma once
// Runs the HFS+ scan over an image file in memory and lists the resulting tree.

#include <memory>
#include <string>
#include <vector>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "scan/Families.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"
#include "support/TestSupport.h"

namespace corvello::test::hfs {

struct Scanned {
    MemoryScanHost host;
    MemoryResultTree tree;
    FileReadSeek reader;
    std::unique_ptr<ScanSession> session;

    // One line per entry as the listing walk gives it: "d path" or "f size path".
    std::vector<std::string> listing() const {
        std::vector<std::string> out;
        if (!session) return out;
        walkEntries(*session, topLevelRecords(*session, tree), 0, [&](const ListedEntry& e) {
            out.push_back(e.folder ? "d " + e.path : "f " + std::to_string(e.size) + " " + e.path);
        });
        return out;
    }

    // The item data of the entry at a '/'-separated path of the listing, or 0.
    ItemData at(const std::string& path) const {
        ItemData found = 0;
        if (!session) return 0;
        walkEntries(*session, topLevelRecords(*session, tree), 0, [&](const ListedEntry& e) {
            if (found == 0 && e.path == path) found = e.data;
        });
        return found;
    }
};

inline std::unique_ptr<Scanned> scanImage(const std::string& path, RecoveryMode mode = RecoveryMode::Standard) {
    auto s = std::make_unique<Scanned>();
    if (!s->reader.open(path)) return s;
    ScanRequest request;
    request.reader = &s->reader;
    request.volume.fileSystem = u"HFS+";
    request.volume.sizeText = fromUtf8(std::to_string(s->reader.totalSectors() / 2048) + "  MB");
    request.mode = mode;
    s->session = runScan(request, s->host, s->tree);
    if (s->session) completeScan(*s->session, s->tree, s->host);
    return s;
}

inline std::unique_ptr<Scanned> scanBytes(const ScratchDir& dir, const std::vector<std::uint8_t>& image,
                                          RecoveryMode mode = RecoveryMode::Standard, const std::string& name = "hfs.img") {
    writeFile(dir.file(name), image);
    return scanImage(dir.file(name), mode);
}

}  // namespace corvello::test::hfs
