// The carving engine: matching, delimiting files, the result tree, progress, stop and damaged
// or truncated input.

#include <gtest/gtest.h>

#include "common/MemoryResultTree.h"
#include "device/FileReadSeek.h"
#include "raw/CarveSave.h"
#include "raw/CarvingEngine.h"
#include "raw/RawTestSupport.h"
#include "support/TestSupport.h"

namespace corvello::test {
namespace {

constexpr std::int64_t MiB = 1048576;

const Bytes kJpegStart{0xFF, 0xD8, 0xFF};
const Bytes kPngStart{0x89, 0x50, 0x4E, 0x47};
const Bytes kPngEnd{0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

// The definitions here name extensions of no format the engine knows, so that only their
// signatures and size fields delimit the files.

// One carving run over an image made for the test.
struct Carving {
    ScratchDir dir;
    FileReadSeek reader;
    RecordingHost host;
    MemoryResultTree tree;
    CarvingEngine engine;

    Carving(std::int64_t size, const std::vector<std::pair<std::int64_t, Bytes>>& pieces,
            const std::vector<SignatureRecord>& definitions, std::int64_t range = -1) {
        writeImage(dir.file("image.raw"), size, pieces);
        EXPECT_TRUE(reader.open(dir.file("image.raw")));
        for (const SignatureRecord& d : definitions) engine.addDefinition(d);
        engine.view = VolumeView::toEnd(&reader, 0);
        engine.host = &host;
        engine.resultTree = &tree;
        engine.rangeBytes = range >= 0 ? range : size / MiB * MiB;
    }

    bool run() { return engine.carve(); }

    // (offset, size, name) of every found file, in the order found.
    std::vector<std::tuple<std::int64_t, std::int64_t, std::string>> files() const {
        std::vector<std::tuple<std::int64_t, std::int64_t, std::string>> out;
        for (std::size_t i = 0; i < engine.carvedFiles.size(); ++i)
            out.emplace_back(engine.carvedFiles[i].offset, engine.carvedFiles[i].size, toUtf8(engine.carvedName(i)));
        return out;
    }
    std::vector<std::string> texts(TreeItem parent) const {
        std::vector<std::string> out;
        for (TreeItem item : tree.children(parent)) out.push_back(toUtf8(tree.itemText(item)));
        return out;
    }
};

using Files = std::vector<std::tuple<std::int64_t, std::int64_t, std::string>>;

SignatureRecord withSize(SignatureRecord r, std::int32_t offset, std::int32_t width, std::int32_t header, bool includes) {
    r.sizeOffset = offset;
    r.sizeWidth = width;
    r.headerSize = header;
    r.sizeIncludesHeader = includes;
    return r;
}

TEST(MatchAt, FirstMatchingEntryWins) {
    CarvingEngine engine;
    engine.addDefinition(definition(u"one", {0x41}, {}, 10, u"A"));                       // one byte: never
    engine.addDefinition(definition(u"wild", {0x2A, 0x42, 0x43}, {0x45, 0x2A}, 10, u"A"));  // '*' is any byte
    engine.addDefinition(definition(u"abc", {0x41, 0x42, 0x43}, {0x45, 0x46}, 10, u"A"));
    engine.addDefinition(definition(u"long", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {}, 10, u"A"));
    ASSERT_TRUE(engine.prepareMatchTable());
    EXPECT_EQ(engine.matchTable.size(), 8u);
    EXPECT_EQ(engine.pendingStarts.size(), 4u);

    struct Case {
        Bytes data;
        MatchKind kind;
        int index;
    };
    const Case cases[] = {
        {{0x41, 0x42, 0x43}, MatchKind::Start, 1},  // both 1 and 2 match: the first in load order wins
        {{0x41, 0x42, 0x43, 0, 0, 0, 0, 0, 0, 0}, MatchKind::Start, 1},  // also with ten bytes at hand
        {{0x45, 0x46, 0, 0, 0, 0, 0, 0, 0, 0}, MatchKind::End, 1},
        {{0x5A, 0x42, 0x43}, MatchKind::Start, 1},
        {{0x41, 0x00}, {}, -1},  // the one-byte signature never matches
        {{0x45, 0x46}, MatchKind::End, 1},  // start entries are tried first, then ends in order
        {{0x45, 0x00}, MatchKind::End, 1},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, MatchKind::Start, 3},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {}, -1},  // data shorter than the signature
        {{}, {}, -1},
    };
    for (const Case& c : cases) {
        const auto hit = engine.matchAt(ByteSpan(c.data));
        if (c.index < 0) {
            EXPECT_FALSE(hit.has_value());
            continue;
        }
        ASSERT_TRUE(hit.has_value());
        EXPECT_EQ(hit->kind, c.kind);
        EXPECT_EQ(hit->signatureIndex, c.index);
    }
}

TEST(Carve, StartsWithoutEndTakeTheApproximateSize) {
    Carving c(3 * MiB, {{0, kJpegStart}, {4096, kJpegStart}}, {definition(u"img", kJpegStart, {}, 2097152, u"Pictures")});
    ASSERT_TRUE(c.run());
    EXPECT_EQ(c.files(), (Files{{0, 2097152, "0 .img"}, {4096, 2097152, "4096 .img"}}));
    const TreeItem root = c.engine.rootItem();
    EXPECT_EQ(c.tree.itemText(root), u"RAW RECOVERY ");
    EXPECT_EQ(c.tree.itemIcon(root), IconKind::Folder);
    EXPECT_TRUE(c.tree.isExpanded(root));
    EXPECT_EQ(c.texts(kTreeTop), std::vector<std::string>{"RAW RECOVERY "});
    EXPECT_EQ(c.texts(root), std::vector<std::string>{"Pictures (2)"});
    const TreeItem category = c.tree.children(root)[0];
    EXPECT_EQ(c.texts(category), (std::vector<std::string>{"0 .img", "4096 .img"}));
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(c.tree.itemData(c.tree.children(category)[i]), i);
        EXPECT_EQ(c.tree.itemIcon(c.tree.children(category)[i]), IconKind::File);
    }
    EXPECT_EQ(c.engine.categoryCounts.at(u"Pictures"), 2);
    EXPECT_EQ(c.host.notices(), std::vector<std::string>{"Scanning processing done.Select save button to save the data.."});
}

