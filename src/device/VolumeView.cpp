#include "device/VolumeView.h"

#include <algorithm>
#include <cstring>

namespace corvello {

std::size_t MemorySource::readBytes(std::uint64_t offset, std::span<std::uint8_t> buffer) const {
    if (offset >= bytes_.size()) return 0;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset));
    std::memcpy(buffer.data(), bytes_.data() + offset, n);
    return n;
}

const std::uint8_t* MemorySource::bytesInPlace(std::uint64_t offset, std::size_t count) const {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return nullptr;
    return bytes_.data() + offset;
}

const std::uint8_t* VolumeView::bytesInPlace(std::uint64_t offset, std::size_t count) const {
    if (source_ == nullptr || offset > length_ || count > length_ - offset || count == 0) return nullptr;
    return source_->bytesInPlace(start_ + offset, count);
}

VolumeView::VolumeView(const ByteSource* source, std::uint64_t start, std::uint64_t length)
    : source_(source), start_(start) {
    const std::uint64_t medium = source != nullptr ? source->sourceBytes() : 0;
    const std::uint64_t available = medium > start ? medium - start : 0;
    length_ = std::min(length, available);
}

VolumeView VolumeView::toEnd(const ByteSource* source, std::uint64_t start) { return {source, start, UINT64_MAX}; }

std::uint64_t VolumeView::sectorBytes() const {
    if (source_ == nullptr) return 0;
    const std::uint64_t end = source_->sourceBytes() / 512 * 512;
    return end > start_ ? end - start_ : 0;
}

std::size_t VolumeView::readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const {
    if (buffer.empty()) return 0;
    std::size_t got = 0;
    if (source_ != nullptr && offset < length_) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length_ - offset));
        got = source_->readBytes(start_ + offset, buffer.first(want));
    }
    if (got < buffer.size()) {
        std::memset(buffer.data() + got, 0, buffer.size() - got);
        if (source_ != nullptr) source_->countUnread(buffer.size() - got);
    }
    return got;
}

}  // namespace corvello
