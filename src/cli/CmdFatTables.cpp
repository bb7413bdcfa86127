// corvello-cli fat-tables: the FAT-table (and exFAT cluster-heap) search of the advanced mode,
// with the choices it leads to, as the advanced-input step shows them.

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "scan/Candidates.h"
#include "scan/Scan.h"

namespace corvello::cli {

namespace {

void printChoices(std::ostream& out, const char* label, const std::vector<std::uint32_t>& values) {
    out << label << '\t';
    for (std::size_t i = 0; i < values.size(); ++i) out << (i ? "," : "") << values[i];
    out << '\n';
}

void printTables(std::ostream& out, const CandidateList& found) {
    for (std::size_t i = 0; i < found.tables.size(); ++i)
        out << tableLabel(found.family, i) << '\t' << found.tables[i] << '\n';
}

}  // namespace

int cmdFatTables(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    const Args args(argv, kVolumeOptions, kVolumeFlags);
    ConsoleHost host(err);
    OpenedImage image;
    const VolumeRecord volume = openVolume(args, image, host);
    const ScanRequest request = makeRequest(image, args, volume);
    const Family family = familyOf(volume.fileSystemKind());
    if (family != Family::Fat16 && family != Family::Fat32 && family != Family::ExFat)
        throw UsageError{"fat-tables reads FAT12, FAT16, FAT32 and exFAT volumes, not " + toUtf8(volume.fileSystem) + "."};
    const CandidateList found = findCandidates(request, host);
    printTables(out, found);
    if (family == Family::ExFat) {
        for (std::size_t i = 0; i < found.heaps.size(); ++i) out << heapLabel(i) << '\t' << found.heaps[i] << '\n';
        printChoices(out, "CLUSTER_SHIFT", found.clusterChoices);
    } else {
        printChoices(out, "SECTORS_PER_CLUSTER", found.clusterChoices);
    }
    // Standard output holds only the rows; the closing message is for the person.
    err << found.message << '\n';
    host.finishLine();
    return kExitOk;
}

}  // namespace corvello::cli
