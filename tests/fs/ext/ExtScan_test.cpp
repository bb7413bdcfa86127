#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>

#include "common/DisplayFormat.h"
#include "fs/ext/ExtTestSupport.h"
#include "scan/SaveWalk.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

using test::ExtScan;

// 2021-05-04 12:34:56 UTC: the modification time of every source file of the fixtures.
constexpr std::int64_t kSourceTime = 1620131696;

std::set<std::string> listed(const std::string& out) {
    const auto rows = test::lines(out);
    return std::set<std::string>(rows.begin(), rows.end());
}

std::string row(const test::ManifestEntry& m) {
    return m.kind + "\t" + m.state + "\t" + std::to_string(m.kind == "d" ? 0 : m.size) + "\t" + m.path;
}

// Every folder and file of the manifest (live and deleted) is listed with its state and size,
// and saved byte for byte (holes, preallocated blocks and fragmented extent trees included)
// with its modification time.
void checkListAndSave(const std::vector<std::string>& volumeArgs, const std::string& manifestName) {
    const auto manifest = test::readManifest(manifestName);
    ASSERT_FALSE(manifest.empty());
    std::vector<std::string> args = {"list"};
    args.insert(args.end(), volumeArgs.begin(), volumeArgs.end());
    const auto list = test::runCli(args);
    ASSERT_EQ(list.status, 0) << list.err;
    const auto rows = listed(list.out);
    for (const auto& m : manifest) EXPECT_TRUE(rows.count(row(m))) << "not listed: " << row(m);
    // The root's own "." record is the root itself, no folder below it.
    for (const auto& r : rows) EXPECT_FALSE(r.ends_with("\t_.") || r.ends_with("\t.")) << r;

    test::ScratchDir out;
    args = {"save"};
    args.insert(args.end(), volumeArgs.begin(), volumeArgs.end());
    args.insert(args.end(), {"--out", out.path()});
    const auto save = test::runCli(args);
    ASSERT_EQ(save.status, 0) << save.err;
    EXPECT_FALSE(std::filesystem::exists(out.file("_.")));
    for (const auto& m : manifest) {
        const std::string path = out.file(m.path);
        if (m.kind == "d") {
            EXPECT_TRUE(std::filesystem::is_directory(path)) << m.path;
            continue;
        }
        EXPECT_EQ(test::sha256File(path), m.sha256) << m.path;
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0) << m.path;
        EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), m.size) << m.path;
        if (m.path != "fragmented.bin" && m.path != "prealloc.bin") {  // written later by debugfs
            EXPECT_EQ(st.st_mtim.tv_sec, kSourceTime) << m.path;
        }
    }
}

class ExtFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(ExtFixture, ListsAndSavesEveryFileOfTheManifest) {
    const std::string name = GetParam();
    checkListAndSave({test::fixture(name + ".img")}, name);
}

INSTANTIATE_TEST_SUITE_P(Volumes, ExtFixture, ::testing::Values("ext2-1k", "ext3-4k", "ext4-4k", "ext4-metabg", "ext4-inline"));

struct Geometry {
    const char* image;
    std::uint32_t blockSize;
    std::uint32_t groups;
    std::uint32_t descriptorSize;
    bool fileType;
    std::uint64_t descriptorTable;  // byte offset
};

