// The HFS+ scan: the parser's steps in the order of the recovery mode, and the session that
// shows and saves its entries. Item data is the entry's catalog node ID.

#include <algorithm>
#include <mutex>

#include "common/ScanHost.h"
#include "fs/hfsplus/HfsPlusParser.h"
#include "scan/Families.h"

namespace corvello {

namespace {

class HfsPlusSession : public ScanSession {
public:
    explicit HfsPlusSession(std::unique_ptr<HfsPlusParser> parser) : p_(std::move(parser)) {}

    TreeItem rootItem() const override { return p_->rootItem; }
    bool isValid(ItemData data) const override { return data != 0 && p_->find(data) != nullptr; }
    bool isFolder(ItemData data) const override {
        const HfsEntry* e = p_->find(data);
        return e != nullptr && e->kind == 1;
    }
    std::vector<ItemData> children(ItemData data) const override {
        const auto kids = p_->childrenOf(data);
        return {kids.begin(), kids.end()};
    }
    bool isDeleted(ItemData, ItemData) const override { return false; }
    std::u16string name(ItemData data) const override {
        const HfsEntry* e = p_->find(data);
        return e != nullptr ? e->name : std::u16string();
    }
    std::uint64_t size(ItemData data) const override {
        const HfsEntry* e = p_->find(data);
        if (e == nullptr) return 0;
        const HfsEntry* target = p_->hardLinkTarget(*e);
        return target != nullptr ? target->size : e->size;
    }
    std::array<std::string, 4> rowTexts(ItemData data) const override {
        std::array<std::string, 4> out{};
        if (const HfsEntry* e = p_->find(data)) {
            const HfsEntry* target = p_->hardLinkTarget(*e);
            p_->timeTexts(target != nullptr ? *target : *e, out);
        }
        return out;
    }
    EntryTimes times(ItemData data) const override {
        const HfsEntry* e = p_->find(data);
        if (e == nullptr) return {};
        const HfsEntry* target = p_->hardLinkTarget(*e);
        const HfsPlusParser::FileTimes t = p_->recordFileTimes(target != nullptr ? *target : *e);
        if (!t.known) return {};
        return {t.modification, t.access, std::nullopt, t.creation};
    }
    std::string sizeText(ItemData data) const override {
        const HfsEntry* e = p_->find(data);
        if (e == nullptr) return {};
        const HfsEntry* target = p_->hardLinkTarget(*e);
        return p_->sizeText(target != nullptr ? *target : *e);
    }
    bool isSavableFolder(ItemData data) const override { return isFolder(data); }
    SaveKind saveKind(ItemData data) const override {
        const HfsEntry* e = p_->find(data);
        if (e == nullptr) return SaveKind::Skip;
        if (e->kind == 1) return SaveKind::Folder;
        return e->kind == 2 ? SaveKind::File : SaveKind::Skip;
    }
    // Reads along the data fork's runs: the bytes of blocks outside the volume are left out,
    // and a file whose runs hold fewer bytes than its size ends where they do.
    std::optional<std::size_t> readData(ItemData data, std::uint64_t offset, std::span<std::uint8_t> buffer,
                                        ReadNotes& notes) override {
        if (!isValid(data) || saveKind(data) != SaveKind::File) return std::nullopt;
        const std::lock_guard<std::mutex> lock(mutex_);
        const Runs& r = runsOf(data);
        return readRuns(p_->view, r.runs, r.length, r.covered, r.length, offset, buffer, notes);
    }
    std::vector<ByteRun> byteRuns(ItemData data) const override {
        if (!isValid(data) || saveKind(data) != SaveKind::File) return {};
        const std::lock_guard<std::mutex> lock(mutex_);
        return runsOf(data).runs;
    }

protected:
    // An empty file has nothing to write: that is not a failure, and no file stands for it;
    // neither does one for a file whose data could not be found.
    DataPresence presence(ItemData data) const override {
        const std::lock_guard<std::mutex> lock(mutex_);
        const Runs& r = runsOf(data);
        if (r.length == 0) return DataPresence::Empty;
        return r.runs.empty() ? DataPresence::Missing : DataPresence::Data;
    }

private:
    // A file's data fork as runs of volume bytes in file order, none past its size.
    struct Runs {
        ItemData file = 0;
        std::uint64_t length = 0;   // the file's size
        std::uint64_t covered = 0;  // the bytes the runs hold (at most length)
        std::vector<ByteRun> runs;
    };
    // The runs of the last file asked for (reads come in a row); a hard link reads as the file
    // it names (one step). The caller holds mutex_.
    const Runs& runsOf(ItemData data) const {
        if (cache_.file == data) return cache_;
        cache_ = Runs{};
        cache_.file = data;
        const HfsEntry* e = p_->find(data);
        if (e == nullptr) return cache_;
        const HfsEntry* target = p_->hardLinkTarget(*e);
        const HfsEntry& file = target != nullptr ? *target : *e;
        cache_.length = file.size;
        std::vector<HfsExtent> blocks;
        if (file.size == 0 || !p_->dataRuns(file, blocks)) return cache_;
        for (const HfsExtent& b : blocks) {
            if (cache_.covered >= cache_.length) break;
            const std::uint64_t bytes =
                std::min(std::uint64_t{b.blockCount} * p_->blockSize, cache_.length - cache_.covered);
            cache_.runs.push_back({cache_.covered, std::uint64_t{b.startBlock} * p_->blockSize, bytes});
            cache_.covered += bytes;
        }
        return cache_;
    }

    std::unique_ptr<HfsPlusParser> p_;
    mutable std::mutex mutex_;  // the runs cache; the parser's lookups fill indexes as they go
    mutable Runs cache_;
};

}  // namespace

std::unique_ptr<ScanSession> runHfsPlusScan(const ScanRequest& request, ScanHost& host, ResultTree& tree) {
    auto parser = std::make_unique<HfsPlusParser>(parserInputs(request, host, &tree));
    host.setStatus("HFS+ partition selected....");

    parser->attachReader();
    const bool ready = parser->readVolumeHeader() &&
                       (request.mode == RecoveryMode::Standard ? parser->readCatalogNodes()
                                                               : parser->scanCatalogNodes()) &&
                       parser->readExtentsNodes();
    if (!ready) {
        host.setStatus("Work Aborted....");
        return nullptr;
    }
    parser->parseCatalogLeaves();
    parser->linkEntries();
    parser->fillTreeTopLevel();
    host.setStatus("Work Done.");
    return std::make_unique<HfsPlusSession>(std::move(parser));
}

}  // namespace corvello