TEST(Carve, AFileEndsRightAfterItsEndSignature) {
    Carving c(MiB, {{8192, kPngStart}, {9728, kPngEnd}}, {definition(u"pic", kPngStart, kPngEnd, 52428800, u"Pictures")});
    ASSERT_TRUE(c.run());
    EXPECT_EQ(c.files(), (Files{{8192, 1544, "9728 .pic"}}));
}

TEST(Carve, StartSignaturesCountAtSectorStartsEndSignaturesAtAnyByte) {
    // A mid-sector start is not seen; a one-byte signature never matches; an end signature is
    // found wherever it lies after its start, so the file ends right after it.
    Carving c(MiB, {{8192, kPngStart}, {9728 + 7, kPngEnd}, {16384 + 100, kPngStart}, {20480, {0x7A}}, {20992, kPngEnd}},
              {definition(u"pic", kPngStart, kPngEnd, 10000, u"Pictures"), definition(u"z", {0x7A}, {}, 100, u"Pictures")});
    ASSERT_TRUE(c.run());
    EXPECT_EQ(c.files(), (Files{{8192, 9735 + 8 - 8192, "9735 .pic"}}));
    EXPECT_EQ(c.texts(c.engine.rootItem()), std::vector<std::string>{"Pictures (1)"});

    // An end signature that straddles two blocks.
    Carving s(2 * MiB, {{MiB - 4096, kPngStart}, {MiB - 3, kPngEnd}}, {definition(u"pic", kPngStart, kPngEnd, 10000, u"Pictures")});
    ASSERT_TRUE(s.run());
    EXPECT_EQ(s.files(), (Files{{MiB - 4096, 4096 + 5, "1048573 .pic"}}));
}

TEST(Carve, DefinitionsOfOneCategoryShareItsItem) {
    Carving c(MiB, {{0, kJpegStart}, {512, kPngStart}, {1024, kPngEnd}, {2048, {0x50, 0x4B, 0x03, 0x04}}},
              {definition(u"img", kJpegStart, {}, 100, u"Pictures"), definition(u"pic", kPngStart, kPngEnd, 0, u"Pictures"),
               definition(u"arc", {0x50, 0x4B, 0x03, 0x04}, {}, 100, u"Archives")});
    ASSERT_TRUE(c.run());
    EXPECT_EQ(c.texts(c.engine.rootItem()), (std::vector<std::string>{"Pictures (2)", "Archives (1)"}));
    const TreeItem pictures = c.tree.children(c.engine.rootItem())[0];
    EXPECT_EQ(c.texts(pictures), (std::vector<std::string>{"0 .img", "1024 .pic"}));
    EXPECT_EQ(c.files(), (Files{{0, 100, "0 .img"}, {512, 520, "1024 .pic"}, {2048, 100, "2048 .arc"}}));
}

