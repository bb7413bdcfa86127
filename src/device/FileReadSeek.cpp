#include "device/FileReadSeek.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/ScanHost.h"
#include "device/ScanSelection.h"

namespace corvello {

ScanSelection::ScanSelection() = default;
ScanSelection::~ScanSelection() = default;

FileReadSeek::FileReadSeek(ScanSelection* selection, ScanHost* host) : selection_(selection), host_(host) {}

FileReadSeek::~FileReadSeek() = default;

bool FileReadSeek::open(const std::string& path) {
    std::uint64_t length = 0;
    if (platform::regularFileLength(path, length)) deviceLength = static_cast<std::int64_t>(length);

    platform::RawFile file;
    if (!file.open(path)) {
        openError_ = file.lastError();
        if (host_ != nullptr) host_->notice("invalid handle ...");
        return false;
    }
    openError_ = 0;
    std::uint64_t bytes = 0;
    if (!file.size(bytes)) bytes = 0;
    if (!file.isBlockDevice()) deviceLength = static_cast<std::int64_t>(bytes);

    file_ = std::move(file);  // the old handle, if any, is released here
    cache_.clear();
    path_ = path;
    position_ = 0;
    resetUnread();
    totalSectors_ = bytes / kSectorSize;
    if (selection_ != nullptr) selection_->totalSectors.store(totalSectors_);
    return true;
}

bool FileReadSeek::read(void* buffer, std::uint32_t count) {
    lastDelivered_ = 0;
    if (count == 0) return true;
    if (!file_.isOpen() || buffer == nullptr) return false;
    // Read straight into the caller's buffer; nothing is written when nothing arrives, so a read
    // that delivers no byte leaves the buffer as it was.
    const std::size_t got =
        position_ < 0 ? 0 : readCached(static_cast<std::uint64_t>(position_), std::span(static_cast<std::uint8_t*>(buffer), count));
    if (got > 0 && got < count) std::memset(static_cast<unsigned char*>(buffer) + got, 0, count - got);
    countUnread(count - got);
    lastDelivered_ = static_cast<std::uint32_t>(got);
    position_ += static_cast<std::int64_t>(got);
    return got >= count;
}

bool FileReadSeek::seek(std::int64_t offset, int method) {
    std::int64_t target = 0;
    switch (method) {
        case FILE_BEGIN:
            if (__builtin_add_overflow(offset, baseOffset, &target)) return false;
            break;
        case FILE_CURRENT:
            if (__builtin_add_overflow(position_, offset, &target)) return false;
            break;
        case FILE_END: {
            const auto end = static_cast<std::int64_t>(totalSectors_ * kSectorSize);
            if (__builtin_add_overflow(end, offset, &target)) return false;
            break;
        }
        default:
            return false;
    }
    if (target < 0 || !file_.isOpen()) return false;
    position_ = target;
    return true;
}

bool FileReadSeek::readAt(std::int64_t offset, void* buffer, std::uint32_t count) {
    if (!seek(offset, FILE_BEGIN)) {
        lastDelivered_ = 0;
        countUnread(count);
        return false;
    }
    return read(buffer, count);
}

std::size_t FileReadSeek::readBytes(std::uint64_t offset, std::span<std::uint8_t> buffer) const {
    if (!file_.isOpen() || buffer.empty() || offset > static_cast<std::uint64_t>(INT64_MAX)) return 0;
    return readCached(offset, buffer);
}

std::size_t FileReadSeek::readCached(std::uint64_t offset, std::span<std::uint8_t> buffer) const {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return 0;
    return cache_.read(offset, buffer, sourceBytes(), [this](std::uint64_t at, std::span<std::uint8_t> into) {
        return at > static_cast<std::uint64_t>(INT64_MAX) ? 0 : file_.readAt(into.data(), into.size(), static_cast<std::int64_t>(at));
    });
}

std::uint64_t FileReadSeek::sourceBytes() const {
    const std::uint64_t sectors = totalSectors_ * kSectorSize;
    return deviceLength > 0 ? std::max(static_cast<std::uint64_t>(deviceLength), sectors) : sectors;
}

}  // namespace corvello
