// The HFS+ parser on damaged volumes: every size, offset, length, extent and count read from
// disk is checked, so a damaged volume ends each branch cleanly, never crashes or hangs, and
// never makes extraction write more than the volume holds.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "fs/hfsplus/HfsScanHelper.h"
#include "fs/hfsplus/HfsVolumeBuilder.h"

namespace corvello {
namespace {

using namespace test::hfs;

VolumeBuilder baseVolume() {
    VolumeBuilder v;
    v.put(40, std::vector<std::uint8_t>(8 * 4096, 0x5A));
    v.records = {
        folder(2, 1, u"volume"),
        folder(16, 2, u"dir"),
        file(17, 16, u"a", 5000, {{40, 2}}),
        file(18, 2, u"b", 100, {{42, 1}}),
        file(19, 2, u"c", 3 * 4096, {{44, 1}}, 3),
    };
    v.overflow = {{0, 19, 1, {{45, 2}}}};
    return v;
}

struct Outcome {
    bool scanned = false;
    std::vector<std::string> listing;
    std::map<std::string, std::uintmax_t> written;  // saved file -> its size
};

// Scans the image in one mode, lists it and saves everything.
Outcome run(const test::ScratchDir& dir, const std::vector<std::uint8_t>& image, RecoveryMode mode) {
    Outcome o;
    auto s = scanBytes(dir, image, mode);
    if (!s->session) return o;
    o.scanned = true;
    o.listing = s->listing();
    const std::string out = dir.file(mode == RecoveryMode::Standard ? "std" : "deep");
    std::filesystem::remove_all(out);
    saveRecords(*s->session, topLevelRecords(*s->session, s->tree), out, s->host);
    for (const auto& f : std::filesystem::recursive_directory_iterator(out))
        if (f.is_regular_file()) o.written[std::filesystem::relative(f.path(), out).string()] = f.file_size();
    return o;
}

TEST(HfsPlusDamaged, EachDamageEndsItsBranchCleanly) {
    const VolumeBuilder v = baseVolume();
    const std::vector<std::uint8_t> good = v.build();
    const std::size_t catalogHeader = v.catalogNodeOffset(0);
    const std::size_t leaf = v.catalogNodeOffset(1);
    const std::size_t extentsLeaf = v.extentsNodeOffset(1);
    const std::size_t firstRecord = leaf + 14;
    // Offset of a record's data in the leaf: records are laid out in order, one after another.
    auto recordData = [&](std::size_t index) {
        std::size_t at = firstRecord;
        for (std::size_t i = 0; i < index; ++i)
            at += 8 + 2 * v.records[i].name.size() + (v.records[i].type == 1 ? 88 : 248);
        return at + 8 + 2 * v.records[index].name.size();
    };
    const std::size_t fileA = recordData(2);
    const std::size_t fileC = recordData(4);

    struct Damage {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> apply;
        std::function<void(const Outcome& standard, const Outcome& deep)> check;
    };
    const Damage damages[] = {
        {"catalog node size 0xFFFF", [&](auto& b) { test::putBe16(b, catalogHeader + 32, 0xFFFF); },
         [](const Outcome& s, const Outcome& d) {
             EXPECT_FALSE(s.scanned);
             ASSERT_EQ(d.written.count("ORPHAN_ENTRY/dir/a"), 1u) << "the deep scan still finds the leaf nodes";
             EXPECT_EQ(d.written.at("ORPHAN_ENTRY/dir/a"), 5000u);
         }},
        {"catalog node count 0xFFFFFFFF", [&](auto& b) { test::putBe32(b, catalogHeader + 36, 0xFFFFFFFF); },
         [](const Outcome& s, const Outcome&) { EXPECT_EQ(s.written.size(), 3u); }},
        {"node count 0xFFFFFFFF over an extent outside the volume",
         [&](auto& b) {
             test::putBe32(b, catalogHeader + 36, 0xFFFFFFFF);
             test::putBe32(b, 1024 + 296, 0xFFFFFF00);
             test::putBe32(b, 1024 + 300, 0xFFFFFFF0);
         },
         [](const Outcome& s, const Outcome&) { EXPECT_EQ(s.written.size(), 3u); }},
        {"record count 0xFFFF", [&](auto& b) { test::putBe16(b, leaf + 10, 0xFFFF); },
         [](const Outcome& s, const Outcome&) { EXPECT_TRUE(s.scanned); }},
        {"record offset beyond the node", [&](auto& b) { test::putBe16(b, leaf + 4096 - 2, 0xFFF0); },
         [](const Outcome& s, const Outcome&) { EXPECT_TRUE(s.scanned); }},
        {"key length 0xFFFF", [&](auto& b) { test::putBe16(b, firstRecord, 0xFFFF); },
         [](const Outcome& s, const Outcome&) { EXPECT_TRUE(s.scanned); }},
        {"name longer than its key", [&](auto& b) { test::putBe16(b, firstRecord + 6, 200); },
         [](const Outcome& s, const Outcome&) { EXPECT_TRUE(s.scanned); }},
        {"extent outside the volume", [&](auto& b) { test::putBe32(b, fileA + 104, 0xFFFFFF00); test::putBe32(b, fileA + 108, 0xFFFFFFFF); },
         [](const Outcome& s, const Outcome&) {
             EXPECT_EQ(s.written.count("dir/a"), 0u);  // no empty file pretends to be the data
             EXPECT_EQ(s.written.size(), 2u);
         }},
        {"huge size over a huge extent",
         [&](auto& b) { test::putBe64(b, fileA + 88, 1ULL << 62); test::putBe32(b, fileA + 108, 0xFFFFFFFF); },
         [](const Outcome& s, const Outcome&) {
             ASSERT_EQ(s.written.count("dir/a"), 1u);
             EXPECT_LE(s.written.at("dir/a"), 256u * 4096u);  // no more than the volume
         }},
        {"overflow record without extents", [&](auto& b) { std::fill_n(b.begin() + extentsLeaf + 14 + 12, 64, 0); },
         [](const Outcome& s, const Outcome&) { EXPECT_EQ(s.written.at("c"), 4096u); }},
        {"overflow record beyond the volume", [&](auto& b) { test::putBe32(b, extentsLeaf + 14 + 12, 0xFFFFFFF0); },
         [](const Outcome& s, const Outcome&) { EXPECT_EQ(s.written.at("c"), 4096u); }},
        {"total blocks far above the extents", [&](auto& b) { test::putBe32(b, fileC + 100, 0xFFFFFFFF); },
         [](const Outcome& s, const Outcome&) { EXPECT_EQ(s.written.at("c"), 3u * 4096u); }},
        {"catalog extent of 2^32-1 blocks", [&](auto& b) { test::putBe32(b, 1024 + 292, 0xFFFFFFFF); test::putBe32(b, 1024 + 284, 0xFFFFFFFF); },
         [](const Outcome& s, const Outcome&) { EXPECT_EQ(s.written.size(), 3u); }},
        {"catalog outside the volume", [&](auto& b) { test::putBe32(b, 1024 + 288, 0xFFFFFFF0); },
         [](const Outcome& s, const Outcome& d) {
             EXPECT_FALSE(s.scanned);
             ASSERT_EQ(d.written.count("ORPHAN_ENTRY/dir/a"), 1u) << "the deep scan still finds the leaf nodes";
             EXPECT_EQ(d.written.at("ORPHAN_ENTRY/dir/a"), 5000u);
         }},
        {"node links that loop", [&](auto& b) { test::putBe32(b, leaf, 1); test::putBe32(b, leaf + 4, 1); },
         [](const Outcome& s, const Outcome&) { EXPECT_EQ(s.written.size(), 3u); }},
        {"block size 2^31", [&](auto& b) { test::putBe32(b, 1024 + 40, 0x80000000u); },
         [](const Outcome& s, const Outcome& d) {
             EXPECT_FALSE(s.scanned);
             EXPECT_FALSE(d.scanned);
         }},
        {"volume cut short", [&](auto& b) { b.resize(64 * 1024 + 100); },
         [](const Outcome& s, const Outcome&) { EXPECT_FALSE(s.scanned); }},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        auto image = good;
        d.apply(image);
        test::ScratchDir dir;
        const Outcome standard = run(dir, image, RecoveryMode::Standard);
        const Outcome deep = run(dir, image, RecoveryMode::Deep);
        d.check(standard, deep);
    }
}

TEST(HfsPlusDamaged, LoopingParentsNeverHangTheWalks) {
    VolumeBuilder v;
    v.records = {folder(16, 17, u"x"), folder(17, 16, u"y"), folder(18, 18, u"self"), folder(19, 2, u"top"),
                 folder(20, 19, u"mid"), file(21, 20, u"f", 0, {})};
    test::ScratchDir dir;
    for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
        const Outcome o = run(dir, v.build(), mode);
        ASSERT_TRUE(o.scanned);
        if (mode == RecoveryMode::Standard) {
            EXPECT_EQ(o.listing, (std::vector<std::string>{"d top", "d top/mid", "f 0 top/mid/f"}));
        }
    }
}

// Random damage to the metadata of a small volume: every scan, listing and save must end.
TEST(HfsPlusDamaged, RandomDamageToTheMetadataNeverCrashes) {
    const VolumeBuilder v = baseVolume();
    const std::vector<std::uint8_t> good = v.build();
    const std::size_t regions[][2] = {{1024, 512}, {v.catalogNodeOffset(0), 4096}, {v.catalogNodeOffset(1), 4096},
                                      {v.extentsNodeOffset(0), 4096}, {v.extentsNodeOffset(1), 4096}};
    std::mt19937 random(1234);
    test::ScratchDir dir;
    int scannedCount = 0;
    for (int round = 0; round < 120; ++round) {
        auto image = good;
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < flips; ++i) {
            const auto& r = regions[random() % std::size(regions)];
            const std::size_t at = r[0] + random() % r[1];
            image[at] = static_cast<std::uint8_t>(random() % 3 == 0 ? 0xFF : random());
        }
        for (RecoveryMode mode : {RecoveryMode::Standard, RecoveryMode::Deep}) {
            const Outcome o = run(dir, image, mode);
            scannedCount += o.scanned ? 1 : 0;
            for (const auto& [path, size] : o.written) EXPECT_LE(size, good.size()) << path;
        }
    }
    EXPECT_GT(scannedCount, 0);
}

}  // namespace
}  // namespace corvello
