#include "raw/CarveSource.h"

#include <algorithm>

namespace corvello {

namespace {
constexpr std::int64_t kAlign = 4096;
}

CarveSource::CarveSource(const VolumeView& view, std::int64_t end, std::uint32_t window)
    : view_(view), end_(std::max<std::int64_t>(end, 0)), window_(std::max<std::uint32_t>(window, 64 * 1024)) {}

ByteSpan CarveSource::some(std::int64_t offset, std::size_t most, std::size_t least) {
    if (offset < 0 || offset >= end_ || most == 0 || !view_.valid()) return {};
    const std::int64_t cap = std::min<std::int64_t>(end_ - offset, static_cast<std::int64_t>(window_) - kAlign);
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(most), cap));
    least = static_cast<std::size_t>(std::min<std::int64_t>({static_cast<std::int64_t>(least), static_cast<std::int64_t>(n)}));
    if (offset < base_ || offset + static_cast<std::int64_t>(std::max<std::size_t>(least, 1)) > base_ + static_cast<std::int64_t>(length_)) {
        const std::size_t page = static_cast<std::size_t>(kAlign);
        if (buffer_.size() != window_ + page) buffer_.resize(window_ + page);
        // Page-aligned, as the kernel copies fastest into whole pages.
        data_ = buffer_.data() + (page - reinterpret_cast<std::uintptr_t>(buffer_.data()) % page) % page;
        base_ = offset / kAlign * kAlign;
        const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(window_, end_ - base_));
        length_ = view_.readAt(static_cast<std::uint64_t>(base_), data_, want);
        if (offset >= base_ + static_cast<std::int64_t>(length_)) return {};
    }
    const auto at = static_cast<std::size_t>(offset - base_);
    return ByteSpan(data_ + at, std::min(n, length_ - at));
}

}  // namespace corvello
