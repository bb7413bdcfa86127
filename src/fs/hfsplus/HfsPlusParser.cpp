#include "fs/hfsplus/HfsPlusParser.h"

#include <algorithm>
#include <limits>

#include "common/Bytes.h"
#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"

namespace corvello {

namespace {

constexpr std::uint64_t kVolumeHeaderOffset = 1024;
constexpr std::uint32_t kRootFolderId = 2;
constexpr std::uint32_t kCatalogFileId = 4;
constexpr std::uint64_t kScanChunk = 52428800;  // bytes per read of the leaf-node scan
constexpr std::size_t kFolderRecordSize = 88;
constexpr std::size_t kFileRecordSize = 248;
constexpr std::size_t kNodeDescriptorSize = 14;
constexpr std::size_t kExtentKeySize = 12;       // key length field and a 10-byte key
constexpr std::size_t kExtentRecordSize = 64;    // eight extent descriptors

bool isPowerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

// HFS+ allocation blocks are a power of two of at least 512 bytes.
bool validBlockSize(std::uint32_t size) { return size >= 512 && isPowerOfTwo(size); }

// B-tree nodes are a power of two from 512 to 32,768 bytes.
bool validNodeSize(std::uint32_t size) { return size >= 512 && size <= 32768 && isPowerOfTwo(size); }

HfsFork forkFrom(ByteSpan header, std::size_t at) {
    HfsFork fork;
    fork.logicalSize = be64(header, at);
    fork.totalBlocks = be32(header, at + 12);
    for (std::size_t i = 0; i < 8; ++i) {
        const HfsExtent e{be32(header, at + 16 + i * 8), be32(header, at + 20 + i * 8)};
        if (e.blockCount != 0) fork.extents.push_back(e);
    }
    return fork;
}

std::uint64_t listedBlocks(const HfsFork& fork) {
    std::uint64_t n = 0;
    for (const HfsExtent& e : fork.extents) n += e.blockCount;
    return n;
}

// Reads the node descriptor of a node held in b and, for the kinds a B-tree uses and at least one
// record, fills node; false otherwise. Offsets are taken from the end of the node backwards.
bool describeNode(ByteSpan b, HfsNode& node) {
    const auto kind = static_cast<std::int8_t>(u8(b, 8));
    const std::uint16_t records = be16(b, 10);
    if (kind < -1 || kind > 2 || records == 0) return false;
    node.kind = kind;
    node.forward = be32(b, 0);
    node.height = u8(b, 9);
    node.records = records;
    const std::size_t room = (b.size() - kNodeDescriptorSize) / 2;
    const std::size_t count = std::min<std::size_t>(records, room);
    node.offsets.clear();
    node.offsets.reserve(count);
    for (std::size_t i = 0; i < count; ++i) node.offsets.push_back(be16(b, b.size() - 2 - 2 * i));
    return true;
}

// Whether the record offsets at the end of a node of b.size() bytes describe records packed
// from the descriptor on: rising, inside the node, and followed by the free-space offset.
bool plausibleLeafOffsets(ByteSpan b, std::uint16_t records) {
    const std::size_t size = b.size();
    if (2 * (std::size_t{records} + 1) + kNodeDescriptorSize > size) return false;
    const std::size_t table = size - 2 * (std::size_t{records} + 1);  // lowest offset slot
    std::size_t previous = 0;
    for (std::size_t i = 0; i <= records; ++i) {
        const std::size_t off = be16(b, size - 2 - 2 * i);
        if (off < kNodeDescriptorSize || off > table || (i > 0 && off <= previous)) return false;
        previous = off;
    }
    return true;
}

}  // namespace

std::string hfsPermissionText(std::uint16_t mode) {
    static constexpr struct {
        std::uint16_t bit;
        const char* text;
    } kBits[] = {{0x040, "-Owner:X"}, {0x080, "-Owner:W"}, {0x100, "-Owner:R"}, {0x001, "-OX"}, {0x002, "-OW"},
                 {0x004, "-OR"},      {0x008, "-GX"},      {0x010, "-GW"},      {0x020, "-GR"}};
    std::string out;
    for (const auto& b : kBits)
        if (mode & b.bit) out += b.text;
    return out;
}

void HfsPlusParser::status(const std::string& text) const {
    if (host != nullptr) host->setStatus(text);
}

bool HfsPlusParser::stop() const {
    if (host == nullptr || !host->checkpoint()) return false;
    host->clearStop();
    return true;
}

void HfsPlusParser::progressRange(std::int64_t high) const {
    if (host != nullptr) host->setProgressRange(0, high);
}

void HfsPlusParser::progressPos(std::int64_t pos) const {
    if (host != nullptr) host->setProgressPos(pos);
}

bool HfsPlusParser::attachReader() {
    reader = view.valid() ? &view : nullptr;
    if (tree != nullptr) rootItem = tree->insertItem(kTreeTop, rootLabel, IconKind::Folder, 0);
    return reader != nullptr;
}

bool HfsPlusParser::readVolumeHeader() {
    if (reader == nullptr) return false;
    std::vector<std::uint8_t> buffer(512, 0);
    reader->readAt(kVolumeHeaderOffset, buffer.data(), 512);
    const ByteSpan h(buffer);
    signature[0] = static_cast<char>(h[0]);
    signature[1] = static_cast<char>(h[1]);
    if (!hasBytes(h, 0, "H+") && !hasBytes(h, 0, "HX")) {
        status("Not an HFS+ volume: the volume header signature is not H+ or HX.");
        return false;
    }
    blockSize = be32(h, 40);
    volumeBlocks = be32(h, 44);
    extentsFork = forkFrom(h, 192);
    catalogFork = forkFrom(h, 272);
    return true;
}

std::uint64_t HfsPlusParser::deviceBlocks() const {
    if (reader == nullptr || blockSize == 0) return 0;
    if (reader->source() == nullptr || reader->source()->sourceBytes() < 512)
        return std::numeric_limits<std::uint64_t>::max();  // size not known
    return reader->sectorBytes() / blockSize;
}

std::uint64_t HfsPlusParser::blocksInside(const HfsExtent& e) const {
    std::uint64_t limit = deviceBlocks();
    if (volumeBlocks != 0) limit = std::min<std::uint64_t>(limit, volumeBlocks);
    if (e.startBlock >= limit) return 0;
    return std::min<std::uint64_t>(e.blockCount, limit - e.startBlock);
}

bool HfsPlusParser::forkPosition(const HfsFork& fork, std::uint64_t logical, std::uint64_t& position) const {
    if (blockSize == 0) return false;
    const std::uint64_t block = logical / blockSize;
    std::uint64_t first = 0;
    for (const HfsExtent& e : fork.extents) {
        if (block < first + e.blockCount) {
            const std::uint64_t offset = block - first;
            if (offset >= blocksInside(e)) return false;
            position = (e.startBlock + offset) * blockSize + logical % blockSize;
            return true;
        }
        first += e.blockCount;
    }
    return false;
}

bool HfsPlusParser::readNode(std::uint64_t position, std::uint32_t nodeSize, std::vector<std::uint8_t>& buffer) const {
    buffer.assign(nodeSize, 0);
    if (reader == nullptr || position > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return false;
    return reader->readAt(position, buffer.data(), nodeSize) > 0;
}

bool HfsPlusParser::readTreeHeader(const HfsFork& fork, TreeHeader& header) {
    std::uint64_t position = 0;
    if (!forkPosition(fork, 0, position)) return false;
    std::vector<std::uint8_t> buffer;
    if (!readNode(position, 512, buffer)) return false;
    const ByteSpan b(buffer);
    if (static_cast<std::int8_t>(u8(b, 8)) != 1) return false;  // node 0 is the header node
    header.nodeSize = be16(b, kNodeDescriptorSize + 18);
    header.totalNodes = be32(b, kNodeDescriptorSize + 22);
    header.firstLeaf = be32(b, kNodeDescriptorSize + 10);
    return validNodeSize(header.nodeSize);
}

bool HfsPlusParser::walkTree(const HfsFork& fork, const TreeHeader& header, std::vector<HfsNode>& out) {
    // Node by node through the fork's extents, up to the header's node count. Only the part of
    // each extent inside the volume is visited, so a damaged extent or node count cannot make
    // the walk longer than the volume.
    const std::uint64_t nodeSize = header.nodeSize;
    struct Span {
        std::uint64_t firstNode, endNode;  // nodes [firstNode, endNode) lie in this extent
        std::uint64_t position;            // volume byte of the extent's first fork byte
        std::uint64_t forkStart;           // fork byte where the extent starts
    };
    std::vector<Span> spans;
    std::uint64_t total = 0;
    std::uint64_t first = 0;  // fork block where the extent starts
    for (const HfsExtent& e : fork.extents) {
        const std::uint64_t inside = blocksInside(e);
        if (first + inside > std::numeric_limits<std::uint64_t>::max() / blockSize) break;
        const std::uint64_t from = (first * blockSize + nodeSize - 1) / nodeSize;
        const std::uint64_t to = std::min<std::uint64_t>((first + inside) * blockSize / nodeSize, header.totalNodes);
        if (from < to) {
            spans.push_back({from, to, std::uint64_t{e.startBlock} * blockSize, first * blockSize});
            total += to - from;
        }
        first += e.blockCount;
    }
    progressRange(static_cast<std::int64_t>(total));
    std::vector<std::uint8_t> buffer;
    std::uint64_t done = 0;
    for (const Span& span : spans) {
        for (std::uint64_t n = span.firstNode; n < span.endNode; ++n) {
            if (stop()) return true;
            progressPos(static_cast<std::int64_t>(done++));
            const std::uint64_t position = span.position + (n * nodeSize - span.forkStart);
            if (!readNode(position, header.nodeSize, buffer)) continue;
            HfsNode node;
            if (!describeNode(ByteSpan(buffer), node)) continue;
            node.number = n;
            node.position = position;
            out.push_back(std::move(node));
        }
    }
    return true;
}

bool HfsPlusParser::readExtentsTree() {
    if (extentsTreeRead_) return true;
    extentsTreeRead_ = true;
    TreeHeader header;
    if (!readTreeHeader(extentsFork, header)) {
        status("The extents overflow file cannot be read; files that need it may end short.");
        return false;
    }
    extentsNodeSize = header.nodeSize;
    extentsBlocksPerNode = header.nodeSize / blockSize;
    walkTree(extentsFork, header, extentsNodes);
    std::vector<std::uint8_t> buffer;
    for (const HfsNode& node : extentsNodes) {
        if (node.kind != -1) continue;
        if (!readNode(node.position, extentsNodeSize, buffer)) continue;
        const ByteSpan b(buffer);
        for (std::uint16_t off : node.offsets) {
            if (off < kNodeDescriptorSize || !fits(b, off, kExtentKeySize + kExtentRecordSize)) continue;
            if (be16(b, off) != kExtentKeySize - 2) continue;
            // Only data-fork records: a resource fork's records have the same (file, block) keys.
            if (u8(b, off + 2) != 0) continue;
            const std::uint32_t fileId = be32(b, off + 4);
            const std::uint32_t start = be32(b, off + 8);
            overflowIndex.emplace(std::make_pair(fileId, start),
                                  HfsOverflowRef{start, off, node.position / blockSize, node.position});
        }
    }
    return true;
}

void HfsPlusParser::completeCatalogFork() {
    std::uint64_t have = listedBlocks(catalogFork);
    if (have >= catalogFork.totalBlocks) return;
    if (!readExtentsTree()) return;
    std::vector<std::uint8_t> buffer;
    // Each round must add blocks; the index bounds the number of rounds.
    for (std::size_t round = 0; have < catalogFork.totalBlocks && round <= overflowIndex.size(); ++round) {
        if (have > std::numeric_limits<std::uint32_t>::max()) break;
        const auto it = overflowIndex.find({kCatalogFileId, static_cast<std::uint32_t>(have)});
        if (it == overflowIndex.end()) break;
        if (!readNode(it->second.nodePosition, extentsNodeSize, buffer)) break;
        const ByteSpan b(buffer);
        const std::size_t data = it->second.recordOffset + kExtentKeySize;
        const std::uint64_t before = have;
        for (std::size_t i = 0; i < 8; ++i) {
            const HfsExtent e{be32(b, data + i * 8), be32(b, data + i * 8 + 4)};
            if (e.startBlock == 0 || e.blockCount == 0) continue;
            catalogFork.extents.push_back(e);
            have += e.blockCount;
        }
        if (have == before) break;
    }
}

bool HfsPlusParser::readCatalogNodes() {
    if (!validBlockSize(blockSize)) return false;
    completeCatalogFork();
    TreeHeader header;
    if (!readTreeHeader(catalogFork, header)) {
        status("The catalog file's header node cannot be read.");
        return false;
    }
    catalogNodeSize = header.nodeSize;
    catalogBlocksPerNode = header.nodeSize / blockSize;
    catalogFirstLeaf_ = header.firstLeaf;
    return walkTree(catalogFork, header, catalogNodes);
}

bool HfsPlusParser::scanCatalogNodes() {
    TreeHeader header;
    if (validBlockSize(blockSize)) {
        completeCatalogFork();
        readTreeHeader(catalogFork, header);
    }
    scanned = true;
    catalogNodeSize = header.nodeSize;
    catalogBlocksPerNode = blockSize != 0 ? header.nodeSize / blockSize : 0;
    std::uint64_t blocks = 0;
    if (validBlockSize(blockSize)) {
        const std::int64_t bytes = volume.sizeBytes();
        blocks = bytes > 0 ? static_cast<std::uint64_t>(bytes) / blockSize : 0;
        // The size text is whole MiB; the header's block count covers the rest of the volume
        // when the medium holds it.
        if (volumeBlocks > blocks && volumeBlocks <= deviceBlocks()) blocks = volumeBlocks;
    }
    if (blocks == 0 || !validBlockSize(blockSize)) {
        status("BlockSize not valid .Aborting..");
        return false;
    }
    // Without a readable header node the node size is not known: each candidate node is then
    // tried with every B-tree node size, and its record offsets decide.
    const bool sizeKnown = validNodeSize(catalogNodeSize);
    if (!sizeKnown) status("The catalog header node is unreadable: looking for leaf nodes of every node size....");
    const std::uint32_t smallest = sizeKnown ? catalogNodeSize : 512;
    const std::uint32_t largest = sizeKnown ? catalogNodeSize : 32768;
    // Nodes start on block boundaries, or on node boundaries when nodes are smaller than blocks.
    const std::uint64_t step = std::min<std::uint64_t>(blockSize, smallest);
    const std::uint64_t end = blocks * blockSize;
    progressRange(static_cast<std::int64_t>(blocks));
    std::vector<std::uint8_t> buffer(std::min<std::uint64_t>(kScanChunk, end) + largest);
    for (std::uint64_t chunk = 0; chunk < end; chunk += kScanChunk) {
        if (stop()) break;
        progressPos(static_cast<std::int64_t>(chunk / blockSize));
        const std::uint64_t length = std::min<std::uint64_t>(buffer.size(), end - chunk);
        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
        reader->readAt(chunk, buffer.data(), static_cast<std::size_t>(length));
        const std::uint64_t last = std::min<std::uint64_t>(kScanChunk, end - chunk);
        for (std::uint64_t at = 0; at < last; at += step) {
            const std::uint8_t* p = buffer.data() + at;
            const std::uint16_t records = static_cast<std::uint16_t>((p[10] << 8) | p[11]);
            if (at + smallest > length || p[8] != 0xFF || p[9] == 0 || records < 1 || records > 999) continue;
            const std::uint64_t position = chunk + at;
            std::uint32_t nodeSize = 0;
            for (std::uint32_t n = smallest; n <= largest && at + n <= length; n *= 2) {
                if (position % std::min<std::uint64_t>(n, blockSize) != 0) continue;
                const ByteSpan b(p, n);
                if (be16(b, n - 2) != kNodeDescriptorSize) continue;
                if (sizeKnown || plausibleLeafOffsets(b, records)) {
                    nodeSize = n;
                    break;
                }
            }
            if (nodeSize == 0) continue;
            const ByteSpan b(p, nodeSize);
            HfsNode node;
            node.kind = -1;
            node.height = p[9];
            node.records = records;
            node.position = position;
            node.number = position / nodeSize;
            node.size = nodeSize;
            const std::size_t count = std::min<std::size_t>(records, (nodeSize - kNodeDescriptorSize) / 2);
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint16_t off = be16(b, nodeSize - 2 - 2 * i);
                if (off != 0 && off < 0x8000) node.offsets.push_back(off);
            }
            catalogNodes.push_back(std::move(node));
        }
    }
    return true;
}

bool HfsPlusParser::readExtentsNodes() {
    if (!validBlockSize(blockSize)) return false;
    // A damaged extents overflow file costs only the files that need it; the catalog stands.
    readExtentsTree();
    return true;
}

std::vector<std::size_t> HfsPlusParser::leafOrder() const {
    std::vector<std::size_t> order;
    std::vector<bool> taken(catalogNodes.size(), false);
    if (!scanned) {
        std::map<std::uint64_t, std::size_t> byNumber;
        for (std::size_t i = 0; i < catalogNodes.size(); ++i)
            if (catalogNodes[i].kind == -1) byNumber.emplace(catalogNodes[i].number, i);
        // Each node is taken once, so a chain that loops ends at its first repeat.
        for (std::uint64_t n = catalogFirstLeaf_; n != 0;) {
            const auto it = byNumber.find(n);
            if (it == byNumber.end() || taken[it->second]) break;
            taken[it->second] = true;
            order.push_back(it->second);
            n = catalogNodes[it->second].forward;
        }
    }
    for (std::size_t i = 0; i < catalogNodes.size(); ++i)
        if (!taken[i] && catalogNodes[i].kind == -1) order.push_back(i);
    return order;
}

void HfsPlusParser::parseCatalogLeaves() {
    progressRange(static_cast<std::int64_t>(catalogNodes.size()));
    if (blockSize == 0) return;
    std::vector<std::uint8_t> buffer;
    const std::vector<std::size_t> order = leafOrder();
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (stop()) break;
        const HfsNode& node = catalogNodes[order[k]];
        progressPos(static_cast<std::int64_t>(k));
        const std::uint32_t nodeSize = node.size != 0 ? node.size : catalogNodeSize;
        if (!validNodeSize(nodeSize)) continue;
        if (!readNode(node.position, nodeSize, buffer)) continue;
        const ByteSpan b(buffer);
        const std::uint64_t nodeBlock = node.position / blockSize;
        const auto nodeStart = static_cast<std::uint32_t>(node.position % blockSize);
        for (std::uint16_t off : node.offsets) {
            if (off < kNodeDescriptorSize || !fits(b, off, 8)) continue;
            const std::uint16_t keyLength = be16(b, off);
            const std::uint16_t nameLength = be16(b, off + 6);
            if (keyLength < 6 || !fits(b, off, std::size_t{2} + keyLength)) continue;
            if (nameLength < 1 || nameLength > 255 || 6 + 2 * std::size_t{nameLength} > keyLength) continue;
            const std::size_t data = off + std::size_t{2} + keyLength;
            const std::uint16_t type = be16(b, data);
            if (type != 1 && type != 2) continue;
            if (!fits(b, data, type == 1 ? kFolderRecordSize : kFileRecordSize)) continue;
            const std::uint32_t id = be32(b, data + 8);
            if (id == 0) continue;
            HfsEntry e;
            e.kind = type;
            e.parentId = be32(b, off + 2);
            e.cnid = id;
            e.nodeBlock = nodeBlock;
            e.recordOffset = nodeStart + off;
            e.name.reserve(nameLength);
            for (std::size_t c = 0; c < nameLength; ++c) e.name.push_back(static_cast<char16_t>(be16(b, off + 8 + 2 * c)));
            if (type == 2) {
                e.size = be64(b, data + 88);
                e.totalBlocks = be32(b, data + 100);
                for (std::size_t x = 0; x < 8; ++x) {
                    const HfsExtent ext{be32(b, data + 104 + x * 8), be32(b, data + 108 + x * 8)};
                    if (ext.startBlock != 0) e.extents.push_back(ext);
                }
            }
            entries.emplace(e.cnid, std::move(e));  // the first record of a CNID wins
        }
    }
}