TEST(ExtVolume, ReadsTheGeometryOfEachFixture) {
    const Geometry cases[] = {
        // 20,480 blocks of 1 KiB, 8,192 per group: the third group is partial and counts.
        {"ext2-1k", 1024, 3, 32, true, 2048},
        {"ext3-4k", 4096, 1, 32, false, 4096},
        {"ext4-4k", 4096, 4, 64, true, 4096},
        {"ext4-metabg", 1024, 24, 64, true, 2048},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        ExtScan scan(test::fixture(std::string(c.image) + ".img"));
        ASSERT_TRUE(scan.superblock);
        ASSERT_TRUE(scan.descriptors);
        EXPECT_EQ(scan.parser->superblockOffset(), 1024u);
        EXPECT_EQ(scan.parser->blockSize(), c.blockSize);
        EXPECT_EQ(scan.parser->groupCount(), c.groups);
        EXPECT_EQ(scan.parser->descriptorSize(), c.descriptorSize);
        EXPECT_EQ(scan.parser->hasFileType(), c.fileType);
        // The first group's inode table as the descriptor at the table's start gives it.
        const auto bytes = test::readAll(test::fixture(std::string(c.image) + ".img"));
        EXPECT_EQ(scan.parser->inodeTableBlock(0), test::get32(bytes, c.descriptorTable + 8));
        // Groups past the first: with 64-byte descriptors the second one starts at byte 64.
        if (c.groups > 1) {
            EXPECT_EQ(scan.parser->inodeTableBlock(1), test::get32(bytes, c.descriptorTable + c.descriptorSize + 8));
        }
    }
    // With meta_bg, the descriptors of groups 16 to 31 (16 a block) open group 16 (block 16,385,
    // which holds no superblock copy).
    ExtScan metabg(test::fixture("ext4-metabg.img"));
    const auto bytes = test::readAll(test::fixture("ext4-metabg.img"));
    for (std::uint32_t g = 16; g < 24; ++g)
        EXPECT_EQ(metabg.parser->inodeTableBlock(g), test::get32(bytes, 16385u * 1024 + (g - 16) * 64 + 8)) << g;
}

TEST(ExtVolume, TreeTopLevelAndParents) {
    ExtScan scan(test::fixture("ext2-1k.img"));
    ASSERT_TRUE(scan.descriptors);
    const auto top = scan.tree.children(kTreeTop);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(scan.tree.itemText(top[0]), u"ROOT");
    EXPECT_TRUE(scan.tree.isExpanded(top[0]));
    std::map<std::u16string, IconKind> shown;
    for (TreeItem item : scan.tree.children(top[0])) shown[scan.tree.itemText(item)] = scan.tree.itemIcon(item);
    // The root's own "." record is a folder under ROOT; a link is shown as a file; a pipe is not shown.
    EXPECT_EQ(shown.at(u"."), IconKind::Folder);
    EXPECT_EQ(shown.at(u"Documents"), IconKind::Folder);
    EXPECT_EQ(shown.at(u"readme.txt"), IconKind::File);
    EXPECT_EQ(shown.at(u"link.txt"), IconKind::File);
    EXPECT_EQ(shown.at(u"café.txt"), IconKind::File);
    EXPECT_EQ(shown.count(u"pipe"), 0u);

    const ExtEntry* readme = scan.find("readme.txt");
    const ExtEntry* documents = scan.find("Documents");
    const ExtEntry* letter = scan.find("Documents/letter.txt");
    ASSERT_TRUE(readme && documents && letter);
    EXPECT_EQ(readme->parent, 2);
    EXPECT_EQ(letter->parent, static_cast<std::int32_t>(documents->index));
    EXPECT_EQ(scan.parser->entry(1)->name, ".");
    EXPECT_EQ(scan.parser->entry(1)->parent, 2);

    const auto statuses = scan.host.statuses();
    const std::set<std::string> seen(statuses.begin(), statuses.end());
    for (const char* text : {"parsing group 3  of 3 ", "parsed inode entry 192  of 192 ", "clearing vector....",
                             "Maintaining Parent Child....", "filling root entries in  tree...."})
        EXPECT_TRUE(seen.count(text)) << text;
}

