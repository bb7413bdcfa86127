// corvello-cli mft-copies: the advanced NTFS search for MFT copies, as the advanced-input page
// runs it; the copies are then chosen with list/save --mode advanced --copy K.

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "scan/Candidates.h"
#include "scan/Scan.h"

namespace corvello::cli {

int cmdMftCopies(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    const Args args(argv, kVolumeOptions, kVolumeFlags);
    ConsoleHost host(err);
    OpenedImage image;
    const VolumeRecord volume = openVolume(args, image, host);
    if (familyOf(volume.fileSystemKind()) != Family::Ntfs)
        throw UsageError{"mft-copies searches NTFS volumes; this volume is \"" + toUtf8(volume.fileSystem) +
                         "\" (choose another with --volume, or --fs ntfs)."};
    std::int64_t max = args.number("--max").value_or(3);
    if (max <= 0) max = 3;

    ScanRequest request;
    request.reader = image.source();
    request.volume = volume;
    request.maxCandidates = max;
    const CandidateList found = findCandidates(request, host);
    host.finishLine();
    for (std::size_t k = 0; k < found.tables.size(); ++k)
        out << tableLabel(found.family, k) << '\t' << static_cast<std::uint64_t>(found.tables[k]) << '\n';
    // Standard output holds only the rows; the closing message is for the person.
    err << found.message << '\n';
    return kExitOk;
}

}  // namespace corvello::cli
