// Volumes as people bring them: bare volumes whose first sector (for ext: the primary
// superblock) is gone, volumes smaller than 1 MiB, and a GPT disk made by sgdisk, each listed
// and saved through the command line and checked against its manifest.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "partition/Partition.h"
#include "scan/Scan.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// path -> "kind state size" of a listing.
std::map<std::string, std::string> listed(const std::string& out) {
    std::map<std::string, std::string> rows;
    for (const std::string& line : test::lines(out)) {
        const auto c = line.rfind('\t');
        std::string head = line.substr(0, c);
        std::replace(head.begin(), head.end(), '\t', ' ');
        rows[line.substr(c + 1)] = head;
    }
    return rows;
}

// The recycle-bin pass shows an NTFS "$R" data file under its original name.
bool renamedByTheRecycleBin(const std::string& path) {
    return path.find("$RECYCLE.BIN/") != std::string::npos && path.find("/$R") != std::string::npos;
}

// Lists and saves the volume with the given arguments; every entry of the manifest is listed
// with its kind, state and size, and every live file is saved byte for byte.
void expectManifest(const std::vector<std::string>& volumeArgs, const std::string& manifestName) {
    std::vector<std::string> list = {"list"};
    list.insert(list.end(), volumeArgs.begin(), volumeArgs.end());
    const auto r = test::runCli(list);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = listed(r.out);
    const auto manifest = test::readManifest(manifestName);
    ASSERT_FALSE(manifest.empty());
    for (const auto& e : manifest) {
        if (renamedByTheRecycleBin(e.path)) continue;
        const auto it = rows.find(e.path);
        ASSERT_NE(it, rows.end()) << "not listed: " << e.path;
        EXPECT_EQ(it->second, e.kind + " " + e.state + " " + std::to_string(e.size)) << e.path;
    }
    test::ScratchDir out;
    std::vector<std::string> save = {"save"};
    save.insert(save.end(), volumeArgs.begin(), volumeArgs.end());
    save.insert(save.end(), {"--out", out.path()});
    const auto s = test::runCli(save);
    int checked = 0;
    for (const auto& e : manifest) {
        if (e.kind != "f" || e.state != "live" || renamedByTheRecycleBin(e.path)) continue;
        EXPECT_EQ(test::sha256File(out.file(e.path)), e.sha256) << e.path;
        ++checked;
    }
    EXPECT_GT(checked, 0);
    EXPECT_EQ(s.status, 0) << s.err;
}

struct Wiped {
    const char* image;
    std::size_t bytes;          // zeroed from the volume's first byte
    const char* fileSystem;
    const char* status;         // the status line that says which copy was used
};

const Wiped kWiped[] = {
    {"ntfs-basic", 512, "NTFS", "The boot sector is damaged: the backup boot sector at sector 49151 was used."},
    {"fat32-512", 512, "FAT32", "The boot sector is damaged: the backup boot sector at sector 6 was used."},
    {"exfat-4k", 512, "FAT64", "The boot sector is damaged: the backup boot sector at sector 12 was used."},
    {"ext4-4k", 2048, "extX", "The primary superblock is damaged: the backup superblock at byte 8388608 was used."},
    {"ext2-1k", 2048, "extX", "The primary superblock is damaged: the backup superblock at byte 8389632 was used."},
};

std::string wipedCopy(const Wiped& w, const test::ScratchDir& dir) {
    auto bytes = fileBytes(test::fixture(std::string(w.image) + ".img"));
    EXPECT_GT(bytes.size(), w.bytes);
    std::fill(bytes.begin(), bytes.begin() + static_cast<long>(w.bytes), 0);
    const std::string path = dir.file(std::string(w.image) + ".img");
    test::writeFile(path, bytes);
    return path;
}

TEST(BareVolumes, WithoutTheirFirstSectorTheyOpenFromTheBackupCopies) {
    for (const Wiped& w : kWiped) {
        SCOPED_TRACE(w.image);
        test::ScratchDir dir;
        const std::string path = wipedCopy(w, dir);
        expectManifest({path}, w.image);

        // The recognition names the file system; the scan says which copy it used.
        FileReadSeek reader;
        ASSERT_TRUE(reader.open(path));
        ScanRequest request;
        request.reader = &reader;
        request.volume.byteLength = static_cast<std::int64_t>(reader.totalSectors() * 512);
        request.volume.fileSystem = recogniseBareVolume(reader, request.volume.byteLength);
        EXPECT_EQ(toUtf8(request.volume.fileSystem), w.fileSystem);
        MemoryScanHost host;
        MemoryResultTree tree;
        ASSERT_TRUE(runScan(request, host, tree));
        const auto statuses = host.statuses();
        std::string all;
        for (const std::string& s : statuses) all += s + "\n";
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), w.status), statuses.end()) << all;
    }
}

