#include "scan/MountTree.h"

#include <chrono>
#include <set>

#include "scan/SaveWalk.h"

namespace corvello {

namespace {

platform::ReadOnlyTree::Entry folderEntry(const std::string& name) {
    platform::ReadOnlyTree::Entry e;
    e.name = name;
    e.folder = true;
    return e;
}

}  // namespace

MountTree::MountTree(ScanSession& session, const std::vector<ItemData>& records) : session_(session) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    mounted_ = platform::UnixTime{std::chrono::duration_cast<std::chrono::seconds>(now).count(), 0};
    Node root;
    root.entry = folderEntry("");
    root.entry.modification = root.entry.access = mounted_;
    nodes_.push_back(std::move(root));

    // The walk's paths are unique among themselves; the deleted folder's name must not be one of
    // the top-level names.
    std::vector<ListedEntry> entries;
    std::set<std::string> topNames;
    walkEntries(session, records, 0, [&](const ListedEntry& e) {
        entries.push_back(e);
        if (e.path.find('/') == std::string::npos) topNames.insert(e.path);
    });
    deletedName_ = kDeletedFolder;
    for (int n = 2; topNames.count(deletedName_) != 0; ++n) deletedName_ = std::string(kDeletedFolder) + " (" + std::to_string(n) + ")";

    // An entry lies in the deleted part when it or a folder above it is deleted. The walk gives
    // each folder before what it holds, and a live and a deleted folder of one name share a path:
    // the folders open above an entry, not its path, tell which of them holds it.
    std::vector<std::pair<std::string, bool>> open;  // folder path, in the deleted part
    std::size_t deletedRoot = 0;
    for (const ListedEntry& e : entries) {
        while (!open.empty() && !(e.path.size() > open.back().first.size() && e.path[open.back().first.size()] == '/' &&
                                  e.path.compare(0, open.back().first.size(), open.back().first) == 0))
            open.pop_back();
        const bool deleted = e.deleted || (!open.empty() && open.back().second);
        if (e.folder) open.emplace_back(e.path, deleted);
        if (!e.folder && !session.isExtracted(e.data)) continue;  // save counts it but writes nothing
        if (deleted && deletedRoot == 0) deletedRoot = folderAt(0, deletedName_);
        const std::size_t base = deleted ? deletedRoot : 0;
        const std::size_t slash = e.path.rfind('/');
        const std::size_t parent = slash == std::string::npos ? base : folderAt(base, e.path.substr(0, slash));
        const std::string name = slash == std::string::npos ? e.path : e.path.substr(slash + 1);
        const EntryTimes times = session.times(e.data);
        if (e.folder) {
            folderTimes_[e.path] = times;
            Node& folder = nodes_[folderAt(parent, name)];
            folder.data = e.data;
            folder.entry.modification = times.modification;
            folder.entry.access = times.access;
            continue;
        }
        Node file;
        file.entry.name = name;
        file.entry.size = e.size;
        file.entry.modification = times.modification;
        file.entry.access = times.access;
        file.data = e.data;
        nodes_.push_back(std::move(file));
        nodes_[parent].children[name] = nodes_.size() - 1;
        ++files_;
        deletedFiles_ += deleted ? 1 : 0;
    }
}

std::size_t MountTree::folderAt(std::size_t start, const std::string& path) {
    std::size_t at = start;
    std::string prefix;  // the path on the volume so far
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty()) continue;
        const auto it = nodes_[at].children.find(part);
        if (it != nodes_[at].children.end()) {
            prefix += (prefix.empty() ? "" : "/") + part;
            at = it->second;
            continue;
        }
        prefix += (prefix.empty() ? "" : "/") + part;
        Node folder;
        folder.entry = folderEntry(part);
        // A folder made here for the deleted entries takes the times of the volume's folder of
        // that path; the deleted folder itself those of the mount.
        const auto known = folderTimes_.find(prefix);
        folder.entry.modification = known != folderTimes_.end() ? known->second.modification : mounted_;
        folder.entry.access = known != folderTimes_.end() ? known->second.access : mounted_;
        nodes_.push_back(std::move(folder));
        nodes_[at].children[part] = nodes_.size() - 1;
        at = nodes_.size() - 1;
    }
    return at;
}

const MountTree::Node* MountTree::find(const std::string& path) const {
    std::size_t at = 0;
    for (const std::string& part : pathComponents(path)) {
        if (!nodes_[at].entry.folder) return nullptr;
        const auto it = nodes_[at].children.find(part);
        if (it == nodes_[at].children.end()) return nullptr;
        at = it->second;
    }
    return &nodes_[at];
}

bool MountTree::stat(const std::string& path, Entry& entry) const {
    const Node* node = find(path);
    if (node == nullptr) return false;
    entry = node->entry;
    return true;
}

bool MountTree::list(const std::string& path, std::vector<Entry>& entries) const {
    const Node* node = find(path);
    if (node == nullptr || !node->entry.folder) return false;
    entries.clear();
    for (const auto& [name, index] : node->children) entries.push_back(nodes_[index].entry);
    return true;
}

std::optional<std::size_t> MountTree::read(const std::string& path, std::uint64_t offset,
                                           std::span<std::uint8_t> buffer) {
    const Node* node = find(path);
    if (node == nullptr || node->entry.folder) return std::nullopt;
    if (offset >= node->entry.size) return 0;
    if (buffer.size() > node->entry.size - offset) buffer = buffer.first(static_cast<std::size_t>(node->entry.size - offset));
    const std::lock_guard<std::mutex> lock(readLock_);
    ReadNotes notes;
    const auto got = session_.read(node->data, offset, buffer, notes);
    // Bytes that cannot be read inside the file are an error, never a short read the system
    // would fill with zeros, nor zeros standing in for them.
    if (!got || *got < buffer.size() || notes.damaged) return std::nullopt;
    return got;
}

}  // namespace corvello
