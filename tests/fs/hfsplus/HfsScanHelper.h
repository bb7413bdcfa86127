#pragma once
// Runs the HFS+ scan over an image file in memory and lists the resulting tree.

#include <cstdio>
#include <map>
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

// Bytes that differ from block to block (xorshift from the seed).
inline std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> b(size);
    std::uint32_t x = 0x9E3779B9u * (seed + 1u);
    for (auto& v : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = static_cast<std::uint8_t>(x);
    }
    return b;
}

inline std::vector<std::uint8_t> readAll(const std::string& path) {
    std::vector<std::uint8_t> b;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) b.push_back(static_cast<std::uint8_t>(c));
        std::fclose(f);
    }
    return b;
}

// The files of the shared hfsplus.raw and the sha256 of each (The Sleuth Kit's icat output).
inline const std::map<std::string, std::string>& realVolumeHashes() {
    static const std::map<std::string, std::string> hashes = {
        {"a_directory/a_file", "4a49638d0e1055fd9e4c17fef7fdf4d6ccf892b6d9c2f64164203c4bfb0ec92d"},
        {"a_directory/another_file", "c7fbc0e821c0871805a99584c6a384533909f68a6bbe9a2a687d28d9f3b10c16"},
        {"passwords.txt", "02a2a6af2f1ecf4720d7d49d640f0d0a269a7ec733e41973bdd34f09dad0e252"},
        {"a_link", "6733d69287df2b9bc972ed6bc8c3e7e540965deee27b18acf8cbf9d1fe662630"},
        {".fseventsd/fseventsd-uuid", "4a3a8010129b8b03eaf0a57b2947dea402e69e8e718e7bde36f5e4204df547ff"},
        {".fseventsd/00000000171494cb", "f668578232ceb08dba9f9f3e091565fc8cc11cec63e450f3b850e04c453c51dd"},
        {".fseventsd/00000000171494cc", "96ab3370de0590836a68157441daec7ba58caabb4f2d2f954059e085ec5b975e"},
    };
    return hashes;
}

}  // namespace corvello::test::hfs
