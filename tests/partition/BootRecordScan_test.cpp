#include <gtest/gtest.h>

#include <fstream>

#include "common/MemoryScanHost.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "partition/BootSector.h"
#include "partition/Partition.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

struct ScanResult {
    int status = 0;
    std::vector<VolumeRecord> volumes;
};

ScanResult scan(const std::string& path, std::int64_t start, std::int64_t end, bool skip, MemoryScanHost& host) {
    FileReadSeek reader;
    EXPECT_TRUE(reader.open(path));
    VolumeList list;
    Partition partition;
    partition.owner = &list;
    partition.statusLabel = &host;
    partition.rangeStart = start;
    partition.rangeEnd = end;
    partition.skipVolumeSize = skip;
    ScanResult r;
    r.status = partition.scanBootRecords(reader, reader.totalSectors());
    r.volumes = list.volumes;
    return r;
}

std::vector<std::pair<std::string, std::int64_t>> summary(const std::vector<VolumeRecord>& volumes) {
    std::vector<std::pair<std::string, std::int64_t>> out;
    for (const auto& v : volumes) out.emplace_back(toUtf8(v.fileSystem), v.startSector);
    return out;
}

using Found = std::vector<std::pair<std::string, std::int64_t>>;

// Volumes of every kind back to back, the tables zeroed, the image cut inside the last volume.
TEST(BootRecordScan, FindsEveryVolumeOfADamagedTableDisk) {
    MemoryScanHost host;
    const auto r = scan(test::fixture("damaged-table.img"), 0, 0, true, host);
    EXPECT_EQ(r.status, 1);
    // The FAT32 volume's OEM text reads "MSDOS5.0", the others "mkfs.fat"; the FAT16 volume
    // right after the FAT12 one is found, and so is the last one, in the image's short tail.
    EXPECT_EQ(summary(r.volumes), (Found{{"FAT12", 2048}, {"FAT16", 6144}, {"FAT32", 22528}, {"NTFS", 92160},
                                         {"FAT64", 116736}, {"FAT16", 133120}}));
    EXPECT_EQ(r.volumes[3].sizeText, u"11   MB");
    EXPECT_EQ(r.volumes[0].sizeText, u"2  MB");
    EXPECT_EQ(toUtf8(r.volumes[5].locator), "5");
    EXPECT_EQ(host.statuses().front(), "Scanning partition.....");
    EXPECT_EQ(host.progressHigh(), 1000);
    EXPECT_EQ(host.progressPos(), 1000);
}

TEST(BootRecordScan, WithoutSkipTheBackupBootSectorsAreReported) {
    MemoryScanHost host;
    const auto r = scan(test::fixture("damaged-table.img"), 22528, 116735, false, host);
    // FAT32 keeps a backup boot sector at 6, NTFS one after its counted sectors.
    EXPECT_EQ(summary(r.volumes), (Found{{"FAT32", 22528}, {"FAT32", 22534}, {"NTFS", 92160}, {"NTFS", 116735}}));
}

TEST(BootRecordScan, HonoursTheRange) {
    const struct {
        std::int64_t start, end;
        Found expected;
    } cases[] = {
        {6144, 92160, {{"FAT16", 6144}, {"FAT32", 22528}, {"NTFS", 92160}}},
        {6145, 92159, {{"FAT32", 22528}}},
        {1'000'000, 0, {}},  // beyond the device: ends at once
    };
    for (const auto& c : cases) {
        MemoryScanHost host;
        const auto r = scan(test::fixture("damaged-table.img"), c.start, c.end, true, host);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(summary(r.volumes), c.expected) << c.start << ".." << c.end;
    }
}

TEST(BootRecordScan, StopKeepsWhatWasFound) {
    MemoryScanHost host;
    host.setObserver([&](const MemoryScanHost& h) {
        const auto s = h.lastStatus();
        if (s.rfind("found", 0) == 0 && h.statuses().size() == 3) host.requestStop();
    });
    const auto r = scan(test::fixture("damaged-table.img"), 0, 0, true, host);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(summary(r.volumes), (Found{{"FAT12", 2048}, {"FAT16", 6144}}));
    EXPECT_EQ(host.lastStatus(), "Scanned Partitions");
}

TEST(BootRecordScan, FindsAnHfsPlusVolumeAndTheVolumeAfterIt) {
    const std::string hfs = test::sharedFixture("hfsplus.raw");
    if (hfs.empty()) GTEST_SKIP() << "shared fixture hfsplus.raw not found";
    std::ifstream in(hfs, std::ios::binary);
    std::vector<std::uint8_t> volume((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(volume.size(), 2048u);

    // A disk: 1 MiB of nothing, the HFS+ volume, then a copy of the FAT12 volume of the damaged disk.
    std::ifstream fatIn(test::fixture("damaged-table.img"), std::ios::binary);
    std::vector<std::uint8_t> fat(4096 * 512);
    fatIn.seekg(2048 * 512);
    fatIn.read(reinterpret_cast<char*>(fat.data()), static_cast<std::streamsize>(fat.size()));
    std::vector<std::uint8_t> disk(2048 * 512, 0);
    disk.insert(disk.end(), volume.begin(), volume.end());
    const auto fatStart = static_cast<std::int64_t>(disk.size() / 512);
    disk.insert(disk.end(), fat.begin(), fat.end());
    test::ScratchDir dir;
    test::writeFile(dir.file("disk"), disk);

    MemoryScanHost host;
    const auto r = scan(dir.file("disk"), 0, 0, true, host);
    ASSERT_EQ(r.volumes.size(), 2u);
    EXPECT_EQ(r.volumes[0].fileSystem, u"HFS+");
    EXPECT_EQ(r.volumes[0].startSector, 2048);  // the header sits two sectors into the volume
    EXPECT_EQ(r.volumes[1].fileSystem, u"FAT12");
    EXPECT_EQ(r.volumes[1].startSector, fatStart);
}

// Boot sectors a FAT reader must accept or refuse by their structure alone.
TEST(BootSector, FatRecognisedByStructure) {
    std::ifstream in(test::fixture("damaged-table.img"), std::ios::binary);
    auto sectorAt = [&](std::int64_t sector) {
        std::vector<std::uint8_t> s(512);
        in.seekg(sector * 512);
        in.read(reinterpret_cast<char*>(s.data()), 512);
        return s;
    };
    const auto fat12 = sectorAt(2048), fat16 = sectorAt(6144), fat32 = sectorAt(22528);
    EXPECT_EQ(classifyFat(ByteSpan(fat12)).kind, BootKind::Fat12);
    EXPECT_EQ(classifyFat(ByteSpan(fat16)).kind, BootKind::Fat16);
    EXPECT_EQ(classifyFat(ByteSpan(fat32)).kind, BootKind::Fat32);
    EXPECT_EQ(classifyFat(ByteSpan(fat16)).sizeBytes, 16384LL * 512);

    const struct {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
    } damage[] = {
        {"bytes per sector 768", 12, 0x03},  // 0x0300
        {"sectors per cluster 3", 13, 3},
        {"no reserved sectors", 14, 0},
        {"three FATs", 16, 3},
        {"no boot mark", 511, 0},
        {"no jump", 0, 0},
    };
    for (const auto& d : damage) {
        auto s = fat16;
        s[d.offset] = d.value;
        if (d.offset == 14) s[15] = 0;
        EXPECT_EQ(classifyFat(ByteSpan(s)).kind, BootKind::None) << d.what;
    }
}

}  // namespace
}  // namespace corvello
