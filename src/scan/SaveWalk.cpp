#include "scan/SaveWalk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/VolumeView.h"
#include "platform/Files.h"
#include "scan/RecordTable.h"
#include "scan/ScanSession.h"

namespace corvello {

namespace {

// How many numbered copies of one name a folder may take before the name counts as failed.
constexpr int kMaxCopies = 100000;

// The paths a walk gives out. Two records of one name in a folder (a deleted and a live
// "x.txt", say) both come out: the second as "x (2).txt". Folders of one name share their
// directory.
//
// A name is numbered from where its last claim in that folder ended: numbers below that are
// taken for good (paths are only ever added), so a folder of n records of one name costs n
// steps, not n * n / 2.
struct Walker {
    std::unordered_set<std::string> files, folders;

    bool taken(const std::string& path) const { return files.count(path) != 0 || folders.count(path) != 0; }

    // The first copy number worth trying for name in dir (files and folders number apart: a
    // file keeps its extension after the number, a folder does not).
    int& next(const std::string& dir, const std::string& name, bool folder) {
        std::string key;
        key.reserve(dir.size() + name.size() + 2);
        key.append(dir).push_back('\0');
        key.append(name).push_back(folder ? 'd' : 'f');
        return next_.try_emplace(std::move(key), 1).first->second;
    }

