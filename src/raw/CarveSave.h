#pragma once
// Writing carved files out: each (offset, size) pair read through the reader and written under
// the output folder, one folder per category, named as the result tree names them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvello::platform {
class OutputFile;
}

namespace corvello {

class VolumeView;
class ScanHost;
class CarvingEngine;
struct CarvedFile;

struct CarveSaveResult {
    std::uint64_t files = 0;       // files asked for
    std::uint64_t written = 0;     // files written whole
    std::uint64_t unreadable = 0;  // files written with unreadable stretches left as zeros
    std::uint64_t failed = 0;      // files that could not be written
    bool stopped = false;
    std::string outputFull;  // the output filled up: the file that could not be completed (removed)
};

// Copies one carved file into out, which it closes.
bool writeCarvedFile(const VolumeView& view, const CarvedFile& file, platform::OutputFile& out, bool& unreadable);

// Copies one carved file to a new file at path (UTF-8); an existing file is never replaced. Unreadable stretches of the medium are written as
// zeros and reported through unreadable. False when the output cannot be written.
bool saveCarvedFile(const VolumeView& view, const CarvedFile& file, const std::string& path, bool& unreadable);

// Saves the engine's carved files with the given positions (all of them when indices is empty)
// into dir/CATEGORY/NAME. Reports progress as files done; stops on the host's stop flag.
CarveSaveResult saveCarvedFiles(const CarvingEngine& engine, const std::vector<std::size_t>& indices, const std::string& dir,
                                ScanHost& host);

}  // namespace corvello
