#pragma once
// The name search: walks every file record below the results tree's root (folders the user
// never opened included) and reports the files whose names a matcher accepts, with their path
// in the tree ("ROOT\folder\name").

#include <cstdint>
#include <functional>
#include <string>

#include "common/ResultTree.h"

namespace corvello {

class ScanHost;
class ScanSession;

struct FoundFile {
    ItemData data = 0;
    std::u16string path;  // the root item's text, a backslash, the folders, each with a backslash, the name
};

// Calls found for every matching file, in tree order. Polls host's stop flag and pause gate;
// reports the files examined as the progress position (the range is the number of files).
// Returns the number of files found.
std::uint64_t searchNames(const ScanSession& session, const ResultTree& tree,
                          const std::function<bool(const std::u16string& name)>& matches, ScanHost& host,
                          const std::function<void(const FoundFile&)>& found);

}  // namespace corvello
