#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fs/ext/ExtTestSupport.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

using test::ExtScan;

// The byte runs of every live file, read back from the image (a bare volume: volume offsets are
// image offsets) with zeros elsewhere, give the file's bytes. The runs are in file order, do not
// overlap and stop at the file's size; a sparse file's runs leave its holes out, and data kept
// in the inode has no run (it reads whole through the session), nor has a file of preallocated
// blocks only.
TEST(ExtByteRuns, RunsReadBackGiveEachFile) {
    struct Case {
        const char* image;
        const char* sparse;  // a file with holes, or ""
        const char* inInode;  // a file whose data the inode keeps, or ""
    };
    const Case cases[] = {
        {"ext2-1k", "sparse.bin", ""},
        {"ext3-4k", "sparse.bin", ""},
        {"ext4-4k", "sparse.bin", ""},
        {"ext4-inline", "", "Small/a40.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        ExtScan scan(test::fixture(std::string(c.image) + ".img"));
        ASSERT_NE(scan.parser, nullptr);
        int files = 0;
        for (const auto& m : test::readManifest(c.image)) {
            if (m.kind != "f" || m.state != "live") continue;
            SCOPED_TRACE(m.path);
            const ExtEntry* e = scan.find(m.path);
            ASSERT_NE(e, nullptr);
            const std::vector<ByteRun> runs = scan.session->byteRuns(reinterpret_cast<ItemData>(e));
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(m.size), 0);
            std::uint64_t next = 0, covered = 0;
            for (const ByteRun& r : runs) {
                ASSERT_GE(r.fileOffset, next);
                ASSERT_GT(r.length, 0u);
                ASSERT_LE(r.fileOffset + r.length, m.size);
                ASSERT_LE(r.volumeOffset + r.length, scan.image.size());
                std::memcpy(bytes.data() + r.fileOffset, scan.image.data() + r.volumeOffset,
                            static_cast<std::size_t>(r.length));
                next = r.fileOffset + r.length;
                covered += r.length;
            }
            if (runs.empty() && m.size > 0 && std::string(c.image) == "ext4-inline") {
                // Data the inode keeps: it reads whole through the session.
                const auto got = scan.session->read(reinterpret_cast<ItemData>(e), 0, bytes);
                ASSERT_TRUE(got.has_value());
                EXPECT_EQ(*got, bytes.size());
            }
            EXPECT_EQ(test::sha256(bytes), m.sha256);
            if (m.path == c.sparse) {
                EXPECT_GT(covered, 0u);
                EXPECT_LT(covered, m.size);
            } else if (m.path == c.inInode) {
                EXPECT_GT(m.size, 0u);
                EXPECT_TRUE(runs.empty());
            } else if (!runs.empty()) {
                EXPECT_EQ(covered, m.size);
            }
            ++files;
        }
        EXPECT_GT(files, 10);
    }
}

}  // namespace
}  // namespace corvello
