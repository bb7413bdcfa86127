// The directory tree of the NTFS entries and their display texts.

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
#include "platform/Files.h"
#include "platform/Time.h"

namespace corvello {

using namespace ntfs_internal;

// ---------------------------------------------------------------------------------------------
// Tree

void NtfsParser::attachToParent(std::uint64_t index) {
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
void NtfsParser::orphanChildrenOfNonFolders() {
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

void NtfsParser::buildTree() {
    if (mftReady && !host_.stopRequested()) {
        const std::uint64_t n = entries.size();
        host_.setProgressRange(0, static_cast<std::int64_t>(n));
        RecordBytes bytes{};
        // Records are read 256 at a time where the MFT's runs keep them together.
        std::vector<std::uint8_t> ahead;
        std::uint64_t aheadStart = 0;
        const auto fetch = [&](std::uint64_t location) {
            if (location != ~0ull && location >= aheadStart && location - aheadStart <= ahead.size() &&
                ahead.size() - (location - aheadStart) >= kMftRecordSize) {
                std::memcpy(bytes.data(), ahead.data() + (location - aheadStart), kMftRecordSize);
                return true;
            }
            ahead.clear();
            if (location == ~0ull || location > static_cast<std::uint64_t>(INT64_MAX) ||
                (volumeBytes > 0 && (location > volumeBytes || volumeBytes - location < kMftRecordSize)))
                return false;
            // A volume held in memory is read in place.
            if (const std::uint8_t* inPlace = reader_.bytesInPlace(location, kMftRecordSize)) {
                std::memcpy(bytes.data(), inPlace, kMftRecordSize);
                return true;
            }
            std::uint64_t length = 256 * kMftRecordSize;
            if (volumeBytes > 0) length = std::min(length, volumeBytes - location);
            ahead.resize(static_cast<std::size_t>(length));
            const std::size_t delivered = reader_.readAt(location, ahead.data(), ahead.size());
            ahead.resize(delivered / kMftRecordSize * kMftRecordSize);
            aheadStart = location;
            if (!ahead.empty()) {
                std::memcpy(bytes.data(), ahead.data(), kMftRecordSize);
                return true;
            }
            return readRecordBytes(location, bytes);
        };
        for (std::uint64_t i = 0; i < n; ++i) {
            if ((i & 1023) == 0) {
                if (host_.checkpoint()) break;
                host_.setStatus(format("parsing MFT entry %llu...", static_cast<unsigned long long>(i)));
                host_.setProgressPos(static_cast<std::int64_t>(i));
            }
            parsePosition_ = i;
            if (fetch(entries[i].location)) parseRecordBytes(bytes, i);
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

void NtfsParser::placeOrphans() {
    host_.setProgressRange(0, static_cast<std::int64_t>(entries.size()));
    MftEntry& pseudo = entries[orphanIndex];
    const auto orphanId = static_cast<std::int64_t>(orphanIndex);
    if (mode != RecoveryMode::Deep) {
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

bool NtfsParser::fillTreeTopLevel() {
    // Without the root's record the entries found still show, under the pseudo-directory.
    const bool rootFound = rootIndex < entries.size();
    if (tree_ == nullptr) return rootFound;
    bool pseudoShown = false;
    if (mode != RecoveryMode::Deep && rootFound) {
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

std::uint64_t NtfsParser::dataSize(std::uint64_t i) {
    if (i >= entries.size() || !entries[i].isFile() || i == orphanIndex) return 0;
    if (entries[i].kind == 'D') return 0;
    const DataStream stream = readDataStream(i);
    return stream.present ? stream.realSize : 0;
}

std::string NtfsParser::sizeText(std::uint64_t i) { return formatSizeText(dataSize(i)); }

std::array<std::string, 4> NtfsParser::timeTexts(const MftEntry& entry) {
    const RecordTimes t = readRecordTimes(entry.location);
    auto text = [](std::uint64_t filetime) { return formatLocalTime(platform::fromFiletime(filetime)); };
    return {text(t.creation), text(t.access), text(t.modification), t.attributeText};
}

void NtfsParser::rename(std::uint64_t i, const std::u16string& name) {
    if (i < entries.size()) entries[i].name = keepName(name);
}

}  // namespace corvello
