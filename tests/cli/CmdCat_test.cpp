// corvello-cli cat: one file's bytes on standard output, the same bytes the save writes.

#include <gtest/gtest.h>

#include <algorithm>

#include "cli/Cli.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

std::string shaOf(const std::string& text) { return test::sha256(std::vector<std::uint8_t>(text.begin(), text.end())); }

class CatFixture : public ::testing::TestWithParam<const char*> {};

// Every file of the manifest whose bytes are known comes out of cat with exactly those bytes:
// live and deleted files, resident, inline and multi-run data, a volume-sized filler.
TEST_P(CatFixture, EveryManifestFileComesOutWithItsBytes) {
    const std::string name = GetParam();
    int checked = 0;
    for (const auto& e : test::readManifest(name)) {
        if (e.kind != "f" || e.sha256 == "-") continue;
        const auto r = test::runCli({"cat", test::fixture(name + ".img"), e.path});
        ASSERT_EQ(r.status, 0) << e.path << ": " << r.err;
        EXPECT_EQ(r.out.size(), e.size) << e.path;
        EXPECT_EQ(shaOf(r.out), e.sha256) << e.state << " " << e.path;
        ++checked;
    }
    EXPECT_GT(checked, 3);
}

INSTANTIATE_TEST_SUITE_P(Volumes, CatFixture,
                         ::testing::Values("ntfs-small", "ext4-inline", "fat12-floppy", "reuse-fat32", "reuse-exfat",
                                           "reuse-ntfs", "reuse-ext4"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string n = param.param;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

// A file whose end is a hole: the save sets the length without writing it, cat writes the zeros.
TEST(Cat, WritesTheZerosOfATrailingHole) {
    for (const auto& e : test::readManifest("ext4-4k")) {
        if (e.path != "sparse.bin") continue;
        const auto r = test::runCli({"cat", test::fixture("ext4-4k.img"), "/sparse.bin"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.size(), e.size);
        EXPECT_EQ(shaOf(r.out), e.sha256);
        return;
    }
    FAIL() << "sparse.bin is not in the manifest";
}

TEST(Cat, RefusesWhatIsNotOneFile) {
    const std::string image = test::fixture("reuse-fat32.img");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"cat", image, "no such file.txt"}, cli::kExitUsage, "there is no file \"no such file.txt\" on the volume"},
        {{"cat", test::fixture("ext4-4k.img"), "Documents"}, cli::kExitUsage, "is a folder"},
        {{"cat", image}, cli::kExitUsage, "give the IMAGE and one PATH"},
        {{"cat", image, "keep.txt", "after.bin"}, cli::kExitUsage, "give the IMAGE and one PATH"},
        {{"cat", test::fixture("no-such-image.img"), "keep.txt"}, cli::kExitInput, ""},
    };
    for (const Case& c : cases) {
        const auto r = test::runCli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args.back();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace corvello
