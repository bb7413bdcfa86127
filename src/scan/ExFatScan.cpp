// The exFAT scan thread (standard mode) and the session over its records.

#include <algorithm>
#include <memory>
#include <mutex>

#include "common/DisplayFormat.h"
#include "common/ResultTree.h"
#include "common/ScanHost.h"
#include "fs/fat/ExFatParser.h"
#include "scan/Candidates.h"
#include "scan/FatFamilySession.h"
#include "scan/Families.h"

namespace corvello {

namespace {

class ExFatSession : public FatFamilySession<ExFatParser, ExFatEntry> {
public:
    using FatFamilySession::FatFamilySession;

    bool isFolder(ItemData data) const override {
        return isValid(data) && isExFatDirectory(entry(data).attributes);
    }
    // Entry type 0x05 marks a deleted file set; everything in a deleted folder is shown deleted.
    bool isDeleted(ItemData child, ItemData opened) const override {
        if (!isValid(child)) return false;
        return entry(child).entryType == 0x05 || (isValid(opened) && entry(opened).entryType == 0x05);
    }
    std::uint64_t size(ItemData data) const override { return isValid(data) ? entry(data).dataLength : 0; }
    std::uint64_t validLength(ItemData data) const override {
        return isValid(data) ? std::min(entry(data).validDataLength, entry(data).dataLength) : 0;
    }
    bool hasRecycleBin() const override { return true; }
    EntryTimes times(ItemData data) const override {
        if (!isValid(data)) return {};
        const ExFatEntry& e = entry(data);
        return {exFatTime(e.modifyTimestamp, e.modifyUtcOffset), exFatTime(e.accessTimestamp, e.accessUtcOffset),
                std::nullopt, exFatTime(e.createTimestamp, e.createUtcOffset)};
    }

    // Clusters are checked against the allocation bitmap and against what the live records own.
    Recoverability recoverability(ItemData data) const override {
        if (!isValid(data) || isFolder(data)) return {};
        const ExFatEntry& e = entry(data);
        const auto& list = parser_->entries;
        if (isLive(static_cast<std::uint32_t>(data - 1))) return {};
        if (parser_->clusterBytes == 0) return {};
        if (e.dataLength > 0 && e.firstCluster < 2) return {};
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!usageReady_) {
            // Read once for every file judged: what the bitmap marks taken and what the live
            // records own. Clusters past the medium's end (a cut image) cannot be read: they
            // count as taken.
            usageReady_ = true;
            usage_ = UnitUsage(parser_->clusterEndOnMedium(),
                               [this](std::uint64_t c) { return parser_->clusterInUse(static_cast<std::uint32_t>(c)); });
            for (std::uint32_t i = 1; i < list.size(); ++i)
                if (isLive(i))
                    for (const UnitRun& r : runsOf(list[i])) usage_.markTaken(r.first, r.count);
            usage_.finish();
        }
        return judgeRuns(runsOf(e), usage_);
    }

private:
    // A record is live when neither it nor a folder above it is deleted (a deleted folder's
    // records may keep their live marks).
    bool isLive(std::uint32_t index) const {
        const auto& list = parser_->entries;
        std::uint32_t i = index;
        for (int depth = 0; depth < 1024 && i != 0 && i < list.size(); ++depth) {
            if (list[i].entryType != 0x85) return false;
            if (list[i].parent == i) break;
            i = list[i].parent;
        }
        return true;
    }

    // The clusters a record claims, as the extraction takes them: one after another, or along
    // its chain (at most as many as its length needs; a chain that comes back to a cluster it
    // passed ends soon after, once the walk notices).
    std::vector<UnitRun> runsOf(const ExFatEntry& e) const {
        std::vector<UnitRun> runs;
        const std::uint64_t cb = parser_->clusterBytes;
        if (cb == 0 || e.dataLength == 0 || e.firstCluster < 2) return runs;
        const std::uint64_t n = (e.dataLength + cb - 1) / cb;
        if (parser_->dataIsContiguous(e)) {
            runs.push_back({e.firstCluster, n});
            return runs;
        }
        std::uint32_t c = e.firstCluster;
        std::uint32_t saved = c;  // Brent's loop check: a cluster of the walk kept for a while
        std::uint64_t power = 1, lap = 0;
        const std::uint64_t steps = std::min<std::uint64_t>(n, parser_->maxCluster());
        for (std::uint64_t i = 0; i < steps && c >= 2; ++i) {
            if (!runs.empty() && runs.back().first + runs.back().count == c)
                ++runs.back().count;
            else
                runs.push_back({c, 1});
            c = parser_->nextCluster(c);
            if (c == saved) break;
            if (++lap == power) {
                saved = c;
                power *= 2;
                lap = 0;
            }
        }
        return runs;
    }

    mutable UnitUsage usage_;
    mutable bool usageReady_ = false;
};

// The advanced mode: the FAT and heap searches of the advanced-input step, then the chosen
// candidates and cluster size, the entry-set scan and the records built from it.
std::unique_ptr<ScanSession> runAdvanced(const ScanRequest& request, ScanHost& host, std::unique_ptr<ExFatParser> parser) {
    parser->attachReader();
    const bool bootOk = parser->checkBootSector();
    host.setStatus("Finding Fat64 entries....");
    const std::int64_t max = candidateMax(request);
    parser->fatCandidates = request.foundTables ? *request.foundTables : parser->findFatTables(max);
    parser->heapCandidates = request.foundHeaps ? *request.foundHeaps : parser->findHeapStarts(max);
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
        const std::size_t fats = parser->fatCandidates.size(), heaps = parser->heapCandidates.size();
        auto session = std::make_unique<ExFatSession>(std::move(parser), root);
        session->setRefusal(fats == 0 ? "no FAT was found on this volume."
                                      : "the chosen FAT, heap or cluster size is not one of the choices (the search found " +
                                            std::to_string(fats) + " FAT(s) and " + std::to_string(heaps) + " heap(s)).");
        return session;
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

void findExFatCandidates(const ScanRequest& request, ScanHost& host, CandidateList& out) {
    ExFatParser parser(parserInputs(request, host, nullptr));
    parser.attachReader();
    out.bootValid = parser.checkBootSector();
    host.setStatus("Finding Fat64 entries....");
    out.tables = parser.findFatTables(candidateMax(request));
    out.heaps = parser.findHeapStarts(candidateMax(request));
    if (out.bootValid && !out.heaps.empty()) out.heaps.front() = parser.heapOffset;
    out.clusterChoices = clusterShiftChoices(parser, out.bootValid);
    out.message = format(
        "Number of FAT64-ENTRY found = %d and Number of HeapOffset-ENTRY found =  %d  . Please select the choice from "
        "( Entry and Heap ) Combobox and click Next button to proceed.",
        static_cast<int>(out.tables.size()), static_cast<int>(out.heaps.size()));
}

std::unique_ptr<ScanSession> runExFatScan(const ScanRequest& request, ScanHost& host, ResultTree& tree) {
    auto parser = std::make_unique<ExFatParser>(parserInputs(request, host, &tree));
    if (request.mode == RecoveryMode::Advanced) return runAdvanced(request, host, std::move(parser));
    if (request.mode != RecoveryMode::Standard) {
        // Not a volume that could not be read: a mode this family does not have.
        host.setStatus("The deep recovery mode is only available for NTFS volumes.");
        auto session = std::make_unique<ExFatSession>(std::move(parser), 0);
        session->setRefusal("the deep mode is for NTFS volumes; an exFAT volume is read in the standard or the "
                            "advanced mode.");
        return session;
    }
    parser->attachReader();
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
