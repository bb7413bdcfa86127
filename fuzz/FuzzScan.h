#pragma once
// One whole scan of a volume image held in memory, as a fuzz target drives it: runScan in the
// given mode, the completion, every entry listed with its display texts and data state, and
// files up to maxExtract bytes extracted (into a sink that keeps nothing), at most maxFiles of
// them.

#include <cstdint>
#include <span>
#include <string>

#include "platform/Files.h"
#include "scan/MemoryScan.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"

namespace corvello::fuzz {

inline std::unique_ptr<MemoryScan> scanAndExtract(std::span<const std::uint8_t> image, const ScanRequest& request,
                                                  std::uint64_t maxExtract, std::uint64_t maxFiles = UINT64_MAX) {
    auto scan = scanMemory(image, request);
    if (!scan->session) return scan;
    ScanSession& session = *scan->session;
    std::uint64_t files = 0;
    walkEntries(session, topLevelRecords(session, scan->tree), 0, [&](const ListedEntry& e) {
        session.rowTexts(e.data);
        session.sizeText(e.data);
        session.times(e.data);
        session.recoverability(e.data);
        if (!e.folder && e.size <= maxExtract && files < maxFiles) {
            ++files;
            // Extraction runs whole, its bytes are counted and dropped.
            platform::OutputFile sink;
            sink.openMemory(0);
            session.extract(e.data, sink);
        }
    });
    return scan;
}

inline std::unique_ptr<MemoryScan> scanAndExtract(std::span<const std::uint8_t> image, const std::u16string& fileSystem,
                                                  const std::u16string& sizeText, RecoveryMode mode,
                                                  std::uint64_t maxExtract) {
    ScanRequest request;
    request.volume.fileSystem = fileSystem;
    request.volume.sizeText = sizeText;
    request.mode = mode;
    return scanAndExtract(image, request, maxExtract);
}

}  // namespace corvello::fuzz
