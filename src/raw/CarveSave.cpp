#include "raw/CarveSave.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>

#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/VolumeView.h"
#include "platform/Files.h"
#include "raw/CarvingEngine.h"

namespace corvello {

namespace {
constexpr std::uint32_t kCopyChunk = 1 << 20;
constexpr int kMaxCopies = 100000;
constexpr std::size_t kPage = 4096;

// A copy buffer whose first byte starts a page, as the kernel copies fastest into whole pages.
struct CopyBuffer {
    std::vector<std::uint8_t> storage = std::vector<std::uint8_t>(kCopyChunk + kPage);
    std::uint8_t* data() { return storage.data() + (kPage - reinterpret_cast<std::uintptr_t>(storage.data()) % kPage) % kPage; }
};

bool copyOut(const VolumeView& view, const CarvedFile& file, platform::OutputFile& out, CopyBuffer& copy, bool& unreadable) {
    std::uint8_t* const buffer = copy.data();
    unreadable = false;
    if (!out.isOpen()) return false;
    std::int64_t done = 0;
    while (done < file.size) {
        const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(kCopyChunk, file.size - done));
        // Bytes a read does not deliver are written as zeros.
        if (view.readAt(static_cast<std::uint64_t>(file.offset + done), buffer, want) < want) unreadable = true;
        if (!out.write(buffer, want)) return false;
        done += want;
    }
    return out.close();
}

}  // namespace

bool writeCarvedFile(const VolumeView& view, const CarvedFile& file, platform::OutputFile& out, bool& unreadable) {
    CopyBuffer buffer;
    return copyOut(view, file, out, buffer, unreadable);
}

bool saveCarvedFile(const VolumeView& view, const CarvedFile& file, const std::string& path, bool& unreadable) {
    unreadable = false;
    platform::OutputFile out;
    return out.create(path) && writeCarvedFile(view, file, out, unreadable);
}

CarveSaveResult saveCarvedFiles(const CarvingEngine& engine, const std::vector<std::size_t>& indices, const std::string& dir,
                                ScanHost& host) {
    CarveSaveResult result;
    std::vector<std::size_t> which = indices;
    if (which.empty()) {
        which.resize(engine.carvedFiles.size());
        std::iota(which.begin(), which.end(), std::size_t{0});
    }
    result.files = which.size();
    if (!engine.view.valid()) {
        result.failed = result.files;
        return result;
    }
    platform::OutputFolder top;
    if (!top.open(dir)) {
        result.failed = result.files;
        return result;
    }
    std::map<std::string, platform::OutputFolder> folders;
    host.setProgressRange(0, static_cast<std::int64_t>(which.size()));
    CopyBuffer buffer;
    std::int64_t done = 0;
    for (const std::size_t index : which) {
        if (host.checkpoint()) {
            result.stopped = true;
            break;
        }
        host.setProgressPos(done++);
        if (index >= engine.carvedFiles.size()) {
            ++result.failed;
            continue;
        }
        const std::string category = safeFileName(engine.carvedCategory(index));
        auto folder = folders.find(category);
        if (folder == folders.end()) {
            // A category folder is entered only when it is a real folder: a link or a file of
            // that name makes "name (2)".
            platform::OutputFolder made;
            for (int n = 1; n < kMaxCopies && !made.isOpen(); ++n)
                if (!top.openChild(withCopyNumber(category, n, false), made) && top.errorCode() != EEXIST) break;
            folder = folders.emplace(category, std::move(made)).first;
        }
        const std::string name = safeFileName(engine.carvedName(index));
        host.setStatus("Saving " + name);
        // Files are created new: a name that is there already gets " (2)", " (3)" ...
        platform::OutputFile out;
        bool created = false;
        for (int n = 1; n < kMaxCopies && folder->second.isOpen() && !created; ++n) {
            created = out.createAt(folder->second.fd(), withCopyNumber(name, n, true));
            if (!created && out.errorCode() != EEXIST) break;
        }
        bool unreadable = false;
        if (!created || !copyOut(engine.view, engine.carvedFiles[index], out, buffer, unreadable)) {
            ++result.failed;
            if (platform::isOutputFull(out.errorCode())) {
                // The output folder is full: the cut file is removed and the save stops here.
                out.discard();
                out.close();
                result.outputFull = category + "/" + name;
                result.stopped = true;
                break;
            }
            continue;
        }
        ++result.written;
        if (unreadable) ++result.unreadable;
    }
    host.setProgressPos(done);
    return result;
}

}  // namespace corvello
