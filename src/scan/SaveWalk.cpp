#include "scan/SaveWalk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/VolumeView.h"
#include "platform/Files.h"
#include "scan/ScanSession.h"

namespace corvello {

namespace {

// Folder chains on a damaged volume may loop or run deep; the walks never follow a folder that
// is already on the current path and stop at this depth.
constexpr int kMaxDepth = 256;
// How many numbered copies of one name a folder may take before the name counts as failed.
constexpr int kMaxCopies = 100000;

struct Walker {
    explicit Walker(const ScanSession& s, FileFilter f = {}) : session(s), filter(std::move(f)) {}
    const ScanSession& session;
    FileFilter filter;
    std::set<ItemData> onPath;
    // Paths given out in this walk. Two records of one name in a folder (a deleted and a live
    // "x.txt", say) both come out: the second as "x (2).txt". Folders of one name share their
    // directory.
    std::set<std::string> files, folders;

    bool taken(const std::string& path) const { return files.count(path) != 0 || folders.count(path) != 0; }

    std::string claim(const std::string& dir, const std::string& name, bool folder) {
        if (folder && folders.count(dir + name) != 0) return dir + name;
        std::string path = dir + withCopyNumber(name, 1, !folder);
        for (int n = 2; taken(path); ++n) path = dir + withCopyNumber(name, n, !folder);
        (folder ? folders : files).insert(path);
        return path;
    }

    bool enter(ItemData folder, int depth) {
        return depth < kMaxDepth && session.entersFolder(folder) && onPath.insert(folder).second;
    }
    void leave(ItemData folder) { onPath.erase(folder); }

    bool takes(ItemData file, ItemData folder) const { return !filter || filter(file, folder); }

    std::uint64_t count(const std::vector<ItemData>& children, int depth, ItemData folder = 0) {
        std::uint64_t n = 0;
        for (ItemData x : children) {
            const SaveKind kind = session.saveKind(x);
            if (kind == SaveKind::File) {
                if (takes(x, folder)) ++n;
            } else if (kind == SaveKind::Folder && enter(x, depth)) {
                n += count(session.children(x), depth + 1, x);
                leave(x);
            }
        }
        return n;
    }
};

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
    Placed p;
    for (int n = 1; n < kMaxCopies; ++n) {
        const std::string candidate = withCopyNumber(name, n, true);
        const std::string path = relDir + candidate;
        if (walker.taken(path)) continue;
        if (out.createAt(dir.fd(), candidate)) {
            walker.files.insert(path);
            return {path, true, 0};
        }
        p = {path, false, out.errorCode()};
        if (out.errorCode() != EEXIST) return p;
    }
    return p;
}

Placed placeFolder(Walker& walker, const platform::OutputFolder& dir, const std::string& relDir,
                   const std::string& name, platform::OutputFolder& child) {
    Placed p;
    for (int n = 1; n < kMaxCopies; ++n) {
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

std::uint64_t expected_or(const ScanSession& session, ItemData x) { return session.size(x); }

std::string folderName(const ScanSession& session, ItemData x) { return safeFileName(trimmed(session.saveName(x))); }

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
    Walker walker(session, filter);
    return walker.count(children, 0);
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
    Walker walker(session, filter);
    std::function<void(const std::vector<ItemData>&, const platform::OutputFolder&, const std::string&, int, ItemData)>
        save = [&](const std::vector<ItemData>& kids, const platform::OutputFolder& folder, const std::string& rel,
                   int depth, ItemData opened) {
            if (!kids.empty() && !host.stopRequested()) host.setProgressPos(static_cast<std::int64_t>(result.files));
            for (ItemData x : kids) {
                if (!result.outputFull.empty()) return;
                if (host.checkpoint()) {
                    result.stopped = true;
                    return;
                }
                const SaveKind kind = session.saveKind(x);
                if (kind == SaveKind::Folder) {
                    if (filter && walker.enter(x, depth)) {
                        // A folder with nothing the filter takes below it is not made.
                        const bool empty = walker.count(session.children(x), depth + 1, x) == 0;
                        walker.leave(x);
                        if (empty) continue;
                    }
                    platform::OutputFolder child;
                    const Placed placed = placeFolder(walker, folder, rel, folderName(session, x), child);
                    if (!placed.ok) {
                        // Nothing below this folder can be written; count it as failed.
                        const std::uint64_t lost = walker.count(session.children(x), depth + 1, x);
                        result.files += lost;
                        result.failed += lost;
                        result.problems.push_back({base + placed.path, 0, std::strerror(placed.error)});
                        continue;
                    }
                    if (walker.enter(x, depth)) {
                        save(session.children(x), child, placed.path + "/", depth + 1, x);
                        walker.leave(x);
                    }
                } else if (kind == SaveKind::File) {
                    if (!walker.takes(x, opened)) continue;
                    ++result.files;
                    if (!session.isExtracted(x)) continue;
                    platform::OutputFile out;
                    const Placed placed = placeFile(walker, folder, rel, safeFileName(trimmed(session.saveName(x))), out);
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
                    // No file holds more than the volume: a size beyond that comes from a damaged
                    // record, and the rest is cut (and reported).
                    out.setLimit(session.volumeBytes());
                    const std::uint64_t unreadBefore = reader != nullptr ? reader->unreadBytes() : 0;
                    bool ok = session.extract(x, out, &host);
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
                        result.problems.push_back({base + placed.path, expected_or(session, x), std::strerror(writeError)});
                        return;
                    }
                    ok = out.close() && ok;
                    result.bytes += out.length();
                    result.mediumBytes += out.length() - std::min<std::uint64_t>(unread, out.length());
                    // Bytes that did not come from the medium: reads that came up short (written as
                    // zeros), what was cut at the limit, and what the file's record promised but
                    // extraction could not reach.
                    const std::uint64_t expected = session.size(x);
                    std::uint64_t missing = unread + out.cutBytes();
                    if (expected > out.length()) missing = std::max(missing, expected - out.length());
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
    save(children, top, "", 0, 0);
    result.beyondVolume = result.mediumBytes > session.volumeBytes();
    return result;
}

void walkEntries(const ScanSession& session, const std::vector<ItemData>& children, ItemData parent,
                 const std::function<void(const ListedEntry&)>& visit) {
    Walker walker(session);
    std::function<void(const std::vector<ItemData>&, ItemData, const std::string&, int)> walk =
        [&](const std::vector<ItemData>& kids, ItemData opened, const std::string& prefix, int depth) {
            for (ItemData x : kids) {
                const SaveKind kind = session.saveKind(x);
                ListedEntry e;
                e.data = x;
                e.folder = kind == SaveKind::Folder;
                e.deleted = session.isDeleted(x, opened);
                e.size = e.folder ? 0 : session.size(x);
                e.path = walker.claim(prefix, e.folder ? folderName(session, x) : safeFileName(trimmed(session.saveName(x))),
                                      e.folder);
                visit(e);
                if (e.folder && walker.enter(x, depth)) {
                    walk(session.children(x), x, e.path + "/", depth + 1);
                    walker.leave(x);
                }
            }
        };
    walk(children, parent, "", 0);
}

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
            if (session.saveKind(x) == SaveKind::Folder && folderName(session, x) == part) {
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
