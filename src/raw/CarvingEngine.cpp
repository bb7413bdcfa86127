#include "raw/CarvingEngine.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "raw/CarveSource.h"

namespace corvello {

namespace {

constexpr std::uint8_t kWildcard = 0x2A;  // '*' in a signature matches any byte
constexpr std::int64_t kReadPiece = 128 * 1024;
constexpr std::size_t kPageSize = 4096;

std::int64_t roundUpToSector(std::int64_t n, std::int64_t sector) { return (n + sector - 1) / sector * sector; }

}  // namespace

bool CarvingEngine::addDefinition(const SignatureRecord& record) {
    if (signatureParams.size() >= kMaxDefinitions) return false;
    const auto index = static_cast<std::uint8_t>(signatureParams.size());
    signatureKeys.push_back(makeSignatureKey(record, index));
    signatureParams.push_back(makeSignatureParams(record));
    return true;
}

bool CarvingEngine::prepareMatchTable() {
    try {
        const std::size_t n = std::min(signatureKeys.size(), kMaxDefinitions);
        matchTable.assign(2 * n, MatchEntry{});
        for (std::size_t i = 0; i < n; ++i) {
            const SignatureKey& key = signatureKeys[i];
            MatchEntry& start = matchTable[i];
            start.length = key.startLength;
            start.signatureIndex = key.signatureIndex;
            start.bytes = key.startSignature;
            MatchEntry& end = matchTable[n + i];
            end.length = key.endLength;
            end.signatureIndex = key.signatureIndex;
            end.bytes = key.endSignature;
        }
        std::size_t largest = 0;
        for (std::size_t i = 0; i < n; ++i) largest = std::max<std::size_t>(largest, signatureKeys[i].signatureIndex);
        pendingStarts.assign(n == 0 ? 0 : largest + 1, {});
        waiting_ = 0;
        formats_.assign(n, nullptr);
        endDefinitions_.clear();
        for (std::size_t i = 0; i < n; ++i) {
            formats_[i] = formatForExtension(signatureKeys[i].extensionText());
            if (formats_[i] == nullptr && signatureKeys[i].endLength > 1)
                endDefinitions_.push_back(static_cast<std::uint8_t>(i));
        }

        for (auto& list : byFirstByte_) list.clear();
        leads_.clear();
        for (std::size_t e = 0; e < matchTable.size(); ++e) {
            const MatchEntry& entry = matchTable[e];
            if (entry.length <= 1) continue;  // a signature of 0 or 1 bytes never matches
            WordEntry word;
            word.entry = static_cast<std::uint16_t>(e);
            for (std::size_t k = 0; k < entry.length; ++k) {
                if (entry.bytes[k] == kWildcard) continue;
                if (k < 8) {
                    word.mask |= std::uint64_t{0xFF} << (8 * k);
                    word.value |= std::uint64_t{entry.bytes[k]} << (8 * k);
                } else {
                    word.mask2 = static_cast<std::uint16_t>(word.mask2 | (0xFF << (8 * (k - 8))));
                    word.value2 = static_cast<std::uint16_t>(word.value2 | (entry.bytes[k] << (8 * (k - 8))));
                }
            }
            for (unsigned b = 0; b < 256; ++b)
                if (entry.bytes[0] == kWildcard || entry.bytes[0] == b) byFirstByte_[b].push_back(word);
            // Listed once more by its first byte that is not a wildcard, so that a position is
            // compared only with the entries its bytes can match.
            std::size_t lead = 0;
            while (lead < entry.length && entry.bytes[lead] == kWildcard) ++lead;
            auto group = std::find_if(leads_.begin(), leads_.end(), [&](const LeadGroup& g) { return g.position == lead; });
            if (group == leads_.end()) group = leads_.insert(leads_.end(), LeadGroup{lead, {}});
            for (unsigned b = 0; b < 256; ++b)
                if (lead == entry.length || entry.bytes[lead] == b) group->lists[b].push_back(word);
        }
    } catch (const std::bad_alloc&) {
        matchTable.clear();
        pendingStarts.clear();
        return false;
    }
    return true;
}

std::optional<MatchHit> CarvingEngine::matchAt(ByteSpan data) const {
    if (data.empty()) return std::nullopt;
    const std::size_t n = matchTable.size() / 2;
    const std::vector<WordEntry>& candidates = byFirstByte_[data[0]];
    if (data.size() >= kMaxSignatureBytes) {
        // The common case: ten bytes at hand, every entry one masked comparison, and only the
        // entries whose leading byte is there; the first entry in table order wins.
        const std::uint64_t head = le64(data, 0);
        const std::uint16_t tail = le16(data, 8);
        std::size_t best = matchTable.size();
        for (const LeadGroup& group : leads_) {
            const std::size_t at = std::min(group.position, kMaxSignatureBytes - 1);
            for (const WordEntry& w : group.lists[data[at]]) {
                if (w.entry >= best) break;
                if ((head & w.mask) == w.value && (tail & w.mask2) == w.value2) {
                    best = w.entry;
                    break;
                }
            }
        }
        if (best == matchTable.size()) return std::nullopt;
        return MatchHit{best < n ? MatchKind::Start : MatchKind::End, matchTable[best].signatureIndex};
    }
    for (const WordEntry& w : candidates) {
        const MatchEntry& entry = matchTable[w.entry];
        if (entry.length > data.size()) continue;
        bool same = true;
        for (std::size_t k = 1; k < entry.length && same; ++k)
            same = entry.bytes[k] == kWildcard || entry.bytes[k] == data[k];
        if (same) return MatchHit{w.entry < n ? MatchKind::Start : MatchKind::End, entry.signatureIndex};
    }
    return std::nullopt;
}

std::u16string CarvingEngine::carvedName(std::size_t index) const {
    const CarvedFile& f = carvedFiles.at(index);
    return fromUtf8(format("%lld .", static_cast<long long>(f.namePosition))) + signatureParams.at(f.signatureIndex).extension;
}

const std::u16string& CarvingEngine::carvedCategory(std::size_t index) const {
    return signatureParams.at(carvedFiles.at(index).signatureIndex).category;
}

void CarvingEngine::setUpTree() {
    rootItem_ = 0;
    categoryCounts.clear();
    if (resultTree == nullptr) return;
    rootItem_ = resultTree->insertItem(kTreeTop, u"RAW RECOVERY ", IconKind::Folder, 0);
    std::map<std::u16string, TreeItem> items;
    for (SignatureParams& params : signatureParams) {
        auto it = items.find(params.category);
        if (it == items.end()) {
            categoryCounts.emplace(params.category, 0);
            it = items.emplace(params.category, resultTree->insertItem(rootItem_, params.category, IconKind::Folder, 0)).first;
        }
        params.categoryItem = it->second;
    }
    resultTree->expand(rootItem_);
}

std::int64_t CarvingEngine::scanEnd() const {
    std::int64_t end = std::max<std::int64_t>(rangeBytes, 0);
    // Never beyond the medium: the view ends where the medium does.
    if (view.valid()) end = std::min<std::uint64_t>(static_cast<std::uint64_t>(end), view.length());
    return end;
}

void CarvingEngine::recordFile(std::int64_t offset, std::int64_t size, std::int64_t namePosition, std::uint8_t index,
                               bool partial) {
    // A file running past the end of the scanned range is cut there.
    if (offset < 0 || offset >= end_) return;
    size = std::min(size, end_ - offset);
    if (size <= 0) return;
    SignatureParams& params = signatureParams[index];
    carvedFiles.push_back(CarvedFile{offset, size, index, namePosition, partial, 0});
    const std::int64_t count = ++categoryCounts[params.category];
    if (resultTree == nullptr) return;
    resultTree->setItemText(params.categoryItem,
                            params.category + fromUtf8(format(" (%lld)", static_cast<long long>(count))));
    carvedFiles.back().item = resultTree->insertItem(params.categoryItem, carvedName(carvedFiles.size() - 1),
                                                     IconKind::File, static_cast<ItemData>(carvedFiles.size() - 1));
}

// The whole size of a file whose size field lies in its first sector: the stored value (an
// unsigned little-endian number of 1 to 8 bytes), plus the header when the value leaves it out.
bool CarvingEngine::readDeclaredSize(ByteSpan sector, const SignatureParams& params, std::int64_t& total) const {
    if (params.sizeOffset < 0 || params.sizeWidth < 1 || params.sizeWidth > 8 || params.headerSize < 0) return false;
    const auto offset = static_cast<std::size_t>(params.sizeOffset);
    const auto width = static_cast<std::size_t>(params.sizeWidth);
    std::size_t needed = offset + width;
    if (!params.sizeIncludesHeader) needed += static_cast<std::size_t>(params.headerSize);
    if (needed > stepSize || !fits(sector, offset, width)) return false;
    std::uint64_t value = 0;
    for (std::size_t k = width; k-- > 0;) value = (value << 8) | sector[offset + k];
    if (value == 0 || value > static_cast<std::uint64_t>(INT64_MAX / 2)) return false;
    total = static_cast<std::int64_t>(value) + (params.sizeIncludesHeader ? 0 : params.headerSize);
    // The approximate size bounds a plausible size field, where the definition gives one.
    if (params.approximateSize > 0 && total > params.approximateSize) return false;
    return true;
}

void CarvingEngine::searchEnds(const std::uint8_t* data, std::int64_t base, std::int64_t dataEnd, std::int64_t from,
                               std::int64_t to) {
    for (const std::uint8_t i : endDefinitions_) {
        std::deque<std::int64_t>& queue = pendingStarts[i];
        if (queue.empty()) continue;
        const SignatureKey& key = signatureKeys[i];
        const SignatureParams& params = signatureParams[i];
        const std::size_t length = key.endLength;
        // The first byte of the signature that is not a wildcard leads the search.
        std::size_t lead = 0;
        while (lead < length && key.endSignature[lead] == kWildcard) ++lead;
        std::int64_t e = std::max(from, queue.back() + key.startLength);
        while (!queue.empty()) {
            const std::int64_t newest = queue.back();
            // The newest start is the nearest: when it is out of reach, so are the others.
            if (params.approximateSize > 0 && e + static_cast<std::int64_t>(length) - newest > params.approximateSize) break;
            const std::int64_t last = std::min(to, dataEnd - static_cast<std::int64_t>(length) + 1);
            if (e >= last) break;
            std::int64_t hit = -1;
            if (lead == length) {
                hit = e;
            } else {
                const std::uint8_t* from8 = data + (e - base) + lead;
                const std::uint8_t* end8 = data + (last - base) + lead;
                for (const std::uint8_t* q = from8; q < end8;) {
                    q = static_cast<const std::uint8_t*>(std::memchr(q, key.endSignature[lead], static_cast<std::size_t>(end8 - q)));
                    if (q == nullptr) break;
                    const std::uint8_t* candidate = q - lead;
                    bool same = true;
                    for (std::size_t k = 0; k < length && same; ++k)
                        same = key.endSignature[k] == kWildcard || key.endSignature[k] == candidate[k];
                    if (same) {
                        hit = base + (candidate - data);
                        break;
                    }
                    ++q;
                }
            }
            if (hit < 0) break;
            const std::int64_t size = hit + static_cast<std::int64_t>(length) - newest;
            if (params.approximateSize > 0 && size > params.approximateSize) break;
            // An end belongs to the nearest start before it: a file inside another (a picture in a
            // document) ends before the one around it.
            queue.pop_back();
            --waiting_;
            recordFile(newest, size, hit, i);
            e = hit + static_cast<std::int64_t>(length);
        }
    }
}

std::int64_t CarvingEngine::carveKnownFormat(CarveSource& source, std::int64_t position, std::uint8_t index) {
    const SignatureParams& params = signatureParams[index];
    std::int64_t limit = end_ - position;
    if (params.approximateSize > 0) limit = std::min(limit, params.approximateSize);
    const FileFormat& format = *formats_[index];
    const FormatVerdict verdict = checkFormat(format, source, position, limit);
    if (container_.index != SIZE_MAX && position >= container_.end) container_ = Container{};
    if (!verdict.isFile || verdict.size <= 0) return -1;
    const std::int64_t size = std::min(verdict.size, limit);
    if (container_.index != SIZE_MAX) {
        // Inside a whole file whose contents go unchecked, a file that ends before it does, or a
        // damaged one, is part of its contents. One that ends where it ends is the file that
        // a cut one ran into, following its structure.
        if (container_.whole && (verdict.partial || position + size < container_.end)) return -1;
        // Every pack of an MPEG program stream could begin one: its packs are its own.
        if (container_.whole && format.packsLookLikeStarts &&
            formats_[carvedFiles[container_.index].signatureIndex] == &format)
            return -1;
        // Otherwise the file around it was cut where this one begins: its sound part ends here.
        CarvedFile& cut = carvedFiles[container_.index];
        cut.size = position - cut.offset;
        if (!cut.partial) {
            cut.partial = true;
            cut.namePosition = cut.offset;
            if (resultTree != nullptr) resultTree->setItemText(cut.item, carvedName(container_.index));
        }
        container_ = Container{};
    }
    // Named as the signatures name it: after the end signature where the definition has one.
    const bool byEnd = params.endLength > 1 && verdict.endMarker >= 0 && !verdict.partial;
    const std::size_t before = carvedFiles.size();
    recordFile(position, size, byEnd ? position + verdict.endMarker : position, index, verdict.partial);
    if (carvedFiles.size() == before) return -1;
    if (verdict.partial || format.contentsUnchecked) {
        container_ = Container{before, position + size, !verdict.partial};
        return -1;
    }
    return position + size;
}

void CarvingEngine::scanBlocks() {
    const auto block = static_cast<std::int64_t>(blockSize);
    const auto step = static_cast<std::int64_t>(stepSize);
    // Each block is read in pieces that stay in the processor's cache while they are scanned,
    // each with the first bytes of the next, so that a signature may straddle them.
    const std::int64_t piece = std::max(step, std::min(block, kReadPiece) / step * step);
    // Page-aligned, as the kernel copies fastest into whole pages.
    std::vector<std::uint8_t> storage;
    try {
        storage.resize(static_cast<std::size_t>(piece) + kMaxSignatureBytes + kPageSize);
    } catch (const std::bad_alloc&) {
        return;
    }
    std::uint8_t* const buffer = storage.data() + (kPageSize - reinterpret_cast<std::uintptr_t>(storage.data()) % kPageSize) % kPageSize;
    CarveSource source(view, end_, 256 * 1024);
    const std::int64_t blocks = (end_ + block - 1) / block;
    if (host != nullptr) host->setProgressRange(0, blocks);

    std::int64_t resumeAt = 0;  // a file delimited by its size or structure is not scanned inside
    for (std::int64_t b = 0; b < blocks && !stopped_; ++b) {
        if (host != nullptr) {
            host->setProgressPos(b);
            if (host->checkpoint()) {
                stopped_ = true;
                break;
            }
        }
        if (!view.valid()) break;
        const std::int64_t blockStart = b * block;
        const std::int64_t blockEnd = std::min(blockStart + block, end_);
        // Bytes jumped over are never read: reading resumes where the scan does.
        std::int64_t pos = std::max(resumeAt, blockStart);
        bool readFailed = false;
        while (pos < blockEnd && !readFailed && !stopped_) {
            const std::int64_t pieceEnd = std::min(pos + piece, blockEnd);
            const auto want = static_cast<std::uint32_t>(
                std::min(pieceEnd + static_cast<std::int64_t>(kMaxSignatureBytes), end_) - pos);
            const auto got = static_cast<std::int64_t>(view.readAt(static_cast<std::uint64_t>(pos), buffer, want));
            // Only bytes that arrived are scanned: a failed read ends the block.
            const std::int64_t scanEnd = std::min(pieceEnd, pos + got);
            readFailed = pos + got < pieceEnd;
            const std::int64_t dataEnd = pos + got;
            const std::uint8_t* data = buffer;
            const std::int64_t base = pos;
            std::int64_t next = pos;
            for (std::int64_t position = pos; position < scanEnd; position = next) {
                const std::int64_t p = position - base;
                const auto span = ByteSpan(data + p, static_cast<std::size_t>(std::min<std::int64_t>(
                                                         static_cast<std::int64_t>(kMaxSignatureBytes), dataEnd - position)));
                // Most positions hold no leading byte of any signature: they are passed at once.
                bool maybe = span.size() < kMaxSignatureBytes;
                for (std::size_t g = 0; g < leads_.size() && !maybe; ++g)
                    maybe = !leads_[g].lists[span[std::min(leads_[g].position, kMaxSignatureBytes - 1)]].empty();
                const std::optional<MatchHit> hit = maybe ? matchAt(span) : std::nullopt;
                if (host != nullptr && host->stopRequested()) {
                    stopped_ = true;
                    break;
                }
                next = position + step;
                if (hit && hit->kind == MatchKind::Start) {
                    const std::uint8_t i = hit->signatureIndex;
                    const SignatureParams& params = signatureParams[i];
                    if (formats_[i] != nullptr) {
                        const std::int64_t after = carveKnownFormat(source, position, i);
                        if (after > position) next = resumeAt = position + roundUpToSector(after - position, step);
                    } else if (params.endLength > 1) {
                        std::deque<std::int64_t>& queue = pendingStarts[i];
                        if (maxPendingStarts > 0 && queue.size() >= maxPendingStarts) {
                            recordFile(queue.front(), params.approximateSize, queue.front(), i);
                            queue.pop_front();
                            --waiting_;
                        }
                        queue.push_back(position);
                        ++waiting_;
                    } else if (params.sizeWidth < 1) {
                        recordFile(position, params.approximateSize, position, i);
                        const std::int64_t skip = params.skipSize <= step ? step : params.skipSize / step * step;
                        next = skip >= blockEnd - position ? blockEnd : position + skip;  // never past the block
                    } else {
                        const auto sector =
                            ByteSpan(data + p, static_cast<std::size_t>(std::min(step, dataEnd - position)));
                        std::int64_t total = 0;
                        if (readDeclaredSize(sector, params, total)) {
                            recordFile(position, total, position, i);
                            // Go on after the file, in this block or a later one.
                            next = resumeAt = position + std::max(step, roundUpToSector(total, step));
                        }
                    }
                }
                // End signatures at every byte up to where the scan goes on.
                if (waiting_ > 0) searchEnds(data, base, dataEnd, position, std::min(next, scanEnd));
                if (next >= pieceEnd) break;
            }
            pos = std::max(next, pieceEnd);
        }
    }
    if (host != nullptr) host->setProgressPos(blocks);
}

void CarvingEngine::recordLeftovers() {
    // Starts whose end signature never came: each keeps the approximate size (cut at the end
    // of the range), so a file whose end was missed is still saved whole when it fits.
    for (std::size_t i = 0; i < pendingStarts.size() && i < signatureParams.size(); ++i) {
        std::deque<std::int64_t>& queue = pendingStarts[i];
        for (auto it = queue.rbegin(); it != queue.rend(); ++it)
            recordFile(*it, signatureParams[i].approximateSize, *it, static_cast<std::uint8_t>(i));
        queue.clear();
        waiting_ = 0;
    }
}

bool CarvingEngine::carve() {
    stopped_ = false;
    container_ = Container{};
    if (!prepareMatchTable()) {
        if (host != nullptr) host->notice("not properly initialized");
        return false;
    }
    // Blocks are whole numbers of steps; anything else falls back to sectors in 1 MiB blocks.
    if (stepSize == 0 || stepSize > blockSize || blockSize % stepSize != 0) {
        stepSize = 512;
        blockSize = 1048576;
    }
    end_ = scanEnd();
    setUpTree();
    if (host != nullptr) host->setProgressRange(0, 1000);
    scanBlocks();
    recordLeftovers();
    matchTable.clear();
    matchTable.shrink_to_fit();
    for (auto& list : byFirstByte_) list.clear();
    leads_.clear();
    if (host != nullptr) host->finished("Scanning processing done.Select save button to save the data..");
    return true;
}

}  // namespace corvello
