#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "common/Text.h"
#include "device/DriveEnumeration.h"
#include "scan/Volumes.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

namespace fs = std::filesystem;

void writeText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

// A kernel block-device folder, device nodes and a mount table, laid out under a scratch folder.
struct FakeSystem {
    test::ScratchDir dir;
    SystemRoots roots;

    FakeSystem() {
        roots.sysBlock = dir.file("sys/block");
        roots.devices = dir.file("dev");
        roots.mountInfo = dir.file("proc/mountinfo");
        fs::create_directories(roots.sysBlock);
        fs::create_directories(roots.devices);
    }

    // A whole disk of sectors sectors; model/vendor empty: no such attribute.
    void addDisk(const std::string& name, std::uint64_t sectors, const std::string& model = {},
                 const std::string& vendor = {}, bool withNode = true) {
        const std::string sys = roots.sysBlock + "/" + name;
        writeText(sys + "/size", std::to_string(sectors) + "\n");
        if (!model.empty()) writeText(sys + "/device/model", model + "   \n");
        if (!vendor.empty()) writeText(sys + "/device/vendor", vendor + "  \n");
        if (withNode) test::writeFile(roots.devices + "/" + name, std::vector<std::uint8_t>(512, 0));
    }
};

TEST(DriveEnumeration, WholeDiskNames) {
    struct Case {
        const char* name;
        bool whole;
    } cases[] = {
        {"sda", true},      {"sdab", true},       {"sda1", false},        {"nvme0n1", true},  {"nvme0n1p1", false},
        {"nvme0c0n1", false}, {"mmcblk0", true},  {"mmcblk0p1", false},   {"mmcblk0boot0", false},
        {"mmcblk0rpmb", false}, {"vda", true},    {"xvdb", true},         {"hdc", true},      {"loop3", true},
        {"zram0", false},   {"dm-0", false},      {"sr0", false},         {"md127", false},   {"loop", false},
    };
    for (const Case& c : cases) EXPECT_EQ(isWholeDiskName(c.name), c.whole) << c.name;
}

TEST(DriveEnumeration, NaturalNameOrder) {
    std::vector<std::string> names = {"sdaa", "loop10", "sdb", "nvme1n1", "loop2", "sda", "nvme0n1", "sdz"};
    std::sort(names.begin(), names.end(), naturalNameLess);
    EXPECT_EQ(names, (std::vector<std::string>{"loop2", "loop10", "nvme0n1", "nvme1n1", "sda", "sdb", "sdz", "sdaa"}));
}

TEST(DriveEnumeration, ParsesMountInfoWithEscapesAndOptionalFields) {
    const std::string text =
        "28 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
        "29 28 8:17 / /media/My\\040Stick rw,nosuid shared:5 master:2 - vfat /dev/sdb1 rw,fmask=0022\n"
        "garbage line without the separator\n"
        "30 28 0:21 / /proc rw - proc proc rw\n"
        "31 28 8:x / /bad rw - ext4 /dev/sdc1 rw\n"
        "32 28 8:2 /var/lib/data /srv rw - ext4 /dev/sda2 rw\n";
    const std::vector<MountEntry> entries = parseMountInfo(text);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].mountPoint, "/");
    EXPECT_EQ(entries[0].source, "/dev/vda");
    EXPECT_EQ(entries[0].major, 254u);
    EXPECT_EQ(entries[1].mountPoint, "/media/My Stick");
    EXPECT_EQ(entries[1].fsType, "vfat");
    EXPECT_EQ(entries[1].source, "/dev/sdb1");
    EXPECT_EQ(entries[1].minor, 17u);
    EXPECT_EQ(entries[2].fsType, "proc");
    EXPECT_EQ(entries[2].major, 0u);
    EXPECT_EQ(entries[3].root, "/var/lib/data");
}

