// Reading only the start of a file: an output that stops at its limit ends the extraction
// there, on every family, and the bytes it kept are the file's first bytes.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/CliSupport.h"
#include "cli/ScannedVolume.h"
#include "common/MemoryScanHost.h"
#include "platform/Files.h"
#include "scan/SaveWalk.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

// A fixture volume scanned as the command line scans it, and the file at path on it (0 when
// there is none).
struct ScannedFile {
    std::ostringstream err;
    cli::ScannedVolume v{err};
    ItemData file = 0;

    ScannedFile(const std::string& image, const std::string& path) {
        cli::scanVolume(v, cli::Args({test::fixture(image + ".img")}, cli::kVolumeOptions, cli::kVolumeFlags));
        if (!v.session) return;
        walkEntries(*v.session, topLevelRecords(*v.session, v.tree), 0, [&](const ListedEntry& e) {
            if (e.path == path) file = e.data;
        });
    }
};

TEST(BoundedRead, StopsTheExtractionAtTheLimit) {
    struct Case {
        const char* image;
        const char* path;
    };
    const Case cases[] = {
        {"reuse-fat32", "filler.bin"},         {"reuse-exfat", "filler.bin"},
        {"reuse-ntfs", "filler.bin"},          {"fat16-32k", "Data/holiday movie.bin"},
        {"ext3-4k", "sparse.bin"},
        {"reuse-ntfs", "filler.bin"},
    };
    constexpr std::size_t kLimit = 64 * 1024;
    for (const Case& c : cases) {
        ScannedFile scanned(c.image, c.path);
        cli::ScannedVolume& v = scanned.v;
        const ItemData file = scanned.file;
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

// A stop asked for while a long file is saved ends it after the read under way: the file is
// reported as not whole, and the rest of it is not read.
TEST(BoundedRead, AStopEndsALongFileAfterTheReadUnderWay) {
    const std::pair<const char*, const char*> cases[] = {
        {"reuse-fat32", "filler.bin"},
        {"reuse-exfat", "filler.bin"},
        {"fat16-32k", "Data/holiday movie.bin"},
        {"ext3-4k", "sparse.bin"},
    };
    for (const auto& [image, path] : cases) {
        ScannedFile scanned(image, path);
        cli::ScannedVolume& v = scanned.v;
        const ItemData file = scanned.file;
        ASSERT_NE(file, 0u) << image;
        ASSERT_GT(v.session->size(file), 2u << 20) << image;
        MemoryScanHost host;
        std::uint64_t written = 0;
        platform::OutputFile out;
        out.openSink([&](const void*, std::size_t count) {
            host.requestStop();  // as the user presses Stop while the first bytes are written
            written += count;
            return true;
        });
        EXPECT_FALSE(v.session->extract(file, out, &host)) << image;
        EXPECT_GT(written, 0u) << image;
        EXPECT_LE(written, 1u << 20) << image;
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
        ScannedFile scanned(image, path);
        cli::ScannedVolume& v = scanned.v;
        const ItemData file = scanned.file;
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

// Every file of a volume, live, deleted, sparse or damaged, reads by offset in windows that
// cross its runs as it is saved whole (which reads it a mebibyte at a time); and the byte runs
// a family tells lie inside the file, in order.
TEST(BoundedRead, EveryFileReadsAsItIsSaved) {
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
            platform::OutputFile whole;
            whole.openMemory(static_cast<std::size_t>(size));
            v.session->extract(e.data, whole);
            const std::vector<std::uint8_t>& saved = whole.bytes();
            const std::uint64_t window = 3 * 4096 + 77;
            for (std::uint64_t offset = 0; offset <= size; offset += std::max<std::uint64_t>(window, size / 5)) {
                std::vector<std::uint8_t> got(window, 0xEE);
                const auto count = v.session->read(e.data, offset, got);
                if (offset >= saved.size()) {
                    // Past what a save gets: nothing, or nothing more than the file's end allows.
                    EXPECT_TRUE(!count || offset + *count <= size) << image << " " << e.path << " @" << offset;
                    continue;
                }
                ASSERT_TRUE(count.has_value()) << image << " " << e.path << " @" << offset;
                const std::size_t same = static_cast<std::size_t>(std::min<std::uint64_t>(*count, saved.size() - offset));
                EXPECT_EQ(*count, std::min<std::uint64_t>(window, saved.size() - offset)) << image << " " << e.path << " @" << offset;
                EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(same),
                                       saved.begin() + static_cast<std::ptrdiff_t>(offset)))
                    << image << " " << e.path << " @" << offset;
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
