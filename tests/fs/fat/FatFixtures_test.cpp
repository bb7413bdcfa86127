// End-to-end checks of the FAT-family parsers on volumes made by the real tools: the listing
// against the manifests, and the saved bytes and times.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>

#include "common/Text.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

// 2021-06-15 14:20:58 UTC, the modification time of every file on the fixtures.
constexpr std::int64_t kFixtureMtime = 1623766858;

struct Listed {
    std::string kind;
    std::string state;
    std::uint64_t size = 0;
};

std::map<std::string, Listed> listing(const std::vector<std::string>& args, test::CliResult& r) {
    r = test::runCli(args);
    std::map<std::string, Listed> out;
    for (const std::string& line : test::lines(r.out)) {
        const auto a = line.find('\t');
        const auto b = line.find('\t', a + 1);
        const auto c = line.find('\t', b + 1);
        EXPECT_NE(c, std::string::npos) << line;
        if (c == std::string::npos) continue;
        Listed l{line.substr(0, a), line.substr(a + 1, b - a - 1), std::stoull(line.substr(b + 1, c - b - 1))};
        EXPECT_TRUE(out.emplace(line.substr(c + 1), l).second) << "listed twice: " << line;
    }
    return out;
}

std::int64_t mtimeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return st.st_mtim.tv_sec;
}

class FatFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(FatFixture, ListShowsEveryEntryOfTheManifestAndNoOtherLiveEntry) {
    const std::string name = GetParam();
    const auto manifest = test::readManifest(name);
    test::CliResult r;
    const auto listed = listing({"list", test::fixture(name + ".img")}, r);
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, bool> inManifest;
    for (const auto& e : manifest) {
        inManifest[e.path] = true;
        const auto it = listed.find(e.path);
        ASSERT_NE(it, listed.end()) << "not listed: " << e.path;
        EXPECT_EQ(it->second.kind, e.kind) << e.path;
        EXPECT_EQ(it->second.state, e.state) << e.path;
        if (e.kind == "f") {
            EXPECT_EQ(it->second.size, e.size) << e.path;
        }
    }
    for (const auto& [path, l] : listed)
        if (l.state == "live") {
            EXPECT_TRUE(inManifest.count(path)) << "unexpected live entry " << path;
        }
}

TEST_P(FatFixture, SaveWritesLiveAndIntactDeletedFilesByteForByteWithTheirTime) {
    const std::string name = GetParam();
    test::ScratchDir out;
    const auto r = test::runCli({"save", test::fixture(name + ".img"), "--out", out.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    int checked = 0;
    for (const auto& e : test::readManifest(name)) {
        if (e.kind != "f" || e.sha256 == "-") continue;
        const std::string path = out.file(e.path);
        EXPECT_EQ(test::sha256File(path), e.sha256) << e.state << " " << e.path;
        EXPECT_EQ(mtimeOf(path), kFixtureMtime) << e.path;
        ++checked;
    }
    EXPECT_GT(checked, 300);
}

TEST_P(FatFixture, SaveOfOneFolderWritesOnlyWhatIsBelowIt) {
    const std::string name = GetParam();
    test::ScratchDir out;
    const auto r = test::runCli({"save", test::fixture(name + ".img"), "--out", out.path(), "--path", "Documents/Reports"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("saved 1 of 1 file(s)"), std::string::npos) << r.out;
    for (const auto& e : test::readManifest(name))
        if (e.path == "Documents/Reports/2021/Quarterly summary report.txt") {
            EXPECT_EQ(test::sha256File(out.file("2021/Quarterly summary report.txt")), e.sha256);
        }
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatFixture,
                         ::testing::Values("fat12-floppy", "fat16-2k", "fat16-32k", "fat32-512", "fat32-4k",
                                           "exfat-4k"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string n = param.param;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

// The FAT32 volume of the sample disk, reached through its partition table: the two files the
// user deleted without long names show U+FFE5 in place of their lost first letter.
TEST(FatSampleDisk, ListsAndSavesTheFat32VolumeWithItsDeletedFiles) {
    const std::string image = test::fixture("sample-disk.img");
    auto shown = [](const test::ManifestEntry& e) {
        if (e.state != "deleted") return e.path;
        const auto slash = e.path.rfind('/') + 1;
        return e.path.substr(0, slash) + toUtf8(u"\uFFE5") + e.path.substr(slash + 1);
    };
    test::CliResult r;
    const auto listed = listing({"list", image, "--volume", "0"}, r);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto manifest = test::readManifest("sample-disk");
    EXPECT_EQ(listed.size(), manifest.size());
    for (const auto& e : manifest) {
        const auto it = listed.find(shown(e));
        ASSERT_NE(it, listed.end()) << shown(e);
        EXPECT_EQ(it->second.state, e.state);
    }
    test::ScratchDir out;
    const auto saved = test::runCli({"save", image, "--volume", "0", "--out", out.path()});
    ASSERT_EQ(saved.status, 0) << saved.err;
    for (const auto& e : manifest)
        if (e.kind == "f") {
            EXPECT_EQ(test::sha256File(out.file(shown(e))), e.sha256) << e.path;
        }
}

}  // namespace
}  // namespace corvello
