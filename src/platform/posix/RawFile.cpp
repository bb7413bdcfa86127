#include "platform/RawFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include <fcntl.h>
#include <libbfio.h>
// libewf and libqcow declare their functions that take libbfio handles only when told that libbfio
// is there.
#define HAVE_LIBBFIO 1
#include <libewf.h>
#include <libqcow.h>
#undef HAVE_LIBBFIO
#include <libvhdi.h>
#include <libvmdk.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/QcowImage.h"

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

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path with every link and every "." and ".." resolved; empty when it cannot be resolved.
std::string resolvedPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return {};
    std::string out(resolved);
    std::free(resolved);
    return out;
}

// The folders the further files of an image (its segments, split parts or extents) may lie in
// once links are resolved: the folder of the image as named, and the folder of the file that name
// leads to, so that a folder of links to a set reads as the set.
struct ImageFolders {
    std::string named;
    std::string resolved;

    bool hold(const std::string& file) const {
        for (const std::string* folder : {&named, &resolved}) {
            if (folder->empty()) continue;
            if (*folder == "/") return true;
            if (file.size() > folder->size() && file.compare(0, folder->size(), *folder) == 0 &&
                file[folder->size()] == '/')
                return true;
        }
        return false;
    }
};

ImageFolders imageFoldersOf(const std::string& path) {
    const std::string file = resolvedPath(path);
    return {resolvedPath(folderOf(path)), file.empty() ? std::string() : folderOf(file)};
}

// A further file of an image, open for reading.
struct Part {
    int fd;
    std::uint64_t length;
};

// Opens a further file of an image read-only and checks it as the image itself is checked: it
// is opened without blocking and must be a regular file or a block device; and, links resolved,
// it must lie in one of the image's folders. A FIFO would hold the open (or a read) until
// something writes to it; a link out of the folder would read a file that is no part of the image.
// The error is the system's (ENOENT for a missing file), kPartNotFileOrDevice or kPartOutsideFolder.
bool openPart(const std::string& path, const ImageFolders& folders, Part& part, int& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = errno;
        return false;
    }
    // Nothing but a file or a block device is opened at all: opening some devices acts on them.
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        error = kPartNotFileOrDevice;
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const auto refuse = [&](int code) {
        ::close(fd);
        error = code;
        return false;
    };
    if (::fstat(fd, &st) != 0) return refuse(errno);
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return refuse(kPartNotFileOrDevice);
    // Where it lies: the resolved name must lead to the very file that was opened.
    const std::string file = resolvedPath(path);
    struct stat there {};
    if (file.empty() || ::stat(file.c_str(), &there) != 0 || there.st_dev != st.st_dev || there.st_ino != st.st_ino ||
        !folders.hold(file))
        return refuse(kPartOutsideFolder);
    std::uint64_t length = static_cast<std::uint64_t>(st.st_size);
    if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKGETSIZE64, &length) != 0) return refuse(errno);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    part = {fd, length};
    return true;
}

// A missing further file leaves the image incomplete (the format's own error); a file of the wrong
// kind or out of the folder, or one the system refuses, keeps its own error.
int partError(int error, int broken) { return error == ENOENT || error == ENOTDIR ? broken : error; }

void closeParts(const std::vector<Part>& parts) {
    for (const Part& part : parts) ::close(part.fd);
}

// Opens each of files as a part of the image at path, in order. When one is refused, none stays
// open and error tells why (broken, the format's own error, for a missing file).
bool openParts(const std::string& path, const std::vector<std::string>& files, int broken, std::vector<Part>& parts,
               int& error) {
    const ImageFolders folders = imageFoldersOf(path);
    for (const std::string& file : files) {
        Part part{};
        int refused = 0;
        if (!openPart(file, folders, part, refused)) {
            closeParts(parts);
            parts.clear();
            error = partError(refused, broken);
            return false;
        }
        parts.push_back(part);
    }
    return true;
}

