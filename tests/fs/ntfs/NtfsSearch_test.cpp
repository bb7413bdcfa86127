// The NTFS searches of the volume: MFT copies (advanced mode) and records wherever they lie
// (deep mode), on real volumes and on a hand-built one for the placement rule.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/FileReadSeek.h"
#include "fs/ntfs/NtfsImage.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

const char kCopiesMessage[] =
    "Number of MFT-ENTRY found = %d . Please select the choice from combo box and click Next button to proceed.";

std::string copiesMessage(int n) {
    char text[200];
    std::snprintf(text, sizeof text, kCopiesMessage, n);
    return text;
}

// A scan of the whole image in reader as one NTFS volume.
ScanRequest ntfsRequest(FileReadSeek& reader, RecoveryMode mode) {
    ScanRequest request;
    request.reader = &reader;
    request.volume.fileSystem = u"NTFS";
    request.volume.byteLength = static_cast<std::int64_t>(reader.sourceBytes());
    request.mode = mode;
    return request;
}

TEST(NtfsSearch, MftCopiesAreReportedInVolumeOrderUpToTheMaximum) {
    const std::string image = test::fixture("ntfs-twocopies.img");
    // The newer MFT, the older one, and the older volume's mirror further on.
    test::CliResult r = test::runCli({"mft-copies", image});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::lines(r.out),
              (std::vector<std::string>{"MFT_ENTRY:0\t16384", "MFT_ENTRY:1\t131072", "MFT_ENTRY:2\t16711680"}));
    EXPECT_NE(r.err.find(copiesMessage(3) + "\n"), std::string::npos) << r.err;
    // With a maximum of 1 the search ends after the 10 MiB chunk that held the first copy.
    r = test::runCli({"mft-copies", image, "--max", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::lines(r.out), (std::vector<std::string>{"MFT_ENTRY:0\t16384", "MFT_ENTRY:1\t131072"}));
    EXPECT_NE(r.err.find(copiesMessage(2) + "\n"), std::string::npos) << r.err;
    // A volume that is not NTFS is refused.
    r = test::runCli({"mft-copies", test::fixture("mbr-disk.img"), "--volume", "0"});
    EXPECT_EQ(r.status, 2);
}

TEST(NtfsSearch, EachCopyListsAndSavesItsOwnGeneration) {
    const std::string image = test::fixture("ntfs-twocopies.img");
    struct Case {
        std::vector<std::string> options;
        std::string folder;  // the generation's top folder in the manifest
    };
    const Case cases[] = {
        {{"--copy", "0"}, "new"},
        {{"--copy", "1"}, "old"},
        {{"--copy", "1", "--sectors-per-cluster", "128"}, "old"},
    };
    for (const Case& c : cases) {
        test::ScratchDir dir;
        std::vector<std::string> args = {"save", image, "--mode", "advanced", "--out", dir.path()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const test::CliResult r = test::runCli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const test::ManifestEntry& m : test::readManifest("ntfs-twocopies")) {
            const bool mine = m.path.rfind(c.folder + "/", 0) == 0;
            if (m.kind != "f") continue;
            if (mine)
                EXPECT_EQ(test::sha256File(dir.file(m.path)), m.sha256) << m.path << " " << c.options[1];
            else
                EXPECT_FALSE(std::ifstream(dir.file(m.path)).good()) << m.path;
        }
    }
    const test::CliResult none = test::runCli({"list", image, "--mode", "advanced", "--copy", "7"});
    EXPECT_EQ(none.status, 1);
}

// The wizard's scan takes the copy from what its advanced page's search found, and does not
// search the volume a second time (the search's status texts never appear).
TEST(NtfsSearch, AScanTakesItsCopyFromWhatTheSearchFound) {
    struct Case {
        std::vector<std::int64_t> found;
        std::int64_t copy;
        std::u16string mine, other;  // the generation's top folder, and the other one's
    };
    const Case cases[] = {
        {{16384, 131072, 16711680}, 1, u"old", u"new"},
        {{131072}, 0, u"old", u"new"},
        {{16384}, 0, u"new", u"old"},
    };
    for (const Case& c : cases) {
        FileReadSeek reader;
        ASSERT_TRUE(reader.open(test::fixture("ntfs-twocopies.img")));
        MemoryScanHost host;
        MemoryResultTree tree;
        ScanRequest request = ntfsRequest(reader, RecoveryMode::Advanced);
        request.candidateIndex = c.copy;
        request.foundTables = c.found;
        auto session = runScan(request, host, tree);
        ASSERT_TRUE(session);
        std::vector<std::u16string> top;
        for (ItemData x : topLevelRecords(*session, tree)) top.push_back(session->name(x));
        EXPECT_NE(std::find(top.begin(), top.end(), c.mine), top.end()) << c.found.size();
        EXPECT_EQ(std::find(top.begin(), top.end(), c.other), top.end()) << c.found.size();
        for (const std::string& s : host.statuses()) EXPECT_EQ(s.find("MFT ENTRY"), std::string::npos) << s;
    }
}

