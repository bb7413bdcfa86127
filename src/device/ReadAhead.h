#pragma once
// Few large reads in place of many small ones. The parsers read a medium by offset, a record or a
// sector at a time; below them, a ReadAhead keeps a few windows of the medium in memory and
// fills a miss with one aligned read that grows while the reads go on in order (64 KiB after a
// jump, doubling up to 1 MiB along a sequential stretch: an MFT, an inode table, a cluster heap).
// Reads of a window's size or more go straight to the medium.
//
// What a read delivers is what the medium would have delivered for the same range, byte for
// byte and count for count: a window whose read comes up short (a bad sector) is not kept, the
// request is read again on its own so the sound bytes before the bad spot still arrive, and the
// stretch is remembered so that later small reads there go to the medium directly rather than
// fail a large read again. Nothing is ever zero-filled here.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <span>
#include <vector>

namespace corvello {

class ReadAhead {
public:
    // Reads up to buffer.size() bytes at an absolute offset of the medium and returns how many
    // arrived, in order from the offset (fewer at the end or after an error).
    using Fetch = std::function<std::size_t(std::uint64_t offset, std::span<std::uint8_t> buffer)>;

    static constexpr std::size_t kMinWindow = 64 * 1024;
    static constexpr std::size_t kMaxWindow = 1024 * 1024;
    static constexpr std::size_t kWindows = 8;

    // What fetch delivers for [offset, offset + buffer.size()), through the windows. mediumBytes
    // is the medium's length: a window is never asked past it.
    std::size_t read(std::uint64_t offset, std::span<std::uint8_t> buffer, std::uint64_t mediumBytes,
                     const Fetch& fetch);
    // Forgets every window and every failed stretch (a new medium was opened).
    void clear();

    // Reads asked of the medium so far (for the benchmarks and tests).
    std::uint64_t fetches() const { return fetches_; }

private:
    struct Window {
        std::uint64_t start = 0;
        std::vector<std::uint8_t> bytes;
        std::uint64_t used = 0;  // the tick of its last use, for eviction
    };

    // The window that holds offset (marked as used), or null.
    const Window* find(std::uint64_t offset);
    // Fills a window that holds offset; null when the medium could not give it whole.
    const Window* fill(std::uint64_t offset, std::uint64_t mediumBytes, const Fetch& fetch);
    std::size_t direct(std::uint64_t offset, std::span<std::uint8_t> buffer, const Fetch& fetch);

    std::mutex mutex_;
    std::vector<Window> windows_;
    std::set<std::uint64_t> failed_;  // kMinWindow-aligned stretches whose window read came up short
    std::uint64_t tick_ = 0;
    std::uint64_t sequentialEnd_ = UINT64_MAX;  // where the last window ended
    std::size_t window_ = kMinWindow;           // the size of the next window along a sequence
    std::uint64_t fetches_ = 0;
};

}  // namespace corvello
