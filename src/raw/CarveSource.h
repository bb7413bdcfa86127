#pragma once
// Random access to the carved range for the format checks: a window of the volume kept in
// memory, refilled only when a check asks for bytes outside it, so that a check reads each byte
// it looks at about once and never more than it asks for.

#include <cstdint>
#include <vector>

#include "common/Bytes.h"
#include "device/VolumeView.h"

namespace corvello {

class CarveSource {
public:
    // Reads through view (offsets from the volume's first byte) up to byte end of the range.
    CarveSource(const VolumeView& view, std::int64_t end, std::uint32_t window = 1u << 20);

    // Up to n bytes from offset: fewer at the end of the range or where the medium cannot be
    // read, none before 0 or at the end. n above the window size is cut to it.
    ByteSpan bytes(std::int64_t offset, std::size_t n) { return some(offset, n, n); }
    // At least least and at most most bytes from offset (fewer only at the end of the range):
    // what the window holds already, so that a search reads each byte once.
    ByteSpan some(std::int64_t offset, std::size_t most, std::size_t least);
    std::int64_t end() const { return end_; }
    std::uint32_t windowSize() const { return window_; }

private:
    VolumeView view_;
    std::int64_t end_;
    std::uint32_t window_;
    std::vector<std::uint8_t> buffer_;
    std::uint8_t* data_ = nullptr;  // the window's first byte inside buffer_
    std::int64_t base_ = 0;
    std::size_t length_ = 0;  // bytes of the window that hold the medium's bytes
};

}  // namespace corvello
