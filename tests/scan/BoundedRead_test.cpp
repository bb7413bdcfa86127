// Reading only the start of a file: an output that stops at its limit ends the extraction
// there, on every family, and the bytes it kept are the file's first bytes.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/CliSupport.h"
#include "cli/ScannedVolume.h"
#include "platform/Files.h"
#include "scan/SaveWalk.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

TEST(BoundedRead, StopsTheExtractionAtTheLimit) {
    struct Case {
        const char* image;
        const char* path;
    };
    const Case cases[] = {
        {"reuse-fat32", "filler.bin"},         {"reuse-exfat", "filler.bin"},
        {"reuse-ntfs", "filler.bin"},          {"fat16-32k", "Data/holiday movie.bin"},
        {"ext3-4k", "sparse.bin"},
    };
    constexpr std::size_t kLimit = 64 * 1024;
    for (const Case& c : cases) {
        std::ostringstream err;
        cli::ScannedVolume v(err);
        cli::scanVolume(v, cli::Args({test::fixture(std::string(c.image) + ".img")}, cli::kVolumeOptions,
                                     cli::kVolumeFlags));
        ItemData file = 0;
        walkEntries(*v.session, topLevelRecords(*v.session, v.tree), 0, [&](const ListedEntry& e) {
            if (e.path == c.path) file = e.data;
        });
        ASSERT_NE(file, 0u) << c.image << " " << c.path;
        const std::uint64_t size = v.session->size(file);
        ASSERT_GT(size, 40 * kLimit) << c.image;

        platform::OutputFile whole;
        whole.openMemory(static_cast<std::size_t>(size));
        ASSERT_TRUE(v.session->extract(file, whole)) << c.image;

        platform::OutputFile start;
        start.openMemory(kLimit);
        start.setStopAtLimit(true);
        EXPECT_FALSE(v.session->extract(file, start)) << c.image;  // the file is not all there
        ASSERT_EQ(start.bytes().size(), kLimit) << c.image;
        EXPECT_TRUE(std::equal(start.bytes().begin(), start.bytes().end(), whole.bytes().begin())) << c.image;
        // What the extraction offered past the limit: one read's worth, not the rest of the file.
        EXPECT_LE(start.cutBytes(), 2u << 20) << c.image;
        EXPECT_LT(start.cutBytes(), size - kLimit) << c.image;
    }
}

// Reads by offset give the same bytes as the whole extraction, at any window: block starts,
// windows straddling blocks, the last bytes, and past the end.
TEST(BoundedRead, ReadsByOffsetMatchTheExtraction) {
    const std::pair<const char*, const char*> cases[] = {
        {"reuse-fat32", "filler.bin"}, {"reuse-exfat", "filler.bin"}, {"reuse-ntfs", "filler.bin"},
        {"ext3-4k", "sparse.bin"},     {"fat16-32k", "Data/holiday movie.bin"},
    };
    for (const auto& [image, path] : cases) {
        std::ostringstream err;
        cli::ScannedVolume v(err);
        cli::scanVolume(v, cli::Args({test::fixture(std::string(image) + ".img")}, cli::kVolumeOptions,
                                     cli::kVolumeFlags));
        ItemData file = 0;
        walkEntries(*v.session, topLevelRecords(*v.session, v.tree), 0, [&](const ListedEntry& e) {
            if (e.path == path) file = e.data;
        });
        ASSERT_NE(file, 0u) << image;
        const std::uint64_t size = v.session->size(file);
        platform::OutputFile whole;
        whole.openMemory(static_cast<std::size_t>(size));
        ASSERT_TRUE(v.session->extract(file, whole)) << image;
        ASSERT_EQ(whole.bytes().size(), size) << image;

        const std::pair<std::uint64_t, std::size_t> windows[] = {
            {0, 512}, {4095, 3}, {65536 - 100, 70000}, {size / 2 + 1, 12345}, {size - 10, 100}, {size, 16}, {size + 4096, 16},
        };
        for (const auto& [offset, count] : windows) {
            std::vector<std::uint8_t> buffer(count, 0xEE);
            const auto got = v.session->read(file, offset, buffer);
            ASSERT_TRUE(got.has_value()) << image << " @" << offset;
            const std::size_t expect = offset >= size ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(count, size - offset));
            ASSERT_EQ(*got, expect) << image << " @" << offset;
            EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(expect),
                                   whole.bytes().begin() + static_cast<std::ptrdiff_t>(std::min(offset, size))))
                << image << " @" << offset;
        }
        // What names no file record is not read.
        std::vector<std::uint8_t> some(16);
        EXPECT_FALSE(v.session->read(0, 0, some).has_value()) << image;
    }
}

// Every file of a volume, live, deleted, sparse or damaged, reads by offset as its extraction
// gives it (the extraction-based read is the reference), in windows that cross its runs; and
// the byte runs a family tells lie inside the file, in order.
TEST(BoundedRead, EveryFileReadsAsItsExtraction) {
    for (const char* image : {"fat12-floppy", "fat16-2k", "fat32-4k", "exfat-4k", "fat16-32k", "reuse-exfat",
                              "ntfs-basic", "reuse-ntfs", "ext4-4k", "ext2-1k"}) {
        std::ostringstream err;
        cli::ScannedVolume v(err);
        cli::scanVolume(v, cli::Args({test::fixture(std::string(image) + ".img")}, cli::kVolumeOptions,
                                     cli::kVolumeFlags));
        ASSERT_TRUE(v.session) << image;
        int files = 0;
        walkEntries(*v.session, topLevelRecords(*v.session, v.tree), 0, [&](const ListedEntry& e) {
            if (e.folder) return;
            ++files;
            const std::uint64_t size = v.session->size(e.data);
            const std::uint64_t window = 3 * 4096 + 77;
            for (std::uint64_t offset = 0; offset <= size; offset += std::max<std::uint64_t>(window, size / 5)) {
                std::vector<std::uint8_t> fast(window, 0xEE), slow(window, 0xDD);
                const auto got = v.session->read(e.data, offset, fast);
                const auto want = v.session->ScanSession::read(e.data, offset, slow);
                ASSERT_EQ(got, want) << image << " " << e.path << " @" << offset;
                if (want) {
                    EXPECT_TRUE(std::equal(fast.begin(), fast.begin() + static_cast<std::ptrdiff_t>(*want), slow.begin()))
                        << image << " " << e.path << " @" << offset;
                }
            }
            std::uint64_t at = 0;
            for (const ByteRun& r : v.session->byteRuns(e.data)) {
                EXPECT_GE(r.fileOffset, at) << image << " " << e.path;
                EXPECT_LE(r.fileOffset + r.length, size) << image << " " << e.path;
                at = r.fileOffset + r.length;
            }
        });
        EXPECT_GT(files, 0) << image;
    }
}

}  // namespace
}  // namespace corvello
