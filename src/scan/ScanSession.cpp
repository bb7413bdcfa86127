#include "scan/ScanSession.h"

#include <algorithm>
#include <cstring>

#include "device/VolumeView.h"

namespace corvello {

std::optional<std::size_t> ScanSession::readRuns(const VolumeView& view, const std::vector<ByteRun>& runs,
                                                 std::uint64_t length, std::uint64_t written, std::uint64_t zeroFrom,
                                                 std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (offset >= length || buffer.empty()) return 0;
    std::uint64_t end = offset + std::min<std::uint64_t>(buffer.size(), length - offset);
    if (written < end) {
        // The extraction stops short of the window: what it delivered of it, if anything.
        if (written <= offset) return std::nullopt;
        end = written;
    }
    const auto count = static_cast<std::size_t>(end - offset);
    std::memset(buffer.data(), 0, count);
    const std::uint64_t dataEnd = std::min(end, zeroFrom);
    // The first run that ends after offset.
    auto run = std::upper_bound(runs.begin(), runs.end(), offset,
                                [](std::uint64_t at, const ByteRun& r) { return at < r.fileOffset + r.length; });
    for (; run != runs.end() && run->fileOffset < dataEnd; ++run) {
        const std::uint64_t from = std::max(offset, run->fileOffset);
        const std::uint64_t to = std::min(dataEnd, run->fileOffset + run->length);
        if (from >= to || run->volumeOffset > UINT64_MAX - (from - run->fileOffset)) continue;
        view.readAt(run->volumeOffset + (from - run->fileOffset), buffer.data() + (from - offset),
                    static_cast<std::size_t>(to - from));
    }
    return count;
}

}  // namespace corvello
