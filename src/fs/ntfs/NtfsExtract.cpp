// Extraction of an NTFS file: resident, plain, sparse and LZNT1-compressed data.

#include "fs/ntfs/Ntfs.h"

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

// Writes a stream's bytes to the output, never past its real size, with the bytes past the
// initialised size as zeros.
class StreamWriter {
public:
    StreamWriter(platform::OutputFile& file, std::uint64_t limit, std::uint64_t initialized)
        : file_(file), limit_(limit), initialized_(std::min(initialized, limit)) {}

    // A write the output refused ends the stream: nothing after it could land in its place.
    bool done() const { return written_ >= limit_ || failed_; }
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

// ---------------------------------------------------------------------------------------------
// Extraction

bool ntfs::readClusters(std::int64_t lcn, std::uint64_t count, std::uint8_t* out) {
    const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
    const std::uint64_t bytes = count * cs;
    std::memset(out, 0, bytes);
    if (lcn < 0) return false;
    const auto first = static_cast<std::uint64_t>(lcn);
    if (volumeBytes > 0 && (first > volumeClusters() || count > volumeClusters() - first)) return false;
    return reader_.readFull(first * cs, out, static_cast<std::size_t>(bytes));
}

bool ntfs::writeStream(const DataStream& stream, StreamWriter& out) {
    const std::uint64_t cs = clusterSize == 0 ? kDefaultClusterSize : clusterSize;
    const std::uint64_t chunkClusters = std::max<std::uint64_t>(1, kReadChunk / cs);
    // The buffer holds one read: a chunk, or the longest run when that is shorter.
    std::uint64_t longest = 0;
    for (const MftRun& run : stream.runs)
        if (!run.sparse) longest = std::max(longest, run.count);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(chunkClusters, longest) * cs));
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

bool ntfs::dataExtents(std::uint64_t i, std::vector<DataExtent>& extents, std::uint64_t& realSize,
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

bool ntfs::extractEntry(std::uint64_t i, platform::OutputFile& file) {
    if (i >= entries.size() || entries[i].name == nullptr || !file.isOpen()) return false;
    const MftEntry& e = entries[i];
    bool ok = true;
    RecordBytes probe{};
    if (e.location == ~0ull || !readRecordBytes(e.location, probe) || !hasFileSignature(probe)) {
        host_.notice("not a valid entry...");
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
    file.setTimes(platform::fromFiletime(t.access), platform::fromFiletime(t.modification));
    return ok;
}

}  // namespace corvello
