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
#include "partition/BootSector.h"
#include "platform/Files.h"
#include "platform/Time.h"

namespace corvello {

using namespace ntfs_internal;

NtfsParser::NtfsParser(const ParserInputs& inputs)
    : mode(inputs.mode), reader_(inputs.view), host_(*inputs.host), tree_(inputs.tree), volume_(inputs.volume) {}

bool NtfsParser::insertRootItem(const std::u16string& rootLabel) {
    if (tree_ != nullptr) rootItem = tree_->insertItem(kTreeTop, rootLabel, IconKind::Folder, 0);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Boot sector and MFT location

bool NtfsParser::readBootSector() {
    bootSector_.assign(512, 0);
    reader_.readAt(0, bootSector_.data(), 512);
    // Never look past the end of the medium, whatever the boot sector claims.
    const bool sized = reader_.source() != nullptr && reader_.source()->sourceBytes() >= 512;
    const std::uint64_t device = reader_.sectorBytes();
    if (!hasBytes(ByteSpan(bootSector_), 3, "NTFS")) {
        // The first sector is gone: NTFS keeps a copy of it in the sector after the sectors it
        // counts, the partition's last sector; a volume whose length came from the boot sector
        // itself ends just before that copy.
        const auto length = static_cast<std::uint64_t>(std::max<std::int64_t>(volume_.sizeBytes(), 0));
        std::vector<std::uint8_t> backup(512, 0);
        for (const std::uint64_t sector : {length / 512 - 1, length / 512}) {
            if (length < 1024 || (sized && (sector + 1) * 512 > device)) continue;
            const auto at = static_cast<std::int64_t>(sector);
            if (reader_.readFull(sector * 512, backup.data(), 512) && isNtfsBackupAt(ByteSpan(backup), at)) {
                bootSector_ = backup;
                host_.setStatus(backupStatusText(BootKind::Ntfs, at * 512));
                break;
            }
        }
    }
    const ByteSpan b(bootSector_);
    if (hasBytes(b, 3, "NTFS")) {
        const std::uint64_t sectors = le64(b, 40);
        volumeBytes = sectors > (~0ull / 512) ? 0 : sectors * 512;
    } else {
        volumeBytes = volume_.sizeBytes();
    }
    if (sized) volumeBytes = std::min(volumeBytes, device);
    return volumeBytes != 0;
}

std::uint64_t NtfsParser::volumeClusters() const {
    const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
    return volumeBytes / cs;
}

void NtfsParser::clusterSizeFromBootSector() {
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

bool NtfsParser::locateMft() {
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
void NtfsParser::scanForMftRecord() {
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
        reader_.readAt(start, chunk.data(), static_cast<std::size_t>(want));
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
bool NtfsParser::extensionBelongsTo(const RecordBytes& extension, const RecordBytes& base) {
    if (!hasFileSignature(base)) return false;
    const auto referenced = static_cast<std::uint16_t>(le64(ByteSpan(extension), 32) >> 48);
    const bool baseInUse = (recordHeaderFlags(base) & 1) != 0;
    return !baseInUse || referenced == 0 || referenced == recordSequence(base);
}

// Record 0 of an MFT lies at the first cluster of the MFT's first run, so its place tells the
// cluster size (0 when it does not).
std::uint64_t NtfsParser::clusterSizeOfMftCopy(std::uint64_t location, const std::vector<MftRun>& runs) {
    if (runs.empty() || runs.front().sparse || runs.front().lcn <= 0) return 0;
    const auto lcn = static_cast<std::uint64_t>(runs.front().lcn);
    if (location % lcn != 0) return 0;
    const std::uint64_t cs = location / lcn;
    return cs >= 512 && cs <= kMaxClusterSize && (cs & (cs - 1)) == 0 ? cs : 0;
}

// ---------------------------------------------------------------------------------------------
// Reading records

bool NtfsParser::readRecordBytes(std::uint64_t location, RecordBytes& bytes) {
    bytes.fill(0);
    if (location == ~0ull || (volumeBytes > 0 && location + kMftRecordSize > volumeBytes)) return false;
    if (location > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return reader_.readAt(location, bytes.data(), kMftRecordSize) > 0;
}

bool NtfsParser::parseRecord(std::uint64_t location, std::uint64_t i) {
    if (i >= entries.size()) return false;
    RecordBytes bytes{};
    if (!readRecordBytes(location, bytes)) return false;
    parseRecordBytes(bytes, i);
    return true;
}

const char16_t* NtfsParser::keepName(std::u16string name) {
    names_.push_back(std::move(name));
    return names_.back().c_str();
}

void NtfsParser::parseRecordBytes(RecordBytes& bytes, std::uint64_t i) {
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

void NtfsParser::takeNames(const RecordBytes& bytes, std::uint64_t target) {
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
        if (mode != RecoveryMode::Deep && !searching_) attachToParent(target);
    }
}

RecordImage NtfsParser::loadRecord(std::uint64_t i) {
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

DataAttributeInfo NtfsParser::describeDataAttribute(const RecordImage& image) {
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

bool NtfsParser::readAttributeListBytes(const RecordBytes& record, const AttributeHeader& a, std::vector<std::uint8_t>& out) {
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

void NtfsParser::collectExtensionRecords(const RecordImage& image) {
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

DataStream NtfsParser::readDataStream(std::uint64_t i) {
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

namespace {
// The attribute letters of the file list, in their fixed order.
std::string attributeLetters(std::uint32_t attributes) {
    std::string text;
    if (attributes & 0x0001) text += "-R";
    if (attributes & 0x0002) text += "-H";
    if (attributes & 0x0200) text += "-S";
    if (attributes & 0x0020) text += "-A";
    if (attributes & 0x0800) text += "-C";
    if (attributes & 0x4000) text += "-E";
    return text;
}
}  // namespace

RecordTimes NtfsParser::readRecordTimes(std::uint64_t location) {
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
            t.attributeText = attributeLetters(le16(v, 56));  // the last name wins
            fromFileName = true;
        }
    }
    // When the names live in an extension record, the standard information's attributes stand in.
    if (!fromFileName) t.attributeText = attributeLetters(standardAttributes);
    return t;
}

}  // namespace corvello