TEST(Carve, AnEndPairsWithTheNearestStartWithinReachInAnyBlock) {
    Carving c(3 * MiB,
              {{MiB - 1024, kPngStart}, {MiB + 512, kPngEnd}, {2 * MiB, kPngStart}, {2 * MiB + 512, kPngStart},
               {2 * MiB + 1024 + 3, kPngEnd}, {2 * MiB + 1536, kPngEnd}, {2 * MiB + 4096, kPngStart}, {2 * MiB + 8192, kPngEnd}},
              {definition(u"pic", kPngStart, kPngEnd, 2000, u"Pictures")});
    ASSERT_TRUE(c.run());
    EXPECT_EQ(c.files(), (Files{{MiB - 1024, 1544, "1049088 .pic"},       // in the next block
                                {2 * MiB + 512, 523, "2098179 .pic"},     // the nearest start first
                                {2 * MiB, 1544, "2098688 .pic"},          // then the one around it
                                {2 * MiB + 4096, 2000, "2101248 .pic"}})); // its end lies out of reach
}

TEST(Carve, LeftoverStartsKeepTheirApproximateSizeNewestFirst) {
    Carving c(2 * MiB, {{0, kPngStart}, {4096, kPngStart}, {MiB + 512, kPngStart}},
              {definition(u"pic", kPngStart, kPngEnd, 300000, u"Pictures"), definition(u"no", {1, 2}, {3, 4}, 0, u"Pictures")});
    ASSERT_TRUE(c.run());
    EXPECT_EQ(c.files(), (Files{{MiB + 512, 300000, "1049088 .pic"}, {4096, 300000, "4096 .pic"}, {0, 300000, "0 .pic"}}));
}

TEST(Carve, WaitingStartsAreBounded) {
    Carving c(MiB, {{0, kPngStart}, {512, kPngStart}, {1024, kPngStart}, {1536, kPngStart}, {2048, kPngEnd}},
              {definition(u"pic", kPngStart, kPngEnd, 5000, u"Pictures")});
    c.engine.maxPendingStarts = 2;
    ASSERT_TRUE(c.run());
    EXPECT_EQ(c.files(), (Files{{0, 5000, "0 .pic"}, {512, 5000, "512 .pic"}, {1536, 520, "2048 .pic"},
                                {1024, 5000, "1024 .pic"}}));
}

TEST(Carve, SizeFieldsDelimitFilesAcrossBlocks) {
    // A BMP-like file whose size (including the header) is at byte 2, and a RIFF-like one whose
    // size at byte 4 leaves out 8 header bytes; the first spans the 1 MiB boundary, the second
    // follows it right away and must still be found.
    const SignatureRecord bmp = withSize(definition(u"bmx", {0x42, 0x4D}, {}, 4 * MiB, u"Pictures"), 2, 4, 0, true);
    const SignatureRecord riff = withSize(definition(u"rif", {0x52, 0x49, 0x46, 0x46}, {}, 4 * MiB, u"Audio"), 4, 4, 8, false);
    const std::int64_t bmpAt = MiB - 8192, bmpSize = 20000;
    const std::int64_t wavAt = bmpAt + 20480, wavSize = 5000;
    Bytes bmpBytes = concat({{0x42, 0x4D}, {0x20, 0x4E, 0, 0}, filled(bmpSize - 6, 0x42)});
    // A false start inside the BMP must not be reported: the scan goes on after the file.
    const Bytes falseStart{0x52, 0x49, 0x46, 0x46, 0x10, 0, 0, 0};
    std::copy(falseStart.begin(), falseStart.end(), bmpBytes.begin() + 8192);
    const Bytes wavBytes = concat({{0x52, 0x49, 0x46, 0x46}, {0x80, 0x13, 0, 0}});  // 4992 + 8
    Carving c(2 * MiB, {{bmpAt, bmpBytes}, {wavAt, wavBytes}}, {bmp, riff});
    ASSERT_TRUE(c.run());
    EXPECT_EQ(c.files(), (Files{{bmpAt, bmpSize, "1040384 .bmx"}, {wavAt, wavSize, "1060864 .rif"}}));
}