TEST(DriveEnumeration, ListsOpenableWholeDisksWithTheirModelNames) {
    FakeSystem sys;
    sys.addDisk("sda", 1000215216, "Samsung SSD 870", "ATA");
    sys.addDisk("sdb", 30277632, "Cruzer Blade", "SanDisk");
    sys.addDisk("sdc", 0, "Card Reader");                           // an empty card slot
    sys.addDisk("sdd", 2048, "Gone", "", /*withNode=*/false);       // cannot be opened
    sys.addDisk("sde", 4096);                                       // no model: its path
    sys.addDisk("nvme0n1", 2000409264, "WDC WDS100T2B0C");
    sys.addDisk("sda1", 2048);                                      // a partition, not a disk
    sys.addDisk("loop0", 2048);                                     // loop device not in use
    sys.addDisk("loop1", 8192);
    writeText(sys.roots.sysBlock + "/loop1/loop/backing_file", "/srv/images/card.img\n");

    const DriveListing listing = enumeratePhysicalDrives(sys.roots);
    std::vector<std::string> labels;
    for (const PhysicalDrive& d : listing.drives) labels.push_back(d.label);
    EXPECT_EQ(labels, (std::vector<std::string>{sys.roots.devices + "/loop1  (/srv/images/card.img)",
                                                "WDC WDS100T2B0C", "Samsung SSD 870", "SanDisk Cruzer Blade",
                                                sys.roots.devices + "/sde"}));
    ASSERT_EQ(listing.drives.size(), 5u);
    // Numbers count every whole disk with media, opened or not: sdd keeps its place.
    EXPECT_EQ(listing.drives[0].number, 0);
    EXPECT_EQ(listing.drives[3].number, 3);
    EXPECT_EQ(listing.drives[4].number, 5);
    EXPECT_EQ(listing.drives[2].devicePath, sys.roots.devices + "/sda");
    EXPECT_EQ(listing.drives[2].sizeBytes, 1000215216ull * 512);
    EXPECT_EQ(listing.problems.unreadable, 1);
    EXPECT_EQ(listing.problems.permissionDenied, 0);
}

TEST(DriveEnumeration, ListsMountedBlockDeviceVolumesInDescendingOrder) {
    FakeSystem sys;
    // Three mounted volumes (the FAT one with a real boot sector), a bind mount of a subfolder, a
    // second mount of the same device, a pseudo file system and a volume whose device is gone.
    test::writeFile(sys.roots.devices + "/sdb1", std::vector<std::uint8_t>(4096, 0));
    test::writeFile(sys.roots.devices + "/sda2", std::vector<std::uint8_t>(4096, 0));
    {
        // The sample disk's first volume (FAT32 at sector 2048) as a bare device.
        std::ifstream in(test::fixture("sample-disk.img"), std::ios::binary);
        in.seekg(2048 * 512);
        std::vector<char> first(4096);
        in.read(first.data(), 4096);
        std::ofstream(sys.roots.devices + "/sdc1", std::ios::binary).write(first.data(), 4096);
    }
    for (const char* m : {"mnt/c", "mnt/d", "mnt/e", "mnt/bind"}) fs::create_directories(sys.dir.file(m));
    const std::string mnt = sys.dir.path() + "/mnt";
    writeText(sys.roots.mountInfo,
              "40 1 8:2 / " + mnt + "/d rw - ext4 /dev/sda2 rw\n"
              "41 1 8:17 / " + mnt + "/c rw - ext4 /dev/sdb1 rw\n"
              "42 1 8:33 / " + mnt + "/e rw - fuseblk /dev/sdc1 rw\n"
              "43 1 8:2 /home " + mnt + "/bind rw - ext4 /dev/sda2 rw\n"
              "44 1 8:2 / " + mnt + "/bind rw - ext4 /dev/sda2 rw\n"
              "45 1 0:21 / /proc rw - proc proc rw\n"
              "46 1 8:49 / " + mnt + "/gone rw - ext4 /dev/sdd1 rw\n");

    const VolumeListing listing = listMountedVolumes(sys.roots);
    ASSERT_EQ(listing.volumes.size(), 3u);
    EXPECT_EQ(toUtf8(listing.volumes[0].displayName), mnt + "/e");
    EXPECT_EQ(toUtf8(listing.volumes[1].displayName), mnt + "/d");
    EXPECT_EQ(toUtf8(listing.volumes[2].displayName), mnt + "/c");
    EXPECT_EQ(toUtf8(listing.volumes[0].locator), sys.roots.devices + "/sdc1");
    // The boot sector names the FUSE-mounted volume; the others keep the mount's type.
    EXPECT_EQ(toUtf8(listing.volumes[0].fileSystem), "FAT32");
    EXPECT_EQ(toUtf8(listing.volumes[1].fileSystem), "ext4");
    EXPECT_EQ(listing.volumes[1].startSector, 0);
    const std::string size = toUtf8(listing.volumes[1].sizeText);
    EXPECT_NE(size.find("  MB"), std::string::npos) << size;
    EXPECT_GT(listing.volumes[1].sizeBytes(), 0);
    EXPECT_EQ(listing.problems.unreadable, 1);
    // Without a recogniser every volume keeps its mount's type.
    EXPECT_EQ(toUtf8(enumerateVolumes(sys.roots).volumes[0].fileSystem), "fuseblk");
}