void HfsPlusParser::linkEntries() {
    status("Maintaining Parent Child....");
    progressRange(static_cast<std::int64_t>(entries.size()));
    if (!scanned) {
        const auto total = static_cast<int>(std::min<std::size_t>(entries.size(), std::numeric_limits<int>::max()));
        int position = 0;
        for (auto& [cnid, c] : entries) {
            if (stop()) break;
            ++position;
            // One status line per 1,024 records (and the last): a status per record would
            // cost more than the linking itself on a large catalog.
            if (position % 1024 == 1 || position == total) {
                status(format("Maintaining Parent Child for record %d of %d....", position, total));
                progressPos(position);
            }
            if (c.parentId == 0 || c.parentId == cnid) continue;
            const auto p = entries.find(c.parentId);
            if (p == entries.end() || p->second.kind != 1) continue;
            HfsEntry& parent = p->second;
            if (parent.parentId == cnid) continue;  // two folders naming each other as parent
            // Chains only ever hold entries of the map, so c goes straight to the front.
            c.nextSibling = parent.firstChild;
            parent.firstChild = static_cast<std::int64_t>(cnid);
        }
        return;
    }
    if (entries.empty()) return;
    const std::uint64_t largest = entries.rbegin()->first;
    orphanId = largest + 1;
    if (largest <= 1) return;
    HfsEntry orphan;
    orphan.kind = 1;
    orphan.parentId = kRootFolderId;
    orphan.cnid = orphanId;
    orphan.name = u"ORPHAN_ENTRY";
    entries.emplace(orphanId, std::move(orphan));
    HfsEntry* pseudo = &entries.at(orphanId);
    HfsEntry* current = pseudo;
    for (auto& [cnid, e] : entries) {
        if (cnid == orphanId) continue;
        if (e.kind == 1) {
            e.nextSibling = pseudo->firstChild;
            pseudo->firstChild = static_cast<std::int64_t>(cnid);
            e.parentId = orphanId;
            current = &e;
        } else {
            e.nextSibling = current->firstChild;
            current->firstChild = static_cast<std::int64_t>(cnid);
        }
    }
}

