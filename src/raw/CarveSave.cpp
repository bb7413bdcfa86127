#include "raw/CarveSave.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>

#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "platform/Files.h"
#include "raw/myJpg.h"

namespace corvello {

namespace {
constexpr std::uint32_t kCopyChunk = 1 << 20;
constexpr int kMaxCopies = 100000;
}

bool writeCarvedFile(FileReadSeek& reader, const CarvedFile& file, platform::OutputFile& out, bool& unreadable) {
    unreadable = false;
    if (!out.isOpen()) return false;
    std::vector<std::uint8_t> buffer(kCopyChunk);
    std::int64_t done = 0;
    while (done < file.size) {
        const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(kCopyChunk, file.size - done));
        // A read that delivers nothing leaves the buffer as it was: start from zeros.
        std::memset(buffer.data(), 0, want);
        if (!reader.readAt(file.offset + done, buffer.data(), want)) unreadable = true;
        if (!out.write(buffer.data(), want)) return false;
        done += want;
    }
    return out.close();
}

bool saveCarvedFile(FileReadSeek& reader, const CarvedFile& file, const std::string& path, bool& unreadable) {
    unreadable = false;
    platform::OutputFile out;
    return out.create(path) && writeCarvedFile(reader, file, out, unreadable);
}

CarveSaveResult saveCarvedFiles(const myJpg& engine, const std::vector<std::size_t>& indices, const std::string& dir,
                                ScanHost& host) {
    CarveSaveResult result;
    std::vector<std::size_t> which = indices;
    if (which.empty()) {
        which.resize(engine.carvedFiles.size());
        std::iota(which.begin(), which.end(), std::size_t{0});
    }
    result.files = which.size();
    if (engine.reader == nullptr) {
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
        if (!created || !writeCarvedFile(*engine.reader, engine.carvedFiles[index], out, unreadable)) {
            ++result.failed;
            continue;
        }
        ++result.written;
        if (unreadable) ++result.unreadable;
    }
    host.setProgressPos(done);
    return result;
}

}  // namespace corvello