TEST(BareVolumes, WithoutAnyCopyNothingIsRecognised) {
    test::ScratchDir dir;
    auto bytes = fileBytes(test::fixture("fat32-512.img"));
    std::fill(bytes.begin(), bytes.begin() + 7 * 512, 0);  // the boot sector and its copy
    test::writeFile(dir.file("fat32"), bytes);
    const auto r = test::runCli({"list", dir.file("fat32")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no file system recognised"), std::string::npos) << r.err;
}

// Volumes under 1 MiB are not refused: they are parsed over their exact length.
TEST(BareVolumes, SmallerThanOneMebibyte) {
    for (const char* image : {"ext2-200k", "fat12-shortnames"}) {
        SCOPED_TRACE(image);
        expectManifest({test::fixture(std::string(image) + ".img")}, image);
    }
}

// A GPT disk whose MBR only protects the GPT: its partitions are listed without --gpt, each with
// its real kind, and each lists and saves its files.
TEST(GptDisk, EveryPartitionListsAndSavesWithoutAskingForGpt) {
    const std::string disk = test::fixture("gpt-volumes.img");
    const auto p = test::runCli({"partitions", disk});
    ASSERT_EQ(p.status, 0) << p.err;
    const auto rows = test::lines(p.out);
    ASSERT_EQ(rows.size(), 4u) << p.out;
    const char* kinds[] = {"extX", "FAT32", "NTFS", "FAT64"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i]);
        EXPECT_EQ(rows[i].substr(0, rows[i].find('\t', 2)), std::to_string(i) + "\t" + kinds[i]);
        EXPECT_NE(rows[i].find("  MB\t"), std::string::npos);  // every size in the rows' own form
        expectManifest({disk, "--volume", std::to_string(i)}, "gpt-volumes");
    }
}

// The same disk with the first sector of every partition (and ext's primary superblock)
// wiped: each row is still recognised from its backup copy and opens from it.
TEST(GptDisk, PartitionsWithoutTheirFirstSectorStillListAndSave) {
    auto bytes = fileBytes(test::fixture("gpt-volumes.img"));
    const std::int64_t starts[] = {2048, 26624, 96256, 116736};
    for (std::int64_t s : starts) std::fill_n(bytes.begin() + s * 512, s == 2048 ? 2048 : 512, 0);
    test::ScratchDir dir;
    test::writeFile(dir.file("disk"), bytes);
    const auto p = test::runCli({"partitions", dir.file("disk")});
    ASSERT_EQ(p.status, 0) << p.err;
    ASSERT_EQ(p.out, test::runCli({"partitions", test::fixture("gpt-volumes.img")}).out);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        expectManifest({dir.file("disk"), "--volume", std::to_string(i)}, "gpt-volumes");
    }
}

// The boot-record scan over a disk whose volumes lost their first sectors: each backup copy
// stands for its volume, which starts where the volume did.
TEST(GptDisk, TheBootRecordScanPlacesVolumesFoundByTheirBackups) {
    auto bytes = fileBytes(test::fixture("gpt-volumes.img"));
    std::fill(bytes.begin(), bytes.begin() + 34 * 512, 0);  // the partition table too
    const std::int64_t starts[] = {26624, 96256, 116736};
    for (std::int64_t s : starts) std::fill_n(bytes.begin() + s * 512, 512, 0);
    test::ScratchDir dir;
    test::writeFile(dir.file("disk"), bytes);
    for (const bool skip : {true, false}) {
        SCOPED_TRACE(skip);
        FileReadSeek reader;
        ASSERT_TRUE(reader.open(dir.file("disk")));
        VolumeList list;
        Partition partition;
        MemoryScanHost host;
        partition.owner = &list;
        partition.statusLabel = &host;
        partition.skipVolumeSize = skip;
        EXPECT_EQ(partition.scanBootRecords(reader, reader.totalSectors()), 1);
        ASSERT_EQ(list.volumes.size(), 3u);
        const char* kinds[] = {"FAT32", "NTFS", "FAT64"};
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(toUtf8(list.volumes[i].fileSystem), kinds[i]);
            EXPECT_EQ(list.volumes[i].startSector, starts[i]);
        }
        int backups = 0;
        for (const std::string& s : host.statuses()) backups += s.find("backup boot sector") != std::string::npos;
        EXPECT_EQ(backups, 3);
    }
}

}  // namespace
}  // namespace corvello
