#include "cli/Cli.h"

#include <functional>
#include <ostream>

#include "cli/CliSupport.h"
#include "cli/Commands.h"

namespace corvello::cli {

namespace {

struct Command {
    const char* name;
    int (*run)(const CommandArgs&, std::ostream&, std::ostream&);
};

const Command kCommands[] = {
    {"partitions", cmdPartitions},
    {"list", cmdList},
    {"save", cmdSave},
    {"cat", cmdCat},
    {"carve", cmdCarve},
    {"drives", cmdDrives},
    {"mft-copies", cmdMftCopies},
    {"fat-tables", cmdFatTables},
};

const char kUsage[] =
    "usage: corvello-cli COMMAND IMAGE [options]\n"
    "\n"
    "  drives\n      the machine's physical drives and mounted volumes\n"
    "  partitions IMAGE [--gpt] [--advanced [--start N] [--end N] [--no-skip]]\n"
    "      the volumes of a disk: VOLUME, FILE_SYSTEM, VOLUME_SIZE, START_SECTOR\n"
    "  list IMAGE [--volume N [--gpt] | --start SECTOR --fs NAME] [--fs NAME] [--mode standard|advanced|deep] [--long]\n"
    "       [--format tsv|csv|json|dfxml|body]\n"
    "      every entry of the volume: KIND, STATE, SIZE, PATH; --long adds DATA before PATH: whether a deleted\n"
    "      file's data are still there (intact, partly overwritten (N%), overwritten, unknown; - when live)\n"
    "      --format csv (with a header), json (one object a line), dfxml or body (a timeline bodyfile) writes\n"
    "      the entries with their times in UTC\n"
    "  save IMAGE [volume options] --out DIR [--path FOLDER] [--intact-only]\n"
    "      writes the files below FOLDER (default: everything) into DIR; --intact-only leaves out the deleted\n"
    "      files whose data are not all there\n"
    "  cat IMAGE [volume options] PATH\n"
    "      writes the bytes of the file at PATH (as list prints it) to standard output\n"
    "  carve IMAGE [--volume N [--gpt] | --start SECTOR] [--settings FILE] [--no-defaults] --out DIR\n"
    "      finds files by their signatures and writes them into DIR, one folder per category\n"
    "  mft-copies IMAGE [volume options] [--max N]\n"
    "      the MFT copies of an NTFS volume, for list/save --mode advanced --copy K [--sectors-per-cluster N]\n"
    "  fat-tables IMAGE [volume options] [--max N]\n"
    "      the FAT tables (and exFAT cluster heaps) the advanced mode can choose from\n"
    "\n"
    "IMAGE is a disk image, a volume image or a device; it is only ever read.\n"
    "Progress is drawn on stderr when it is a terminal; --quiet leaves it out.\n"
    "Exit status: 0 done, 1 the input cannot be read or the output cannot be written, 2 usage error,\n"
    "3 every file was written but some are incomplete (the unreadable bytes are zeros).\n";

}  // namespace

int runCli(const std::vector<std::string>& givenArgs, std::ostream& out, std::ostream& err) {
    // --quiet may stand anywhere: it silences the progress line of every command.
    std::vector<std::string> args;
    bool quiet = false;
    for (const std::string& a : givenArgs) {
        if (a == "--quiet" || a == "-q")
            quiet = true;
        else
            args.push_back(a);
    }
    setQuiet(quiet);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        (args.empty() ? err : out) << kUsage;
        return args.empty() ? kExitUsage : kExitOk;
    }
    for (const Command& command : kCommands) {
        if (args[0] != command.name) continue;
        try {
            return command.run(CommandArgs(args.begin() + 1, args.end()), out, err);
        } catch (const UsageError& e) {
            err << "corvello-cli " << command.name << ": " << e.message << "\n";
            return kExitUsage;
        } catch (const InputError& e) {
            err << "corvello-cli " << command.name << ": " << e.message << "\n";
            return kExitInput;
        }
    }
    err << "corvello-cli: unknown command \"" << args[0] << "\".\n" << kUsage;
    return kExitUsage;
}

}  // namespace corvello::cli
