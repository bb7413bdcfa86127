// Reading HFS+ files by offset: windows of any size and place give the bytes the whole save
// writes, through extents, extents-overflow records and hard links; the byte runs point at the
// file's bytes on the volume.

#include <gtest/gtest.h>

#include <algorithm>

#include "fs/hfsplus/HfsScanHelper.h"
#include "fs/hfsplus/HfsVolumeBuilder.h"
#include "platform/Files.h"

namespace corvello {
namespace {

using namespace test::hfs;

struct Extracted {
    bool ok = false;
    std::vector<std::uint8_t> bytes;
};

Extracted extractWhole(ScanSession& session, ItemData data) {
    platform::OutputFile out;
    out.openMemory(64u << 20);
    Extracted e;
    e.ok = session.extract(data, out);
    e.bytes = out.bytes();
    return e;
}

// The file read through in windows of one size, from offset 0 to the end.
std::vector<std::uint8_t> readInWindows(ScanSession& session, ItemData data, std::size_t window) {
    std::vector<std::uint8_t> all, buffer(window);
    for (std::uint64_t at = 0;;) {
        const auto got = session.read(data, at, buffer);
        if (!got || *got == 0) break;
        all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*got));
        at += *got;
    }
    return all;
}

// The file's bytes as its byte runs find them in the image; the runs are in file order, do
// not overlap and end within the file.
std::vector<std::uint8_t> bytesOfRuns(ScanSession& session, ItemData data, const std::vector<std::uint8_t>& image) {
    std::vector<std::uint8_t> out(session.size(data), 0);
    std::uint64_t next = 0;
    for (const ByteRun& r : session.byteRuns(data)) {
        EXPECT_GE(r.fileOffset, next);
        EXPECT_LE(r.fileOffset + r.length, out.size());
        EXPECT_LE(r.volumeOffset + r.length, image.size());
        if (r.fileOffset + r.length > out.size() || r.volumeOffset + r.length > image.size()) break;
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(r.volumeOffset), r.length,
                    out.begin() + static_cast<std::ptrdiff_t>(r.fileOffset));
        next = r.fileOffset + r.length;
    }
    return out;
}

// A file of 12 blocks and 100 bytes in pieces: three extents of the catalog record (one of
// them two blocks long), then two extents-overflow records; a resource-fork record keyed the
// same comes first and is not the data fork.
struct Split {
    VolumeBuilder v;
    std::vector<std::uint8_t> want;
    static constexpr std::uint64_t kSize = 12 * 4096 + 100;

    Split() {
        const std::vector<Extent> pieces = {{60, 1}, {62, 2}, {70, 5}, {80, 2}, {90, 1}, {100, 2}};
        std::uint8_t seed = 1;
        for (const Extent& e : pieces) {
            const auto b = pattern(std::size_t{e.count} * 4096, seed++);
            v.put(e.start, b);
            want.insert(want.end(), b.begin(), b.end());
        }
        v.put(120, pattern(4 * 4096, 99));
        want.resize(kSize);
        v.records = {file(20, 2, u"split.bin", kSize, {{60, 1}, {62, 2}, {70, 5}}, 13)};
        v.overflow = {
            {0xFF, 20, 8, {{120, 4}}},
            {0, 20, 8, {{80, 2}}},
            {0, 20, 10, {{90, 1}, {100, 2}}},
        };
    }
};

