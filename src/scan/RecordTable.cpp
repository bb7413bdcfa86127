#include "scan/RecordTable.h"

#include <set>

namespace corvello {

namespace {

struct Filler {
    const ScanSession& session;
    unsigned detail;
    std::vector<Record>& rows;
    std::vector<EntryTimes>& times;
    std::set<ItemData> onPath;

    void add(const std::vector<ItemData>& kids, std::uint32_t parentRow, ItemData parentData, int depth) {
        std::uint32_t previous = kNoRecord;
        for (ItemData x : kids) {
            Record r;
            r.data = x;
            r.parent = parentRow;
            r.kind = session.saveKind(x);
            r.deleted = session.isDeleted(x, parentData);
            r.size = r.kind == SaveKind::Folder ? 0 : session.size(x);
            if (detail & RecordTable::kNames) r.name = session.name(x);
            if (detail & RecordTable::kTimes) times.push_back(session.times(x));
            const auto row = static_cast<std::uint32_t>(rows.size());
            rows.push_back(std::move(r));
            if (previous != kNoRecord)
                rows[previous].nextSibling = row;
            else if (parentRow != kNoRecord)
                rows[parentRow].firstChild = row;
            previous = row;
            if (rows[row].kind == SaveKind::Folder && depth < kMaxRecordDepth && session.entersFolder(x) &&
                onPath.insert(x).second) {
                rows[row].entered = true;
                add(session.children(x), row, x, depth + 1);
                onPath.erase(x);
            }
        }
    }
};

}  // namespace

RecordTable RecordTable::fill(const ScanSession& session, const std::vector<ItemData>& top, ItemData parent,
                              unsigned detail) {
    RecordTable table;
    table.session_ = &session;
    table.topParent_ = parent;
    Filler filler{session, detail, table.rows_, table.times_, {}};
    filler.add(top, kNoRecord, parent, 0);
    return table;
}

}  // namespace corvello
