#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "partition/Partition.h"

namespace corvello::cli {

int cmdPartitions(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    const Args args(argv, {"--start", "--end"}, {"--gpt", "--advanced", "--no-skip"});
    if (args.positionals().size() != 1) throw UsageError{"give exactly one IMAGE."};
    if (!args.has("--advanced") && (args.has("--start") || args.has("--end") || args.has("--no-skip")))
        throw UsageError{"--start, --end and --no-skip belong to --advanced."};

    ConsoleHost host(err, args.has("--advanced"));
    OpenedImage image;
    openImage(args.positionals()[0], image, host);

    VolumeList list;
    Partition partition;
    partition.owner = &list;
    partition.statusLabel = &host;
    partition.gptFormat = args.has("--gpt");
    int status = 0;
    if (args.has("--advanced")) {
        partition.rangeStart = args.number("--start").value_or(0);
        partition.rangeEnd = args.number("--end").value_or(0);
        if (partition.rangeEnd > 0 && partition.rangeEnd < partition.rangeStart)
            throw UsageError{"--end lies before --start."};
        const auto sectors = static_cast<std::int64_t>(image.reader->totalSectors());
        if (partition.rangeStart < 0 || partition.rangeStart >= sectors)
            throw UsageError{format("sector %lld lies outside %s, which has %lld sectors.",
                                    static_cast<long long>(partition.rangeStart), image.path.c_str(),
                                    static_cast<long long>(sectors))};
        partition.skipVolumeSize = !args.has("--no-skip");
        status = partition.scanBootRecords(*image.reader, image.reader->totalSectors());
        status = status == 1 ? 0 : status;
    } else {
        status = readPartitionTables(*image.reader, partition);
        numberVolumeRows(list.volumes);
    }
    host.finishLine();

    for (const VolumeRecord& v : list.volumes)
        out << toUtf8(v.locator) << '\t' << toUtf8(v.fileSystem) << '\t' << toUtf8(v.sizeText) << '\t' << v.startSector
            << '\n';
    if (status != 0) {
        err << "corvello-cli partitions: reading " << image.path << " stopped: " << platform::errorText(status) << ".\n";
        return kExitInput;
    }
    return kExitOk;
}

}  // namespace corvello::cli
