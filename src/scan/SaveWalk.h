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
class RecordTable;

// The records shown at the top of the tree, below the root item ("ROOT").
std::vector<ItemData> topLevelRecords(const ScanSession& session, const ResultTree& tree);

// Which files a walk takes: called with the file record and the folder record it was found in
// (0 at the top). An empty filter takes every file.
using FileFilter = std::function<bool(ItemData file, ItemData folder)>;

// The filter that takes live files and the deleted files whose data are intact.
FileFilter intactFilesOnly(const ScanSession& session);

// Number of files below a folder (its child folders counted recursively).
std::uint64_t countFiles(const ScanSession& session, const std::vector<ItemData>& children,
                         const FileFilter& filter = {});

// A file the save could not give back whole: written with gaps (its unread bytes as zeros, or
// cut short), or not written at all (then error says why).
struct SaveProblem {
    std::string path;            // where it was (or would have been) written
    std::uint64_t missingBytes;  // bytes that did not come from the medium
    std::string error;           // empty for a file that was written but is incomplete
};

struct SaveResult {
    std::uint64_t files = 0;    // files counted by the walk
    std::uint64_t written = 0;  // files written, whole or incomplete
    std::uint64_t failed = 0;   // files that could not be written at all
    std::uint64_t bytes = 0;    // bytes written in all
    std::uint64_t mediumBytes = 0;  // of them, bytes that were read from the medium
    bool stopped = false;       // the walk was stopped before its end
    bool beyondVolume = false;  // the files together hold more bytes of the medium than the volume
    std::string error;          // the output folder itself could not be made (nothing written)
    std::string outputFull;     // the output filled up: the file that could not be completed
                                // (removed); the save stopped there
    std::string interrupted;    // stopped in the middle of a file: that file (removed, since
                                // cut it would pass for whole); the save ended there
    std::vector<SaveProblem> problems;

    std::uint64_t incomplete() const {
        std::uint64_t n = 0;
        for (const auto& p : problems) n += p.error.empty() ? 1 : 0;
        return n;
    }
};

// Saves the given child records (and everything below the folders among them) into directory
// dir (UTF-8, created if missing). Names are made safe; files are created new (an existing name
// gets " (2)", " (3)" ...), folders are entered without following links, and nothing is
// written outside dir.
// With a filter, only the files it takes are written, and folders with none of them below are
// left out.
SaveResult saveRecords(ScanSession& session, const std::vector<ItemData>& children, const std::string& dir,
                       ScanHost& host, const FileFilter& filter = {});

struct ListedEntry {
    ItemData data = 0;
    bool folder = false;
    bool deleted = false;
    std::uint64_t size = 0;
    std::string path;  // '/'-separated from the tree root, names made safe as when saved
    const RecordTable* table = nullptr;  // the table walked, and the entry's row of it
    std::uint32_t row = 0;
};

// Walks the records as the save walk does, calling visit for each entry (parents first).
void walkEntries(const ScanSession& session, const std::vector<ItemData>& children, ItemData parent,
                 const std::function<void(const ListedEntry&)>& visit);
// The same walk over a table already filled.
void walkEntries(const RecordTable& table, const std::function<void(const ListedEntry&)>& visit);

// The name a record whose save name is saveName is saved under: trimmed and made safe as a
// path component.
std::string savedName(const std::u16string& saveName);

// The folder names of a path written with '/', empty parts left out ("a//b/" is a, b).
std::vector<std::string> pathComponents(const std::string& path);

// The child records of the folder at a '/'-separated path below the root; false when there is
// no such folder.
bool recordsAtPath(const ScanSession& session, const ResultTree& tree, const std::string& path,
                   std::vector<ItemData>& children);

}  // namespace corvello
