#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "support/TestSupport.h"
#include "support/ByteWriters.h"

namespace corvello {
namespace {

TEST(CliPartitions, PrintsTheVolumeListTabSeparated) {
    const auto r = test::runCli({"partitions", test::fixture("mbr-disk.img")});
    ASSERT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(test::lines(r.out), (std::vector<std::string>{"0\tFAT16\t16   MB\t2048", "1\tNTFS\t12   MB\t34816",
                                                             "2\tFAT32\t36   MB\t61440", "3\textX\t8   MB\t137216",
                                                             "4\tFAT64\t8   MB\t155648"}));
}

TEST(CliPartitions, AdvancedScanDrawsProgressOnlyOnATerminal) {
    // Into a pipe or a file (the test's stream): the rows, and no progress or escape codes.
    const auto r = test::runCli({"partitions", test::fixture("damaged-table.img"), "--advanced", "--start", "6144",
                                 "--end", "22528"});
    ASSERT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(test::lines(r.out), (std::vector<std::string>{"0\tFAT16\t8  MB\t6144", "1\tFAT32\t34  MB\t22528"}));
    EXPECT_EQ(r.err.find('\033'), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("%]"), std::string::npos) << r.err;

    // On a terminal: one line redrawn in place, ended by a newline.
    std::ostringstream err;
    {
        cli::ConsoleHost host(err, cli::ProgressStyle::Terminal);
        host.setProgressRange(0, 10);
        host.setStatus("Scanning partition.....");
        host.setProgressPos(5);
    }
    EXPECT_NE(err.str().find("%] Scanning partition....."), std::string::npos) << err.str();
    EXPECT_EQ(err.str().back(), '\n');
}

TEST(CliPartitions, ErrorsAreOneClearSentenceWithTheirExitStatus) {
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{}, cli::kExitUsage, "usage"},
        {{"frobnicate"}, cli::kExitUsage, "unknown command"},
        {{"partitions"}, cli::kExitUsage, "exactly one IMAGE"},
        {{"partitions", "x", "--bogus"}, cli::kExitUsage, "unknown option --bogus"},
        {{"partitions", "x", "--start", "5"}, cli::kExitUsage, "belong to --advanced"},
        {{"partitions", "/nonexistent/disk.img"}, cli::kExitInput, "cannot open /nonexistent/disk.img"},
        {{"partitions", test::fixture("mbr-disk.img"), "--advanced", "--start", "x"}, cli::kExitUsage,
         "whole number"},
        {{"list", test::fixture("mbr-disk.img")}, cli::kExitInput, "no file system recognised"},
        {{"list", test::fixture("mbr-disk.img"), "--volume", "9"}, cli::kExitUsage, "there is no volume 9"},
        {{"save", test::fixture("mbr-disk.img"), "--volume", "0"}, cli::kExitUsage, "--out DIR"},
        {{"list", test::fixture("mbr-disk.img"), "--volume", "0", "--mode", "fast"}, cli::kExitUsage, "--mode"},
    };
    for (const auto& c : cases) {
        const auto r = test::runCli(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace corvello

namespace corvello {
namespace {

std::vector<std::uint8_t> readAllBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using test::put32;

// Writes a primary slot: boot flag, type, first sector and sector count.
void putSlot(std::vector<std::uint8_t>& b, int slot, std::uint8_t flag, std::uint8_t type, std::uint32_t start,
             std::uint32_t count) {
    const std::size_t at = 446 + static_cast<std::size_t>(slot) * 16;
    b[at] = flag;
    b[at + 4] = type;
    put32(b, at + 8, start);
    put32(b, at + 12, count);
}

// A first sector that only looks like a table is none: no rows are invented from boot code or
// random bytes, and the reason is said.
TEST(CliPartitions, NoVolumesAreInventedWithoutATable) {
    test::ScratchDir dir;
    std::mt19937 random(29);
    std::vector<std::uint8_t> noise(1 << 20);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    noise[510] = 0x55;
    noise[511] = 0xAA;

    std::vector<std::uint8_t> pastTheEnd(1 << 20, 0);  // well-formed slots, all past the disk's end
    putSlot(pastTheEnd, 0, 0x80, 0x07, 5000000, 2048);
    putSlot(pastTheEnd, 1, 0x00, 0x0C, 9000000, 2048);
    pastTheEnd[510] = 0x55;
    pastTheEnd[511] = 0xAA;

    std::vector<std::uint8_t> unmarked(1 << 20, 0);  // a slot inside the disk, but no 0x55AA
    putSlot(unmarked, 0, 0x00, 0x0C, 2048, 2048);

    const std::pair<const char*, std::vector<std::uint8_t>*> cases[] = {
        {"noise", &noise}, {"past-the-end", &pastTheEnd}, {"unmarked", &unmarked}};
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        test::writeFile(dir.file(name), *bytes);
        const auto r = test::runCli({"partitions", dir.file(name)});
        EXPECT_EQ(r.status, cli::kExitOk) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("holds no partition table"), std::string::npos) << r.err;
    }
}

// Windows' NTFS boot code happens to read as a table; a known boot sector at sector 0 makes the
// disk one bare volume, so --volume 0 reads what plain list reads.
TEST(CliPartitions, ABootSectorAtTheStartIsOneBareVolume) {
    test::ScratchDir dir;
    std::vector<std::uint8_t> disk = readAllBytes(test::fixture("ntfs-small.img"));
    ASSERT_GT(disk.size(), 1u << 20);
    putSlot(disk, 0, 0x80, 0x07, 63, 1000);
    putSlot(disk, 1, 0x00, 0x0B, 1200, 500);
    putSlot(disk, 2, 0x00, 0x83, 1800, 100);
    test::writeFile(dir.file("ntfs"), disk);

    const auto table = test::runCli({"partitions", dir.file("ntfs")});
    ASSERT_EQ(table.status, cli::kExitOk) << table.err;
    const auto rows = test::lines(table.out);
    ASSERT_EQ(rows.size(), 1u) << table.out;
    EXPECT_EQ(rows[0].substr(0, 7), "0\tNTFS\t");
    EXPECT_EQ(rows[0].substr(rows[0].rfind('\t')), "\t0");

    const auto plain = test::runCli({"list", dir.file("ntfs")});
    const auto chosen = test::runCli({"list", dir.file("ntfs"), "--volume", "0"});
    ASSERT_EQ(plain.status, cli::kExitOk) << plain.err;
    ASSERT_EQ(chosen.status, cli::kExitOk) << chosen.err;
    EXPECT_EQ(chosen.out, plain.out);
}

// A GPT disk of one partition whose name holds a tab, a line feed and an escape sequence, and
// whose first sectors hold no known file system (its row then shows the name).
std::vector<std::uint8_t> gptDiskNamed(const std::u16string& name) {
    std::vector<std::uint8_t> disk(256 * 512, 0);
    putSlot(disk, 0, 0x00, 0xEE, 1, 255);
    disk[510] = 0x55;
    disk[511] = 0xAA;
    std::copy_n("EFI PART", 8, disk.begin() + 512);
    put32(disk, 512 + 72, 2);  // the entry array's first sector
    const std::size_t entry = 1024;
    disk[entry] = 0xAF;  // a type GUID that is not zero
    put32(disk, entry + 32, 64);
    put32(disk, entry + 40, 200);
    for (std::size_t i = 0; i < name.size() && i < 36; ++i) {
        disk[entry + 56 + 2 * i] = static_cast<std::uint8_t>(name[i]);
        disk[entry + 57 + 2 * i] = static_cast<std::uint8_t>(name[i] >> 8);
    }
    return disk;
}

TEST(CliPartitions, NamesFromTheDiskCannotSteerTheTerminalOrSplitARow) {
    test::ScratchDir dir;
    test::writeFile(dir.file("gpt"), gptDiskNamed(u"evil\t\x1b[2J\nname"));
    const auto r = test::runCli({"partitions", dir.file("gpt")});
    ASSERT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(r.out, "0\tevil\\u0009\\u001B[2J\\u000Aname\t0\t64\n");

    // Its volume holds nothing corvello-cli reads: said in the command line's words, not the
    // wizard's.
    const auto list = test::runCli({"list", dir.file("gpt"), "--volume", "0"});
    EXPECT_EQ(list.status, cli::kExitInput);
    EXPECT_NE(list.err.find("holds no file system corvello-cli reads"), std::string::npos) << list.err;
    EXPECT_EQ(list.err.find("not a valid drive"), std::string::npos) << list.err;
    EXPECT_EQ(list.err.find('\033'), std::string::npos) << list.err;

    // An image path is user text: it reaches the terminal made harmless too.
    const auto missing = test::runCli({"partitions", dir.file("no\x1b]0;title\x07such")});
    EXPECT_EQ(missing.status, cli::kExitInput);
    EXPECT_EQ(missing.err.find('\033'), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("no\\u001B]0;title\\u0007such"), std::string::npos) << missing.err;
}

TEST(CliPartitions, StatusesTellWhatHappened) {
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        // A GPT asked for where there is none: an error, not an empty list that passes for one.
        {{"partitions", test::fixture("mbr-disk.img"), "--gpt"}, cli::kExitInput, "has no GPT"},
        {{"list", test::fixture("mbr-disk.img"), "--volume", "0", "--gpt"}, cli::kExitInput, "has no GPT"},
        // 4294967733 is 2^32 + 437: no code page, whatever an int would make of it.
        {{"list", test::fixture("fat12-shortnames.img"), "--codepage", "4294967733"}, cli::kExitUsage,
         "--codepage takes"},
    };
    for (const auto& c : cases) {
        const auto r = test::runCli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace corvello
