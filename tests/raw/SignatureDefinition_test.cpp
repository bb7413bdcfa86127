// Settings records, the editor's writer and the settings-file reader.

#include <filesystem>
#include <gtest/gtest.h>

#include "common/DisplayFormat.h"
#include "common/MemoryScanHost.h"
#include "raw/CarvingEngine.h"
#include "raw/SignatureDefinition.h"
#include "raw/RawTestSupport.h"
#include "support/TestSupport.h"

namespace corvello::test {
namespace {

Bytes readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

DefinitionFields pngFields() {
    DefinitionFields f;
    f.extension = u"png";
    f.startSignature = u"0x89,0x50,0x4E,0x47";
    f.endSignature = u"0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82";
    f.approximateSize = u"1048576";
    f.category = u"Pictures";
    return f;
}

TEST(SignatureRecord, LaysOutEveryFieldAtItsOffset) {
    SignatureRecord r = definition(u"jpeg", {0xFF, 0xD8, 0xFF}, {0xFF, 0xD9}, 0x0102030405060708LL, u"Pictures", -2);
    r.recordNumber = 7;
    r.sizeOffset = 0x11223344;
    r.sizeWidth = 4;
    r.headerSize = -8;
    r.sizeIncludesHeader = true;
    const DefinitionBytes b = encodeRecord(r);
    EXPECT_EQ(b.size(), 171u);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 10), (Bytes{'j', 0, 'p', 0, 'e', 0, 'g', 0, 0, 0}));
    EXPECT_EQ(b[10], 4);
    EXPECT_EQ(Bytes(b.begin() + 11, b.begin() + 21), (Bytes{0xFF, 0xD8, 0xFF, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(b.begin() + 21, b.begin() + 31), (Bytes{0xFF, 0xD9, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(b[31], 3);
    EXPECT_EQ(b[32], 2);
    EXPECT_EQ(b[33], 7);
    EXPECT_EQ(Bytes(b.begin() + 34, b.begin() + 38), (Bytes{0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(Bytes(b.begin() + 42, b.begin() + 46), (Bytes{0xF8, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(b[46], 1);
    EXPECT_EQ(Bytes(b.begin() + 47, b.begin() + 51), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(Bytes(b.begin() + 51, b.begin() + 59), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(Bytes(b.begin() + 59, b.begin() + 67), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(b.begin() + 67, b.begin() + 71), (Bytes{'P', 0, 'i', 0}));
    EXPECT_EQ(b[67 + 16], 0);  // "Pictures" and its terminator
    EXPECT_EQ(Bytes(b.begin() + 167, b.end()), (Bytes{0, 0, 0, 0}));

    const SignatureRecord back = decodeRecord(ByteSpan(b));
    EXPECT_EQ(back.extension, u"jpeg");
    EXPECT_EQ(back.startLength, 3);
    EXPECT_EQ(back.endSignature[1], 0xD9);
    EXPECT_EQ(back.recordNumber, 7);
    EXPECT_EQ(back.sizeOffset, 0x11223344);
    EXPECT_EQ(back.headerSize, -8);
    EXPECT_TRUE(back.sizeIncludesHeader);
    EXPECT_EQ(back.approximateSize, 0x0102030405060708LL);
    EXPECT_EQ(back.skipSize, -2);
    EXPECT_EQ(back.category, u"Pictures");
}

TEST(SignatureRecord, KeyAndParamsFollowTheRecord) {
    SignatureRecord r = definition(u"png", {1, 2}, {}, 10, u"Pictures");
    r.sizeOffset = 0;
    EXPECT_EQ(makeSignatureParams(r).sizeOffset, -1);  // only a value above 0 is an offset
    r.sizeOffset = 6;
    EXPECT_EQ(makeSignatureParams(r).sizeOffset, 6);
    r.startLength = 200;  // a foreign record: never more than the 10 bytes it holds
    const SignatureKey key = makeSignatureKey(r, 42);
    EXPECT_EQ(key.startLength, 10);
    EXPECT_EQ(key.signatureIndex, 42);
    EXPECT_EQ(key.extensionText(), u"png");
}

TEST(WriteDefinition, ThreeSavedRecordsAreNumberedAndLoadBack) {
    ScratchDir dir;
    DefinitionFile file;
    ASSERT_TRUE(file.create(dir.file("mine.set")));
    MemoryScanHost host;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(writeDefinition(file, pngFields(), host));
    file.close();
    EXPECT_EQ(host.notices(), std::vector<std::string>(3, "everything initialized well....."));
    const Bytes bytes = readAll(dir.file("mine.set"));
    ASSERT_EQ(bytes.size(), 513u);
    EXPECT_EQ(bytes[33], 0);
    EXPECT_EQ(bytes[171 + 33], 1);
    EXPECT_EQ(bytes[342 + 33], 2);

    CarvingEngine engine;
    ASSERT_TRUE(loadDefinitions(engine, dir.file("mine.set"), false, host));
    ASSERT_EQ(engine.definitionCount(), 3u);
    for (std::uint8_t i = 0; i < 3; ++i) EXPECT_EQ(engine.signatureKeys[i].signatureIndex, i);
    EXPECT_EQ(engine.signatureParams[2].extension, u"png");
    EXPECT_EQ(engine.signatureParams[2].approximateSize, 1048576);
}

TEST(WriteDefinition, ParsesTheEditorsFields) {
    struct Case {
        const char* what;
        void (*edit)(DefinitionFields&);
        bool (*check)(const SignatureRecord&);
    };
    const Case cases[] = {
        {"hexadecimal with and without 0x", [](DefinitionFields& f) { f.startSignature = u"89, 50,4E ,47"; },
         [](const SignatureRecord& r) {
             return r.startLength == 4 && r.startSignature[0] == 0x89 && r.startSignature[1] == 0x50 &&
                    r.startSignature[2] == 0x4E && r.startSignature[3] == 0x47;
         }},
        {"0x prefix", [](DefinitionFields&) {},
         [](const SignatureRecord& r) { return r.startLength == 4 && r.startSignature[0] == 0x89 && r.startSignature[3] == 0x47; }},
        {"low byte kept, parse stops at a non-digit", [](DefinitionFields& f) { f.startSignature = u"0x1234,4Eq,0xd9"; },
         [](const SignatureRecord& r) {
             return r.startLength == 3 && r.startSignature[0] == 0x34 && r.startSignature[1] == 0x4E && r.startSignature[2] == 0xD9;
         }},
        {"no end signature", [](DefinitionFields& f) { f.endSignature = u""; },
         [](const SignatureRecord& r) { return r.endLength == 0 && r.endSignature[0] == 0; }},
        {"four-character extension whole", [](DefinitionFields& f) { f.extension = u"tiff"; },
         [](const SignatureRecord& r) { return r.extension == u"tiff" && r.extensionLength == 4; }},
        {"five-character extension cut to four", [](DefinitionFields& f) { f.extension = u"mpeg4"; },
         [](const SignatureRecord& r) { return r.extension == u"mpeg" && r.extensionLength == 5; }},
        {"size offset 0 stays unknown", [](DefinitionFields& f) { f.sizeOffset = u"0"; },
         [](const SignatureRecord& r) { return r.sizeOffset == -1; }},
        {"decimal fields read as the C library does",
         [](DefinitionFields& f) {
             f.sizeOffset = u"  2bytes";
             f.sizeWidth = u"4";
             f.headerSize = u"-8";
             f.sizeIncludesHeader = true;
             f.skipSize = u"+512";
         },
         [](const SignatureRecord& r) {
             return r.sizeOffset == 2 && r.sizeWidth == 4 && r.headerSize == -8 && r.sizeIncludesHeader && r.skipSize == 512;
         }},
        {"sizes above 2 GiB stay 64-bit", [](DefinitionFields& f) { f.approximateSize = u"4294967304"; },
         [](const SignatureRecord& r) { return r.approximateSize == 4294967304LL; }},
        {"49-character category", [](DefinitionFields& f) { f.category = std::u16string(49, u'c'); },
         [](const SignatureRecord& r) { return r.category.size() == 49; }},
        {"empty category", [](DefinitionFields& f) { f.category.clear(); },
         [](const SignatureRecord& r) { return r.category.empty(); }},
    };
    for (const Case& c : cases) {
        DefinitionFields f = pngFields();
        c.edit(f);
        std::string message;
        const std::optional<SignatureRecord> r = parseDefinition(f, message);
        ASSERT_TRUE(r.has_value()) << c.what << ": " << message;
        EXPECT_TRUE(c.check(*r)) << c.what;
        EXPECT_EQ(decodeRecord(ByteSpan(encodeRecord(*r))).category, r->category) << c.what;
    }
}

TEST(WriteDefinition, RefusesWithAClearMessage) {
    struct Case {
        void (*edit)(DefinitionFields&);
        const char* message;
    };
    const Case cases[] = {
        {[](DefinitionFields& f) { f.extension.clear(); }, "extention length is zero.."},
        {[](DefinitionFields& f) { f.startSignature.clear(); }, "signature length is zero.."},
        {[](DefinitionFields& f) { f.startSignature = u" , ,"; }, "signature length is zero.."},
        {[](DefinitionFields& f) { f.startSignature = u"1,2,3,4,5,6,7,8,9,10,11"; }, "starting signature has more than 10 bytes.."},
        {[](DefinitionFields& f) { f.endSignature = u"1,2,3,4,5,6,7,8,9,10,11"; }, "ending signature has more than 10 bytes.."},
        {[](DefinitionFields& f) { f.category = std::u16string(50, u'c'); }, "category name is longer than 49 characters.."},
        {[](DefinitionFields& f) { f.startSignature = u"89,zz"; },
         "\"zz\" in the starting signature is not a hexadecimal byte value.."},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        DefinitionFields f = pngFields();
        c.edit(f);
        DefinitionFile file;
        ASSERT_TRUE(file.create(dir.file("refused.set")));
        MemoryScanHost host;
        EXPECT_FALSE(writeDefinition(file, f, host));
        file.close();
        EXPECT_EQ(host.notices(), std::vector<std::string>{c.message});
        EXPECT_EQ(std::filesystem::file_size(dir.file("refused.set")), 0u) << c.message;
    }
    // No open file: nothing happens.
    DefinitionFile closed;
    MemoryScanHost host;
    EXPECT_FALSE(writeDefinition(closed, pngFields(), host));
    EXPECT_TRUE(host.notices().empty());
}

TEST(LoadDefinitions, UserIndicesContinueAfterTheDefaults) {
    ScratchDir dir;
    std::vector<SignatureRecord> defaults;
    for (int i = 0; i < 5; ++i) defaults.push_back(definition(u"d" + fromUtf8(std::to_string(i)), {1, 2}, {}, 10, u"A"));
    writeSettings(dir.file("FileSetting.txt"), defaults);
    writeSettings(dir.file("user.set"), {definition(u"u0", {3, 4}, {}, 10, u"B"), definition(u"u1", {5, 6}, {}, 10, u"B")});
    CarvingEngine engine;
    MemoryScanHost host;
    ASSERT_TRUE(loadDefinitions(engine, dir.file("FileSetting.txt"), true, host));
    ASSERT_TRUE(loadDefinitions(engine, dir.file("user.set"), false, host));
    ASSERT_EQ(engine.definitionCount(), 7u);
    for (std::uint8_t i = 0; i < 7; ++i) EXPECT_EQ(engine.signatureKeys[i].signatureIndex, i);
    EXPECT_EQ(engine.signatureParams[5].extension, u"u0");
    EXPECT_EQ(engine.signatureParams[6].extension, u"u1");
    EXPECT_TRUE(host.notices().empty());
}

TEST(LoadDefinitions, ValidityRules) {
    ScratchDir dir;
    const SignatureRecord good = definition(u"x", {1, 2}, {}, 10, u"A");
    SignatureRecord wide = good;
    wide.sizeWidth = 9;

    writeFile(dir.file("short.set"), Bytes(170, 0));
    writeSettings(dir.file("wide.set"), {good, wide});
    // 6,134 records: the last one starts beyond byte 1,048,576.
    writeSettings(dir.file("long.set"), std::vector<SignatureRecord>(6134, good));
    writeSettings(dir.file("edge.set"), std::vector<SignatureRecord>(6133, good));  // last starts at 1,048,572

    struct Case {
        const char* file;
        bool defaultSet;
        bool ok;
        std::vector<std::string> notices;
    };
    const Case cases[] = {
        {"short.set", false, false, {"not a valid file.."}},
        {"missing.set", false, false, {"can not open file"}},
        {"missing.set", true, false, {}},
        {"", true, false, {}},
        {"wide.set", false, false, {"not a valid file.."}},
        {"wide.set", true, true, {}},  // only the offset rule holds for the default set
        {"long.set", false, false, {"not a valid file.."}},
        {"long.set", true, false, {"not a valid file.."}},
        {"edge.set", false, true, {}},
    };
    for (const Case& c : cases) {
        CarvingEngine engine;
        MemoryScanHost host;
        const std::string path = *c.file ? dir.file(c.file) : std::string();
        EXPECT_EQ(loadDefinitions(engine, path, c.defaultSet, host), c.ok) << c.file << " " << c.defaultSet;
        EXPECT_EQ(host.notices(), c.notices) << c.file << " " << c.defaultSet;
        if (!c.ok) {
            EXPECT_EQ(engine.definitionCount(), 0u) << c.file;
        }
    }
}

TEST(LoadDefinitions, TheLastRecordNumberTellsHowManyAreRead) {
    ScratchDir dir;
    const SignatureRecord r = definition(u"x", {1, 2}, {}, 10, u"A");
    writeSettings(dir.file("three.set"), {r, r, r});
    Bytes bytes = readAll(dir.file("three.set"));

    struct Case {
        std::uint8_t lastNumber;
        std::size_t loaded;
    };
    // 0: one record as the file says; 0xFF (an unwritten record): never more than the file holds.
    for (const Case c : {Case{0, 1}, Case{1, 2}, Case{2, 3}, Case{0xFF, 3}}) {
        bytes[342 + 33] = c.lastNumber;
        writeFile(dir.file("numbered.set"), bytes);
        CarvingEngine engine;
        MemoryScanHost host;
        ASSERT_TRUE(loadDefinitions(engine, dir.file("numbered.set"), false, host));
        EXPECT_EQ(engine.definitionCount(), c.loaded) << int(c.lastNumber);
    }
}

TEST(LoadDefinitions, AtMost128TakePartInOneRun) {
    ScratchDir dir;
    std::vector<SignatureRecord> many;
    for (int i = 0; i < 100; ++i) many.push_back(definition(u"a", {1, static_cast<std::uint8_t>(i)}, {}, 10, u"A"));
    writeSettings(dir.file("defaults.set"), many);
    std::vector<SignatureRecord> more;
    for (int i = 0; i < 50; ++i) more.push_back(definition(u"b", {2, static_cast<std::uint8_t>(i)}, {}, 10, u"B"));
    writeSettings(dir.file("user.set"), more);

    CarvingEngine engine;
    MemoryScanHost host;
    ASSERT_TRUE(loadDefinitions(engine, dir.file("defaults.set"), true, host));
    ASSERT_TRUE(loadDefinitions(engine, dir.file("user.set"), false, host));
    ASSERT_EQ(engine.definitionCount(), 128u);
    EXPECT_EQ(engine.signatureKeys[127].signatureIndex, 127);
    EXPECT_EQ(engine.signatureKeys[127].startSignature[1], 27);  // the user's 28th definition
    EXPECT_EQ(host.lastStatus(), "only 128 signature definitions can take part in one run: 22 more were left out.");
    EXPECT_FALSE(engine.addDefinition(more[0]));
}

TEST(DefaultSet, HoldsTheCommonKindsInSixCategories) {
    const std::string path = std::string(CORVELLO_FIXTURE_DIR) + "/../../data/FileSetting.txt";
    CarvingEngine engine;
    MemoryScanHost host;
    ASSERT_TRUE(loadDefinitions(engine, path, false, host)) << path;  // the user-file rules hold too
    ASSERT_GE(engine.definitionCount(), 20u);
    ASSERT_LE(engine.definitionCount(), 128u);
    EXPECT_EQ(std::filesystem::file_size(path), engine.definitionCount() * 171);

    std::vector<std::u16string> categories;
    std::map<std::u16string, const SignatureParams*> byExtension;
    for (std::size_t i = 0; i < engine.definitionCount(); ++i) {
        const SignatureParams& p = engine.signatureParams[i];
        if (std::find(categories.begin(), categories.end(), p.category) == categories.end()) categories.push_back(p.category);
        EXPECT_GE(p.startLength, 2) << toUtf8(p.extension);
        EXPECT_GT(p.approximateSize, 0) << toUtf8(p.extension);
        byExtension.emplace(p.extension, &p);
    }
    EXPECT_EQ(categories, (std::vector<std::u16string>{u"Pictures", u"Documents", u"Archives", u"Audio", u"Video", u"Databases"}));
    for (const char16_t* ext : {u"jpg", u"png", u"gif", u"bmp", u"tif", u"pdf", u"docx", u"zip", u"rar", u"7z", u"gz",
                                u"mp3", u"wav", u"avi", u"mp4", u"mov", u"db"})
        EXPECT_EQ(byExtension.count(ext), 1u) << toUtf8(ext);
    // End signatures and size fields where the format has them.
    for (const char16_t* ext : {u"jpg", u"png", u"gif", u"pdf", u"rar"}) EXPECT_GT(byExtension[ext]->endLength, 0) << toUtf8(ext);
    for (const char16_t* ext : {u"bmp", u"wav", u"avi"}) EXPECT_EQ(byExtension[ext]->sizeWidth, 4) << toUtf8(ext);
}

}  // namespace
}  // namespace corvello::test
