// The HFS+ parser on a real volume made on a Mac. Expected bytes are the sha256 values of The
// Sleuth Kit's icat output for each file; times are those istat shows.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "fs/hfsplus/HfsScanHelper.h"

namespace corvello {
namespace {

using test::hfs::scanImage;

std::string realVolume() { return test::sharedFixture("hfsplus.raw"); }

#define REQUIRE_REAL_VOLUME()                                                                            \
    if (realVolume().empty()) GTEST_SKIP() << "hfsplus.raw is not in the shared fixture folder " \
                                              << CORVELLO_SHARED_FIXTURES

// 2022-01-14 07:19:42 UTC: the modification and access dates of the user's files; those of
// the .fseventsd files are four seconds later.
constexpr std::int64_t kFileTime = 1642144782;
constexpr std::int64_t kEventsTime = 1642144786;

const std::map<std::string, std::string>& kFileHashes = test::hfs::realVolumeHashes();

TEST(HfsPlusRealVolume, ListShowsEveryFileAndFolderWithPathAndSize) {
    REQUIRE_REAL_VOLUME();
    const auto r = test::runCli({"list", realVolume(), "--mode", "standard"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto got = test::lines(r.out);
    std::sort(got.begin(), got.end());
    std::vector<std::string> want = {
        "d\tlive\t0\t____HFS+ Private Data",  // four NULs lead the name
        "d\tlive\t0\t.HFS+ Private Directory Data",
        "d\tlive\t0\ta_directory",
        "f\tlive\t0\ta_directory/a_resourcefork",
        "f\tlive\t22\ta_directory/another_file",
        "f\tlive\t53\ta_directory/a_file",
        "f\tlive\t116\tpasswords.txt",
        "f\tlive\t24\ta_link",
        "d\tlive\t0\t.fseventsd",
        "f\tlive\t72\t.fseventsd/00000000171494cc",
        "f\tlive\t161\t.fseventsd/00000000171494cb",
        "f\tlive\t36\t.fseventsd/fseventsd-uuid",
    };
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
}

TEST(HfsPlusRealVolume, SaveWritesEveryFileByteForByteWithItsTimes) {
    REQUIRE_REAL_VOLUME();
    test::ScratchDir out;
    const auto r = test::runCli({"save", realVolume(), "--mode", "standard", "--out", out.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& [path, hash] : kFileHashes) {
        SCOPED_TRACE(path);
        // Times first: reading the file may move its access time.
        const std::int64_t when = path.rfind(".fseventsd/", 0) == 0 ? kEventsTime : kFileTime;
        struct stat st {};
        ASSERT_EQ(::stat(out.file(path).c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, when);
        EXPECT_EQ(st.st_atim.tv_sec, when);
        EXPECT_EQ(test::sha256File(out.file(path)), hash);
    }
    // a_resourcefork has an empty data fork: nothing to write, no file.
    EXPECT_FALSE(std::filesystem::exists(out.file("a_directory/a_resourcefork")));
    EXPECT_TRUE(std::filesystem::is_directory(out.file("a_directory")));
}

TEST(HfsPlusRealVolume, DeepModeListsAndSavesTheFilesUnderOrphanEntry) {
    REQUIRE_REAL_VOLUME();
    const auto s = scanImage(realVolume(), RecoveryMode::Deep);
    ASSERT_TRUE(s->session);
    EXPECT_EQ(s->host.lastStatus(), "Work Done.");
    const auto listing = s->listing();
    auto has = [&](const std::string& line) { return std::find(listing.begin(), listing.end(), line) != listing.end(); };
    EXPECT_TRUE(has("d ORPHAN_ENTRY"));
    EXPECT_TRUE(has("d ORPHAN_ENTRY/a_directory"));
    EXPECT_TRUE(has("f 53 ORPHAN_ENTRY/a_directory/a_file"));
    EXPECT_TRUE(has("f 22 ORPHAN_ENTRY/a_directory/another_file"));
    EXPECT_TRUE(has("d ORPHAN_ENTRY/.fseventsd"));
    // Files keep their parent: those of the root folder also stay at the top.
    EXPECT_TRUE(has("f 116 passwords.txt"));

    test::ScratchDir out;
    const auto r = test::runCli({"save", realVolume(), "--mode", "deep", "--out", out.path(), "--path", "ORPHAN_ENTRY"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::sha256File(out.file("a_directory/a_file")), kFileHashes.at("a_directory/a_file"));
    EXPECT_EQ(test::sha256File(out.file("a_directory/another_file")), kFileHashes.at("a_directory/another_file"));
}

TEST(HfsPlusRealVolume, TreeItemsCarryCatalogIdsAndRowsShowTimesAndPermissions) {
    REQUIRE_REAL_VOLUME();
    const auto s = scanImage(realVolume());
    ASSERT_TRUE(s->session);
    const TreeItem root = s->tree.root();
    ASSERT_NE(root, 0u);
    EXPECT_EQ(s->tree.itemText(root), u"ROOT");
    std::map<std::u16string, TreeItem> top;
    for (TreeItem item : s->tree.children(root)) top[s->tree.itemText(item)] = item;
    ASSERT_TRUE(top.count(u"a_directory"));
    ASSERT_TRUE(top.count(u"passwords.txt"));
    EXPECT_EQ(s->tree.itemData(top[u"a_directory"]), 18u);
    EXPECT_EQ(s->tree.itemIcon(top[u"a_directory"]), IconKind::Folder);
    EXPECT_EQ(s->tree.itemData(top[u"passwords.txt"]), 20u);
    EXPECT_EQ(s->tree.itemIcon(top[u"passwords.txt"]), IconKind::File);
    // The private-data folder, CNID 16, sits under ROOT with the folder icon.
    EXPECT_EQ(s->tree.itemIcon(top[std::u16string(4, u'\0') + u"HFS+ Private Data"]), IconKind::Folder);
    // a_directory has children, so the completion gave it a placeholder.
    const auto kids = s->tree.children(top[u"a_directory"]);
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(s->tree.itemText(kids[0]), u"..DUMY..");

    const ItemData file = s->at("a_directory/a_file");
    ASSERT_EQ(file, 19u);
    const std::array<std::string, 4> want = {"01/14/2022  07:19 AM", "01/14/2022  07:19 AM", "01/14/2022  07:19 AM",
                                             "-Owner:W-Owner:R-OR-GR"};
    EXPECT_EQ(s->session->rowTexts(file), want);
    EXPECT_EQ(s->session->sizeText(file), "53 Bytes");
}

}  // namespace
}  // namespace corvello
