#pragma once
// Builds small HFS+ volumes from the on-disk format for the cases a real volume does not show:
// a volume header, a catalog B-tree (header node and leaf nodes) laid out over any extents, an
// extents-overflow B-tree with the records given, and file data at chosen blocks.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/ByteWriters.h"

namespace corvello::test::hfs {

struct Extent {
    std::uint32_t start = 0;
    std::uint32_t count = 0;
};

// 2022-01-14 07:19:42 UTC as an HFS+ date (seconds since 1904-01-01 UTC).
inline constexpr std::uint32_t kSampleDate = 1642144782u + 2082844800u;

struct CatalogRecord {
    std::uint16_t type = 2;  // 1 folder, 2 file
    std::uint32_t parent = 2;
    std::u16string name;
    std::uint32_t id = 0;
    std::uint16_t mode = 0100644;
    std::uint32_t created = kSampleDate;
    std::uint32_t contentModified = kSampleDate;
    std::uint32_t attributesModified = kSampleDate;
    std::uint32_t accessed = kSampleDate;
    std::uint64_t size = 0;
    std::uint32_t totalBlocks = 0;
    std::vector<Extent> extents;  // up to eight
    std::uint32_t fileType = 0;   // Finder type and creator ('hlnk' / 'hfs+' for a hard link)
    std::uint32_t creator = 0;
    std::uint32_t special = 0;    // BSD special field: a hard link's iNode number
};

inline CatalogRecord folder(std::uint32_t id, std::uint32_t parent, std::u16string name) {
    CatalogRecord r;
    r.type = 1;
    r.id = id;
    r.parent = parent;
    r.name = std::move(name);
    r.mode = 040755;
    return r;
}

inline CatalogRecord file(std::uint32_t id, std::uint32_t parent, std::u16string name, std::uint64_t size,
                          std::vector<Extent> extents, std::optional<std::uint32_t> totalBlocks = {}) {
    CatalogRecord r;
    r.type = 2;
    r.id = id;
    r.parent = parent;
    r.name = std::move(name);
    r.size = size;
    std::uint32_t sum = 0;
    for (const Extent& e : extents) sum += e.count;
    r.totalBlocks = totalBlocks.value_or(sum);
    r.extents = std::move(extents);
    return r;
}

struct OverflowRecord {
    std::uint8_t forkType = 0;  // 0 data, 0xFF resource
    std::uint32_t fileId = 0;
    std::uint32_t startBlock = 0;
    std::vector<Extent> extents;  // up to eight
};

class VolumeBuilder {
public:
    std::uint32_t blockSize = 4096;
    std::uint32_t totalBlocks = 256;
    std::uint32_t nodeSize = 4096;
    char signature[2] = {'H', '+'};
    // The catalog's extents as the volume header lists them (up to eight) and, beyond them,
    // the extents of overflow records for file 4, in fork order.
    std::vector<Extent> catalogExtents{{16, 8}};
    std::uint32_t catalogTotalBlocks = 0;  // 0: the sum of the header's extents
    std::vector<Extent> extentsExtents{{8, 4}};
    std::size_t recordsPerNode = 0;  // 0: as many as fit
    std::vector<CatalogRecord> records;
    std::vector<OverflowRecord> overflow;

    // Places data at a block (filled up to whole blocks with the bytes given).
    void put(std::uint32_t block, const std::vector<std::uint8_t>& data) { data_.push_back({block, data}); }

    std::vector<std::uint8_t> build() const {
        std::vector<std::uint8_t> image(std::size_t{totalBlocks} * blockSize, 0);
        writeHeader(image);
        for (const auto& [block, bytes] : data_)
            std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(block) * blockSize);
        writeCatalog(image);
        writeExtentsFile(image);
        return image;
    }

    // Byte offset of catalog node n in an image built from this builder.
    std::size_t catalogNodeOffset(std::size_t n) const { return mapLogical(catalogFork(), n * nodeSize); }
    std::size_t extentsNodeOffset(std::size_t n) const { return mapLogical(extentsExtents, n * nodeSize); }


private:
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> data_;

