#pragma once
// The session over the records of a FAT-family parser (FAT12/16, FAT32, exFAT). Item data is
// the record's index + 1, so that 0 never names a record; record 0 stands for the root folder
// and is not an item of its own. What differs between the families (the folder and deleted
// tests, the size, the recycle bin) comes from the derived session.

#include <array>
#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fs/fat/FatCommon.h"
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
    // Reads along the file's clusters, one after another from the first where the chain is
    // gone (a deleted file, a rewritten FAT); bytes past the valid data length (exFAT) are zeros.
    std::optional<std::size_t> readData(ItemData data, std::uint64_t offset, std::span<std::uint8_t> buffer,
                                        ReadNotes& notes) override {
        if (!isValid(data) || isFolder(data) || parser_->view() == nullptr) return std::nullopt;
        std::uint64_t covered = 0;
        const std::lock_guard<std::mutex> lock(mutex_);
        const std::vector<ByteRun>& runs = runsOf(data, covered);
        const std::uint64_t length = size(data);
        const std::uint64_t valid = std::min(validLength(data), length);
        return readRuns(*parser_->view(), runs, length, covered == valid ? length : covered, valid, offset, buffer,
                        notes);
    }
    std::vector<ByteRun> byteRuns(ItemData data) const override {
        std::vector<ByteRun> out;
        if (!isValid(data) || isFolder(data)) return out;
        std::uint64_t covered = 0;
        const std::lock_guard<std::mutex> lock(mutex_);
        for (const ByteRun& r : runsOf(data, covered))
            if (r.volumeOffset != UINT64_MAX) out.push_back(r);
        return out;
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
    std::uint64_t dataEnd(ItemData data) const override { return validLength(data); }
    const Entry& entry(ItemData data) const { return parser_->entries[data - 1]; }
    // The bytes of the file its clusters hold (exFAT: its valid data length).
    virtual std::uint64_t validLength(ItemData data) const { return size(data); }

    // The file's runs in file order, kept for the last file asked for (reads come in a row);
    // covered receives the bytes they hold. The caller holds mutex_.
    const std::vector<ByteRun>& runsOf(ItemData data, std::uint64_t& covered) const {
        if (runsItem_ != data) {
            runs_.clear();
            runsCovered_ = 0;
            for (const ClusterRun& r : parser_->dataRuns(entry(data))) {
                const std::uint64_t at = r.volumeOffset < 0 ? UINT64_MAX : static_cast<std::uint64_t>(r.volumeOffset);
                runs_.push_back({runsCovered_, at, r.length});
                runsCovered_ += r.length;
            }
            runsItem_ = data;
        }
        covered = runsCovered_;
        return runs_;
    }

    mutable std::mutex mutex_;  // the FAT cache is filled as it is read
    std::unique_ptr<Parser> parser_;
    TreeItem root_;

private:
    mutable ItemData runsItem_ = 0;
    mutable std::vector<ByteRun> runs_;
    mutable std::uint64_t runsCovered_ = 0;
};

}  // namespace corvello