// A libbfio handle on a part opened and checked above, so that the libraries never open a file by
// name on their own. Read-only; the descriptor is closed when the library frees the handle.
struct PartIo {
    Part part;
    std::uint64_t offset = 0;
    bool open = false;
};

PartIo* partIo(intptr_t* io) { return reinterpret_cast<PartIo*>(io); }

int partIoFree(intptr_t** io, libbfio_error_t**) {
    if (io == nullptr) return -1;
    if (PartIo* part = partIo(*io)) {
        ::close(part->part.fd);
        delete part;
    }
    *io = nullptr;
    return 1;
}

int partIoClone(intptr_t** to, intptr_t* from, libbfio_error_t**) {
    if (to == nullptr) return -1;
    *to = nullptr;
    if (from == nullptr) return 1;
    const int fd = ::fcntl(partIo(from)->part.fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return -1;
    auto* copy = new (std::nothrow) PartIo{{fd, partIo(from)->part.length}};
    if (copy == nullptr) {
        ::close(fd);
        return -1;
    }
    *to = reinterpret_cast<intptr_t*>(copy);
    return 1;
}

int partIoOpen(intptr_t* io, int flags, libbfio_error_t**) {
    if (io == nullptr || (flags & LIBBFIO_ACCESS_FLAG_WRITE) != 0) return -1;
    partIo(io)->open = true;
    partIo(io)->offset = 0;
    return 1;
}

int partIoClose(intptr_t* io, libbfio_error_t**) {
    if (io == nullptr) return -1;
    partIo(io)->open = false;
    return 0;
}

ssize_t partIoRead(intptr_t* io, std::uint8_t* buffer, std::size_t size, libbfio_error_t**) {
    PartIo* part = partIo(io);
    if (part == nullptr || buffer == nullptr || !part->open) return -1;
    if (part->offset >= part->part.length) return 0;
    size = static_cast<std::size_t>(
        std::min<std::uint64_t>({size, part->part.length - part->offset, static_cast<std::uint64_t>(SSIZE_MAX)}));
    int error = 0;
    const std::size_t got = preadAll(part->part.fd, buffer, size, part->offset, error);
    if (got == 0 && error != 0) return -1;
    part->offset += got;
    return static_cast<ssize_t>(got);
}

ssize_t partIoWrite(intptr_t*, const std::uint8_t*, std::size_t, libbfio_error_t**) { return -1; }

off64_t partIoSeek(intptr_t* io, off64_t offset, int whence, libbfio_error_t**) {
    PartIo* part = partIo(io);
    if (part == nullptr) return -1;
    const auto clamp = [](std::uint64_t v) { return static_cast<off64_t>(std::min<std::uint64_t>(v, INT64_MAX)); };
    off64_t base = 0;
    if (whence == SEEK_CUR)
        base = clamp(part->offset);
    else if (whence == SEEK_END)
        base = clamp(part->part.length);
    else if (whence != SEEK_SET)
        return -1;
    off64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) return -1;
    part->offset = static_cast<std::uint64_t>(target);
    return target;
}

int partIoExists(intptr_t* io, libbfio_error_t**) { return io != nullptr ? 1 : -1; }

int partIoIsOpen(intptr_t* io, libbfio_error_t**) {
    if (io == nullptr) return -1;
    return partIo(io)->open ? 1 : 0;
}

int partIoSize(intptr_t* io, size64_t* size, libbfio_error_t**) {
    if (io == nullptr || size == nullptr) return -1;
    *size = partIo(io)->part.length;
    return 1;
}

// A libbfio handle on one part, which takes over its descriptor (closed here when no handle can be
// made).
libbfio_handle_t* partHandle(const Part& part) {
    auto* io = new (std::nothrow) PartIo{part};
    if (io == nullptr) {
        ::close(part.fd);
        return nullptr;
    }
    libbfio_handle_t* handle = nullptr;
    if (libbfio_handle_initialize(&handle, reinterpret_cast<intptr_t*>(io), partIoFree, partIoClone, partIoOpen,
                                  partIoClose, partIoRead, partIoWrite, partIoSeek, partIoExists, partIoIsOpen,
                                  partIoSize, LIBBFIO_FLAG_IO_HANDLE_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION,
                                  nullptr) != 1) {
        ::close(part.fd);
        delete io;
        return nullptr;
    }
    return handle;
}

