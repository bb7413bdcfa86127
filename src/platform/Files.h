#pragma once
// Output side: the only place where recovered data is written. Paths are UTF-8.

#include <cstdint>
#include <string>

namespace corvello::platform {

// Creates one directory; an existing directory counts as success.
bool makeDirectory(const std::string& path);
// Creates a directory and its missing parents.
bool makeDirectories(const std::string& path);
bool isDirectory(const std::string& path);
// The user's temporary folder (TMPDIR or /tmp), without a trailing separator.
std::string tempDirectory();
bool removeFile(const std::string& path);

// A file opened for writing recovered bytes (created or truncated).
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool create(const std::string& path);
    bool write(const void* data, std::size_t count);
    // Sets the length (for a sparse tail) without writing the zeros.
    bool truncate(std::uint64_t length);
    bool close();
    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace corvello::platform
