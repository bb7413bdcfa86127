// corvello-cli list --format: each report reads back with a standard parser and holds exactly
// the entries of the tab-separated listing, with the same times in every format.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "cli/Cli.h"
#include "scan/Reports.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

struct Shell {
    int status = -1;
    std::string out;
};

Shell shell(const std::string& command) {
    Shell r;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return r;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.out.append(buffer.data(), n);
    r.status = ::pclose(pipe);
    return r;
}

bool havePython() { return shell("python3 -c 'import xml.etree.ElementTree, csv, json'").status == 0; }

void writeText(const std::string& path, const std::string& text) {
    test::writeFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// The report read back by the checker: entry lines first, then "time\t..." lines.
struct ReadBack {
    std::vector<std::string> entries;
    std::vector<std::string> times;
};

ReadBack readBack(const std::string& format, const std::string& report) {
    const Shell r = shell("python3 " + std::string(CORVELLO_SOURCE_DIR) + "/tests/cli/list_formats_check.py " +
                          format + " " + report);
    EXPECT_EQ(r.status, 0) << format << ": " << r.out;
    ReadBack back;
    for (const std::string& line : test::lines(r.out))
        (line.rfind("time\t", 0) == 0 ? back.times : back.entries).push_back(line);
    return back;
}

// The listing's lines without the --long field: kind, state, size, path.
std::vector<std::string> tsvEntries(const std::string& listing) {
    std::vector<std::string> out;
    for (const std::string& line : test::lines(listing)) out.push_back(line);
    return out;
}

class ListFormatFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(ListFormatFixture, EveryFormatParsesAndHoldsEveryListedEntry) {
    if (!havePython()) GTEST_SKIP() << "python3 with csv, json and xml.etree is not installed";
    const std::string image = test::fixture(std::string(GetParam()) + ".img");
    const auto listed = test::runCli({"list", image});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const std::vector<std::string> expected = tsvEntries(listed.out);
    ASSERT_GT(expected.size(), 3u);

    test::ScratchDir scratch;
    std::map<std::string, std::vector<std::string>> times;
    for (const std::string format : {"csv", "json", "dfxml", "body"}) {
        const auto r = test::runCli({"list", image, "--format", format});
        ASSERT_EQ(r.status, 0) << format << ": " << r.err;
        const std::string report = scratch.file("report." + format);
        writeText(report, r.out);
        ReadBack back = readBack(format, report);
        EXPECT_EQ(back.entries, expected) << format;
        times[format] = back.times;
    }
    // Every file system here keeps a modification time for its files.
    EXPECT_FALSE(times["csv"].empty());
    EXPECT_EQ(times["json"], times["csv"]);
    EXPECT_EQ(times["dfxml"], times["csv"]);
    // The bodyfile writes 0 for a time it does not know, so it cannot hold a time of exactly 0.
    std::vector<std::string> nonzero;
    std::copy_if(times["csv"].begin(), times["csv"].end(), std::back_inserter(nonzero),
                 [](const std::string& line) { return line.substr(line.size() - 2) != "\t0"; });
    EXPECT_EQ(times["body"], nonzero);

    // The modification time reported is the one the save gives the file it writes.
    const std::string out = scratch.file("saved");
    const auto saved = test::runCli({"save", image, "--out", out});
    ASSERT_EQ(saved.status == 0 || saved.status == cli::kExitIncomplete, true) << saved.err;
    int compared = 0;
    for (const std::string& line : times["csv"]) {
        // time \t path \t field \t seconds
        const std::size_t a = line.find('\t'), c = line.rfind('\t'), b = line.rfind('\t', c - 1);
        if (line.substr(b + 1, c - b - 1) != "modified") continue;
        struct stat st {};
        const std::string file = out + "/" + line.substr(a + 1, b - a - 1);
        if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        EXPECT_EQ(std::to_string(st.st_mtim.tv_sec), line.substr(c + 1)) << file;
        ++compared;
    }
    EXPECT_GT(compared, 3);
}

INSTANTIATE_TEST_SUITE_P(Volumes, ListFormatFixture,
                         ::testing::Values("ntfs-small", "ext4-inline", "fat12-floppy", "reuse-fat32", "reuse-exfat",
                                           "reuse-ntfs", "reuse-ext4"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string n = param.param;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

// mactime from The Sleuth Kit reads the bodyfile and puts every entry that has a time on its
// timeline.
TEST(ListFormats, MactimeReadsTheBodyfile) {
    if (shell("command -v mactime").status != 0) GTEST_SKIP() << "mactime (sleuthkit) is not installed";
    test::ScratchDir scratch;
    const auto r = test::runCli({"list", test::fixture("reuse-ntfs.img"), "--format", "body"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string body = scratch.file("body.txt");
    writeText(body, r.out);
    const Shell timeline = shell("TZ=UTC mactime -y -d -b " + body);
    ASSERT_EQ(timeline.status, 0) << timeline.out;
    // The comma-separated timeline: date first, the quoted name last; unknown times show as 0000.
    std::set<std::string> dated;
    for (const std::string& line : test::lines(timeline.out)) {
        const std::size_t quote = line.find(",\"");
        if (line.rfind("0000-", 0) != 0 && quote != std::string::npos && line.back() == '"')
            dated.insert(line.substr(quote + 2, line.size() - quote - 3));
    }
    int entries = 0;
    for (const std::string& line : test::lines(r.out)) {
        const std::string name = line.substr(2, line.find('|', 2) - 2);
        if (line.substr(line.size() - 8) == "|0|0|0|0") continue;
        EXPECT_EQ(dated.count(name), 1u) << name;
        ++entries;
    }
    EXPECT_GT(entries, 3);
}

// The default report is the tab-separated listing, with and without --long.
TEST(ListFormats, TsvIsTheDefault) {
    const std::string image = test::fixture("reuse-fat32.img");
    for (const bool longForm : {false, true}) {
        std::vector<std::string> args = {"list", image};
        if (longForm) args.push_back("--long");
        const auto plain = test::runCli(args);
        args.insert(args.end(), {"--format", "tsv"});
        const auto tsv = test::runCli(args);
        ASSERT_EQ(plain.status, 0) << plain.err;
        EXPECT_EQ(tsv.out, plain.out);
    }
}

// --long puts the data state in the CSV and JSON reports too, for the same entries.
TEST(ListFormats, LongAddsTheDataStateToCsvAndJson) {
    const std::string image = test::fixture("reuse-fat32.img");
    const auto tsv = test::runCli({"list", image, "--long"});
    ASSERT_EQ(tsv.status, 0) << tsv.err;
    std::vector<std::string> states;
    for (const std::string& line : test::lines(tsv.out)) {
        const std::size_t a = line.find('\t'), b = line.find('\t', a + 1), c = line.find('\t', b + 1);
        states.push_back(line.substr(c + 1, line.find('\t', c + 1) - c - 1));
    }
    const auto csv = test::lines(test::runCli({"list", image, "--long", "--format", "csv"}).out);
    ASSERT_EQ(csv.size(), states.size() + 1);
    EXPECT_EQ(csv[0], "type,state,size,recoverability,modified,accessed,changed,created,path\r");
    const auto json = test::lines(test::runCli({"list", image, "--long", "--format", "json"}).out);
    ASSERT_EQ(json.size(), states.size());
    for (std::size_t i = 0; i < states.size(); ++i) {
        EXPECT_NE(json[i].find("\"recoverability\":\"" + states[i] + "\""), std::string::npos) << json[i];
        const std::size_t a = csv[i + 1].find(','), b = csv[i + 1].find(',', a + 1), c = csv[i + 1].find(',', b + 1);
        const std::string field = csv[i + 1].substr(c + 1, csv[i + 1].find(',', c + 1) - c - 1);
        EXPECT_TRUE(field == states[i] || field == "\"" + states[i] + "\"") << csv[i + 1];
    }
}

TEST(ListFormats, AnUnknownFormatIsAUsageError) {
    const auto r = test::runCli({"list", test::fixture("reuse-fat32.img"), "--format", "xls"});
    EXPECT_EQ(r.status, cli::kExitUsage);
    EXPECT_NE(r.err.find("--format takes tsv, csv, json, dfxml or body."), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

TEST(ListFormats, TimesAreIso8601InUtc) {
    struct Case {
        platform::UnixTime time;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{0, 0}, "1970-01-01T00:00:00Z"},
        {{951782400, 0}, "2000-02-29T00:00:00Z"},             // a leap day
        {{1700000000, 500000000}, "2023-11-14T22:13:20.5Z"},  // a fraction, trailing zeros dropped
        {{1700000000, 100}, "2023-11-14T22:13:20.0000001Z"},  // NTFS's 100 ns
        {{-86400, 0}, "1969-12-31T00:00:00Z"},                // before 1970
    };
    for (const Case& c : cases) EXPECT_EQ(isoUtc(c.time), c.text) << c.time.seconds;
}

}  // namespace
}  // namespace corvello

namespace corvello {
namespace {

// XML 1.0 has no place for U+FFFE, U+FFFF or a lone surrogate, which names on NTFS and ext can
// hold: the report stays well-formed and keeps the names apart.
TEST(ListFormats, DfxmlIsWellFormedWhateverANameHolds) {
    if (!havePython()) GTEST_SKIP() << "python3 with xml.etree is not installed";
    const std::vector<std::string> names = {"a\xEF\xBF\xBE" "b", "c\xEF\xBF\xBF" "d", "e\xED\xA0\x80" "f",
                                            "g<&>\"h", "\xF0\x9F\x93\xB7 photo"};
    std::ostringstream report;
    {
        const auto writer = makeListWriter(ListFormat::Dfxml, report, false, {"disk\xEF\xBF\xBE.img", 0});
        writer->begin();
        for (const std::string& name : names) writer->row(ListRow{false, false, 1, name, {}, {}, {}});
        writer->end();
    }
    test::ScratchDir scratch;
    writeText(scratch.file("report.xml"), report.str());
    const Shell r = shell("python3 -c 'import sys, xml.etree.ElementTree as ET\n"
                          "ns = \"{http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML}\"\n"
                          "for f in ET.parse(sys.argv[1]).getroot().iter(ns + \"filename\"): print(f.text)' " +
                          scratch.file("report.xml"));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(test::lines(r.out),
              (std::vector<std::string>{"a\\uFFFEb", "c\\uFFFFd", "e\\uD800f", "g<&>\"h", "\xF0\x9F\x93\xB7 photo"}));
}

}  // namespace
}  // namespace corvello