TEST(ExtVolume, DisplayTexts) {
    ExtScan scan(test::fixture("ext4-4k.img"));
    ASSERT_TRUE(scan.descriptors);
    const ExtEntry* letter = scan.find("Documents/letter.txt");
    const ExtEntry* documents = scan.find("Documents");
    ASSERT_TRUE(letter && documents);
    const auto file = scan.parser->timeTexts(*letter);
    // Hours 0 to 12 read AM, as everywhere in the program. The change time is when the image
    // was made.
    EXPECT_EQ(file[0].size(), std::string("05/04/2021  12:34 AM").size());
    EXPECT_EQ(file[1], "05/04/2021  12:34 AM");
    EXPECT_EQ(file[2], "05/04/2021  12:34 AM");
    EXPECT_EQ(file[3], "-OR-GR-UW-UR");  // 0644
    EXPECT_EQ(scan.parser->timeTexts(*documents)[3], "-OE-OR-GE-GR-UE-UW-UR");  // 0755
    EXPECT_EQ(scan.parser->sizeText(*letter), "4.88 KB");
    EXPECT_EQ(extPermissionText(0), "");
}

TEST(ExtVolume, SizeHighWordCounts) {
    // A file of 5,000,000,000 bytes: size high 1, low 705,032,704.
    test::ScratchDir dir;
    auto bytes = test::readAll(test::fixture("ext2-1k.img"));
    std::uint64_t inode = 0;
    {
        ExtScan scan(test::fixture("ext2-1k.img"));
        const ExtEntry* e = scan.find("Documents/large.bin");
        ASSERT_NE(e, nullptr);
        inode = scan.inodeOffset(*e);
    }
    test::put32(bytes, inode + 4, 705032704u);
    test::put32(bytes, inode + 108, 1);
    test::writeFile(dir.file("big.img"), bytes);
    ExtScan scan(dir.file("big.img"));
    const ExtEntry* e = scan.find("Documents/large.bin");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->size, 5000000000ull);
    EXPECT_EQ(scan.parser->sizeText(*e), "4.66 GB");
}

TEST(ExtVolume, FindsTheSuperblockAfterJunk) {
    // 512 bytes of junk before the volume: the superblock is at 1536 and every block lies 512
    // bytes later than the volume's own numbers say.
    test::ScratchDir dir;
    for (const char* name : {"ext2-1k", "ext4-4k"}) {
        SCOPED_TRACE(name);
        auto bytes = test::readAll(test::fixture(std::string(name) + ".img"));
        std::vector<std::uint8_t> shifted(512, 0xA5);
        shifted.insert(shifted.end(), bytes.begin(), bytes.end());
        const std::string image = dir.file(std::string(name) + "-junk.img");
        test::writeFile(image, shifted);
        ExtScan scan(image);
        ASSERT_TRUE(scan.descriptors);
        EXPECT_EQ(scan.parser->superblockOffset(), 1536u);
        EXPECT_EQ(scan.parser->volumeStart(), 512);
        checkListAndSave({image, "--start", "0", "--fs", "extX"}, name);
    }
}

TEST(ExtVolume, UsesTheBackupSuperblockWhenThePrimaryIsDamaged) {
    // The primary superblock's blocks per group is 0: the copy at the start of group 1 (with its
    // copy of the descriptors) is used instead.
    test::ScratchDir dir;
    auto bytes = test::readAll(test::fixture("ext4-4k.img"));
    test::put32(bytes, 1024 + 32, 0);
    test::writeFile(dir.file("backup.img"), bytes);
    ExtScan scan(dir.file("backup.img"));
    ASSERT_TRUE(scan.descriptors);
    EXPECT_EQ(scan.parser->superblockOffset(), 2048u * 4096u);
    EXPECT_EQ(scan.parser->volumeStart(), 0);
    checkListAndSave({dir.file("backup.img")}, "ext4-4k");
}

TEST(ExtVolume, VolumeInsideADiskImage) {
    // The sample disk's second volume (row 1) is ext4, 2,000 bytes of readme.txt.
    const auto list = test::runCli({"list", test::fixture("sample-disk.img"), "--volume", "1"});
    ASSERT_EQ(list.status, 0) << list.err;
    const auto rows = listed(list.out);
    EXPECT_TRUE(rows.count("f\tlive\t2000\treadme.txt"));
    EXPECT_TRUE(rows.count("d\tlive\t0\tlost+found"));
    test::ScratchDir out;
    const auto save = test::runCli({"save", test::fixture("sample-disk.img"), "--volume", "1", "--out", out.path()});
    ASSERT_EQ(save.status, 0) << save.err;
    EXPECT_EQ(std::filesystem::file_size(out.file("readme.txt")), 2000u);
}

