// Volume records carry the volume's exact length in sectors beside the whole-MiB size text, so
// that carving covers a volume to its last sector.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "device/FileReadSeek.h"
#include "partition/Partition.h"
#include "support/ByteWriters.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

std::vector<VolumeRecord> tables(const std::string& path, bool gpt, std::uint64_t* deviceSectors = nullptr) {
    FileReadSeek reader;
    EXPECT_TRUE(reader.open(path)) << path;
    if (deviceSectors != nullptr) *deviceSectors = reader.totalSectors();
    VolumeList list;
    Partition partition;
    partition.owner = &list;
    partition.gptFormat = gpt;
    EXPECT_EQ(readPartitionTables(reader, partition), 0);
    return list.volumes;
}

void putEntry(std::vector<std::uint8_t>& disk, std::size_t sector, int slot, std::uint8_t type, std::uint32_t start,
              std::uint32_t count) {
    const std::size_t off = sector * 512 + 446 + static_cast<std::size_t>(slot) * 16;
    disk[off + 4] = type;
    test::put32(disk, off + 8, start);
    test::put32(disk, off + 12, count);
    disk[sector * 512 + 510] = 0x55;
    disk[sector * 512 + 511] = 0xAA;
}

TEST(VolumeSectorCount, MbrRecordsKeepTheTablesCounts) {
    // Lengths that are not whole MiB, for a primary and a logical partition.
    test::ScratchDir dir;
    std::vector<std::uint8_t> disk(16384 * 512, 0);
    putEntry(disk, 0, 0, 0x0C, 2048, 4097);
    putEntry(disk, 0, 1, 0x0F, 8192, 8000);
    putEntry(disk, 8192, 0, 0x83, 63, 2001);
    test::writeFile(dir.file("disk"), disk);

    const auto volumes = tables(dir.file("disk"), false);
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[0].sectorCount(), 4097);
    EXPECT_EQ(volumes[0].sizeText, u"2   MB");
    EXPECT_EQ(volumes[1].startSector, 8192 + 63);
    EXPECT_EQ(volumes[1].sectorCount(), 2001);
    EXPECT_EQ(volumes[1].sizeText, u"0   MB");
}

TEST(VolumeSectorCount, RecordsOfTheFixtureDisksLieWithinTheDiskWithoutOverlap) {
    for (const auto& [image, gpt] : {std::pair{"mbr-disk", false}, {"gpt-disk", true}, {"sample-disk", false}}) {
        SCOPED_TRACE(image);
        std::uint64_t deviceSectors = 0;
        auto volumes = tables(test::fixture(std::string(image) + ".img"), gpt, &deviceSectors);
        ASSERT_FALSE(volumes.empty());
        std::sort(volumes.begin(), volumes.end(),
                  [](const VolumeRecord& a, const VolumeRecord& b) { return a.startSector < b.startSector; });
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            const VolumeRecord& v = volumes[i];
            ASSERT_GT(v.sectorCount(), 0) << "row " << i;
            // The size text never claims more than the partition holds.
            EXPECT_LE(v.sizeBytes(), v.sectorCount() * 512) << "row " << i;
            EXPECT_LE(static_cast<std::uint64_t>(v.startSector + v.sectorCount()), deviceSectors) << "row " << i;
            if (i + 1 < volumes.size()) {
                EXPECT_LE(v.startSector + v.sectorCount(), volumes[i + 1].startSector) << "row " << i;
            }
        }
    }
}

}  // namespace
}  // namespace corvello
