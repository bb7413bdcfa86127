#include "fs/ntfs/Record.h"

namespace corvello {

bool applyFixups(RecordBytes& record) {
    const ByteSpan b(record);
    const std::size_t off = le16(b, 4);
    const std::size_t count = le16(b, 6);
    // The array holds the sequence number and one word per 512-byte sector.
    if (count < 2 || off < 8 || off + 2 * count > kMftRecordSize) return false;
    const std::uint16_t sequence = le16(b, off);
    std::size_t sectors = 0;
    for (std::size_t k = 1; k < count && 512 * k <= kMftRecordSize; ++k) {
        if (le16(b, 512 * k - 2) != sequence) return false;
        ++sectors;
    }
    for (std::size_t k = 1; k <= sectors; ++k) {
        record[512 * k - 2] = record[off + 2 * k];
        record[512 * k - 1] = record[off + 2 * k + 1];
    }
    return true;
}

std::vector<AttributeHeader> walkAttributes(const RecordBytes& record) {
    std::vector<AttributeHeader> out;
    const ByteSpan b(record);
    std::size_t off = firstAttributeOffset(record);
    // Each step advances by at least 16 bytes, so the walk ends within 64 steps.
    while (fits(b, off, 8)) {
        const std::uint32_t type = le32(b, off);
        if (type == kAttrEnd) break;
        const std::uint32_t length = le32(b, off + 4);
        if (length < 16 || length > kMftRecordSize - off) break;
        const ByteSpan a = b.subspan(off, length);
        AttributeHeader h;
        h.type = type;
        h.length = length;
        h.start = static_cast<std::uint16_t>(off);
        h.nonResident = u8(a, 8) != 0;
        h.nameLength = u8(a, 9);
        h.flags = le16(a, 12);
        bool usable = true;
        if (!h.nonResident) {
            h.valueLength = le32(a, 16);
            h.valueOffset = le16(a, 20);
            usable = length >= 24 && fits(a, h.valueOffset, h.valueLength);
        } else {
            h.firstVcn = le64(a, 16);
            h.lastVcn = le64(a, 24);
            h.runOffset = le16(a, 32);
            h.compressionExponent = le16(a, 34);
            h.allocatedSize = le64(a, 40);
            h.realSize = le64(a, 48);
            h.initializedSize = le64(a, 56);
            usable = length >= 64 && h.runOffset >= 64 && h.runOffset < length;
        }
        if (usable) out.push_back(h);
        off += length;
    }
    return out;
}

ByteSpan attributeValue(const RecordBytes& record, const AttributeHeader& a) {
    if (a.nonResident) return {};
    return ByteSpan(record).subspan(a.start + a.valueOffset, a.valueLength);
}

ByteSpan runListBytes(const RecordBytes& record, const AttributeHeader& a) {
    if (!a.nonResident) return {};
    return ByteSpan(record).subspan(a.start + a.runOffset, a.length - a.runOffset);
}

std::uint64_t vcnRangeClusters(const AttributeHeader& a) {
    if (a.lastVcn < a.firstVcn || a.lastVcn == ~0ull) return 0;
    return a.lastVcn - a.firstVcn + 1;
}

std::vector<MftRun> decodeRunBytes(ByteSpan runs, std::uint64_t maxClusters) {
    std::vector<MftRun> out;
    std::int64_t lcn = 0;
    std::uint64_t total = 0;
    std::size_t pos = 0;
    while (pos < runs.size()) {
        const std::uint8_t header = runs[pos++];
        const std::size_t lengthBytes = header & 0x0F;
        const std::size_t offsetBytes = header >> 4;
        if (lengthBytes == 0) break;
        if (lengthBytes > 8 || offsetBytes > 8 || !fits(runs, pos, lengthBytes + offsetBytes)) break;
        std::uint64_t length = 0;
        for (std::size_t k = 0; k < lengthBytes; ++k) length |= static_cast<std::uint64_t>(runs[pos + k]) << (8 * k);
        pos += lengthBytes;
        std::uint64_t raw = 0;
        for (std::size_t k = 0; k < offsetBytes; ++k) raw |= static_cast<std::uint64_t>(runs[pos + k]) << (8 * k);
        pos += offsetBytes;
        if (offsetBytes > 0 && offsetBytes < 8 && (raw >> (8 * offsetBytes - 1)) & 1) raw |= ~0ull << (8 * offsetBytes);
        const auto delta = static_cast<std::int64_t>(raw);
        MftRun run;
        run.count = length;
        if (offsetBytes == 0) {
            run.sparse = true;
        } else {
            if (__builtin_add_overflow(lcn, delta, &lcn) || lcn < 0) break;
            run.lcn = lcn;
        }
        if (length > maxClusters - total) continue;  // past the attribute's VCN range: dropped
        total += length;
        if (length > 0) out.push_back(run);
    }
    return out;
}

}  // namespace corvello
