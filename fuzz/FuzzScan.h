#pragma once
// One whole scan of a volume image, as a fuzz target drives it: the family's thread order in the
// given mode, the completion, every entry listed with its display texts and data state, and every
// file up to maxExtract bytes extracted (into a sink that keeps nothing).

#include <cstdint>
#include <string>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/FileReadSeek.h"
#include "platform/Files.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"

namespace corvello::fuzz {

inline void scanAndExtract(const std::string& image, const std::u16string& fileSystem, const std::u16string& sizeText,
                           RecoveryMode mode, std::uint64_t maxExtract) {
    FileReadSeek reader;
    if (!reader.open(image)) return;
    MemoryScanHost host;
    MemoryResultTree tree;
    ScanRequest request;
    request.reader = &reader;
    request.volume.fileSystem = fileSystem;
    request.volume.sizeText = sizeText;
    request.mode = mode;
    auto session = runScan(request, host, tree);
    if (!session) return;
    completeScan(*session, tree, host);
    walkEntries(*session, topLevelRecords(*session, tree), 0, [&](const ListedEntry& e) {
        session->rowTexts(e.data);
        session->sizeText(e.data);
        session->recoverability(e.data);
        if (!e.folder && e.size <= maxExtract) {
            // Extraction runs whole, its bytes are counted and dropped.
            platform::OutputFile sink;
            sink.openMemory(0);
            session->extract(e.data, sink);
        }
    });
}

}  // namespace corvello::fuzz
