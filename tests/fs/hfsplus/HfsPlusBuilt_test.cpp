// The HFS+ parser on volumes built from the on-disk format: extraction through extents and
// extents-overflow records, catalogs in pieces, names, duplicate IDs, signatures, block size 0,
// the deep-mode placement and the display texts.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "fs/hfsplus/HfsPlusParser.h"
#include "fs/hfsplus/HfsScanHelper.h"
#include "fs/hfsplus/HfsVolumeBuilder.h"

namespace corvello {
namespace {

using namespace test::hfs;

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t n) {
    return {b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n)};
}

bool contains(const std::vector<std::string>& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

// Saves everything of a scan into a fresh folder.
SaveResult saveAll(Scanned& s, const std::string& dir) {
    return saveRecords(*s.session, topLevelRecords(*s.session, s.tree), dir, s.host);
}

TEST(HfsPlusExtraction, TenThousandBytesInOneExtentOfThreeBlocks) {
    VolumeBuilder v;
    const auto data = pattern(3 * 4096, 1);
    v.put(40, data);
    v.put(43, pattern(4096, 2));  // the block after the extent must not leak into the file
    v.records = {file(20, 2, u"ten.bin", 10000, {{40, 3}})};
    test::ScratchDir dir;
    auto s = scanBytes(dir, v.build());
    ASSERT_TRUE(s->session);
    EXPECT_EQ(s->listing(), std::vector<std::string>{"f 10000 ten.bin"});
    const auto r = saveAll(*s, dir.file("out"));
    EXPECT_EQ(r.written, 1u);
    EXPECT_EQ(readAll(dir.file("out/ten.bin")), slice(data, 0, 10000));
}

// A volume that starts 1 MiB into a disk image is addressed from its own first byte.
TEST(HfsPlusExtraction, VolumeInsideADiskIsReadFromItsStartSector) {
    VolumeBuilder v;
    const auto data = pattern(2 * 4096, 4);
    v.put(40, data);
    v.records = {folder(16, 2, u"docs"), file(17, 16, u"note.txt", 5000, {{40, 2}})};
    std::vector<std::uint8_t> disk(1 << 20, 0xEE);
    const auto volume = v.build();
    disk.insert(disk.end(), volume.begin(), volume.end());
    test::ScratchDir dir;
    test::writeFile(dir.file("disk.img"), disk);
    for (const char* mode : {"standard", "deep"}) {
        SCOPED_TRACE(mode);
        const std::string prefix = std::string(mode) == "deep" ? "ORPHAN_ENTRY/" : "";
        const auto list = test::runCli({"list", dir.file("disk.img"), "--start", "2048", "--fs", "HFS+", "--mode", mode});
        ASSERT_EQ(list.status, 0) << list.err;
        EXPECT_TRUE(contains(test::lines(list.out), "f\tlive\t5000\t" + prefix + "docs/note.txt")) << list.out;
        const std::string out = dir.file(std::string("out-") + mode);
        const auto save = test::runCli({"save", dir.file("disk.img"), "--start", "2048", "--fs", "HFS+", "--mode", mode,
                                        "--out", out, "--path", prefix + "docs"});
        ASSERT_EQ(save.status, 0) << save.err;
        EXPECT_EQ(readAll(out + "/note.txt"), slice(data, 0, 5000));
    }
}

// A file in 8 one-block extents whose remaining blocks come from two overflow records keyed
// (CNID, blocks so far); a resource-fork record with the same key comes first in the node and
// must not be taken for the data fork.
TEST(HfsPlusExtraction, RemainingBlocksComeFromOverflowRecordsInOrder) {
    VolumeBuilder v;
    std::vector<Extent> first;
    std::vector<std::uint8_t> want;
    const std::uint32_t blocks[] = {60, 62, 64, 66, 68, 70, 72, 74, 80, 81, 90, 100};
    for (std::size_t i = 0; i < std::size(blocks); ++i) {
        const auto b = pattern(4096, static_cast<std::uint8_t>(10 + i));
        v.put(blocks[i], b);
        want.insert(want.end(), b.begin(), b.end());
        if (i < 8) first.push_back({blocks[i], 1});
    }
    v.put(120, pattern(4096, 99));
    const std::uint64_t size = 11 * 4096 + 100;
    want.resize(size);
    v.records = {file(20, 2, u"split.bin", size, first, 12)};
    v.overflow = {
        {0xFF, 20, 8, {{120, 4}}},
        {0, 20, 8, {{80, 2}}},
        {0, 20, 10, {{90, 1}, {100, 1}}},
    };
    test::ScratchDir dir;
    auto s = scanBytes(dir, v.build());
    ASSERT_TRUE(s->session);
    saveAll(*s, dir.file("out"));
    EXPECT_EQ(readAll(dir.file("out/split.bin")), want);

    // Without the second record the file ends after the blocks that were found.
    v.overflow.pop_back();
    test::ScratchDir dir2;
    auto s2 = scanBytes(dir2, v.build());
    ASSERT_TRUE(s2->session);
    saveAll(*s2, dir2.file("out"));
    EXPECT_EQ(readAll(dir2.file("out/split.bin")), slice(want, 0, 10 * 4096));
}

TEST(HfsPlusExtraction, EmptyFileLeavesNoOutputAndRestoresContentModificationTime) {
    VolumeBuilder v;
    v.put(40, pattern(4096, 3));
    auto dated = file(21, 2, u"dated.txt", 100, {{40, 1}});
    dated.contentModified = kSampleDate + 3600;
    dated.attributesModified = kSampleDate + 7200;
    dated.accessed = kSampleDate + 60;
    v.records = {file(20, 2, u"empty", 0, {}), dated};
    test::ScratchDir dir;
    auto s = scanBytes(dir, v.build());
    ASSERT_TRUE(s->session);
    const auto r = saveAll(*s, dir.file("out"));
    EXPECT_EQ(r.files, 2u);
    EXPECT_EQ(r.failed, 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/empty")));
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("out/dated.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1642144782 + 3600);
    EXPECT_EQ(st.st_atim.tv_sec, 1642144782 + 60);
}

// A file hard link has no data of its own; it names "iNode<n>" in the private data folder.
TEST(HfsPlusExtraction, HardLinksAreWrittenWithTheDataOfTheFileTheyName) {
    VolumeBuilder v;
    const auto data = pattern(4096, 7);
    v.put(50, data);
    const std::u16string privateData = std::u16string(4, u'\0') + u"HFS+ Private Data";
    auto inode = file(17, 16, u"iNode77", 3000, {{50, 1}});
    inode.contentModified = kSampleDate + 100;
    auto link = file(20, 2, u"linked.txt", 0, {});
    link.fileType = 0x686C6E6B;  // 'hlnk'
    link.creator = 0x6866732B;   // 'hfs+'
    link.special = 77;
    auto dangling = link;
    dangling.id = 21;
    dangling.name = u"dangling.txt";
    dangling.special = 78;
    v.records = {folder(16, 2, privateData), inode, link, dangling};
    test::ScratchDir dir;
    auto s = scanBytes(dir, v.build());
    ASSERT_TRUE(s->session);
    EXPECT_TRUE(contains(s->listing(), "f 3000 linked.txt"));
    EXPECT_TRUE(contains(s->listing(), "f 0 dangling.txt"));
    saveAll(*s, dir.file("out"));
    EXPECT_EQ(readAll(dir.file("out/linked.txt")), slice(data, 0, 3000));
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("out/linked.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1642144782 + 100);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/dangling.txt")));
}

// The catalog read through all of its extents: several pieces in the volume header, pieces
// from extents-overflow records of file 4, and nodes smaller than blocks.
TEST(HfsPlusCatalog, EveryNodeIsReadWhereverTheCatalogLies) {
    struct Case {
        const char* what;
        std::uint32_t blockSize, nodeSize;
        std::vector<Extent> header;
        std::uint32_t total;
        std::vector<OverflowRecord> overflow;
    };
    const Case cases[] = {
        {"pieces in the header", 4096, 4096, {{20, 2}, {40, 1}, {60, 3}}, 0, {}},
        {"pieces from overflow", 4096, 4096, {{20, 2}}, 6, {{0, 4, 2, {{40, 1}, {60, 3}}}}},
        {"two-block nodes in pieces", 2048, 4096, {{40, 4}, {80, 8}}, 0, {}},
        {"nodes smaller than blocks", 8192, 4096, {{20, 1}, {30, 2}}, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VolumeBuilder v;
        v.blockSize = c.blockSize;
        v.nodeSize = c.nodeSize;
        v.totalBlocks = 1024 * 1024 / c.blockSize;
        v.catalogExtents = c.header;
        v.catalogTotalBlocks = c.total;
        v.overflow = c.overflow;
        v.recordsPerNode = 1;
        v.records.push_back(folder(16, 2, u"dir"));
        for (std::uint32_t i = 0; i < 4; ++i) v.records.push_back(file(17 + i, 16, u"f" + std::u16string(1, char16_t(u'0' + i)), 0, {}));
        test::ScratchDir dir;
        for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
            auto s = scanBytes(dir, v.build(), mode);
            ASSERT_TRUE(s->session);
            const auto got = s->listing();
            const std::string prefix = mode == RecoveryMode::Standard ? "dir/" : "ORPHAN_ENTRY/dir/";
            for (const char* name : {"f0", "f1", "f2", "f3"}) EXPECT_TRUE(contains(got, "f 0 " + prefix + name)) << name;
        }
    }
}

TEST(HfsPlusCatalog, NamesOfOneTo255CharactersAndTheFirstRecordOfAnIdMakeEntries) {
    VolumeBuilder v;
    v.records = {
        file(20, 2, u"", 0, {}),                         // no name: no entry
        file(21, 2, std::u16string(256, u'x'), 0, {}),   // 256 characters: no entry
        file(22, 2, std::u16string(255, u'y'), 0, {}),
        file(23, 2, u"z", 0, {}),
        file(24, 2, u"first", 0, {}),
        file(24, 2, u"second", 0, {}),                   // duplicate ID: the first wins
        folder(0, 2, u"no-id"),                          // folder ID 0: no entry
        file(25, 2, u" padded name ", 0, {}),
    };
    test::ScratchDir dir;
    auto s = scanBytes(dir, v.build());
    ASSERT_TRUE(s->session);
    auto got = s->listing();
    std::sort(got.begin(), got.end());
    std::vector<std::string> want = {"f 0 " + std::string(255, 'y'), "f 0 z", "f 0 first", "f 0 padded name"};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    // The record keeps its name; the save walk trims it.
    EXPECT_EQ(s->session->name(25), u" padded name ");
}

// A freed node outside the leaf chain may still hold an old copy of a live record; the copy in
// the chain is the one that counts.
TEST(HfsPlusCatalog, RecordsOfTheLeafChainWinOverStaleNodes) {
    VolumeBuilder v;
    const auto data = pattern(4096, 8);
    v.put(40, data);
    v.put(41, pattern(4096, 9));
    v.recordsPerNode = 1;
    v.records = {file(17, 2, u"old-name", 4096, {{41, 1}}), file(17, 2, u"report.txt", 4096, {{40, 1}})};
    auto image = v.build();
    test::putBe32(image, v.catalogNodeOffset(0) + 24, 2);  // the chain starts at node 2
    test::ScratchDir dir;
    auto s = scanBytes(dir, image);
    ASSERT_TRUE(s->session);
    EXPECT_EQ(s->listing(), std::vector<std::string>{"f 4096 report.txt"});
    saveAll(*s, dir.file("out"));
    EXPECT_EQ(readAll(dir.file("out/report.txt")), data);
}

TEST(HfsPlusCatalog, StandardLinksFilesUnderTheirFoldersAndRootChildrenUnderRoot) {
    VolumeBuilder v;
    v.records = {folder(2, 1, u"volume"), folder(16, 2, u"top"), folder(17, 16, u"inner"),
                 file(18, 17, u"deep.txt", 0, {}), file(19, 2, u"root.txt", 0, {}),
                 file(20, 99, u"lost.txt", 0, {}),  // parent missing: not reachable
                 file(21, 19, u"under-file", 0, {})};  // parent is not a folder
    test::ScratchDir dir;
    auto s = scanBytes(dir, v.build());
    ASSERT_TRUE(s->session);
    auto got = s->listing();
    std::sort(got.begin(), got.end());
    const std::vector<std::string> want = {"d top", "d top/inner", "f 0 root.txt", "f 0 top/inner/deep.txt"};
    EXPECT_EQ(got, want);
    EXPECT_EQ(s->tree.itemIcon(s->tree.children(s->tree.root())[0]), IconKind::Folder);
}

// CNIDs 16 (folder), 17 (file in 16), 18 (folder), 19 (file): ORPHAN_ENTRY (20) holds 18 then
// 16; 16 holds 17; 18 holds 19.
TEST(HfsPlusCatalog, DeepModePlacesEntriesUnderOrphanEntry) {
    VolumeBuilder v;
    v.records = {folder(16, 2, u"a"), file(17, 16, u"b", 0, {}), folder(18, 2, u"c"), file(19, 18, u"d", 0, {})};
    test::ScratchDir dir;
    for (RecoveryMode mode : {RecoveryMode::Deep, RecoveryMode::Advanced}) {
        auto s = scanBytes(dir, v.build(), mode);
        ASSERT_TRUE(s->session);
        const auto top = s->tree.children(s->tree.root());
        ASSERT_EQ(top.size(), 1u);
        EXPECT_EQ(s->tree.itemText(top[0]), u"ORPHAN_ENTRY");
        EXPECT_EQ(s->tree.itemData(top[0]), 20u);
        EXPECT_EQ(s->session->children(20), (std::vector<ItemData>{18, 16}));
        EXPECT_EQ(s->session->children(16), (std::vector<ItemData>{17}));
        EXPECT_EQ(s->session->children(18), (std::vector<ItemData>{19}));
    }
}

// The deep mode still finds the catalog's leaf nodes when its header node is gone, whatever
// their size; the standard mode cannot walk the catalog without it.
TEST(HfsPlusCatalog, DeepModeFindsLeafNodesWithoutTheCatalogHeaderNode) {
    for (std::uint32_t nodeSize : {512u, 4096u, 8192u, 32768u}) {
        SCOPED_TRACE(nodeSize);
        VolumeBuilder v;
        v.nodeSize = nodeSize;
        v.catalogExtents = {{16, 24}};
        v.extentsExtents = {{8, 8}};
        v.put(60, pattern(4096, 6));
        v.records = {folder(16, 2, u"kept"), file(17, 16, u"one.txt", 1000, {{60, 1}}), file(18, 16, u"two.txt", 0, {})};
        auto image = v.build();
        std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(v.catalogNodeOffset(0)), nodeSize, 0);
        test::ScratchDir dir;
        EXPECT_FALSE(scanBytes(dir, image, RecoveryMode::Standard)->session);
        auto s = scanBytes(dir, image, RecoveryMode::Deep);
        ASSERT_TRUE(s->session);
        const auto got = s->listing();
        EXPECT_TRUE(contains(got, "f 1000 ORPHAN_ENTRY/kept/one.txt"));
        EXPECT_TRUE(contains(got, "f 0 ORPHAN_ENTRY/kept/two.txt"));
    }
}

