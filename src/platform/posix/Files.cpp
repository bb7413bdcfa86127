#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace corvello::platform {

bool makeDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && isDirectory(path);
}

bool makeDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (isDirectory(path)) return true;
    for (std::size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        const std::string prefix = path.substr(0, pos);
        if (!prefix.empty() && !isDirectory(prefix) && !makeDirectory(prefix)) return false;
    }
    return makeDirectory(path);
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

OutputFile::~OutputFile() { close(); }

void OutputFile::reset() {
    close();
    sink_ = nullptr;
    buffer_.clear();
    length_ = 0;
    limit_ = UINT64_MAX;
    cut_ = 0;
    stopAtLimit_ = false;
    hasTimes_ = false;
    discard_ = false;
    error_ = 0;
}

bool OutputFile::create(const std::string& path) { return createAt(AT_FDCWD, path); }

bool OutputFile::createAt(int dirFd, const std::string& name) {
    reset();
    fd_ = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    error_ = fd_ < 0 ? errno : 0;
    if (fd_ >= 0) {
        dirFd_ = dirFd == AT_FDCWD ? AT_FDCWD : ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
        name_ = name;
    }
    return fd_ >= 0;
}

bool OutputFile::replace(const std::string& path) {
    reset();
    dirFd_ = AT_FDCWD;
    name_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    error_ = fd_ < 0 ? errno : 0;
    return fd_ >= 0;
}

void OutputFile::openMemory(std::size_t limit) {
    reset();
    memory_ = true;
    limit_ = limit;
}

void OutputFile::openSink(Sink sink) {
    reset();
    sink_ = std::move(sink);
}

bool OutputFile::write(const void* data, std::size_t count) {
    if (!isOpen()) return false;
    // Bytes past the limit are dropped and counted; the writer goes on as if they were written,
    // so its own bookkeeping stays whole.
    const std::uint64_t room = length_ < limit_ ? limit_ - length_ : 0;
    const std::size_t keep = static_cast<std::size_t>(std::min<std::uint64_t>(room, count));
    cut_ += count - keep;
    const bool stop = stopAtLimit_ && keep < count;
    if (memory_) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        buffer_.insert(buffer_.end(), p, p + keep);
        length_ += keep;
        return !stop;
    }
    if (sink_) {
        if (keep > 0 && !sink_(data, keep)) {
            error_ = EIO;
            return false;
        }
        length_ += keep;
        return !stop;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    std::size_t left = keep;
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    length_ += keep;
    return !stop;
}

bool OutputFile::truncate(std::uint64_t length) {
    if (!isOpen()) return false;
    const bool past = length > limit_;
    if (past) {
        cut_ += length - std::max(limit_, length_);
        length = limit_;
    }
    if (memory_) {
        buffer_.resize(static_cast<std::size_t>(length), 0);
        length_ = length;
        return !(stopAtLimit_ && past);
    }
    if (sink_) {
        // A stream cannot be cut back or skipped ahead: the tail is written as zeros.
        if (length < length_) {
            error_ = ESPIPE;
            return false;
        }
        static const std::uint8_t zeros[65536] = {};
        while (length_ < length) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof zeros, length - length_));
            if (!sink_(zeros, n)) {
                error_ = EIO;
                return false;
            }
            length_ += n;
        }
        return true;
    }
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0 || ::lseek(fd_, static_cast<off_t>(length), SEEK_SET) < 0) {
        error_ = errno;
        return false;
    }
    length_ = length;
    return true;
}

void OutputFile::setTimes(UnixTime access, UnixTime modification) {
    hasTimes_ = true;
    access_ = access;
    modification_ = modification;
}

bool OutputFile::close() {
    memory_ = false;
    sink_ = nullptr;
    if (fd_ < 0) return true;
    if (hasTimes_) {
        struct timespec times[2];
        times[0].tv_sec = static_cast<time_t>(access_.seconds);
        times[0].tv_nsec = static_cast<long>(access_.nanoseconds % 1'000'000'000U);
        times[1].tv_sec = static_cast<time_t>(modification_.seconds);
        times[1].tv_nsec = static_cast<long>(modification_.nanoseconds % 1'000'000'000U);
        ::futimens(fd_, times);
    }
    const bool ok = ::close(fd_) == 0;
    if (!ok) error_ = errno;
    fd_ = -1;
    if (discard_ && (dirFd_ >= 0 || dirFd_ == AT_FDCWD)) ::unlinkat(dirFd_, name_.c_str(), 0);
    if (dirFd_ >= 0) ::close(dirFd_);
    dirFd_ = -1;
    return ok;
}

OutputFolder::~OutputFolder() {
    if (fd_ >= 0) ::close(fd_);
}

OutputFolder::OutputFolder(OutputFolder&& other) noexcept : fd_(other.fd_), error_(other.error_) { other.fd_ = -1; }

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        error_ = other.error_;
        other.fd_ = -1;
    }
    return *this;
}

bool OutputFolder::open(const std::string& path) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!makeDirectories(path)) {
        error_ = errno != 0 ? errno : ENOTDIR;
        return false;
    }
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    error_ = fd_ < 0 ? errno : 0;
    return fd_ >= 0;
}

bool OutputFolder::openChild(const std::string& name, OutputFolder& child) const {
    if (fd_ < 0) {
        error_ = EBADF;
        return false;
    }
    if (::mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) {
        error_ = errno;
        return false;
    }
    const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // A link (ELOOP) or a file (ENOTDIR) of that name: the name is taken.
        error_ = (errno == ELOOP || errno == ENOTDIR) ? EEXIST : errno;
        return false;
    }
    child = OutputFolder();
    child.fd_ = fd;
    child.error_ = 0;
    error_ = 0;
    return true;
}

bool isOutputFull(int error) { return error == ENOSPC || error == EDQUOT; }

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

namespace {

// The whole disk a block device number belongs to: itself, or the parent of a partition
// (/sys/dev/block/MAJ:MIN/partition exists for partitions, and ../dev holds the disk's number).
dev_t wholeDisk(dev_t device) {
    const std::string base = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    struct stat st {};
    if (::stat((base + "/partition").c_str(), &st) != 0) return device;
    std::ifstream parent(base + "/../dev");
    unsigned maj = 0, min = 0;
    char colon = 0;
    if (parent >> maj >> colon >> min && colon == ':') return makedev(maj, min);
    return device;
}

}  // namespace

std::string folderOnSourceDevice(const std::string& source, const std::string& folder) {
    struct stat src {}, dir {};
    if (::stat(source.c_str(), &src) != 0 || !S_ISBLK(src.st_mode)) return {};
    // The folder may not exist yet: its nearest existing parent decides.
    std::string probe = folder.empty() ? "." : folder;
    while (::stat(probe.c_str(), &dir) != 0) {
        const auto slash = probe.find_last_of('/');
        if (slash == std::string::npos) {
            probe = ".";
        } else if (slash == 0) {
            probe = "/";
        } else {
            probe.resize(slash);
        }
        if (probe == "." || probe == "/") {
            if (::stat(probe.c_str(), &dir) != 0) return {};
            break;
        }
    }
    if (dir.st_dev == src.st_rdev || wholeDisk(dir.st_dev) == wholeDisk(src.st_rdev)) return source;
    return {};
}

}  // namespace corvello::platform
