// Searching the volume for MFT records: the deep mode and the MFT copies of the advanced mode.

#include "fs/ntfs/NtfsParser.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/VolumeView.h"
#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/NtfsInternal.h"
#include "platform/Files.h"
#include "platform/Time.h"

namespace corvello {

using namespace ntfs_internal;

// ---------------------------------------------------------------------------------------------
// Searching the volume for records (deep mode, MFT copies)

namespace {

// A slot is taken for a record when it says "FILE" and its update-sequence offset and count and
// its first-attribute offset are all below 512.
bool takenAsRecord(ByteSpan slot) {
    return hasBytes(slot, 0, "FILE") && fits(slot, 0, 22) && le16(slot, 4) < 512 && le16(slot, 6) < 512 &&
           le16(slot, 20) < 512;
}
}  // namespace

std::uint64_t NtfsParser::scanVolume(std::uint64_t limit, const std::function<bool(std::uint64_t)>& beforeChunk,
                               const std::function<void(std::uint64_t)>& onRecord) {
    // A small volume needs no more than its own size of buffer; a volume held in memory needs
    // none.
    const auto chunkBytes = static_cast<std::size_t>(std::min<std::uint64_t>(kScanChunk, limit));
    std::vector<std::uint8_t> chunk;
    std::uint64_t start = 0;
    std::uint64_t n = 0;
    for (; start < limit; ++n) {
        if (!beforeChunk(n)) break;
        // The read leaves zeros where nothing arrived; nothing past want is looked at.
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(chunkBytes, limit - start));
        const std::uint8_t* bytes = reader_.bytesInPlace(start, want);
        if (bytes == nullptr) {
            chunk.resize(chunkBytes);
            if (start > static_cast<std::uint64_t>(INT64_MAX) || reader_.readAt(start, chunk.data(), want) == 0) {
                start += kScanChunk;  // an unreadable chunk is skipped, never read again
                continue;
            }
            bytes = chunk.data();
        }
        const ByteSpan span(bytes, want);
        std::uint64_t step = 0;
        while (step < want) {
            if (takenAsRecord(span.subspan(step, std::min<std::uint64_t>(1024, want - step)))) {
                onRecord(start + step);
                step += 1024;
            } else {
                step += 512;
            }
        }
        start += step;
    }
    return n;
}

void NtfsParser::forgetEntries() {
    entries.clear();
    names_.clear();
    dosName_.clear();
    recordIndex_.clear();
    recordLocations_.clear();
    pendingExtensions_.clear();
    tail_.clear();
}

std::uint64_t NtfsParser::addFoundRecord(std::uint64_t location) {
    MftEntry e;
    e.location = location;
    e.index = entries.size();
    entries.push_back(e);
    dosName_.push_back(false);
    parseRecord(location, e.index);
    return e.index;
}

bool NtfsParser::deepScanRecords() {
    clusterSizeFromBootSector();
    mftReady = false;
    host_.setProgressRange(0, static_cast<std::int64_t>(volumeBytes / kScanChunk));
    std::uint64_t named = 0;
    const std::uint64_t chunks = scanVolume(
        volumeBytes,
        [&](std::uint64_t n) {
            if (host_.checkpoint()) return false;
            host_.setProgressPos(static_cast<std::int64_t>(n));
            return true;
        },
        [&](std::uint64_t location) {
            const std::uint64_t i = addFoundRecord(location);
            if (entries[i].name != nullptr && entries[i].baseRecord == 0) {
                ++named;
                host_.setStatus(format("MFT ENTRY %llu Found.Parsing it ..", static_cast<unsigned long long>(named)));
            }
        });
    // Records that got no name (extension records lend theirs to their base) leave no entry.
    // Index 0 stays an empty slot: a link of 0 means "none", so entry 0 could never be shown.
    std::vector<MftEntry> kept(1);
    for (MftEntry& e : entries) {
        if (e.name == nullptr || e.baseRecord != 0) continue;
        e.index = kept.size();
        e.orphan = 1;
        e.firstChild = e.nextSibling = e.parent = 0;
        kept.push_back(e);
    }
    entries = std::move(kept);
    dosName_.assign(entries.size(), false);
    recordIndex_.clear();
    pendingExtensions_.clear();
    host_.setProgressPos(static_cast<std::int64_t>(chunks));
    return false;
}

