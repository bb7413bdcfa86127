#include "cli/Cli.h"

#include <algorithm>
#include <functional>
#include <ostream>

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Unlocking.h"
#include "common/Text.h"
#include "platform/ProgramPath.h"

namespace corvello::cli {

namespace {

struct Option {
    const char* name;  // as typed, with its value ("--volume N")
    const char* text;  // one line
};

struct Command {
    const char* name;
    int (*run)(const CommandArgs&, std::ostream&, std::ostream&);
    const char* synopsis;  // after "corvello-cli NAME"
    const char* summary;
    std::vector<Option> options;
    const char* example;
};

// How an encrypted volume (BitLocker, LUKS) is unlocked; without either, a locked volume asks
// for its password on the terminal.
const std::vector<Option> unlockOptions = {
    {"--password-file FILE", "an encrypted volume's password, passphrase or BitLocker recovery password: the file's first line"},
    {"--key-file FILE", "an encrypted volume's key file: a BitLocker startup key (.BEK) or a LUKS key file"},
};

// The volume options of the commands that parse a file system (list, save, mft-copies, fat-tables).
std::vector<Option> volumeOptions(std::vector<Option> more = {}) {
    std::vector<Option> options = {
        {"--volume N", "the volume in row N of `corvello-cli partitions IMAGE`"},
        {"--gpt", "with --volume: number the rows as `partitions IMAGE --gpt` does (GPT disks)"},
        {"--start SECTOR", "the volume that starts at this sector (512-byte sectors); needs --fs"},
        {"--fs NAME", "treat the volume as ntfs, fat12, fat16, fat32, fat64 (exFAT), extX or HFS+"},
        {"--mode MODE", "standard (default), advanced (an MFT copy or FAT table of your choice) or deep (NTFS)"},
        {"--copy K", "with --mode advanced on NTFS: the MFT copy K that `mft-copies` lists"},
        {"--fat K", "with --mode advanced on FAT/exFAT: the FAT table K that `fat-tables` lists"},
        {"--heap K", "with --mode advanced on exFAT: the cluster heap K that `fat-tables` lists"},
        {"--sectors-per-cluster N", "with --mode advanced: the cluster size in sectors (1 to 65536)"},
        {"--max N", "with --mode advanced: search for at most N copies or tables"},
        {"--formatted", "FAT and exFAT: read files as contiguous runs (for a drive that was formatted)"},
        {"--codepage N", "FAT short names: their OEM code page (437 by default; 850, 852, 866 and the like)"},
    };
    options.insert(options.end(), unlockOptions.begin(), unlockOptions.end());
    options.insert(options.end(), more.begin(), more.end());
    return options;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"drives", cmdDrives, "",
         "Lists the machine's physical drives and mounted volumes, one tab-separated line each.",
         {},
         "corvello-cli drives"},
        {"partitions", cmdPartitions, "IMAGE [options]",
         "Lists the volumes of a disk: VOLUME, FILE_SYSTEM, VOLUME_SIZE, START_SECTOR, tab-separated; "
         "a BitLocker or LUKS volume adds STATE (locked, or unlocked and its file system).",
         {{"--gpt", "read the GPT partition table instead of the MBR"},
          {"--advanced", "scan the disk for boot records instead of trusting the partition table"},
          {"--start N", "with --advanced: the first sector to scan (default 0)"},
          {"--end N", "with --advanced: the last sector to scan (default: the end of the disk)"},
          {"--no-skip", "with --advanced: do not jump over the volumes already found"},
          {"--password-file FILE", "try this password on the encrypted volumes (the STATE column)"},
          {"--key-file FILE", "try this key file on the encrypted volumes (the STATE column)"}},
         "corvello-cli partitions disk.img"},
        {"list", cmdList, "IMAGE [volume options]",
         "Lists every entry of a volume: KIND (d or f), STATE (live or deleted), SIZE, PATH, tab-separated.",
         volumeOptions({{"--long", "add DATA before PATH: whether a deleted file's data are still there (intact, "
                                   "partly overwritten (N%), overwritten, unknown; - when live)"},
                        {"--format FORMAT", "tsv (default), csv (with a header), json (one object a line), dfxml or "
                                            "body (a bodyfile for mactime), with the times in UTC"}}),
         "corvello-cli list disk.img --volume 0"},
        {"save", cmdSave, "IMAGE [volume options] --out DIR [--path FOLDER]",
         "Recovers the files of a volume, with their folders and times, into DIR (never over an existing file).",
         volumeOptions({{"--out DIR", "the folder the files are written into (required)"},
                        {"--path FOLDER", "only the files below this folder of the volume (default: all of them)"},
                        {"--allow-same-device", "write even when DIR lies on the device being recovered"},
                        {"--intact-only", "leave out the deleted files whose data are not all there"}}),
         "corvello-cli save disk.img --volume 0 --path Photos --out ~/recovered"},
        {"cat", cmdCat, "IMAGE [volume options] PATH",
         "Writes the bytes of one file (its PATH as list prints it) to standard output, as save would write them.",
         volumeOptions(),
         "corvello-cli cat disk.img --volume 0 Photos/beach.jpg > beach.jpg"},
        {"mount", cmdMount, "IMAGE [volume options] MOUNTPOINT",
         "Shows the volume's files as a read-only folder at MOUNTPOINT (FUSE), deleted ones under \"[deleted]\", "
         "until fusermount3 -u MOUNTPOINT or Ctrl-C.",
         volumeOptions(),
         "corvello-cli mount disk.img --volume 0 ~/volume"},
        {"carve", cmdCarve, "IMAGE [--volume N [--gpt] | --start SECTOR] --out DIR",
         "Finds files by their byte signatures and writes them into DIR, one folder per category.",
         {{"--volume N", "carve only the volume in row N of `corvello-cli partitions IMAGE`"},
          {"--gpt", "with --volume: number the rows as `partitions IMAGE --gpt` does"},
          {"--start SECTOR", "carve from this sector to the end of the image"},
          {"--settings FILE", "signature definitions of your own, besides the default set"},
          {"--no-defaults", "with --settings: leave out the default set FileSetting.txt"},
          {"--out DIR", "the folder the files are written into (required)"},
          {"--allow-same-device", "write even when DIR lies on the device being recovered"}},
         "corvello-cli carve /dev/sdb --volume 1 --out ~/carved"},
        {"image", cmdImage, "IMAGE [volume options] --out FILE",
         "Writes the bytes of one volume, unlocked where it is encrypted, into a new raw image FILE.",
         {{"--volume N", "the volume in row N of `corvello-cli partitions IMAGE`"},
          {"--gpt", "with --volume: number the rows as `partitions IMAGE --gpt` does"},
          {"--start SECTOR", "the volume that starts at this sector; needs --fs"},
          {"--fs NAME", "the file system of the volume at --start"},
          unlockOptions[0], unlockOptions[1],
          {"--out FILE", "the new image file (required; an existing file is never overwritten)"},
          {"--allow-same-device", "write even when FILE lies on the device being read"}},
         "corvello-cli image stick.img --password-file pw.txt --out unlocked.img"},
        {"mft-copies", cmdMftCopies, "IMAGE [volume options]",
         "Searches an NTFS volume for copies of its MFT, for list/save --mode advanced --copy K.",
         {{"--volume N", "the volume in row N of `corvello-cli partitions IMAGE`"},
          {"--gpt", "with --volume: number the rows as `partitions IMAGE --gpt` does"},
          {"--start SECTOR", "the volume that starts at this sector; needs --fs ntfs"},
          {"--fs NAME", "treat the volume as NAME (ntfs)"},
          {"--max N", "list at most N copies (default 3)"}},
         "corvello-cli mft-copies disk.img --volume 0 --max 5"},
        {"fat-tables", cmdFatTables, "IMAGE [volume options]",
         "Searches a FAT or exFAT volume for FAT tables (and exFAT cluster heaps) for --mode advanced.",
         {{"--volume N", "the volume in row N of `corvello-cli partitions IMAGE`"},
          {"--gpt", "with --volume: number the rows as `partitions IMAGE --gpt` does"},
          {"--start SECTOR", "the volume that starts at this sector; needs --fs"},
          {"--fs NAME", "treat the volume as fat12, fat16, fat32 or fat64 (exFAT)"},
          {"--max N", "list at most N tables"},
          {"--formatted", "the drive was formatted: read files as contiguous runs"}},
         "corvello-cli fat-tables stick.img --fs fat32 --start 2048"},
    };
    return table;
}

