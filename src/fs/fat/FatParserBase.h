#pragma once
// What every FAT-family parser (FAT12/16, FAT32, exFAT) holds from the scan and does first:
// the volume record, the results tree, the host, the reader placed at the volume's start.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ResultTree.h"
#include "common/Text.h"
#include "common/VolumeRecord.h"
#include "device/VolumeView.h"
#include "fs/ParserInputs.h"

namespace corvello {

class ScanHost;

class FatParserBase {
public:
    explicit FatParserBase(const ParserInputs& inputs = {});
    virtual ~FatParserBase() = default;
    FatParserBase(const FatParserBase&) = delete;
    FatParserBase& operator=(const FatParserBase&) = delete;

    // From the parser's inputs.
    VolumeRecord volume;
    ResultTree* tree = nullptr;  // may be null
    ScanHost* host = nullptr;    // may be null
    std::int64_t volumeBytes = 0;
    bool driveFormatted = false;  // the FATs were rewritten: follow no chain, take clusters in order
    std::u16string rootLabel = u"ROOT";
    int codePage = kDefaultOemCodePage;  // the OEM code page of the short names

    // Reads through the inputs' view of the volume from here on and inserts the root item.
    bool attachReader();

    TreeItem rootItem = 0;

protected:
    void status(const std::string& text);

    // Appends entry as record entries.size(). A volume gives at most kMaxRecords records; past
    // that, says once that the rest is not listed and answers false.
    template <class Entry>
    bool appendRecord(std::vector<Entry>& entries, Entry& entry) {
        if (entries.size() >= kMaxRecords) {
            if (!full_) status("Too many entries on this volume; the rest is not listed.");
            full_ = true;
            return false;
        }
        entry.index = static_cast<std::uint32_t>(entries.size());
        entries.push_back(entry);
        return true;
    }
    // The copy kept for saving takes the links its records got.
    template <class Entry>
    static void copyLinks(const std::vector<Entry>& entries, std::vector<Entry>& copies) {
        for (auto& copy : copies) {
            if (copy.index < entries.size()) {
                copy.firstChild = entries[copy.index].firstChild;
                copy.nextSibling = entries[copy.index].nextSibling;
            }
        }
    }
    // Puts the records directly below the root (record 0 stands for it) into the tree, each
    // folder expanded, deleted ones drawn as such; the item data is the record's index + 1.
    template <class Entry, class IsFolder, class IsDeleted>
    void fillTopLevel(const std::vector<Entry>& entries, IsFolder isFolder, IsDeleted isDeleted) {
        if (tree == nullptr || rootItem == 0) return;
        for (std::size_t i = 1; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            if ((i & 0x3FF) == 0) tellFilling(i);
            if (e.parent != 0) continue;
            const bool folder = isFolder(e);
            const TreeItem item = tree->insertItem(rootItem, e.name, folder ? IconKind::Folder : IconKind::File, i + 1,
                                                   isDeleted(e) ? kDeletedColor : kDefaultColor);
            if (folder) tree->expand(item);
        }
        tree->expand(rootItem);
    }

    // "filling entry =N in tree "
    void tellFilling(std::size_t record);

    static constexpr std::size_t kMaxRecords = 20'000'000;
    VolumeView view_;  // the inputs' view; read through reader_ once attached
    const VolumeView* reader_ = nullptr;  // &view_ once a view is attached
    bool full_ = false;                    // kMaxRecords reached: the walks end
};

}  // namespace corvello
