// Images of several files read as one medium: a raw image split into numbered segments and an
// EnCase image. list and save give what the raw image gives; broken segment sets are refused
// with a clear error, and damaged data are never passed off as the medium's.
//
// fat12-floppy.E01/.E02 were made from fat12-floppy.img with
//   ewfacquire -u -c none -S 1MiB -t fat12-floppy fat12-floppy.img
// (uncompressed, 1 MiB segments: two segment files).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "cli/Cli.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> readAll(const std::string& path) {
    std::vector<std::uint8_t> bytes(fs::file_size(path));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// Relative path -> sha256 of every file below dir.
std::map<std::string, std::string> savedTree(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) out[fs::relative(e.path(), dir).string()] = test::sha256File(e.path().string());
    return out;
}

// list prints the same lines and save writes the same files as from the raw image.
void expectSameAsRaw(const std::string& image, const std::string& raw) {
    const auto listed = test::runCli({"list", image});
    const auto rawListed = test::runCli({"list", raw});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, rawListed.out);
    test::ScratchDir scratch;
    const auto saved = test::runCli({"save", image, "--out", scratch.file("image")});
    const auto rawSaved = test::runCli({"save", raw, "--out", scratch.file("raw")});
    EXPECT_EQ(saved.status, rawSaved.status) << saved.err;
    const auto tree = savedTree(scratch.file("image"));
    EXPECT_GT(tree.size(), 3u);
    EXPECT_EQ(tree, savedTree(scratch.file("raw")));
}

// Cuts the raw image into NAME.001, NAME.002, ... of segmentBytes each (as split -b does).
std::string splitImage(const test::ScratchDir& dir, const std::string& raw, std::size_t segmentBytes) {
    const auto bytes = readAll(raw);
    int n = 0;
    for (std::size_t at = 0; at < bytes.size(); at += segmentBytes) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%03d", ++n);
        const std::size_t end = std::min(bytes.size(), at + segmentBytes);
        test::writeFile(dir.file(std::string("disk") + suffix),
                        std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                  bytes.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    return dir.file("disk.001");
}

// Segments of an odd size: records and clusters straddle the joins.
TEST(SplitImage, ListAndSaveEqualTheRawImage) {
    for (const char* name : {"fat12-floppy", "ntfs-small"}) {
        SCOPED_TRACE(name);
        test::ScratchDir dir;
        const std::string raw = test::fixture(std::string(name) + ".img");
        expectSameAsRaw(splitImage(dir, raw, 300001), raw);
    }
}

TEST(SplitImage, SegmentsThatDoNotFitTogetherAreRefused) {
    const std::string raw = test::fixture("fat12-floppy.img");
    test::ScratchDir dir;
    const std::string first = splitImage(dir, raw, 300001);
    fs::resize_file(dir.file("disk.003"), 1000);  // a segment cut short in the middle of the set
    const auto r = test::runCli({"list", first});
    EXPECT_EQ(r.status, cli::kExitInput);
    EXPECT_NE(r.err.find("its numbered segments do not fit together"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

// A lone NAME.001 is an ordinary raw image.
TEST(SplitImage, ALoneFirstSegmentIsARawImage) {
    test::ScratchDir dir;
    const std::string raw = test::fixture("fat12-floppy.img");
    fs::copy_file(raw, dir.file("disk.001"));
    expectSameAsRaw(dir.file("disk.001"), raw);
}

TEST(EnCaseImage, ListAndSaveEqualTheRawImage) {
    expectSameAsRaw(test::fixture("fat12-floppy.E01"), test::fixture("fat12-floppy.img"));
}

// carve-kinds.E01: ewfacquire -u -c none -t carve-kinds carve-kinds.img (one segment).
TEST(EnCaseImage, CarveEqualsTheRawImage) {
    test::ScratchDir dir;
    const auto carved = test::runCli({"carve", test::fixture("carve-kinds.E01"), "--out", dir.file("image")});
    const auto rawCarved = test::runCli({"carve", test::fixture("carve-kinds.img"), "--out", dir.file("raw")});
    ASSERT_EQ(carved.status, 0) << carved.err;
    EXPECT_EQ(carved.out, rawCarved.out);
    const auto tree = savedTree(dir.file("image"));
    EXPECT_GT(tree.size(), 10u);
    EXPECT_EQ(tree, savedTree(dir.file("raw")));
}

// A missing or cut segment refuses the image at open: no part of the medium is read as zeros.
TEST(EnCaseImage, AMissingOrCutSegmentIsRefused) {
    const auto second = readAll(test::fixture("fat12-floppy.E02"));
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "cut" : "missing");
        test::ScratchDir dir;
        fs::copy_file(test::fixture("fat12-floppy.E01"), dir.file("disk.E01"));
        if (cut) test::writeFile(dir.file("disk.E02"), std::vector<std::uint8_t>(second.begin(), second.begin() + 200));
        const auto r = test::runCli({"list", dir.file("disk.E01")});
        EXPECT_EQ(r.status, cli::kExitInput);
        EXPECT_NE(r.err.find("it is an EnCase image whose segments are missing or damaged"), std::string::npos)
            << r.err;
    }
}

// A chunk that fails its checksum is an unreadable stretch: the file over it is reported
// incomplete, never written with the zeros the library puts in its place.
TEST(EnCaseImage, ADamagedChunkIsUnreadableNotZeros) {
    test::ScratchDir dir;
    auto first = readAll(test::fixture("fat12-floppy.E01"));
    for (std::size_t i = 500000; i < 500008; ++i) first[i] ^= 0xFF;
    test::writeFile(dir.file("disk.E01"), first);
    fs::copy_file(test::fixture("fat12-floppy.E02"), dir.file("disk.E02"));
    const auto r = test::runCli({"save", dir.file("disk.E01"), "--out", dir.file("out")});
    EXPECT_EQ(r.status, cli::kExitIncomplete) << r.err;
    EXPECT_NE(r.err.find("could not be written completely"), std::string::npos) << r.err;
    // Only the damaged stretch is missing: the rest of the file is the medium's.
    const auto raw = test::runCli({"save", test::fixture("fat12-floppy.img"), "--out", dir.file("raw")});
    ASSERT_EQ(raw.status, 0) << raw.err;
    const auto got = readAll(dir.file("out/Data/holiday movie.bin"));
    const auto want = readAll(dir.file("raw/Data/holiday movie.bin"));
    ASSERT_EQ(got.size(), want.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < got.size(); ++i) differing += got[i] != want[i] ? 1 : 0;
    EXPECT_GT(differing, 0u);
    EXPECT_LT(differing, got.size() / 2);
    EXPECT_NE(r.err.find("holiday movie.bin"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace corvello