TEST(ExtVolume, StopKeepsWhatWasGathered) {
    // Stop while the second of three groups is read: the third group's inodes are not recorded,
    // the rest of the scan runs on what was gathered and the stop is cleared.
    ExtScan scan(test::fixture("ext2-1k.img"), [](MemoryScanHost& host) {
        host.setObserver([once = false](const MemoryScanHost& h) mutable {
            if (!once && h.lastStatus() == "parsing group 2  of 3 ") {
                once = true;
                const_cast<MemoryScanHost&>(h).requestStop();
            }
        });
    });
    ASSERT_TRUE(scan.descriptors);
    EXPECT_FALSE(scan.host.stopRequested());
    const auto statuses = scan.host.statuses();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "parsing group 3  of 3 "), 0);
    EXPECT_NE(scan.find("Documents/letter.txt"), nullptr);  // inode in group 0
    EXPECT_EQ(scan.find("Many/file-149.txt"), nullptr);      // inode in group 2
    EXPECT_EQ(scan.tree.children(kTreeTop).size(), 1u);
}

TEST(ExtVolume, NotAnExtVolume) {
    // The FAT32 volume of the sample disk read as ext: no superblock, a clear error.
    const auto list = test::runCli({"list", test::fixture("sample-disk.img"), "--volume", "0", "--fs", "extX"});
    EXPECT_EQ(list.status, 1);
    EXPECT_TRUE(list.out.empty());
    EXPECT_NE(list.err.find("extX"), std::string::npos) << list.err;
}

// Large inodes keep a creation time beside the change time; the reports take it, the row texts
// keep showing the change time. Small (128-byte) inodes have none.
TEST(ExtVolume, LargeInodesGiveTheCreationTime) {
    for (const char* image : {"ext2-1k", "ext3-4k", "ext4-4k", "ext4-metabg"}) {
        ExtScan scan(test::fixture(std::string(image) + ".img"));
        ASSERT_TRUE(scan.parser) << image;
        const ExtEntry* letter = scan.find("Documents/letter.txt");
        ASSERT_TRUE(letter) << image;
        const auto data = reinterpret_cast<ItemData>(letter);
        const EntryTimes times = scan.session->times(data);
        ASSERT_TRUE(times.change && times.modification) << image;
        if (scan.parser->inodeSize() <= 128) {
            EXPECT_FALSE(times.creation) << image;
            continue;
        }
        ASSERT_TRUE(times.creation) << image;
        // Made when the image was made: after the file's own modification time (kept from the
        // source tree), never after its inode last changed.
        EXPECT_GE(times.creation->seconds, times.modification->seconds) << image;
        EXPECT_LE(times.creation->seconds, times.change->seconds) << image;
        EXPECT_EQ(scan.session->rowTexts(data)[0], formatLocalTime(*times.change)) << image;
    }
}

