#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

#include "common/DisplayFormat.h"
#include "common/ResultTree.h"
#include "common/ScanHost.h"
#include "fs/ntfs/NtfsParser.h"
#include "scan/Candidates.h"
#include "scan/Families.h"

namespace corvello {

namespace {

// The results of an NTFS scan over the parser's entries. Item data is the entry's index + 1,
// so 0 never names an entry.
class NtfsSession : public ScanSession {
public:
    explicit NtfsSession(std::unique_ptr<NtfsParser> parser) : p_(std::move(parser)) {}

    TreeItem rootItem() const override { return p_->rootItem; }

    bool isValid(ItemData data) const override {
        return data >= 1 && data - 1 < p_->entries.size() && p_->entries[data - 1].isFile();
    }
    bool isFolder(ItemData data) const override { return isValid(data) && entry(data).kind == 'D'; }

    std::vector<ItemData> children(ItemData data) const override {
        std::vector<ItemData> out;
        if (!isValid(data)) return out;
        const std::uint64_t n = p_->entries.size();
        std::set<std::int64_t> seen;
        for (std::int64_t cur = entry(data).firstChild;
             cur > 0 && static_cast<std::uint64_t>(cur) < n && seen.insert(cur).second;
             cur = p_->entries[cur].nextSibling) {
            if (p_->entries[cur].name != nullptr) out.push_back(static_cast<ItemData>(cur) + 1);
        }
        return out;
    }

    bool isDeleted(ItemData child, ItemData /*openedFolder*/) const override {
        return isValid(child) && (entry(child).recordFlags & 1) == 0;
    }
    std::u16string name(ItemData data) const override {
        return isValid(data) && entry(data).name != nullptr ? std::u16string(entry(data).name) : std::u16string();
    }
    // The parser keeps working state while it reads a record: readers on other threads wait.
    std::uint64_t size(ItemData data) const override {
        if (!isValid(data)) return 0;
        const std::lock_guard<std::mutex> lock(mutex_);
        return p_->dataSize(data - 1);
    }

    std::array<std::string, 4> rowTexts(ItemData data) const override {
        if (!isValid(data)) return {};
        return p_->timeTexts(entry(data));
    }
    std::string sizeText(ItemData data) const override {
        if (!isValid(data)) return "";
        const std::lock_guard<std::mutex> lock(mutex_);
        return p_->sizeText(data - 1);
    }
    // The standard information's times; a record without one has none.
    EntryTimes times(ItemData data) const override {
        if (!isValid(data)) return {};
        const RecordTimes t = p_->readRecordTimes(entry(data).location);
        auto time = [](std::uint64_t filetime) -> std::optional<platform::UnixTime> {
            if (filetime == 0) return std::nullopt;
            return platform::fromFiletime(filetime);
        };
        return {time(t.modification), time(t.access), std::nullopt, time(t.creation)};
    }

    bool isSavableFolder(ItemData data) const override { return isValid(data) && data != 1 && isFolder(data); }
    SaveKind saveKind(ItemData data) const override {
        if (!isValid(data)) return SaveKind::Skip;
        return entry(data).kind == 'D' ? SaveKind::Folder : SaveKind::File;
    }
    // The volume's root "." is shown where it appears, never walked into a second time.
    bool entersFolder(ItemData data) const override { return name(data) != u"."; }
    bool isExtracted(ItemData data) const override { return name(data) != u"$BadClus"; }
    // Reads only what the window needs: resident data from the record, runs where they lie,
    // compressed data by compression unit.
    std::optional<std::size_t> readData(ItemData data, std::uint64_t offset, std::span<std::uint8_t> buffer,
                                        ReadNotes& notes) override {
        if (!isValid(data) || isFolder(data)) return std::nullopt;
        bool damaged = false;
        const std::optional<std::size_t> got = readStream(data, offset, buffer, damaged);
        if (damaged) notes.damaged = true;
        return got;
    }
    std::vector<ByteRun> byteRuns(ItemData data) const override {
        std::vector<ByteRun> runs;
        std::uint64_t length = 0, initialized = 0;
        if (!isValid(data) || isFolder(data) || !extents(data, runs, length, initialized)) return {};
        // Nothing past the data's end.
        while (!runs.empty() && runs.back().fileOffset >= length) runs.pop_back();
        if (!runs.empty()) runs.back().length = std::min(runs.back().length, length - runs.back().fileOffset);
        return runs;
    }

