// Ctrl-C on the command line: the work stops where it polls, a file cut in the middle is not
// left behind under its real name, and the exit status says the run was interrupted.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/ScannedVolume.h"
#include "platform/Interrupts.h"
#include "scan/SaveWalk.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

// A host whose user presses Stop as the named file starts to be saved.
class StopAtFile : public MemoryScanHost {
public:
    explicit StopAtFile(std::string name) : name_(std::move(name)) {}
    void setStatus(const std::string& text) override {
        MemoryScanHost::setStatus(text);
        if (text.size() >= name_.size() && text.compare(text.size() - name_.size(), name_.size(), name_) == 0)
            requestStop();
    }

private:
    std::string name_;
};

TEST(Interrupt, AFileCutByAStopIsRemovedAndNamed) {
    std::ostringstream err;
    cli::ScannedVolume v(err);
    cli::scanVolume(v, cli::Args({test::fixture("reuse-fat32.img")}, cli::kVolumeOptions, cli::kVolumeFlags));
    ASSERT_TRUE(v.session);
    test::ScratchDir out;
    StopAtFile host("filler.bin");  // 33 MiB: read in many pieces, so the stop lands inside it
    const SaveResult result = saveRecords(*v.session, topLevelRecords(*v.session, v.tree), out.path(), host);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.interrupted, out.path() + "/filler.bin");
    EXPECT_FALSE(std::filesystem::exists(out.file("filler.bin")));
    // What was saved before the stop is whole.
    for (const auto& entry : test::readManifest("reuse-fat32")) {
        if (entry.path == "filler.bin" || entry.sha256 == "-" || !std::filesystem::exists(out.file(entry.path))) continue;
        EXPECT_EQ(test::sha256File(out.file(entry.path)), entry.sha256) << entry.path;
    }
}

// Runs fn in a child process and returns its wait status.
template <class Fn>
int inChild(Fn&& fn) {
    std::cout.flush();
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

TEST(Interrupt, TheFirstCtrlCStopsTheWorkAndTheSecondEndsTheProcess) {
    test::ScratchDir out;
    const std::string image = test::fixture("reuse-fat32.img");
    const int first = inChild([&] {
        platform::catchInterrupts(cli::interruptWork);
        std::raise(SIGINT);  // pressed before the work begins: nothing is scanned or written
        std::ostringstream o, e;
        const int status = cli::runCli({"save", image, "--out", out.file("saved")}, o, e);
        return status == cli::kExitInterrupted && e.str().find("interrupted") != std::string::npos ? 0 : 1;
    });
    ASSERT_TRUE(WIFEXITED(first));
    EXPECT_EQ(WEXITSTATUS(first), 0);
    EXPECT_FALSE(std::filesystem::exists(out.file("saved/filler.bin")));

    const int second = inChild([] {
        platform::catchInterrupts(cli::interruptWork);
        std::raise(SIGINT);
        std::raise(SIGINT);
        return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(second));
    EXPECT_EQ(WTERMSIG(second), SIGINT);
}

}  // namespace
}  // namespace corvello
