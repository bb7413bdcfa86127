#include "fs/ntfs/Ntfs.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "fs/ntfs/Lznt1.h"
#include "platform/Files.h"
#include "platform/Time.h"

namespace corvello {

namespace {

constexpr std::uint64_t kDefaultClusterSize = 4096;
constexpr std::uint64_t kMaxClusterSize = 2 * 1024 * 1024;
constexpr std::size_t kReadChunk = 1024 * 1024;        // bytes per read when copying data
constexpr std::size_t kMaxAttributeList = 256 * 1024;  // an attribute list is far smaller
constexpr std::size_t kMaxExtensionRecords = 4096;
constexpr std::size_t kMaxUnitBytes = 4 * 1024 * 1024;
constexpr std::uint64_t kDirectoryFlag = 0x10000000;

std::u16string readUtf16(ByteSpan b, std::size_t off, std::size_t chars) {
    std::u16string out;
    out.reserve(chars);
    for (std::size_t k = 0; k < chars; ++k) out.push_back(static_cast<char16_t>(le16(b, off + 2 * k)));
    return out;
}

std::int64_t parentFromReference(std::uint64_t reference) {
    std::uint64_t number = reference & 0xFFFFFFFFFFFFull;
    if (number & 0x800000000000ull) number |= 0xFFFF000000000000ull;
    return static_cast<std::int64_t>(number);
}

}  // namespace

// Writes a stream's bytes to the output, never past its real size, with the bytes past the
// initialised size as zeros.
class StreamWriter {
public:
    StreamWriter(platform::OutputFile& file, std::uint64_t limit, std::uint64_t initialized)
        : file_(file), limit_(limit), initialized_(std::min(initialized, limit)) {}

    bool done() const { return written_ >= limit_; }
    std::uint64_t written() const { return written_; }
    bool failed() const { return failed_; }

    void write(const std::uint8_t* data, std::size_t n) {
        while (n > 0 && !done()) {
            const std::uint64_t room = limit_ - written_;
            std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, room));
            if (written_ < initialized_) {
                take = static_cast<std::size_t>(std::min<std::uint64_t>(take, initialized_ - written_));
                if (!file_.write(data, take)) failed_ = true;
            } else {
                writeZeros(take);
            }
            written_ += take;
            data += take;
            n -= take;
        }
    }

    void zeros(std::uint64_t n) {
        while (n > 0 && !done()) {
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>({n, limit_ - written_, kReadChunk}));
            writeZeros(take);
            written_ += take;
            n -= take;
        }
    }

    // The rest of the file is a hole: set the length without writing the zeros.
    void finishWithHole() {
        if (done()) return;
        if (!file_.truncate(limit_)) failed_ = true;
        written_ = limit_;
    }

private:
    void writeZeros(std::size_t n) {
        static const std::vector<std::uint8_t> zeroBlock(kReadChunk, 0);
        while (n > 0) {
            const std::size_t take = std::min(n, zeroBlock.size());
            if (!file_.write(zeroBlock.data(), take)) failed_ = true;
            n -= take;
        }
    }

    platform::OutputFile& file_;
    std::uint64_t limit_;
    std::uint64_t initialized_;
    std::uint64_t written_ = 0;
    bool failed_ = false;
};

ntfs::ntfs(FileReadSeek& reader, ScanHost& host, ResultTree* tree, VolumeRecord volume)
    : reader_(reader), host_(host), tree_(tree), volume_(std::move(volume)) {}