// A pool of handles on the parts, in order, which takes over their descriptors (closed here when
// no pool can be made). The pool sets no limit on open handles: every part is open already, and a
// limited pool must reorder its list of handles last used, which fails as soon as two handles take
// turns with the libyal libraries as they are linked here.
libbfio_pool_t* partPool(const std::vector<Part>& parts) {
    libbfio_pool_t* pool = nullptr;
    std::size_t given = 0;  // parts whose descriptor the pool (or a freed handle) has taken over
    if (libbfio_pool_initialize(&pool, 0, LIBBFIO_POOL_UNLIMITED_NUMBER_OF_OPEN_HANDLES, nullptr) == 1) {
        for (; given < parts.size(); ++given) {
            libbfio_handle_t* handle = partHandle(parts[given]);
            if (handle == nullptr) {
                ++given;  // its descriptor is closed
                break;
            }
            int entry = 0;
            if (libbfio_pool_append_handle(pool, &entry, handle, LIBBFIO_OPEN_READ, nullptr) != 1) {
                libbfio_handle_free(&handle, nullptr);
                ++given;
                break;
            }
        }
    }
    if (pool != nullptr && given == parts.size()) return pool;
    closeParts(std::vector<Part>(parts.begin() + static_cast<std::ptrdiff_t>(given), parts.end()));
    if (pool != nullptr) libbfio_pool_free(&pool, nullptr);
    return nullptr;
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
// when the segments do not fit together or one of them is refused.
std::unique_ptr<RawFile::Source> openSplit(const std::string& path, int& error) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.size() - dot - 1 < 3) return nullptr;
    const std::string digits = path.substr(dot + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return nullptr;
    // The number 1, with as many leading zeros as the name has (a number of any length).
    if (digits.find_first_not_of('0') != digits.size() - 1 || digits.back() != '1') return nullptr;
    const std::size_t width = digits.size();
    auto name = [&](std::uint64_t n) {
        std::string number = std::to_string(n);
        if (number.size() < width) number.insert(0, width - number.size(), '0');
        return path.substr(0, dot + 1) + number;
    };
    // Whatever lies under the next number (a file, a link, a FIFO) is the next segment, checked
    // as the image itself is: the set ends only where no name is left.
    struct stat st {};
    if (::lstat(name(2).c_str(), &st) != 0) return nullptr;

    std::vector<SplitSource::Segment> segments;
    auto fail = [&](int code) -> std::unique_ptr<RawFile::Source> {
        for (const auto& s : segments) ::close(s.fd);
        error = code;
        return nullptr;
    };
    const ImageFolders folders = imageFoldersOf(path);
    std::uint64_t start = 0;
    for (std::uint64_t n = 1;; ++n) {
        const std::string segment = name(n);
        if (n > 2 && ::lstat(segment.c_str(), &st) != 0) break;
        Part part{};
        int refused = 0;
        if (!openPart(segment, folders, part, refused)) return fail(partError(refused, kBrokenSegments));
        segments.push_back({part.fd, start, part.length});
        start += part.length;
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
    EwfSource(libewf_handle_t* handle, libbfio_pool_t* segments, std::uint64_t size)
        : handle_(handle), segments_(segments), size_(size) {}
    ~EwfSource() override {
        libewf_handle_close(handle_, nullptr);
        libewf_handle_free(&handle_, nullptr);
        libbfio_pool_free(&segments_, nullptr);
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
    libbfio_pool_t* segments_;
    std::uint64_t size_;
    std::mutex mutex_;
};

// The segments are found by name (NAME.E01, NAME.E02, ...) and each is opened and checked here;
// the library reads them through the handles it is given.
std::unique_ptr<RawFile::Source> openEnCase(const std::string& path, int& error) {
    error = kBrokenEnCase;
    char** names = nullptr;
    int count = 0;
    if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, nullptr) != 1) return nullptr;
    std::vector<std::string> files;
    for (int i = 0; i < count && names[i] != nullptr; ++i) files.emplace_back(names[i]);
    libewf_glob_free(names, count, nullptr);
    std::vector<Part> parts;
    if (files.empty() || files.size() != static_cast<std::size_t>(count) ||
        !openParts(path, files, kBrokenEnCase, parts, error))
        return nullptr;
    libbfio_pool_t* pool = partPool(parts);
    if (pool == nullptr) return nullptr;
    libewf_handle_t* handle = nullptr;
    if (libewf_handle_initialize(&handle, nullptr) == 1) {
        size64_t size = 0;
        // A segment that is missing or cut short leaves the set "corrupted": refused whole, so no
        // part of the medium is silently read as zeros.
        if (libewf_handle_open_file_io_pool(handle, pool, LIBEWF_OPEN_READ, nullptr) == 1 &&
            libewf_handle_segment_files_corrupted(handle, nullptr) == 0 &&
            libewf_handle_get_media_size(handle, &size, nullptr) == 1) {
            error = 0;
            return std::make_unique<EwfSource>(handle, pool, size);
        }
        libewf_handle_close(handle, nullptr);
        libewf_handle_free(&handle, nullptr);
    }
    libbfio_pool_free(&pool, nullptr);
    return nullptr;
}

