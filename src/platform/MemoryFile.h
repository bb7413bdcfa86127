#pragma once
// A file that lives in memory only (memfd), for a library that insists on opening a path: it
// gets a copy of the bytes it needs, never the medium itself, so nothing it does (a lock, a
// header it "repairs") can reach the source. The file is sparse: what is not written reads as
// zeros and takes no memory. Its pages are wiped before it is closed.

#include <cstdint>
#include <span>
#include <string>

namespace corvello::platform {

class MemoryFile {
public:
    MemoryFile() = default;
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Makes an empty file of the given length (sparse); false with lastError() when it cannot.
    bool create(std::uint64_t length);
    // Writes bytes at offset (inside the length given to create).
    bool write(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // A path under which a library can open the file ("/proc/self/fd/N"); empty before create.
    std::string path() const;
    int lastError() const { return error_; }

private:
    void close();
    int fd_ = -1;
    std::uint64_t length_ = 0;
    std::uint64_t written_ = 0;  // the end of the furthest write, for wiping
    int error_ = 0;
};

}  // namespace corvello::platform
