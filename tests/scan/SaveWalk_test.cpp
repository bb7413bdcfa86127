#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "common/Text.h"
#include "platform/Files.h"
#include "scan/RecordTable.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"
#include "scan/ScanSession.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

// A parser's records reduced to what the walks look at; record ids are the item data.
class ToySession : public ScanSession {
public:
    struct Record {
        std::u16string name;
        bool folder = false;
        bool deleted = false;
        std::string content;
        std::vector<ItemData> children;
    };
    std::map<ItemData, Record> records;
    TreeItem root = 0;

    TreeItem rootItem() const override { return root; }
    bool isValid(ItemData d) const override { return records.count(d) != 0; }
    bool isFolder(ItemData d) const override { return records.at(d).folder; }
    std::vector<ItemData> children(ItemData d) const override { return records.at(d).children; }
    bool isDeleted(ItemData c, ItemData) const override { return records.at(c).deleted; }
    std::u16string name(ItemData d) const override { return records.at(d).name; }
    std::uint64_t size(ItemData d) const override { return records.at(d).content.size(); }
    std::array<std::string, 4> rowTexts(ItemData) const override { return {}; }
    std::string sizeText(ItemData) const override { return {}; }
    bool isSavableFolder(ItemData d) const override { return isFolder(d); }
    SaveKind saveKind(ItemData d) const override { return isFolder(d) ? SaveKind::Folder : SaveKind::File; }

protected:
    std::optional<std::size_t> readData(ItemData d, std::uint64_t offset, std::span<std::uint8_t> buffer,
                                        ReadNotes&) override {
        const std::string& content = records.at(d).content;
        if (offset >= content.size()) return 0;
        const std::size_t n = std::min<std::size_t>(buffer.size(), content.size() - offset);
        std::memcpy(buffer.data(), content.data() + offset, n);
        return n;
    }
};

ToySession hostileVolume(MemoryResultTree& tree) {
    ToySession s;
    s.records[1] = {u"docs", true, false, "", {2, 3, 1}};      // lists itself among its children
    s.records[2] = {u"../../escape.txt", false, false, "x", {}};
    s.records[3] = {u"  report.txt ", false, true, "hello", {}};
    s.records[4] = {u"..", true, false, "", {5}};
    s.records[5] = {u"a/b", false, false, "yz", {}};
    s.root = tree.insertItem(kTreeTop, u"ROOT", IconKind::Folder, 0);
    tree.insertItem(s.root, u"docs", IconKind::Folder, 1);
    tree.insertItem(s.root, u"..", IconKind::Folder, 4);
    return s;
}

TEST(SaveWalk, NothingLeavesTheOutputFolderAndLoopsEnd) {
    MemoryResultTree tree;
    ToySession session = hostileVolume(tree);
    test::ScratchDir dir;
    const std::string out = dir.file("out");
    MemoryScanHost host;
    const auto top = topLevelRecords(session, tree);
    EXPECT_EQ(countFiles(session, top), 3u);
    const SaveResult r = saveRecords(session, top, out, host);
    EXPECT_EQ(r.files, 3u);
    EXPECT_EQ(r.written, 3u);

    std::vector<std::string> written;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
        written.push_back(std::filesystem::relative(e.path(), dir.path()).string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"out", "out/_..", "out/_../a_b", "out/docs", "out/docs/.._.._escape.txt",
                                                 "out/docs/docs", "out/docs/report.txt"}));
}

TEST(RecordTable, LinksEachPlaceOfARecordOnceAndEndsLoopsAndDepth) {
    MemoryResultTree tree;
    ToySession session = hostileVolume(tree);
    const RecordTable table = RecordTable::fill(session, topLevelRecords(session, tree), 0, RecordTable::kNames);
    // Rows: docs, escape, report, docs (listed below itself, not entered), .., a/b.
    struct Row {
        ItemData data;
        std::uint32_t parent, firstChild, nextSibling;
        SaveKind kind;
        bool deleted, entered;
        std::uint64_t size;
        std::u16string name;
    };
    const std::uint32_t no = kNoRecord;
    const Row expected[] = {
        {1, no, 1, 4, SaveKind::Folder, false, true, 0, u"docs"},
        {2, 0, no, 2, SaveKind::File, false, false, 1, u"../../escape.txt"},
        {3, 0, no, 3, SaveKind::File, true, false, 5, u"  report.txt "},
        {1, 0, no, no, SaveKind::Folder, false, false, 0, u"docs"},
        {4, no, 5, no, SaveKind::Folder, false, true, 0, u".."},
        {5, 4, no, no, SaveKind::File, false, false, 2, u"a/b"},
    };
    ASSERT_EQ(table.rows().size(), std::size(expected));
    for (std::uint32_t i = 0; i < std::size(expected); ++i) {
        const Record& r = table[i];
        const Row& e = expected[i];
        EXPECT_EQ(r.data, e.data) << i;
        EXPECT_EQ(r.parent, e.parent) << i;
        EXPECT_EQ(r.firstChild, e.firstChild) << i;
        EXPECT_EQ(r.nextSibling, e.nextSibling) << i;
        EXPECT_EQ(r.kind, e.kind) << i;
        EXPECT_EQ(r.deleted, e.deleted) << i;
        EXPECT_EQ(r.entered, e.entered) << i;
        EXPECT_EQ(r.size, e.size) << i;
        EXPECT_EQ(r.name, e.name) << i;
    }
    EXPECT_EQ(table.parentData(1), 1u);
    EXPECT_EQ(table.parentData(0), 0u);

    // A chain of folders deeper than the walk goes: rows stop one level below the last folder
    // entered, and nothing below that is asked for.
    ToySession deep;
    constexpr ItemData kChain = 400;
    for (ItemData d = 1; d <= kChain; ++d)
        deep.records[d] = {u"f", true, false, "", d < kChain ? std::vector<ItemData>{d + 1} : std::vector<ItemData>{}};
    const RecordTable chain = RecordTable::fill(deep, {1});
    ASSERT_EQ(chain.rows().size(), static_cast<std::size_t>(kMaxRecordDepth) + 1);
    EXPECT_TRUE(chain[kMaxRecordDepth - 1].entered);
    EXPECT_FALSE(chain[kMaxRecordDepth].entered);
}