void HfsPlusParser::fillTreeTopLevel() {
    if (tree == nullptr) return;
    long long position = 0;
    for (const auto& [cnid, e] : entries) {
        if (stop()) break;
        if (e.parentId == kRootFolderId && cnid != kRootFolderId) {
            if (e.kind == 1) {
                tree->insertItem(rootItem, e.name, IconKind::Folder, cnid);
                status(format("found folder at Node %lld", position));
            } else {
                tree->insertItem(rootItem, e.name, IconKind::File, cnid);
                status(format("found file at Node %lld", position));
            }
            tree->expand(rootItem);
        }
        ++position;
    }
}

const HfsEntry* HfsPlusParser::find(std::uint64_t cnid) const {
    const auto it = entries.find(cnid);
    return it == entries.end() ? nullptr : &it->second;
}

std::vector<std::uint64_t> HfsPlusParser::childrenOf(std::uint64_t cnid) const {
    std::vector<std::uint64_t> out;
    const HfsEntry* folder = find(cnid);
    if (folder == nullptr || folder->kind != 1) return out;
    // Bounded by the number of entries, whatever the links say.
    for (std::int64_t link = folder->firstChild; link >= 1 && out.size() < entries.size();) {
        const HfsEntry* child = find(static_cast<std::uint64_t>(link));
        if (child == nullptr) break;
        out.push_back(static_cast<std::uint64_t>(link));
        link = child->nextSibling;
    }
    return out;
}

