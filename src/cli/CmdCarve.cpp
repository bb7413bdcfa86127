// corvello-cli carve: raw recovery of an image or a volume by byte signatures.

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/DisplayFormat.h"
#include "device/crypt/Unlock.h"
#include "common/MemoryResultTree.h"
#include "common/Text.h"
#include "platform/Files.h"
#include "platform/ProgramPath.h"
#include "platform/RawFile.h"
#include "scan/Carving.h"

namespace corvello::cli {

namespace {

// The default signature set: share/corvello/ as installed, beside the program, or in the data
// folder of a build tree.
std::string defaultSettingsPath() { return platform::dataFilePath("FileSetting.txt"); }

}  // namespace

int cmdCarve(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    const Args args(argv, {"--volume", "--start", "--settings", "--out"}, {"--gpt", "--no-defaults", "--allow-same-device"});
    if (args.positionals().size() != 1) throw UsageError{"give exactly one IMAGE."};
    const auto outDir = args.value("--out");
    if (!outDir || outDir->empty()) throw UsageError{"give the output folder with --out DIR."};
    checkOutputFolder(args.positionals()[0], *outDir, args.has("--allow-same-device"));
    const auto settings = args.value("--settings");
    if (args.has("--no-defaults") && !settings) throw UsageError{"--no-defaults needs --settings FILE."};

    ConsoleHost host(err);
    OpenedImage image;
    openImage(args.positionals()[0], image, host);

    // The range: a volume of the partition list, the image from a start sector, or all of it.
    CarveRange range = carveRangeFrom(*image.reader, 0);
    if (args.has("--volume")) {
        const VolumeRecord volume = chooseVolume(image, args, host, false);
        // Carving reads the image itself: an encrypted volume's bytes would be ciphertext.
        if (encryptionNamed(volume.fileSystem) != EncryptionKind::None)
            throw UsageError{"the volume is encrypted (" + toUtf8(volume.fileSystem) +
                             "): write its unlocked bytes with `corvello-cli image IMAGE --volume N --out FILE`, "
                             "then carve FILE."};
        range = volumeCarveRange(*image.reader, volume);
    } else if (const auto sector = args.number("--start")) {
        if (*sector < 0 || static_cast<std::uint64_t>(*sector) >= image.reader->totalSectors())
            throw UsageError{format("sector %lld lies outside %s.", static_cast<long long>(*sector), image.path.c_str())};
        range = carveRangeFrom(*image.reader, *sector * static_cast<std::int64_t>(kSectorSize));
    }
    if (range.length <= 0) throw InputError{"zero size volume.."};

    CarvingEngine engine;
    if (!args.has("--no-defaults")) {
        const std::string path = defaultSettingsPath();
        if (!loadDefinitions(engine, path, true, host) && !settings)
            throw InputError{"the default signature set FileSetting.txt was not found beside corvello-cli; "
                             "give one with --settings FILE."};
    }
    if (settings) {
        platform::RawFile probe;
        if (!probe.open(*settings))
            throw InputError{"can not open file " + *settings + ": " + platform::errorText(probe.lastError()) + "."};
    }
    if (settings && !loadDefinitions(engine, *settings, false, host))
        throw InputError{"the signature definitions of " + *settings + " could not be loaded."};
    if (engine.definitionCount() == 0) throw InputError{"there are no signature definitions to carve with."};

    MemoryResultTree tree;
    prepareCarving(engine, *image.reader, range, tree, host);
    host.setStatus("Processing.....");
    if (!engine.carve()) throw InputError{"the carving run could not be prepared."};
    host.finishLine();
    stopIfInterrupted();

    if (!platform::makeDirectories(*outDir)) throw InputError{"cannot create the output folder " + *outDir + "."};
    const CarveSaveResult saved = saveCarvedFiles(engine, {}, *outDir, host);
    host.finishLine();

    // One line per category, in the order of the tree: name and number of files found.
    for (const TreeItem item : tree.children(engine.rootItem())) {
        std::u16string label = tree.itemText(item);
        const auto count = static_cast<long long>(tree.children(item).size());
        if (count > 0) label.resize(label.size() - format(" (%lld)", count).size());
        out << toUtf8(label) << '\t' << count << '\n';
    }
    // Standard output holds only the rows; the summary is for the person.
    err << "carved " << engine.carvedFiles.size() << " file(s); saved " << saved.written << " into " << terminalSafe(*outDir)
        << (engine.stopped() ? " (stopped)" : "") << "\n";
    std::vector<std::string> partial;
    for (std::size_t i = 0; i < engine.carvedFiles.size(); ++i)
        if (engine.carvedFiles[i].partial) partial.push_back(toUtf8(engine.carvedCategory(i)) + "/" + toUtf8(engine.carvedName(i)));
    if (!partial.empty()) {
        err << "corvello-cli carve: " << partial.size() << " file(s) are damaged or cut; each was saved up to its last sound part:\n";
        for (const std::string& name : partial) err << "  " << terminalSafe(name) << "\n";
    }
    if (!saved.outputFull.empty()) {
        err << "corvello-cli carve: the output folder is full: " << terminalSafe(saved.outputFull)
            << " could not be completed and was removed; " << saved.written << " file(s) were written before it.\n";
        return kExitInput;
    }
    if (saved.unreadable > 0)
        err << "corvello-cli carve: " << saved.unreadable << " file(s) hold unreadable sectors, written as zeros.\n";
    if (saved.failed > 0) {
        err << "corvello-cli carve: " << saved.failed << " file(s) could not be written.\n";
        return kExitInput;
    }
    if (workInterrupted())
        throw Interrupted{"interrupted; the save stopped after " + std::to_string(saved.written) + " file(s)."};
    // Files saved up to their last sound part, or with unreadable sectors, are incomplete.
    return partial.empty() && saved.unreadable == 0 ? kExitOk : kExitIncomplete;
}

}  // namespace corvello::cli