    bool rename(ItemData data, const std::u16string& newName) override {
        if (!isValid(data)) return false;
        p_->rename(data - 1, newName);
        return true;
    }
    bool hasRecycleBin() const override { return true; }
    // On NTFS the "$I" index files sit in one folder per user below the bin.
    std::vector<ItemData> recycleIndexFolders(ItemData bin) const override {
        std::vector<ItemData> out;
        for (ItemData child : children(bin))
            if (isFolder(child)) out.push_back(child);
        return out;
    }

    NtfsParser& parser() { return *p_; }

protected:
    // A file stands for every file record; one whose record cannot be read is told.
    DataPresence presence(ItemData data) const override {
        const std::lock_guard<std::mutex> lock(mutex_);
        const StreamLayout& l = layoutOf(data);
        if (l.named && !l.readable) p_->noticeInvalidEntry();
        return DataPresence::Data;
    }
    std::uint64_t dataEnd(ItemData data) const override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return readEnd(layoutOf(data));
    }
    // The standard information's access and modification times, also where they are zero.
    std::optional<SavedTimes> savedTimes(ItemData data) const override {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!layoutOf(data).readable) return std::nullopt;
        const RecordTimes t = p_->readRecordTimes(entry(data).location);
        return SavedTimes{platform::fromFiletime(t.access), platform::fromFiletime(t.modification)};
    }

    // A deleted record's runs, checked against $Bitmap: NTFS's record of the clusters live
    // files own. Resident data lives in the record itself.
    Recoverability recoverability(ItemData data) const override {
        if (!isValid(data) || isFolder(data) || !isDeleted(data, 0)) return {};
        if (p_->clusterSize == 0) return {};
        std::vector<UnitRun> runs;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            const DataStream stream = p_->readDataStream(data - 1);
            if (!stream.present) return {};
            if (!stream.resident)
                for (const MftRun& r : stream.runs)
                    if (!r.sparse && r.lcn >= 0) runs.push_back({static_cast<std::uint64_t>(r.lcn), r.count});
        }
        if (!runs.empty() && !loadBitmap()) return {};
        return judgeRuns(runs, p_->volumeBytes / p_->clusterSize,
                         [this](std::uint64_t c) { return bitmapSays(bitmap_, c); }, nullptr);
    }

private:
    const MftEntry& entry(ItemData data) const { return p_->entries[data - 1]; }

    // Where a save stops reading: a run of holes to the end of the data is left as a hole; data
    // that cannot be whole are read to the end.
    static std::uint64_t readEnd(const StreamLayout& l) { return l.damaged ? l.size : l.holeFrom; }

    // The layout of the last file read (reads come in a row). The caller holds mutex_.
    const StreamLayout& layoutOf(ItemData data) const {
        if (layout_.entry != data - 1) {
            layout_ = p_->layOutStream(data - 1);
            units_ = UnitCache{};
        }
        return layout_;
    }

    bool extents(ItemData data, std::vector<ByteRun>& runs, std::uint64_t& length, std::uint64_t& initialized) const {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::vector<NtfsParser::DataExtent> found;
        if (!p_->dataExtents(data - 1, found, length, initialized)) return false;
        for (const auto& e : found) runs.push_back({e.fileOffset, e.volumeOffset, e.length});
        return true;
    }

    // Reads a file record's bytes from offset (see readData).
    std::optional<std::size_t> readStream(ItemData data, std::uint64_t offset, std::span<std::uint8_t> buffer,
                                          bool& damaged) const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return p_->readStream(layoutOf(data), units_, offset, buffer, damaged);
    }

    // Reads $Bitmap (record 6, or the live "$Bitmap" of the root where the table is not by
    // record number) once.
    bool loadBitmap() const {
        std::call_once(bitmapRead_, [this] {
            std::uint64_t index = ~0ull;
            std::uint64_t bytes = 0;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                const std::uint64_t need = (p_->volumeBytes / p_->clusterSize + 7) / 8;
                auto isBitmap = [&](std::uint64_t i) {
                    const MftEntry& e = p_->entries[i];
                    return e.isFile() && e.name != nullptr && std::u16string(e.name) == u"$Bitmap" &&
                           (e.recordFlags & 1) != 0 && e.parent == 5;
                };
                if (6 < p_->entries.size() && isBitmap(6)) index = 6;
                for (std::uint64_t i = 0; i < p_->entries.size() && index == ~0ull; ++i)
                    if (isBitmap(i)) index = i;
                if (index == ~0ull) return;
                // Units past what it covers count as in use.
                bytes = std::min<std::uint64_t>(p_->dataSize(index), need + 4096);
            }
            if (bytes == 0) return;
            // Only a whole, undamaged read is taken.
            std::vector<std::uint8_t> read(static_cast<std::size_t>(bytes));
            bool damaged = false;
            const std::optional<std::size_t> got = readStream(index + 1, 0, read, damaged);
            if (got && *got == read.size() && !damaged) bitmap_ = std::move(read);
        });
        return !bitmap_.empty();
    }

    std::unique_ptr<NtfsParser> p_;
    mutable std::mutex mutex_;
    mutable StreamLayout layout_;
    mutable UnitCache units_;
    mutable std::vector<std::uint8_t> bitmap_;
    mutable std::once_flag bitmapRead_;
};

}  // namespace