TEST(DriveEnumeration, SizeTextOfLargeVolume) {
    EXPECT_EQ(toUtf8(volumeSizeText(2ull << 40)), "2097152  MB");
    EXPECT_EQ(toUtf8(volumeSizeText(1048575)), "0  MB");
}

TEST(DriveEnumeration, ThisMachine) {
    // Whatever this machine holds: every whole disk under /sys/block with sectors (and, for a
    // loop device, a backing file) is either listed as a drive that opens, or named as one that
    // could not be opened; the rows of `drives` have their documented form.
    std::vector<std::string> disks;
    for (const auto& e : fs::directory_iterator("/sys/block")) {
        const std::string name = e.path().filename().string();
        if (!isWholeDiskName(name)) continue;
        std::ifstream size(e.path() / "size");
        unsigned long long sectors = 0;
        if (!(size >> sectors) || sectors == 0) continue;
        if (name.rfind("loop", 0) == 0) {
            std::ifstream backing(e.path() / "loop" / "backing_file");
            std::string file;
            if (!std::getline(backing, file) || file.empty()) continue;
        }
        disks.push_back(name);
    }
    const DriveListing drives = enumeratePhysicalDrives();
    EXPECT_EQ(drives.drives.size() + static_cast<std::size_t>(drives.problems.unreadable), disks.size());
    EXPECT_EQ(drives.problems.reasons.size(), static_cast<std::size_t>(drives.problems.unreadable));
    for (const PhysicalDrive& d : drives.drives) {
        EXPECT_NE(std::find(disks.begin(), disks.end(), d.name), disks.end()) << d.name;
        EXPECT_EQ(d.devicePath, "/dev/" + d.name);
        EXPECT_FALSE(d.label.empty());
    }
    const VolumeListing volumes = enumerateVolumes();
    for (const VolumeRecord& v : volumes.volumes) {
        EXPECT_EQ(toUtf8(v.locator).rfind("/dev/", 0), 0u) << toUtf8(v.locator);
        EXPECT_TRUE(fs::is_directory(toUtf8(v.displayName))) << toUtf8(v.displayName);
    }
    const auto r = test::runCli({"drives"});
    // A device that could not be opened leaves the listing incomplete, and the status says so.
    const bool whole = drives.problems.reasons.empty() && volumes.problems.reasons.empty();
    EXPECT_EQ(r.status, whole ? cli::kExitOk : cli::kExitInput) << r.err;
    std::size_t driveRows = 0;
    for (const std::string& line : test::lines(r.out)) {
        const auto fields = std::count(line.begin(), line.end(), '\t');
        if (line.rfind("drive\t", 0) == 0) {
            EXPECT_EQ(fields, 3) << line;
            ++driveRows;
        } else {
            EXPECT_EQ(line.rfind("volume\t", 0), 0u) << line;
            EXPECT_EQ(fields, 4) << line;
        }
    }
    EXPECT_EQ(driveRows, drives.drives.size());
    for (const auto& [device, reason] : drives.problems.reasons)
        EXPECT_NE(r.err.find("cannot open " + device + ": " + reason + ".\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace corvello

namespace corvello {
namespace {

TEST(CliDrives, PrintsOneTabSeparatedLinePerDriveAndVolume) {
    // Whatever this machine holds (loop devices come and go): drives first, then volumes, each
    // line with its fields.
    const test::CliResult result = test::runCli({"drives"});
    EXPECT_EQ(result.status, result.err.find("cannot open") == std::string::npos ? cli::kExitOk : cli::kExitInput)
        << result.err;
    bool volumesStarted = false;
    for (const std::string& line : test::lines(result.out)) {
        const std::size_t fields = static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t')) + 1;
        if (line.rfind("drive\t", 0) == 0) {
            EXPECT_FALSE(volumesStarted) << line;
            EXPECT_EQ(fields, 4u) << line;
        } else {
            volumesStarted = true;
            EXPECT_EQ(line.rfind("volume\t", 0), 0u) << line;
            EXPECT_EQ(fields, 5u) << line;
            EXPECT_NE(line.find("  MB"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(test::runCli({"drives", "extra"}).status, 2);
}

}  // namespace
}  // namespace corvello
