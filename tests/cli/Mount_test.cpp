// corvello-cli mount: the scanned volume as a read-only FUSE folder. Live files where they are,
// deleted ones under "[deleted]" in their folders; copying the mount gives what save writes.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "cli/Cli.h"
#include "cli/ScannedVolume.h"
#include "scan/MountTree.h"
#include "scan/SaveWalk.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

namespace fs = std::filesystem;

// A deleted FAT entry has lost the first letter of its name: under the deleted folder, paths are
// compared with the first character of the name left out.
std::string comparable(std::string path) {
    if (path.rfind(std::string(kDeletedFolder) + "/", 0) != 0) return path;
    std::size_t name = path.rfind('/') + 1;
    std::size_t next = name + 1;
    while (next < path.size() && (static_cast<unsigned char>(path[next]) & 0xC0) == 0x80) ++next;
    return path.substr(0, name) + "?" + path.substr(next);
}

std::map<std::string, std::string> comparable(const std::map<std::string, std::string>& sums) {
    std::map<std::string, std::string> out;
    for (const auto& [path, sum] : sums) out[comparable(path)] = sum;
    return out;
}

// Where each file of the manifest lies in the mount: live ones at their path, deleted ones (with
// known bytes) under the deleted folder.
std::map<std::string, std::string> expectedFiles(const std::string& manifest) {
    std::map<std::string, std::string> out;
    for (const auto& e : test::readManifest(manifest)) {
        if (e.kind != "f" || e.sha256 == "-") continue;
        out[(e.state == "deleted" ? std::string(kDeletedFolder) + "/" : std::string()) + e.path] = e.sha256;
    }
    return comparable(out);
}

// Every file of the tree below path with the sha256 of its bytes, read in odd pieces as a
// reader asks for them.
void readTree(platform::ReadOnlyTree& tree, const std::string& path, std::map<std::string, std::string>& out) {
    std::vector<platform::ReadOnlyTree::Entry> entries;
    ASSERT_TRUE(tree.list("/" + path, entries)) << path;
    for (const auto& e : entries) {
        const std::string child = path.empty() ? e.name : path + "/" + e.name;
        if (e.folder) {
            readTree(tree, child, out);
            continue;
        }
        std::vector<std::uint8_t> bytes(e.size);
        for (std::size_t at = 0; at < bytes.size(); at += 40000) {
            const std::size_t n = std::min<std::size_t>(40000, bytes.size() - at);
            const auto got = tree.read("/" + child, at, std::span<std::uint8_t>(bytes.data() + at, n));
            ASSERT_TRUE(got.has_value()) << child;
            ASSERT_EQ(*got, n) << child;
        }
        out[child] = test::sha256(bytes);
    }
}

// Through the tree alone (no FUSE): every manifest file, deleted ones included, reads whole, and
// the top level holds the live folders beside the deleted folder.
// The tree holds the files save writes, under the same names (duplicates numbered alike), the
// deleted ones moved under the deleted folder.
TEST(MountTree, HoldsWhatSaveWrites) {
    for (const char* image : {"sample-disk.img", "ntfs-basic.img", "fat16-2k.img"}) {
        SCOPED_TRACE(image);
        std::vector<std::string> args = {test::fixture(image)};
        if (std::string(image) == "sample-disk.img") args.insert(args.end(), {"--volume", "0"});
        std::ostringstream err;
        cli::ScannedVolume v(err);
        cli::scanVolume(v, cli::Args(args, cli::kVolumeOptions, cli::kVolumeFlags));
        MountTree tree(*v.session, topLevelRecords(*v.session, v.tree));
        std::map<std::string, std::string> mounted, unmarked;
        readTree(tree, "", mounted);
        const std::string marker = std::string(kDeletedFolder) + "/";
        for (const auto& [path, sum] : mounted)
            unmarked[path.rfind(marker, 0) == 0 ? path.substr(marker.size()) : path] = sum;
        test::ScratchDir dir;
        std::vector<std::string> save = {"save"};
        save.insert(save.end(), args.begin(), args.end());
        save.insert(save.end(), {"--out", dir.file("saved")});
        const auto saved = test::runCli(save);
        ASSERT_EQ(saved.status, 0) << saved.err;
        std::map<std::string, std::string> written;
        for (const auto& e : fs::recursive_directory_iterator(dir.file("saved")))
            if (e.is_regular_file())
                written[fs::relative(e.path(), dir.file("saved")).string()] = test::sha256File(e.path().string());
        EXPECT_GT(written.size(), 3u);
        EXPECT_EQ(unmarked, written);
        EXPECT_EQ(unmarked.size(), mounted.size());
    }
}

