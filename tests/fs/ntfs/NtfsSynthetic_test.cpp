// The NTFS parser on a hand-built volume: extraction of every data layout (resident across a
// sector end, plain, sparse, LZNT1 units with 0, 5 and 16 clusters, extents in extension
// records, run lists longer than their range), names, the tree, display texts, and damaged
// records that must end cleanly.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sys/stat.h>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "device/VolumeView.h"
#include "fs/ntfs/NtfsParser.h"
#include "fs/ntfs/NtfsImage.h"
#include "fs/ntfs/NtfsScanned.h"
#include "scan/Families.h"
#include "scan/MemoryScan.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

using test::NtfsImage;
using Bytes = NtfsImage::Bytes;

// 2021-03-04 05:06:07 UTC as a FILETIME.
constexpr std::uint64_t kStamp = (1614834367ull + 11644473600ull) * 10000000ull;

Bytes pattern(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

Bytes readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Volume {
    NtfsImage image;
    std::map<std::string, Bytes> expected;  // path -> bytes extraction must give
};

void addFile(NtfsImage& img, std::uint64_t n, std::uint64_t parent, const std::u16string& name,
             const Bytes& data, std::uint16_t flags = 1) {
    img.record(n, flags, {NtfsImage::standardInfo(kStamp), NtfsImage::fileName(parent, name),
                          NtfsImage::resident(0x80, data)});
}

void addNonResident(NtfsImage& img, std::uint64_t n, std::uint64_t parent, const std::u16string& name,
                    const std::vector<std::pair<std::int64_t, std::uint64_t>>& runs, std::uint64_t clusters,
                    std::uint64_t realSize, std::uint16_t flags = 0, std::uint16_t exponent = 0,
                    std::uint32_t fileAttributes = 0x20) {
    img.record(n, 1,
               {NtfsImage::standardInfo(kStamp), NtfsImage::fileName(parent, name, false, 1, fileAttributes),
                NtfsImage::nonResident(0x80, NtfsImage::runs(runs), 0, clusters - 1, clusters * NtfsImage::kCluster,
                                       realSize, flags, exponent)});
}

Volume buildVolume() {
    Volume v;
    NtfsImage& img = v.image;
    const std::size_t cs = NtfsImage::kCluster;

    img.record(16, 3, {NtfsImage::standardInfo(kStamp), NtfsImage::fileName(5, u"docs", true)});

    // 700 bytes resident, covering the first sector's last two bytes.
    v.expected["docs/resident.txt"] = pattern(700, 1);
    addFile(img, 17, 16, u"resident.txt", v.expected["docs/resident.txt"]);

    // 10,000 bytes in three clusters.
    const Bytes three = pattern(3 * cs, 2);
    img.put(32, three);
    v.expected["three.bin"] = Bytes(three.begin(), three.begin() + 10000);
    addNonResident(img, 18, 5, u"three.bin", {{32, 3}}, 3, 10000, 0, 0, 0x0221);

    // 16 clusters, 32 sparse, 16 clusters.
    const Bytes head = pattern(16 * cs, 3), tail = pattern(16 * cs, 4);
    img.put(40, head);
    img.put(56, tail);
    Bytes sparse = head;
    sparse.resize(48 * cs, 0);
    sparse.insert(sparse.end(), tail.begin(), tail.end());
    v.expected["sparse.bin"] = sparse;
    addNonResident(img, 19, 5, u"sparse.bin", {{40, 16}, {-1, 32}, {56, 16}}, 64, sparse.size(), 0x8000);

    // Compressed, units of 16 clusters: stored raw (16 allocated), LZNT1 in 5 clusters, a hole.
    const Bytes raw = pattern(16 * cs, 5);
    img.put(80, raw);
    Bytes packed, unpacked;
    for (int k = 0; k < 4; ++k) {
        const Bytes chunk = pattern(4096, 10 + k);
        packed.push_back(0xFF);
        packed.push_back(0x3F);
        packed.insert(packed.end(), chunk.begin(), chunk.end());
        unpacked.insert(unpacked.end(), chunk.begin(), chunk.end());
    }
    for (int k = 0; k < 12; ++k) {
        const std::uint8_t c = static_cast<std::uint8_t>('a' + k);
        packed.insert(packed.end(), {0x03, 0xB0, 0x02, c, 0xFC, 0x0F});
        unpacked.insert(unpacked.end(), 4096, c);
    }
    EXPECT_LE(packed.size(), 5 * cs);
    img.put(96, packed);
    Bytes compressed = raw;
    compressed.insert(compressed.end(), unpacked.begin(), unpacked.end());
    compressed.resize(3 * 16 * cs - 1000, 0);
    v.expected["packed.bin"] = compressed;
    addNonResident(img, 20, 5, u"packed.bin", {{80, 16}, {96, 5}, {-1, 11}, {-1, 16}}, 48, compressed.size(), 0x0001,
                   4);

    // Data spread over two extension records named by a resident attribute list.
    const Bytes first = pattern(2 * cs, 6), second = pattern(2 * cs, 7);
    img.put(110, first);
    img.put(120, second);
    Bytes split = first;
    split.insert(split.end(), second.begin(), second.end());
    split.resize(split.size() - 100);
    v.expected["split.bin"] = split;
    {
        Bytes list;
        auto entry = [&](std::uint32_t type, std::uint64_t vcn, std::uint64_t record) {
            Bytes e(32, 0);
            test::put32(&e[0], type);
            test::put16(&e[4], 32);
            e[7] = 26;
            test::put64(&e[8], vcn);
            test::put64(&e[16], record | (1ull << 48));
            list.insert(list.end(), e.begin(), e.end());
        };
        entry(0x10, 0, 22);
        entry(0x30, 0, 22);
        entry(0x80, 2, 24);  // listed out of VCN order on purpose
        entry(0x80, 0, 23);
        img.record(22, 1, {NtfsImage::standardInfo(kStamp), NtfsImage::resident(0x20, list), NtfsImage::fileName(5, u"split.bin")});
        img.record(23, 1, {NtfsImage::nonResident(0x80, NtfsImage::runs({{110, 2}}), 0, 1, 4 * cs, split.size())}, 22);
        img.record(24, 1, {NtfsImage::nonResident(0x80, NtfsImage::runs({{120, 2}}), 2, 3, 0, 0)}, 22);
    }

    // A run list longer than its VCN range: the run past the range is dropped.
    const Bytes overlong = pattern(2 * cs, 8);
    img.put(130, overlong);
    v.expected["overlong.bin"] = Bytes(overlong.begin(), overlong.begin() + 8000);
    img.record(25, 1,
               {NtfsImage::standardInfo(kStamp), NtfsImage::fileName(5, u"overlong.bin"),
                NtfsImage::nonResident(0x80, NtfsImage::runs({{130, 2}, {140, 5}}), 0, 1, 2 * cs, 8000)});

    // Two names: a DOS name first, the long name second; the long name is shown.
    v.expected["two names.txt"] = pattern(50, 9);
    img.record(26, 1,
               {NtfsImage::standardInfo(kStamp), NtfsImage::fileName(5, u"TWONAM~1.TXT", false, 2),
                NtfsImage::fileName(5, u"two names.txt", false, 1), NtfsImage::resident(0x80, v.expected["two names.txt"])});
    // A name of 255 characters is a valid name.
    const std::u16string longName(255, u'n');
    v.expected[std::string(255, 'n')] = pattern(20, 10);
    addFile(img, 27, 5, longName, v.expected[std::string(255, 'n')]);

    // A deleted file in a live folder; a file whose parent record is a plain file.
    v.expected["docs/old.txt"] = pattern(40, 11);
    addFile(img, 28, 16, u"old.txt", v.expected["docs/old.txt"], 0);
    v.expected["plain.txt"] = pattern(30, 12);
    addFile(img, 29, 5, u"plain.txt", v.expected["plain.txt"]);
    v.expected["ORPHAN_ENTRY/lost.txt"] = pattern(30, 13);
    addFile(img, 30, 29, u"lost.txt", v.expected["ORPHAN_ENTRY/lost.txt"]);

    v.expected["trash.txt"] = pattern(25, 14);
    addFile(img, 39, 5, u"trash.txt", v.expected["trash.txt"], 0);

    // Parent references that loop: two folders naming each other, one naming itself.
    img.record(31, 3, {NtfsImage::standardInfo(kStamp), NtfsImage::fileName(32, u"loopA", true)});
    img.record(32, 3, {NtfsImage::standardInfo(kStamp), NtfsImage::fileName(31, u"loopB", true)});
    img.record(33, 3, {NtfsImage::standardInfo(kStamp), NtfsImage::fileName(33, u"self", true)});

    // Data outside the volume.
    addNonResident(img, 34, 5, u"outside.bin", {{100000, 2}}, 2, 8192);

    // Sizes for the size texts (holes only).
    addNonResident(img, 35, 5, u"s1023", {{-1, 1}}, 1, 1023);
    addNonResident(img, 36, 5, u"s1024", {{-1, 1}}, 1, 1024);
    addNonResident(img, 37, 5, u"s1.5M", {{-1, 384}}, 384, 1572864);
    addNonResident(img, 38, 5, u"s1G", {{-1, 262144}}, 262144, 1073741824);
    return v;
}

using Scanned = test::ScannedNtfs;

TEST(NtfsSynthetic, ExtractsEveryDataLayoutByteForByte) {
    const Volume v = buildVolume();
    Scanned s(v.image.bytes);
    ASSERT_TRUE(s.session);
    for (const auto& [path, bytes] : v.expected) {
        ASSERT_TRUE(s.listed.count(path)) << path;
        const ListedEntry& e = s.listed[path];
        EXPECT_EQ(e.size, bytes.size()) << path;
        const std::string out = s.dir.file("out.bin");
        EXPECT_TRUE(test::extractTo(out, [&](platform::OutputFile& o) { return s.session->extract(e.data, o); })) << path;
        EXPECT_EQ(readAll(out), bytes) << path;
    }
}

TEST(NtfsSynthetic, ExtractionRestoresTimesAndShowsDisplayTexts) {
    Scanned s(buildVolume().image.bytes);
    ASSERT_TRUE(s.session);
    const ItemData three = s.listed.at("three.bin").data;
    const auto row = s.session->rowTexts(three);
    EXPECT_EQ(row[0], "03/04/2021  05:06 AM");
    EXPECT_EQ(row[1], "03/04/2021  05:08 AM");
    EXPECT_EQ(row[2], "03/04/2021  05:07 AM");
    EXPECT_EQ(row[3], "-R-S-A");
    const std::string out = s.dir.file("three.bin");
    ASSERT_TRUE(test::extractTo(out, [&](platform::OutputFile& o) { return s.session->extract(three, o); }));
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1614834367 + 60);
    EXPECT_EQ(st.st_atim.tv_sec, 1614834367 + 120);

    const std::pair<const char*, const char*> sizes[] = {
        {"s1023", "1023 Bytes"}, {"s1024", "1.00 KB"}, {"s1.5M", "1.50 MB"}, {"s1G", "1.00 GB"}, {"docs", "0 Bytes"}};
    for (const auto& [path, text] : sizes) EXPECT_EQ(s.session->sizeText(s.listed.at(path).data), text) << path;
}

