#pragma once
// Fuzz inputs become an in-memory file that the sector reader opens like any image.

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace corvello::fuzz {

class MemoryImage {
public:
    MemoryImage(const std::uint8_t* data, std::size_t size) {
        fd_ = ::memfd_create("corvello-fuzz", MFD_CLOEXEC);
        if (fd_ >= 0 && size > 0 && ::write(fd_, data, size) != static_cast<ssize_t>(size)) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~MemoryImage() {
        if (fd_ >= 0) ::close(fd_);
    }
    MemoryImage(const MemoryImage&) = delete;
    MemoryImage& operator=(const MemoryImage&) = delete;
    bool ok() const { return fd_ >= 0; }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_ = -1;
};

}  // namespace corvello::fuzz
