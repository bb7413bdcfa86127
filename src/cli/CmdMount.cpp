// corvello-cli mount: the scanned volume as a read-only folder tree (FUSE), until unmounted.

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/ScannedVolume.h"
#include "common/Text.h"
#include "platform/ReadOnlyTree.h"
#include "scan/MountTree.h"
#include "scan/SaveWalk.h"

namespace corvello::cli {

namespace {

struct Ready {
    std::ostream& err;
    std::string text;
};

void announce(void* context) {
    auto* ready = static_cast<Ready*>(context);
    ready->err << ready->text << std::flush;
}

}  // namespace

int cmdMount(const CommandArgs& argv, std::ostream& /*out*/, std::ostream& err) {
    const Args args(argv, kVolumeOptions, kVolumeFlags);
    if (args.positionals().size() != 2) throw UsageError{"give the IMAGE and the MOUNTPOINT."};
    const std::string mountPoint = args.positionals()[1];
    ScannedVolume v(err);
    scanVolume(v, args, 2);
    MountTree tree(*v.session, topLevelRecords(*v.session, v.tree));
    Ready ready{err, "corvello-cli mount: " + std::to_string(tree.files()) + " file(s) of " +
                         terminalSafe(args.positionals()[0]) + " read-only at " + terminalSafe(mountPoint) + " (" +
                         std::to_string(tree.deletedFiles()) + " deleted, under \"" + tree.deletedFolder() +
                         "\"); end with fusermount3 -u " + terminalSafe(mountPoint) + " or Ctrl-C.\n"};
    const std::string error = platform::serveReadOnly(tree, mountPoint, "corvello:" + args.positionals()[0], announce, &ready);
    if (!error.empty()) throw InputError{error + "."};
    return kExitOk;
}

}  // namespace corvello::cli
