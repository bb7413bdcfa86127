#pragma once
// The save walk: which records count as folders and files below a folder, where each is
// written, and the listing of the whole tree in the same order.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/ResultTree.h"

namespace corvello {

class ScanHost;
class ScanSession;

// The records shown at the top of the tree, below the root item ("ROOT").
std::vector<ItemData> topLevelRecords(const ScanSession& session, const ResultTree& tree);

// Number of files below a folder (its child folders counted recursively).
std::uint64_t countFiles(const ScanSession& session, const std::vector<ItemData>& children);

struct SaveResult {
    std::uint64_t files = 0;    // files counted by the walk
    std::uint64_t written = 0;  // files extraction wrote
    std::uint64_t failed = 0;   // files extraction could not write
};

// Saves the given child records (and everything below the folders among them) into directory
// dir (UTF-8, created if missing). Names are made safe; nothing is written outside dir.
SaveResult saveRecords(ScanSession& session, const std::vector<ItemData>& children, const std::string& dir,
                       ScanHost& host);

struct ListedEntry {
    ItemData data = 0;
    bool folder = false;
    bool deleted = false;
    std::uint64_t size = 0;
    std::string path;  // '/'-separated from the tree root, names made safe as when saved
};

// Walks the records as the save walk does, calling visit for each entry (parents first).
void walkEntries(const ScanSession& session, const std::vector<ItemData>& children, ItemData parent,
                 const std::function<void(const ListedEntry&)>& visit);

// The child records of the folder at a '/'-separated path below the root; false when there is
// no such folder.
bool recordsAtPath(const ScanSession& session, const ResultTree& tree, const std::string& path,
                   std::vector<ItemData>& children);

}  // namespace corvello
