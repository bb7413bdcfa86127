#include "scan/Scan.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "common/Bytes.h"
#include "common/ResultTree.h"
#include "common/ScanHost.h"
#include "common/Text.h"
#include "platform/Files.h"
#include "device/FileReadSeek.h"

namespace corvello {

namespace {
constexpr char16_t kPlaceholder[] = u"..DUMY..";
// A recycle-bin index file holds a header and one path: never more than this.
constexpr std::size_t kMaxIndexFileBytes = 2047;
}

std::unique_ptr<ScanSession> runScan(const ScanRequest& request, ScanHost& host, ResultTree& tree) {
    if (request.reader == nullptr) {
        host.notice("Please Restart the program to re begin necessary initialization...");
        return nullptr;
    }
    const FamilyRow* row = familyRow(familyOf(request.volume.fileSystemKind()));
    if (row == nullptr) {
        host.notice("not a valid drive.");
        host.setStatus("Not a valid Drive .Go back");
        return nullptr;
    }
    std::unique_ptr<ScanSession> session = row->scan(request, host, tree);
    if (session) session->setSource(request.reader, volumeBytes(request));
    return session;
}

std::uint64_t volumeBytes(const ScanRequest& request) {
    if (request.reader == nullptr) return 0;
    const std::uint64_t medium = request.reader->sourceBytes();
    const std::uint64_t start = request.volume.startSector > 0
                                    ? static_cast<std::uint64_t>(request.volume.startSector) * kSectorSize
                                    : 0;
    const std::uint64_t available = medium > start ? medium - start : 0;
    // A volume whose exact length is known ends there, even when the medium goes on.
    const std::int64_t length = request.volume.byteLength > 0 ? request.volume.sizeBytes() : 0;
    return length > 0 ? std::min(available, static_cast<std::uint64_t>(length)) : available;
}

void openFolder(ScanSession& session, ResultTree& tree, TreeItem item, bool redForDeleted) {
    const ItemData folder = tree.itemData(item);
    if (!session.isValid(folder) || !session.isFolder(folder)) return;
    auto kids = tree.children(item);
    if (!kids.empty() && tree.itemText(kids.front()) == kPlaceholder) {
        tree.deleteItem(kids.front());
        kids.erase(kids.begin());
    }
    if (!kids.empty()) return;
    for (ItemData child : session.children(folder)) {
        const TextColor color = redForDeleted && session.isDeleted(child, folder) ? kDeletedColor : kDefaultColor;
        if (session.isFolder(child)) {
            const TreeItem added = tree.insertItem(item, session.name(child), IconKind::Folder, child, color);
            if (!session.children(child).empty()) tree.insertItem(added, kPlaceholder, IconKind::Placeholder, 0);
        } else {
            tree.insertItem(item, session.name(child), IconKind::File, child, color);
        }
    }
}

namespace {

// The original file name, without its folders, held by a recycle-bin index file ("$I...").
// Version 1 keeps the path at byte 24, version 2 (Windows 10) a length at 24 and the path at 28.
std::u16string originalNameFrom(const std::vector<std::uint8_t>& bytes) {
    const ByteSpan b(bytes);
    const std::size_t start = le64(b, 0) == 2 ? 28 : 24;
    std::u16string original;
    for (std::size_t off = start; fits(b, off, 2); off += 2) {
        const char16_t c = le16(b, off);
        if (c == 0) break;
        original.push_back(c);
    }
    const auto slash = original.find_last_of(u'\\');
    return slash == std::u16string::npos ? original : original.substr(slash + 1);
}

void restoreRecycledNames(ScanSession& session, ItemData indexFolder) {
    std::map<std::u16string, std::u16string> originalNames;
    const auto children = session.children(indexFolder);
    for (ItemData x : children) {
        const std::u16string name = session.name(x);
        if (name.rfind(u"$I", 0) != 0 || session.isFolder(x)) continue;
        // Index files are small: read into memory, never written anywhere.
        std::vector<std::uint8_t> bytes;
        if (!session.readSmallFile(x, kMaxIndexFileBytes, bytes)) continue;
        const std::u16string original = originalNameFrom(bytes);
        if (!original.empty()) originalNames[name] = original;
    }
    for (const auto& [indexName, original] : originalNames) {
        std::u16string dataName = indexName;
        for (std::size_t pos = dataName.find(u"$I"); pos != std::u16string::npos; pos = dataName.find(u"$I", pos + 2))
            dataName[pos + 1] = u'R';
        for (ItemData x : children)
            if (trimmedRight(session.name(x)) == dataName) session.rename(x, original);
    }
}

}  // namespace

void completeScan(ScanSession& session, ResultTree& tree, ScanHost& /*host*/) {
    const TreeItem root = session.rootItem();
    if (root == 0) return;
    for (TreeItem child : tree.children(root)) {
        if (tree.itemIcon(child) == IconKind::File) continue;
        const ItemData data = tree.itemData(child);
        if (session.isValid(data) && session.isFolder(data) && !session.children(data).empty() &&
            tree.children(child).empty())
            tree.insertItem(child, kPlaceholder, IconKind::Placeholder, 0);
    }
    if (!session.hasRecycleBin()) return;
    for (TreeItem child : tree.children(root)) {
        if (tree.itemIcon(child) != IconKind::Folder) continue;
        const std::u16string text = tree.itemText(child);
        if (text != u"$RECYCLE.BIN" && text != u"$RECYCLEBIN") continue;
        const ItemData bin = tree.itemData(child);
        if (!session.isValid(bin)) continue;
        for (ItemData folder : session.recycleIndexFolders(bin)) restoreRecycledNames(session, folder);
    }
}

}  // namespace corvello