const HfsEntry* HfsPlusParser::hardLinkTarget(const HfsEntry& entry) const {
    constexpr std::uint32_t kHardLinkType = 0x686C6E6B;     // 'hlnk'
    constexpr std::uint32_t kHardLinkCreator = 0x6866732B;  // 'hfs+'
    if (entry.kind != 2 || entry.size != 0) return nullptr;
    std::vector<std::uint8_t> data;
    if (!readRecordData(entry, data)) return nullptr;
    const ByteSpan d(data);
    if (be32(d, 48) != kHardLinkType || be32(d, 52) != kHardLinkCreator) return nullptr;
    // Built once, by whichever thread meets a hard link first (the list and a preview read may
    // ask at the same time).
    std::call_once(privateFilesIndexed_, [this] {
        static const std::u16string kPrivateData = std::u16string(4, u'\0') + u"HFS+ Private Data";
        for (const auto& [cnid, folder] : entries) {
            if (folder.kind != 1 || folder.name != kPrivateData) continue;
            for (const auto& [id, e] : entries)
                if (e.kind == 2 && e.parentId == cnid) privateFiles_.emplace(e.name, id);
        }
    });
    const auto it = privateFiles_.find(fromUtf8(format("iNode%u", be32(d, 44))));
    if (it == privateFiles_.end()) return nullptr;
    const HfsEntry* target = find(it->second);
    return target != &entry ? target : nullptr;
}

