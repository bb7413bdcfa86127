// corvello-cli's help: every command documents each of its options on one line with an example,
// the options documented are the ones the command accepts, and the manual page names them all.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/Cli.h"
#include "platform/ProgramPath.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

std::string manualPage() {
    std::ifstream in(std::string(CORVELLO_SOURCE_DIR) + "/data/man/corvello-cli.1.in");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// roff writes a minus as "\-".
std::string roff(std::string option) {
    std::string out;
    for (char c : option) {
        if (c == '-') out += '\\';
        out += c;
    }
    return out;
}

TEST(CliHelp, EveryCommandListsItsOptionsWithAnExample) {
    const auto top = test::runCli({"--help"});
    ASSERT_EQ(top.status, cli::kExitOk);
    const std::string page = manualPage();
    ASSERT_FALSE(page.empty());
    ASSERT_FALSE(cli::commandNames().empty());
    for (const std::string& command : cli::commandNames()) {
        EXPECT_NE(top.out.find("\n  " + command + " "), std::string::npos) << command;
        EXPECT_NE(top.out.find("  corvello-cli " + command), std::string::npos) << "example of " << command;
        EXPECT_NE(page.find(".B corvello\\-cli " + roff(command)), std::string::npos) << command << " in the manual";

        for (const auto& args : {std::vector<std::string>{command, "--help"}, {"help", command},
                                 {command, "some.img", "-h"}}) {
            const auto r = test::runCli(args);
            ASSERT_EQ(r.status, cli::kExitOk) << command;
            EXPECT_EQ(r.out.rfind("usage: corvello-cli " + command, 0), 0u) << r.out;
            EXPECT_NE(r.out.find("Example:\n  corvello-cli " + command), std::string::npos) << r.out;
            for (const std::string& option : cli::documentedOptions(command))
                EXPECT_NE(r.out.find("\n  " + option), std::string::npos) << command << " " << option;
        }
        for (const std::string& option : cli::documentedOptions(command)) {
            // Accepted by the command's parser: whatever else is wrong, it is not an unknown option.
            const auto r = test::runCli({command, "/nonexistent/disk.img", option});
            EXPECT_EQ(r.err.find("unknown option"), std::string::npos) << command << " " << option << ": " << r.err;
            EXPECT_NE(page.find(roff(option)), std::string::npos) << option << " in the manual";
        }
        const auto bogus = test::runCli({command, "/nonexistent/disk.img", "--frobnicate"});
        EXPECT_EQ(bogus.status, cli::kExitUsage) << command;
        EXPECT_NE(bogus.err.find("unknown option --frobnicate"), std::string::npos) << bogus.err;
    }
}

TEST(CliHelp, VersionAndErrors) {
    const auto version = test::runCli({"--version"});
    EXPECT_EQ(version.status, cli::kExitOk);
    EXPECT_EQ(version.out, std::string("corvello-cli ") + platform::programVersion() + "\n");

    const auto none = test::runCli({});
    EXPECT_EQ(none.status, cli::kExitUsage);
    EXPECT_NE(none.err.find("usage: corvello-cli COMMAND"), std::string::npos);
    const auto unknown = test::runCli({"help", "frobnicate"});
    EXPECT_EQ(unknown.status, cli::kExitUsage);
    EXPECT_NE(unknown.err.find("unknown command \"frobnicate\""), std::string::npos);
}

}  // namespace
}  // namespace corvello
