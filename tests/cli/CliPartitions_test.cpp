#include <gtest/gtest.h>

#include <sstream>

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "support/TestSupport.h"

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
