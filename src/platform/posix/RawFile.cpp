#include "platform/RawFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <libewf.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvello::platform {

struct RawFile::Source {
    virtual ~Source() = default;
    // As RawFile::readAt; error is set when fewer bytes come than asked for inside the medium.
    virtual std::size_t readAt(void* buffer, std::size_t count, std::uint64_t offset, int& error) = 0;
    virtual std::uint64_t size() const = 0;
};

namespace {

std::size_t preadAll(int fd, unsigned char* out, std::size_t count, std::uint64_t offset, int& error) {
    std::size_t got = 0;
    while (got < count) {
        ssize_t n = ::pread(fd, out + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// Opens a regular file read-only; -1 with errno set otherwise.
int openRegular(const std::string& path, std::uint64_t& length) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    length = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

// A raw image cut into numbered files of one size (the last may be shorter), read in order.
class SplitSource : public RawFile::Source {
public:
    struct Segment {
        int fd;
        std::uint64_t start;
        std::uint64_t length;
    };
    explicit SplitSource(std::vector<Segment> segments) : segments_(std::move(segments)) {}
    ~SplitSource() override {
        for (const Segment& s : segments_) ::close(s.fd);
    }
    std::size_t readAt(void* buffer, std::size_t count, std::uint64_t offset, int& error) override {
        auto* out = static_cast<unsigned char*>(buffer);
        std::size_t got = 0;
        for (const Segment& s : segments_) {
            if (got == count) break;
            const std::uint64_t at = offset + got;
            if (at >= s.start + s.length) continue;
            if (at < s.start) break;
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(count - got, s.start + s.length - at));
            const std::size_t n = preadAll(s.fd, out + got, want, at - s.start, error);
            got += n;
            if (n < want) {
                if (error == 0) error = EIO;  // a segment shorter than when it was opened
                break;
            }
        }
        return got;
    }
    std::uint64_t size() const override {
        return segments_.empty() ? 0 : segments_.back().start + segments_.back().length;
    }

private:
    std::vector<Segment> segments_;
};

// NAME.001 with a NAME.002 beside it: the segments NAME.001, NAME.002, ... up to the first
// number that is missing. Null when path is no first segment of such a sequence; error is set
// when the segments do not fit together.
std::unique_ptr<RawFile::Source> openSplit(const std::string& path, int& error) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.size() - dot - 1 < 3) return nullptr;
    const std::string digits = path.substr(dot + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return nullptr;
    if (std::stoull(digits) != 1) return nullptr;
    const std::size_t width = digits.size();
    auto name = [&](std::uint64_t n) {
        std::string number = std::to_string(n);
        if (number.size() < width) number.insert(0, width - number.size(), '0');
        return path.substr(0, dot + 1) + number;
    };
    struct stat st {};
    if (::stat(name(2).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;

    std::vector<SplitSource::Segment> segments;
    auto fail = [&](int code) -> std::unique_ptr<RawFile::Source> {
        for (const auto& s : segments) ::close(s.fd);
        error = code;
        return nullptr;
    };
    std::uint64_t start = 0;
    for (std::uint64_t n = 1;; ++n) {
        const std::string segment = name(n);
        if (n > 2 && (::stat(segment.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) break;
        std::uint64_t length = 0;
        const int fd = openRegular(segment, length);
        if (fd < 0) return fail(errno == EINVAL ? kBrokenSegments : errno);
        segments.push_back({fd, start, length});
        start += length;
    }
    // Every segment but the last has the size of the first.
    for (std::size_t i = 1; i + 1 < segments.size(); ++i)
        if (segments[i].length != segments[0].length) return fail(kBrokenSegments);
    if (segments.back().length > segments[0].length) return fail(kBrokenSegments);
    return std::make_unique<SplitSource>(std::move(segments));
}

// An EnCase image read through libewf, opened for reading only. libewf's handle is not made
// for concurrent reads: one read at a time.
class EwfSource : public RawFile::Source {
public:
    EwfSource(libewf_handle_t* handle, std::uint64_t size) : handle_(handle), size_(size) {}
    ~EwfSource() override {
        libewf_handle_close(handle_, nullptr);
        libewf_handle_free(&handle_, nullptr);
    }
    std::size_t readAt(void* buffer, std::size_t count, std::uint64_t offset, int& error) override {
        if (offset >= size_) return 0;
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
        const std::lock_guard<std::mutex> lock(mutex_);
        libewf_error_t* failure = nullptr;
        const ssize_t n = libewf_handle_read_random(handle_, buffer, count, static_cast<off64_t>(offset), &failure);
        if (failure != nullptr) libewf_error_free(&failure);
        std::size_t got = n < 0 ? 0 : static_cast<std::size_t>(n);
        // A chunk that fails its checksum comes back filled with zeros: those bytes are not the
        // medium's. The read delivers what lies before the first damaged sector.
        const std::uint64_t damaged = firstDamagedByte(offset, offset + got);
        if (damaged < offset + got) got = static_cast<std::size_t>(damaged - offset);
        if (got < count) error = kBrokenEnCase;
        return got;
    }
    std::uint64_t size() const override { return size_; }

private:
    // The first byte in [from, to) of a sector the library found damaged so far; to when none.
    std::uint64_t firstDamagedByte(std::uint64_t from, std::uint64_t to) {
        std::uint32_t errors = 0;
        if (libewf_handle_get_number_of_checksum_errors(handle_, &errors, nullptr) != 1 || errors == 0) return to;
        std::uint32_t sectorBytes = 512;
        libewf_handle_get_bytes_per_sector(handle_, &sectorBytes, nullptr);
        if (sectorBytes == 0) sectorBytes = 512;
        std::uint64_t first = to;
        for (std::uint32_t i = 0; i < errors; ++i) {
            std::uint64_t start = 0, sectors = 0;
            if (libewf_handle_get_checksum_error(handle_, i, &start, &sectors, nullptr) != 1) continue;
            const std::uint64_t begin = start * sectorBytes, end = (start + sectors) * sectorBytes;
            if (end > from && begin < first) first = std::max(begin, from);
        }
        return first;
    }

    libewf_handle_t* handle_;
    std::uint64_t size_;
    std::mutex mutex_;
};

bool isEnCase(int fd) {
    static const unsigned char kSignature[8] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
    unsigned char head[8] = {};
    int error = 0;
    return preadAll(fd, head, sizeof head, 0, error) == sizeof head && std::memcmp(head, kSignature, 8) == 0;
}

std::unique_ptr<RawFile::Source> openEnCase(const std::string& path, int& error) {
    error = kBrokenEnCase;
    char** names = nullptr;
    int count = 0;
    if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, nullptr) != 1) return nullptr;
    libewf_handle_t* handle = nullptr;
    std::unique_ptr<RawFile::Source> source;
    if (libewf_handle_initialize(&handle, nullptr) == 1) {
        size64_t size = 0;
        // A segment that is missing or cut short leaves the set "corrupted": refused whole, so no
        // part of the medium is silently read as zeros.
        if (libewf_handle_open(handle, names, count, LIBEWF_OPEN_READ, nullptr) == 1 &&
            libewf_handle_segment_files_corrupted(handle, nullptr) == 0 &&
            libewf_handle_get_media_size(handle, &size, nullptr) == 1) {
            source = std::make_unique<EwfSource>(handle, size);
            error = 0;
        } else {
            libewf_handle_close(handle, nullptr);
            libewf_handle_free(&handle, nullptr);
        }
    }
    libewf_glob_free(names, count, nullptr);
    return source;
}

}  // namespace

RawFile::RawFile() = default;
RawFile::~RawFile() { close(); }

RawFile::RawFile(RawFile&& other) noexcept
    : fd_(other.fd_), error_(other.error_), source_(std::move(other.source_)) {
    other.fd_ = -1;
}

RawFile& RawFile::operator=(RawFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        error_ = other.error_;
        source_ = std::move(other.source_);
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
    if (S_ISREG(st.st_mode)) {
        // Images of several files are told by their content (EnCase) or their numbering.
        int error = 0;
        std::unique_ptr<Source> source = isEnCase(fd) ? openEnCase(path, error) : openSplit(path, error);
        if (source != nullptr || error != 0) {
            ::close(fd);
            source_ = std::move(source);
            error_ = error;
            return source_ != nullptr;
        }
    }
    fd_ = fd;
    error_ = 0;
    return true;
}

void RawFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    source_.reset();
}

std::size_t RawFile::readAt(void* buffer, std::size_t count, std::int64_t offset) {
    if (source_ != nullptr && offset >= 0) return source_->readAt(buffer, count, static_cast<std::uint64_t>(offset), error_);
    if (fd_ < 0) {
        error_ = EBADF;
        return 0;
    }
    if (offset < 0) {
        error_ = EINVAL;
        return 0;
    }
    return preadAll(fd_, static_cast<unsigned char*>(buffer), count, static_cast<std::uint64_t>(offset), error_);
}

bool RawFile::isBlockDevice() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode);
}

bool RawFile::size(std::uint64_t& bytes) const {
    if (source_ != nullptr) {
        bytes = source_->size();
        return true;
    }
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
    if (error == kBrokenSegments)
        return "its numbered segments do not fit together (one is missing, unreadable or of another size)";
    if (error == kBrokenEnCase) return "it is an EnCase image whose segments are missing or damaged";
    if (error == EISDIR) return "it is a folder, not an image file or a device";
    if (error == 0) return "it could not be read";
    return std::strerror(error);
}

}  // namespace corvello::platform
