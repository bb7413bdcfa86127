#pragma once
// The session over the records of a FAT-family parser (FAT12/16, FAT32, exFAT). Item data is
// the record's index + 1, so that 0 never names a record; record 0 stands for the root folder
// and is not an item of its own. What differs between the families (the folder and deleted
// tests, the size, the recycle bin) comes from the derived session.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "scan/ScanSession.h"

namespace corvello {

template <class Parser, class Entry>
class FatFamilySession : public ScanSession {
public:
    FatFamilySession(std::unique_ptr<Parser> parser, TreeItem root) : parser_(std::move(parser)), root_(root) {}

    TreeItem rootItem() const override { return root_; }
    bool isValid(ItemData data) const override { return data >= 2 && data <= parser_->entries.size(); }
    std::vector<ItemData> children(ItemData data) const override {
        std::vector<ItemData> out;
        if (!isValid(data)) return out;
        const auto& list = parser_->entries;
        for (std::uint32_t i = entry(data).firstChild; i < list.size() && out.size() < list.size();
             i = list[i].nextSibling)
            out.push_back(i + 1);
        return out;
    }
    std::u16string name(ItemData data) const override {
        if (!isValid(data)) return {};
        return entry(data).name;
    }
    std::array<std::string, 4> rowTexts(ItemData data) const override {
        if (!isValid(data)) return {};
        return Parser::formatTimes(entry(data));
    }
    std::string sizeText(ItemData data) const override {
        if (!isValid(data)) return {};
        return Parser::formatSize(entry(data));
    }
    bool isSavableFolder(ItemData data) const override { return isFolder(data); }
    SaveKind saveKind(ItemData data) const override {
        if (!isValid(data)) return SaveKind::Skip;
        return isFolder(data) ? SaveKind::Folder : SaveKind::File;
    }
    // Saved files take the name of the record at their index in entryCopy.
    std::u16string saveName(ItemData data) const override {
        if (!isValid(data)) return {};
        const std::uint32_t index = entry(data).index;
        const auto& copy = parser_->entryCopy;
        if (index < copy.size()) return copy[index].name;
        return entry(data).name;
    }
    bool extract(ItemData data, platform::OutputFile& out) override {
        return isValid(data) && !isFolder(data) && parser_->extractFile(out, entry(data));
    }
    // The recycle-bin pass renames the record and its entryCopy twin.
    bool rename(ItemData data, const std::u16string& newName) override {
        if (!isValid(data)) return false;
        Entry& e = parser_->entries[data - 1];
        e.name = newName;
        if (e.index < parser_->entryCopy.size()) parser_->entryCopy[e.index].name = newName;
        return true;
    }

    Parser& parser() { return *parser_; }

protected:
    const Entry& entry(ItemData data) const { return parser_->entries[data - 1]; }
    std::unique_ptr<Parser> parser_;
    TreeItem root_;
};

}  // namespace corvello
