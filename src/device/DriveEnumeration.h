#pragma once
// The machine's physical drives and mounted volumes, as the first wizard page and
// `corvello-cli drives` list them.
//
// Physical drives are the whole disks of the kernel's block-device folder (sd, hd, vd, xvd,
// nvme, mmcblk, and loop devices that have a backing file), numbered in natural name order and
// labelled with their model name (vendor and model) or, without one, their device path.
// Volumes are the block-device file systems of the mount table: display name the mount point,
// locator the device, size from the file system.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/Bytes.h"
#include "common/VolumeRecord.h"

namespace corvello {

// Where the listing looks; tests point these at a prepared tree.
struct SystemRoots {
    std::string sysBlock = "/sys/block";
    std::string devices = "/dev";  // device nodes; mount sources "/dev/X" are looked up here
    std::string mountInfo = "/proc/self/mountinfo";
};

struct PhysicalDrive {
    int number = 0;          // position among the machine's whole disks, 0-based
    std::string name;        // kernel name ("sda")
    std::string devicePath;  // what the reader opens
    std::string label;       // model name, or the device path
    std::uint64_t sizeBytes = 0;
};

// What could not be listed, so that the page can say why.
struct ListingProblems {
    int unreadable = 0;        // present but could not be opened
    int permissionDenied = 0;  // of those, refused for lack of rights
    // Each device that could not be opened, with the system's reason.
    std::vector<std::pair<std::string, std::string>> reasons;
};

struct DriveListing {
    std::vector<PhysicalDrive> drives;
    ListingProblems problems;
};

struct VolumeListing {
    // In display order: descending mount point, as the first page inserts them.
    std::vector<VolumeRecord> volumes;
    ListingProblems problems;
};

// One line of the mount table.
struct MountEntry {
    unsigned major = 0, minor = 0;
    std::string root;        // the mounted subtree of the file system ("/" for the whole)
    std::string mountPoint;  // unescaped
    std::string fsType;
    std::string source;      // unescaped
};

// Parses /proc/self/mountinfo text; malformed lines are skipped; octal escapes (\040) undone.
std::vector<MountEntry> parseMountInfo(const std::string& text);

// Whether a kernel block-device name is a whole disk the listing takes (loop devices are
// checked for a backing file separately).
bool isWholeDiskName(const std::string& name);

// Natural order of kernel names: "sdb" < "sdaa", "loop2" < "loop10".
bool naturalNameLess(const std::string& a, const std::string& b);

DriveListing enumeratePhysicalDrives(const SystemRoots& roots = {});

// Names the file system of a volume whose first 4 KiB are given; empty when it cannot tell.
using VolumeRecogniser = std::function<std::u16string(ByteSpan firstBytes)>;
// The mounted volumes; each one's file system is the name recognise gives it from its first
// sectors (FUSE mounts, "fuseblk", and "vfat" say too little), else the mount's own type.
VolumeListing enumerateVolumes(const SystemRoots& roots = {}, const VolumeRecogniser& recognise = {});

// "%d  MB" of bytes / 1,048,576.
std::u16string volumeSizeText(std::uint64_t bytes);

}  // namespace corvello