bool ntfs::insertRootItem(const std::u16string& rootLabel) {
    if (tree_ != nullptr) rootItem = tree_->insertItem(kTreeTop, rootLabel, IconKind::Folder, 0);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Boot sector and MFT location

bool ntfs::readBootSector() {
    bootSector_.assign(512, 0);
    reader_.readAt(0, bootSector_.data(), 512);
    const ByteSpan b(bootSector_);
    if (hasBytes(b, 3, "NTFS")) {
        const std::uint64_t sectors = le64(b, 40);
        volumeBytes = sectors > (~0ull / 512) ? 0 : sectors * 512;
    } else {
        volumeBytes = volume_.sizeBytes();
    }
    // Never look past the end of the medium, whatever the boot sector claims.
    const std::uint64_t deviceBytes = reader_.totalSectors() * 512;
    const auto base = static_cast<std::uint64_t>(std::max<std::int64_t>(reader_.baseOffset, 0));
    if (deviceBytes > 0) volumeBytes = std::min(volumeBytes, deviceBytes > base ? deviceBytes - base : 0);
    return volumeBytes != 0;
}

std::uint64_t ntfs::volumeClusters() const {
    const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
    return volumeBytes / cs;
}

void ntfs::clusterSizeFromBootSector() {
    const ByteSpan b(bootSector_);
    clusterSize = kDefaultClusterSize;
    if (!bootSector_.empty()) {
        const std::uint64_t perSector = le16(b, 11);
        const std::uint8_t spc = u8(b, 13);
        // Values above 128 encode a power of two (2^(256 - value) sectors).
        const std::uint64_t sectors = spc > 128 ? (256 - spc < 20 ? 1ull << (256 - spc) : 0) : spc;
        clusterSize = perSector * sectors;
        if (clusterSize == 0 || clusterSize > kMaxClusterSize) clusterSize = kDefaultClusterSize;
    }
}

bool ntfs::locateMft() {
    const ByteSpan b(bootSector_);
    clusterSizeFromBootSector();
    if (hasBytes(b, 3, "NTFS")) {
        mftReady = true;
        const std::uint64_t mftCluster = le64(b, 48);
        const std::uint64_t mirrorCluster = le64(b, 56);
        if (mftCluster > volumeClusters()) return true;  // nowhere on the volume: no runs
        host_.setStatus("boot sector is fine.Getting run of mft entry...");
        mftRuns = decodeRunList(mftCluster * clusterSize, kAttrData);
        if (mftRuns.empty() && mirrorCluster < volumeClusters())
            mftRuns = decodeRunList(mirrorCluster * clusterSize, kAttrData);  // record 0 damaged: its mirror
        // A fragmented MFT keeps further extents in extension records named by its attribute list.
        if (!mftRuns.empty()) {
            const DataStream whole = readDataStream(0);
            if (whole.present && !whole.resident && !whole.runs.empty()) {
                mftRuns = whole.runs;
                mftBytes_ = whole.realSize;
            }
        }
        host_.setStatus("Got run...");
        runFromFirstEntry = false;
        return true;
    }
    scanForMftRecord();
    return mftReady;
}

// The boot sector is not an NTFS boot sector: look for the MFT's own record ("$MFT") on the
// volume, 512 bytes at a time, and take its run list.
void ntfs::scanForMftRecord() {
    clusterSize = kDefaultClusterSize;
    host_.setStatus("boot sector corrupt.Scanning for first mft entry...");
    mftReady = false;
    constexpr std::uint64_t kChunk = 10 * 1024 * 1024;
    host_.setProgressRange(0, static_cast<std::int64_t>(volumeBytes / kChunk));
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, volumeBytes)));
    std::uint64_t start = 0;
    for (std::uint64_t n = 0; start < volumeBytes; ++n) {
        if (host_.checkpoint()) return;
        if (n % 100 == 0) host_.setProgressPos(static_cast<std::int64_t>(n));
        std::fill(chunk.begin(), chunk.end(), 0);
        const std::uint64_t want = std::min<std::uint64_t>(chunk.size(), volumeBytes - start);
        reader_.readAt(static_cast<std::int64_t>(start), chunk.data(), static_cast<std::uint32_t>(want));
        std::uint64_t step = 0;
        while (step < want) {
            if (!hasBytes(ByteSpan(chunk), step, "FILE")) {
                step += 512;
                continue;
            }
            MftEntry e;
            std::memcpy(e.signature.data(), chunk.data() + step, 4);
            e.location = start + step;
            e.index = entries.size();
            entries.push_back(e);
            dosName_.push_back(false);
            parseRecord(e.location, e.index);
            const MftEntry& found = entries.back();
            if (seekMftName && found.name != nullptr && found.name[0] == u'$' && found.name[1] == u'M' &&
                found.name[2] == u'F') {
                host_.setStatus("found mft entry.getting its run ...");
                std::vector<MftRun> runs = decodeRunList(found.location, kAttrData);
                host_.setStatus("got run ...");
                if (!runs.empty()) {
                    if (const std::uint64_t cs = clusterSizeOfMftCopy(found.location, runs)) clusterSize = cs;
                    mftRuns = std::move(runs);
                    mftReady = true;
                    runFromFirstEntry = false;
                    forgetEntries();
                    return;
                }
            }
            step += 1024;
        }
        start += std::max<std::uint64_t>(step, 512);
    }
}

// An extension record names its base by number and sequence number. When the base record is in
// use with another sequence number, the base was reused for another file and the extension
// record is a leftover of the old one. (A freed base may have had its sequence number raised.)
bool ntfs::extensionBelongsTo(const RecordBytes& extension, const RecordBytes& base) {
    if (!hasFileSignature(base)) return false;
    const auto referenced = static_cast<std::uint16_t>(le64(ByteSpan(extension), 32) >> 48);
    const bool baseInUse = (recordHeaderFlags(base) & 1) != 0;
    return !baseInUse || referenced == 0 || referenced == recordSequence(base);
}

// Record 0 of an MFT lies at the first cluster of the MFT's first run, so its place tells the
// cluster size (0 when it does not).
std::uint64_t ntfs::clusterSizeOfMftCopy(std::uint64_t location, const std::vector<MftRun>& runs) {
    if (runs.empty() || runs.front().sparse || runs.front().lcn <= 0) return 0;
    const auto lcn = static_cast<std::uint64_t>(runs.front().lcn);
    if (location % lcn != 0) return 0;
    const std::uint64_t cs = location / lcn;
    return cs >= 512 && cs <= kMaxClusterSize && (cs & (cs - 1)) == 0 ? cs : 0;
}

// ---------------------------------------------------------------------------------------------
// Searching the volume for records (deep mode, MFT copies)

namespace {
constexpr std::uint64_t kScanChunk = 10 * 1024 * 1024;

// A slot is taken for a record when it says "FILE" and its update-sequence offset and count and
// its first-attribute offset are all below 512.
bool takenAsRecord(ByteSpan slot) {
    return hasBytes(slot, 0, "FILE") && fits(slot, 0, 22) && le16(slot, 4) < 512 && le16(slot, 6) < 512 &&
           le16(slot, 20) < 512;
}
}  // namespace

