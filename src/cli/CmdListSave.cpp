#include <array>

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/ScannedVolume.h"
#include "common/MemoryResultTree.h"
#include "common/Bytes.h"
#include "common/Text.h"
#include "platform/Files.h"
#include "scan/Reports.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"
#include "scan/Volumes.h"

namespace corvello::cli {

void scanVolume(ScannedVolume& v, const Args& args, std::size_t positionals) {
    if (args.positionals().size() != positionals)
        throw UsageError{positionals == 1 ? "give exactly one IMAGE." : "give the IMAGE and one PATH."};
    openImage(args.positionals()[0], v.image, v.host);
    v.volume = chooseVolume(v.image, args, v.host);
    const VolumeRecord& volume = v.volume;
    if (familyOf(volume.fileSystemKind()) == Family::None)
        throw InputError{"the volume holds no file system corvello-cli reads (it is listed as \"" +
                         toUtf8(volume.fileSystem) + "\"); read it as one with --fs NAME, or carve it."};
    const ScanRequest request = makeRequest(v.image, args, volume);
    v.session = runScan(request, v.host, v.tree);
    v.host.finishLine();
    stopIfInterrupted();
    if (!v.session) throw InputError{"the volume could not be read as " + toUtf8(volume.fileSystem) + "."};
    if (!v.session->refusal().empty()) throw UsageError{v.session->refusal()};
    completeScan(*v.session, v.tree, v.host);
    // Not one file found on a volume whose start does not look like the file system asked for:
    // the wrong file system was forced, or none is there. That is no listing of an empty volume.
    if (countFiles(*v.session, topLevelRecords(*v.session, v.tree)) == 0) {
        const std::u16string seen = fileSystemAt(*v.image.source(), volume);
        if (seen.empty() || familyOf(seen) != familyOf(volume.fileSystemKind()))
            throw InputError{"no " + toUtf8(volume.fileSystem) + " file system was found on the volume" +
                             (seen.empty() ? std::string(".") : " (it looks like " + toUtf8(seen) + ").")};
    }
}

void checkOutputFolder(const std::string& source, const std::string& outDir, bool allowSameDevice) {
    if (platform::sameFile(source, outDir))
        throw UsageError{"the output folder " + outDir + " is the image itself; choose another folder."};
    if (!allowSameDevice) {
        const std::string device = platform::folderOnSourceDevice(source, outDir);
        if (!device.empty())
            throw UsageError{"the output folder " + outDir + " lies on " + device +
                             ", the device being recovered: writing there can overwrite the very files being "
                             "recovered. Choose a folder on another disk, or give --allow-same-device."};
    }
}

int reportSaveProblems(const SaveResult& result, std::ostream& err) {
    if (!result.outputFull.empty()) {
        err << "corvello-cli save: the output folder is full: " << terminalSafe(result.outputFull)
            << " could not be completed and was removed; " << result.written << " file(s) were written before it.\n";
        return kExitInput;
    }
    if (result.beyondVolume)
        err << "corvello-cli save: the saved files hold more bytes than the volume (" << result.mediumBytes
            << " bytes): some of them share their data, or come from damaged records.\n";
    const std::uint64_t incomplete = result.incomplete();
    if (incomplete > 0) {
        err << "corvello-cli save: " << incomplete << " file(s) could not be written completely:\n";
        for (const SaveProblem& p : result.problems)
            if (p.error.empty())
                err << "  " << terminalSafe(p.path) << "\t" << p.missingBytes << " byte(s) could not be read\n";
    }
    if (result.failed > 0) {
        err << "corvello-cli save: " << result.failed << " file(s) could not be written:\n";
        for (const SaveProblem& p : result.problems)
            if (!p.error.empty()) err << "  " << terminalSafe(p.path) << "\t" << p.error << "\n";
    }
    if (result.failed > 0) return kExitInput;
    return incomplete > 0 ? kExitIncomplete : kExitOk;
}

int cmdList(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    std::set<std::string> options = kVolumeOptions;
    options.insert("--format");
    std::set<std::string> flags = kVolumeFlags;
    flags.insert("--long");
    const Args args(argv, options, flags);
    const bool longForm = args.has("--long");
    const auto format = listFormatNamed(args.value("--format").value_or("tsv"));
    if (!format) throw UsageError{std::string("--format takes ") + kListFormatNames + "."};
    ScannedVolume v(err);
    scanVolume(v, args);
    writeReport(*v.session, topLevelRecords(*v.session, v.tree), *format, out, longForm,
                {terminalSafe(args.positionals()[0]), static_cast<std::uint64_t>(v.volume.startSector) * kSectorSize});
    out.flush();
    if (!out) throw InputError{"the listing could not be written to standard output."};
    return kExitOk;
}

int cmdSave(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    std::set<std::string> options = kVolumeOptions;
    options.insert({"--out", "--path"});
    std::set<std::string> flags = kVolumeFlags;
    flags.insert({"--allow-same-device", "--intact-only"});
    const Args args(argv, options, flags);
    const auto outDir = args.value("--out");
    if (!outDir || outDir->empty()) throw UsageError{"give the output folder with --out DIR."};
    if (args.positionals().size() == 1) checkOutputFolder(args.positionals()[0], *outDir, args.has("--allow-same-device"));
    ScannedVolume v(err);
    scanVolume(v, args);

    std::vector<ItemData> children;
    const std::string folder = args.value("--path").value_or("");
    if (!recordsAtPath(*v.session, v.tree, folder, children))
        throw UsageError{"there is no folder \"" + folder + "\" on the volume."};

    // --intact-only: live files and the deleted files whose data nothing has taken since.
    const FileFilter filter = args.has("--intact-only") ? intactFilesOnly(*v.session) : FileFilter{};
    v.host.setProgressRange(0, static_cast<std::int64_t>(countFiles(*v.session, children, filter)));
    const SaveResult result = saveRecords(*v.session, children, *outDir, v.host, filter);
    v.host.finishLine();
    if (!result.error.empty()) throw InputError{result.error};
    out << "saved " << result.written << " of " << result.files << " file(s) into " << *outDir << "\n";
    const int status = reportSaveProblems(result, err);
    if (workInterrupted())
        throw Interrupted{"interrupted; the save stopped after " + std::to_string(result.written) + " file(s)" +
                          (result.interrupted.empty()
                               ? std::string(".")
                               : ": " + result.interrupted + " was cut by the interrupt and was removed.")};
    return status;
}

}  // namespace corvello::cli
