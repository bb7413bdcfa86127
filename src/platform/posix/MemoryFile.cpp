#include "platform/MemoryFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace corvello::platform {

MemoryFile::~MemoryFile() { close(); }

void MemoryFile::close() {
    if (fd_ < 0) return;
    // The copy may hold key material: overwrite what was written before the pages go back.
    const std::vector<std::uint8_t> zeros(65536, 0);
    for (std::uint64_t at = 0; at < written_; at += zeros.size()) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), written_ - at));
        if (::pwrite(fd_, zeros.data(), n, static_cast<off_t>(at)) < 0) break;
    }
    ::close(fd_);
    fd_ = -1;
}

bool MemoryFile::create(std::uint64_t length) {
    close();
    error_ = 0;
    written_ = 0;
    if (length > static_cast<std::uint64_t>(INT64_MAX)) {
        error_ = EFBIG;
        return false;
    }
    fd_ = ::memfd_create("corvello-header", MFD_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        return false;
    }
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
        error_ = errno;
        close();
        return false;
    }
    length_ = length;
    return true;
}

bool MemoryFile::write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (fd_ < 0 || offset > length_ || bytes.size() > length_ - offset) {
        error_ = EINVAL;
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ = std::max<std::uint64_t>(written_, offset + bytes.size());
    return true;
}

std::string MemoryFile::path() const { return fd_ < 0 ? std::string() : "/proc/self/fd/" + std::to_string(fd_); }

}  // namespace corvello::platform
