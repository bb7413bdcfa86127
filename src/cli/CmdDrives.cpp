#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/Text.h"
#include "device/DriveEnumeration.h"
#include "platform/SystemInfo.h"
#include "scan/Volumes.h"

#include <set>

namespace corvello::cli {

// The machine's physical drives and mounted volumes, one line each, tab-separated:
//   drive   NUMBER  DEVICE  LABEL
//   volume  MOUNT_POINT  DEVICE  FILE_SYSTEM  SIZE
int cmdDrives(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    const Args args(argv, {}, {});
    if (!args.positionals().empty()) throw UsageError{"takes no arguments."};

    const DriveListing drives = enumeratePhysicalDrives();
    const VolumeListing volumes = listMountedVolumes();
    for (const PhysicalDrive& d : drives.drives)
        out << "drive\t" << d.number << '\t' << d.devicePath << '\t' << d.label << '\n';
    for (const VolumeRecord& v : volumes.volumes)
        out << "volume\t" << toUtf8(v.displayName) << '\t' << toUtf8(v.locator) << '\t' << toUtf8(v.fileSystem) << '\t'
            << toUtf8(v.sizeText) << '\n';

    // Each device that could not be opened, with the system's own reason.
    std::set<std::string> told;
    for (const ListingProblems* problems : {&drives.problems, &volumes.problems})
        for (const auto& [device, reason] : problems->reasons)
            if (told.insert(device).second) err << "corvello-cli drives: cannot open " << device << ": " << reason << ".\n";
    if (drives.problems.permissionDenied + volumes.problems.permissionDenied > 0 && !platform::isAdministrator())
        err << "corvello-cli drives: reading disks needs root rights; run `sudo corvello-cli drives` to list them.\n";
    return kExitOk;
}

}  // namespace corvello::cli
