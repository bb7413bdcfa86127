#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Unlocking.h"
#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "scan/Volumes.h"

namespace corvello::cli {

int cmdPartitions(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    const Args args(argv, {"--start", "--end", "--password-file", "--key-file"}, {"--gpt", "--advanced", "--no-skip"});
    if (args.positionals().size() != 1) throw UsageError{"give exactly one IMAGE."};
    if (!args.has("--advanced") && (args.has("--start") || args.has("--end") || args.has("--no-skip")))
        throw UsageError{"--start, --end and --no-skip belong to --advanced."};

    ConsoleHost host(err, args.has("--advanced"));
    OpenedImage image;
    openImage(args.positionals()[0], image, host);

    VolumeList list;
    int status = 0;
    if (args.has("--advanced")) {
        BootScanRange range;
        range.start = args.number("--start").value_or(0);
        range.end = args.number("--end").value_or(0);
        if (range.end > 0 && range.end < range.start) throw UsageError{"--end lies before --start."};
        const auto sectors = static_cast<std::int64_t>(image.reader->totalSectors());
        if (range.start < 0 || range.start >= sectors)
            throw UsageError{format("sector %lld lies outside %s, which has %lld sectors.",
                                    static_cast<long long>(range.start), image.path.c_str(),
                                    static_cast<long long>(sectors))};
        range.skipVolumeSize = !args.has("--no-skip");
        status = scanBootRecords(*image.reader, list, host, range);
        status = status == 1 ? 0 : status;
    } else {
        status = readVolumeTables(*image.reader, args.has("--gpt"), list.volumes, &host);
    }
    host.finishLine();

    // An encrypted volume's row tells whether it opens: with the secret given, or with none
    // (a BitLocker key stored in the clear).
    const UnlockSecret secret = secretFromOptions(args);
    for (const VolumeRecord& v : list.volumes) {
        out << fieldSafe(toUtf8(v.locator)) << '\t' << fieldSafe(toUtf8(v.fileSystem)) << '\t'
            << fieldSafe(toUtf8(v.sizeText)) << '\t' << v.startSector;
        if (encryptionNamed(v.fileSystem) != EncryptionKind::None)
            out << '\t' << encryptionState(*image.reader, v, secret);
        out << '\n';
    }
    if (status != 0) {
        err << "corvello-cli partitions: reading " << terminalSafe(image.path) << " stopped: " << volumeTablesErrorText(status)
            << ".\n";
        return kExitInput;
    }
    if (list.volumes.empty() && !args.has("--advanced"))
        err << "corvello-cli partitions: " << terminalSafe(image.path)
            << " holds no partition table and no file system at its start; 'partitions --advanced' scans it for the "
               "boot records of lost volumes.\n";
    return kExitOk;
}

}  // namespace corvello::cli
