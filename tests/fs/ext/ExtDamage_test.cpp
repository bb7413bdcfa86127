#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>

#include "fs/ext/ExtTestSupport.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

using test::ExtScan;

// Saves every file record of a scan into dir; returns how many extractions reported success.
int saveAll(ExtScan& scan, const test::ScratchDir& dir) {
    int ok = 0, n = 0;
    for (const auto& [key, e] : scan.parser->entries()) {
        if (!extIsFile(e.mode)) continue;
        if (test::extractTo(dir.file("f" + std::to_string(n++)),
                            [&](platform::OutputFile& o) { return scan.session->extract(reinterpret_cast<ItemData>(&e), o); }))
            ++ok;
    }
    return ok;
}

struct Located {
    std::uint64_t superblock = 1024;
    std::uint64_t fragmented = 0;   // inode of fragmented.bin (ext4-4k)
    std::uint64_t large = 0;        // inode of Documents/large.bin (ext2-1k)
    std::uint64_t rootBlock = 0;    // first block of the root directory, as a byte offset
    std::uint32_t blockSize = 0;
};

Located locate(const std::string& image, const std::vector<std::uint8_t>& bytes) {
    ExtScan scan(image);
    Located at;
    at.blockSize = scan.parser->blockSize();
    if (const ExtEntry* e = scan.find("fragmented.bin")) at.fragmented = scan.inodeOffset(*e);
    if (const ExtEntry* e = scan.find("Documents/large.bin")) at.large = scan.inodeOffset(*e);
    const ExtEntry* dot = scan.parser->entry(1);
    if (dot != nullptr) {
        const std::uint64_t inode = scan.inodeOffset(*dot);
        const bool extents = test::get32(bytes, inode + 32) & 0x80000;
        const std::uint32_t block = extents ? test::get32(bytes, inode + 40 + 12 + 8) : test::get32(bytes, inode + 40);
        at.rootBlock = static_cast<std::uint64_t>(block) * at.blockSize;
    }
    return at;
}

struct DamageCase {
    const char* name;
    const char* image;
    std::function<void(std::vector<std::uint8_t>&, const Located&)> damage;
    // What must still hold; the scan and every extraction must end cleanly in every case.
    std::function<void(ExtScan&)> expect;
};

void expectFile(ExtScan& scan, const char* path, bool present) {
    EXPECT_EQ(scan.find(path) != nullptr, present) << path;
}

