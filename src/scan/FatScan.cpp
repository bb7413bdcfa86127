// The FAT12/FAT16 and FAT32 scan threads (standard mode) and the session over their records.

#include <memory>
#include <mutex>

#include "common/ResultTree.h"
#include "common/ScanHost.h"
#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"
#include "scan/Candidates.h"
#include "scan/FatFamilySession.h"
#include "scan/Families.h"

namespace corvello {

namespace {

class FatSession : public FatFamilySession<FatVolume, FatEntry> {
public:
    using FatFamilySession::FatFamilySession;

    bool isFolder(ItemData data) const override { return isValid(data) && isFatDirectory(entry(data).attributes); }
    // A file is shown deleted when it or the opened folder is.
    bool isDeleted(ItemData child, ItemData opened) const override {
        if (!isValid(child)) return false;
        if (entry(child).deleted) return true;
        return !isFolder(child) && isValid(opened) && entry(opened).deleted;
    }
    std::uint64_t size(ItemData data) const override { return isValid(data) ? entry(data).size : 0; }
    bool hasRecycleBin() const override { return parser_->isFat32(); }
    // Where the folders do not lie where the boot sector puts them, neither does any file's
    // data: nothing is read from there and passed off as the file.
    DataPresence presence(ItemData data) const override {
        return parser_->dataMisplaced() && size(data) > 0 ? DataPresence::Missing : DataPresence::Data;
    }
    std::optional<std::size_t> readData(ItemData data, std::uint64_t offset, std::span<std::uint8_t> buffer,
                                        ReadNotes& notes) override {
        if (parser_->dataMisplaced() && size(data) > 0) return std::nullopt;
        return FatFamilySession::readData(data, offset, buffer, notes);
    }
    // Local times of the writing machine, read as the extraction reads them; the access time
    // is a date only, the creation time has hundredths of a second.
    EntryTimes times(ItemData data) const override {
        if (!isValid(data)) return {};
        const FatEntry& e = entry(data);
        std::optional<platform::UnixTime> created = dosTime(e.createDate, e.createTime);
        if (created && e.createTimeTenth < 200) {
            created->seconds += e.createTimeTenth / 100;
            created->nanoseconds = static_cast<std::uint32_t>(e.createTimeTenth % 100) * 10000000u;
        }
        return {dosTime(e.writeDate, e.writeTime), dosTime(e.accessDate, 0), std::nullopt, created};
    }

