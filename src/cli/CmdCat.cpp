// corvello-cli cat: one file's bytes on standard output, exactly as the save writes them.

#include <algorithm>

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/ScannedVolume.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "platform/Files.h"
#include "scan/SaveWalk.h"

namespace corvello::cli {

int cmdCat(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    const Args args(argv, kVolumeOptions, kVolumeFlags);
    ScannedVolume v(err);
    scanVolume(v, args, 2);
    std::string wanted = args.positionals()[1];
    while (!wanted.empty() && wanted.front() == '/') wanted.erase(0, 1);

    // The path as list prints it: the first entry of that path in the save walk's order.
    ItemData found = 0;
    bool folder = false;
    walkEntries(*v.session, topLevelRecords(*v.session, v.tree), 0, [&](const ListedEntry& e) {
        if (found == 0 && e.path == wanted) {
            found = e.data;
            folder = e.folder;
        }
    });
    if (found == 0) throw UsageError{"there is no file \"" + terminalSafe(wanted) + "\" on the volume."};
    if (folder) throw UsageError{"\"" + terminalSafe(wanted) + "\" is a folder; cat writes one file."};
    if (!v.session->isExtracted(found)) return kExitOk;

    platform::OutputFile file;
    file.openSink([&out](const void* data, std::size_t count) {
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(count));
        return static_cast<bool>(out);
    });
    file.setLimit(v.session->outputLimit(found));
    const FileReadSeek* reader = v.session->reader();
    const std::uint64_t unreadBefore = reader != nullptr ? reader->unreadBytes() : 0;
    const bool ok = v.session->extract(found, file);
    const std::uint64_t unread = reader != nullptr ? reader->unreadBytes() - unreadBefore : 0;
    const int writeError = file.errorCode();
    file.close();
    out.flush();
    if (writeError != 0 || !out) throw InputError{"the file could not be written to standard output."};
    if (file.discarded() && !ok) throw InputError{"the data of \"" + terminalSafe(wanted) + "\" could not be found."};
    const std::uint64_t expected = v.session->size(found);
    std::uint64_t missing = unread + file.cutBytes();
    if (expected > file.length()) missing = std::max(missing, expected - file.length());
    if (!ok || missing > 0) {
        err << "corvello-cli cat: \"" << terminalSafe(wanted) << "\" is incomplete: "
            << std::max<std::uint64_t>(missing, 1) << " byte(s) could not be read.\n";
        return kExitIncomplete;
    }
    return kExitOk;
}

}  // namespace corvello::cli
