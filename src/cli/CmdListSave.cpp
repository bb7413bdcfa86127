#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "common/MemoryResultTree.h"
#include "common/Text.h"
#include "platform/Files.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"

namespace corvello::cli {

namespace {

struct ScannedVolume {
    ConsoleHost host;
    OpenedImage image;
    MemoryResultTree tree;
    std::unique_ptr<ScanSession> session;
    explicit ScannedVolume(std::ostream& err) : host(err) {}
};

void scanVolume(ScannedVolume& v, const Args& args) {
    if (args.positionals().size() != 1) throw UsageError{"give exactly one IMAGE."};
    openImage(args.positionals()[0], v.image, v.host);
    const VolumeRecord volume = chooseVolume(v.image, args, v.host);
    const ScanRequest request = makeRequest(v.image, args, volume);
    v.session = runScan(request, v.host, v.tree);
    v.host.finishLine();
    if (!v.session) throw InputError{"the volume could not be read as " + toUtf8(volume.fileSystem) + "."};
    completeScan(*v.session, v.tree, v.host);
}

}  // namespace

int cmdList(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    const Args args(argv, kVolumeOptions, kVolumeFlags);
    ScannedVolume v(err);
    scanVolume(v, args);
    walkEntries(*v.session, topLevelRecords(*v.session, v.tree), 0, [&](const ListedEntry& e) {
        out << (e.folder ? 'd' : 'f') << '\t' << (e.deleted ? "deleted" : "live") << '\t' << e.size << '\t' << e.path
            << '\n';
    });
    return kExitOk;
}

int cmdSave(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    std::set<std::string> options = kVolumeOptions;
    options.insert({"--out", "--path"});
    const Args args(argv, options, kVolumeFlags);
    const auto outDir = args.value("--out");
    if (!outDir || outDir->empty()) throw UsageError{"give the output folder with --out DIR."};
    ScannedVolume v(err);
    scanVolume(v, args);

    std::vector<ItemData> children;
    const std::string folder = args.value("--path").value_or("");
    if (!recordsAtPath(*v.session, v.tree, folder, children))
        throw UsageError{"there is no folder \"" + folder + "\" on the volume."};
    if (!platform::makeDirectories(*outDir)) throw InputError{"cannot create the output folder " + *outDir + "."};

    v.host.setProgressRange(0, static_cast<std::int64_t>(countFiles(*v.session, children)));
    const SaveResult result = saveRecords(*v.session, children, *outDir, v.host);
    v.host.finishLine();
    out << "saved " << result.written << " of " << result.files << " file(s) into " << *outDir << "\n";
    if (result.failed > 0) {
        err << "corvello-cli save: " << result.failed << " file(s) could not be written completely.\n";
        return kExitInput;
    }
    return kExitOk;
}

}  // namespace corvello::cli
