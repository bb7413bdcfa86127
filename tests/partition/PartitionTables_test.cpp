#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>

#include "common/MemoryScanHost.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "partition/Partition.h"
#include "support/ByteWriters.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

struct Expected {
    std::string fileSystem;
    std::int64_t start;
};

std::vector<Expected> readLayout(const std::string& name) {
    std::ifstream in(test::fixture(name + ".layout"));
    std::vector<Expected> out;
    std::string fs;
    std::int64_t start = 0;
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        fs = line.substr(0, tab);
        start = std::stoll(line.substr(tab + 1));
        out.push_back({fs, start});
    }
    return out;
}

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<VolumeRecord> readTables(const std::string& path, bool gpt, MemoryScanHost* host = nullptr,
                                     int* status = nullptr) {
    FileReadSeek reader;
    EXPECT_TRUE(reader.open(path)) << path;
    VolumeList list;
    Partition partition;
    partition.owner = &list;
    partition.statusLabel = host;
    partition.gptFormat = gpt;
    const int result = readPartitionTables(reader, partition);
    if (status != nullptr) *status = result;
    numberVolumeRows(list.volumes);
    return list.volumes;
}

// The partitions sfdisk and sgdisk wrote, read back in list order with their kinds.
TEST(PartitionTables, MatchWhatTheToolsWrote) {
    const struct {
        const char* image;
        bool gpt;
    } cases[] = {{"mbr-disk", false},   {"gpt-disk", true},    {"mbr-loop", false},
                 {"sample-disk", false}, {"gpt-disk", false},   // a protective MBR: read as GPT unasked
                 {"gpt-volumes", false}, {"gpt-volumes", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        const auto expected = readLayout(c.image);
        ASSERT_FALSE(expected.empty());
        const auto volumes = readTables(test::fixture(std::string(c.image) + ".img"), c.gpt);
        ASSERT_EQ(volumes.size(), expected.size());
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            EXPECT_EQ(toUtf8(volumes[i].fileSystem), expected[i].fileSystem) << "row " << i;
            EXPECT_EQ(volumes[i].startSector, expected[i].start) << "row " << i;
            EXPECT_EQ(toUtf8(volumes[i].locator), std::to_string(i));
        }
    }
}

TEST(PartitionTables, SizeTextsAndStatusTexts) {
    MemoryScanHost host;
    const auto mbr = readTables(test::fixture("mbr-disk.img"), false, &host);
    ASSERT_EQ(mbr.size(), 5u);
    EXPECT_EQ(mbr[0].sizeText, u"16   MB");  // primary: sector count / 2048, three blanks
    EXPECT_EQ(mbr[2].sizeText, u"36   MB");  // logical
    EXPECT_EQ(host.statuses(), (std::vector<std::string>{"found FAT 16...", "found NTFS 1...", "found FAT 32...",
                                                         "found extx...", "found FAT64..."}));

    const auto gpt = readTables(test::fixture("gpt-disk.img"), true);
    ASSERT_EQ(gpt.size(), 5u);
    EXPECT_EQ(gpt[0].sizeText, u"16  MB");   // FAT rows: size from the boot sector, two blanks
    EXPECT_EQ(gpt[1].sizeText, u"11   MB");  // NTFS: mkntfs counts one sector less than the partition
    EXPECT_EQ(gpt[2].sizeText, u"8  MB");    // ext, recognised by its superblock: as the FAT rows

    // Every record carries its exact length: the sector count of an MBR entry, the size a GPT
    // partition's file system declares.
    EXPECT_EQ(mbr[0].byteLength, 16 * 1048576);
    EXPECT_EQ(mbr[0].sizeBytes(), mbr[0].byteLength);
    EXPECT_EQ(gpt[0].byteLength, 16 * 1048576);
    EXPECT_EQ(gpt[1].byteLength, (12 * 2048 - 1) * 512);  // NTFS counts one sector less
    EXPECT_EQ(gpt[1].sizeBytes(), gpt[1].byteLength);
    EXPECT_EQ(gpt[2].byteLength, 8 * 1048576);
}

// The size the parsers use is the exact length while the size text still shows it; a size
// typed over the text (the wizard's custom volume) counts as typed.
TEST(VolumeRecordSize, ExactLengthWhileTheTextAgrees) {
    const struct {
        const char16_t* text;
        std::int64_t byteLength;
        std::int64_t expected;
    } cases[] = {
        {u"0  MB", 737280, 737280},               // a 720 KB floppy
        {u"0", 204800, 204800},                   // a 200 KB volume
        {u"16   MB", 16 * 1048576 + 4096, 16 * 1048576 + 4096},
        {u"15", 16 * 1048576, 16 * 1048576},      // GPT's bare sizes count one sector less
        {u"64", 0, 64 * 1048576},                 // no exact length: the text's MiB
        {u"100", 16 * 1048576, 100 * 1048576},    // the text was changed since: it wins
        {u"0", 5 * 1048576, 0},
        {u"", 0, 0},
        {u"", 204800, 204800},                    // no size text: the exact length
    };
    for (const auto& c : cases) {
        VolumeRecord r;
        r.sizeText = c.text;
        r.byteLength = c.byteLength;
        EXPECT_EQ(r.sizeBytes(), c.expected) << toUtf8(c.text) << " " << c.byteLength;
    }
}