TEST(Carve, SizeFieldsAreCheckedBeforeUse) {
    struct Case {
        const char* what;
        SignatureRecord def;
        Bytes head;
        std::int64_t expected;  // size found, 0 for none
    };
    const SignatureRecord base = definition(u"x", {0x42, 0x4D}, {}, 100000, u"A");
    const Case cases[] = {
        {"width 2", withSize(base, 2, 2, 0, true), {0x42, 0x4D, 0x10, 0x27}, 10000},
        {"width 8", withSize(base, 2, 8, 0, true), {0x42, 0x4D, 0x10, 0x27, 0, 0, 0, 0, 0, 0}, 10000},
        {"above the approximate size", withSize(base, 2, 4, 0, true), {0x42, 0x4D, 0xA1, 0x86, 0x01, 0}, 0},
        {"no approximate size bounds nothing", withSize(definition(u"x", {0x42, 0x4D}, {}, 0, u"A"), 2, 4, 0, true),
         {0x42, 0x4D, 0xA1, 0x86, 0x01, 0}, 100001},
        {"zero", withSize(base, 2, 4, 0, true), {0x42, 0x4D, 0, 0, 0, 0}, 0},
        {"field beyond the sector", withSize(base, 510, 4, 0, true), {0x42, 0x4D}, 0},
        {"header beyond the sector", withSize(base, 2, 4, 600, false), {0x42, 0x4D, 0x10, 0x27}, 0},
        {"width 9", withSize(base, 2, 9, 0, true), {0x42, 0x4D, 0x10, 0x27}, 0},
    };
    for (const Case& k : cases) {
        Carving c(MiB, {{4096, k.head}}, {k.def});
        ASSERT_TRUE(c.run());
        const Files expected = k.expected == 0 ? Files{} : Files{{4096, k.expected, "4096 .x"}};
        EXPECT_EQ(c.files(), expected) << k.what;
    }
}

TEST(Carve, SkipSizeJumpsWholeSectorsWithinTheBlock) {
    const Bytes sig{0x49, 0x44, 0x33};
    Carving c(2 * MiB, {{0, sig}, {512, sig}, {1024, sig}, {MiB - 512, sig}, {MiB, sig}},
              {definition(u"snd", sig, {}, 100, u"Audio", 1500)});
    ASSERT_TRUE(c.run());
    // 1500 rounds down to 1024: the hit at 512 is jumped over; a skip never crosses a block.
    EXPECT_EQ(c.files(), (Files{{0, 100, "0 .snd"}, {1024, 100, "1024 .snd"}, {MiB - 512, 100, "1048064 .snd"},
                                {MiB, 100, "1048576 .snd"}}));

    // A long skip: 200,000 rounds down to 199,680; the hit at 131,072 lies inside it.
    Carving l(MiB, {{0, sig}, {131072, sig}, {199680, sig}}, {definition(u"snd", sig, {}, 100, u"Audio", 200000)});
    ASSERT_TRUE(l.run());
    EXPECT_EQ(l.files(), (Files{{0, 100, "0 .snd"}, {199680, 100, "199680 .snd"}}));
}

TEST(Carve, FilesAreCutAtTheEndOfATruncatedImage) {
    // The range claims 4 MiB; the image holds 1.5 MiB and ends inside a sector. Blocks that
    // cannot be read are not scanned, so nothing is reported twice.
    const std::int64_t size = MiB + MiB / 2 + 100;
    Carving c(size, {{4096, kJpegStart}, {MiB + 4096, kJpegStart}, {MiB + MiB / 2, kJpegStart}},
              {definition(u"img", kJpegStart, {}, 2 * MiB, u"Pictures")}, 4 * MiB);
    ASSERT_TRUE(c.run());
    // The last one starts in the image's last, partial sector.
    EXPECT_EQ(c.files(), (Files{{4096, size - 4096, "4096 .img"},
                                {MiB + 4096, size - MiB - 4096, "1052672 .img"},
                                {MiB + MiB / 2, 100, "1572864 .img"}}));
    EXPECT_EQ(c.host.ranges.back(), (std::pair<std::int64_t, std::int64_t>{0, 2}));

    // The saved copy stops at the end of the image: nothing is read out of bounds.
    ScratchDir out;
    const CarveSaveResult saved = saveCarvedFiles(c.engine, {1}, out.path(), c.host);
    EXPECT_EQ(saved.written, 1u);
    EXPECT_EQ(saved.unreadable, 0u);
    EXPECT_EQ(std::filesystem::file_size(out.file("Pictures/1052672 .img")), static_cast<std::uintmax_t>(size - MiB - 4096));
}