std::uint64_t ntfs::scanVolume(std::uint64_t limit, const std::function<bool(std::uint64_t)>& beforeChunk,
                               const std::function<void(std::uint64_t)>& onRecord) {
    // A small volume needs no more than its own size of buffer.
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(kScanChunk, limit)));
    std::uint64_t start = 0;
    std::uint64_t n = 0;
    for (; start < limit; ++n) {
        if (!beforeChunk(n)) break;
        std::fill(chunk.begin(), chunk.end(), 0);
        const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(chunk.size(), limit - start));
        const bool read = start <= static_cast<std::uint64_t>(INT64_MAX) &&
                          (reader_.readAt(static_cast<std::int64_t>(start), chunk.data(), want) || reader_.lastDelivered() > 0);
        if (!read) {
            start += kScanChunk;  // an unreadable chunk is skipped, never read again
            continue;
        }
        std::uint64_t step = 0;
        while (step < want) {
            if (takenAsRecord(ByteSpan(chunk).subspan(step, std::min<std::uint64_t>(1024, want - step)))) {
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

void ntfs::forgetEntries() {
    entries.clear();
    names_.clear();
    dosName_.clear();
    recordIndex_.clear();
    recordLocations_.clear();
    pendingExtensions_.clear();
    tail_.clear();
}

bool ntfs::deepScanRecords() {
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
            MftEntry e;
            e.location = location;
            e.index = entries.size();
            entries.push_back(e);
            dosName_.push_back(false);
            parseRecord(location, e.index);
            if (entries[e.index].name != nullptr && entries[e.index].baseRecord == 0) {
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

std::int64_t ntfs::findMftCopies(std::int64_t max) {
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
            MftEntry e;
            e.location = location;
            e.index = entries.size();
            entries.push_back(e);
            dosName_.push_back(false);
            parseRecord(location, e.index);
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

bool ntfs::useFoundMft(std::int64_t k) {
    mftReady = false;
    if (k < 0 || static_cast<std::uint64_t>(k) >= foundMftRecords.size()) return false;
    mftRuns = decodeRunList(foundMftRecords[static_cast<std::size_t>(k)].location, kAttrData);
    if (!mftRuns.empty()) {
        mftReady = true;
        runFromFirstEntry = false;
    }
    return mftReady;
}

std::vector<MftRun> ntfs::decodeRunList(std::uint64_t location, std::uint32_t type) {
    RecordBytes record{};
    if (!readRecordBytes(location, record)) return {};
    applyFixups(record);
    for (const AttributeHeader& a : walkAttributes(record)) {
        if (a.type != type || !a.nonResident || a.nameLength != 0 || a.firstVcn != 0) continue;
        return decodeRunBytes(runListBytes(record, a), vcnRangeClusters(a));
    }
    return {};
}

void ntfs::loadMftRecords() {
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

// ---------------------------------------------------------------------------------------------
// Reading records

bool ntfs::readRecordBytes(std::uint64_t location, RecordBytes& bytes) {
    bytes.fill(0);
    if (location == ~0ull || (volumeBytes > 0 && location + kMftRecordSize > volumeBytes)) return false;
    if (location > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return reader_.readAt(static_cast<std::int64_t>(location), bytes.data(), kMftRecordSize) ||
           reader_.lastDelivered() > 0;
}

bool ntfs::parseRecord(std::uint64_t location, std::uint64_t i) {
    if (i >= entries.size()) return false;
    RecordBytes bytes{};
    if (!readRecordBytes(location, bytes)) return false;
    parseRecordBytes(bytes, i);
    return true;
}

const char16_t* ntfs::keepName(std::u16string name) {
    names_.push_back(std::move(name));
    return names_.back().c_str();
}

void ntfs::parseRecordBytes(RecordBytes& bytes, std::uint64_t i) {
    MftEntry& e = entries[i];
    std::memcpy(e.signature.data(), bytes.data(), 4);
    if (!e.isFile()) return;
    e.damaged = !applyFixups(bytes);
    // An extension record lends its names to its base record and is not an entry of its own.
    // Entries are record numbers once the MFT is loaded; records found by a search are matched
    // to their base through the record numbers the records carry.
    std::uint64_t target = i;
    const std::uint64_t base = baseRecordNumber(bytes);
    const bool byNumber = !mftReady;
    if (base != 0) {
        e.baseRecord = base;
        if (byNumber) {
            const auto it = recordIndex_.find(base);
            if (it == recordIndex_.end()) {
                if (pendingExtensions_[base].size() < 64) pendingExtensions_[base].push_back(e.location);
                return;
            }
            target = it->second;
        } else {
            if (base >= entries.size() || base == i) return;
            RecordBytes baseBytes{};
            if (!readRecordBytes(entries[base].location, baseBytes) || !extensionBelongsTo(bytes, baseBytes)) return;
            target = base;
        }
    } else {
        e.recordFlags = recordHeaderFlags(bytes);
        if (e.recordFlags & 0x0002) e.kind = 'D';
    }
    if (dosName_.size() < entries.size()) dosName_.resize(entries.size(), false);
    takeNames(bytes, target);
    if (byNumber && base == 0 && le16(ByteSpan(bytes), 4) >= 48) {
        // NTFS 3.1 records carry their own number; extension records met before this one now
        // lend their names.
        const std::uint64_t number = le32(ByteSpan(bytes), 44);
        recordIndex_.emplace(number, i);
        recordLocations_.emplace(number, e.location);
        const auto pending = pendingExtensions_.find(number);
        if (pending != pendingExtensions_.end()) {
            const std::vector<std::uint64_t> locations = std::move(pending->second);
            pendingExtensions_.erase(pending);
            RecordBytes ext{};
            for (std::uint64_t location : locations) {
                if (!readRecordBytes(location, ext) || !hasFileSignature(ext)) continue;
                applyFixups(ext);
                if (baseRecordNumber(ext) == number) takeNames(ext, i);
            }
        }
    }
    if (byNumber && base != 0 && le16(ByteSpan(bytes), 4) >= 48)
        recordLocations_.emplace(le32(ByteSpan(bytes), 44), e.location);
}

void ntfs::takeNames(const RecordBytes& bytes, std::uint64_t target) {
    for (const AttributeHeader& a : walkAttributes(bytes)) {
        if (a.type != kAttrFileName || a.nonResident) continue;
        const ByteSpan v = attributeValue(bytes, a);
        if (v.size() < 66) continue;
        MftEntry& t = entries[target];
        if (le32(v, 56) & kDirectoryFlag) t.kind = 'D';
        const std::size_t length = u8(v, 64);
        if (length == 0 || !fits(v, 66, 2 * length)) continue;
        // A long name is kept over a DOS 8.3 name, whatever their order.
        const bool dos = u8(v, 65) == 2;
        if (t.name != nullptr && dos && !dosName_[target]) continue;
        const bool first = t.name == nullptr;
        t.name = keepName(readUtf16(v, 66, length));
        dosName_[target] = dos;
        t.allocatedSize = le64(v, 40);
        if (first) t.parent = parentFromReference(le64(v, 0));
        // Found records are placed by the deep mode's own rule; the MFT-copy search only reads.
        if (mode != 3 && !searching_) attachToParent(target);
    }
}

RecordImage ntfs::loadRecord(std::uint64_t i) {
    RecordImage image;
    hasAttributeList = false;
    if (i >= entries.size()) return image;
    image.location = entries[i].location;
    image.read = readRecordBytes(image.location, image.bytes);
    if (!image.read) return image;
    std::memcpy(image.header.data(), image.bytes.data(), image.header.size());
    image.intact = applyFixups(image.bytes);
    image.attributes = walkAttributes(image.bytes);
    for (const AttributeHeader& a : image.attributes)
        if (a.type == kAttrAttributeList || a.type == kAttrData) hasAttributeList = a.type == kAttrAttributeList;
    return image;
}

DataAttributeInfo ntfs::describeDataAttribute(const RecordImage& image) {
    DataAttributeInfo d;
    hasDataAttribute = false;
    for (const AttributeHeader& a : image.attributes) {
        if (a.type != kAttrData) continue;
        hasDataAttribute = true;
        if (a.nonResident) {
            d = DataAttributeInfo{};
            d.offset = a.runOffset;
            d.length = a.length - a.runOffset;
            d.compressionExponent = a.compressionExponent;
            d.firstVcn = a.firstVcn;
            d.lastVcn = a.lastVcn;
            d.residency = 'N';
            d.status = a.flags == 0x0001 ? kStatusCompressed
                       : a.flags == 0x4000 ? kStatusEncrypted
                       : a.flags == 0 ? kStatusNormal
                                      : nullptr;
            d.allocatedSize = a.allocatedSize;
            d.realSize = a.realSize;
            break;
        }
        d.offset = static_cast<std::uint32_t>(a.start) + a.valueOffset;
        d.length = a.valueLength;
        d.realSize = a.valueLength;
        d.residency = 'R';
        d.status = a.flags == 0x4000 ? kStatusEncrypted : a.flags == 0 ? kStatusNormal : nullptr;
    }
    return d;
}

bool ntfs::readAttributeListBytes(const RecordBytes& record, const AttributeHeader& a, std::vector<std::uint8_t>& out) {
    out.clear();
    if (!a.nonResident) {
        const ByteSpan v = attributeValue(record, a);
        out.assign(v.begin(), v.end());
        return true;
    }
    // A long attribute list lives in clusters of its own, named by its run list.
    const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(a.realSize, kMaxAttributeList));
    std::vector<std::uint8_t> cluster(cs);
    for (const MftRun& run : decodeRunBytes(runListBytes(record, a), vcnRangeClusters(a))) {
        for (std::uint64_t k = 0; k < run.count && out.size() < size; ++k) {
            std::fill(cluster.begin(), cluster.end(), 0);
            if (!run.sparse && !readClusters(run.lcn + static_cast<std::int64_t>(k), 1, cluster.data())) return false;
            out.insert(out.end(), cluster.begin(), cluster.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(cs, size - out.size())));
        }
    }
    return out.size() == size;
}

void ntfs::collectExtensionRecords(const RecordImage& image) {
    extensionRecords.clear();
    for (const AttributeHeader& a : image.attributes) {
        if (a.type != kAttrAttributeList) continue;
        hasDataAttribute = false;
        std::vector<std::uint8_t> list;
        readAttributeListBytes(image.bytes, a, list);
        const ByteSpan l(list);
        std::size_t off = 0;
        while (fits(l, off, 24) && extensionRecords.size() < kMaxExtensionRecords) {
            const std::uint32_t type = le32(l, off);
            const std::uint16_t length = le16(l, off + 4);
            if (type == kAttrEnd || length == 0) break;
            if (type == kAttrData && u8(l, off + 6) == 0) {
                const std::uint64_t r = le64(l, off + 16) & 0xFFFFFFFFFFFFull;
                if (std::find(extensionRecords.begin(), extensionRecords.end(), r) == extensionRecords.end())
                    extensionRecords.push_back(r);
            }
            off += length;
        }
    }
}

DataStream ntfs::readDataStream(std::uint64_t i) {
    DataStream stream;
    // Where record r lies: the loaded entry, or (while the MFT itself is being located) the
    // place its number maps to through the MFT's runs.
    auto locationOf = [&](std::uint64_t r, std::uint64_t& location) {
        if (mftReady && r < entries.size()) {
            location = entries[r].location;
            return location != ~0ull;
        }
        if (!mftReady) {
            const auto it = recordLocations_.find(r);
            if (it != recordLocations_.end()) {
                location = it->second;
                return true;
            }
        }
        const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
        std::uint64_t vcnByte = r * kMftRecordSize;
        for (const MftRun& run : mftRuns) {
            const std::uint64_t runBytes = run.count > ~0ull / cs ? ~0ull : run.count * cs;
            if (vcnByte < runBytes) {
                if (run.sparse) return false;
                location = static_cast<std::uint64_t>(run.lcn) * cs + vcnByte;
                return true;
            }
            vcnByte -= runBytes;
        }
        return false;
    };

    std::uint64_t baseLocation = 0;
    if (i < entries.size() && (mftReady || !entries.empty()))
        baseLocation = entries[i].location;
    else if (!locationOf(i, baseLocation))
        return stream;
    RecordBytes base{};
    if (!readRecordBytes(baseLocation, base) || !hasFileSignature(base)) return stream;
    applyFixups(base);
    // The number extension records name as their base: the entry's index once the MFT is
    // loaded, else the number the record carries.
    std::uint64_t baseNumber = i;
    if (!mftReady && i < entries.size() && le16(ByteSpan(base), 4) >= 48) baseNumber = le32(ByteSpan(base), 44);

    struct Extent {
        AttributeHeader header;
        std::vector<MftRun> runs;
    };
    std::vector<Extent> extents;
    bool residentSeen = false;
    auto takeFrom = [&](const RecordBytes& record) {
        for (const AttributeHeader& a : walkAttributes(record)) {
            if (a.type != kAttrData || a.nameLength != 0) continue;
            if (a.nonResident) {
                extents.push_back({a, decodeRunBytes(runListBytes(record, a), vcnRangeClusters(a))});
            } else if (!residentSeen) {
                residentSeen = true;
                const ByteSpan v = attributeValue(record, a);
                stream.residentValue.assign(v.begin(), v.end());
                stream.flags = a.flags;
            }
        }
    };
    takeFrom(base);

    // Extents held in extension records, named by the attribute list (resident or not).
    RecordImage image;
    image.bytes = base;
    image.attributes = walkAttributes(base);
    collectExtensionRecords(image);
    for (std::uint64_t r : extensionRecords) {
        if (r == baseNumber) continue;
        std::uint64_t location = 0;
        RecordBytes ext{};
        if (!locationOf(r, location) || !readRecordBytes(location, ext) || !hasFileSignature(ext)) {
            stream.gaps = true;
            continue;
        }
        applyFixups(ext);
        if (baseRecordNumber(ext) != baseNumber || !extensionBelongsTo(ext, base)) {
            stream.gaps = true;  // reused for another file since
            continue;
        }
        takeFrom(ext);
    }

    if (extents.empty()) {
        if (!residentSeen) return stream;
        stream.present = true;
        stream.resident = true;
        stream.realSize = stream.initializedSize = stream.residentValue.size();
        return stream;
    }
    std::stable_sort(extents.begin(), extents.end(),
                     [](const Extent& a, const Extent& b) { return a.header.firstVcn < b.header.firstVcn; });
    stream.present = true;
    const AttributeHeader& first = extents.front().header;
    if (first.firstVcn != 0) stream.gaps = true;
    stream.flags = first.flags;
    stream.compressionExponent = first.compressionExponent;
    stream.realSize = first.firstVcn == 0 ? first.realSize : 0;
    stream.initializedSize = first.firstVcn == 0 ? first.initializedSize : 0;
    std::uint64_t covered = 0;
    for (const Extent& x : extents) {
        if (x.header.firstVcn < covered) {
            stream.gaps = true;  // overlaps what is joined already
            continue;
        }
        if (x.header.firstVcn > covered) {
            stream.gaps = true;
            stream.runs.push_back({0, x.header.firstVcn - covered, true});
            covered = x.header.firstVcn;
        }
        for (const MftRun& run : x.runs) {
            stream.runs.push_back(run);
            covered += run.count;
        }
    }
    return stream;
}

RecordTimes ntfs::readRecordTimes(std::uint64_t location) {
    RecordTimes t;
    RecordBytes record{};
    if (!readRecordBytes(location, record) || !hasFileSignature(record)) return t;
    applyFixups(record);
    std::uint32_t standardAttributes = 0;
    bool fromFileName = false;
    for (const AttributeHeader& a : walkAttributes(record)) {
        const ByteSpan v = attributeValue(record, a);
        if (a.type == kAttrStandardInformation && v.size() >= 32) {
            t.creation = le64(v, 0);
            t.modification = le64(v, 8);
            t.access = le64(v, 24);
            standardAttributes = le32(v, 32);
        } else if (a.type == kAttrFileName && v.size() >= 66) {
            const std::uint16_t attributes = le16(v, 56);
            std::string text;
            if (attributes & 0x0001) text += "-R";
            if (attributes & 0x0002) text += "-H";
            if (attributes & 0x0200) text += "-S";
            if (attributes & 0x0020) text += "-A";
            if (attributes & 0x0800) text += "-C";
            if (attributes & 0x4000) text += "-E";
            t.attributeText = text;
            fromFileName = true;
        }
    }
    if (!fromFileName && standardAttributes != 0) {
        // The names of this record live in an extension record: the standard information's
        // attributes stand in for them.
        std::string text;
        if (standardAttributes & 0x0001) text += "-R";
        if (standardAttributes & 0x0002) text += "-H";
        if (standardAttributes & 0x0200) text += "-S";
        if (standardAttributes & 0x0020) text += "-A";
        if (standardAttributes & 0x0800) text += "-C";
        if (standardAttributes & 0x4000) text += "-E";
        t.attributeText = text;
    }
    return t;
}

// ---------------------------------------------------------------------------------------------
// Tree

void ntfs::attachToParent(std::uint64_t index) {
    const std::uint64_t n = entries.size();
    if (index >= n) return;
    MftEntry& e = entries[index];
    if (e.attached) return;  // a further name of the same record keeps its place
    e.attached = true;
    const std::int64_t i = static_cast<std::int64_t>(index);
    const std::int64_t p = e.parent;
    // The parent has been decoded when the walk has passed it.
    const std::int64_t decoded =
        parsePosition_ == ~0ull ? static_cast<std::int64_t>(n) : static_cast<std::int64_t>(parsePosition_);
    if (p >= 0 && p < i && p < decoded + 1) {
        if (entries[p].kind != 'D') {
            e.orphan = 1;
            return;
        }
        if (entries[p].firstChild == 0 && p != i && e.name != nullptr) entries[p].firstChild = i;
    } else {
        e.nextSibling = 0;
        if (p < 0 || static_cast<std::uint64_t>(p) >= n) {
            e.orphan = 1;
            return;
        }
        if (entries[p].firstChild == 0) entries[p].firstChild = i;
    }
    if (i == 0) return;
    MftEntry& parent = entries[p];
    if (tail_.size() < n) tail_.resize(n, 0);
    if (p == 0 || parent.firstChild == 0) {
        parent.firstChild = i;
        tail_[p] = i;
        return;
    }
    const std::int64_t c = parent.firstChild;
    if (c == i) tail_[p] = i;
    if (c < 0 || static_cast<std::uint64_t>(c) >= n || !entries[c].isFile() || c == i || p == i) return;
    // Append at the tail of the sibling list, never twice. The walk starts at the tail this
    // parent's list had last time (a large folder is not walked once per child) and is bounded
    // by the table.
    std::int64_t cur = tail_[p] > 0 ? tail_[p] : c;
    for (std::uint64_t steps = 0; steps < n; ++steps) {
        if (cur == i) return;
        const std::int64_t next = entries[cur].nextSibling;
        if (next <= 0 || static_cast<std::uint64_t>(next) >= n || next == cur) break;
        cur = next;
    }
    if (cur != i) {
        entries[cur].nextSibling = i;
        tail_[p] = i;
    }
}

// A record linked under a parent that turned out not to be a directory (its record was reused
// for a file, or never named) is shown under "ORPHAN_ENTRY" instead of disappearing.
void ntfs::orphanChildrenOfNonFolders() {
    const std::uint64_t n = entries.size();
    for (std::uint64_t p = 0; p < n; ++p) {
        MftEntry& parent = entries[p];
        if (parent.firstChild <= 0 || (parent.kind == 'D' && parent.name != nullptr)) continue;
        std::int64_t cur = parent.firstChild;
        parent.firstChild = 0;
        for (std::uint64_t steps = 0; steps < n && cur > 0 && static_cast<std::uint64_t>(cur) < n; ++steps) {
            MftEntry& child = entries[cur];
            const std::int64_t next = child.nextSibling;
            child.nextSibling = 0;
            if (child.name != nullptr) child.orphan = 1;
            if (next == cur) break;
            cur = next;
        }
    }
}

void ntfs::buildTree() {
    if (mftReady && !host_.stopRequested()) {
        const std::uint64_t n = entries.size();
        host_.setProgressRange(0, static_cast<std::int64_t>(n));
        RecordBytes bytes{};
        for (std::uint64_t i = 0; i < n; ++i) {
            if ((i & 1023) == 0) {
                if (host_.checkpoint()) break;
                host_.setStatus(format("parsing MFT entry %llu...", static_cast<unsigned long long>(i)));
                host_.setProgressPos(static_cast<std::int64_t>(i));
            }
            parsePosition_ = i;
            if (readRecordBytes(entries[i].location, bytes)) parseRecordBytes(bytes, i);
        }
        parsePosition_ = ~0ull;
        tail_.clear();
        orphanChildrenOfNonFolders();
    }

    MftEntry pseudo;
    pseudo.signature = {'F', 'I', 'L', 'E'};
    pseudo.name = keepName(u"ORPHAN_ENTRY");
    pseudo.kind = 'D';
    pseudo.recordFlags = 1;  // shown as present
    orphanIndex = entries.size();
    pseudo.index = orphanIndex;
    entries.push_back(pseudo);
    dosName_.push_back(false);

    rootIndex = entries.size();
    for (std::uint64_t i = 0; i < entries.size(); ++i) {
        if (entries[i].name != nullptr && std::u16string_view(entries[i].name) == u".") {
            rootIndex = i;
            break;
        }
    }
    if (rootIndex < entries.size()) {
        MftEntry& o = entries[orphanIndex];
        o.parent = static_cast<std::int64_t>(rootIndex);
        o.nextSibling = 0;
        o.recordFlags = 1;
        std::int64_t cur = entries[rootIndex].firstChild;
        const std::uint64_t n = entries.size();
        for (std::uint64_t steps = 0; steps < n && cur > 0 && static_cast<std::uint64_t>(cur) < n; ++steps) {
            const std::int64_t next = entries[cur].nextSibling;
            if (next <= 0 || static_cast<std::uint64_t>(next) >= n || next == cur) {
                entries[cur].nextSibling = static_cast<std::int64_t>(orphanIndex);
                break;
            }
            cur = next;
        }
    }
    placeOrphans();
    fillTreeTopLevel();
}

void ntfs::placeOrphans() {
    host_.setProgressRange(0, static_cast<std::int64_t>(entries.size()));
    MftEntry& pseudo = entries[orphanIndex];
    const auto orphanId = static_cast<std::int64_t>(orphanIndex);
    if (mode != 3) {
        bool first = true;
        for (std::uint64_t i = 0; i < entries.size(); ++i) {
            MftEntry& e = entries[i];
            if (e.orphan != 1 || i == orphanIndex) continue;
            if (first) {
                pseudo.firstChild = static_cast<std::int64_t>(i);
                e.parent = orphanId;
                e.nextSibling = -1;
                first = false;
            } else {
                e.nextSibling = pseudo.firstChild;
                pseudo.firstChild = static_cast<std::int64_t>(i);
            }
        }
        return;
    }
    // Deep mode: parent references of found records cannot be trusted. Directories form a flat
    // list under the pseudo-directory; files go under the directory found before them.
    for (std::uint64_t i = 0; i < entries.size(); ++i) {
        if (i == orphanIndex || i == rootIndex) continue;
        entries[i].firstChild = entries[i].parent = entries[i].nextSibling = 0;
    }
    std::uint64_t prev = orphanIndex;
    std::uint64_t directories = 0;
    bool firstDirectory = true;
    for (std::uint64_t i = 0; i < entries.size(); ++i) {
        if (i == orphanIndex || i == rootIndex) continue;
        MftEntry& e = entries[i];
        if (e.name == nullptr) continue;
        if (e.kind == 'D') {
            if (!firstDirectory) ++directories;
            firstDirectory = false;
            if (directories <= 100000) {
                e.nextSibling = pseudo.firstChild != 0 ? pseudo.firstChild : -1;
                pseudo.firstChild = static_cast<std::int64_t>(i);
                e.parent = orphanId;
                prev = i;
                continue;
            }
        }
        MftEntry& holder = entries[prev];
        e.nextSibling = holder.firstChild != 0 ? holder.firstChild : -1;
        holder.firstChild = static_cast<std::int64_t>(i);
    }
}

bool ntfs::fillTreeTopLevel() {
    // Without the root's record the entries found still show, under the pseudo-directory.
    const bool rootFound = rootIndex < entries.size();
    if (tree_ == nullptr) return rootFound;
    bool pseudoShown = false;
    if (mode != 3 && rootFound) {
        std::set<std::int64_t> seen;
        const std::uint64_t n = entries.size();
        for (std::int64_t cur = entries[rootIndex].firstChild;
             cur > 0 && static_cast<std::uint64_t>(cur) < n && seen.insert(cur).second; cur = entries[cur].nextSibling) {
            const MftEntry& child = entries[cur];
            if (child.name == nullptr) continue;
            const TextColor color = (child.recordFlags & 1) ? kDefaultColor : kDeletedColor;
            tree_->insertItem(rootItem, child.name, child.kind == 'D' ? IconKind::Folder : IconKind::File,
                              static_cast<ItemData>(cur) + 1, color);
            if (static_cast<std::uint64_t>(cur) == orphanIndex) pseudoShown = true;
        }
    }
    if (!pseudoShown)
        tree_->insertItem(rootItem, entries[orphanIndex].name, IconKind::Folder, static_cast<ItemData>(orphanIndex) + 1);
    tree_->expand(rootItem);
    return rootFound;
}

// ---------------------------------------------------------------------------------------------
// Display texts

std::uint64_t ntfs::dataSize(std::uint64_t i) {
    if (i >= entries.size() || !entries[i].isFile() || i == orphanIndex) return 0;
    if (entries[i].kind == 'D') return 0;
    const DataStream stream = readDataStream(i);
    return stream.present ? stream.realSize : 0;
}

std::string ntfs::sizeText(std::uint64_t i) { return formatSizeText(dataSize(i)); }

std::array<std::string, 4> ntfs::timeTexts(const MftEntry& entry) {
    const RecordTimes t = readRecordTimes(entry.location);
    auto text = [](std::uint64_t filetime) { return formatLocalTime(platform::fromFiletime(filetime)); };
    return {text(t.creation), text(t.access), text(t.modification), t.attributeText};
}

void ntfs::rename(std::uint64_t i, const std::u16string& name) {
    if (i < entries.size()) entries[i].name = keepName(name);
}

// ---------------------------------------------------------------------------------------------
// Extraction

bool ntfs::readClusters(std::int64_t lcn, std::uint64_t count, std::uint8_t* out) {
    const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
    const std::uint64_t bytes = count * cs;
    std::memset(out, 0, bytes);
    if (lcn < 0) return false;
    const auto first = static_cast<std::uint64_t>(lcn);
    if (volumeBytes > 0 && (first > volumeClusters() || count > volumeClusters() - first)) return false;
    return reader_.readAt(static_cast<std::int64_t>(first * cs), out, static_cast<std::uint32_t>(bytes));
}

bool ntfs::writeStream(const DataStream& stream, StreamWriter& out) {
    const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
    const std::uint64_t chunkClusters = std::max<std::uint64_t>(1, kReadChunk / cs);
    std::vector<std::uint8_t> buffer(chunkClusters * cs);
    bool complete = true;
    for (std::size_t r = 0; r < stream.runs.size() && !out.done(); ++r) {
        const MftRun& run = stream.runs[r];
        if (run.sparse) {
            // A hole that lasts to the end of the data is left as a hole in the output.
            bool last = true;
            for (std::size_t k = r + 1; k < stream.runs.size(); ++k) last = last && stream.runs[k].sparse;
            if (last && run.count >= (stream.realSize - out.written() + cs - 1) / cs) {
                out.finishWithHole();
                break;
            }
        }
        for (std::uint64_t k = 0; k < run.count && !out.done(); k += chunkClusters) {
            if (host_.stopRequested()) return false;
            const std::uint64_t take = std::min(chunkClusters, run.count - k);
            if (run.sparse) {
                out.zeros(take * cs);
                continue;
            }
            if (!readClusters(run.lcn + static_cast<std::int64_t>(k), take, buffer.data())) complete = false;
            out.write(buffer.data(), static_cast<std::size_t>(take * cs));
        }
    }
    return complete && out.done();
}

bool ntfs::writeCompressed(const DataStream& stream, StreamWriter& out) {
    const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
    const std::uint32_t exponent = stream.compressionExponent;
    if (exponent > 16 || (cs << exponent) > kMaxUnitBytes) {
        writeStream(stream, out);  // not a compression unit this program can hold: raw clusters
        return false;
    }
    const std::uint64_t unitClusters = 1ull << exponent;
    const std::size_t unitBytes = static_cast<std::size_t>(unitClusters * cs);
    std::vector<std::uint8_t> input(unitBytes), output(unitBytes);
    std::vector<MftRun> unit;  // one element per cluster of the unit
    unit.reserve(unitClusters);
    std::size_t runIndex = 0;
    std::uint64_t inRun = 0;
    bool complete = true;
    while (!out.done() && runIndex < stream.runs.size()) {
        if (host_.stopRequested()) return false;
        unit.clear();
        while (unit.size() < unitClusters && runIndex < stream.runs.size()) {
            const MftRun& run = stream.runs[runIndex];
            unit.push_back({run.sparse ? 0 : run.lcn + static_cast<std::int64_t>(inRun), 1, run.sparse});
            if (++inRun >= run.count) {
                ++runIndex;
                inRun = 0;
            }
        }
        std::size_t allocated = 0;  // 1 + position of the last allocated cluster
        for (std::size_t k = 0; k < unit.size(); ++k)
            if (!unit[k].sparse) allocated = k + 1;
        if (allocated == 0) {
            out.zeros(unitBytes);
            continue;
        }
        for (std::size_t k = 0; k < allocated; ++k) {
            if (unit[k].sparse)
                std::memset(input.data() + k * cs, 0, cs);
            else if (!readClusters(unit[k].lcn, 1, input.data() + k * cs))
                complete = false;
        }
        if (allocated == unitClusters) {
            out.write(input.data(), unitBytes);  // stored uncompressed
            continue;
        }
        std::fill(output.begin(), output.end(), 0);
        Lznt1State state;
        state.output = output.data();
        state.capacity = output.size();
        state.input = input.data();
        state.inputLength = allocated * cs;
        if (decompressLznt1(state) != 0) complete = false;
        // A unit always stands for unitBytes of the file; what the chunks did not fill is zero.
        out.write(output.data(), unitBytes);
    }
    return complete && out.done();
}

bool ntfs::extractEntry(std::uint64_t i, const std::string& path) {
    if (i >= entries.size() || entries[i].name == nullptr) return false;
    platform::OutputFile file;
    if (!file.create(path)) return false;
    const MftEntry& e = entries[i];
    bool ok = true;
    RecordBytes probe{};
    if (e.location == ~0ull || !readRecordBytes(e.location, probe) || !hasFileSignature(probe)) {
        host_.notice("not a valid entry...");
        file.close();
        return false;
    }
    const DataStream stream = readDataStream(i);
    if (stream.present && e.kind == 'D') {
        host_.notice(format("This is  %s directory .Please specify file names ", toUtf8(trimmed(e.name)).c_str()));
    } else if (stream.present) {
        StreamWriter out(file, stream.realSize, stream.initializedSize);
        if (stream.resident) {
            out.write(stream.residentValue.data(), stream.residentValue.size());
            ok = out.done();
        } else if (stream.flags & 0x00FF) {
            ok = writeCompressed(stream, out);
        } else {
            ok = writeStream(stream, out);
        }
        ok = ok && !out.failed() && !stream.gaps;
    }
    const RecordTimes t = readRecordTimes(e.location);
    if (!file.close()) ok = false;
    platform::setFileTimes(path, platform::fromFiletime(t.access), platform::fromFiletime(t.modification));
    return ok;
}

}  // namespace corvello