TEST(NtfsSynthetic, TreeShowsDeletedOrphansAndEndsOnParentLoops) {
    Scanned s(buildVolume().image.bytes);
    ASSERT_TRUE(s.session);
    EXPECT_TRUE(s.listed.at("docs/old.txt").deleted);
    EXPECT_FALSE(s.listed.at("docs/resident.txt").deleted);
    EXPECT_TRUE(s.listed.at("ORPHAN_ENTRY").folder);
    EXPECT_FALSE(s.listed.count("TWONAM~1.TXT"));
    // Folders in a parent loop are out of reach of the root; the scan still ended.
    EXPECT_FALSE(s.listed.count("loopA"));

    // The top level is drawn by the scan: deleted entries red, "ORPHAN_ENTRY" among them.
    TreeItem docs = 0;
    std::map<std::u16string, TextColor> top;
    for (TreeItem item : s.tree.children(s.session->rootItem())) {
        top[s.tree.itemText(item)] = s.tree.itemColor(item);
        if (s.tree.itemText(item) == u"docs") docs = item;
    }
    EXPECT_EQ(top.at(u"trash.txt"), kDeletedColor);
    EXPECT_EQ(top.at(u"plain.txt"), kDefaultColor);
    EXPECT_EQ(top.at(u"ORPHAN_ENTRY"), kDefaultColor);
    // Opening "docs" with a label click draws the deleted child red.
    ASSERT_NE(docs, 0u);
    openFolder(*s.session, s.tree, docs, true);
    std::map<std::u16string, TextColor> colours;
    for (TreeItem item : s.tree.children(docs)) colours[s.tree.itemText(item)] = s.tree.itemColor(item);
    EXPECT_EQ(colours.at(u"old.txt"), kDeletedColor);
    EXPECT_EQ(colours.at(u"resident.txt"), kDefaultColor);
}

