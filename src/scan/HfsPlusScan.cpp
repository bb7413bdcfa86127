// The HFS+ scan: the parser's steps in the order of the recovery mode, and the session that
// shows and saves its entries. Item data is the entry's catalog node ID.

#include "common/ScanHost.h"
#include "fs/hfsplus/HFSP.h"
#include "platform/Files.h"
#include "scan/Families.h"

namespace corvello {

namespace {

class HfsPlusSession : public ScanSession {
public:
    explicit HfsPlusSession(std::unique_ptr<HFSP> parser) : p_(std::move(parser)) {}

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
        const HFSP::FileTimes t = p_->recordFileTimes(target != nullptr ? *target : *e);
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
    bool extractDirect(ItemData data, platform::OutputFile& out, const ScanHost* /*host*/) override {
        const HfsEntry* e = p_->find(data);
        if (e == nullptr) return false;
        // The parser's record stays in place; extraction works on a copy.
        const HfsEntry copy = *e;
        const HfsExtractResult result = p_->extractEntry(out, copy);
        // An empty file has nothing to write: that is not a failure, and no file stands for it;
        // neither does one for a file whose data could not be found.
        if (result == HfsExtractResult::NothingToWrite || result == HfsExtractResult::NoData) out.discard();
        return result == HfsExtractResult::Written || result == HfsExtractResult::NothingToWrite;
    }

private:
    std::unique_ptr<HFSP> p_;
};

}  // namespace

std::unique_ptr<ScanSession> runHfsPlusScan(const ScanRequest& request, ScanHost& host, ResultTree& tree) {
    auto parser = std::make_unique<HFSP>();
    parser->volume = request.volume;
    parser->tree = &tree;
    parser->host = &host;
    parser->view = volumeViewOf(request);
    parser->rootLabel = request.rootLabel;
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
