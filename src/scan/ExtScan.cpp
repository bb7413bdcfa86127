#include <memory>
#include <mutex>
#include <unordered_set>

#include "common/ScanHost.h"
#include "fs/ext/ext2Class.h"
#include "scan/Families.h"

namespace corvello {

namespace {

// The results of an ext scan: item data are the addresses of the parser's records.
class ExtSession : public ScanSession {
public:
    explicit ExtSession(std::unique_ptr<ext2Class> parser) : parser_(std::move(parser)) {
        for (const auto& [key, entry] : parser_->entries()) valid_.insert(reinterpret_cast<ItemData>(&entry));
    }

    TreeItem rootItem() const override { return parser_->rootItem(); }
    bool isValid(ItemData data) const override { return data != 0 && valid_.count(data) != 0; }
    bool isFolder(ItemData data) const override { return isValid(data) && extIsDirectory(record(data).mode); }

    std::vector<ItemData> children(ItemData data) const override {
        std::vector<ItemData> out;
        if (!isValid(data)) return out;
        std::size_t steps = 0;
        for (std::int32_t k = record(data).firstChild; k > 0 && steps <= valid_.size(); ++steps) {
            const ExtEntry* child = parser_->entry(static_cast<std::uint32_t>(k));
            if (child == nullptr) break;
            k = child->nextSibling;
            if (!child->name.empty()) out.push_back(reinterpret_cast<ItemData>(child));
        }
        return out;
    }

    bool isDeleted(ItemData child, ItemData /*openedFolder*/) const override {
        return isValid(child) && record(child).deleted;
    }
    std::u16string name(ItemData data) const override {
        return isValid(data) ? extNameText(record(data).name) : std::u16string();
    }
    std::uint64_t size(ItemData data) const override { return isValid(data) ? record(data).size : 0; }

    std::array<std::string, 4> rowTexts(ItemData data) const override {
        return isValid(data) ? parser_->timeTexts(record(data)) : std::array<std::string, 4>{};
    }
    std::string sizeText(ItemData data) const override {
        return isValid(data) ? parser_->sizeText(record(data)) : std::string();
    }
    // An inode keeps its change time where the display shows a creation time; large inodes
    // keep the creation time too.
    EntryTimes times(ItemData data) const override {
        if (!isValid(data)) return {};
        const ExtInodeTimes t = parser_->inodeFileTimes(record(data));
        if (t.creation.seconds == 0 && t.access.seconds == 0 && t.modification.seconds == 0) return {};
        return {t.modification, t.access, t.creation, t.birth};
    }

    bool isSavableFolder(ItemData data) const override { return isFolder(data); }
    SaveKind saveKind(ItemData data) const override {
        if (!isValid(data)) return SaveKind::Skip;
        const std::uint16_t mode = record(data).mode;
        if (extIsDirectory(mode)) return SaveKind::Folder;
        return extIsFile(mode) ? SaveKind::File : SaveKind::Skip;
    }
    bool extractDirect(ItemData data, platform::OutputFile& out, const ScanHost* /*host*/) override {
        return isValid(data) && saveKind(data) == SaveKind::File && parser_->extractEntry(out, record(data));
    }

    // A deleted inode's block runs, checked against the block bitmaps: ext's record of the blocks
    // live files own. Inline data lives in the inode itself.
    Recoverability recoverability(ItemData data) const override {
        if (!isValid(data) || saveKind(data) != SaveKind::File || !record(data).deleted) return {};
        const std::lock_guard<std::mutex> lock(mutex_);
        bool inInode = false;
        std::vector<ExtBlockRun> blocks;
        if (!parser_->dataPlace(record(data), inInode, blocks)) return {};
        std::vector<UnitRun> runs;
        for (const ExtBlockRun& b : blocks) runs.push_back({b.physical, b.count});
        // A size without a block to read (the block map was emptied): where the data were is
        // not known.
        if (!inInode && runs.empty() && record(data).size > 0) return {};
        return judgeRuns(runs, parser_->blocksCount(), [this](std::uint64_t b) { return parser_->blockInUse(b); },
                         nullptr);
    }

    ext2Class& parser() { return *parser_; }

private:
    static const ExtEntry& record(ItemData data) { return *reinterpret_cast<const ExtEntry*>(data); }

    mutable std::mutex mutex_;
    std::unique_ptr<ext2Class> parser_;
    std::unordered_set<ItemData> valid_;
};

}  // namespace

ext2Class* extParserOf(ScanSession& session) {
    auto* ext = dynamic_cast<ExtSession*>(&session);
    return ext != nullptr ? &ext->parser() : nullptr;
}

// The ext standard scan: attach the reader, find the superblock and the group descriptors,
// record the inode tables, name the inodes by walking the directories, build and link the
// record map and fill the tree's top level. The parser reports its own status texts.
std::unique_ptr<ScanSession> runExtScan(const ScanRequest& request, ScanHost& host, ResultTree& tree) {
    auto parser = std::make_unique<ext2Class>(host, &tree);
    parser->volume = request.volume;
    parser->rootLabel = request.rootLabel;
    if (!parser->attachReader(volumeViewOf(request))) {
        host.setStatus("The volume cannot be read.");
        return nullptr;
    }
    parser->volumeBytes = request.volume.sizeBytes();
    if (parser->volumeBytes == 0) {
        host.setStatus("The volume size is 0: nothing to parse.");
        return nullptr;
    }
    if (!parser->findSuperblock()) {
        host.setStatus("No ext superblock was found on the volume.");
        return nullptr;
    }
    if (!parser->readGroupDescriptors()) {
        host.setStatus("The group descriptors of the volume cannot be read.");
        return nullptr;
    }
    parser->scanInodeTables();
    parser->parseDirectories();
    parser->buildEntryMap();
    parser->linkEntries();
    parser->fillTreeTopLevel();
    return std::make_unique<ExtSession>(std::move(parser));
}

}  // namespace corvello
