// The advanced mode: the FAT and heap search, and the records built from the slots found on
// volumes that were formatted again or lost their boot sector.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "device/FileReadSeek.h"
#include "fs/fat/FatTestSupport.h"
#include "scan/Candidates.h"
#include "scan/Scan.h"
#include "support/TestSupport.h"
#include "support/ByteWriters.h"

namespace corvello {
namespace {

std::vector<std::string> tableLines(const std::vector<std::string>& args) {
    const auto r = test::runCli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return test::lines(r.out);
}

TEST(FatAdvancedSearch, FatTablesOfAVolumeWithoutBootSector) {
    const std::string image = test::fixture("fat16-noboot.img");
    const auto lines = tableLines({"fat-tables", image, "--start", "0", "--fs", "FAT16"});
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "FAT_ENTRY:0\t2048");  // the first FAT, after four reserved sectors
    EXPECT_EQ(lines[1].substr(0, 12), "FAT_ENTRY:1\t");
    EXPECT_EQ(lines[2], "SECTORS_PER_CLUSTER\t4,8,16,2,32,64,128");  // no boot sector to offer its own
    // The closing message goes to stderr; standard output holds only the rows.
    EXPECT_NE(test::runCli({"fat-tables", image, "--start", "0", "--fs", "FAT16"})
                  .err.find("Number of FAT-ENTRY found = 2 . Please select the choice from combo box and click Next "
                            "button to proceed.\n"),
              std::string::npos);
    const auto one = tableLines({"fat-tables", image, "--start", "0", "--fs", "FAT16", "--max", "1"});
    EXPECT_EQ(one[0], "FAT_ENTRY:0\t2048");
    EXPECT_EQ(one[1].substr(0, 19), "SECTORS_PER_CLUSTER");
}

TEST(FatAdvancedSearch, ExFatOffersAtMostMaxTablesAndMaxPlusOneHeaps) {
    const auto lines = tableLines({"fat-tables", test::fixture("exfat-4k.img")});
    int fats = 0, heaps = 0;
    for (const auto& l : lines) {
        fats += l.rfind("FAT64_ENTRY:", 0) == 0;
        heaps += l.rfind("HEAP_OFFSET_ENTRY:", 0) == 0;
    }
    EXPECT_GE(fats, 1);
    EXPECT_LE(fats, 3);
    EXPECT_GE(heaps, 1);
    EXPECT_LE(heaps, 4);
    // The boot sector is valid: its heap offset is the first choice, its cluster shift too.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "CLUSTER_SHIFT\t3,8,9,10,11"), lines.end());
}

TEST(FatAdvancedSearch, Fat32TablesAreFoundWhateverTheReservedBitsOfEntryOne) {
    auto bytes = test::readWholeFile(test::fixture("fat32-512.img"));
    auto clean = test::parseVolume<Fat32Parser>(bytes);
    ASSERT_TRUE(clean->accepted);
    const std::int64_t fat = clean->parser.fatOffset;
    for (std::uint32_t entry1 : {0x0FFFFFFFu, 0xFFFFFFFFu}) {
        test::put32(bytes, static_cast<std::uint64_t>(fat) + 4, entry1);
        MemorySource source(bytes);
        ScanRequest request;
        request.reader = &source;
        request.volume.fileSystem = u"FAT32";
        request.volume.byteLength = static_cast<std::int64_t>(bytes.size());
        MemoryScanHost host;
        const auto found = findCandidates(request, host).tables;
        ASSERT_FALSE(found.empty()) << std::hex << entry1;
        EXPECT_EQ(found[0], fat);
    }
}

// Saves the advanced-mode tree with the drive-formatted option and counts the files of the
// manifest found again byte for byte (wherever the scan placed them).
struct Recovered {
    std::size_t expected = 0;
    std::size_t found = 0;
    std::string listing;
};

Recovered recoverAdvanced(const std::string& name, std::vector<std::string> options) {
    Recovered result;
    const std::string image = test::fixture(name + ".img");
    std::vector<std::string> list = {"list", image, "--mode", "advanced"};
    list.insert(list.end(), options.begin(), options.end());
    const auto listed = test::runCli(list);
    EXPECT_EQ(listed.status, 0) << listed.err;
    result.listing = listed.out;
    test::ScratchDir out;
    std::vector<std::string> save = {"save", image, "--mode", "advanced", "--formatted", "--out", out.path()};
    save.insert(save.end(), options.begin(), options.end());
    test::runCli(save);
    std::map<std::string, std::set<std::string>> saved;  // file name -> contents seen
    for (const auto& e : std::filesystem::recursive_directory_iterator(out.path()))
        if (e.is_regular_file()) saved[e.path().filename().string()].insert(test::sha256File(e.path().string()));
    for (const auto& e : test::readManifest(name)) {
        // A new format empties the root directory: the root's own files are not expected back.
        if (e.kind != "f" || e.state != "live" || e.sha256 == "-" || e.path.rfind("Frag/", 0) == 0 ||
            e.path.find('/') == std::string::npos)
            continue;
        ++result.expected;
        const std::string base = e.path.substr(e.path.rfind('/') + 1);
        result.found += saved[base].count(e.sha256);
    }
    return result;
}

TEST(FatAdvancedBuild, ReformattedVolumesGiveTheirFilesBack) {
    struct Case {
        const char* image;
        std::vector<std::string> options;
    };
    const Case cases[] = {
        {"fat16-reformatted", {}},
        {"fat16-noboot", {"--start", "0", "--fs", "FAT16"}},
        {"fat32-reformatted", {"--sectors-per-cluster", "1"}},  // mtools leaves the 10-ms byte 0
        {"exfat-reformatted", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        const Recovered r = recoverAdvanced(c.image, c.options);
        EXPECT_GT(r.expected, 300u);
        EXPECT_GE(r.found * 10, r.expected * 9) << r.found << " of " << r.expected;
        EXPECT_NE(r.listing.find("d\tlive\t0\tORPHAN ENTRY\n"), std::string::npos);
        EXPECT_NE(r.listing.find("\tORPHAN ENTRY/"), std::string::npos);
    }
}

TEST(FatAdvancedBuild, RootEntriesAreUnderTheRootAndLongNamesAreListedTwice) {
    // The root region survived: its folders are read as folders, under the root.
    const auto r = test::runCli({"list", test::fixture("fat16-noboot.img"), "--start", "0", "--fs", "FAT16", "--mode", "advanced"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("f\tlive\t3000000\tData/holiday movie.bin\n"), std::string::npos);
    EXPECT_NE(r.out.find("d\tlive\t0\tDocuments\n"), std::string::npos);
    EXPECT_EQ(r.out.find("ORPHAN ENTRY/holiday movie.bin"), std::string::npos);  // read once, by its folder
    // After a new format the folder is gone: its entries are found one by one, a long-named
    // file under its long name and again under its short name.
    const auto f = test::runCli({"list", test::fixture("fat16-reformatted.img"), "--mode", "advanced"});
    ASSERT_EQ(f.status, 0) << f.err;
    EXPECT_NE(f.out.find("f\tlive\t3000000\tORPHAN ENTRY/holiday movie.bin\n"), std::string::npos);
    EXPECT_NE(f.out.find("f\tlive\t3000000\tORPHAN ENTRY/HOLIDA~1.BIN\n"), std::string::npos);
}

TEST(FatAdvancedBuild, ChoicesOutsideTheListsAreRefusedWithAnEmptyTree) {
    const std::string image = test::fixture("fat16-reformatted.img");
    for (const std::vector<std::string>& extra : {std::vector<std::string>{"--fat", "7"},
                                                  std::vector<std::string>{"--sectors-per-cluster", "300"}}) {
        std::vector<std::string> args = {"list", image, "--mode", "advanced"};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto r = test::runCli(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("not one of the choices"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const auto x = test::runCli({"list", test::fixture("exfat-reformatted.img"), "--mode", "advanced", "--heap", "9"});
    EXPECT_EQ(x.status, 2) << x.err;
    EXPECT_EQ(x.out, "");
}

// Stop during the slot scan: the scan ends early and the tree is still built from what it found.
TEST(FatAdvancedBuild, StopDuringTheScanStillBuildsATree) {
    for (const auto& [image, fs] : {std::pair{"fat16-reformatted", u"FAT16"}, std::pair{"exfat-reformatted", u"FAT64"}}) {
        SCOPED_TRACE(image);
        FileReadSeek reader;
        ASSERT_TRUE(reader.open(test::fixture(std::string(image) + ".img")));
        ScanRequest request;
        request.reader = &reader;
        request.mode = RecoveryMode::Advanced;
        request.volume.fileSystem = fs;
        request.volume.sizeText = u"64";
        MemoryResultTree tree;
        MemoryScanHost host;
        bool stopped = false;
        host.setObserver([&](const MemoryScanHost& h) {
            // Stop in the middle of the slot scan.
            const std::string s = h.lastStatus();
            const bool midScan = s == "currently at sector 32768 of 131072" || s == "found Entry 257 ";
            if (midScan && !stopped) {
                stopped = true;
                const_cast<MemoryScanHost&>(h).requestStop();
            }
        });
        auto session = runScan(request, host, tree);
        ASSERT_TRUE(session);
        EXPECT_TRUE(stopped);
        ASSERT_NE(tree.root(), 0u);
        const auto top = tree.children(tree.root());
        ASSERT_FALSE(top.empty());
        EXPECT_EQ(tree.itemText(top[0]), u"ORPHAN ENTRY");
        EXPECT_FALSE(session->children(tree.itemData(top[0])).empty());
    }
}

}  // namespace
}  // namespace corvello
