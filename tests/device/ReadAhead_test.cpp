#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "device/ReadAhead.h"

namespace corvello {
namespace {

// A medium of numbered bytes with unreadable sectors: a read delivers the bytes from its offset
// up to the first bad sector or the end, as pread on a failing disk does. It counts what it was
// asked.
struct FailingMedium {
    std::vector<std::uint8_t> bytes;
    std::set<std::uint64_t> badSectors;
    std::vector<std::size_t> asked;  // the size of each read

    explicit FailingMedium(std::size_t size) : bytes(size) {
        std::mt19937 rng(7);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    }
    std::size_t read(std::uint64_t offset, std::span<std::uint8_t> buffer) {
        asked.push_back(buffer.size());
        if (offset >= bytes.size()) return 0;
        std::uint64_t end = std::min<std::uint64_t>(bytes.size(), offset + buffer.size());
        const auto bad = badSectors.lower_bound(offset / 512);
        if (bad != badSectors.end()) end = std::min(end, std::max(offset, *bad * 512));
        std::memcpy(buffer.data(), bytes.data() + offset, static_cast<std::size_t>(end - offset));
        return static_cast<std::size_t>(end - offset);
    }
    ReadAhead::Fetch fetch() {
        return [this](std::uint64_t offset, std::span<std::uint8_t> buffer) { return read(offset, buffer); };
    }
};

// Reads through the windows and straight from the medium give the same bytes, the same counts,
// and leave the same bytes of the buffer untouched: on a medium with bad sectors and a length
// that is no whole window, for reads before, across and past its end.
TEST(ReadAhead, DeliversWhatTheMediumDeliversByteForByte) {
    FailingMedium medium(5 * 1024 * 1024 + 777);
    for (std::uint64_t s : {100u, 101u, 2048u, 5000u, 5001u, 9999u, 10239u}) medium.badSectors.insert(s);
    FailingMedium direct = medium;
    ReadAhead cache;
    const auto fetch = medium.fetch();
    std::mt19937_64 rng(11);
    std::uint64_t last = 0;
    for (int i = 0; i < 4000; ++i) {
        // Mostly record-sized reads near the last one, some jumps, some large reads.
        const int kind = static_cast<int>(rng() % 10);
        const std::uint64_t offset = kind < 6 ? last + rng() % 8192
                                   : kind < 9 ? rng() % (medium.bytes.size() + 4096)
                                              : rng() % medium.bytes.size();
        const std::size_t size = kind == 9 ? 1024 * 1024 + rng() % 65536 : 1 + rng() % 4096;
        std::vector<std::uint8_t> a(size, 0xCC), b(size, 0xCC);
        const std::size_t got = cache.read(offset, a, medium.bytes.size(), fetch);
        const std::size_t want = direct.read(offset, b);
        ASSERT_EQ(got, want) << "offset " << offset << " size " << size;
        ASSERT_EQ(a, b) << "offset " << offset << " size " << size;
        last = offset % medium.bytes.size();
    }
}

// A walk of 1 KiB records over 8 MiB asks the medium for a few large reads, not one per record.
TEST(ReadAhead, RecordsReadInOrderCostFewReadsOfTheMedium) {
    FailingMedium medium(8 * 1024 * 1024);
    ReadAhead cache;
    const auto fetch = medium.fetch();
    std::vector<std::uint8_t> record(1024);
    for (std::uint64_t at = 0; at < medium.bytes.size(); at += record.size()) {
        ASSERT_EQ(cache.read(at, record, medium.bytes.size(), fetch), record.size());
        ASSERT_EQ(0, std::memcmp(record.data(), medium.bytes.data() + at, record.size())) << at;
    }
    EXPECT_LE(medium.asked.size(), 16u);
    EXPECT_EQ(cache.fetches(), medium.asked.size());
    EXPECT_EQ(*std::max_element(medium.asked.begin(), medium.asked.end()), ReadAhead::kMaxWindow);
}

// Beside a bad sector, the sound records before and after it arrive whole, and the stretch that
// failed is not asked again in a large read: on a dying disk every failed read costs time.
TEST(ReadAhead, ABadSectorIsReadAroundAndNotAskedAgainInALargeRead) {
    FailingMedium medium(4 * 1024 * 1024);
    medium.badSectors.insert(300);  // byte 153,600, in the third 64 KiB stretch
    ReadAhead cache;
    const auto fetch = medium.fetch();
    std::vector<std::uint8_t> record(1024);
    std::size_t sound = 0;
    for (std::uint64_t at = 0; at < 1024 * 1024; at += record.size()) {
        const std::size_t got = cache.read(at, record, medium.bytes.size(), fetch);
        const bool bad = at <= 300 * 512 && 300 * 512 < at + record.size();
        if (bad) {
            EXPECT_EQ(got, 300 * 512 - at);
            continue;
        }
        ASSERT_EQ(got, record.size()) << at;
        ASSERT_EQ(0, std::memcmp(record.data(), medium.bytes.data() + at, record.size())) << at;
        ++sound;
    }
    EXPECT_EQ(sound, 1023u);
    // Once the stretch failed, its reads are record-sized: no more than the one failed window
    // read came back short there.
    std::size_t large = 0;
    for (std::size_t n : medium.asked) large += n > 4096 ? 1 : 0;
    EXPECT_LE(large, 12u);
    EXPECT_LE(medium.asked.size(), 12u + 64u);
}

}  // namespace
}  // namespace corvello
