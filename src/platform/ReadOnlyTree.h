#pragma once
// A tree of folders and files served to the operating system as a read-only file system, so
// that any program can browse and copy from it. The tree is the caller's; this layer only
// answers the system's requests from it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Time.h"

namespace corvello::platform {

class ReadOnlyTree {
public:
    struct Entry {
        std::string name;
        bool folder = false;
        std::uint64_t size = 0;
        std::optional<UnixTime> modification, access;
    };
    virtual ~ReadOnlyTree() = default;
    // The entry at path ("/" is the root, components '/'-separated); false when there is none.
    virtual bool stat(const std::string& path, Entry& entry) const = 0;
    // The entries of the folder at path; false when path names no folder.
    virtual bool list(const std::string& path, std::vector<Entry>& entries) const = 0;
    // Reads bytes of the file at path from offset: the number delivered (fewer at the end, 0
    // past it), or none when they cannot be read. Called from one thread at a time.
    virtual std::optional<std::size_t> read(const std::string& path, std::uint64_t offset,
                                            std::span<std::uint8_t> buffer) = 0;
};

// Mounts tree read-only at mountPoint (an empty folder) under the name fsName and serves it
// until it is unmounted (fusermount3 -u) or the process is interrupted (Ctrl-C, SIGTERM), then
// unmounts. ready is called once the mount stands. Returns an empty text, or why it could not
// mount.
std::string serveReadOnly(ReadOnlyTree& tree, const std::string& mountPoint, const std::string& fsName,
                          void (*ready)(void* context) = nullptr, void* context = nullptr);

}  // namespace corvello::platform
