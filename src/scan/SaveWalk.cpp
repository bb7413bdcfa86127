#include "scan/SaveWalk.h"

#include <set>

#include "common/ScanHost.h"
#include "common/Text.h"
#include "platform/Files.h"
#include "scan/ScanSession.h"

namespace corvello {

namespace {

// Folder chains on a damaged volume may loop or run deep; the walks never follow a folder that
// is already on the current path and stop at this depth.
constexpr int kMaxDepth = 256;

struct Walker {
    explicit Walker(const ScanSession& s) : session(s) {}
    const ScanSession& session;
    std::set<ItemData> onPath;
    // Paths given out in this walk. Two records of one name in a folder (a deleted and a live
    // "x.txt", say) both come out: the second as "x (2).txt". Folders of one name share their
    // directory.
    std::set<std::string> files, folders;

    std::string claim(const std::string& dir, const std::string& name, bool folder) {
        std::string path = dir + name;
        if (folder && folders.count(path) != 0) return path;
        const auto dot = name.rfind('.');
        const bool hasExtension = !folder && dot != std::string::npos && dot > 0;
        const std::string stem = hasExtension ? name.substr(0, dot) : name;
        const std::string extension = hasExtension ? name.substr(dot) : std::string();
        for (int n = 2; files.count(path) != 0 || folders.count(path) != 0; ++n)
            path = dir + stem + " (" + std::to_string(n) + ")" + extension;
        (folder ? folders : files).insert(path);
        return path;
    }

    bool enter(ItemData folder, int depth) {
        return depth < kMaxDepth && session.entersFolder(folder) && onPath.insert(folder).second;
    }
    void leave(ItemData folder) { onPath.erase(folder); }

    std::uint64_t count(const std::vector<ItemData>& children, int depth) {
        std::uint64_t n = 0;
        for (ItemData x : children) {
            const SaveKind kind = session.saveKind(x);
            if (kind == SaveKind::File) {
                ++n;
            } else if (kind == SaveKind::Folder && enter(x, depth)) {
                n += count(session.children(x), depth + 1);
                leave(x);
            }
        }
        return n;
    }
};

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

std::uint64_t countFiles(const ScanSession& session, const std::vector<ItemData>& children) {
    Walker walker(session);
    return walker.count(children, 0);
}

SaveResult saveRecords(ScanSession& session, const std::vector<ItemData>& children, const std::string& dir,
                       ScanHost& host) {
    SaveResult result;
    Walker walker(session);
    std::function<void(const std::vector<ItemData>&, const std::string&, int)> save =
        [&](const std::vector<ItemData>& kids, const std::string& path, int depth) {
            platform::makeDirectories(path);
            if (!kids.empty() && !host.stopRequested()) host.setProgressPos(static_cast<std::int64_t>(result.files));
            for (ItemData x : kids) {
                if (host.checkpoint()) return;
                const SaveKind kind = session.saveKind(x);
                if (kind == SaveKind::Folder) {
                    const std::string childPath = walker.claim(path + "/", folderName(session, x), true);
                    platform::makeDirectory(childPath);
                    if (walker.enter(x, depth)) {
                        save(session.children(x), childPath, depth + 1);
                        walker.leave(x);
                    }
                } else if (kind == SaveKind::File) {
                    ++result.files;
                    const std::string full = walker.claim(path + "/", safeFileName(trimmed(session.saveName(x))), false);
                    host.setStatus("saving File  " + full);
                    if (!session.isExtracted(x)) continue;
                    if (session.extract(x, full))
                        ++result.written;
                    else
                        ++result.failed;
                }
            }
        };
    save(children, dir, 0);
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

bool recordsAtPath(const ScanSession& session, const ResultTree& tree, const std::string& path,
                   std::vector<ItemData>& children) {
    children = topLevelRecords(session, tree);
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty()) continue;
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