    // A deleted file's chain is gone from the FAT: its clusters are taken as the extraction takes
    // them, one after another from the first. The FAT is the record of what live files own.
    Recoverability recoverability(ItemData data) const override {
        if (!isValid(data) || isFolder(data) || parser_->dataMisplaced()) return {};
        const FatEntry& e = entry(data);
        // Deleted itself or below a deleted folder (whose records may keep their live marks).
        bool deleted = false;
        auto i = static_cast<std::uint32_t>(data - 1);
        for (int depth = 0; depth < 1024 && i != 0 && i < parser_->entries.size() && !deleted; ++depth) {
            deleted = parser_->entries[i].deleted != 0;
            if (parser_->entries[i].parent == i) break;
            i = parser_->entries[i].parent;
        }
        if (!deleted) return {};
        const std::uint64_t clusterBytes = parser_->clusterBytes;
        if (clusterBytes == 0) return {};
        const std::uint32_t first = parser_->firstCluster(e);
        std::vector<UnitRun> runs;
        if (e.size > 0) {
            if (first < 2) return {};
            runs.push_back({first, (e.size + clusterBytes - 1) / clusterBytes});
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        return judgeRuns(runs, usage());
    }

private:
    // What the FAT marks taken, read once for every file judged. Clusters past the medium's end
    // (a cut image) hold nothing that can be read: they count as taken.
    const UnitUsage& usage() const {
        if (!usageReady_) {
            usageReady_ = true;
            usage_ = UnitUsage(parser_->clusterEndOnMedium(),
                               [this](std::uint64_t c) { return !parser_->isClusterFree(static_cast<std::uint32_t>(c)); });
        }
        return usage_;
    }

    mutable UnitUsage usage_;
    mutable bool usageReady_ = false;
};

// The advanced mode: the FAT search of the advanced-input step, then the chosen FAT and
// cluster size, the slot scan and the records built from it.
template <class Parser>
std::unique_ptr<ScanSession> runAdvanced(const ScanRequest& request, ScanHost& host, ResultTree& tree) {
    auto parser = std::make_unique<Parser>(parserInputs(request, host, &tree));
    parser->attachReader();
    const bool bootOk = parser->checkBootSector();
    if (!parser->isFat32()) host.setStatus("Finding Fat entries....");
    parser->fatCandidates = request.foundTables ? *request.foundTables : parser->findFatTables(candidateMax(request));
    host.clearStop();
    const auto choices = sectorsPerClusterChoices(*parser, bootOk);
    const std::int64_t k = request.candidateIndex.value_or(0);
    const std::uint32_t spc = request.sectorsPerCluster.value_or(choices.front());
    const TreeItem root = parser->rootItem;
    if (k < 0 || k >= static_cast<std::int64_t>(parser->fatCandidates.size()) || spc == 0 || spc > 255) {
        host.setStatus(parser->fatCandidates.empty() ? "No FAT was found on this volume."
                                                     : "The chosen FAT or cluster size is not one of the choices.");
        const std::size_t found = parser->fatCandidates.size();
        auto session = std::make_unique<FatSession>(std::move(parser), root);
        session->setRefusal(found == 0 ? "no FAT was found on this volume."
                                       : "the chosen FAT or cluster size is not one of the choices (the search found " +
                                             std::to_string(found) + " FAT(s)).");
        return session;
    }
    const std::int64_t candidate = parser->fatCandidates[static_cast<std::size_t>(k)];
    parser->advancedMarker = static_cast<std::uint16_t>(parser->advancedMarker + 1);
    parser->advancedBytesPerSector = 512;
    parser->advancedSectorsPerCluster = static_cast<std::uint8_t>(spc);
    parser->useFatCandidate(candidate);
    parser->scanForSlots();
    host.setStatus("Maintaining directory Structure in AdvanceScanning");
    auto copy = parser->buildFromFoundSlots(candidate);
    parser->entryCopy.insert(parser->entryCopy.end(), std::make_move_iterator(copy.begin()),
                             std::make_move_iterator(copy.end()));
    host.setStatus(parser->isFat32() ? "Maintaining TreeStructure for Tree Control"
                                     : "Maintaining Tree Structure for Tree Control");
    parser->linkEntries();
    parser->fillTree();
    return std::make_unique<FatSession>(std::move(parser), root);
}

template <class Parser>
std::unique_ptr<ScanSession> runStandard(const ScanRequest& request, ScanHost& host, ResultTree& tree,
                                         const char* refusal, const char* walkText, bool finalProgress) {
    if (request.mode == RecoveryMode::Advanced) return runAdvanced<Parser>(request, host, tree);
    auto parser = std::make_unique<Parser>(parserInputs(request, host, &tree));
    if (request.mode != RecoveryMode::Standard) {
        // Not a volume that could not be read: a mode this family does not have.
        host.setStatus("The deep recovery mode is only available for NTFS volumes.");
        const std::string family = toUtf8(request.volume.fileSystem);
        auto session = std::make_unique<FatSession>(std::move(parser), 0);
        session->setRefusal("the deep mode is for NTFS volumes; a " + family +
                            " volume is read in the standard or the advanced mode.");
        return session;
    }
    parser->attachReader();
    if (!parser->checkBootSector()) {
        host.notice(refusal);
        return nullptr;
    }
    parser->readFat();
    parser->readRootDirectory();
    host.setStatus(walkText);
    auto copy = parser->parseRootDirectory();
    parser->entryCopy.insert(parser->entryCopy.end(), std::make_move_iterator(copy.begin()),
                             std::make_move_iterator(copy.end()));
    host.setStatus("maintaining tree Structure in vector...");
    parser->linkEntries();
    host.setStatus("Creating Tree Structure....");
    parser->fillTree();
    host.setStatus("Tree Structure Created.");
    if (finalProgress) {
        host.setProgressRange(0, 100);
        host.setProgressPos(100);
    }
    const TreeItem root = parser->rootItem;
    return std::make_unique<FatSession>(std::move(parser), root);
}

// The advanced input's FAT search: the tables found and the cluster sizes offered.
template <class Parser>
void findFats(const ScanRequest& request, ScanHost& host, CandidateList& out) {
    Parser parser(parserInputs(request, host, nullptr));
    parser.attachReader();
    out.bootValid = parser.checkBootSector();
    if (!parser.isFat32()) host.setStatus("Finding Fat entries....");
    out.tables = parser.findFatTables(candidateMax(request));
    out.clusterChoices = sectorsPerClusterChoices(parser, out.bootValid);
    if (parser.isFat32() && out.tables.empty()) {
        out.noneFound = true;
        out.message = "NO FAT  FAT32-ENTRY found ..";
    } else {
        out.message = format(
            "Number of %s-ENTRY found = %d . Please select the choice from combo box and click Next button to proceed.",
            parser.isFat32() ? "FAT32" : "FAT", static_cast<int>(out.tables.size()));
    }
}

}  // namespace

void findFat16Candidates(const ScanRequest& request, ScanHost& host, CandidateList& out) {
    findFats<Fat16Parser>(request, host, out);
}

void findFat32Candidates(const ScanRequest& request, ScanHost& host, CandidateList& out) {
    findFats<Fat32Parser>(request, host, out);
}

std::unique_ptr<ScanSession> runFat16Scan(const ScanRequest& request, ScanHost& host, ResultTree& tree) {
    return runStandard<Fat16Parser>(request, host, tree, "Selected Drive is not in Fat16 Format",
                                   "Finding Fat16 File And Directory entries recursively....", true);
}

std::unique_ptr<ScanSession> runFat32Scan(const ScanRequest& request, ScanHost& host, ResultTree& tree) {
    return runStandard<Fat32Parser>(request, host, tree, "Selected Drive is not in Fat32 Format",
                                   "Finding Fat32 File And Directory entries recursively....", false);
}

}  // namespace corvello
