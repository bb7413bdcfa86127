// corvello-cli mft-copies: the advanced NTFS search for MFT copies, as the advanced-input page
// runs it; the copies are then chosen with list/save --mode advanced --copy K.

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "fs/ntfs/Ntfs.h"
#include "scan/Scan.h"

namespace corvello::cli {

int cmdMftCopies(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    const Args args(argv, kVolumeOptions, kVolumeFlags);
    if (args.positionals().size() != 1) throw UsageError{"give exactly one IMAGE."};
    ConsoleHost host(err);
    OpenedImage image;
    openImage(args.positionals()[0], image, host);
    const VolumeRecord volume = chooseVolume(image, args, host);
    if (familyOf(volume.fileSystem) != Family::Ntfs)
        throw UsageError{"mft-copies searches NTFS volumes; this volume is \"" + toUtf8(volume.fileSystem) +
                         "\" (choose another with --volume, or --fs ntfs)."};
    std::int64_t max = args.number("--max").value_or(3);
    if (max <= 0) max = 3;

    image.reader->baseOffset = volume.startSector * 512;
    ntfs parser(*image.reader, host, nullptr, volume);
    parser.readBootSector();
    const std::int64_t copies = parser.findMftCopies(max);
    host.finishLine();
    for (std::int64_t k = 0; k < copies; ++k)
        out << format("MFT_ENTRY:%lld\t%llu\n", static_cast<long long>(k),
                      static_cast<unsigned long long>(parser.foundMftRecords[static_cast<std::size_t>(k)].location));
    out << format("Number of MFT-ENTRY found = %lld . Please select the choice from combo box and click Next button "
                  "to proceed.\n",
                  static_cast<long long>(copies));
    return kExitOk;
}

}  // namespace corvello::cli
