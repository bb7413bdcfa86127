// Fuzz target for the HFS+ parser: the input is a volume image. Every mode scans it, the tree is
// listed with its display texts, and every file is extracted.
// Seeds: fuzz/corpus/hfsplus (small built volumes) and, by hand, the shared hfsplus.raw.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/FileReadSeek.h"
#include "platform/Files.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"

using namespace corvello;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("hfsplus-fuzz", 0);
    static const std::string input = "/proc/self/fd/" + std::to_string(fd);
    static const std::string output = platform::tempDirectory() + "/hfsplus-fuzz-" + std::to_string(getpid());
    if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;

    for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
        FileReadSeek reader;
        if (!reader.open(input)) return 0;
        MemoryScanHost host;
        MemoryResultTree tree;
        ScanRequest request;
        request.reader = &reader;
        request.volume.fileSystem = u"HFS+";
        request.volume.sizeText = u"1  MB";
        request.mode = mode;
        auto session = runScan(request, host, tree);
        if (!session) continue;
        completeScan(*session, tree, host);
        walkEntries(*session, topLevelRecords(*session, tree), 0, [&](const ListedEntry& e) {
            session->rowTexts(e.data);
            session->sizeText(e.data);
            if (!e.folder) {
                session->extract(e.data, output);
                platform::removeFile(output);
            }
        });
    }
    return 0;
}
