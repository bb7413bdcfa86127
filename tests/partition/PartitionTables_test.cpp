#include <gtest/gtest.h>

#include <array>
#include <fstream>

#include "common/MemoryScanHost.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "partition/Partition.h"
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
    } cases[] = {{"mbr-disk", false}, {"gpt-disk", true}, {"mbr-loop", false}, {"sample-disk", false}};
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
    EXPECT_EQ(gpt[2].sizeText, u"7");        // anything else: its GPT name and a bare number
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
        for (int b = 0; b < 4; ++b) {
            s[off + 8 + b] = static_cast<std::uint8_t>(e[1] >> (8 * b));
            s[off + 12 + b] = static_cast<std::uint8_t>(e[2] >> (8 * b));
        }
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
