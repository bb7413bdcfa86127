// Reads by offset through a volume view: never before the volume's start nor past its length,
// the rest of the buffer zero, and what was asked for but not delivered counted as unread.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <numeric>
#include <vector>

#include "device/VolumeView.h"

namespace corvello {
namespace {

TEST(VolumeView, ReadsOnlyInsideItsStretchAndCountsWhatDidNotArrive) {
    std::vector<std::uint8_t> medium(100);
    std::iota(medium.begin(), medium.end(), std::uint8_t{0});
    MemorySource source(medium);
    struct Case {
        std::uint64_t start, length, offset;
        std::size_t count;
        std::size_t delivered;  // the bytes from medium[start + offset] on
    };
    const Case cases[] = {
        {10, 20, 0, 8, 8},            // inside
        {10, 20, 16, 8, 4},           // across the view's end: cut at its length
        {10, 20, 20, 8, 0},           // at the end
        {10, 20, UINT64_MAX, 8, 0},   // an offset no volume has
        {90, 50, 5, 8, 5},            // a view longer than the medium ends with it
        {200, 10, 0, 8, 0},           // a view past the medium
    };
    for (const Case& c : cases) {
        const VolumeView view(&source, c.start, c.length);
        const std::uint64_t unreadBefore = source.unreadBytes();
        std::array<std::uint8_t, 8> buffer;
        buffer.fill(0xEE);
        EXPECT_EQ(view.readAt(c.offset, buffer.data(), c.count), c.delivered) << c.start << "+" << c.offset;
        for (std::size_t i = 0; i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], i < c.delivered ? medium[c.start + c.offset + i] : 0) << i;
        EXPECT_EQ(source.unreadBytes() - unreadBefore, c.count - c.delivered);
    }
}

TEST(VolumeView, ToEndAndWholeSectors) {
    std::vector<std::uint8_t> medium(3 * 512 + 100, 7);
    MemorySource source(medium);
    const VolumeView view = VolumeView::toEnd(&source, 512);
    EXPECT_EQ(view.length(), 2u * 512 + 100);
    EXPECT_EQ(view.sectorBytes(), 2u * 512);  // the partial last sector is not a sector
    std::array<std::uint8_t, 200> buffer{};
    EXPECT_TRUE(view.readFull(2 * 512, buffer.data(), 100));
    EXPECT_FALSE(view.readFull(2 * 512, buffer.data(), 101));
    EXPECT_FALSE(VolumeView().valid());
    EXPECT_EQ(VolumeView().readAt(0, buffer.data(), 10), 0u);
}

}  // namespace
}  // namespace corvello