// Deep mode on volumes whose MFT cannot be followed: every file of the manifest comes out byte
// for byte under "ORPHAN_ENTRY" (matched by name, since folders are placed by the deep rule).
TEST(NtfsSearch, DeepModeSavesTheSurvivingRecords) {
    for (const std::string name : {"ntfs-mftdamaged", "ntfs-noboot"}) {
        test::ScratchDir dir;
        const test::CliResult list =
            test::runCli({"list", test::fixture(name + ".img"), "--fs", "ntfs", "--mode", "deep"});
        ASSERT_EQ(list.status, 0) << list.err;
        for (const std::string& line : test::lines(list.out))
            EXPECT_NE(line.find("\tORPHAN_ENTRY"), std::string::npos) << line;
        const test::CliResult r =
            test::runCli({"save", test::fixture(name + ".img"), "--fs", "ntfs", "--mode", "deep", "--out", dir.path()});
        ASSERT_EQ(r.status, 0) << r.err;
        std::map<std::string, std::vector<std::string>> byName;
        for (const std::string& line : test::lines(list.out)) {
            const std::string path = line.substr(line.rfind('\t') + 1);
            if (line[0] == 'f') byName[path.substr(path.rfind('/') + 1)].push_back(path);
        }
        std::size_t checked = 0;
        for (const test::ManifestEntry& m : test::readManifest(name)) {
            if (m.kind != "f") continue;
            const std::string base = m.path.substr(m.path.rfind('/') + 1);
            bool match = false;
            for (const std::string& path : byName[base]) match = match || test::sha256File(dir.file(path)) == m.sha256;
            EXPECT_TRUE(match) << name << ": " << m.path;
            ++checked;
        }
        EXPECT_GT(checked, 310u);
    }
}

TEST(NtfsSearch, DeepModePlacesFoldersFlatAndFilesUnderTheFolderBefore) {
    using test::NtfsImage;
    NtfsImage img;
    const auto file = [&](std::uint64_t n, const std::u16string& name) {
        img.record(n, 1, {NtfsImage::standardInfo(0), NtfsImage::fileName(5, name),
                          NtfsImage::resident(0x80, NtfsImage::Bytes(10, 'x'))});
    };
    const auto folder = [&](std::uint64_t n, const std::u16string& name) {
        img.record(n, 3, {NtfsImage::standardInfo(0), NtfsImage::fileName(5, name, true)});
    };
    file(16, u"A");
    folder(17, u"D1");
    file(18, u"B");
    folder(19, u"D2");
    file(20, u"C");
    // A slot whose update-sequence offset is 0x0200 is not a record; a record without a name
    // leaves no entry.
    file(21, u"bad");
    test::put16(img.at(NtfsImage::recordOffset(21) + 4), 0x0200);
    img.record(22, 1, {NtfsImage::standardInfo(0)});

    test::ScratchDir dir;
    test::writeFile(dir.file("v.img"), img.bytes);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("v.img")));
    MemoryScanHost host;
    MemoryResultTree tree;
    const ScanRequest request = ntfsRequest(reader, RecoveryMode::Deep);
    auto session = runScan(request, host, tree);
    ASSERT_TRUE(session);
    const auto top = topLevelRecords(*session, tree);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(session->name(top[0]), u"ORPHAN_ENTRY");
    std::vector<std::u16string> names;
    for (ItemData x : session->children(top[0])) names.push_back(session->name(x));
    // Found in the order $MFT, A, D1, B, D2, C ("." is the root and is not placed).
    EXPECT_EQ(names, (std::vector<std::u16string>{u"D2", u"D1", u"A", u"$MFT"}));
    const auto under = [&](std::size_t k) {
        std::vector<std::u16string> out;
        for (ItemData x : session->children(session->children(top[0])[k])) out.push_back(session->name(x));
        return out;
    };
    EXPECT_EQ(under(0), std::vector<std::u16string>{u"C"});
    EXPECT_EQ(under(1), std::vector<std::u16string>{u"B"});
    bool sawStatus = false;
    for (const std::string& s : host.statuses()) sawStatus = sawStatus || s == "MFT ENTRY 7 Found.Parsing it ..";
    EXPECT_TRUE(sawStatus);
}

}  // namespace
}  // namespace corvello

namespace corvello {
namespace {

// A stop requested before the scan ends every loop at once; the scan still ends normally with
// the root item and the pseudo-directory.
TEST(NtfsSearch, StopEndsEveryModeEarly) {
    for (const RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
        FileReadSeek reader;
        ASSERT_TRUE(reader.open(test::fixture("ntfs-basic.img")));
        MemoryScanHost host;
        MemoryResultTree tree;
        const ScanRequest request = ntfsRequest(reader, mode);
        host.requestStop();
        auto session = runScan(request, host, tree);
        ASSERT_TRUE(session);
        const auto top = topLevelRecords(*session, tree);
        ASSERT_EQ(top.size(), 1u);
        EXPECT_EQ(session->name(top[0]), u"ORPHAN_ENTRY");
        EXPECT_TRUE(session->children(top[0]).empty());
    }
}

}  // namespace
}  // namespace corvello
