#pragma once
// The scanned volume as a tree of folders and files to mount read-only: the entries and names the
// save walk gives (so copying the mount writes what save writes), live entries where they are,
// deleted ones (and everything below a deleted folder) under one top-level folder, kDeletedFolder,
// in the same folders as on the volume. File bytes are read on demand through the session.

#include <map>
#include <string>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ReadOnlyTree.h"
#include "scan/ScanSession.h"

namespace corvello {

inline constexpr const char* kDeletedFolder = "[deleted]";

class MountTree : public platform::ReadOnlyTree {
public:
    // The entries below records (the top level of the results tree), every level.
    MountTree(ScanSession& session, const std::vector<ItemData>& records);

    bool stat(const std::string& path, Entry& entry) const override;
    bool list(const std::string& path, std::vector<Entry>& entries) const override;
    std::optional<std::size_t> read(const std::string& path, std::uint64_t offset,
                                    std::span<std::uint8_t> buffer) override;

    // The name of the folder that holds the deleted entries (kDeletedFolder, numbered when the
    // volume has a live entry of that name at the top).
    const std::string& deletedFolder() const { return deletedName_; }
    std::uint64_t files() const { return files_; }
    std::uint64_t deletedFiles() const { return deletedFiles_; }

private:
    struct Node {
        Entry entry;
        ItemData data = 0;  // 0 for a folder made here
        std::map<std::string, std::size_t> children;
    };
    // The node of path, or none.
    const Node* find(const std::string& path) const;
    // The folder at the '/'-separated path below the node at start, created as needed.
    std::size_t folderAt(std::size_t start, const std::string& path);

    ScanSession& session_;
    std::vector<Node> nodes_;  // nodes_[0] is the root
    std::string deletedName_;
    std::map<std::string, EntryTimes> folderTimes_;  // the volume's folders by path
    platform::UnixTime mounted_;
    std::uint64_t files_ = 0, deletedFiles_ = 0;
    std::mutex readLock_;
};

}  // namespace corvello
