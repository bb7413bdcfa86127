#include "scan/NameSearch.h"

#include <set>
#include <vector>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "scan/SaveWalk.h"
#include "scan/ScanSession.h"

namespace corvello {

namespace {

// Folder chains on a damaged volume may loop or run deep: a folder already on the path is not
// entered again, and the walk stops at this depth.
constexpr int kMaxDepth = 256;

struct NameWalker {
    const ScanSession& session;
    const std::function<bool(const std::u16string&)>& matches;
    ScanHost& host;
    const std::function<void(const FoundFile&)>& found;
    std::uint64_t examined = 0;
    std::uint64_t hits = 0;
    std::set<ItemData> onPath;
    bool stopped = false;

    void file(ItemData x, const std::u16string& prefix) {
        ++examined;
        const std::u16string name = session.name(x);
        if (matches(name)) {
            ++hits;
            found(FoundFile{x, prefix + u"\\" + name});
            host.setStatus(format("searched file %lld", static_cast<long long>(hits)));
        }
        if ((examined & 63) == 0) host.setProgressPos(static_cast<std::int64_t>(examined));
    }

    void folder(ItemData r, const std::u16string& path, int depth) {
        if (depth >= kMaxDepth || !onPath.insert(r).second) return;
        for (ItemData x : session.children(r)) {
            if (host.checkpoint()) {
                stopped = true;
                break;
            }
            const SaveKind kind = session.saveKind(x);
            if (kind == SaveKind::File) {
                file(x, trimmedRight(path));
            } else if (kind == SaveKind::Folder && session.entersFolder(x)) {
                const std::u16string name = session.name(x);
                folder(x, name.empty() ? trimmedRight(path) : trimmedRight(path) + u"\\" + name, depth + 1);
            }
        }
        onPath.erase(r);
    }
};

}  // namespace

std::uint64_t searchNames(const ScanSession& session, const ResultTree& tree,
                          const std::function<bool(const std::u16string& name)>& matches, ScanHost& host,
                          const std::function<void(const FoundFile&)>& found) {
    const TreeItem root = session.rootItem();
    if (root == 0) return 0;
    const std::u16string prefix = tree.itemText(root);
    const std::vector<ItemData> top = topLevelRecords(session, tree);
    host.setProgressRange(0, static_cast<std::int64_t>(countFiles(session, top)));
    NameWalker walker{session, matches, host, found, 0, 0, {}, false};
    for (ItemData x : top) {
        if (walker.stopped || host.checkpoint()) break;
        const SaveKind kind = session.saveKind(x);
        if (kind == SaveKind::Folder) {
            if (session.entersFolder(x))
                walker.folder(x, trimmed(prefix + u"\\" + trimmedRight(session.name(x))), 1);
        } else if (kind == SaveKind::File) {
            walker.file(x, prefix);
        }
    }
    host.setProgressPos(static_cast<std::int64_t>(walker.examined));
    return walker.hits;
}

}  // namespace corvello