// A disk image of a virtual-machine format read through its libyal library, opened for reading
// only. The libraries' handles are not made for concurrent reads: one read at a time. A read that
// fails (a block or grain beyond the end of a cut file, a table that points nowhere) is retried
// sector by sector so the sound part before the first unreadable sector is delivered; nothing
// unreadable is passed off as zeros.
class ContainerSource : public RawFile::Source {
public:
    ContainerSource(std::uint64_t size, int brokenError) : size_(size), brokenError_(brokenError) {}
    std::size_t readAt(void* buffer, std::size_t count, std::uint64_t offset, int& error) override {
        if (offset >= size_) return 0;
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
        auto* out = static_cast<unsigned char*>(buffer);
        const std::lock_guard<std::mutex> lock(mutex_);
        const long long n = readContainer(out, count, offset);
        if (n >= 0 && static_cast<std::size_t>(n) == count) return count;
        std::size_t got = n > 0 ? static_cast<std::size_t>(n) : 0;
        constexpr std::uint64_t kSector = 512;
        while (got < count) {
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(kSector - (offset + got) % kSector, count - got));
            const long long m = readContainer(out + got, want, offset + got);
            if (m <= 0) break;
            got += static_cast<std::size_t>(m);
            if (static_cast<std::size_t>(m) < want) break;
        }
        if (got < count) error = brokenError_;
        return got;
    }
    std::uint64_t size() const override { return size_; }

protected:
    // One read of the library at offset; the bytes delivered or -1.
    virtual long long readContainer(unsigned char* out, std::size_t count, std::uint64_t offset) = 0;

private:
    std::uint64_t size_;
    int brokenError_;
    std::mutex mutex_;
};

class VmdkSource : public ContainerSource {
public:
    VmdkSource(libvmdk_handle_t* handle, libbfio_pool_t* extents, std::uint64_t size)
        : ContainerSource(size, kBrokenVmdk), handle_(handle), extents_(extents) {}
    ~VmdkSource() override {
        libvmdk_handle_close(handle_, nullptr);
        libvmdk_handle_free(&handle_, nullptr);
        libbfio_pool_free(&extents_, nullptr);
    }

protected:
    long long readContainer(unsigned char* out, std::size_t count, std::uint64_t offset) override {
        libvmdk_error_t* failure = nullptr;
        const ssize_t n = libvmdk_handle_read_buffer_at_offset(handle_, out, count, static_cast<off64_t>(offset), &failure);
        if (failure != nullptr) libvmdk_error_free(&failure);
        return n;
    }

private:
    libvmdk_handle_t* handle_;
    libbfio_pool_t* extents_;
};