    static std::uint32_t sum(const std::vector<Extent>& extents) {
        std::uint32_t n = 0;
        for (const Extent& e : extents) n += e.count;
        return n;
    }

    std::vector<Extent> catalogFork() const {
        std::vector<Extent> all(catalogExtents.begin(), catalogExtents.begin() + std::min<std::size_t>(8, catalogExtents.size()));
        for (const OverflowRecord& r : overflow)
            if (r.fileId == 4 && r.forkType == 0) all.insert(all.end(), r.extents.begin(), r.extents.end());
        return all;
    }

    std::size_t mapLogical(const std::vector<Extent>& extents, std::size_t logical) const {
        std::size_t block = logical / blockSize;
        for (const Extent& e : extents) {
            if (block < e.count) return (std::size_t{e.start} + block) * blockSize + logical % blockSize;
            block -= e.count;
        }
        return SIZE_MAX;
    }

    void writeFork(std::vector<std::uint8_t>& b, std::size_t at, const std::vector<Extent>& extents,
                   std::uint32_t total) const {
        putBe64(b, at, std::uint64_t{total} * blockSize);
        putBe32(b, at + 12, total);
        for (std::size_t i = 0; i < extents.size() && i < 8; ++i) {
            putBe32(b, at + 16 + i * 8, extents[i].start);
            putBe32(b, at + 20 + i * 8, extents[i].count);
        }
    }

    void writeHeader(std::vector<std::uint8_t>& image) const {
        std::vector<std::uint8_t> h(512, 0);
        h[0] = static_cast<std::uint8_t>(signature[0]);
        h[1] = static_cast<std::uint8_t>(signature[1]);
        putBe16(h, 2, 4);
        putBe32(h, 40, blockSize);
        putBe32(h, 44, totalBlocks);
        writeFork(h, 192, extentsExtents, sum(extentsExtents));
        writeFork(h, 272, catalogExtents, catalogTotalBlocks != 0 ? catalogTotalBlocks : sum(catalogExtents));
        std::copy(h.begin(), h.end(), image.begin() + 1024);
    }