// A deleted folder "Shared" beside a live one of that name: the live one's file is live in the
// mount, where the deleted folder's name once made everything of that path deleted.
TEST(MountTree, ALiveFolderBesideADeletedOneOfItsNameStaysLive) {
    std::ostringstream err;
    cli::ScannedVolume v(err);
    cli::scanVolume(v, cli::Args({test::fixture("ext4-links.img")}, cli::kVolumeOptions, cli::kVolumeFlags));
    MountTree tree(*v.session, topLevelRecords(*v.session, v.tree));
    platform::ReadOnlyTree::Entry e;
    EXPECT_TRUE(tree.stat("/Shared/new.txt", e));
    EXPECT_FALSE(tree.stat("/" + tree.deletedFolder() + "/Shared/new.txt", e));
    std::map<std::string, std::string> files;
    readTree(tree, "", files);
    const auto want = expectedFiles("ext4-links");
    for (const auto& [path, sum] : want) EXPECT_EQ(files[path], sum) << path;
}

TEST(MountTree, EveryFileReadsAsTheManifestSays) {
    std::ostringstream err;
    cli::ScannedVolume v(err);
    cli::scanVolume(v, cli::Args({test::fixture("sample-disk.img"), "--volume", "0"}, cli::kVolumeOptions,
                                 cli::kVolumeFlags));
    MountTree tree(*v.session, topLevelRecords(*v.session, v.tree));
    std::vector<platform::ReadOnlyTree::Entry> top;
    ASSERT_TRUE(tree.list("/", top));
    std::vector<std::string> names;
    for (const auto& e : top) names.push_back(e.name + (e.folder ? "/" : ""));
    EXPECT_EQ(names, (std::vector<std::string>{"Documents/", "Photos/", "[deleted]/"}));
    std::map<std::string, std::string> files;
    readTree(tree, "", files);
    const auto want = expectedFiles("sample-disk");
    EXPECT_EQ(comparable(files), want);
    EXPECT_EQ(want.count("[deleted]/Documents/?otes.txt") + want.count("[deleted]/Photos/?amily.jpg"), 2u);
    platform::ReadOnlyTree::Entry e;
    EXPECT_FALSE(tree.stat("/Documents/notes.txt", e)) << "a deleted file is never among the live ones";
    std::vector<std::uint8_t> some(16);
    EXPECT_FALSE(tree.read("/Documents", 0, some).has_value());
    EXPECT_FALSE(tree.read("/nothing", 0, some).has_value());
}

// A medium that ends early: the bytes of a file past its end are an error to the reader, never
// zeros in their place, while the file's bytes before it and the files wholly inside still read.
TEST(MountTree, BytesTheMediumCannotGiveAreAnErrorNotZeros) {
    // fat16-2k.img cut at 2,000,000 bytes: "holiday movie.bin" has its second run of clusters
    // (volume bytes 1,140,736 to 2,189,312, file bytes from 1,048,576) cut there.
    std::ifstream in(test::fixture("fat16-2k.img"), std::ios::binary);
    std::vector<std::uint8_t> bytes(2000000);
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())));
    test::ScratchDir dir;
    test::writeFile(dir.file("cut.img"), bytes);
    std::ostringstream err;
    cli::ScannedVolume v(err);
    cli::scanVolume(v, cli::Args({dir.file("cut.img")}, cli::kVolumeOptions, cli::kVolumeFlags));
    MountTree tree(*v.session, topLevelRecords(*v.session, v.tree));

    std::map<std::string, std::string> sums;
    for (const auto& e : test::readManifest("fat16-2k")) sums[e.path] = e.sha256;
    std::vector<std::uint8_t> whole(6144);
    ASSERT_EQ(tree.read("/Data/exact clusters.bin", 0, whole), std::optional<std::size_t>(whole.size()));
    EXPECT_EQ(test::sha256(whole), sums["Data/exact clusters.bin"]);

    const std::uint64_t cutAt = 1048576 + (2000000 - 1140736);  // the file byte where the medium ends
    std::vector<std::uint8_t> piece(16384);
    EXPECT_EQ(tree.read("/Data/holiday movie.bin", 0, piece), std::optional<std::size_t>(piece.size()));
    EXPECT_EQ(tree.read("/Data/holiday movie.bin", cutAt - piece.size(), piece),
              std::optional<std::size_t>(piece.size()));
    EXPECT_FALSE(tree.read("/Data/holiday movie.bin", cutAt - 100, piece).has_value()) << "across the end";
    EXPECT_FALSE(tree.read("/Data/holiday movie.bin", cutAt + 500000, piece).has_value()) << "past the end";
}

bool mounted(const std::string& dir) {
    std::ifstream info("/proc/self/mountinfo");
    std::string line;
    while (std::getline(info, line))
        if (line.find(" " + dir + " ") != std::string::npos) return true;
    return false;
}

// corvello-cli mount in a child process, its messages in a file.
struct MountProcess {
    pid_t pid = -1;
    std::string errFile;
    int status = -1;

