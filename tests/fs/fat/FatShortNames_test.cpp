// FAT volumes whose files carry only 8.3 names, made by mkfs.fat and mtools: each file is
// listed and saved under its own name (one-, two- and three-letter and blank extensions, the
// lower-case flags, OEM code page names, folders with an extension), live and deleted, in the
// standard and the advanced mode.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "support/TestSupport.h"

namespace corvello {
namespace {

const char* const kImages[] = {"fat12-shortnames", "fat16-shortnames", "fat32-shortnames"};

// path -> "kind state size" of a listing.
std::map<std::string, std::string> listed(const std::string& out) {
    std::map<std::string, std::string> rows;
    for (const std::string& line : test::lines(out)) {
        const auto c = line.rfind('\t');
        std::string head = line.substr(0, c);
        for (char& ch : head)
            if (ch == '\t') ch = ' ';
        rows[line.substr(c + 1)] = head;
    }
    return rows;
}

std::string rowOf(const test::ManifestEntry& e) { return e.kind + " " + e.state + " " + std::to_string(e.size); }

TEST(FatShortNames, ListAndSaveGiveEveryFileItsOwnName) {
    for (const char* image : kImages) {
        SCOPED_TRACE(image);
        const auto manifest = test::readManifest(image);
        ASSERT_FALSE(manifest.empty());
        const auto list = test::runCli({"list", test::fixture(std::string(image) + ".img")});
        ASSERT_EQ(list.status, 0) << list.err;
        const auto rows = listed(list.out);
        for (const auto& e : manifest) {
            const auto it = rows.find(e.path);
            ASSERT_NE(it, rows.end()) << "not listed: " << e.path << "\n" << list.out;
            EXPECT_EQ(it->second, rowOf(e)) << e.path;
        }
        EXPECT_EQ(rows.size(), manifest.size()) << list.out;

        test::ScratchDir out;
        const auto save = test::runCli({"save", test::fixture(std::string(image) + ".img"), "--out", out.path()});
        ASSERT_EQ(save.status, 0) << save.err;
        for (const auto& e : manifest)
            if (e.kind == "f") {
                EXPECT_EQ(test::sha256File(out.file(e.path)), e.sha256) << e.path;
            }
    }
}

TEST(FatShortNames, TheCodePageOptionDecodesShortNamesInThatPage) {
    for (const char* image : kImages) {
        SCOPED_TRACE(image);
        const std::string path = test::fixture(std::string(image) + ".img");
        const auto cp850 = test::runCli({"list", path, "--codepage", "850"});
        ASSERT_EQ(cp850.status, 0) << cp850.err;
        const auto rows = listed(cp850.out);
        EXPECT_EQ(rows.count("ØRE.TXT"), 1u) << cp850.out;  // 0x9D is Ø in code page 850
        EXPECT_EQ(rows.count("¥RE.TXT"), 0u);
        EXPECT_EQ(rows.count("RÉSUMÉ-Ñ.TXT"), 1u);  // the same letters in 437 and 850
        const auto cp866 = test::runCli({"list", path, "--codepage", "866"});
        ASSERT_EQ(cp866.status, 0) << cp866.err;
        EXPECT_EQ(listed(cp866.out).count("RРSUMР-е.TXT"), 1u) << cp866.out;  // Cyrillic in 866
        test::ScratchDir out;
        const auto save = test::runCli({"save", path, "--codepage", "850", "--out", out.path()});
        ASSERT_EQ(save.status, 0) << save.err;
        for (const auto& e : test::readManifest(image))
            if (e.path == "¥RE.TXT") {
                EXPECT_EQ(test::sha256File(out.file("ØRE.TXT")), e.sha256);
            }
    }
    for (const char* bad : {"1252", "65001", "0", "cp437"}) {
        const auto r = test::runCli({"list", test::fixture("fat12-shortnames.img"), "--codepage", bad});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("--codepage"), std::string::npos) << r.err;
    }
}

TEST(FatShortNames, TheAdvancedModeFindsTheSameNames) {
    for (const char* image : {"fat16-shortnames", "fat32-shortnames"}) {
        SCOPED_TRACE(image);
        const std::string path = test::fixture(std::string(image) + ".img");
        // The first cluster-size choice is the boot sector's own.
        const auto r = test::runCli({"list", path, "--mode", "advanced"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::map<std::string, std::string> byBase;  // base name -> row of one listed path
        std::set<std::string> paths;
        for (const auto& [p, row] : listed(r.out)) {
            byBase[p.substr(p.rfind('/') + 1)] = row;
            paths.insert(p);
        }
        for (const auto& e : test::readManifest(image)) {
            // Photo.Jpg has a long name (listed twice); the slot scan takes only names that
            // begin with ASCII letters, so the OEM page names are not found by it.
            if (e.state != "live" || e.path == "Photo.Jpg" || static_cast<unsigned char>(e.path[1]) >= 0x80 ||
                static_cast<unsigned char>(e.path[0]) >= 0x80)
                continue;
            const std::string base = e.path.substr(e.path.rfind('/') + 1);
            const auto it = byBase.find(base);
            ASSERT_NE(it, byBase.end()) << "not found: " << base << "\n" << r.out;
            EXPECT_EQ(it->second, rowOf(e)) << base;
        }
        // No name keeps the blanks of its slot.
        for (const std::string& p : paths) {
            if (p == "ORPHAN ENTRY") continue;
            EXPECT_EQ(p.substr(p.rfind('/') + 1).find(' '), std::string::npos) << p;
        }

        test::ScratchDir out;
        const auto save = test::runCli({"save", path, "--mode", "advanced", "--out", out.path()});
        ASSERT_EQ(save.status, 0) << save.err;
        for (const auto& e : test::readManifest(image)) {
            if (e.kind != "f" || e.state != "live" || e.path == "Photo.Jpg" ||
                static_cast<unsigned char>(e.path[1]) >= 0x80 || static_cast<unsigned char>(e.path[0]) >= 0x80)
                continue;
            const std::string base = e.path.substr(e.path.rfind('/') + 1);
            std::string where;
            for (const std::string& p : paths)
                if (p.substr(p.rfind('/') + 1) == base) where = p;
            EXPECT_EQ(test::sha256File(out.file(where)), e.sha256) << where;
        }
    }
}

}  // namespace
}  // namespace corvello
