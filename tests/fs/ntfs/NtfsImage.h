#pragma once
// A small synthetic NTFS volume built byte by byte, for the cases real tools do not make on
// demand: damaged records, odd run lists, hand-made compression units.
// Layout: 4096-byte clusters, 2 MiB; the MFT (64 records) at cluster 4, data from cluster 32.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/ByteWriters.h"

namespace corvello::test {

class NtfsImage {
public:
    static constexpr std::size_t kCluster = 4096;
    static constexpr std::size_t kClusters = 512;
    static constexpr std::uint64_t kMftLcn = 4;
    static constexpr std::uint64_t kMftRecords = 64;

    using Bytes = std::vector<std::uint8_t>;

    NtfsImage() : bytes(kCluster * kClusters, 0) {
        std::uint8_t* b = bytes.data();
        std::memcpy(b + 3, "NTFS    ", 8);
        put16(b + 11, 512);
        b[13] = 8;
        put64(b + 40, kCluster * kClusters / 512 - 1);
        put64(b + 48, kMftLcn);
        put64(b + 56, 2);
        b[510] = 0x55;
        b[511] = 0xAA;
        // Record 0: the MFT itself; record 5: the root directory.
        const std::uint64_t mftClusters = kMftRecords * 1024 / kCluster;
        record(0, 1, {standardInfo(0), fileName(5, u"$MFT"),
                      nonResident(0x80, runs({{kMftLcn, mftClusters}}), 0, mftClusters - 1,
                                  mftClusters * kCluster, kMftRecords * 1024)});
        record(5, 3, {standardInfo(0), fileName(5, u".", true)});
    }

    // --- attributes ------------------------------------------------------------------------

    static Bytes resident(std::uint32_t type, const Bytes& value, std::uint16_t flags = 0) {
        Bytes a(24 + align8(value.size()), 0);
        put32(&a[0], type);
        put32(&a[4], static_cast<std::uint32_t>(a.size()));
        a[10] = 24;
        put16(&a[12], flags);
        put32(&a[16], static_cast<std::uint32_t>(value.size()));
        put16(&a[20], 24);
        std::memcpy(&a[24], value.data(), value.size());
        return a;
    }

    static Bytes nonResident(std::uint32_t type, const Bytes& runList, std::uint64_t firstVcn, std::uint64_t lastVcn,
                             std::uint64_t allocated, std::uint64_t real, std::uint16_t flags = 0,
                             std::uint16_t compressionExponent = 0) {
        Bytes a(64 + align8(runList.size() + 1), 0);
        put32(&a[0], type);
        put32(&a[4], static_cast<std::uint32_t>(a.size()));
        a[8] = 1;
        a[10] = 64;
        put16(&a[12], flags);
        put64(&a[16], firstVcn);
        put64(&a[24], lastVcn);
        put16(&a[32], 64);
        put16(&a[34], compressionExponent);
        put64(&a[40], allocated);
        put64(&a[48], real);
        put64(&a[56], real);
        std::memcpy(&a[64], runList.data(), runList.size());
        return a;
    }

    static Bytes fileName(std::uint64_t parent, const std::u16string& name, bool directory = false,
                          std::uint8_t nameSpace = 1, std::uint32_t attributes = 0x20) {
        Bytes v(66 + 2 * name.size(), 0);
        put64(&v[0], parent | (1ull << 48));
        put64(&v[40], 4096);
        put32(&v[56], attributes | (directory ? 0x10000000u : 0u));
        v[64] = static_cast<std::uint8_t>(name.size());
        v[65] = nameSpace;
        for (std::size_t k = 0; k < name.size(); ++k) put16(&v[66 + 2 * k], name[k]);
        return resident(0x30, v);
    }

    static Bytes standardInfo(std::uint64_t filetime) {
        Bytes v(48, 0);
        put64(&v[0], filetime);
        put64(&v[8], filetime + 600000000ull);    // modified a minute later
        put64(&v[16], filetime);
        put64(&v[24], filetime + 1200000000ull);  // accessed two minutes later
        put32(&v[32], 0x20);
        return resident(0x10, v);
    }

    // Run-list bytes for (lcn, count) pairs; lcn < 0 marks a sparse run.
    static Bytes runs(const std::vector<std::pair<std::int64_t, std::uint64_t>>& list) {
        Bytes out;
        std::int64_t previous = 0;
        for (const auto& [lcn, count] : list) {
            const Bytes length = minimal(count, false);
            Bytes offset;
            if (lcn >= 0) {
                offset = minimal(static_cast<std::uint64_t>(lcn - previous), true);
                previous = lcn;
            }
            out.push_back(static_cast<std::uint8_t>(length.size() | (offset.size() << 4)));
            out.insert(out.end(), length.begin(), length.end());
            out.insert(out.end(), offset.begin(), offset.end());
        }
        out.push_back(0);
        return out;
    }

    // --- records and clusters --------------------------------------------------------------

    static std::uint64_t recordOffset(std::uint64_t n) { return kMftLcn * kCluster + n * 1024; }

    // Writes MFT record n with the given attributes and update-sequence fix-ups.
    void record(std::uint64_t n, std::uint16_t flags, const std::vector<Bytes>& attributes, std::uint64_t base = 0) {
        std::uint8_t* r = bytes.data() + recordOffset(n);
        std::memset(r, 0, 1024);
        std::memcpy(r, "FILE", 4);
        put16(r + 4, 48);
        put16(r + 6, 3);
        put16(r + 16, 1);
        put16(r + 18, 1);
        put16(r + 20, 56);
        put16(r + 22, flags);
        put32(r + 28, 1024);
        put64(r + 32, base == 0 ? 0 : base | (1ull << 48));
        put32(r + 44, static_cast<std::uint32_t>(n));
        std::size_t off = 56;
        for (const Bytes& a : attributes) {
            std::memcpy(r + off, a.data(), a.size());
            off += a.size();
        }
        put32(r + off, 0xFFFFFFFF);
        put32(r + 24, static_cast<std::uint32_t>(off + 8));
        const std::uint16_t usn = 0x0001;
        put16(r + 48, usn);
        std::memcpy(r + 50, r + 510, 2);
        std::memcpy(r + 52, r + 1022, 2);
        put16(r + 510, usn);
        put16(r + 1022, usn);
    }

    void put(std::uint64_t cluster, const Bytes& data) { std::memcpy(bytes.data() + cluster * kCluster, data.data(), data.size()); }

    std::uint8_t* at(std::uint64_t offset) { return bytes.data() + offset; }


    Bytes bytes;

private:
    static std::size_t align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }
    static Bytes minimal(std::uint64_t value, bool isSigned) {
        Bytes out;
        const auto v = static_cast<std::int64_t>(value);
        do {
            out.push_back(static_cast<std::uint8_t>(value >> (8 * out.size())));
            if (out.size() == 8) break;
            const std::uint64_t rest = value >> (8 * out.size());
            const bool top = (out.back() & 0x80) != 0;
            if (!isSigned && rest == 0) break;
            if (isSigned && v >= 0 && rest == 0 && !top) break;
            if (isSigned && v < 0 && (static_cast<std::int64_t>(value) >> (8 * out.size())) == -1 && top) break;
        } while (true);
        return out;
    }
};

}  // namespace corvello::test