    MountProcess(const std::vector<std::string>& args, std::string errPath) : errFile(std::move(errPath)) {
        pid = ::fork();
        if (pid == 0) {
            std::ofstream err(errFile);
            std::ostringstream out;
            const int code = cli::runCli(args, out, err);
            err.flush();
            ::_exit(code);
        }
    }
    ~MountProcess() {
        if (pid > 0 && status < 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    bool exited(int timeoutMs) {
        for (int waited = 0; waited <= timeoutMs; waited += 20) {
            int s = 0;
            if (::waitpid(pid, &s, WNOHANG) == pid) {
                status = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    std::string messages() const {
        std::ifstream in(errFile);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

std::map<std::string, std::string> treeSums(const std::string& dir, bool stripDeleted) {
    std::map<std::string, std::string> out;
    const std::string marker = std::string(kDeletedFolder) + "/";
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        std::string path = fs::relative(e.path(), dir).string();
        if (stripDeleted && path.rfind(marker, 0) == 0) path.erase(0, marker.size());
        out[path] = test::sha256File(e.path().string());
    }
    return out;
}

class MountCommand : public ::testing::Test {
protected:
    void SetUp() override {
        const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fuse < 0) GTEST_SKIP() << "/dev/fuse cannot be opened here (" << std::strerror(errno) << "): no FUSE mount to test";
        ::close(fuse);
        mountPoint = fs::absolute(scratch.file("mnt")).string();
        fs::create_directory(mountPoint);
        process = std::make_unique<MountProcess>(
            std::vector<std::string>{"mount", image, "--volume", "0", mountPoint}, scratch.file("mount.err"));
        for (int waited = 0; waited < 60000 && !mounted(mountPoint); waited += 20) {
            if (process->exited(0)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (process->status >= 0 && process->messages().find("could not be mounted on") != std::string::npos)
            GTEST_SKIP() << "mounting is not permitted here: " << process->messages();
        ASSERT_TRUE(mounted(mountPoint)) << process->messages();
    }
    void TearDown() override {
        if (!mountPoint.empty() && mounted(mountPoint)) std::system(("fusermount3 -u -z '" + mountPoint + "'").c_str());
    }
    test::ScratchDir scratch;
    const std::string image = test::fixture("sample-disk.img");
    std::string mountPoint;
    std::unique_ptr<MountProcess> process;
};

TEST_F(MountCommand, CopyEqualsSaveAndNothingCanBeWritten) {
    // cp -r gives the files save writes, the deleted ones under the deleted folder.
    const std::string copy = scratch.file("copy");
    ASSERT_EQ(std::system(("cp -r '" + mountPoint + "' '" + copy + "'").c_str()), 0);
    const auto saved = test::runCli({"save", image, "--volume", "0", "--out", scratch.file("saved")});
    ASSERT_EQ(saved.status, 0) << saved.err;
    EXPECT_EQ(treeSums(copy, true), treeSums(scratch.file("saved"), false));
    // The mounted files, deleted ones under their marked names, are the manifest's bytes.
    const auto want = expectedFiles("sample-disk");
    EXPECT_EQ(comparable(treeSums(mountPoint, false)), want);
    EXPECT_EQ(want.count("[deleted]/Documents/?otes.txt"), 1u);

    // Nothing can be written, created, removed or changed.
    const std::string existing = mountPoint + "/Documents/letter.txt";
    EXPECT_EQ(::open((mountPoint + "/new.txt").c_str(), O_CREAT | O_WRONLY, 0644), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(::open(existing.c_str(), O_WRONLY), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(::unlink(existing.c_str()), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(::mkdir((mountPoint + "/folder").c_str(), 0755), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(::truncate(existing.c_str(), 0), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(::utimensat(AT_FDCWD, existing.c_str(), nullptr, 0), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(test::sha256File(existing), want.at("Documents/letter.txt"));

    // fusermount3 -u ends it: the command returns 0 and nothing stays mounted.
    ASSERT_EQ(std::system(("fusermount3 -u '" + mountPoint + "'").c_str()), 0);
    ASSERT_TRUE(process->exited(30000));
    EXPECT_EQ(process->status, 0) << process->messages();
    EXPECT_FALSE(mounted(mountPoint));
}

TEST(MountCommandErrors, AMountPointThatIsNoEmptyFolderIsRefused) {
    test::ScratchDir dir;
    fs::create_directory(dir.file("full"));
    test::writeFile(dir.file("full/mine.txt"), {'x'});
    test::writeFile(dir.file("file"), {'x'});
    const std::string image = test::fixture("fat12-floppy.img");
    for (const auto& [point, reason] : {std::pair<std::string, std::string>{dir.file("full"), "is not empty"},
                                        {dir.file("file"), "is no folder"},
                                        {dir.file("missing"), "is no folder"}}) {
        const auto r = test::runCli({"mount", image, point});
        EXPECT_EQ(r.status, cli::kExitInput);
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    }
    EXPECT_TRUE(fs::exists(dir.file("full/mine.txt")));
    EXPECT_EQ(test::runCli({"mount", image}).status, cli::kExitUsage);
}

TEST_F(MountCommand, CtrlCUnmounts) {
    ASSERT_EQ(::kill(process->pid, SIGINT), 0);
    ASSERT_TRUE(process->exited(30000));
    EXPECT_EQ(process->status, 0) << process->messages();
    EXPECT_FALSE(mounted(mountPoint));
}

}  // namespace
}  // namespace corvello