class VhdiSource : public ContainerSource {
public:
    VhdiSource(libvhdi_file_t* file, std::uint64_t size) : ContainerSource(size, kBrokenVhd), file_(file) {}
    ~VhdiSource() override {
        libvhdi_file_close(file_, nullptr);
        libvhdi_file_free(&file_, nullptr);
    }

protected:
    long long readContainer(unsigned char* out, std::size_t count, std::uint64_t offset) override {
        libvhdi_error_t* failure = nullptr;
        const ssize_t n = libvhdi_file_read_buffer_at_offset(file_, out, count, static_cast<off64_t>(offset), &failure);
        if (failure != nullptr) libvhdi_error_free(&failure);
        return n;
    }

private:
    libvhdi_file_t* file_;
};

// A qcow2 image's disk, read cluster by cluster from its own descriptor.
class QcowSource : public ContainerSource {
public:
    QcowSource(int fd, std::uint64_t length, const qcow::Header& header)
        : ContainerSource(header.diskSize, kBrokenQcow), fd_(fd), disk_(fd, length, header) {}
    ~QcowSource() override { ::close(fd_); }

protected:
    long long readContainer(unsigned char* out, std::size_t count, std::uint64_t offset) override {
        return static_cast<long long>(disk_.read(out, count, offset));
    }

private:
    int fd_;
    qcow::Disk disk_;
};

// The files holding a VMDK image's extents, in the descriptor's order. A sparse file that carries
// its own descriptor is its only extent, whatever it is called now; the extents of a separate
// descriptor are the files of their base names in the descriptor's folder, so a descriptor never
// reaches outside it (each is then checked as every further file of an image is). False when the
// descriptor names no usable file.
bool vmdkExtentFiles(libvmdk_handle_t* handle, const std::string& path, bool embedded, std::vector<std::string>& files) {
    int extents = 0;
    if (libvmdk_handle_get_number_of_extents(handle, &extents, nullptr) != 1 || extents <= 0) return false;
    if (embedded) {
        if (extents != 1) return false;
        files.push_back(path);
        return true;
    }
    const std::string folder = folderOf(path);
    for (int i = 0; i < extents; ++i) {
        libvmdk_extent_descriptor_t* extent = nullptr;
        if (libvmdk_handle_get_extent_descriptor(handle, i, &extent, nullptr) != 1) return false;
        std::size_t nameSize = 0;
        std::string name;
        bool ok = libvmdk_extent_descriptor_get_utf8_filename_size(extent, &nameSize, nullptr) == 1 && nameSize > 1 &&
                  nameSize < 4096;
        if (ok) {
            name.resize(nameSize);
            ok = libvmdk_extent_descriptor_get_utf8_filename(extent, reinterpret_cast<std::uint8_t*>(name.data()),
                                                             nameSize, nullptr) == 1;
            name.resize(std::strlen(name.c_str()));
        }
        libvmdk_extent_descriptor_free(&extent, nullptr);
        const std::size_t slash = name.find_last_of("/\\");
        if (slash != std::string::npos) name.erase(0, slash + 1);
        if (!ok || name.empty() || name == "." || name == "..") return false;
        files.push_back(folder + "/" + name);
    }
    return true;
}