std::int64_t NtfsParser::findMftCopies(std::int64_t max) {
    volumeBytes = volume_.sizeBytes();
    if (volumeBytes == 0) return static_cast<std::int64_t>(foundMftRecords.size());
    clusterSizeFromBootSector();
    mftReady = false;
    searching_ = true;
    host_.setProgressRange(0, static_cast<std::int64_t>(volumeBytes / kScanChunk));
    std::string status;
    const std::uint64_t chunks = scanVolume(
        volumeBytes > kMftRecordSize ? volumeBytes - kMftRecordSize : 0,
        [&](std::uint64_t n) {
            if (!foundMftRecords.empty() && static_cast<std::int64_t>(foundMftRecords.size()) >= max) return false;
            if (host_.stopRequested()) {
                host_.clearStop();
                return false;
            }
            host_.checkpoint();
            host_.setProgressPos(static_cast<std::int64_t>(n));
            return true;
        },
        [&](std::uint64_t location) {
            addFoundRecord(location);
            if (!status.empty()) host_.setStatus(status);
            const std::u16string_view name = entries.back().name != nullptr ? entries.back().name : u"";
            if (entries.size() >= 8 && name.substr(0, 5) == u"$Boot") {
                const MftEntry& candidate = entries[entries.size() - 8];
                const std::u16string_view c = candidate.name != nullptr ? candidate.name : u"";
                if (c.substr(0, 4) == u"$MFT" && (c.size() < 5 || c[4] != u'M')) {
                    foundMftRecords.push_back(candidate);
                    status = format("MFT ENTRY %zu Found.Parsing it ...", entries.size());
                }
            }
        });
    searching_ = false;
    seekMftName = false;
    host_.setProgressPos(static_cast<std::int64_t>(chunks));
    return static_cast<std::int64_t>(foundMftRecords.size());
}

std::int64_t NtfsParser::takeMftCopies(const std::vector<std::int64_t>& locations) {
    volumeBytes = volume_.sizeBytes();
    clusterSizeFromBootSector();
    mftReady = false;
    foundMftRecords.clear();
    for (const std::int64_t location : locations) {
        if (location < 0 || static_cast<std::uint64_t>(location) >= volumeBytes) continue;
        MftEntry copy;
        copy.location = static_cast<std::uint64_t>(location);
        foundMftRecords.push_back(copy);
    }
    seekMftName = false;
    return static_cast<std::int64_t>(foundMftRecords.size());
}

bool NtfsParser::useFoundMft(std::int64_t k) {
    mftReady = false;
    if (k < 0 || static_cast<std::uint64_t>(k) >= foundMftRecords.size()) return false;
    mftRuns = decodeRunList(foundMftRecords[static_cast<std::size_t>(k)].location, kAttrData);
    if (!mftRuns.empty()) {
        mftReady = true;
        runFromFirstEntry = false;
    }
    return mftReady;
}

std::vector<MftRun> NtfsParser::decodeRunList(std::uint64_t location, std::uint32_t type) {
    RecordBytes record{};
    if (!readRecordBytes(location, record)) return {};
    applyFixups(record);
    for (const AttributeHeader& a : walkAttributes(record)) {
        if (a.type != type || !a.nonResident || a.nameLength != 0 || a.firstVcn != 0) continue;
        return decodeRunBytes(runListBytes(record, a), vcnRangeClusters(a));
    }
    return {};
}

void NtfsParser::loadMftRecords() {
    if (!mftReady || host_.stopRequested()) return;
    if (clusterSize == 0) clusterSize = kDefaultClusterSize;
    forgetEntries();
    recordsPerCluster = static_cast<std::uint32_t>(std::max<std::uint64_t>(clusterSize / kMftRecordSize, 1));
    // Never more slots than the volume can hold, nor (when the MFT's size is known) than the
    // MFT holds; runs are cut at the end of the volume.
    std::uint64_t maxSlots = volumeBytes / kMftRecordSize;
    if (mftBytes_ > 0 && mftBytes_ < volumeBytes) {
        const std::uint64_t allocated = (mftBytes_ + clusterSize - 1) / clusterSize * clusterSize;
        maxSlots = std::min(maxSlots, allocated / kMftRecordSize);
    }
    // Record r begins at byte r * 1024 of the MFT's data, wherever its runs put that byte, so
    // numbering holds with clusters smaller than a record and runs of any length. Slots outside
    // the volume or in a hole are kept (numbering) but cannot be read.
    std::uint64_t runStart = 0;  // MFT byte where the run begins
    for (const MftRun& run : mftRuns) {
        if (host_.checkpoint()) return;
        host_.setStatus(format("parsing %lld cluster of MFT run.", static_cast<long long>(run.lcn)));
        const std::uint64_t runBytes = run.count > (~0ull / clusterSize) ? ~0ull : run.count * clusterSize;
        const std::uint64_t runEnd = runBytes > ~0ull - runStart ? ~0ull : runStart + runBytes;
        const std::uint64_t first = run.sparse ? 0 : static_cast<std::uint64_t>(run.lcn) * clusterSize;
        for (std::uint64_t r = entries.size(); r < maxSlots && r * kMftRecordSize < runEnd; ++r) {
            MftEntry e;
            const std::uint64_t inRun = r * kMftRecordSize - runStart;
            const bool outside = run.sparse || static_cast<std::uint64_t>(run.lcn) > ~0ull / clusterSize ||
                                 inRun > ~0ull - first;
            e.location = outside ? ~0ull : first + inRun;
            e.index = r;
            entries.push_back(e);
        }
        if (entries.size() >= maxSlots || runEnd == ~0ull) break;
        runStart = runEnd;
    }
    dosName_.assign(entries.size(), false);
}

}  // namespace corvello
