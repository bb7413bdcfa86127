#pragma once
// The records of a scanned volume below a folder as one table, whatever the file system: each
// family's records, walked once through its session, each row with its parent, first child and
// next sibling, kind, state and size, and its name and times where asked. The listing, the
// reports, the mount tree, the name search and the save read the table instead of walking the
// family's records again.
//
// Rows come in the walk's order: parents first, children in the family's order. Folder chains
// on a damaged volume may loop or run deep: a folder already on the current path is listed but
// not entered again, and no folder is entered below kMaxRecordDepth.

#include <cstdint>
#include <string>
#include <vector>

#include "common/ResultTree.h"
#include "scan/ScanSession.h"

namespace corvello {

inline constexpr std::uint32_t kNoRecord = UINT32_MAX;
inline constexpr int kMaxRecordDepth = 256;

struct Record {
    ItemData data = 0;  // the family's id of the record
    std::uint32_t parent = kNoRecord;
    std::uint32_t firstChild = kNoRecord;
    std::uint32_t nextSibling = kNoRecord;
    SaveKind kind = SaveKind::Skip;
    bool deleted = false;  // shown as deleted below its parent
    bool entered = false;  // a folder whose children are rows of the table
    std::uint64_t size = 0;  // the bytes a file's save writes; 0 for folders
    std::u16string name;     // as stored; with RecordTable::kNames only
};

class RecordTable {
public:
    // What a fill asks of the family besides kinds, states, sizes and links. A table is kept
    // while a save or a report runs over a whole volume: what is not asked for takes no room.
    enum Detail : unsigned { kNames = 1, kTimes = 2 };

    // The records from top (the children of parent, 0 for the tree's root) down, every level.
    // The table asks session for the names a save gives; it must outlive the table.
    static RecordTable fill(const ScanSession& session, const std::vector<ItemData>& top, ItemData parent = 0,
                            unsigned detail = 0);

    const std::vector<Record>& rows() const { return rows_; }
    const Record& operator[](std::uint32_t row) const { return rows_[row]; }
    bool empty() const { return rows_.empty(); }
    // The first row of the top level (kNoRecord when there is none); its siblings follow.
    std::uint32_t first() const { return rows_.empty() ? kNoRecord : 0; }
    // The family's id of a row's parent (the fill's parent for the top level).
    ItemData parentData(std::uint32_t row) const {
        const std::uint32_t p = rows_[row].parent;
        return p == kNoRecord ? topParent_ : rows_[p].data;
    }
    // The row's times (with kTimes; else none).
    EntryTimes times(std::uint32_t row) const { return row < times_.size() ? times_[row] : EntryTimes{}; }
    // The name a save gives the row's record, before it is made safe as a path component.
    std::u16string saveName(std::uint32_t row) const { return session_->saveName(rows_[row].data); }

private:
    const ScanSession* session_ = nullptr;
    std::vector<Record> rows_;
    std::vector<EntryTimes> times_;
    ItemData topParent_ = 0;
};

}  // namespace corvello