// An inode with three names (hard links, two in one folder) is an entry for each, as fls lists
// it: every name is listed and saved as a file of its own with the inode's bytes, in use as its
// directory entry is.
TEST(ExtVolume, EveryNameOfAnInodeIsAnEntry) {
    const std::string image = test::fixture("ext4-links.img");
    const auto manifest = test::readManifest("ext4-links");
    ASSERT_FALSE(manifest.empty());
    const auto list = test::runCli({"list", image});
    ASSERT_EQ(list.status, 0) << list.err;
    const auto rows = listed(list.out);
    for (const auto& m : manifest) EXPECT_TRUE(rows.count(row(m))) << "not listed: " << row(m);

    ExtScan scan(image);
    ASSERT_TRUE(scan.parser);
    const char* names[] = {"Links/original.txt", "Links/second.txt", "Other/third.txt"};
    const ExtEntry* first = scan.find(names[0]);
    ASSERT_NE(first, nullptr);
    std::set<const ExtEntry*> records;
    for (const char* name : names) {
        const ExtEntry* e = scan.find(name);
        ASSERT_NE(e, nullptr) << name;
        records.insert(e);
        EXPECT_EQ(e->index, first->index) << name;
        EXPECT_EQ(scan.inodeOffset(*e), scan.inodeOffset(*first)) << name;
        EXPECT_FALSE(e->deleted) << name;
        EXPECT_EQ(scan.session->saveKind(reinterpret_cast<ItemData>(e)), SaveKind::File) << name;
    }
    EXPECT_EQ(records.size(), 3u);

    test::ScratchDir out;
    for (const char* folder : {"Links", "Other"}) {
        const auto save = test::runCli({"save", image, "--path", folder, "--out", out.file(folder)});
        ASSERT_EQ(save.status, 0) << save.err;
    }
    for (const auto& m : manifest) {
        if (m.path.rfind("Links/", 0) != 0 && m.path.rfind("Other/", 0) != 0) continue;
        EXPECT_EQ(test::sha256File(out.file(m.path)), m.sha256) << m.path;
    }
}

// A sparse file larger than the volume (1 GiB + 5 bytes in two blocks on 32 MiB): its holes are
// zeros by definition, never reads. It is saved whole at its size, its zeros not written, and
// nothing of it is reported missing.
TEST(ExtVolume, ASparseFileLargerThanTheVolumeIsSavedWhole) {
    ExtScan scan(test::fixture("ext4-links.img"));
    ASSERT_TRUE(scan.parser);
    const ExtEntry* huge = scan.find("huge-sparse.bin");
    ASSERT_NE(huge, nullptr);
    constexpr std::uint64_t kTail = 1ull << 30;
    constexpr std::uint64_t kSize = kTail + 5;
    ASSERT_EQ(huge->size, kSize);
    const auto data = reinterpret_cast<ItemData>(huge);
    std::string head;
    for (int i = 0; i < 1024; ++i) head += "HEAD";

    test::ScratchDir dir;
    MemoryScanHost host;
    const SaveResult r = saveRecords(*scan.session, {data}, dir.path(), host);
    EXPECT_EQ(r.written, 1u);
    for (const auto& p : r.problems) ADD_FAILURE() << p.path << ": " << p.missingBytes << " missing " << p.error;
    EXPECT_EQ(r.mediumBytes, head.size() + 5);
    EXPECT_FALSE(r.beyondVolume);

    const std::string path = dir.file("huge-sparse.bin");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), kSize);
    EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, 1u << 20) << "the zeros of the hole were written";
    std::ifstream in(path, std::ios::binary);
    const auto at = [&](std::uint64_t offset, std::size_t count) {
        std::string bytes(count, '?');
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(bytes.data(), static_cast<std::streamsize>(count));
        return bytes;
    };
    EXPECT_EQ(at(0, head.size()), head);
    EXPECT_EQ(at(kTail, 5), "TAIL\n");
    // The hole, where the volume ends and just before the tail.
    for (const std::uint64_t offset : std::vector<std::uint64_t>{4096, (32u << 20) - 100, kTail - 65536}) {
        const std::string window = at(offset, 65536);
        EXPECT_EQ(std::count(window.begin(), window.end(), '\0'), 65536) << offset;
    }

    // Read by offset, as the mount and cat read it.
    std::vector<std::uint8_t> tail(16);
    EXPECT_EQ(scan.session->read(data, kTail, tail), std::optional<std::size_t>(5));
    EXPECT_EQ(std::string(tail.begin(), tail.begin() + 5), "TAIL\n");
}

}  // namespace
}  // namespace corvello