TEST(SaveWalk, ListingMatchesTheSavedPaths) {
    MemoryResultTree tree;
    ToySession session = hostileVolume(tree);
    std::vector<std::string> listed;
    walkEntries(session, topLevelRecords(session, tree), 0, [&](const ListedEntry& e) {
        listed.push_back(std::string(e.folder ? "d " : "f ") + (e.deleted ? "deleted " : "live ") +
                         std::to_string(e.size) + " " + e.path);
    });
    EXPECT_EQ(listed, (std::vector<std::string>{"d live 0 docs", "f live 1 docs/.._.._escape.txt",
                                                "f deleted 5 docs/report.txt", "d live 0 docs/docs", "d live 0 _..",
                                                "f live 2 _../a_b"}));
    std::vector<ItemData> below;
    ASSERT_TRUE(recordsAtPath(session, tree, "_..", below));
    EXPECT_EQ(below, std::vector<ItemData>{5});
    EXPECT_FALSE(recordsAtPath(session, tree, "nowhere", below));
}

TEST(SaveWalk, RecordsOfOneNameAllComeOut) {
    MemoryResultTree tree;
    ToySession s;
    s.records[1] = {u"x.txt", false, false, "live", {}};
    s.records[2] = {u"x.txt", false, true, "deleted", {}};
    s.records[3] = {u"x", false, false, "file", {}};
    s.records[4] = {u"x", true, false, "", {5}};
    s.records[5] = {u"inner", false, false, "in", {}};
    // A second folder "x" shares the first one's directory, in the listing as in the save.
    s.records[6] = {u"x", true, true, "", {7}};
    s.records[7] = {u"other", false, true, "o", {}};
    s.root = tree.insertItem(kTreeTop, u"ROOT", IconKind::Folder, 0);
    for (ItemData d : {1, 2, 3, 4, 6}) tree.insertItem(s.root, s.records[d].name, IconKind::File, d);

    test::ScratchDir dir;
    MemoryScanHost host;
    const auto top = topLevelRecords(s, tree);
    EXPECT_EQ(saveRecords(s, top, dir.path(), host).written, 5u);
    const std::pair<const char*, const char*> expected[] = {
        {"x.txt", "live"}, {"x (2).txt", "deleted"}, {"x", "file"}, {"x (2)/inner", "in"}, {"x (2)/other", "o"}};
    for (const auto& [path, content] : expected) {
        std::ifstream in(dir.file(path));
        std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(got, content) << path;
    }
    std::vector<std::string> listed;
    walkEntries(s, top, 0, [&](const ListedEntry& e) { listed.push_back(e.path); });
    EXPECT_EQ(listed, (std::vector<std::string>{"x.txt", "x (2).txt", "x", "x (2)", "x (2)/inner", "x (2)",
                                                "x (2)/other"}));
}