std::string HfsPlusParser::sizeText(const HfsEntry& entry) const { return formatSizeText(entry.size); }

bool HfsPlusParser::readRecordData(const HfsEntry& entry, std::vector<std::uint8_t>& data) const {
    // Enough for the longest key (2 + 516 bytes) and a file record.
    constexpr std::uint32_t kRead = 1024;
    std::uint64_t position = 0;
    if (reader == nullptr || blockSize == 0 || __builtin_mul_overflow(entry.nodeBlock, blockSize, &position) ||
        __builtin_add_overflow(position, entry.recordOffset, &position))
        return false;
    std::vector<std::uint8_t> buffer;
    if (!readNode(position, kRead, buffer)) return false;
    const ByteSpan b(buffer);
    const std::size_t start = std::size_t{2} + be16(b, 0);
    const std::size_t size = entry.kind == 2 ? kFileRecordSize : kFolderRecordSize;
    if (!fits(b, start, size) || be16(b, start) != entry.kind) return false;
    data.assign(buffer.begin() + static_cast<std::ptrdiff_t>(start),
                buffer.begin() + static_cast<std::ptrdiff_t>(start + size));
    return true;
}

void HfsPlusParser::timeTexts(const HfsEntry& entry, std::array<std::string, 4>& out) const {
    out = {};
    std::vector<std::uint8_t> data;
    if (!readRecordData(entry, data)) return;
    const ByteSpan d(data);
    out[0] = formatLocalTime(platform::fromHfsTime(be32(d, 12)));
    out[1] = formatLocalTime(platform::fromHfsTime(be32(d, 24)));
    out[2] = formatLocalTime(platform::fromHfsTime(be32(d, 16)));
    out[3] = hfsPermissionText(be16(d, 42));
}

}  // namespace corvello