const char kCommon[] =
    "IMAGE is a disk image, a volume image or a device such as /dev/sdb (reading a device needs root:\n"
    "run corvello-cli with sudo). It is only ever opened for reading.\n"
    "Every command also takes --quiet (-q): no progress line on stderr; and --help (-h).\n"
    "Exit status: 0 done, 1 the input cannot be read or the output cannot be written, 2 usage error,\n"
    "3 every file was written but some are incomplete (the unreadable bytes are zeros),\n"
    "4 the password or key given does not unlock the encrypted volume.\n";

void printOptions(std::ostream& out, const std::vector<Option>& options) {
    std::size_t width = 0;
    for (const Option& o : options) width = std::max(width, std::string(o.name).size());
    for (const Option& o : options) {
        const std::string name = o.name;
        out << "  " << name << std::string(width - name.size() + 2, ' ') << o.text << '\n';
    }
}

void printUsage(std::ostream& out) {
    out << "usage: corvello-cli COMMAND [IMAGE] [options]\n"
           "       corvello-cli [COMMAND] --help\n"
           "       corvello-cli --version\n\n"
           "Corvello recovers files from disks, memory cards, USB sticks and disk images.\n\n"
           "Commands:\n";
    for (const Command& c : commands()) out << "  " << c.name << std::string(12 - std::string(c.name).size(), ' ') << c.summary << '\n';
    out << "\n" << kCommon << "\nExamples:\n";
    for (const Command& c : commands()) out << "  " << c.example << '\n';
    out << "\n`corvello-cli COMMAND --help` lists the options of a command; `man corvello-cli` tells more.\n";
}