TEST(NtfsSynthetic, DamagedRecordsAndRunsEndCleanly) {
    Volume v = buildVolume();
    NtfsImage& img = v.image;
    // A torn record (second sector end does not hold the sequence number): still listed.
    addFile(img, 40, 5, u"torn.txt", pattern(10, 20));
    img.at(NtfsImage::recordOffset(40))[1022] ^= 0xFF;
    // An attribute whose length runs past the record, after the name: the name stays.
    addFile(img, 41, 5, u"cut.txt", pattern(10, 21));
    test::put32(img.at(NtfsImage::recordOffset(41) + 56 + 72 + 104 + 4), 5000);  // the data attribute's length
    // A record whose first attribute runs past the record: nothing usable, not shown.
    addFile(img, 42, 5, u"gone.txt", pattern(10, 22));
    test::put32(img.at(NtfsImage::recordOffset(42) + 56 + 4), 0x7FFFFFF0);
    // A run list whose offsets run the LCN below zero, and a data attribute claiming an
    // enormous size over a tiny run.
    img.record(43, 1,
               {NtfsImage::standardInfo(kStamp), NtfsImage::fileName(5, u"negative.bin"),
                NtfsImage::nonResident(0x80, Bytes{0x11, 0x01, 0x05, 0x11, 0x01, 0x80, 0x00}, 0, 1, 8192, 8192)});
    img.record(44, 1,
               {NtfsImage::standardInfo(kStamp), NtfsImage::fileName(5, u"claims.bin"),
                NtfsImage::nonResident(0x80, NtfsImage::runs({{32, 1}}), 0, 0, 4096, 1ull << 62)});

    Scanned s(img.bytes);
    ASSERT_TRUE(s.session);
    EXPECT_TRUE(s.listed.count("torn.txt"));
    EXPECT_TRUE(s.listed.count("cut.txt"));
    EXPECT_FALSE(s.listed.count("gone.txt"));
    const std::string out = s.dir.file("x");
    for (const char* path : {"outside.bin", "negative.bin", "claims.bin"}) {
        ASSERT_TRUE(s.listed.count(path)) << path;
        EXPECT_FALSE(test::extractTo(out, [&](platform::OutputFile& o) { return s.session->extract(s.listed.at(path).data, o); })) << path;
        EXPECT_LE(readAll(out).size(), 8192u) << path;
    }
    // Every other file still comes out whole.
    for (const auto& [path, bytes] : v.expected) {
        test::extractTo(out, [&](platform::OutputFile& o) { return s.session->extract(s.listed.at(path).data, o); });
        EXPECT_EQ(readAll(out), bytes) << path;
    }
}

