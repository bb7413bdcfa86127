#include "platform/RawFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvello::platform {

RawFile::~RawFile() { close(); }

RawFile::RawFile(RawFile&& other) noexcept : fd_(other.fd_), error_(other.error_) { other.fd_ = -1; }

RawFile& RawFile::operator=(RawFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        error_ = other.error_;
        other.fd_ = -1;
    }
    return *this;
}

bool RawFile::open(const std::string& path) {
    close();
    // A source is never opened for writing. O_NONBLOCK keeps a FIFO or a terminal from holding
    // the open; only regular files and block devices are read.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error_ = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = errno;
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        ::close(fd);
        error_ = S_ISDIR(st.st_mode) ? EISDIR : kNotFileOrDevice;
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    fd_ = fd;
    error_ = 0;
    return true;
}

void RawFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::size_t RawFile::readAt(void* buffer, std::size_t count, std::int64_t offset) {
    if (fd_ < 0) {
        error_ = EBADF;
        return 0;
    }
    if (offset < 0) {
        error_ = EINVAL;
        return 0;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t got = 0;
    while (got < count) {
        ssize_t n = ::pread(fd_, out + got, count - got, static_cast<off_t>(offset) + static_cast<off_t>(got));
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            break;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

bool RawFile::isBlockDevice() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode);
}

bool RawFile::size(std::uint64_t& bytes) const {
    if (fd_ < 0) return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return false;
    if (S_ISBLK(st.st_mode)) {
        std::uint64_t length = 0;
        if (::ioctl(fd_, BLKGETSIZE64, &length) != 0) return false;
        bytes = length;
        return true;
    }
    bytes = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool regularFileLength(const std::string& path, std::uint64_t& bytes) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    bytes = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::string errorText(int error) {
    if (error == kNotFileOrDevice) return "it is neither a regular file nor a block device";
    if (error == EISDIR) return "it is a folder, not an image file or a device";
    if (error == 0) return "it could not be read";
    return std::strerror(error);
}

}  // namespace corvello::platform
