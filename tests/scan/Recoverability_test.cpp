// Whether a deleted file's data are still there: volumes where a file written after the
// deletion took one deleted file's clusters wholly and another's partly, beside an untouched
// deleted file, on each family; and the judgement of claimed runs itself.

#include <gtest/gtest.h>

#include <map>

#include "cli/Cli.h"
#include "common/Text.h"
#include "fs/fat/FatTestSupport.h"
#include "scan/Recoverability.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

// The DATA field of list --long, by path.
std::map<std::string, std::string> dataStates(const std::string& image, std::string& err) {
    const auto r = test::runCli({"list", image, "--long"});
    err = r.err;
    std::map<std::string, std::string> out;
    if (r.status != 0) return out;
    for (const std::string& line : test::lines(r.out)) {
        std::vector<std::string> f;
        std::size_t pos = 0;
        for (int i = 0; i < 4; ++i) {
            const std::size_t tab = line.find('\t', pos);
            if (tab == std::string::npos) break;
            f.push_back(line.substr(pos, tab - pos));
            pos = tab + 1;
        }
        if (f.size() == 4) out[line.substr(pos)] = f[3];
    }
    return out;
}

class ReusedVolume : public ::testing::TestWithParam<const char*> {};

TEST_P(ReusedVolume, TellsIntactPartlyAndWhollyOverwrittenApart) {
    const std::string name = GetParam();
    std::string err;
    const auto states = dataStates(test::fixture(name + ".img"), err);
    ASSERT_FALSE(states.empty()) << err;
    const std::map<std::string, std::string> expected = {
        {"untouched.bin", "intact"},
        {"partly reused.bin", "partly overwritten (50%)"},
        {"wholly reused.bin", "overwritten"},
        {"keep.txt", "-"},
        {"written later.bin", "-"},
    };
    for (const auto& [path, state] : expected) {
        ASSERT_TRUE(states.count(path)) << path;
        EXPECT_EQ(states.at(path), state) << path;
    }
}