std::unique_ptr<RawFile::Source> openVmdk(const std::string& path, bool embedded, int& error) {
    error = kBrokenVmdk;
    libvmdk_handle_t* handle = nullptr;
    if (libvmdk_handle_initialize(&handle, nullptr) != 1) return nullptr;
    std::uint32_t parent = 0xFFFFFFFFu;
    size64_t size = 0;
    std::vector<std::string> files;
    libbfio_pool_t* pool = nullptr;
    const bool opened = libvmdk_handle_open(handle, path.c_str(), LIBVMDK_OPEN_READ, nullptr) == 1;
    bool ok = opened;
    // A snapshot (child) image holds only what changed since its parent: read alone, the rest
    // would come back as zeros.
    if (ok && libvmdk_handle_get_parent_content_identifier(handle, &parent, nullptr) == 1 && parent != 0xFFFFFFFFu) {
        error = kDifferencingImage;
        ok = false;
    }
    std::vector<Part> parts;
    ok = ok && vmdkExtentFiles(handle, path, embedded, files) && openParts(path, files, kBrokenVmdk, parts, error) &&
         (pool = partPool(parts)) != nullptr &&
         libvmdk_handle_open_extent_data_files_file_io_pool(handle, pool, nullptr) == 1 &&
         libvmdk_handle_get_media_size(handle, &size, nullptr) == 1;
    if (ok) {
        error = 0;
        return std::make_unique<VmdkSource>(handle, pool, size);
    }
    if (opened) libvmdk_handle_close(handle, nullptr);
    libvmdk_handle_free(&handle, nullptr);
    if (pool != nullptr) libbfio_pool_free(&pool, nullptr);
    return nullptr;
}

std::unique_ptr<RawFile::Source> openVhd(const std::string& path, int& error) {
    error = kBrokenVhd;
    libvhdi_file_t* file = nullptr;
    if (libvhdi_file_initialize(&file, nullptr) != 1) return nullptr;
    std::uint32_t diskType = 0;
    size64_t size = 0;
    const bool opened = libvhdi_file_open(file, path.c_str(), LIBVHDI_OPEN_READ, nullptr) == 1;
    bool ok = opened && libvhdi_file_get_disk_type(file, &diskType, nullptr) == 1 &&
              libvhdi_file_get_media_size(file, &size, nullptr) == 1;
    if (ok && diskType == LIBVHDI_DISK_TYPE_DIFFERENTIAL) {
        error = kDifferencingImage;
        ok = false;
    }
    if (ok) {
        error = 0;
        return std::make_unique<VhdiSource>(file, size);
    }
    if (opened) libvhdi_file_close(file, nullptr);
    libvhdi_file_free(&file, nullptr);
    return nullptr;
}

// Whether libqcow opens the image (through a duplicate of the descriptor it was opened by) as one
// of the size the header gives and without a backing file. The library checks the image's
// structures; the disk is read here, since the library's reads can run past a cluster the file ends
// inside, deliver a compressed cluster that inflates short with whatever its buffer held, and read
// a cluster marked as zeros from the data it no longer uses.
bool qcowOpensAs(int fd, std::uint64_t length, const qcow::Header& header) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return false;
    libbfio_handle_t* io = partHandle({copy, length});
    if (io == nullptr) return false;
    libqcow_file_t* file = nullptr;
    bool ok = false;
    if (libqcow_file_initialize(&file, nullptr) == 1) {
        if (libqcow_file_open_file_io_handle(file, io, LIBQCOW_OPEN_READ, nullptr) == 1) {
            size64_t size = 0;
            std::size_t backing = 0;
            ok = libqcow_file_get_media_size(file, &size, nullptr) == 1 && size == header.diskSize &&
                 libqcow_file_get_utf8_backing_filename_size(file, &backing, nullptr) == 0;
            libqcow_file_close(file, nullptr);
        }
        libqcow_file_free(&file, nullptr);
    }
    libbfio_handle_free(&io, nullptr);
    return ok;
}

// A QEMU qcow2 image (versions 2 and 3), read from the file already opened and checked: nothing is
// opened by name. An image with a backing file holds only what changed since that file and is
// refused, never followed; an encrypted one is refused too, since without its key its clusters
// read as noise.
std::unique_ptr<RawFile::Source> openQcow(int fd, std::uint64_t length, int& error) {
    error = kBrokenQcow;
    unsigned char bytes[qcow::kHeaderBytes] = {};
    int readError = 0;
    const std::size_t got = preadAll(fd, bytes, sizeof bytes, 0, readError);
    qcow::Header header;
    if (qcow::readHeader(bytes, got, header) != qcow::HeaderCheck::Sound) return nullptr;
    if (header.encryption != 0) {
        // A method of no known kind is a damaged header, not an encryption to name.
        if (header.encryption == LIBQCOW_ENCRYPTION_METHOD_AES_128_CBC ||
            header.encryption == LIBQCOW_ENCRYPTION_METHOD_LUKS)
            error = kEncryptedImage;
        return nullptr;
    }
    if (header.backingFileOffset != 0) {
        error = kDifferencingImage;
        return nullptr;
    }
    if (!qcowOpensAs(fd, length, header)) return nullptr;
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return nullptr;
    error = 0;
    return std::make_unique<QcowSource>(copy, length, header);
}

