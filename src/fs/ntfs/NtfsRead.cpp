// Reads of an NTFS file's data by offset: resident, plain, sparse and LZNT1-compressed data.
//
// A read gives the bytes a save writes, and tells where it stands in zeros for what the volume
// could not give. Plain data are read from the volume a mebibyte of a run at a time (a stretch
// of clusters outside the volume, or one that cannot be read whole, counts as damaged and reads
// as zeros), and a run of holes that lasts to the end of the data is left as a hole. Compressed
// data are read by compression unit: a unit whose clusters are all allocated is stored as it
// is, one with fewer holds LZNT1 chunks, one with none is zeros.

#include <algorithm>
#include <cstring>

#include "common/ScanHost.h"
#include "device/VolumeView.h"
#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/NtfsParser.h"
#include "fs/ntfs/NtfsInternal.h"

namespace corvello {

using namespace ntfs_internal;

namespace {

// a * b, or UINT64_MAX where that does not fit.
std::uint64_t timesOrMax(std::uint64_t a, std::uint64_t b) { return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b; }

}  // namespace

bool NtfsParser::readClusters(std::int64_t lcn, std::uint64_t count, std::uint8_t* out) {
    const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
    const std::uint64_t bytes = count * cs;
    std::memset(out, 0, bytes);
    if (lcn < 0) return false;
    const auto first = static_cast<std::uint64_t>(lcn);
    if (volumeBytes > 0 && (first > volumeClusters() || count > volumeClusters() - first)) return false;
    return reader_.readFull(first * cs, out, static_cast<std::size_t>(bytes));
}

bool NtfsParser::dataExtents(std::uint64_t i, std::vector<DataExtent>& extents, std::uint64_t& realSize,
                       std::uint64_t& initializedSize) {
    extents.clear();
    if (i >= entries.size() || entries[i].name == nullptr || volumeBytes == 0) return false;
    RecordBytes probe{};
    if (entries[i].location == ~0ull || !readRecordBytes(entries[i].location, probe) || !hasFileSignature(probe))
        return false;
    const DataStream stream = readDataStream(i);
    if (!stream.present || stream.resident || (stream.flags & 0x00FF) != 0 || stream.gaps) return false;
    const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
    const std::uint64_t clusters = volumeClusters();
    std::uint64_t vcn = 0;
    for (const MftRun& run : stream.runs) {
        if (run.count > clusters || vcn > clusters) return false;  // longer than the volume
        if (!run.sparse) {
            if (run.lcn < 0 || static_cast<std::uint64_t>(run.lcn) > clusters ||
                run.count > clusters - static_cast<std::uint64_t>(run.lcn))
                return false;  // outside the volume: the extraction writes zeros and fails
            extents.push_back({vcn * cs, static_cast<std::uint64_t>(run.lcn) * cs, run.count * cs});
        }
        vcn += run.count;
    }
    if (vcn * cs < stream.realSize) return false;  // the runs end before the data
    realSize = stream.realSize;
    initializedSize = std::min(stream.initializedSize, stream.realSize);
    return true;
}

void NtfsParser::noticeInvalidEntry() { host_.notice("not a valid entry..."); }

StreamLayout NtfsParser::layOutStream(std::uint64_t i) {
    StreamLayout l;
    l.entry = i;
    if (i >= entries.size() || entries[i].name == nullptr) return l;
    l.named = true;
    const MftEntry& e = entries[i];
    RecordBytes probe{};
    if (e.location == ~0ull || !readRecordBytes(e.location, probe) || !hasFileSignature(probe)) return l;
    l.readable = true;
    l.stream = readDataStream(i);
    const DataStream& s = l.stream;
    // A folder's data are not written.
    if (!s.present || e.kind == 'D') return l;
    const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
    l.clusterSize = cs;
    l.size = s.realSize;
    l.initialized = std::min(s.initializedSize, s.realSize);
    l.damaged = s.gaps;
    l.holeFrom = l.size;
    if (s.resident) {
        l.form = StreamLayout::Form::Resident;
        l.delivered = std::min<std::uint64_t>(l.size, s.residentValue.size());
        return l;
    }
    l.runVcn.reserve(s.runs.size() + 1);
    std::uint64_t vcn = 0;
    for (const MftRun& run : s.runs) {
        l.runVcn.push_back(vcn);
        vcn = run.count > UINT64_MAX - vcn ? UINT64_MAX : vcn + run.count;
    }
    l.runVcn.push_back(vcn);
    if (s.flags & 0x00FF) {
        const std::uint32_t exponent = s.compressionExponent;
        if (exponent <= 16 && (cs << exponent) <= kMaxUnitBytes) {
            l.form = StreamLayout::Form::Compressed;
            l.unitClusters = 1ull << exponent;
            // Every unit begun stands for a whole unit of the file.
            const std::uint64_t units = vcn / l.unitClusters + (vcn % l.unitClusters != 0 ? 1 : 0);
            l.delivered = std::min(l.size, timesOrMax(units, l.unitClusters * cs));
            return l;
        }
        l.damaged = true;  // not a compression unit this program can hold: the clusters as they are
    }
    l.form = StreamLayout::Form::Runs;
    l.delivered = std::min(l.size, timesOrMax(vcn, cs));
    // A run of holes that lasts to the end of the data, from the first such run that alone
    // reaches the end.
    std::size_t lastData = s.runs.size();
    for (std::size_t r = 0; r < s.runs.size(); ++r)
        if (!s.runs[r].sparse) lastData = r;
    for (std::size_t r = lastData == s.runs.size() ? 0 : lastData + 1; r < s.runs.size(); ++r) {
        const std::uint64_t at = timesOrMax(l.runVcn[r], cs);
        if (at >= l.size) break;
        if (s.runs[r].count >= (l.size - at + cs - 1) / cs) {
            l.holeFrom = at;
            l.delivered = l.size;
            break;
        }
    }
    return l;
}

void NtfsParser::readPlain(const StreamLayout& l, std::uint64_t offset, std::uint64_t end, std::uint8_t* out,
                     bool& damaged) {
    const std::uint64_t cs = l.clusterSize;
    const std::uint64_t chunkClusters = std::max<std::uint64_t>(1, kReadChunk / cs);
    const std::uint64_t clusters = volumeClusters();
    const std::vector<MftRun>& runs = l.stream.runs;
    // The first run that ends after offset.
    const std::uint64_t firstVcn = offset / cs;
    std::size_t r = static_cast<std::size_t>(
        std::upper_bound(l.runVcn.begin() + 1, l.runVcn.end(), firstVcn) - (l.runVcn.begin() + 1));
    for (; r < runs.size() && timesOrMax(l.runVcn[r], cs) < end; ++r) {
        const MftRun& run = runs[r];
        if (run.sparse || run.count == 0) continue;
        const std::uint64_t runStart = l.runVcn[r] * cs;
        const std::uint64_t runEnd = timesOrMax(l.runVcn[r + 1], cs);
        const std::uint64_t from = std::max(offset, runStart);
        const std::uint64_t to = std::min(end, runEnd);
        // The run is read a chunk at a time from its start: a chunk that cannot be read whole
        // is damaged as a whole.
        for (std::uint64_t k = (from - runStart) / cs / chunkClusters * chunkClusters; k < run.count;
             k += chunkClusters) {
            const std::uint64_t chunkStart = runStart + k * cs;
            if (chunkStart >= to) break;
            const std::uint64_t take = std::min(chunkClusters, run.count - k);
            const std::uint64_t a = std::max(from, chunkStart);
            const std::uint64_t b = std::min(to, chunkStart + take * cs);
            const auto lcn = static_cast<std::int64_t>(static_cast<std::uint64_t>(run.lcn) + k);
            const auto first = static_cast<std::uint64_t>(lcn);
            bool readable = lcn >= 0;
            if (readable && volumeBytes > 0 && (first > clusters || take > clusters - first)) readable = false;
            if (readable && first > UINT64_MAX / cs - take) readable = false;
            if (!readable) {
                damaged = true;  // outside the volume: zeros
                continue;
            }
            // Part of the chunk past the end of what the medium holds: it cannot be read whole.
            if ((first + take) * cs > reader_.length()) damaged = true;
            const std::size_t n = static_cast<std::size_t>(b - a);
            if (reader_.readAt(first * cs + (a - chunkStart), out + (a - offset), n) < n) damaged = true;
        }
    }
}

void NtfsParser::decompressUnit(const StreamLayout& l, std::uint64_t unit, UnitCache& cache) {
    const std::uint64_t cs = l.clusterSize;
    const std::uint64_t unitClusters = l.unitClusters;
    const std::size_t unitBytes = static_cast<std::size_t>(unitClusters * cs);
    cache.entry = l.entry;
    cache.unit = unit;
    cache.damaged = false;
    cache.bytes.assign(unitBytes, 0);
    const std::vector<MftRun>& runs = l.stream.runs;
    const std::uint64_t first = unit * unitClusters;
    const std::uint64_t last = std::min(first + unitClusters, l.runVcn.back());
    // Where each cluster of the unit lies.
    struct Cluster {
        std::int64_t lcn = 0;
        bool hole = false;
    };
    std::vector<Cluster> where;
    where.reserve(static_cast<std::size_t>(last - first));
    std::size_t r = static_cast<std::size_t>(
        std::upper_bound(l.runVcn.begin() + 1, l.runVcn.end(), first) - (l.runVcn.begin() + 1));
    std::size_t allocated = 0;  // 1 + the position of the last allocated cluster
    for (std::uint64_t c = first; c < last; ++c) {
        while (r < runs.size() && l.runVcn[r + 1] <= c) ++r;
        if (r >= runs.size()) break;
        if (runs[r].sparse) {
            where.push_back({0, true});
        } else {
            where.push_back({static_cast<std::int64_t>(static_cast<std::uint64_t>(runs[r].lcn) + (c - l.runVcn[r])), false});
            allocated = where.size();
        }
    }
    if (allocated == 0) return;  // a unit of holes: zeros
    std::vector<std::uint8_t> input(static_cast<std::size_t>(allocated * cs), 0);
    for (std::size_t k = 0; k < allocated; ++k)
        if (!where[k].hole && !readClusters(where[k].lcn, 1, input.data() + k * cs)) cache.damaged = true;
    if (allocated == unitClusters) {
        cache.bytes = std::move(input);  // stored uncompressed
        return;
    }
    Lznt1State state;
    state.output = cache.bytes.data();
    state.capacity = cache.bytes.size();
    state.input = input.data();
    state.inputLength = input.size();
    // What the chunks do not fill of the unit is zero.
    if (decompressLznt1(state) != 0) cache.damaged = true;
}

std::optional<std::size_t> NtfsParser::readStream(const StreamLayout& l, UnitCache& units, std::uint64_t offset,
                                            std::span<std::uint8_t> buffer, bool& damaged) {
    if (!l.readable) return std::nullopt;
    if (l.damaged) damaged = true;
    if (offset >= l.size || buffer.empty()) return 0;
    if (offset >= l.delivered) return std::nullopt;
    const std::uint64_t end = offset + std::min<std::uint64_t>(buffer.size(), l.delivered - offset);
    const auto count = static_cast<std::size_t>(end - offset);
    std::uint8_t* out = buffer.data();
    switch (l.form) {
        case StreamLayout::Form::None: return 0;
        case StreamLayout::Form::Resident:
            std::memcpy(out, l.stream.residentValue.data() + offset, count);
            break;
        case StreamLayout::Form::Runs:
            std::memset(out, 0, count);
            if (offset < l.holeFrom) readPlain(l, offset, std::min(end, l.holeFrom), out, damaged);
            break;
        case StreamLayout::Form::Compressed: {
            const std::uint64_t unitBytes = l.unitClusters * l.clusterSize;
            for (std::uint64_t u = offset / unitBytes; u * unitBytes < end; ++u) {
                if (units.entry != l.entry || units.unit != u || units.bytes.size() != unitBytes)
                    decompressUnit(l, u, units);
                if (units.damaged) damaged = true;
                const std::uint64_t a = std::max(offset, u * unitBytes);
                const std::uint64_t b = std::min(end, (u + 1) * unitBytes);
                std::memcpy(out + (a - offset), units.bytes.data() + (a - u * unitBytes), static_cast<std::size_t>(b - a));
            }
            break;
        }
    }
    // Past the initialised size the data read as zeros.
    if (end > l.initialized) {
        const std::uint64_t from = std::max(offset, l.initialized);
        std::memset(out + (from - offset), 0, static_cast<std::size_t>(end - from));
    }
    return count;
}

}  // namespace corvello
