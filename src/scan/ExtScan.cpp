#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "common/ScanHost.h"
#include "fs/ext/ExtParser.h"
#include "scan/Families.h"

namespace corvello {

namespace {

// The results of an ext scan: item data are the addresses of the parser's records.
class ExtSession : public ScanSession {
public:
    explicit ExtSession(std::unique_ptr<ExtParser> parser) : parser_(std::move(parser)) {
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
    // The root directory's own record (its "." under ROOT) is the folder the walk starts in:
    // it is neither listed nor saved a second time.
    SaveKind saveKind(ItemData data) const override {
        if (!isValid(data) || record(data).index == kRootIndex) return SaveKind::Skip;
        const std::uint16_t mode = record(data).mode;
        if (extIsDirectory(mode)) return SaveKind::Folder;
        return extIsFile(mode) ? SaveKind::File : SaveKind::Skip;
    }
    // Reads the window's bytes along the file's block runs (holes as zeros), or from the inode
    // where it keeps the data. A map that could not be walked whole or a block that could not
    // be read leaves zeros in their place, and the file is then not whole.
    std::optional<std::size_t> readData(ItemData data, std::uint64_t offset, std::span<std::uint8_t> buffer,
                                        ReadNotes& notes) override {
        if (!isValid(data) || saveKind(data) != SaveKind::File) return std::nullopt;
        const std::lock_guard<std::mutex> lock(mutex_);
        const ExtFileMap& map = mapOf(data);
        const std::uint64_t length = record(data).size;
        if (map.inInode) {
            if (!map.inodeRead) notes.damaged = true;
            const std::uint64_t held = std::min<std::uint64_t>(length, map.inodeBytes.size());
            if (offset >= length || buffer.empty()) return 0;
            // The inode holds fewer bytes than the size: the file stops where they end.
            if (offset >= held) return std::nullopt;
            const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), held - offset));
            std::memcpy(buffer.data(), map.inodeBytes.data() + offset, count);
            return count;
        }
        if (!map.inodeRead) return std::nullopt;
        if (!map.mapWhole) notes.damaged = true;
        if (offset >= length || buffer.empty()) return 0;
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - offset));
        if (!parser_->readMapped(map.runs, offset, buffer.first(count))) notes.damaged = true;
        return count;
    }

    // The bytes no block run covers: holes, and what a map that is not whole leaves out.
    std::uint64_t holeBytes(ItemData data) const override {
        if (!isValid(data) || saveKind(data) != SaveKind::File) return 0;
        const std::lock_guard<std::mutex> lock(mutex_);
        const ExtFileMap& map = mapOf(data);
        if (map.inInode || !map.inodeRead) return 0;
        const std::uint64_t bs = parser_->blockSize();
        const std::uint64_t length = record(data).size;
        std::uint64_t mapped = 0;
        for (const ExtBlockRun& r : map.runs) mapped += std::min((r.logical + r.count) * bs, length) - r.logical * bs;
        return length - std::min(mapped, length);
    }

    // The block runs as volume byte offsets, up to the file's size; none for data in the inode.
    std::vector<ByteRun> byteRuns(ItemData data) const override {
        std::vector<ByteRun> out;
        if (!isValid(data) || isFolder(data)) return out;
        const std::lock_guard<std::mutex> lock(mutex_);
        const ExtFileMap& map = mapOf(data);
        if (map.inInode) return out;
        const std::uint64_t bs = parser_->blockSize();
        const std::uint64_t length = record(data).size;
        const std::int64_t start = parser_->volumeStart();
        for (const ExtBlockRun& r : map.runs) {
            std::uint64_t fileOffset = r.logical * bs;
            const std::uint64_t end = std::min((r.logical + r.count) * bs, length);
            std::uint64_t at = r.physical * bs;
            // A volume whose block 0 lies before the volume's start: only what lies inside it.
            if (start < 0) {
                const auto before = static_cast<std::uint64_t>(-start);
                if (at + (end - fileOffset) <= before) continue;
                if (at < before) {
                    fileOffset += before - at;
                    at = before;
                }
                at -= before;
            } else {
                at += static_cast<std::uint64_t>(start);
            }
            if (fileOffset < end) out.push_back({fileOffset, at, end - fileOffset});
        }
        return out;
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

    ExtParser& parser() { return *parser_; }

protected:
    // The end of the last run's data (a hole at the end is set by length).
    std::uint64_t dataEnd(ItemData data) const override {
        if (!isValid(data)) return 0;
        const std::uint64_t length = record(data).size;
        const std::lock_guard<std::mutex> lock(mutex_);
        const ExtFileMap& map = mapOf(data);
        return map.inInode || !map.inodeRead ? length : map.dataEnd;
    }

    // From the first run that ends after offset: where its data start, and where the runs that
    // follow it without a gap end (looked at up to a chunk's worth). Past the last run, the
    // file's end.
    DataSpan dataAt(ItemData data, std::uint64_t offset) const override {
        if (!isValid(data)) return {offset, UINT64_MAX};
        const std::uint64_t length = record(data).size;
        const std::lock_guard<std::mutex> lock(mutex_);
        const ExtFileMap& map = mapOf(data);
        if (map.inInode || !map.inodeRead) return {offset, UINT64_MAX};
        const std::uint64_t bs = parser_->blockSize();
        auto run = std::upper_bound(map.runs.begin(), map.runs.end(), offset,
                                    [bs](std::uint64_t at, const ExtBlockRun& r) { return at < (r.logical + r.count) * bs; });
        if (run == map.runs.end()) return {std::max(offset, length), std::max(offset, length)};
        const std::uint64_t start = std::max(offset, run->logical * bs);
        std::uint64_t end = (run->logical + run->count) * bs;
        for (++run; run != map.runs.end() && run->logical * bs == end && end - start < kSpanLook; ++run)
            end = (run->logical + run->count) * bs;
        return {start, end};
    }

    // A saved file always takes the inode's access and modification times, zero ones too.
    std::optional<SavedTimes> savedTimes(ItemData data) const override {
        if (!isValid(data)) return std::nullopt;
        const std::lock_guard<std::mutex> lock(mutex_);
        const ExtInodeTimes t = parser_->inodeFileTimes(record(data));
        return SavedTimes{t.access, t.modification};
    }

private:
    static constexpr std::uint32_t kRootIndex = 1;  // the root directory's inode (2) - 1
    static constexpr std::uint64_t kSpanLook = 1 << 20;

    static const ExtEntry& record(ItemData data) { return *reinterpret_cast<const ExtEntry*>(data); }

    // The map of the last file asked for (reads come in a row; the parser's block list is
    // shared). The caller holds mutex_.
    const ExtFileMap& mapOf(ItemData data) const {
        if (mapItem_ != data) {
            map_ = parser_->fileMap(record(data));
            mapItem_ = data;
        }
        return map_;
    }

    mutable std::mutex mutex_;
    std::unique_ptr<ExtParser> parser_;
    std::unordered_set<ItemData> valid_;
    mutable ItemData mapItem_ = 0;
    mutable ExtFileMap map_;
};

}  // namespace

ExtParser* extParserOf(ScanSession& session) {
    auto* ext = dynamic_cast<ExtSession*>(&session);
    return ext != nullptr ? &ext->parser() : nullptr;
}

// The ext standard scan: attach the reader, find the superblock and the group descriptors,
// record the inode tables, name the inodes by walking the directories, build and link the
// record map and fill the tree's top level. The parser reports its own status texts.
std::unique_ptr<ScanSession> runExtScan(const ScanRequest& request, ScanHost& host, ResultTree& tree) {
    auto parser = std::make_unique<ExtParser>(parserInputs(request, host, &tree));
    if (!parser->attachReader()) {
        host.setStatus("The volume cannot be read.");
        return nullptr;
    }
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
