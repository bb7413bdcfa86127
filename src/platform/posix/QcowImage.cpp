#include "platform/posix/QcowImage.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <unistd.h>
#include <zlib.h>

namespace corvello::platform::qcow {

namespace {

std::uint32_t be32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

std::uint64_t be64(const unsigned char* p) { return static_cast<std::uint64_t>(be32(p)) << 32 | be32(p + 4); }

// The host offset bits of an L1 entry and of an L2 entry of a cluster stored whole.
constexpr std::uint64_t kOffsetMask = 0x00FFFFFFFFFFFE00ull;
constexpr std::uint64_t kCompressed = 1ull << 62;
constexpr std::uint64_t kZeroFlag = 1;  // version 3: the cluster reads as zeros
// The one incompatible feature (version 3) that does not change where the data lie: the image was
// not closed cleanly, so its reference counts may be stale.
constexpr std::uint64_t kDirty = 0x1;
constexpr std::uint32_t kMaxL1Entries = (32u << 20) / 8;

}  // namespace

HeaderCheck readHeader(const unsigned char* bytes, std::size_t got, Header& header) {
    if (got < 72 || std::memcmp(bytes, "QFI\xfb", 4) != 0) return HeaderCheck::Damaged;
    header.version = be32(bytes + 4);
    header.backingFileOffset = be64(bytes + 8);
    header.clusterBits = be32(bytes + 20);
    header.diskSize = be64(bytes + 24);
    header.encryption = be32(bytes + 32);
    header.l1Size = be32(bytes + 36);
    header.l1Offset = be64(bytes + 40);
    if (header.version != 2 && header.version != 3) return HeaderCheck::Damaged;
    if (header.clusterBits < 9 || header.clusterBits > 21) return HeaderCheck::Damaged;
    if (header.version == 3) {
        if (got < 104) return HeaderCheck::Damaged;
        const std::uint64_t incompatible = be64(bytes + 72);
        const std::uint32_t headerLength = be32(bytes + 100);
        if ((incompatible & ~kDirty) != 0 || headerLength < 104) return HeaderCheck::Damaged;
        // Byte 104, where the header holds it, names the compression: 0 is zlib.
        if (headerLength > 104 && (got <= 104 || bytes[104] != 0)) return HeaderCheck::Damaged;
    }
    const std::uint64_t clusterBytes = 1ull << header.clusterBits;
    if (header.l1Offset == 0 || header.l1Offset % clusterBytes != 0 || (header.l1Offset & ~kOffsetMask) != 0)
        return HeaderCheck::Damaged;
    // One L1 entry covers an L2 table of clusterBytes / 8 clusters; the table must cover the disk.
    const unsigned coverBits = 2 * header.clusterBits - 3;
    const std::uint64_t needed =
        (header.diskSize >> coverBits) + ((header.diskSize & ((1ull << coverBits) - 1)) != 0 ? 1 : 0);
    // No table larger than QEMU writes or reads (32 MiB) is looked at.
    if (needed > header.l1Size || header.l1Size > kMaxL1Entries) return HeaderCheck::Damaged;
    return HeaderCheck::Sound;
}

Disk::Disk(int fd, std::uint64_t fileLength, const Header& header)
    : fd_(fd), fileLength_(fileLength), header_(header), clusterBytes_(1ull << header.clusterBits) {}

bool Disk::readFile(unsigned char* out, std::size_t count, std::uint64_t offset) {
    if (offset > fileLength_ || count > fileLength_ - offset) return false;
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd_, out + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

void Disk::loadL2(std::uint64_t l1Index) {
    if (l1Index == l2Index_) return;
    l2Index_ = l1Index;
    l2State_ = Table::Unreadable;
    unsigned char entry[8];
    if (l1Index >= header_.l1Size || !readFile(entry, sizeof entry, header_.l1Offset + l1Index * 8)) return;
    const std::uint64_t table = be64(entry) & kOffsetMask;
    if (table == 0) {
        l2State_ = Table::Absent;
        return;
    }
    if (table % clusterBytes_ != 0) return;
    l2_.resize(static_cast<std::size_t>(clusterBytes_));
    if (readFile(l2_.data(), l2_.size(), table)) l2State_ = Table::Read;
}

Disk::Cluster Disk::locate(std::uint64_t cluster) {
    const unsigned l2Bits = header_.clusterBits - 3;
    loadL2(cluster >> l2Bits);
    if (l2State_ == Table::Absent) return {Kind::Zero};
    if (l2State_ != Table::Read) return {};
    const std::uint64_t entry = be64(l2_.data() + (cluster & ((1ull << l2Bits) - 1)) * 8);
    if ((entry & kCompressed) != 0) {
        // The stream starts at any byte and runs to the end of its last 512-byte sector; the file
        // may end inside that sector.
        const unsigned sizeShift = 62 - (header_.clusterBits - 8);
        const std::uint64_t host = entry & ((1ull << sizeShift) - 1);
        const std::uint64_t sectors = ((entry >> sizeShift) & ((1ull << (header_.clusterBits - 8)) - 1)) + 1;
        if (host >= fileLength_) return {};
        const std::uint64_t bytes = sectors * 512 - host % 512;
        return {Kind::Compressed, host, std::min(bytes, fileLength_ - host)};
    }
    if (header_.version >= 3 && (entry & kZeroFlag) != 0) return {Kind::Zero};
    const std::uint64_t host = entry & kOffsetMask;
    if (host == 0) return {Kind::Zero};  // never written: without a backing file, zeros
    if (host % clusterBytes_ != 0) return {};
    return {Kind::Data, host};
}

// A compressed cluster is a raw deflate stream that must fill the cluster exactly.
bool Disk::inflateCluster(std::uint64_t cluster, const Cluster& where) {
    if (cluster == inflatedCluster_) return true;
    inflatedCluster_ = UINT64_MAX;
    compressed_.resize(static_cast<std::size_t>(where.bytes));
    inflated_.resize(static_cast<std::size_t>(clusterBytes_));
    if (!readFile(compressed_.data(), compressed_.size(), where.host)) return false;
    z_stream stream{};
    if (inflateInit2(&stream, -12) != Z_OK) return false;
    stream.next_in = compressed_.data();
    stream.avail_in = static_cast<uInt>(compressed_.size());
    stream.next_out = inflated_.data();
    stream.avail_out = static_cast<uInt>(inflated_.size());
    const int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    if ((result != Z_STREAM_END && result != Z_BUF_ERROR && result != Z_OK) || stream.avail_out != 0) return false;
    inflatedCluster_ = cluster;
    return true;
}

std::size_t Disk::read(unsigned char* out, std::size_t count, std::uint64_t offset) {
    if (offset >= header_.diskSize) return 0;
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, header_.diskSize - offset));
    std::size_t got = 0;
    while (got < count) {
        const std::uint64_t at = offset + got;
        const std::uint64_t cluster = at >> header_.clusterBits;
        const std::uint64_t within = at & (clusterBytes_ - 1);
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(clusterBytes_ - within, count - got));
        const Cluster where = locate(cluster);
        switch (where.kind) {
        case Kind::Zero: std::memset(out + got, 0, n); break;
        case Kind::Data: {
            // A cluster the file ends inside gives its bytes up to the end.
            const std::uint64_t from = where.host + within;
            const std::size_t there = from >= fileLength_
                                          ? 0
                                          : static_cast<std::size_t>(std::min<std::uint64_t>(n, fileLength_ - from));
            if (!readFile(out + got, there, from)) return got;
            if (there < n) return got + there;
            break;
        }
        case Kind::Compressed:
            if (!inflateCluster(cluster, where)) return got;
            std::memcpy(out + got, inflated_.data() + within, n);
            break;
        case Kind::Unreadable: return got;
        }
        got += n;
    }
    return got;
}

}  // namespace corvello::platform::qcow