// Partitions of the GPT disk whose first sector (for ext: its primary superblock) was wiped
// are still recognised, from the copies their file systems keep, with a status line that says so.
TEST(PartitionTables, GptPartitionsWithoutTheirFirstSectorAreRecognisedFromBackups) {
    const auto layout = readLayout("gpt-volumes");
    ASSERT_EQ(layout.size(), 4u);
    auto disk = fileBytes(test::fixture("gpt-volumes.img"));
    for (const auto& e : layout) {
        const auto at = static_cast<std::size_t>(e.start) * 512;
        std::fill(disk.begin() + static_cast<long>(at), disk.begin() + static_cast<long>(at + (e.fileSystem == "extX" ? 2048 : 512)), 0);
    }
    test::ScratchDir dir;
    test::writeFile(dir.file("disk"), disk);
    MemoryScanHost host;
    const auto volumes = readTables(dir.file("disk"), false, &host);
    ASSERT_EQ(volumes.size(), layout.size());
    const auto healthy = readTables(test::fixture("gpt-volumes.img"), false);
    for (std::size_t i = 0; i < layout.size(); ++i) {
        EXPECT_EQ(toUtf8(volumes[i].fileSystem), layout[i].fileSystem) << i;
        EXPECT_EQ(volumes[i].startSector, layout[i].start) << i;
        EXPECT_EQ(volumes[i].sizeText, healthy[i].sizeText) << i;
        EXPECT_EQ(volumes[i].byteLength, healthy[i].byteLength) << i;
    }
    int backups = 0;
    for (const std::string& s : host.statuses()) backups += s.find("backup") != std::string::npos ? 1 : 0;
    EXPECT_EQ(backups, 4);
}

TEST(PartitionTables, SharedDiskWithExtendedChain) {
    const std::string path = test::sharedFixture("mbr-extended.raw");
    if (path.empty()) GTEST_SKIP() << "shared fixture mbr-extended.raw not found";
    const auto volumes = readTables(path, false);
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[0].fileSystem, u"extX");
    EXPECT_EQ(volumes[0].startSector, 1);
    EXPECT_EQ(volumes[1].fileSystem, u"extX");
    EXPECT_EQ(volumes[1].startSector, 352);
}

// Builds a 512-byte table sector from (type, start, count) entries.
std::array<std::uint8_t, 512> tableSector(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
    std::array<std::uint8_t, 512> s{};
    std::size_t off = 446;
    for (const auto& e : entries) {
        s[off + 4] = static_cast<std::uint8_t>(e[0]);
        test::put32(&s[off + 8], e[1]);
        test::put32(&s[off + 12], e[2]);
        off += 16;
    }
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

TEST(PartitionTables, PrimariesAfterAnEmptyOrExtendedSlotAreListed) {
    test::ScratchDir dir;
    std::vector<std::uint8_t> disk(8192 * 512, 0);
    const auto mbr = tableSector({{0x00, 0, 0}, {0x0F, 2048, 4096}, {0x0C, 6144, 2048}, {0x83, 7000, 1000}});
    std::copy(mbr.begin(), mbr.end(), disk.begin());
    const auto ebr = tableSector({{0x0B, 63, 2000}});
    std::copy(ebr.begin(), ebr.end(), disk.begin() + 2048 * 512);
    test::writeFile(dir.file("disk"), disk);

    const auto volumes = readTables(dir.file("disk"), false);
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(volumes[0].startSector, 6144);
    EXPECT_EQ(volumes[1].startSector, 7000);
    EXPECT_EQ(volumes[1].fileSystem, u"extX");
    EXPECT_EQ(volumes[2].startSector, 2048 + 63);  // the logical follows the primaries
    EXPECT_EQ(volumes[2].fileSystem, u"FAT32");
}

TEST(PartitionTables, UnreadableDiskReturnsErrorWithoutRecords) {
    test::ScratchDir dir;
    test::writeFile(dir.file("empty"), {});
    int status = 0;
    const auto volumes = readTables(dir.file("empty"), false, nullptr, &status);
    EXPECT_NE(status, 0);
    EXPECT_TRUE(volumes.empty());
}

}  // namespace
}  // namespace corvello
