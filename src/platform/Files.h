#pragma once
// Output side: the only place where recovered data is written. Paths are UTF-8.
//
// Recovered files are created exclusively and without following links: an existing file is
// never overwritten, and a link planted in the output folder never leads a write outside it.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Time.h"

namespace corvello::platform {

// Creates one directory; an existing directory counts as success.
bool makeDirectory(const std::string& path);
// Creates a directory and its missing parents.
bool makeDirectories(const std::string& path);
bool isDirectory(const std::string& path);
bool removeFile(const std::string& path);

// A file opened for writing recovered bytes, or a buffer in memory that takes the same writes.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates a new file at path; fails when anything (a file, a folder, a link) is there.
    bool create(const std::string& path);
    // Creates a new file name in the folder dirFd, as create does. errorCode() tells why not.
    bool createAt(int dirFd, const std::string& name);
    // Creates or empties the file at path: only for a file the user named, never for output.
    bool replace(const std::string& path);
    // Collects the writes in memory, at most limit bytes (more is counted as cut).
    void openMemory(std::size_t limit);
    // Hands the writes in order to sink (standard output, for one file written to a pipe):
    // nothing is created or removed, no times are applied, and a length set by truncate past
    // the end is written out as zeros. sink returns false when it cannot take the bytes.
    using Sink = std::function<bool(const void* data, std::size_t count)>;
    void openSink(Sink sink);

    bool write(const void* data, std::size_t count);
    // Sets the length (for a sparse tail or a hole) without writing the zeros; later writes go
    // on from there.
    bool truncate(std::uint64_t length);
    // Applies the times when the file is closed (after the last write).
    void setTimes(UnixTime access, UnixTime modification);
    // Asks for the file to be removed when it is closed: the extraction found nothing that
    // should stand as the file (an empty file must not pretend to be the data).
    void discard() { discard_ = true; }
    bool discarded() const { return discard_; }
    bool close();
    bool isOpen() const { return fd_ >= 0 || memory_ || static_cast<bool>(sink_); }

    // No byte past limit is written; what the writer offers beyond it is counted as cut.
    void setLimit(std::uint64_t limit) { limit_ = limit; }
    // With stop set, a write or length past the limit fails (after keeping what fits), so that
    // a reader wanting only the first bytes of a file does not read the rest of it.
    void setStopAtLimit(bool stop) { stopAtLimit_ = stop; }
    std::uint64_t cutBytes() const { return cut_; }
    std::uint64_t length() const { return length_; }
    const std::vector<std::uint8_t>& bytes() const { return buffer_; }
    int errorCode() const { return error_; }

private:
    void reset();
    int fd_ = -1;
    bool memory_ = false;
    std::vector<std::uint8_t> buffer_;
    Sink sink_;
    std::uint64_t length_ = 0;  // the file's length so far
    std::uint64_t limit_ = UINT64_MAX;
    std::uint64_t cut_ = 0;
    bool stopAtLimit_ = false;
    bool hasTimes_ = false;
    bool discard_ = false;
    int dirFd_ = -1;  // the folder the file was created in (a duplicate), for discard
    std::string name_;
    UnixTime access_{}, modification_{};
    int error_ = 0;
};

// A folder recovered files go into. The folder the user names is created if missing; below
// it, folders are created and entered with mkdirat/openat and never through a link.
class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(OutputFolder&& other) noexcept;
    OutputFolder& operator=(OutputFolder&& other) noexcept;
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // Opens (creating with its parents) the folder the user chose.
    bool open(const std::string& path);
    // Creates the subfolder name, or enters it when a real folder of that name is there. A file
    // or a link of that name is not entered: false, with errorCode() EEXIST.
    bool openChild(const std::string& name, OutputFolder& child) const;
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int errorCode() const { return error_; }

private:
    int fd_ = -1;
    mutable int error_ = 0;
};

// Whether a write error means the output has no room left (no space, or the quota is used up).
bool isOutputFull(int error);

// Whether two paths name the same file (same device and inode).
bool sameFile(const std::string& a, const std::string& b);

// When source is a block device and folder lies on a file system of that device (the device
// itself or one of its partitions): the device's name, else empty.
std::string folderOnSourceDevice(const std::string& source, const std::string& folder);

}  // namespace corvello::platform
