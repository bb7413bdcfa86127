// The exFAT scan thread (standard mode) and the session over its records.

#include <memory>

#include "common/ResultTree.h"
#include "common/ScanHost.h"
#include "device/FileReadSeek.h"
#include "fs/fat/Fat64Class.h"
#include "scan/Families.h"

namespace corvello {

namespace {

// Item data is the record's index + 1, so that 0 never names a record.
class ExFatSession : public ScanSession {
public:
    ExFatSession(std::unique_ptr<Fat64Class> parser, TreeItem root) : parser_(std::move(parser)), root_(root) {}

    TreeItem rootItem() const override { return root_; }
    bool isValid(ItemData data) const override { return data >= 2 && data <= parser_->entries.size(); }
    bool isFolder(ItemData data) const override {
        return isValid(data) && isExFatDirectory(entry(data).attributes);
    }
    std::vector<ItemData> children(ItemData data) const override {
        std::vector<ItemData> out;
        if (!isValid(data)) return out;
        const auto& list = parser_->entries;
        for (std::uint32_t i = entry(data).firstChild; i < list.size() && out.size() < list.size();
             i = list[i].nextSibling)
            out.push_back(i + 1);
        return out;
    }
    bool isDeleted(ItemData child, ItemData opened) const override {
        if (!isValid(child)) return false;
        return entry(child).entryType == 0x05 || (isValid(opened) && entry(opened).entryType == 0x05);
    }
    std::u16string name(ItemData data) const override { return isValid(data) ? entry(data).name : std::u16string(); }
    std::uint64_t size(ItemData data) const override { return isValid(data) ? entry(data).dataLength : 0; }
    std::array<std::string, 4> rowTexts(ItemData data) const override {
        return isValid(data) ? Fat64Class::formatTimes(entry(data)) : std::array<std::string, 4>{};
    }
    std::string sizeText(ItemData data) const override {
        return isValid(data) ? Fat64Class::formatSize(entry(data)) : std::string();
    }
    bool isSavableFolder(ItemData data) const override { return isFolder(data); }
    SaveKind saveKind(ItemData data) const override {
        if (!isValid(data)) return SaveKind::Skip;
        return isFolder(data) ? SaveKind::Folder : SaveKind::File;
    }
    std::u16string saveName(ItemData data) const override {
        if (!isValid(data)) return {};
        const std::uint32_t index = entry(data).index;
        const auto& copy = parser_->entryCopy;
        return index < copy.size() ? copy[index].name : entry(data).name;
    }
    bool extract(ItemData data, const std::string& path) override {
        return isValid(data) && !isFolder(data) && parser_->extractFile(path, entry(data));
    }
    bool rename(ItemData data, const std::u16string& name) override {
        if (!isValid(data)) return false;
        ExFatEntry& e = parser_->entries[data - 1];
        e.name = name;
        if (e.index < parser_->entryCopy.size()) parser_->entryCopy[e.index].name = name;
        return true;
    }
    bool hasRecycleBin() const override { return true; }

private:
    const ExFatEntry& entry(ItemData data) const { return parser_->entries[data - 1]; }
    std::unique_ptr<Fat64Class> parser_;
    TreeItem root_;
};

// The advanced mode: the FAT and heap searches of the advanced-input step, then the chosen
// candidates and cluster size, the entry-set scan and the records built from it.
std::unique_ptr<ScanSession> runAdvanced(const ScanRequest& request, ScanHost& host, std::unique_ptr<Fat64Class> parser) {
    parser->attachReader(request.reader);
    parser->volumeBytes = request.volume.sizeBytes();
    const bool bootOk = parser->checkBootSector();
    host.setStatus("Finding Fat64 entries....");
    const std::int64_t max = request.maxCandidates > 0 ? request.maxCandidates : 3;
    parser->fatCandidates = parser->findFatTables(max);
    parser->heapCandidates = parser->findHeapStarts(max);
    if (bootOk && !parser->heapCandidates.empty()) parser->heapCandidates.front() = parser->heapOffset;
    host.clearStop();
    const TreeItem root = parser->rootItem;
    const auto choices = clusterShiftChoices(*parser, bootOk);
    const std::int64_t fatK = request.candidateIndex.value_or(0);
    const std::int64_t heapK = request.heapIndex.value_or(0);
    const std::uint32_t shift = request.sectorsPerCluster.value_or(choices.front());
    const auto inList = [](std::int64_t k, const std::vector<std::int64_t>& list) {
        return k >= 0 && k < static_cast<std::int64_t>(list.size());
    };
    if (!inList(fatK, parser->fatCandidates) || !inList(heapK, parser->heapCandidates) || shift > 16) {
        host.setStatus(parser->fatCandidates.empty() ? "No FAT was found on this volume."
                                                     : "The chosen FAT, heap or cluster size is not one of the choices.");
        return std::make_unique<ExFatSession>(std::move(parser), root);
    }
    parser->setAdvancedClusterShift(shift);
    parser->scanForSlots();
    const std::int64_t fat = parser->fatCandidates[static_cast<std::size_t>(fatK)];
    const std::int64_t heap = parser->heapCandidates[static_cast<std::size_t>(heapK)];
    host.setStatus("Maintaining TreeStructure for Tree Control");
    if (fat > 0 && heap > 0) {
        auto copy = parser->buildFromFoundSlots(heap, fat);
        parser->entryCopy.insert(parser->entryCopy.end(), std::make_move_iterator(copy.begin()),
                                 std::make_move_iterator(copy.end()));
        parser->linkEntries();
        parser->fillTree();
    }
    return std::make_unique<ExFatSession>(std::move(parser), root);
}

}  // namespace

std::unique_ptr<ScanSession> runExFatScan(const ScanRequest& request, ScanHost& host, ResultTree& tree) {
    if (request.mode == RecoveryMode::Advanced) {
        auto parser = std::make_unique<Fat64Class>();
        parser->volume = request.volume;
        parser->tree = &tree;
        parser->host = &host;
        parser->driveFormatted = request.driveFormatted;
        parser->rootLabel = request.rootLabel;
        return runAdvanced(request, host, std::move(parser));
    }
    if (request.mode != RecoveryMode::Standard) {
        host.notice("The deep recovery mode is only available for NTFS volumes.");
        return nullptr;
    }
    auto parser = std::make_unique<Fat64Class>();
    parser->volume = request.volume;
    parser->tree = &tree;
    parser->host = &host;
    parser->driveFormatted = request.driveFormatted;
    parser->rootLabel = request.rootLabel;
    parser->attachReader(request.reader);
    parser->volumeBytes = request.volume.sizeBytes();
    if (!parser->checkBootSector()) {
        host.notice("Selected Drive is not in exFat Format");
        return nullptr;
    }
    if (!parser->readRootCluster()) {
        host.notice("error...");
    } else {
        host.setStatus("processing file and directory entries...");
        host.setStatus("Finding Fat64 File And Directory entries recursively....");
        auto copy = parser->parseRootDirectory();
        parser->entryCopy.insert(parser->entryCopy.end(), std::make_move_iterator(copy.begin()),
                                 std::make_move_iterator(copy.end()));
        parser->linkEntries();
        host.setStatus("creating tree Structure...");
        parser->fillTree();
    }
    const TreeItem root = parser->rootItem;
    return std::make_unique<ExFatSession>(std::move(parser), root);
}

}  // namespace corvello