TEST(ExtDamage, DamagedStructuresEndCleanly) {
    const DamageCase cases[] = {
        {"inode count too large", "ext4-4k", [](auto& b, const Located& at) { test::put32(b, at.superblock + 0, 0xFFFFFFFF); },
         [](ExtScan& s) { expectFile(s, "Documents/letter.txt", true); }},
        {"blocks count too large", "ext2-1k", [](auto& b, const Located& at) { test::put32(b, at.superblock + 4, 0xFFFFFFF0); },
         [](ExtScan& s) { expectFile(s, "readme.txt", true); }},
        {"inodes per group 0", "ext3-4k", [](auto& b, const Located& at) { test::put32(b, at.superblock + 40, 0); },
         [](ExtScan& s) { EXPECT_FALSE(s.superblock); }},
        {"block size exponent 9", "ext3-4k", [](auto& b, const Located& at) { test::put32(b, at.superblock + 24, 9); },
         [](ExtScan& s) { EXPECT_FALSE(s.superblock); }},
        {"inode table outside the volume", "ext3-4k",
         [](auto& b, const Located& at) { test::put32(b, at.blockSize + 8, 0x7FFFFFFF); },
         [](ExtScan& s) { EXPECT_TRUE(s.parser->entries().size() <= 1); }},
        {"extent depth 7", "ext4-4k", [](auto& b, const Located& at) { test::put16(b, at.fragmented + 40 + 6, 7); },
         [](ExtScan& s) { expectFile(s, "readme.txt", true); }},
        {"extent entries beyond the node", "ext4-4k",
         [](auto& b, const Located& at) { test::put16(b, at.fragmented + 40 + 2, 0xFFFF); }, nullptr},
        {"extent index outside the volume", "ext4-4k",
         [](auto& b, const Located& at) { test::put32(b, at.fragmented + 40 + 12 + 4, 0xFFFFFF00); }, nullptr},
        {"extent index pointing at itself's inode table", "ext4-4k",
         [](auto& b, const Located& at) { test::put32(b, at.fragmented + 40 + 12 + 4, 1); }, nullptr},
        {"indirect block outside the volume", "ext2-1k",
         [](auto& b, const Located& at) { test::put32(b, at.large + 40 + 48, 0xFFFFFFF0); }, nullptr},
        {"double-indirect block is the inode table", "ext2-1k",
         [](auto& b, const Located& at) { test::put32(b, at.large + 40 + 52, 5); }, nullptr},
        {"record length 0", "ext2-1k", [](auto& b, const Located& at) { test::put16(b, at.rootBlock + 12 + 4, 0); },
         [](ExtScan& s) { expectFile(s, "readme.txt", false); }},
        {"record length past the block", "ext4-4k",
         [](auto& b, const Located& at) { test::put16(b, at.rootBlock + 12 + 4, 0xFFFC); },
         [](ExtScan& s) { expectFile(s, "readme.txt", false); }},
        {"record length 3", "ext3-4k", [](auto& b, const Located& at) { test::put16(b, at.rootBlock + 4, 3); }, nullptr},
        {"name longer than the record", "ext3-4k",
         [](auto& b, const Located& at) { test::put16(b, at.rootBlock + 12 + 6, 4000); }, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string original = test::fixture(std::string(c.image) + ".img");
        auto bytes = test::readAll(original);
        const Located at = locate(original, bytes);
        c.damage(bytes, at);
        test::ScratchDir dir;
        test::writeFile(dir.file("damaged.img"), bytes);
        ExtScan scan(dir.file("damaged.img"));
        if (c.expect) c.expect(scan);
        if (scan.descriptors) saveAll(scan, dir);
    }
}

TEST(ExtDamage, BadExtentTreeLeavesTheRestIntact) {
    // A damaged extent tree fails that file's extraction only; the others are saved whole.
    const std::string original = test::fixture("ext4-4k.img");
    auto bytes = test::readAll(original);
    const Located at = locate(original, bytes);
    test::put32(bytes, at.fragmented + 40 + 12 + 4, 0xFFFFFF00);
    test::ScratchDir dir;
    test::writeFile(dir.file("damaged.img"), bytes);
    ExtScan scan(dir.file("damaged.img"));
    const ExtEntry* fragmented = scan.find("fragmented.bin");
    const ExtEntry* letter = scan.find("Documents/letter.txt");
    ASSERT_TRUE(fragmented && letter);
    EXPECT_FALSE(test::extractTo(dir.file("fragmented"), [&](platform::OutputFile& o) { return scan.session->extract(reinterpret_cast<ItemData>(fragmented), o); }));
    EXPECT_TRUE(test::extractTo(dir.file("letter"), [&](platform::OutputFile& o) { return scan.session->extract(reinterpret_cast<ItemData>(letter), o); }));
    for (const auto& m : test::readManifest("ext4-4k")) {
        if (m.path == "Documents/letter.txt") {
            EXPECT_EQ(test::sha256File(dir.file("letter")), m.sha256);
        }
    }
}

TEST(ExtDamage, IndirectBlockOutsideTheVolumeKeepsLaterDataInPlace) {
    // The single-indirect pointer of large.bin (1 KiB blocks) points outside the volume: its 256
    // blocks read as zeros and the double-indirect data stay at their offsets.
    const std::string original = test::fixture("ext2-1k.img");
    auto bytes = test::readAll(original);
    const Located at = locate(original, bytes);
    test::put32(bytes, at.large + 40 + 48, 0xFFFFFFF0);
    test::ScratchDir dir;
    test::writeFile(dir.file("damaged.img"), bytes);
    ExtScan scan(dir.file("damaged.img"));
    const ExtEntry* large = scan.find("Documents/large.bin");
    ASSERT_NE(large, nullptr);
    EXPECT_FALSE(test::extractTo(dir.file("large"), [&](platform::OutputFile& o) { return scan.session->extract(reinterpret_cast<ItemData>(large), o); }));
    test::ScratchDir good;
    ExtScan intact(original);
    ASSERT_TRUE(test::extractTo(good.file("large"), [&](platform::OutputFile& o) {
        return intact.session->extract(reinterpret_cast<ItemData>(intact.find("Documents/large.bin")), o);
    }));
    const auto damaged = test::readAll(dir.file("large"));
    const auto whole = test::readAll(good.file("large"));
    ASSERT_EQ(damaged.size(), whole.size());
    const std::size_t lost = 12 * 1024, end = (12 + 256) * 1024;
    EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + lost, damaged.begin()));
    EXPECT_TRUE(std::all_of(damaged.begin() + lost, damaged.begin() + end, [](std::uint8_t v) { return v == 0; }));
    EXPECT_TRUE(std::equal(whole.begin() + end, whole.end(), damaged.begin() + end));
}

