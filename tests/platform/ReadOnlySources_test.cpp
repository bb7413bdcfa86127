// The read-only promise, checked two ways: every place in the program that opens anything
// outside the output side opens it for reading only; and a source that cannot be written (a
// file without write permission, a read-only loop device) goes through list, save and carve
// unchanged.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cctype>

#include "cli/Cli.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

namespace fs = std::filesystem;

std::string textOf(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

TEST(ReadOnlySources, OnlyTheOutputSideOpensForWriting) {
    // Writing flags and writing calls may appear only where recovered files are created.
    const fs::path src = fs::path(CORVELLO_SOURCE_DIR) / "src";
    const fs::path outputSide = src / "platform" / "posix" / "Files.cpp";
    const char* const writing[] = {"O_WRONLY", "O_RDWR", "O_CREAT", "O_TRUNC", "O_APPEND", "std::ofstream",
                                   "std::fstream", "fopen(", "creat(", "QIODevice::WriteOnly",
                                   "QIODevice::ReadWrite", "QIODevice::Append"};
    int opens = 0;
    for (const auto& e : fs::recursive_directory_iterator(src)) {
        if (!e.is_regular_file()) continue;
        const auto ext = e.path().extension();
        if ((ext != ".cpp" && ext != ".h") || e.path() == outputSide) continue;
        const std::string text = textOf(e.path());
        for (const char* w : writing)
            EXPECT_EQ(text.find(w), std::string::npos) << e.path() << " opens something for writing (" << w << ")";
        // Every call of the system's open (not a member function of that name) asks for
        // reading only.
        for (const std::string call : {"::open(", "::openat("}) {
            for (auto at = text.find(call); at != std::string::npos; at = text.find(call, at + 1)) {
                if (at > 0 && isWordChar(text[at - 1])) continue;
                const std::string args = text.substr(at, text.find(';', at) - at);
                ++opens;
                EXPECT_NE(args.find("O_RDONLY"), std::string::npos) << e.path() << ": " << args;
            }
        }
    }
    EXPECT_GE(opens, 1);  // the source reader itself is among them
}

// Runs list, save and carve on image and checks its bytes are the same afterwards.
void runEverythingOn(const std::string& image, const std::vector<std::string>& volume, const test::ScratchDir& dir) {
    const std::string before = test::sha256File(image);
    std::vector<std::string> list = {"list", image};
    list.insert(list.end(), volume.begin(), volume.end());
    std::vector<std::string> save = list;
    save[0] = "save";
    save.insert(save.end(), {"--out", dir.file("saved"), "--allow-same-device"});
    EXPECT_EQ(test::runCli(list).status, cli::kExitOk);
    EXPECT_EQ(test::runCli(save).status, cli::kExitOk);
    const auto carve = test::runCli({"carve", image, "--out", dir.file("carved"), "--allow-same-device"});
    EXPECT_EQ(carve.status, cli::kExitOk) << carve.err;
    EXPECT_EQ(test::sha256File(image), before);
}

TEST(ReadOnlySources, AFileWithoutWritePermissionIsReadWhole) {
    test::ScratchDir dir;
    const std::string image = dir.file("locked.img");
    fs::copy_file(test::fixture("fat12-floppy.img"), image);
    ::chmod(image.c_str(), 0444);
    runEverythingOn(image, {}, dir);
    // The files come back byte for byte.
    for (const auto& m : test::readManifest("fat12-floppy"))
        if (m.kind == "f" && m.state == "live") {
            EXPECT_EQ(test::sha256File(dir.file("saved/" + m.path)), m.sha256) << m.path;
        }
}

TEST(ReadOnlySources, AReadOnlyLoopDeviceIsReadWhole) {
    if (::geteuid() != 0 || !fs::exists("/dev/loop-control") || std::system("command -v losetup >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs root, /dev/loop-control and losetup to attach a read-only loop device";
    test::ScratchDir dir;
    const std::string image = dir.file("disk.img");
    fs::copy_file(test::fixture("sample-disk.img"), image);
    const std::string attach = "losetup --read-only --find --show '" + image + "' > '" + dir.file("loop") + "' 2>/dev/null";
    if (std::system(attach.c_str()) != 0) GTEST_SKIP() << "this machine does not allow attaching a loop device";
    std::string loop;
    std::getline(std::ifstream(dir.file("loop")), loop);
    ASSERT_EQ(loop.rfind("/dev/loop", 0), 0u) << loop;
    if (!fs::exists(loop)) {
        std::system(("losetup -d " + loop).c_str());
        GTEST_SKIP() << loop << " has no device node here";
    }
    const std::string before = test::sha256File(image);
    runEverythingOn(loop, {"--volume", "0"}, dir);
    std::system(("losetup -d " + loop).c_str());
    EXPECT_EQ(test::sha256File(image), before);
}

}  // namespace
}  // namespace corvello
