#pragma once
// A hand-built NTFS volume scanned from memory, its files listed by path as a save walks them.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/VolumeView.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"
#include "support/TestSupport.h"

namespace corvello::test {

struct ScannedNtfs {
    ScratchDir dir;
    std::vector<std::uint8_t> image;  // the volume, read in memory
    MemorySource reader;
    MemoryScanHost host;
    MemoryResultTree tree;
    std::unique_ptr<ScanSession> session;
    std::map<std::string, ListedEntry> listed;

    explicit ScannedNtfs(const std::vector<std::uint8_t>& bytes) : image(bytes), reader(image) {
        ScanRequest request;
        request.reader = &reader;
        request.volume.fileSystem = u"NTFS";
        request.volume.sizeText = u"2  MB";
        session = runScan(request, host, tree);
        if (!session) return;
        completeScan(*session, tree, host);
        walkEntries(*session, topLevelRecords(*session, tree), 0,
                    [&](const ListedEntry& e) { listed[e.path] = e; });
    }
};

}  // namespace corvello::test
