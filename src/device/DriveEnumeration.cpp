#include "device/DriveEnumeration.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "platform/RawFile.h"
#include "platform/SystemInfo.h"

namespace corvello {

namespace {

std::string trimmedAscii(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string readAttribute(const std::string& path) {
    std::string text;
    if (!platform::readTextFile(path, text, 4096)) return {};
    return trimmedAscii(text);
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

bool allDigits(const std::string& s, std::size_t from) {
    if (from >= s.size()) return false;
    return std::all_of(s.begin() + static_cast<std::ptrdiff_t>(from), s.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

bool allLower(const std::string& s, std::size_t from) {
    if (from >= s.size()) return false;
    return std::all_of(s.begin() + static_cast<std::ptrdiff_t>(from), s.end(),
                       [](char c) { return c >= 'a' && c <= 'z'; });
}

// "\040" and the like, as the kernel escapes blanks, tabs, new lines and backslashes.
std::string unescapeOctal(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            const char a = s[i + 1], b = s[i + 2], c = s[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

std::string deviceNodePath(const SystemRoots& roots, const std::string& name) { return roots.devices + "/" + name; }

// The model name the drive reports: vendor and model, or the MMC card name.
std::string modelName(const SystemRoots& roots, const std::string& name) {
    const std::string device = roots.sysBlock + "/" + name + "/device/";
    std::string model = readAttribute(device + "model");
    if (model.empty()) model = readAttribute(device + "name");
    if (model.empty()) return {};
    const std::string vendor = readAttribute(device + "vendor");
    // NVMe and virtio devices have no vendor text; ATA disks report "ATA", which says nothing.
    if (!vendor.empty() && vendor != "ATA" && model.rfind(vendor, 0) != 0) model = vendor + " " + model;
    return model;
}

}  // namespace

bool naturalNameLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            std::string na = a.substr(i, ie - i), nb = b.substr(j, je - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ie;
            j = je;
            continue;
        }
        if (!da && !db) {
            // Runs of letters: the shorter run first ("sdb" before "sdaa"), then alphabetical.
            std::size_t ie = i, je = j;
            while (ie < a.size() && !std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && !std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            const std::string wa = a.substr(i, ie - i), wb = b.substr(j, je - j);
            if (wa != wb) {
                // A common prefix of letters ("sd") compares by the remaining suffix length.
                std::size_t p = 0;
                while (p < wa.size() && p < wb.size() && wa[p] == wb[p]) ++p;
                if (p > 0 && wa.size() != wb.size() && p < wa.size() && p < wb.size())
                    return wa.size() < wb.size();
                return wa < wb;
            }
            i = ie;
            j = je;
            continue;
        }
        return da;  // digits before letters
    }
    return a.size() - i < b.size() - j;
}

bool isWholeDiskName(const std::string& name) {
    if (startsWith(name, "nvme")) {
        // nvme<ctrl>n<ns>: the namespace is the disk; nvme<c>c<..> paths are not.
        const std::size_t n = name.find('n', 4);
        return n != std::string::npos && allDigits(name.substr(4, n - 4), 0) && allDigits(name, n + 1);
    }
    if (startsWith(name, "mmcblk")) return allDigits(name, 6);  // not mmcblk0boot0 or mmcblk0rpmb
    if (startsWith(name, "loop")) return allDigits(name, 4);
    for (const char* prefix : {"sd", "hd", "vd", "xvd"}) {
        const std::string p = prefix;
        if (startsWith(name, p)) return allLower(name, p.size());
    }
    return false;
}

std::vector<MountEntry> parseMountInfo(const std::string& text) {
    std::vector<MountEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        std::string word;
        while (fields >> word) f.push_back(word);
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const auto dash = std::find(f.begin(), f.end(), "-");
        if (f.size() < 6 || dash == f.end() || dash - f.begin() < 6 || f.end() - dash < 3) continue;
        MountEntry e;
        const std::string& dev = f[2];
        const std::size_t colon = dev.find(':');
        if (colon == std::string::npos || !allDigits(dev.substr(0, colon), 0) || !allDigits(dev, colon + 1)) continue;
        try {
            e.major = static_cast<unsigned>(std::stoul(dev.substr(0, colon)));
            e.minor = static_cast<unsigned>(std::stoul(dev.substr(colon + 1)));
        } catch (...) {
            continue;
        }
        e.root = unescapeOctal(f[3]);
        e.mountPoint = unescapeOctal(f[4]);
        e.fsType = *(dash + 1);
        e.source = unescapeOctal(*(dash + 2));
        entries.push_back(std::move(e));
    }
    return entries;
}

std::u16string volumeSizeText(std::uint64_t bytes) {
    return fromUtf8(format("%lld  MB", static_cast<long long>(bytes / 1048576)));
}

DriveListing enumeratePhysicalDrives(const SystemRoots& roots) {
    std::vector<std::string> names = platform::listDirectory(roots.sysBlock);
    names.erase(std::remove_if(names.begin(), names.end(), [](const std::string& n) { return !isWholeDiskName(n); }),
                names.end());
    std::sort(names.begin(), names.end(), naturalNameLess);

    DriveListing listing;
    int number = 0;
    for (const std::string& name : names) {
        const std::string sys = roots.sysBlock + "/" + name;
        std::string backing;
        if (startsWith(name, "loop")) {
            backing = readAttribute(sys + "/loop/backing_file");
            if (backing.empty()) continue;  // an unused loop device
        }
        // A reader slot without a card, or an empty tray, has no sectors.
        const std::string sectors = readAttribute(sys + "/size");
        std::uint64_t count = 0;
        if (allDigits(sectors, 0) && sectors.size() < 20) count = std::stoull(sectors);
        if (count == 0) continue;

        PhysicalDrive drive;
        drive.number = number++;
        drive.name = name;
        drive.devicePath = deviceNodePath(roots, name);
        drive.sizeBytes = count * 512;
        const int error = platform::probeRead(drive.devicePath);
        if (error != 0) {
            ++listing.problems.unreadable;
            if (platform::isPermissionError(error)) ++listing.problems.permissionDenied;
            listing.problems.reasons.emplace_back(drive.devicePath, platform::errorText(error));
            continue;
        }
        drive.label = modelName(roots, name);
        if (drive.label.empty()) drive.label = drive.devicePath;
        if (!backing.empty()) drive.label += "  (" + backing + ")";
        listing.drives.push_back(std::move(drive));
    }
    return listing;
}

VolumeListing enumerateVolumes(const SystemRoots& roots, const VolumeRecogniser& recognise) {
    std::string text;
    VolumeListing listing;
    if (!platform::readTextFile(roots.mountInfo, text)) return listing;

    std::set<std::string> seenDevices;
    std::vector<VolumeRecord> volumes;
    for (const MountEntry& m : parseMountInfo(text)) {
        // Block-device file systems only, each device once, mounted whole (not a bind mount of
        // a subfolder).
        if (m.major == 0 || !startsWith(m.source, "/dev/") || m.root != "/") continue;
        const std::string device = roots.devices + m.source.substr(4);
        if (!seenDevices.insert(device).second) continue;

        std::vector<std::uint8_t> first(4096);
        const int error = platform::probeRead(device, &first);
        if (error != 0) {
            ++listing.problems.unreadable;
            if (platform::isPermissionError(error)) ++listing.problems.permissionDenied;
            listing.problems.reasons.emplace_back(device, platform::errorText(error));
            continue;
        }
        std::uint64_t total = 0;
        if (!platform::fileSystemTotalBytes(m.mountPoint, total)) continue;

        VolumeRecord record;
        // The name the parsers go by when the volume's first sectors tell it.
        if (recognise) record.setFileSystem(recognise(ByteSpan(first)));
        if (record.fileSystem.empty()) record.fileSystem = fromUtf8(m.fsType);
        record.displayName = fromUtf8(m.mountPoint);
        record.locator = fromUtf8(device);
        record.sizeText = volumeSizeText(total);
        record.startSector = 0;
        volumes.push_back(std::move(record));
    }
    std::stable_sort(volumes.begin(), volumes.end(), [](const VolumeRecord& a, const VolumeRecord& b) {
        return a.displayName > b.displayName;
    });
    listing.volumes = std::move(volumes);
    return listing;
}

}  // namespace corvello
