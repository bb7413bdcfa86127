// corvello-cli fat-tables: the FAT-table (and exFAT cluster-heap) search of the advanced mode,
// with the choices it leads to, as the advanced-input step shows them.

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "fs/fat/Fat16Class.h"
#include "fs/fat/Fat32Class.h"
#include "fs/fat/Fat64Class.h"
#include "scan/Scan.h"

namespace corvello::cli {

namespace {

void printList(std::ostream& out, const char* label, const std::vector<std::int64_t>& offsets) {
    for (std::size_t i = 0; i < offsets.size(); ++i) out << format(label, static_cast<int>(i)) << '\t' << offsets[i] << '\n';
}

void printChoices(std::ostream& out, const char* label, const std::vector<std::uint32_t>& values) {
    out << label << '\t';
    for (std::size_t i = 0; i < values.size(); ++i) out << (i ? "," : "") << values[i];
    out << '\n';
}

template <class Parser>
void searchFat(const ScanRequest& request, ScanHost& host, std::ostream& out) {
    Parser parser;
    parser.volume = request.volume;
    parser.host = &host;
    parser.attachReader(request.reader);
    parser.volumeBytes = request.volume.sizeBytes();
    const bool bootOk = parser.checkBootSector();
    if (!parser.isFat32()) host.setStatus("Finding Fat entries....");
    const auto found = parser.findFatTables(request.maxCandidates);
    const char* name = parser.isFat32() ? "FAT32" : "FAT";
    printList(out, parser.isFat32() ? "FAT32_ENTRY:%d" : "FAT_ENTRY:%d", found);
    printChoices(out, "SECTORS_PER_CLUSTER", sectorsPerClusterChoices(parser, bootOk));
    if (parser.isFat32() && found.empty())
        out << "NO FAT  FAT32-ENTRY found ..\n";
    else
        out << format("Number of %s-ENTRY found = %d . Please select the choice from combo box and click Next button to "
                      "proceed.\n",
                      name, static_cast<int>(found.size()));
}

void searchExFat(const ScanRequest& request, ScanHost& host, std::ostream& out) {
    Fat64Class parser;
    parser.volume = request.volume;
    parser.host = &host;
    parser.attachReader(request.reader);
    parser.volumeBytes = request.volume.sizeBytes();
    const bool bootOk = parser.checkBootSector();
    host.setStatus("Finding Fat64 entries....");
    const auto fats = parser.findFatTables(request.maxCandidates);
    auto heaps = parser.findHeapStarts(request.maxCandidates);
    if (bootOk && !heaps.empty()) heaps.front() = parser.heapOffset;
    printList(out, "FAT64_ENTRY:%d", fats);
    printList(out, "HEAP_OFFSET_ENTRY:%d", heaps);
    printChoices(out, "CLUSTER_SHIFT", clusterShiftChoices(parser, bootOk));
    out << format("Number of FAT64-ENTRY found = %d and Number of HeapOffset-ENTRY found =  %d  . Please select the "
                  "choice from ( Entry and Heap ) Combobox and click Next button to proceed.\n",
                  static_cast<int>(fats.size()), static_cast<int>(heaps.size()));
}

}  // namespace

int cmdFatTables(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    const Args args(argv, kVolumeOptions, kVolumeFlags);
    if (args.positionals().size() != 1) throw UsageError{"give exactly one IMAGE."};
    ConsoleHost host(err);
    OpenedImage image;
    openImage(args.positionals()[0], image, host);
    const VolumeRecord volume = chooseVolume(image, args, host);
    const ScanRequest request = makeRequest(image, args, volume);
    switch (familyOf(volume.fileSystem)) {
        case Family::Fat16: searchFat<Fat16Class>(request, host, out); break;
        case Family::Fat32: searchFat<Fat32Class>(request, host, out); break;
        case Family::ExFat: searchExFat(request, host, out); break;
        default: throw UsageError{"fat-tables reads FAT12, FAT16, FAT32 and exFAT volumes, not " + toUtf8(volume.fileSystem) + "."};
    }
    host.finishLine();
    return kExitOk;
}

}  // namespace corvello::cli