// A full folder of records of one name (a FAT folder holds 65,534 entries): each takes the next
// free number, past numbers another name has taken ("x (3).txt" here) and, when saved, past
// files already in the output folder. The walk numbers them one after another, where it used
// to count every record up from the first again (minutes for a folder like this one).
TEST(SaveWalk, AFullFolderOfOneNameIsNumberedInTurn) {
    static constexpr ItemData kFolder = 1;
    const auto oneName = [](std::size_t count) {
        ToySession s;
        s.records[kFolder] = {u"full", true, false, "", {}};
        for (ItemData d = 2; d < count + 2; ++d) {
            s.records[d] = {d == 3 ? u"x (3).txt" : u"x.txt", false, d % 2 == 0, "", {}};
            s.records[kFolder].children.push_back(d);
        }
        return s;
    };
    // "x.txt", "x (3).txt", then the rest from "x (2).txt" on, numbers taken left out.
    const auto expected = [](std::size_t count, const std::set<int>& taken) {
        std::vector<std::string> names{"x.txt", "x (3).txt"};
        for (int n = 2; names.size() < count; ++n)
            if (n != 3 && taken.count(n) == 0) names.push_back("x (" + std::to_string(n) + ").txt");
        return names;
    };

    constexpr std::size_t kFull = 65534;
    const ToySession full = oneName(kFull);
    std::vector<std::string> listed;
    walkEntries(full, {kFolder}, 0, [&](const ListedEntry& e) {
        if (!e.folder) listed.push_back(e.path.substr(std::string("full/").size()));
    });
    EXPECT_EQ(listed, expected(kFull, {}));

    // Saved into a folder that holds "x (4).txt" and "x (7).txt" already: those stay as they are.
    constexpr std::size_t kSaved = 3000;
    ToySession saved = oneName(kSaved);
    test::ScratchDir dir;
    std::filesystem::create_directory(dir.file("full"));
    for (const char* mine : {"full/x (4).txt", "full/x (7).txt"}) test::writeFile(dir.file(mine), {'m'});
    MemoryScanHost host;
    const SaveResult r = saveRecords(saved, {kFolder}, dir.path(), host);
    EXPECT_EQ(r.written, kSaved);
    EXPECT_TRUE(r.problems.empty());
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.file("full"))) names.insert(e.path().filename().string());
    const auto want = expected(kSaved, {4, 7});
    std::set<std::string> wantNames(want.begin(), want.end());
    wantNames.insert({"x (4).txt", "x (7).txt"});
    EXPECT_EQ(names, wantNames);
    std::ifstream mine(dir.file("full/x (7).txt"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(mine), std::istreambuf_iterator<char>()), "m");
}

TEST(SaveWalk, NamesThatAttackATerminalOrTheLimitAreTamed) {
    MemoryResultTree tree;
    ToySession s;
    const std::u16string longName = std::u16string(251, u'n') + u".txt";  // 255 bytes
    s.records[1] = {u"csi\u009B2Jname.txt", false, false, "c1", {}};
    s.records[2] = {u"photo\u202Egpj.exe", false, false, "bidi", {}};
    s.records[3] = {longName, false, false, "first", {}};
    s.records[4] = {longName, false, true, "second", {}};
    s.root = tree.insertItem(kTreeTop, u"ROOT", IconKind::Folder, 0);
    for (ItemData d : {1, 2, 3, 4}) tree.insertItem(s.root, s.records[d].name, IconKind::File, d);

    test::ScratchDir dir;
    MemoryScanHost host;
    const auto r = saveRecords(s, topLevelRecords(s, tree), dir.path(), host);
    EXPECT_EQ(r.written, 4u);
    EXPECT_TRUE(r.problems.empty());
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    const std::string second = std::string(247, 'n') + " (2).txt";
    std::vector<std::string> expected{"csi_2Jname.txt", std::string(251, 'n') + ".txt", second, "photo_gpj.exe"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
    for (const auto& n : names) EXPECT_LE(n.size(), 255u);
    std::ifstream in(dir.file(second));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "second");

    // Text from disk shown on a terminal: controls and overrides escaped, the rest kept.
    EXPECT_EQ(terminalSafe("a\xC2\x9B" "2J\xE2\x80\xAE" "b\x1B[0m\tr\xC3\xA9sum\xC3\xA9"),
              "a\\u009B2J\\u202Eb\\u001B[0m\tr\xC3\xA9sum\xC3\xA9");
}

TEST(ScanCompletion, PlaceholdersOnlyUnderFoldersWithChildren) {
    MemoryResultTree tree;
    ToySession session = hostileVolume(tree);
    session.records[6] = {u"empty", true, false, "", {}};
    tree.insertItem(session.root, u"empty", IconKind::Folder, 6);
    MemoryScanHost host;
    completeScan(session, tree, host);
    const auto top = tree.children(session.root);
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(tree.children(top[0]).size(), 1u);
    EXPECT_EQ(tree.itemText(tree.children(top[0])[0]), u"..DUMY..");
    EXPECT_TRUE(tree.children(top[2]).empty());

    // Opening the folder replaces the placeholder by its children, deleted ones in red.
    openFolder(session, tree, top[0], true);
    const auto kids = tree.children(top[0]);
    ASSERT_EQ(kids.size(), 3u);
    EXPECT_EQ(tree.itemColor(kids[1]), kDeletedColor);
    EXPECT_EQ(tree.itemColor(kids[0]), kDefaultColor);
}

TEST(Scan, FamilyChosenByFileSystemText) {
    EXPECT_EQ(familyOf(u"NTFS"), Family::Ntfs);
    EXPECT_EQ(familyOf(u"ntfs "), Family::None);  // a trailing blank is not recognised
    EXPECT_EQ(familyOf(u"FAT"), Family::Fat16);
    EXPECT_EQ(familyOf(u"FAT12"), Family::Fat16);
    EXPECT_EQ(familyOf(u"exfat"), Family::ExFat);
    EXPECT_EQ(familyOf(u"FAT64"), Family::ExFat);
    EXPECT_EQ(familyOf(u"EXTX"), Family::Ext);
    EXPECT_EQ(familyOf(u"hfs+"), Family::HfsPlus);
    EXPECT_EQ(familyOf(u"Unknown"), Family::None);
}

}  // namespace
}  // namespace corvello
