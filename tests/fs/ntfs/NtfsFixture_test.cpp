// The NTFS parser on volumes made by mkntfs and ntfs-3g, through the command line: every file
// and folder of the manifest listed with its state and size, every file saved byte for byte
// with its times (compressed, sparse, resident, fragmented with a non-resident attribute list
// and its name in an extension record, deleted), the recycle bin's original names, the
// zeroed-boot-sector copy, and a volume inside a partitioned disk.

#include <gtest/gtest.h>

#include <map>
#include <fstream>
#include <iterator>
#include <vector>
#include <sys/stat.h>

#include "support/TestSupport.h"

namespace corvello {
namespace {

// Every file and folder of the fixture was stamped 2021-03-04 05:06:07 UTC.
constexpr long kStamp = 1614834367;

// The recycle-bin pass shows the data file under the name its index file records.
std::string shownPath(const std::string& path) {
    const std::string recycled = "$RECYCLE.BIN/S-1-5-21-1000/$RK3Q9Z1.txt";
    return path == recycled ? "$RECYCLE.BIN/S-1-5-21-1000/budget notes.txt" : path;
}

struct Line {
    std::string kind, state;
    std::uint64_t size = 0;
};

std::map<std::string, Line> listVolume(const std::vector<std::string>& args) {
    const test::CliResult r = test::runCli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, Line> out;
    for (const std::string& line : test::lines(r.out)) {
        const auto t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
        if (t3 == std::string::npos) continue;
        Line l{line.substr(0, t1), line.substr(t1 + 1, t2 - t1 - 1), std::stoull(line.substr(t2 + 1, t3 - t2 - 1))};
        EXPECT_TRUE(out.emplace(line.substr(t3 + 1), l).second) << "listed twice: " << line;
    }
    return out;
}

void expectManifestListed(const std::map<std::string, Line>& listed, const std::string& manifest) {
    for (const test::ManifestEntry& m : test::readManifest(manifest)) {
        const std::string path = shownPath(m.path);
        const auto it = listed.find(path);
        ASSERT_NE(it, listed.end()) << path;
        EXPECT_EQ(it->second.kind, m.kind) << path;
        EXPECT_EQ(it->second.state, m.state) << path;
        if (m.kind == "f") {
            EXPECT_EQ(it->second.size, m.size) << path;
        }
    }
}

// ntfs-basic has 4096-byte clusters; ntfs-small 512-byte clusters, so that each MFT record
// spans two clusters.
const char* const kVolumes[] = {"ntfs-basic", "ntfs-small"};

TEST(NtfsFixture, ListsEveryManifestEntryWithStateAndSize) {
    for (const std::string name : kVolumes) {
        const auto listed = listVolume({"list", test::fixture(name + ".img")});
        expectManifestListed(listed, name);
        // The system files are there, record 0 is never shown, extension records add no entry.
        EXPECT_TRUE(listed.count("$MFTMirr")) << name;
        EXPECT_TRUE(listed.count("$Extend/$ObjId")) << name;
        EXPECT_FALSE(listed.count("$MFT")) << name;
        EXPECT_EQ(listed.at("ORPHAN_ENTRY").kind, "d") << name;
    }
    std::size_t inMany = 0;
    for (const auto& [path, line] : listVolume({"list", test::fixture("ntfs-basic.img")}))
        inMany += path.rfind("many/", 0) == 0;
    EXPECT_EQ(inMany, 300u);
}

TEST(NtfsFixture, SavesEveryFileByteForByteWithItsTimes) {
    for (const std::string name : kVolumes) {
        test::ScratchDir dir;
        const test::CliResult r = test::runCli({"save", test::fixture(name + ".img"), "--out", dir.path()});
        ASSERT_EQ(r.status, 0) << r.err;
        std::size_t checked = 0;
        for (const test::ManifestEntry& m : test::readManifest(name)) {
            if (m.kind != "f") continue;
            const std::string path = dir.file(shownPath(m.path));
            EXPECT_EQ(test::sha256File(path), m.sha256) << name << ": " << m.path;
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0) << m.path;
            EXPECT_EQ(st.st_mtim.tv_sec, kStamp) << name << ": " << m.path;
            ++checked;
        }
        EXPECT_GT(checked, 40u) << name;
        // "$BadClus" is counted but never written.
        EXPECT_FALSE(std::ifstream(dir.file("$BadClus")).good());
    }
}

TEST(NtfsFixture, SavesOneFolderOnly) {
    test::ScratchDir dir;
    const test::CliResult r =
        test::runCli({"save", test::fixture("ntfs-basic.img"), "--path", "compressed", "--out", dir.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const test::ManifestEntry& m : test::readManifest("ntfs-basic")) {
        if (m.kind != "f" || m.path.rfind("compressed/", 0) != 0) continue;
        EXPECT_EQ(test::sha256File(dir.file(m.path.substr(11))), m.sha256) << m.path;
    }
    EXPECT_FALSE(std::ifstream(dir.file("resident.txt")).good());
}

// A zeroed boot sector: the volume opens from the backup boot sector in its last sector, or,
// when that is gone as well, from the MFT record found by the scan.
TEST(NtfsFixture, ZeroedBootSectorFallsBackToTheMftRecordScan) {
    test::ScratchDir images;
    std::ifstream in(test::fixture("ntfs-noboot.img"), std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 1024u);
    std::fill(bytes.end() - 512, bytes.end(), 0);
    test::writeFile(images.file("nobackup.img"), bytes);

    const auto healthy = listVolume({"list", test::fixture("ntfs-basic.img")});
    for (const std::string& image : {test::fixture("ntfs-noboot.img"), images.file("nobackup.img")}) {
        SCOPED_TRACE(image);
        const auto fallback = listVolume({"list", image, "--fs", "ntfs"});
        EXPECT_EQ(fallback.size(), healthy.size());
        expectManifestListed(fallback, "ntfs-noboot");
        test::ScratchDir dir;
        const test::CliResult r = test::runCli({"save", image, "--fs", "ntfs", "--path", "many", "--out", dir.path()});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const test::ManifestEntry& m : test::readManifest("ntfs-noboot"))
            if (m.kind == "f" && m.path.rfind("many/", 0) == 0) {
                EXPECT_EQ(test::sha256File(dir.file(m.path.substr(5))), m.sha256) << m.path;
            }
    }
}

TEST(NtfsFixture, VolumeInsidePartitionedDisk) {
    const auto listed = listVolume({"list", test::fixture("mbr-disk.img"), "--volume", "1"});
    EXPECT_EQ(listed.at("$UpCase").size, 131072u);
    EXPECT_EQ(listed.at("$Extend").kind, "d");
}

}  // namespace
}  // namespace corvello