NtfsParser* ntfsParserOf(ScanSession& session) {
    auto* n = dynamic_cast<NtfsSession*>(&session);
    return n != nullptr ? &n->parser() : nullptr;
}

void findNtfsCandidates(const ScanRequest& request, ScanHost& host, CandidateList& out) {
    NtfsParser parser(parserInputs(request, host, nullptr));
    parser.readBootSector();
    const std::int64_t copies = parser.findMftCopies(candidateMax(request));
    for (std::int64_t k = 0; k < copies && static_cast<std::size_t>(k) < parser.foundMftRecords.size(); ++k)
        out.tables.push_back(static_cast<std::int64_t>(parser.foundMftRecords[static_cast<std::size_t>(k)].location));
    out.clusterChoices = {8, 4, 2, 16, 32, 64};
    out.message = format(
        "Number of MFT-ENTRY found = %lld . Please select the choice from combo box and click Next button to proceed.",
        static_cast<long long>(copies));
}

std::unique_ptr<ScanSession> runNtfsScan(const ScanRequest& request, ScanHost& host, ResultTree& tree) {
    auto parser = std::make_unique<NtfsParser>(parserInputs(request, host, &tree));

    if (request.mode == RecoveryMode::Advanced) {
        // The advanced-input page's search for MFT copies (or what it found, when it ran before)...
        parser->readBootSector();
        const std::int64_t copies = request.foundTables
                                        ? parser->takeMftCopies(*request.foundTables)
                                        : parser->findMftCopies(candidateMax(request));
        const std::int64_t k = request.candidateIndex.value_or(0);
        if (k < 0 || k >= copies) {
            host.notice(format("There is no MFT copy %lld: the search found %lld.", static_cast<long long>(k),
                               static_cast<long long>(copies)));
            return nullptr;
        }
        // ...then the scan page's advanced thread on the chosen copy.
        host.clearStop();
        tree.deleteAllItems();
        parser->insertRootItem(request.rootLabel);
        parser->forgetEntries();
        parser->useFoundMft(k);
        if (request.sectorsPerCluster && *request.sectorsPerCluster > 0) {
            parser->clusterSize = std::uint64_t{*request.sectorsPerCluster} * 512;
        } else if (parser->mftReady) {
            // Without a choice, the copy's own place tells its cluster size (else 8 sectors).
            const std::uint64_t cs = NtfsParser::clusterSizeOfMftCopy(
                parser->foundMftRecords[static_cast<std::size_t>(k)].location, parser->mftRuns);
            parser->clusterSize = cs != 0 ? cs : 8 * 512;
        }
        parser->loadMftRecords();
        parser->buildTree();
        return std::make_unique<NtfsSession>(std::move(parser));
    }

    parser->insertRootItem(request.rootLabel);
    parser->readBootSector();
    if (request.mode == RecoveryMode::Standard) {
        host.setStatus(" ParsingBasedOnMFT is going on....");
        parser->locateMft();
    } else {
        host.setStatus(" scanning for mft entries in deep mode ....");
        parser->deepScanRecords();
    }
    parser->loadMftRecords();
    parser->buildTree();
    return std::make_unique<NtfsSession>(std::move(parser));
}

}  // namespace corvello