TEST(HfsPlusRead, WindowsAnywhereGiveTheBytesTheSaveWrites) {
    Split split;
    test::ScratchDir dir;
    const auto image = split.v.build();
    const auto s = scanBytes(dir, image);
    const ItemData f = s->at("split.bin");
    ASSERT_NE(f, 0u);
    ScanSession& session = *s->session;
    const Extracted whole = extractWhole(session, f);
    EXPECT_TRUE(whole.ok);
    ASSERT_EQ(whole.bytes, split.want);

    struct Window {
        const char* what;
        std::uint64_t offset;
        std::size_t length;
    };
    const std::uint64_t size = Split::kSize;
    const Window windows[] = {
        {"first byte", 0, 1},
        {"last byte of the first extent", 4095, 1},
        {"first byte of the second extent", 4096, 1},
        {"last byte", size - 1, 1},
        {"4095 from the start", 0, 4095},
        {"4095 across the first extent boundary", 4000, 4095},
        {"across three catalog extents", 4095, 2 * 4096 + 2},
        {"across into the overflow extents", 8 * 4096 - 3, 7},
        {"across both overflow records", 9 * 4096 + 17, 2 * 4096},
        {"the tail, window past the end", 12 * 4096, 4096},
        {"more than the file", 0, 1 << 20},
    };
    std::vector<std::uint8_t> buffer;
    for (const Window& w : windows) {
        SCOPED_TRACE(w.what);
        buffer.assign(w.length, 0xEE);
        const auto got = session.read(f, w.offset, buffer);
        const std::size_t expect = static_cast<std::size_t>(std::min<std::uint64_t>(w.length, size - w.offset));
        ASSERT_EQ(got, std::optional<std::size_t>(expect));
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(expect),
                               split.want.begin() + static_cast<std::ptrdiff_t>(w.offset)));
    }
    // Nothing past the end.
    EXPECT_EQ(session.read(f, size, buffer), std::optional<std::size_t>(0));
    for (std::size_t window : {std::size_t{1}, std::size_t{4095}, std::size_t{4097}, std::size_t{3 * 4096 + 5}})
        EXPECT_EQ(readInWindows(session, f, window), split.want) << window;
    EXPECT_EQ(bytesOfRuns(session, f, image), split.want);
}

// An overflow record is gone: the file's runs end after the blocks that were found. The save
// writes those bytes and does not count the file as whole; reads end where the runs do.
TEST(HfsPlusRead, MissingOverflowRecordEndsTheFileWhereItsRunsEnd) {
    Split split;
    split.v.overflow.pop_back();
    test::ScratchDir dir;
    const auto s = scanBytes(dir, split.v.build());
    const ItemData f = s->at("split.bin");
    ASSERT_NE(f, 0u);
    ScanSession& session = *s->session;
    const std::vector<std::uint8_t> found(split.want.begin(), split.want.begin() + 10 * 4096);
    const Extracted whole = extractWhole(session, f);
    EXPECT_FALSE(whole.ok);
    EXPECT_EQ(whole.bytes, found);
    EXPECT_EQ(readInWindows(session, f, 4095), found);
    std::vector<std::uint8_t> buffer(8);
    EXPECT_EQ(session.read(f, 10 * 4096 - 4, buffer), std::optional<std::size_t>(4));
    EXPECT_FALSE(session.read(f, 10 * 4096, buffer).has_value());
    std::uint64_t runBytes = 0;
    for (const ByteRun& r : session.byteRuns(f)) runBytes += r.length;
    EXPECT_EQ(runBytes, 10u * 4096);
}

// The real volume: every file (the hard link a_link among them) reads the same in windows of
// 1 and 4095 bytes as saved whole, matches its known hash, and its byte runs find it in the
// image. The file with an empty data fork has nothing to read and nothing to save.
TEST(HfsPlusRead, RealVolumeFilesReadTheSameInAnyWindow) {
    const std::string path = test::sharedFixture("hfsplus.raw");
    if (path.empty()) GTEST_SKIP() << "hfsplus.raw is not in the shared fixture folder";
    const auto& hashes = realVolumeHashes();
    const auto s = scanImage(path);
    ASSERT_TRUE(s->session);
    ScanSession& session = *s->session;
    const auto image = readAll(path);
    for (const auto& [name, hash] : hashes) {
        SCOPED_TRACE(name);
        const ItemData f = s->at(name);
        ASSERT_NE(f, 0u);
        const Extracted whole = extractWhole(session, f);
        EXPECT_TRUE(whole.ok);
        EXPECT_EQ(test::sha256(whole.bytes), hash);
        EXPECT_EQ(readInWindows(session, f, 1), whole.bytes);
        EXPECT_EQ(readInWindows(session, f, 4095), whole.bytes);
        EXPECT_EQ(bytesOfRuns(session, f, image), whole.bytes);
    }
    const ItemData fork = s->at("a_directory/a_resourcefork");
    ASSERT_NE(fork, 0u);
    std::vector<std::uint8_t> buffer(16);
    EXPECT_EQ(session.read(fork, 0, buffer), std::optional<std::size_t>(0));
    EXPECT_TRUE(session.byteRuns(fork).empty());
    const Extracted none = extractWhole(session, fork);
    EXPECT_TRUE(none.ok);
    EXPECT_TRUE(none.bytes.empty());
}

}  // namespace
}  // namespace corvello