enum class Container { None, EnCase, Vmdk, VmdkDescriptor, Vhd, Qcow };

// The container format of an image file, told by its content: the signature at its start (or,
// for a fixed VHD, the footer in its last sector), never by its name.
Container containerOf(int fd, std::uint64_t length) {
    static const unsigned char kEnCase[8] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
    static const char kDescriptor[] = "# Disk DescriptorFile";
    unsigned char head[32] = {};
    int error = 0;
    const std::size_t got = preadAll(fd, head, sizeof head, 0, error);
    auto starts = [&](const void* signature, std::size_t bytes) {
        return got >= bytes && std::memcmp(head, signature, bytes) == 0;
    };
    if (starts(kEnCase, sizeof kEnCase)) return Container::EnCase;
    if (starts("KDMV", 4) || starts("COWD", 4)) return Container::Vmdk;
    if (starts(kDescriptor, sizeof kDescriptor - 1)) return Container::VmdkDescriptor;
    if (starts("vhdxfile", 8) || starts("conectix", 8)) return Container::Vhd;
    if (starts("QFI\xfb", 4)) return Container::Qcow;
    // A fixed VHD is the raw disk followed by a 512-byte footer (511 in some early writers).
    for (const std::uint64_t footer : {512u, 511u}) {
        unsigned char tail[8] = {};
        if (length >= footer + 512 && preadAll(fd, tail, sizeof tail, length - footer, error) == sizeof tail &&
            std::memcmp(tail, "conectix", 8) == 0)
            return Container::Vhd;
    }
    return Container::None;
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
        // Container formats are told by their content, split raw images by their numbering.
        int error = 0;
        std::unique_ptr<Source> source;
        switch (containerOf(fd, static_cast<std::uint64_t>(st.st_size))) {
        case Container::EnCase: source = openEnCase(path, error); break;
        case Container::Vmdk: source = openVmdk(path, true, error); break;
        case Container::VmdkDescriptor: source = openVmdk(path, false, error); break;
        case Container::Vhd: source = openVhd(path, error); break;
        case Container::Qcow: source = openQcow(fd, static_cast<std::uint64_t>(st.st_size), error); break;
        case Container::None: source = openSplit(path, error); break;
        }
        if (source != nullptr || error != 0) {
            ::close(fd);
            source_ = std::move(source);
            error_ = source_ != nullptr ? 0 : error;
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
    if (error == kBrokenVmdk) return "it is a VMDK image whose header, descriptor or extent files are missing or damaged";
    if (error == kBrokenVhd) return "it is a VHD or VHDX image whose header or block table is damaged or cut short";
    if (error == kBrokenQcow)
        return "it is a QEMU qcow2 image whose header or cluster tables are damaged or cut short, or of a version "
               "or with a feature this program cannot read";
    if (error == kEncryptedImage)
        return "it is an encrypted QEMU qcow2 image (AES or LUKS), whose disk cannot be read without its key";
    if (error == kDifferencingImage)
        return "it is a differencing (snapshot) image, which holds only the changes to its parent image and cannot be "
               "read alone";
    if (error == kPartNotFileOrDevice)
        return "one of its segment or extent files is neither a regular file nor a block device, so it is not read";
    if (error == kPartOutsideFolder)
        return "one of its segment or extent files is a link that leads out of the image's folder, so it is not read";
    if (error == EISDIR) return "it is a folder, not an image file or a device";
    if (error == 0) return "it could not be read";
    return std::strerror(error);
}

}  // namespace corvello::platform
