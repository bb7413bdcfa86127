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
    // Labels, mount points and file-system names come from the system and the media: each field
    // is made safe for the terminal and keeps no tab of its own.
    for (const PhysicalDrive& d : drives.drives)
        out << "drive\t" << d.number << '\t' << fieldSafe(d.devicePath) << '\t' << fieldSafe(d.label) << '\n';
    for (const VolumeRecord& v : volumes.volumes)
        out << "volume\t" << fieldSafe(toUtf8(v.displayName)) << '\t' << fieldSafe(toUtf8(v.locator)) << '\t'
            << fieldSafe(toUtf8(v.fileSystem)) << '\t' << fieldSafe(toUtf8(v.sizeText)) << '\n';

    // Each device that could not be opened, with the system's own reason: the listing is not
    // whole, and the exit status says so.
    std::set<std::string> told;
    for (const ListingProblems* problems : {&drives.problems, &volumes.problems})
        for (const auto& [device, reason] : problems->reasons)
            if (told.insert(device).second)
                err << "corvello-cli drives: cannot open " << terminalSafe(device) << ": " << terminalSafe(reason) << ".\n";
    if (drives.problems.permissionDenied + volumes.problems.permissionDenied > 0 && !platform::isAdministrator())
        err << "corvello-cli drives: reading disks needs root rights; run `sudo corvello-cli drives` to list them.\n";
    return told.empty() ? kExitOk : kExitInput;
}

}  // namespace corvello::cli