TEST(ExtDamage, RandomMetadataDamage) {
    // Seeded byte damage over the metadata at the front of each volume (superblock, descriptors,
    // bitmaps, inode tables, directories): every scan and extraction must end.
    for (const char* name : {"ext2-1k", "ext4-4k"}) {
        const auto original = test::readAll(test::fixture(std::string(name) + ".img"));
        std::mt19937 rng(1234);
        for (int round = 0; round < 12; ++round) {
            SCOPED_TRACE(std::string(name) + " round " + std::to_string(round));
            auto bytes = original;
            std::uniform_int_distribution<std::size_t> where(1024, 1024 * 1024 - 1);
            std::uniform_int_distribution<int> value(0, 255);
            for (int i = 0; i < 400; ++i) bytes[where(rng)] = static_cast<std::uint8_t>(value(rng));
            test::ScratchDir dir;
            test::writeFile(dir.file("damaged.img"), bytes);
            ExtScan scan(dir.file("damaged.img"));
            if (!scan.descriptors) continue;
            // Every file record is written (whole or not) into the folder, and nothing else.
            const int ok = saveAll(scan, dir);
            int written = 0;
            for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
                const std::string file = e.path().filename().string();
                if (file == "damaged.img") continue;
                EXPECT_EQ(file[0], 'f') << file;
                EXPECT_TRUE(e.is_regular_file()) << file;
                ++written;
            }
            EXPECT_LE(ok, written);
        }
    }
}

}  // namespace
}  // namespace corvello

namespace corvello {
namespace {

TEST(ExtDamage, NamesFromDiskStayInsideTheOutputFolder) {
    // Directory entries renamed to climb out of the output folder, or to hold a separator: the
    // files are saved inside it under safe names.
    const std::string original = test::fixture("ext2-1k.img");
    auto bytes = test::readAll(original);
    const Located at = locate(original, bytes);
    const auto rename = [&](const std::string& from, const std::string& to) {
        std::size_t found = 0;
        for (std::uint64_t off = at.rootBlock; off + from.size() < at.rootBlock + at.blockSize; ++off) {
            if (std::equal(from.begin(), from.end(), bytes.begin() + static_cast<std::ptrdiff_t>(off))) {
                std::copy(to.begin(), to.end(), bytes.begin() + static_cast<std::ptrdiff_t>(off));
                ++found;
            }
        }
        ASSERT_EQ(found, 1u) << from;
    };
    rename("readme.txt", "../../evil");
    rename("Photos", "../../");
    test::ScratchDir dir;
    test::writeFile(dir.file("names.img"), bytes);
    const std::string out = dir.file("out");
    const auto save = test::runCli({"save", dir.file("names.img"), "--out", out});
    ASSERT_EQ(save.status, 0) << save.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("evil")));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/../evil"));
    std::size_t outside = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename() != "out" && e.path().filename() != "names.img") ++outside;
    EXPECT_EQ(outside, 0u);
    EXPECT_TRUE(std::filesystem::exists(out + "/.._.._evil"));
    EXPECT_EQ(std::filesystem::file_size(out + "/.._.._evil"), 3000u);
    EXPECT_EQ(std::filesystem::file_size(out + "/.._.._/Holiday/beach.jpg"), 180000u);
}

}  // namespace
}  // namespace corvello
