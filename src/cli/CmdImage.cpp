// corvello-cli image: one volume's bytes, unlocked where it is encrypted, into a new raw image.

#include <vector>

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Unlocking.h"
#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "platform/Files.h"
#include "platform/SystemInfo.h"

namespace corvello::cli {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int cmdImage(const CommandArgs& argv, std::ostream& out, std::ostream& err) {
    std::set<std::string> options = kVolumeOptions;
    options.insert("--out");
    std::set<std::string> flags = kVolumeFlags;
    flags.insert("--allow-same-device");
    const Args args(argv, options, flags);
    const auto outFile = args.value("--out");
    if (!outFile || outFile->empty()) throw UsageError{"give the new image file with --out FILE."};
    if (args.positionals().size() != 1) throw UsageError{"give exactly one IMAGE."};
    const std::string& source = args.positionals()[0];
    if (platform::sameFile(source, *outFile)) throw UsageError{"the output " + *outFile + " is the image itself."};
    if (!args.has("--allow-same-device")) {
        const std::string device = platform::folderOnSourceDevice(source, folderOf(*outFile));
        if (!device.empty())
            throw UsageError{"the output " + *outFile + " lies on " + device +
                             ", the device being read: writing there can overwrite the very data being recovered. "
                             "Choose a file on another disk, or give --allow-same-device."};
    }

    ConsoleHost host(err);
    OpenedImage image;
    openImage(source, image, host);
    const VolumeRecord volume = chooseVolume(image, args, host);
    // The unlocked volume from its byte 0; a plain volume where it lies on the image.
    const ByteSource& medium = *image.source();
    std::uint64_t start = 0;
    std::uint64_t length = medium.sourceBytes();
    if (!image.unlocked) {
        start = static_cast<std::uint64_t>(volume.startSector) * kSectorSize;
        length = start < length ? length - start : 0;
        if (volume.sizeBytes() > 0) length = std::min(length, static_cast<std::uint64_t>(volume.sizeBytes()));
    }
    if (length == 0) throw InputError{"the volume holds no bytes to write."};

    platform::OutputFile file;
    if (!file.create(*outFile))
        throw InputError{"cannot create " + *outFile + ": " + platform::errorText(file.errorCode()) +
                         " (an existing file is never overwritten)."};
    constexpr std::size_t kChunk = 4 << 20;
    std::vector<std::uint8_t> buffer(kChunk);
    std::uint64_t unread = 0;
    host.setStatus("Writing the volume's bytes...");
    host.setProgressRange(0, static_cast<std::int64_t>(length / kChunk + 1));
    for (std::uint64_t done = 0; done < length;) {
        if (host.stopRequested()) {
            file.close();
            throw Interrupted{"interrupted; " + *outFile + " holds the first " + std::to_string(done) + " bytes only"};
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, length - done));
        const std::size_t got = medium.readBytes(start + done, std::span(buffer.data(), n));
        if (got < n) {
            // What cannot be read is written as zeros, a sector at a time after a short read.
            std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(got), buffer.begin() + static_cast<std::ptrdiff_t>(n), std::uint8_t{0});
            for (std::size_t at = got / kSectorSize * kSectorSize; at < n; at += kSectorSize) {
                const std::size_t piece = std::min<std::size_t>(kSectorSize, n - at);
                const std::size_t again = medium.readBytes(start + done + at, std::span(buffer.data() + at, piece));
                if (again < piece) {
                    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(at + again),
                              buffer.begin() + static_cast<std::ptrdiff_t>(at + piece), std::uint8_t{0});
                    unread += piece - again;
                }
            }
        }
        if (!file.write(buffer.data(), n)) {
            const int error = file.errorCode();
            file.close();
            throw InputError{"writing " + *outFile + " stopped: " + platform::errorText(error) + "."};
        }
        done += n;
        host.setProgressPos(static_cast<std::int64_t>(done / kChunk));
    }
    if (!file.close()) throw InputError{"writing " + *outFile + " stopped: " + platform::errorText(file.errorCode()) + "."};
    host.finishLine();
    out << "wrote " << length << " bytes into " << *outFile << "\n";
    if (unread > 0) {
        err << "corvello-cli image: " << unread << " byte(s) could not be read and were written as zeros.\n";
        return kExitIncomplete;
    }
    return kExitOk;
}

}  // namespace corvello::cli