TEST(Carve, ReportsProgressPerBlock) {
    Carving c(3 * MiB, {}, {definition(u"img", kJpegStart, {}, 10, u"Pictures")});
    ASSERT_TRUE(c.run());
    EXPECT_EQ(c.host.ranges, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 1000}, {0, 3}}));
    EXPECT_EQ(c.host.positions, (std::vector<std::int64_t>{0, 1, 2, 3}));
}

TEST(Carve, StopKeepsWhatWasFoundAndTheLeftoverStarts) {
    Carving c(4 * MiB, {{0, kJpegStart}, {4096, kPngStart}, {2 * MiB, kJpegStart}},
              {definition(u"img", kJpegStart, {}, 10, u"Pictures"), definition(u"pic", kPngStart, kPngEnd, 20, u"Pictures")});
    c.host.stopAtPos = 1;  // the user presses Stop while block 1 is about to be read
    ASSERT_TRUE(c.run());
    EXPECT_TRUE(c.engine.stopped());
    EXPECT_EQ(c.files(), (Files{{0, 10, "0 .img"}, {4096, 20, "4096 .pic"}}));
    EXPECT_EQ(c.host.notices(), std::vector<std::string>{"Scanning processing done.Select save button to save the data.."});
}

TEST(Carve, The128thDefinitionTakesPart) {
    std::vector<SignatureRecord> defs;
    for (int i = 0; i < 128; ++i)
        defs.push_back(definition(u"k", {0x77, static_cast<std::uint8_t>(0x80 + i)}, {}, 10, i < 64 ? u"A" : u"B"));
    Carving c(MiB, {{512, {0x77, 0xFF}}, {1024, {0x77, 0x80}}}, defs);
    ASSERT_TRUE(c.run());
    ASSERT_EQ(c.engine.carvedFiles.size(), 2u);
    EXPECT_EQ(c.engine.carvedFiles[0].signatureIndex, 127);
    EXPECT_EQ(c.texts(c.engine.rootItem()), (std::vector<std::string>{"A (1)", "B (1)"}));
}

TEST(Carve, GarbageDefinitionsNeverReadOutOfBounds) {
    ScratchDir dir;
    Bytes garbage(171 * 40);
    std::uint32_t x = 12345;
    for (auto& b : garbage) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    for (std::size_t r = 0; r < 40; ++r) garbage[r * 171 + 46] = 0;  // keep some definitions without the flag
    garbage[39 * 171 + 33] = 39;   // the last record asks for all 40
    garbage[39 * 171 + 38] = 4;    // and has a valid size width
    garbage[39 * 171 + 39] = garbage[39 * 171 + 40] = garbage[39 * 171 + 41] = 0;
    writeFile(dir.file("garbage.set"), garbage);

    Carving c(2 * MiB, {{0, Bytes(garbage.begin(), garbage.begin() + 4096)}}, {});
    ASSERT_TRUE(loadDefinitions(c.engine, dir.file("garbage.set"), false, c.host));
    EXPECT_EQ(c.engine.definitionCount(), 40u);
    ASSERT_TRUE(c.run());
    for (const CarvedFile& f : c.engine.carvedFiles) {
        EXPECT_GE(f.offset, 0);
        EXPECT_GT(f.size, 0);
        EXPECT_LE(f.offset + f.size, 2 * MiB);
    }
}

TEST(Carve, AnEmptyRangeStillEndsTheRun) {
    Carving c(1000, {}, {definition(u"img", kJpegStart, {}, 10, u"Pictures")}, 0);
    ASSERT_TRUE(c.run());
    EXPECT_TRUE(c.files().empty());
    EXPECT_EQ(c.texts(c.engine.rootItem()), std::vector<std::string>{"Pictures"});
    EXPECT_EQ(c.host.notices().size(), 1u);
}

}  // namespace
}  // namespace corvello::test