TEST(HfsPlusVolume, SignatureAndBlockSizeDecideWhetherTheVolumeIsRead) {
    struct Case {
        const char* what;
        char sig[2];
        std::uint32_t blockSize;
        RecoveryMode mode;
        bool read;
        const char* status;  // a status the scan must have shown
    };
    const Case cases[] = {
        {"HFS+", {'H', '+'}, 4096, RecoveryMode::Standard, true, "Work Done."},
        {"HFSX", {'H', 'X'}, 4096, RecoveryMode::Standard, true, "Work Done."},
        {"HFSX deep", {'H', 'X'}, 4096, RecoveryMode::Deep, true, "Work Done."},
        {"HFS wrapper", {'B', 'D'}, 4096, RecoveryMode::Standard, false,
         "Not an HFS+ volume: the volume header signature is not H+ or HX."},
        {"block size 0", {'H', '+'}, 0, RecoveryMode::Standard, false, "Work Aborted...."},
        {"block size 0 deep", {'H', '+'}, 0, RecoveryMode::Deep, false, "BlockSize not valid .Aborting.."},
        {"block size 1000", {'H', '+'}, 1000, RecoveryMode::Standard, false, "Work Aborted...."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VolumeBuilder v;
        v.records = {file(20, 2, u"x.txt", 0, {})};
        auto image = v.build();
        image[1024] = static_cast<std::uint8_t>(c.sig[0]);
        image[1025] = static_cast<std::uint8_t>(c.sig[1]);
        test::putBe32(image, 1024 + 40, c.blockSize);
        test::ScratchDir dir;
        auto s = scanBytes(dir, image, c.mode);
        EXPECT_EQ(static_cast<bool>(s->session), c.read);
        EXPECT_TRUE(contains(s->host.statuses(), c.status));
        EXPECT_EQ(s->host.lastStatus(), c.read ? "Work Done." : "Work Aborted....");
        EXPECT_TRUE(s->host.notices().empty());
        if (c.read) {
            EXPECT_TRUE(contains(s->listing(), c.mode == RecoveryMode::Deep ? "f 0 ORPHAN_ENTRY/x.txt" : "f 0 x.txt"));
        }
    }
}

TEST(HfsPlusTexts, RowTextsShowLocalTimesAndPermissionLetters) {
    EXPECT_EQ(hfsPermissionText(0755), "-Owner:X-Owner:W-Owner:R-OX-OR-GX-GR");
    EXPECT_EQ(hfsPermissionText(0644), "-Owner:W-Owner:R-OR-GR");
    EXPECT_EQ(hfsPermissionText(0), "");

    VolumeBuilder v;
    v.put(40, pattern(4096, 5));
    auto f = file(20, 2, u"tool", 3 * 1024 * 1024 + 5, {{40, 1}});
    f.mode = 0100755;
    f.created = kSampleDate;                  // 07:19 AM
    f.accessed = kSampleDate + 6 * 3600;      // 13:19 -> 01:19 PM
    f.contentModified = kSampleDate + 5 * 3600 - 19 * 60;  // 12:00 stays AM
    v.records = {f};
    test::ScratchDir dir;
    auto s = scanBytes(dir, v.build());
    ASSERT_TRUE(s->session);
    const std::array<std::string, 4> want = {"01/14/2022  07:19 AM", "01/14/2022  01:19 PM", "01/14/2022  12:00 AM",
                                             "-Owner:X-Owner:W-Owner:R-OX-OR-GX-GR"};
    EXPECT_EQ(s->session->rowTexts(20), want);
    EXPECT_EQ(s->session->sizeText(20), "3.00 MB");
}

}  // namespace
}  // namespace corvello