void printCommandHelp(std::ostream& out, const Command& c) {
    out << "usage: corvello-cli " << c.name << (c.synopsis[0] != '\0' ? " " : "") << c.synopsis << "\n\n"
        << c.summary << "\n\n";
    if (!c.options.empty()) {
        out << "Options:\n";
        printOptions(out, c.options);
        out << '\n';
    }
    out << "Example:\n  " << c.example << "\n\n" << kCommon;
}

bool isHelp(const std::string& a) { return a == "--help" || a == "-h"; }

}  // namespace

std::vector<std::string> commandNames() {
    std::vector<std::string> names;
    for (const Command& c : commands()) names.emplace_back(c.name);
    return names;
}

std::vector<std::string> documentedOptions(const std::string& command) {
    std::vector<std::string> names;
    for (const Command& c : commands()) {
        if (command != c.name) continue;
        for (const Option& o : c.options) {
            const std::string text = o.name;
            names.push_back(text.substr(0, text.find(' ')));
        }
    }
    return names;
}

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
    if (args.empty()) {
        printUsage(err);
        return kExitUsage;
    }
    if (isHelp(args[0]) || (args[0] == "help" && args.size() == 1)) {
        printUsage(out);
        return kExitOk;
    }
    if (args[0] == "--version" || args[0] == "-V") {
        out << "corvello-cli " << platform::programVersion() << '\n';
        return kExitOk;
    }
    // "help COMMAND" is "COMMAND --help".
    const bool helpWord = args[0] == "help";
    const std::string name = helpWord ? args[1] : args[0];
    for (const Command& command : commands()) {
        if (name != command.name) continue;
        if (helpWord || std::any_of(args.begin() + 1, args.end(), isHelp)) {
            printCommandHelp(out, command);
            return kExitOk;
        }
        try {
            return command.run(CommandArgs(args.begin() + 1, args.end()), out, err);
        } catch (const UsageError& e) {
            err << "corvello-cli " << command.name << ": " << terminalSafe(e.message) << "\n";
            return kExitUsage;
        } catch (const InputError& e) {
            err << "corvello-cli " << command.name << ": " << terminalSafe(e.message) << "\n";
            return kExitInput;
        } catch (const WrongKey& e) {
            err << "corvello-cli " << command.name << ": " << terminalSafe(e.message) << "\n";
            return kExitWrongKey;
        } catch (const Interrupted& e) {
            err << "corvello-cli " << command.name << ": " << terminalSafe(e.message) << "\n";
            return kExitInterrupted;
        }
    }
    err << "corvello-cli: unknown command \"" << terminalSafe(name) << "\".\n";
    printUsage(err);
    return kExitUsage;
}

}  // namespace corvello::cli