TEST(NtfsSynthetic, SaveWritesEveryFileInsideTheOutputFolder) {
    Volume v = buildVolume();
    // Names that try to leave the output folder.
    addFile(v.image, 45, 5, u"..", pattern(5, 30));
    addFile(v.image, 46, 16, u"../../escape.txt", pattern(5, 31));
    Scanned s(v.image.bytes);
    ASSERT_TRUE(s.session);
    const std::string outDir = s.dir.file("saved");
    const SaveResult r = saveRecords(*s.session, topLevelRecords(*s.session, s.tree), outDir, s.host);
    EXPECT_GT(r.written, v.expected.size() - 2);
    for (const auto& [path, bytes] : v.expected) EXPECT_EQ(readAll(outDir + "/" + path), bytes) << path;
    EXPECT_FALSE(std::ifstream(s.dir.path() + "/escape.txt").good());
    EXPECT_FALSE(std::ifstream(s.dir.path() + "/../escape.txt").good());
}

}  // namespace
}  // namespace corvello

namespace corvello {
namespace {

TEST(NtfsSynthetic, DescribesTheDataAttributeAsRecorded) {
    Volume v = buildVolume();
    NtfsImage& img = v.image;
    // A resident data attribute followed by a non-resident one: the second describes the data.
    img.record(47, 1,
               {NtfsImage::standardInfo(kStamp), NtfsImage::fileName(5, u"both.bin"),
                NtfsImage::resident(0x80, pattern(10, 40)),
                NtfsImage::nonResident(0x80, NtfsImage::runs({{32, 3}}), 0, 2, 3 * 4096, 10000)});
    // Compressed and sparse together: no single status.
    addNonResident(img, 48, 5, u"mixed.bin", {{-1, 16}}, 16, 1000, 0x8001, 4);
    ScanRequest request;
    request.volume.fileSystem = u"NTFS";
    const auto scan = scanMemory(img.bytes, request, false);
    ASSERT_TRUE(scan->session);
    NtfsParser& parser = *ntfsParserOf(*scan->session);
    ASSERT_TRUE(parser.mftReady);
    EXPECT_EQ(parser.clusterSize, 4096u);
    EXPECT_EQ(parser.rootIndex, 5u);

    DataAttributeInfo d = parser.describeDataAttribute(parser.loadRecord(47));
    EXPECT_TRUE(parser.hasDataAttribute);
    EXPECT_EQ(d.residency, 'N');
    EXPECT_EQ(d.realSize, 10000u);
    EXPECT_EQ(d.status, kStatusNormal);
    d = parser.describeDataAttribute(parser.loadRecord(48));
    EXPECT_EQ(d.status, nullptr);
    EXPECT_EQ(d.compressionExponent, 4);
    d = parser.describeDataAttribute(parser.loadRecord(17));
    EXPECT_EQ(d.residency, 'R');
    EXPECT_EQ(d.realSize, 700u);
    // A record whose data lives in extension records: the list names them in VCN order.
    parser.describeDataAttribute(parser.loadRecord(22));
    EXPECT_TRUE(parser.hasAttributeList);
    parser.collectExtensionRecords(parser.loadRecord(22));
    EXPECT_EQ(parser.extensionRecords, (std::vector<std::uint64_t>{24, 23}));
    // The extension records lend their data and add no entry of their own.
    EXPECT_EQ(parser.entries[23].name, nullptr);
    EXPECT_EQ(parser.entries[23].baseRecord, 22u);
}

}  // namespace
}  // namespace corvello
