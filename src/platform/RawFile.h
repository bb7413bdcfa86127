#pragma once
// Read-only access to an image file or a block device. The rest of the program never calls
// the operating system directly; everything that touches a medium goes through here.

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvello::platform {

// The error code of a path that is neither a regular file nor a block device (a FIFO, a
// socket, a character device): such a path is never opened as a source.
constexpr int kNotFileOrDevice = -1000;

// An open, read-only handle. Movable, not copyable; closes itself.
class RawFile {
public:
    RawFile() = default;
    ~RawFile();
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;
    RawFile(RawFile&& other) noexcept;
    RawFile& operator=(RawFile&& other) noexcept;

    // Opens path read-only. On failure returns false and keeps the error code.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Reads up to count bytes at the absolute byte position offset. Returns the number of
    // bytes delivered (fewer at the end of the medium or after an error; 0 when nothing came).
    std::size_t readAt(void* buffer, std::size_t count, std::int64_t offset);

    // Size in bytes: BLKGETSIZE64 on a block device, the file length otherwise.
    bool size(std::uint64_t& bytes) const;
    bool isBlockDevice() const;

    int lastError() const { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

// Length of an ordinary file at path, as the file system reports it (no device query).
bool regularFileLength(const std::string& path, std::uint64_t& bytes);

std::string errorText(int error);

}  // namespace corvello::platform