    // The path of a file or folder as the save places it (before anything on disk is met): a
    // file takes the first free number; a folder the first number no file has, which it shares
    // with a folder of that path.
    std::string claim(const std::string& dir, const std::string& name, bool folder) {
        int& n = next(dir, name, folder);
        std::string path = dir + withCopyNumber(name, n, !folder);
        if (folder) {
            while (files.count(path) != 0) path = dir + withCopyNumber(name, ++n, false);
            folders.insert(path);
            return path;
        }
        while (taken(path)) path = dir + withCopyNumber(name, ++n, true);
        files.insert(path);
        ++n;
        return path;
    }

private:
    std::unordered_map<std::string, int> next_;
};

// Which files the filter takes (asked once per file: a filter may read the medium), and for
// each row the taken files at or below it.
struct Taken {
    std::vector<bool> file;
    std::vector<std::uint64_t> below;
};

Taken takenFiles(const RecordTable& table, const FileFilter& filter) {
    const auto& rows = table.rows();
    Taken t{std::vector<bool>(rows.size()), std::vector<std::uint64_t>(rows.size())};
    for (std::size_t i = rows.size(); i-- > 0;) {
        const auto row = static_cast<std::uint32_t>(i);
        t.file[i] = rows[i].kind == SaveKind::File && (!filter || filter(rows[i].data, table.parentData(row)));
        if (t.file[i]) ++t.below[i];
        if (rows[i].parent != kNoRecord) t.below[rows[i].parent] += t.below[i];
    }
    return t;
}

// Creates the file or folder name in dir under the first copy number that is free both in
// this walk and on disk. Nothing that is there already is opened: a file, a link or a folder
// of the same name (for files) makes the next number.
struct Placed {
    std::string path;  // relative to the output folder, for messages
    bool ok = false;
    int error = 0;
};

Placed placeFile(Walker& walker, const platform::OutputFolder& dir, const std::string& relDir,
                 const std::string& name, platform::OutputFile& out) {
    int& n = walker.next(relDir, name, false);
    Placed p{relDir + withCopyNumber(name, std::min(n, kMaxCopies - 1), true), false, EEXIST};
    for (; n < kMaxCopies; ++n) {
        const std::string candidate = withCopyNumber(name, n, true);
        const std::string path = relDir + candidate;
        if (walker.taken(path)) continue;
        if (out.createAt(dir.fd(), candidate)) {
            walker.files.insert(path);
            ++n;
            return {path, true, 0};
        }
        p = {path, false, out.errorCode()};
        if (out.errorCode() != EEXIST) return p;
    }
    return p;
}

// A folder of a name already made in this walk is entered again; the next folder of that name
// starts there.
Placed placeFolder(Walker& walker, const platform::OutputFolder& dir, const std::string& relDir,
                   const std::string& name, platform::OutputFolder& child) {
    int& n = walker.next(relDir, name, true);
    Placed p{relDir + withCopyNumber(name, std::min(n, kMaxCopies - 1), false), false, EEXIST};
    for (; n < kMaxCopies; ++n) {
        const std::string candidate = withCopyNumber(name, n, false);
        const std::string path = relDir + candidate;
        if (walker.files.count(path) != 0) continue;
        if (dir.openChild(candidate, child)) {
            walker.folders.insert(path);
            return {path, true, 0};
        }
        p = {path, false, dir.errorCode()};
        if (dir.errorCode() != EEXIST) return p;
    }
    return p;
}


}  // namespace

std::vector<ItemData> topLevelRecords(const ScanSession& session, const ResultTree& tree) {
    std::vector<ItemData> out;
    const TreeItem root = session.rootItem();
    if (root == 0) return out;
    for (TreeItem item : tree.children(root)) {
        const ItemData data = tree.itemData(item);
        if (tree.itemIcon(item) != IconKind::Placeholder && session.isValid(data)) out.push_back(data);
    }
    return out;
}

FileFilter intactFilesOnly(const ScanSession& session) {
    return [&session](ItemData file, ItemData folder) {
        if (!session.isDeleted(file, folder)) return true;
        return session.recoverability(file).state == DataState::Intact;
    };
}

std::uint64_t countFiles(const ScanSession& session, const std::vector<ItemData>& children, const FileFilter& filter) {
    const Taken taken = takenFiles(RecordTable::fill(session, children), filter);
    return static_cast<std::uint64_t>(std::count(taken.file.begin(), taken.file.end(), true));
}

SaveResult saveRecords(ScanSession& session, const std::vector<ItemData>& children, const std::string& dir,
                       ScanHost& host, const FileFilter& filter) {
    SaveResult result;
    platform::OutputFolder top;
    if (!top.open(dir)) {
        result.error = "cannot create the output folder " + dir + ": " + std::strerror(top.errorCode()) + ".";
        return result;
    }
    const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    const ByteSource* reader = session.source();
    const RecordTable table = RecordTable::fill(session, children);
    const Taken taken = takenFiles(table, filter);
    const std::vector<std::uint64_t>& below = taken.below;
    Walker walker;
    std::function<void(std::uint32_t, const platform::OutputFolder&, const std::string&)> save =
        [&](std::uint32_t first, const platform::OutputFolder& folder, const std::string& rel) {
            if (first != kNoRecord && !host.stopRequested()) host.setProgressPos(static_cast<std::int64_t>(result.files));
            for (std::uint32_t row = first; row != kNoRecord; row = table[row].nextSibling) {
                if (!result.outputFull.empty()) return;
                if (host.checkpoint()) {
                    result.stopped = true;
                    return;
                }
                const Record& r = table[row];
                if (r.kind == SaveKind::Folder) {
                    // A folder with nothing the filter takes below it is not made.
                    if (filter && r.entered && below[row] == 0) continue;
                    platform::OutputFolder child;
                    const Placed placed = placeFolder(walker, folder, rel, savedName(table.saveName(row)), child);
                    if (!placed.ok) {
                        // Nothing below this folder can be written; count it as failed.
                        result.files += below[row];
                        result.failed += below[row];
                        result.problems.push_back({base + placed.path, 0, std::strerror(placed.error)});
                        continue;
                    }
                    save(r.firstChild, child, placed.path + "/");
                } else if (r.kind == SaveKind::File) {
                    if (!taken.file[row]) continue;
                    ++result.files;
                    if (!session.isExtracted(r.data)) continue;
                    platform::OutputFile out;
                    const Placed placed = placeFile(walker, folder, rel, savedName(table.saveName(row)), out);
                    host.setStatus("saving File  " + base + placed.path);
                    if (!placed.ok) {
                        ++result.failed;
                        result.problems.push_back({base + placed.path, 0, std::strerror(placed.error)});
                        if (platform::isOutputFull(placed.error)) {
                            result.outputFull = base + placed.path;
                            result.stopped = true;
                            return;
                        }
                        continue;
                    }
                    // No file holds more of the medium than the volume (its holes hold none of
                    // it): a size beyond that comes from a damaged record, and the rest is cut (and
                    // reported).
                    out.setLimit(session.outputLimit(r.data));
                    const std::uint64_t holes = session.holeBytes(r.data);
                    const std::uint64_t unreadBefore = reader != nullptr ? reader->unreadBytes() : 0;
                    host.setDetail("File size: " + std::to_string(r.size / 1024) + " kb");
                    bool ok = session.extract(r.data, out, &host);
                    host.setDetail({});
                    const std::uint64_t unread = reader != nullptr ? reader->unreadBytes() - unreadBefore : 0;
                    const int writeError = out.errorCode();
                    if (platform::isOutputFull(writeError)) {
                        // The output folder is full: this file is removed (it would pass for
                        // whole), and the save stops here; every later file would fail the same.
                        out.discard();
                        out.close();
                        ++result.failed;
                        result.outputFull = base + placed.path;
                        result.stopped = true;
                        result.problems.push_back({base + placed.path, r.size, std::strerror(writeError)});
                        return;
                    }
                    // Bytes that did not come from the medium: what the file's record promised but
                    // the file did not get (cut at the limit, or out of the extraction's reach),
                    // and reads that came up short (written as zeros). A byte read short and then
                    // cut counts once: never more than the file holds.
                    const std::uint64_t expected = r.size;
                    const std::uint64_t shortOf = expected > out.length() ? expected - out.length() : 0;
                    const std::uint64_t missing = std::min(std::max(expected, out.length()), shortOf + unread);
                    if (host.stopRequested() && (!ok || missing > 0)) {
                        // Stopped in the middle of this file: it is removed, as the disk-full path
                        // does (cut, it would pass for whole), and the save ends here.
                        out.discard();
                        out.close();
                        result.interrupted = base + placed.path;
                        result.stopped = true;
                        return;
                    }
                    ok = out.close() && ok;
                    result.bytes += out.length();
                    result.mediumBytes += out.length() - std::min<std::uint64_t>(unread + holes, out.length());
                    if (writeError != 0) {
                        ++result.failed;
                        result.problems.push_back({base + placed.path, missing, std::strerror(writeError)});
                    } else if (out.discarded()) {
                        // Nothing stands for the file: an empty one, or one whose data is gone.
                        if (ok) {
                            ++result.written;
                        } else {
                            ++result.failed;
                            result.problems.push_back({base + placed.path, expected, "its data could not be found"});
                        }
                    } else {
                        ++result.written;
                        if (!ok || missing > 0) {
                            // A partial file is worth having; it is kept and reported.
                            result.problems.push_back({base + placed.path, std::max<std::uint64_t>(missing, ok ? 0 : 1), {}});
                        }
                    }
                }
            }
        };
    save(table.first(), top, "");
    result.beyondVolume = result.mediumBytes > session.volumeBytes();
    return result;
}

void walkEntries(const RecordTable& table, const std::function<void(const ListedEntry&)>& visit) {
    Walker walker;
    std::function<void(std::uint32_t, const std::string&)> walk = [&](std::uint32_t first, const std::string& prefix) {
        for (std::uint32_t row = first; row != kNoRecord; row = table[row].nextSibling) {
            const Record& r = table[row];
            if (r.kind == SaveKind::Skip) continue;  // what save leaves out is not listed either
            ListedEntry e;
            e.data = r.data;
            e.folder = r.kind == SaveKind::Folder;
            e.deleted = r.deleted;
            e.size = r.size;
            e.path = walker.claim(prefix, savedName(table.saveName(row)), e.folder);
            e.row = row;
            e.table = &table;
            visit(e);
            if (r.entered) walk(r.firstChild, e.path + "/");
        }
    };
    walk(table.first(), "");
}

void walkEntries(const ScanSession& session, const std::vector<ItemData>& children, ItemData parent,
                 const std::function<void(const ListedEntry&)>& visit) {
    walkEntries(RecordTable::fill(session, children, parent), visit);
}

std::string savedName(const std::u16string& saveName) { return safeFileName(trimmed(saveName)); }

std::vector<std::string> pathComponents(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        if (end > pos) parts.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return parts;
}

bool recordsAtPath(const ScanSession& session, const ResultTree& tree, const std::string& path,
                   std::vector<ItemData>& children) {
    children = topLevelRecords(session, tree);
    for (const std::string& part : pathComponents(path)) {
        bool found = false;
        for (ItemData x : children) {
            if (session.saveKind(x) == SaveKind::Folder && savedName(session.saveName(x)) == part) {
                children = session.children(x);
                found = true;
                break;
            }
        }
        if (!found) return false;
    }
    return true;
}

}  // namespace corvello
