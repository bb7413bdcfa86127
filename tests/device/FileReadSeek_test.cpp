#include <gtest/gtest.h>

#include <vector>

#include "common/MemoryScanHost.h"
#include "device/FileReadSeek.h"
#include "device/ScanSelection.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

std::vector<std::uint8_t> numbered(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i / 512) * 7 + i);
    return bytes;
}

TEST(FileReadSeek, OpenSetsSizeInWholeSectors) {
    test::ScratchDir dir;
    test::writeFile(dir.file("img"), numbered(1'000'000));
    ScanSelection selection;
    FileReadSeek reader(&selection);
    ASSERT_TRUE(reader.open(dir.file("img")));
    EXPECT_EQ(reader.totalSectors(), 1953u);
    EXPECT_EQ(selection.totalSectors.load(), 1953u);
    EXPECT_EQ(reader.deviceLength, 1'000'000);
}

TEST(FileReadSeek, SeekAddsBaseOffset) {
    test::ScratchDir dir;
    const auto bytes = numbered(4096 * 512);
    test::writeFile(dir.file("img"), bytes);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("img")));
    reader.baseOffset = 2048 * 512;
    std::vector<std::uint8_t> sector(512);
    ASSERT_TRUE(reader.seek(0, FILE_BEGIN));
    ASSERT_TRUE(reader.read(sector.data(), 512));
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), bytes.begin() + 2048 * 512));
    // A second read continues where the first ended.
    ASSERT_TRUE(reader.read(sector.data(), 512));
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), bytes.begin() + 2049 * 512));
}

TEST(FileReadSeek, ShortReadIsZeroFilledAndEmptyReadLeavesBuffer) {
    test::ScratchDir dir;
    const auto bytes = numbered(1000);
    test::writeFile(dir.file("img"), bytes);
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(dir.file("img")));

    std::vector<std::uint8_t> buffer(1024, 0xAB);
    ASSERT_TRUE(reader.seek(512));
    EXPECT_FALSE(reader.read(buffer.data(), 1024));
    EXPECT_EQ(reader.lastDelivered(), 488u);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 488, bytes.begin() + 512));
    EXPECT_TRUE(std::all_of(buffer.begin() + 488, buffer.end(), [](std::uint8_t b) { return b == 0; }));

    std::vector<std::uint8_t> untouched(512, 0xCD);
    ASSERT_TRUE(reader.seek(4096));
    EXPECT_FALSE(reader.read(untouched.data(), 512));
    EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](std::uint8_t b) { return b == 0xCD; }));
}

TEST(FileReadSeek, FailedOpenReportsAndKeepsTotalSectors) {
    test::ScratchDir dir;
    test::writeFile(dir.file("img"), numbered(10 * 512));
    ScanSelection selection;
    MemoryScanHost host;
    FileReadSeek reader(&selection, &host);
    ASSERT_TRUE(reader.open(dir.file("img")));
    EXPECT_FALSE(reader.open(dir.file("missing")));
    EXPECT_EQ(host.notices(), std::vector<std::string>{"invalid handle ..."});
    EXPECT_EQ(selection.totalSectors.load(), 10u);
    EXPECT_FALSE(reader.seek(-1));
}

}  // namespace
}  // namespace corvello
