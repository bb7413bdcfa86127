#pragma once
// Read-only access to an image file or a block device. The rest of the program never calls
// the operating system directly; everything that touches a medium goes through here.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace corvello::platform {

// The error code of a path that is neither a regular file nor a block device (a FIFO, a
// socket, a character device): such a path is never opened as a source.
constexpr int kNotFileOrDevice = -1000;
// The error codes of an image made of several files (split raw segments, an EnCase image)
// whose segments do not fit together or cannot be read.
constexpr int kBrokenSegments = -1001;
constexpr int kBrokenEnCase = -1002;
// A VMDK, VHD or VHDX image that cannot be opened or read (a damaged header or table, a missing
// extent file, a file cut short), and a differencing image that needs its parent (a VMDK snapshot,
// a differencing VHD, a qcow2 image with a backing file).
constexpr int kBrokenVmdk = -1003;
constexpr int kBrokenVhd = -1004;
constexpr int kDifferencingImage = -1005;
// The error codes of an image whose further files (a segment, a split part, an extent) are not
// what they must be: each is a regular file or a block device and, with links resolved, lies in
// the folder of the image as named or in the folder of the file that name leads to. A FIFO
// would hold the open; a link out of the folder would read a file that is no part of the image.
constexpr int kPartNotFileOrDevice = -1006;
constexpr int kPartOutsideFolder = -1007;
// A QEMU qcow2 image that cannot be opened or read (a damaged header or table, a file cut short,
// a version or feature not read here), and an encrypted one, which cannot be read without its key.
constexpr int kBrokenQcow = -1008;
constexpr int kEncryptedImage = -1009;

// An open, read-only handle. Movable, not copyable; closes itself.
// Besides a single image file or a device it reads, as one medium, a raw image split into
// numbered segments (NAME.001, NAME.002, ... when NAME.001 is opened and NAME.002 exists) and
// an EnCase image (recognised by its signature; its further segments are found by name), and the
// virtual-machine disk formats VMDK (one sparse file, or a descriptor with its extent files), VHD
// (fixed or dynamic), VHDX and QEMU qcow2, recognised by their content. All are opened for reading
// only.
class RawFile {
public:
    RawFile();
    ~RawFile();
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;
    RawFile(RawFile&& other) noexcept;
    RawFile& operator=(RawFile&& other) noexcept;

    // Opens path read-only. On failure returns false and keeps the error code.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0 || source_ != nullptr; }

    // Reads up to count bytes at the absolute byte position offset. Returns the number of
    // bytes delivered (fewer at the end of the medium or after an error; 0 when nothing came).
    std::size_t readAt(void* buffer, std::size_t count, std::int64_t offset);

    // Size in bytes: BLKGETSIZE64 on a block device, the file length otherwise.
    bool size(std::uint64_t& bytes) const;
    bool isBlockDevice() const;

    int lastError() const { return error_; }

    struct Source;  // a medium read from several files or through a container format

private:
    int fd_ = -1;
    int error_ = 0;
    std::unique_ptr<Source> source_;
};

// Length of an ordinary file at path, as the file system reports it (no device query).
bool regularFileLength(const std::string& path, std::uint64_t& bytes);

std::string errorText(int error);

}  // namespace corvello::platform
