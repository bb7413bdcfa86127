#include "scan/NameSearch.h"

#include <vector>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "scan/RecordTable.h"
#include "scan/SaveWalk.h"
#include "scan/ScanSession.h"

namespace corvello {

std::uint64_t searchNames(const ScanSession& session, const ResultTree& tree,
                          const std::function<bool(const std::u16string& name)>& matches, ScanHost& host,
                          const std::function<void(const FoundFile&)>& found) {
    const TreeItem root = session.rootItem();
    if (root == 0) return 0;
    const std::u16string prefix = tree.itemText(root);
    const RecordTable table = RecordTable::fill(session, topLevelRecords(session, tree), 0, RecordTable::kNames);
    std::uint64_t files = 0;
    for (const Record& r : table.rows()) files += r.kind == SaveKind::File ? 1 : 0;
    host.setProgressRange(0, static_cast<std::int64_t>(files));
    std::uint64_t examined = 0;
    std::uint64_t hits = 0;
    bool stopped = false;
    // folder: the folder's path as shown ("ROOT\a\b"); the top level's files go below the
    // root item's text as it stands.
    std::function<void(std::uint32_t, const std::u16string&, bool)> walk = [&](std::uint32_t first,
                                                                                const std::u16string& folder, bool top) {
        for (std::uint32_t row = first; row != kNoRecord && !stopped; row = table[row].nextSibling) {
            if (host.checkpoint()) {
                stopped = true;
                break;
            }
            const Record& r = table[row];
            if (r.kind == SaveKind::File) {
                ++examined;
                if (matches(r.name)) {
                    ++hits;
                    found(FoundFile{r.data, (top ? folder : trimmedRight(folder)) + u"\\" + r.name});
                    host.setStatus(format("searched file %lld", static_cast<long long>(hits)));
                }
                if ((examined & 63) == 0) host.setProgressPos(static_cast<std::int64_t>(examined));
            } else if (r.kind == SaveKind::Folder && r.entered) {
                const std::u16string path = top            ? trimmed(folder + u"\\" + trimmedRight(r.name))
                                            : r.name.empty() ? trimmedRight(folder)
                                                             : trimmedRight(folder) + u"\\" + r.name;
                walk(r.firstChild, path, false);
            }
        }
    };
    walk(table.first(), prefix, true);
    host.setProgressPos(static_cast<std::int64_t>(examined));
    return hits;
}

}  // namespace corvello
