#include "device/ReadAhead.h"

#include <algorithm>
#include <cstring>

namespace corvello {

namespace {
// Failed stretches remembered at most (a dying disk may have many; past this, a window read
// there simply fails again and the request is read on its own).
constexpr std::size_t kMaxFailed = 1 << 16;

std::uint64_t alignDown(std::uint64_t offset) { return offset - offset % ReadAhead::kMinWindow; }
}  // namespace

void ReadAhead::clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    windows_.clear();
    failed_.clear();
    sequentialEnd_ = UINT64_MAX;
    window_ = kMinWindow;
}

std::size_t ReadAhead::direct(std::uint64_t offset, std::span<std::uint8_t> buffer, const Fetch& fetch) {
    ++fetches_;
    return std::min(fetch(offset, buffer), buffer.size());
}

const ReadAhead::Window* ReadAhead::find(std::uint64_t offset) {
    for (Window& w : windows_) {
        if (offset >= w.start && offset - w.start < w.bytes.size()) {
            w.used = ++tick_;
            return &w;
        }
    }
    return nullptr;
}

const ReadAhead::Window* ReadAhead::fill(std::uint64_t offset, std::uint64_t mediumBytes, const Fetch& fetch) {
    // Along a sequence the window goes on where the last one ended, twice as large; after a
    // jump it is the smallest, around the offset.
    std::uint64_t start = alignDown(offset);
    std::size_t size = kMinWindow;
    if (sequentialEnd_ != UINT64_MAX && offset >= sequentialEnd_ && offset - sequentialEnd_ < window_) {
        start = sequentialEnd_;
        size = std::min(window_ * 2, kMaxWindow);
    }
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, mediumBytes - start));
    // A window never spans a stretch that failed before: it shrinks to the offset's own.
    const auto failedIn = [this](std::uint64_t from, std::size_t bytes) {
        const auto it = failed_.lower_bound(from / kMinWindow);
        return it != failed_.end() && *it <= (from + bytes - 1) / kMinWindow;
    };
    if (failedIn(start, size)) {
        start = alignDown(offset);
        size = static_cast<std::size_t>(std::min<std::uint64_t>(kMinWindow, mediumBytes - start));
        if (failedIn(start, size)) return nullptr;
    }

    Window* slot = nullptr;
    windows_.reserve(kWindows);
    if (windows_.size() < kWindows) {
        slot = &windows_.emplace_back();
    } else {
        slot = &*std::min_element(windows_.begin(), windows_.end(),
                                  [](const Window& a, const Window& b) { return a.used < b.used; });
    }
    slot->start = start;
    slot->bytes.resize(size);
    slot->used = ++tick_;
    const std::size_t delivered = direct(start, slot->bytes, fetch);
    if (delivered < size) {
        // The medium stopped inside the window: what came before is sound and kept; the stretch
        // where it stopped is left to reads of their own from now on.
        if (failed_.size() < kMaxFailed) failed_.insert((start + delivered) / kMinWindow);
        slot->bytes.resize(delivered);
    }
    sequentialEnd_ = start + delivered;
    window_ = std::max(size, kMinWindow);
    return offset - start < slot->bytes.size() ? slot : nullptr;
}

std::size_t ReadAhead::read(std::uint64_t offset, std::span<std::uint8_t> buffer, std::uint64_t mediumBytes,
                            const Fetch& fetch) {
    if (buffer.empty()) return 0;
    const std::lock_guard<std::mutex> lock(mutex_);
    // Large reads, and anything at or past the medium's end, go to the medium as they are.
    if (buffer.size() >= kMaxWindow || offset >= mediumBytes) return direct(offset, buffer, fetch);
    std::size_t got = 0;
    while (got < buffer.size()) {
        const std::uint64_t at = offset + got;
        const std::span<std::uint8_t> rest = buffer.subspan(got);
        if (at >= mediumBytes) return got + direct(at, rest, fetch);
        const Window* w = find(at);
        if (w == nullptr && failed_.count(at / kMinWindow) == 0) w = fill(at, mediumBytes, fetch);
        if (w == nullptr) return got + direct(at, rest, fetch);
        const auto from = static_cast<std::size_t>(at - w->start);
        const std::size_t n = std::min(rest.size(), w->bytes.size() - from);
        std::memcpy(rest.data(), w->bytes.data() + from, n);
        got += n;
    }
    return got;
}

}  // namespace corvello