// --intact-only writes the live files and the intact deleted one (byte for byte), and nothing
// of the overwritten ones.
TEST_P(ReusedVolume, IntactOnlySaveLeavesTheOverwrittenFilesOut) {
    const std::string name = GetParam();
    test::ScratchDir out;
    const auto r = test::runCli({"save", test::fixture(name + ".img"), "--out", out.path(), "--intact-only"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& e : test::readManifest(name)) {
        const std::string saved = test::sha256File(out.file(e.path));
        if (e.sha256 == "-")
            EXPECT_TRUE(saved.empty()) << e.path << " was saved";
        else
            EXPECT_EQ(saved, e.sha256) << e.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Volumes, ReusedVolume,
                         ::testing::Values("reuse-fat32", "reuse-exfat", "reuse-ntfs", "reuse-ext4"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string n = param.param;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

// Deleted files nothing was written over, on the other fixtures, are intact; the fillers of
// ext4-4k whose blocks a later file took are overwritten.
TEST(Recoverability, DeletedFilesOfTheOtherFixtures) {
    struct Case {
        const char* image;
        const char* path;
        const char* state;
    };
    const Case cases[] = {
        {"fat12-floppy", "Trash/old letter.txt", "intact"},
        {"fat16-2k", "Old project/Sub/notes on the plan.txt", "intact"},
        {"exfat-4k", "Trash/old photo.jpg", "intact"},
        {"exfat-4k", "Old project/Sub/notes on the plan.txt", "intact"},  // below a deleted folder
        {"fat32-4k", "Old project/Sub/notes on the plan.txt", "intact"},
        {"ntfs-basic", "gone/tiny.txt", "intact"},  // resident
        {"ntfs-basic", "deleted.txt", "intact"},
        {"ext4-4k", "Documents/removed.txt", "intact"},
        {"ext4-4k", "Filler/f47.bin", "overwritten"},
    };
    for (const Case& c : cases) {
        std::string err;
        const auto states = dataStates(test::fixture(std::string(c.image) + ".img"), err);
        ASSERT_TRUE(states.count(c.path)) << c.image << " " << c.path << " " << err;
        EXPECT_EQ(states.at(c.path), c.state) << c.image << " " << c.path;
    }
}

TEST(Recoverability, JudgesClaimedRuns) {
    // Units 10..19 are in use; live files own 30..34; the volume has 100 units.
    const auto inUse = [](std::uint64_t u) { return u >= 10 && u < 20; };
    UnitSet live;
    live.add(32, 3);
    live.add(30, 3);  // overlapping and out of order: merged
    live.finish();
    struct Case {
        std::vector<UnitRun> runs;
        DataState state;
        std::uint64_t reused;
        std::string text;
    };
    const Case cases[] = {
        {{}, DataState::Intact, 0, "intact"},
        {{{0, 10}}, DataState::Intact, 0, "intact"},
        {{{5, 10}}, DataState::PartlyOverwritten, 5, "partly overwritten (50%)"},
        {{{10, 10}}, DataState::Overwritten, 10, "overwritten"},
        {{{28, 4}}, DataState::PartlyOverwritten, 2, "partly overwritten (50%)"},
        {{{0, 199}}, DataState::PartlyOverwritten, 10 + 5 + 99, "partly overwritten (57%)"},  // past the end
        {{{0, 1}, {19, 1}}, DataState::PartlyOverwritten, 1, "partly overwritten (50%)"},
        {{{150, UINT64_MAX / 2}}, DataState::Overwritten, UINT64_MAX / 2, "overwritten"},
    };
    // The same units read once beforehand judge every run alike.
    UnitUsage usage(100, inUse);
    usage.markTaken(32, 3);
    usage.markTaken(30, 3);
    usage.finish();
    for (const Case& c : cases) {
        const Recoverability r = judgeRuns(c.runs, 100, inUse, &live);
        EXPECT_EQ(r.state, c.state) << c.text;
        EXPECT_EQ(r.reused, c.reused) << c.text;
        EXPECT_EQ(recoverabilityText(r), c.text);
        const Recoverability u = judgeRuns(c.runs, usage);
        EXPECT_EQ(u.state, c.state) << c.text;
        EXPECT_EQ(u.units, r.units) << c.text;
        EXPECT_EQ(u.reused, c.reused) << c.text;
    }
    EXPECT_EQ(recoverabilityText(Recoverability{}), "unknown");
    // A share that rounds to 0 or 100 still reads as partly overwritten.
    EXPECT_EQ(recoverabilityText({DataState::PartlyOverwritten, 1000, 1}), "partly overwritten (1%)");
    EXPECT_EQ(recoverabilityText({DataState::PartlyOverwritten, 1000, 999}), "partly overwritten (99%)");
}

// Many deleted files that each claim most of a volume are judged in one pass over its units:
// the allocation record is asked once per unit, whatever the number and length of the runs.
TEST(Recoverability, AUsageAsksTheAllocationRecordOncePerUnit) {
    constexpr std::uint64_t kUnits = 100000;
    std::uint64_t asked = 0;
    const auto every3rd = [&asked](std::uint64_t u) {
        ++asked;
        return u % 3 == 0;
    };
    UnitUsage usage(kUnits, every3rd);
    usage.markTaken(50000, 1000);  // a live file
    usage.markTaken(50500, 64);    // another, overlapping it
    usage.markTaken(99990, 100);   // one running past the end
    usage.finish();
    EXPECT_EQ(asked, kUnits);
    const auto brute = [](std::uint64_t first, std::uint64_t count) {
        std::uint64_t taken = 0;
        for (std::uint64_t u = first; u < first + count; ++u)
            taken += u >= kUnits || u % 3 == 0 || (u >= 50000 && u < 51000) || u >= 99990 ? 1 : 0;
        return taken;
    };
    const UnitRun runs[] = {{0, 1},     {1, 2},       {0, 64},     {63, 2},          {5, 511},
                            {511, 514}, {49990, 20},  {50999, 3},  {2, kUnits},      {99000, 2000},
                            {0, kUnits}, {kUnits, 5}, {12345, 67}, {40000, 20000}};
    for (const UnitRun& run : runs) EXPECT_EQ(usage.takenIn(run.first, run.count), brute(run.first, run.count));
    for (std::uint64_t file = 0; file < 10000; ++file) {
        const Recoverability r = judgeRuns({{2 + file, 90000}}, usage);
        EXPECT_EQ(r.state, DataState::PartlyOverwritten);
    }
    EXPECT_EQ(asked, kUnits);
}

// On a medium cut short, the clusters past its end hold nothing that can be read: a deleted
// file that lies there is not intact, whatever the allocation record says.
TEST(Recoverability, DeletedFilesPastTheEndOfACutMediumAreNotIntact) {
    struct Case {
        const char* image;
        const char* path;
        const char* folder;  // must lie before the cut
    };
    const Case cases[] = {{"fat16-2k", "Old project/Sub/notes on the plan.txt", "Sub"},
                          {"exfat-4k", "Trash/old photo.jpg", "Trash"}};
    test::ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        const auto bytes = test::readWholeFile(test::fixture(std::string(c.image) + ".img"));
        std::string path(c.path);
        const std::u16string name = fromUtf8(path.substr(path.rfind('/') + 1));
        std::int64_t fileAt = 0, folderAt = 0;
        if (std::string(c.image).rfind("exfat", 0) == 0) {
            const auto v = test::parseVolume<ExFatParser>(bytes);
            const auto& p = v->parser;
            const auto at = [&p](std::uint32_t cluster) {
                return p.heapOffset + static_cast<std::int64_t>(cluster - 2) * p.clusterBytes;
            };
            fileAt = at(p.entries[static_cast<std::size_t>(test::findRecord(p.entries, name))].firstCluster);
            folderAt = at(p.entries[static_cast<std::size_t>(test::findRecord(p.entries, fromUtf8(c.folder)))].firstCluster);
        } else {
            const auto v = test::parseVolume<Fat16Parser>(bytes);
            const auto& p = v->parser;
            const auto at = [&p](const FatEntry& e) {
                return p.dataOffset + static_cast<std::int64_t>(p.firstCluster(e) - 2) * p.clusterBytes;
            };
            fileAt = at(p.entries[static_cast<std::size_t>(test::findRecord(p.entries, name))]);
            folderAt = at(p.entries[static_cast<std::size_t>(test::findRecord(p.entries, fromUtf8(c.folder)))]);
        }
        ASSERT_LT(folderAt, fileAt);
        test::writeFile(dir.file("cut.img"), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + fileAt));
        std::string err;
        const auto states = dataStates(dir.file("cut.img"), err);
        ASSERT_TRUE(states.count(c.path)) << err;
        EXPECT_EQ(states.at(c.path), "overwritten");
    }
}

}  // namespace
}  // namespace corvello
