// The FAT-family parsers' rules: names, display texts, FAT lookups, boot-sector acceptance and
// the results tree.

#include <gtest/gtest.h>

#include <cstring>

#include "cli/Cli.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "fs/fat/FatCommon.h"
#include "common/VolumeRecord.h"
#include "scan/Scan.h"
#include "support/TestSupport.h"
#include "fs/fat/FatTestSupport.h"

namespace corvello {
namespace {

std::vector<std::uint8_t> slotOf(const char* name11, std::uint8_t caseFlags = 0) {
    std::vector<std::uint8_t> slot(32, 0);
    std::memcpy(slot.data(), name11, 11);
    slot[11] = 0x20;
    slot[12] = caseFlags;
    return slot;
}

TEST(FatNames, ShortNamesAreTheBaseADotAndTheExtensionWithoutTheirBlanks) {
    struct Case {
        const char* slot;
        std::uint8_t caseFlags;
        int codePage;
        std::u16string expected;
    };
    const Case cases[] = {
        {"README  TXT", 0, 437, u"README.TXT"},
        {"NOTES   MD ", 0x18, 437, u"notes.md"},  // two-letter extension, lower-case flags
        {"FOO     C  ", 0, 437, u"FOO.C"},         // one-letter extension
        {"A       C  ", 0x18, 437, u"a.c"},
        {"MAKEFILE   ", 0, 437, u"MAKEFILE"},      // blank extension: no dot
        {"DATA    OLD", 0, 437, u"DATA.OLD"},      // folders are named by the same rule
        {"DOCS       ", 0, 437, u"DOCS"},
        {"$RECYCLEBIN", 0, 437, u"$RECYCLE.BIN"},
        {"MY DOC  TXT", 0, 437, u"MY DOC.TXT"},    // blanks inside the base stay
        {"\xE5" "BC     TXT", 0, 437, u"\uFFE5BC.TXT"},  // the deletion mark stays visible
        {"\xE5" "       TXT", 0, 437, u"\uFFE5.TXT"},
        {"NOTES   TXT", 0x08, 437, u"notes.TXT"},  // base lower case only
        {"NOTES   TXT", 0x10, 437, u"NOTES.txt"},  // extension lower case only
        {"\x05" "BC     TXT", 0, 437, u"\u03C3BC.TXT"},  // 0x05 stands for a first byte 0xE5 (σ in 437)
        {"\x05" "BC     TXT", 0, 850, u"\u00D5BC.TXT"},  // (Õ in 850)
        {"R\x90SUM\x90-\xA5TXT", 0, 437, u"R\u00C9SUM\u00C9-\u00D1.TXT"},  // OEM text: RÉSUMÉ-Ñ.TXT
        {"R\x90SUM\x90-\xA5TXT", 0x18, 437, u"r\u00E9sum\u00E9-\u00F1.txt"},
        {"PRICE\x9B  TXT", 0, 437, u"PRICE\u00A2.TXT"},  // 0x9B: ¢ in 437, ø in 850
        {"PRICE\x9B  TXT", 0, 850, u"PRICE\u00F8.TXT"},
        {"\x8E" "PFEL   TXT", 0, 999, u"\u00C4PFEL.TXT"},  // a page that cannot be decoded reads as 437
    };
    for (const Case& c : cases) {
        const auto slot = slotOf(c.slot, c.caseFlags);
        EXPECT_EQ(toUtf8(shortNameOf(ByteSpan(slot), c.codePage)), toUtf8(c.expected)) << c.slot << " in " << c.codePage;
    }
}

TEST(FatNames, EveryOemCodePageDecodesEveryByte) {
    std::string all;
    for (int b = 0x80; b <= 0xFF; ++b) all.push_back(static_cast<char>(b));
    ASSERT_FALSE(oemCodePages().empty());
    for (int page : oemCodePages()) {
        EXPECT_TRUE(isOemCodePage(page));
        const std::u16string text = fromOemCodePage("AZ az 09" + all, page);
        ASSERT_EQ(text.size(), 8 + all.size()) << page;
        EXPECT_EQ(text.substr(0, 8), u"AZ az 09") << page;  // ASCII in every OEM page
        int decoded = 0;
        for (char16_t c : text.substr(8)) decoded += c != 0xFFFD && c >= 0x80 ? 1 : 0;
        EXPECT_GT(decoded, 90) << page;  // the upper half is text, not a copy of the bytes
    }
    EXPECT_FALSE(isOemCodePage(1252));
    EXPECT_FALSE(isOemCodePage(65001));
    EXPECT_EQ(fromOemCodePage("\xB0\xDB", 437), u"\u2591\u2588");
    EXPECT_EQ(fromOemCodePage("\x80\xEF", 866), u"\u0410\u044F");  // Cyrillic А, я
}

TEST(FatNames, LongNamePiecesStopAtTheFirstZeroOrTakeAllThirteen) {
    std::vector<std::uint8_t> slot(32, 0xFF);
    slot[11] = 0x0F;
    const std::u16string full = u"ABCDEFGHIJKLM";
    const std::size_t offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t i = 0; i < 13; ++i) {
        slot[offsets[i]] = static_cast<std::uint8_t>(full[i]);
        slot[offsets[i] + 1] = 0;
    }
    EXPECT_EQ(longNamePiece(ByteSpan(slot)), full);
    slot[offsets[5]] = 0;
    EXPECT_EQ(longNamePiece(ByteSpan(slot)), u"ABCDE");
}

TEST(FatTexts, TimesSizesAndAttributes) {
    FatEntry e;
    e.createDate = static_cast<std::uint16_t>((41 << 9) | (6 << 5) | 15);  // 2021-06-15
    e.createTime = static_cast<std::uint16_t>((0 << 11) | (5 << 5));       // 00:05
    e.writeDate = e.createDate;
    e.writeTime = static_cast<std::uint16_t>((12 << 11) | (30 << 5));  // 12:30
    e.accessDate = static_cast<std::uint16_t>((42 << 9) | (1 << 5) | 2);
    e.attributes = 0x27;
    auto t = formatTimes(e);
    EXPECT_EQ(t[0], "06/15/2021  00:05 AM");
    EXPECT_EQ(t[1], "01/02/2022 ");
    EXPECT_EQ(t[2], "06/15/2021  12:30 AM");  // noon keeps AM, as the display always did
    EXPECT_EQ(t[3], "-R-H-S-A");
    e.writeTime = static_cast<std::uint16_t>((23 << 11) | (59 << 5));
    e.attributes = 0x10;
    t = formatTimes(e);
    EXPECT_EQ(t[2], "06/15/2021  11:59 PM");
    EXPECT_EQ(t[3], "");

    ExFatEntry x;
    x.modifyTimestamp = (static_cast<std::uint32_t>(e.createDate) << 16) | ((13u << 11) | (7u << 5) | 29u);
    x.accessTimestamp = x.modifyTimestamp;
    x.attributes = 0x21;
    const auto xt = formatTimes(x);
    EXPECT_EQ(xt[1], "06/15/2021  01:07 PM");  // exFAT access texts carry a time
    EXPECT_EQ(xt[2], "06/15/2021  01:07 PM");
    EXPECT_EQ(xt[3], "-R-A");

    const std::pair<std::uint32_t, const char*> sizes[] = {
        {0, "0 Bytes"}, {1023, "1023 Bytes"}, {1024, "1.00 KB"}, {2500, "2.44 KB"}, {3000000, "2.86 MB"},
        {1u << 30, "1.00 GB"}};
    for (const auto& [size, text] : sizes) {
        FatEntry f;
        f.size = size;
        EXPECT_EQ(formatSize(f), text);
    }
    x.dataLength = 5ull << 30;
    EXPECT_EQ(formatSize(x), "5.00 GB");
}

TEST(FatTimes, TwoSecondCountAndUtcOffset) {
    const std::uint32_t ts = (static_cast<std::uint32_t>((41 << 9) | (6 << 5) | 15) << 16) | ((14u << 11) | (20u << 5) | 29u);
    const auto local = exFatTime(ts, 0);  // no offset: local time, UTC in the tests
    ASSERT_TRUE(local);
    EXPECT_EQ(local->seconds, 1623766858);  // 14:20:58: a count of 29 is 58 seconds
    const auto east = exFatTime(ts, 0x80 | 4);  // written one hour east of UTC
    ASSERT_TRUE(east);
    EXPECT_EQ(east->seconds, 1623766858 - 3600);
    const auto west = exFatTime(ts, 0x80 | 0x7C);  // -4 steps: one hour west
    ASSERT_TRUE(west);
    EXPECT_EQ(west->seconds, 1623766858 + 3600);
    EXPECT_FALSE(exFatTime(0, 0));  // month 0 is no date
    const auto dos = dosTime(static_cast<std::uint16_t>(ts >> 16), static_cast<std::uint16_t>(ts));
    ASSERT_TRUE(dos);
    EXPECT_EQ(dos->seconds, 1623766858);
}

TEST(FatTable, TwelveSixteenAndThirtyTwoBitEntries) {
    // Clusters 2 -> 3 -> 5 -> end, 4 free, 6 bad.
    struct Case {
        FatKind kind;
        std::vector<std::uint8_t> fat;
    };
    const Case cases[] = {
        {FatKind::Fat12, {0xF8, 0xFF, 0xFF, 0x03, 0x50, 0x00, 0x00, 0xF0, 0xFF, 0xF7, 0x0F}},
        {FatKind::Fat16, {0xF8, 0xFF, 0xFF, 0xFF, 0x03, 0, 0x05, 0, 0, 0, 0xFF, 0xFF, 0xF7, 0xFF}},
        {FatKind::Fat32, {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F, 3, 0, 0, 0xF0, 5, 0, 0, 0, 0, 0, 0, 0,
                          0xFF, 0xFF, 0xFF, 0x0F, 0xF7, 0xFF, 0xFF, 0x0F}},
    };
    for (const Case& c : cases) {
        const MemorySource source(c.fat);
        const VolumeView view = VolumeView::toEnd(&source, 0);
        FatTable fat;
        fat.setup(&view, c.kind, 0, c.fat.size(), 1000);
        EXPECT_EQ(fat.maxCluster(), 6u) << static_cast<int>(c.kind);
        EXPECT_EQ(fat.next(2), 3u);
        EXPECT_EQ(fat.next(3), 5u);  // FAT32: the reserved top four bits are masked off
        EXPECT_EQ(fat.next(5), 0u);
        EXPECT_TRUE(fat.isFree(4));
        EXPECT_EQ(fat.next(6), 0u);
        EXPECT_EQ(fat.next(7), 0u);  // beyond the FAT
        EXPECT_EQ(fat.next(1), 0u);
    }
}

std::vector<std::uint8_t> fixtureBytes(const std::string& name) { return test::readWholeFile(test::fixture(name + ".img")); }

TEST(FatBootSector, AcceptedByStructureNotByOemText) {
    auto fat16 = fixtureBytes("fat16-2k");
    std::memcpy(fat16.data() + 3, "NIKON D5", 8);
    EXPECT_TRUE(test::parseVolume<Fat16Parser>(fat16)->accepted);
    std::memcpy(fat16.data() + 3, "MSWIN4.1", 8);
    EXPECT_TRUE(test::parseVolume<Fat16Parser>(fat16)->accepted);

    // Each parser refuses the other kinds and a zeroed boot sector.
    const auto fat32Bytes = fixtureBytes("fat32-512");
    EXPECT_FALSE(test::parseVolume<Fat16Parser>(fat32Bytes)->accepted);
    EXPECT_TRUE(test::parseVolume<Fat32Parser>(fat32Bytes)->accepted);
    const auto fat12Bytes = fixtureBytes("fat12-floppy");
    EXPECT_FALSE(test::parseVolume<Fat32Parser>(fat12Bytes)->accepted);
    EXPECT_FALSE(test::parseVolume<ExFatParser>(fat12Bytes)->accepted);
    auto v12 = test::parseVolume<Fat16Parser>(fat12Bytes);
    ASSERT_TRUE(v12->accepted);
    EXPECT_TRUE(v12->parser.isFat12());
    auto zeroed = fixtureBytes("exfat-4k");
    EXPECT_TRUE(test::parseVolume<ExFatParser>(zeroed)->accepted);
    std::fill(zeroed.begin(), zeroed.begin() + 512, 0);
    const auto fromBackup = test::parseVolume<ExFatParser>(zeroed);  // the backup boot region
    EXPECT_TRUE(fromBackup->accepted);
    EXPECT_EQ(fromBackup->host.statuses().front(),
              "The boot sector is damaged: the backup boot sector at sector 12 was used.");
    std::fill(zeroed.begin() + 12 * 512, zeroed.begin() + 13 * 512, 0);
    EXPECT_FALSE(test::parseVolume<ExFatParser>(zeroed)->accepted);
    EXPECT_FALSE(test::parseVolume<Fat16Parser>(zeroed)->accepted);
}

TEST(FatBootSector, RefusalIsReportedWithTheFormatText) {
    test::ScratchDir dir;
    auto bytes = fixtureBytes("fat16-2k");
    std::fill(bytes.begin(), bytes.begin() + 512, 0);
    test::writeFile(dir.file("blank.img"), bytes);
    const auto r = test::runCli({"list", dir.file("blank.img"), "--start", "0", "--fs", "FAT16"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Selected Drive is not in Fat16 Format"), std::string::npos) << r.err;
    const auto r32 = test::runCli({"list", test::fixture("fat16-2k.img"), "--start", "0", "--fs", "FAT32"});
    EXPECT_EQ(r32.status, 1);
    EXPECT_NE(r32.err.find("Selected Drive is not in Fat32 Format"), std::string::npos) << r32.err;
    const auto r64 = test::runCli({"list", test::fixture("fat16-2k.img"), "--start", "0", "--fs", "exFat"});
    EXPECT_NE(r64.err.find("Selected Drive is not in exFat Format"), std::string::npos) << r64.err;
}

// The deep mode is NTFS's: asking it of a FAT-family volume is a usage error that says so,
// not a volume that could not be read.
TEST(FatBootSector, DeepModeIsAUsageErrorThatNamesNtfs) {
    for (const char* image : {"fat12-floppy", "fat16-2k", "fat32-512", "exfat-4k"}) {
        const auto r = test::runCli({"list", test::fixture(std::string(image) + ".img"), "--mode", "deep"});
        EXPECT_EQ(r.status, cli::kExitUsage) << image << ": " << r.err;
        EXPECT_NE(r.err.find("the deep mode is for NTFS volumes"), std::string::npos) << image << ": " << r.err;
        EXPECT_EQ(r.err.find("could not be read"), std::string::npos) << image << ": " << r.err;
    }
}

TEST(FatTable, FatTwelveVolumeTypeTextUsesTheFat16Parser) {
    const auto r = test::runCli({"list", test::fixture("fat12-floppy.img"), "--start", "0", "--fs", "FAT12"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("f\tlive\t600000\tData/holiday movie.bin"), std::string::npos);
}

// The tree a scan leaves: "ROOT", the root's entries (never "DUMMY ENTRY" or the volume label),
// deleted ones in red, placeholders under folders with children.
void checkTree(const std::string& image, const std::u16string& fileSystem, std::size_t folders) {
    SCOPED_TRACE(image);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(test::fixture(image + ".img")));
    ScanRequest request;
    request.reader = &reader;
    request.volume.fileSystem = fileSystem;
    request.volume.sizeText = u"64";
    MemoryResultTree tree;
    MemoryScanHost host;
    auto session = runScan(request, host, tree);
    ASSERT_TRUE(session);
    completeScan(*session, tree, host);
    const TreeItem root = tree.root();
    ASSERT_NE(root, 0u);
    EXPECT_EQ(tree.itemText(root), u"ROOT");
    EXPECT_EQ(session->rootItem(), root);
    std::map<std::u16string, TreeItem> top;
    for (TreeItem item : tree.children(root)) top[tree.itemText(item)] = item;
    EXPECT_EQ(top.count(u"DUMMY ENTRY"), 0u);
    EXPECT_EQ(top.count(u"CORVELLO"), 0u);
    EXPECT_EQ(top.size(), folders + 50u);  // the folders and fifty files
    ASSERT_TRUE(top.count(u"Old project") && top.count(u"Data") && top.count(u"Root file with a long name 07.txt"));
    EXPECT_EQ(tree.itemColor(top[u"Old project"]), kDeletedColor);
    EXPECT_EQ(tree.itemColor(top[u"Data"]), kDefaultColor);
    EXPECT_EQ(tree.itemIcon(top[u"Data"]), IconKind::Folder);
    EXPECT_EQ(tree.itemIcon(top[u"Root file with a long name 07.txt"]), IconKind::File);
    const auto placeholder = tree.children(top[u"Data"]);
    ASSERT_EQ(placeholder.size(), 1u);
    EXPECT_EQ(tree.itemText(placeholder[0]), u"..DUMY..");

    // Opening the deleted folder: its children are drawn red.
    openFolder(*session, tree, top[u"Old project"], true);
    const auto kids = tree.children(top[u"Old project"]);
    ASSERT_EQ(kids.size(), 2u);
    for (TreeItem k : kids) EXPECT_EQ(tree.itemColor(k), kDeletedColor);

    // Row texts of a live file.
    openFolder(*session, tree, top[u"Data"], true);
    for (TreeItem k : tree.children(top[u"Data"])) {
        if (tree.itemText(k) != u"holiday movie.bin") continue;
        const ItemData d = tree.itemData(k);
        EXPECT_EQ(session->rowTexts(d)[2], "06/15/2021  02:20 PM");
        EXPECT_EQ(session->sizeText(d), "2.86 MB");
        EXPECT_FALSE(session->isFolder(d));
        EXPECT_FALSE(session->isDeleted(d, tree.itemData(top[u"Data"])));
    }
    EXPECT_TRUE(session->isSavableFolder(tree.itemData(top[u"Data"])));
    EXPECT_FALSE(session->isValid(0));
    EXPECT_FALSE(session->isValid(1));  // record 0, the placeholder of the root
}

TEST(FatTree, RootItemsColoursAndPlaceholders) {
    checkTree("fat16-2k", u"FAT16", 7);
    checkTree("fat32-4k", u"FAT32", 7);
    checkTree("exfat-4k", u"FAT64", 8);  // with a recycle bin
}

TEST(FatTree, DummyEntryIsRecordZeroWithTheFirstRootSlot) {
    const auto bytes = fixtureBytes("fat16-2k");
    auto v = test::parseVolume<Fat16Parser>(bytes);
    ASSERT_FALSE(v->parser.entries.empty());
    const FatEntry& dummy = v->parser.entries[0];
    EXPECT_EQ(dummy.name, u"DUMMY ENTRY");
    EXPECT_EQ(dummy.parent, 0u);
    EXPECT_EQ(dummy.attributes, 0x08);  // the first root slot is the volume label
    EXPECT_EQ(test::findRecord(v->parser.entries, u"CORVELLO"), -1);
}

}  // namespace
}  // namespace corvello