    // Writes a B-tree: a header node, then leaf nodes holding the given records.
    void writeTree(std::vector<std::uint8_t>& image, const std::vector<Extent>& fork,
                   const std::vector<std::vector<std::uint8_t>>& recs) const {
        const std::size_t forkNodes = std::size_t{sum(fork)} * blockSize / nodeSize;
        std::vector<std::vector<std::vector<std::uint8_t>>> leaves;
        std::size_t used = 14;
        for (const auto& r : recs) {
            const bool full = leaves.empty() || used + r.size() + 2 * (leaves.back().size() + 2) > nodeSize ||
                              (recordsPerNode != 0 && leaves.back().size() >= recordsPerNode);
            if (full) {
                leaves.emplace_back();
                used = 14;
            }
            leaves.back().push_back(r);
            used += r.size();
        }
        std::vector<std::vector<std::uint8_t>> nodes;
        std::vector<std::uint8_t> header(nodeSize, 0);
        header[8] = 1;  // header node
        putBe16(header, 10, 3);
        putBe16(header, 14, leaves.empty() ? 0 : 1);                        // depth
        putBe32(header, 16, leaves.empty() ? 0 : 1);                        // root node
        putBe32(header, 20, static_cast<std::uint32_t>(recs.size()));       // leaf records
        putBe32(header, 24, leaves.empty() ? 0 : 1);                        // first leaf
        putBe32(header, 28, static_cast<std::uint32_t>(leaves.size()));     // last leaf
        putBe16(header, 32, nodeSize);
        putBe16(header, 34, 516);
        putBe32(header, 36, static_cast<std::uint32_t>(forkNodes));
        putBe32(header, 40, static_cast<std::uint32_t>(forkNodes - 1 - leaves.size()));
        putBe16(header, nodeSize - 2, 14);
        putBe16(header, nodeSize - 4, 120);
        putBe16(header, nodeSize - 6, 248);
        nodes.push_back(header);
        for (std::size_t n = 0; n < leaves.size(); ++n) {
            std::vector<std::uint8_t> node(nodeSize, 0);
            if (n + 1 < leaves.size()) putBe32(node, 0, static_cast<std::uint32_t>(n + 2));
            if (n > 0) putBe32(node, 4, static_cast<std::uint32_t>(n));
            node[8] = 0xFF;
            node[9] = 1;
            putBe16(node, 10, static_cast<std::uint32_t>(leaves[n].size()));
            std::size_t at = 14;
            for (std::size_t i = 0; i < leaves[n].size(); ++i) {
                putBe16(node, nodeSize - 2 - 2 * i, static_cast<std::uint32_t>(at));
                std::copy(leaves[n][i].begin(), leaves[n][i].end(), node.begin() + static_cast<std::ptrdiff_t>(at));
                at += leaves[n][i].size();
            }
            putBe16(node, nodeSize - 2 - 2 * leaves[n].size(), static_cast<std::uint32_t>(at));
            nodes.push_back(node);
        }
        for (std::size_t n = 0; n < nodes.size() && n < forkNodes; ++n) {
            const std::size_t at = mapLogical(fork, n * nodeSize);
            std::copy(nodes[n].begin(), nodes[n].end(), image.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }

    static std::vector<std::uint8_t> catalogRecord(const CatalogRecord& r) {
        const std::size_t keyLength = 6 + 2 * r.name.size();
        std::vector<std::uint8_t> b(2 + keyLength + (r.type == 1 ? 88 : 248), 0);
        putBe16(b, 0, static_cast<std::uint32_t>(keyLength));
        putBe32(b, 2, r.parent);
        putBe16(b, 6, static_cast<std::uint32_t>(r.name.size()));
        for (std::size_t i = 0; i < r.name.size(); ++i) putBe16(b, 8 + 2 * i, r.name[i]);
        const std::size_t d = 2 + keyLength;
        putBe16(b, d, r.type);
        putBe32(b, d + 8, r.id);
        putBe32(b, d + 12, r.created);
        putBe32(b, d + 16, r.contentModified);
        putBe32(b, d + 20, r.attributesModified);
        putBe32(b, d + 24, r.accessed);
        putBe16(b, d + 42, r.mode);
        putBe32(b, d + 44, r.special);
        putBe32(b, d + 48, r.fileType);
        putBe32(b, d + 52, r.creator);
        if (r.type == 2) {
            putBe64(b, d + 88, r.size);
            putBe32(b, d + 100, r.totalBlocks);
            for (std::size_t i = 0; i < r.extents.size() && i < 8; ++i) {
                putBe32(b, d + 104 + i * 8, r.extents[i].start);
                putBe32(b, d + 108 + i * 8, r.extents[i].count);
            }
        }
        return b;
    }

    void writeCatalog(std::vector<std::uint8_t>& image) const {
        std::vector<std::vector<std::uint8_t>> recs;
        for (const CatalogRecord& r : records) recs.push_back(catalogRecord(r));
        writeTree(image, catalogFork(), recs);
    }

    void writeExtentsFile(std::vector<std::uint8_t>& image) const {
        std::vector<std::vector<std::uint8_t>> recs;
        for (const OverflowRecord& r : overflow) {
            std::vector<std::uint8_t> b(12 + 64, 0);
            putBe16(b, 0, 10);
            b[2] = r.forkType;
            putBe32(b, 4, r.fileId);
            putBe32(b, 8, r.startBlock);
            for (std::size_t i = 0; i < r.extents.size() && i < 8; ++i) {
                putBe32(b, 12 + i * 8, r.extents[i].start);
                putBe32(b, 16 + i * 8, r.extents[i].count);
            }
            recs.push_back(b);
        }
        writeTree(image, extentsExtents, recs);
    }
};

}  // namespace corvello::test::hfs
