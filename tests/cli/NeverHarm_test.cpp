// The promises a recovery run keeps whatever the disk or the user throws at it: the source is
// never written, nothing lands outside the output folder, nothing goes to a shared temporary
// folder, an unreadable or oversized file is reported instead of counted as saved, and every
// failure has its own exit status.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <streambuf>

#include "cli/Cli.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every path below root, relative to it, sorted.
std::vector<std::string> tree(const std::string& root) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) out.push_back(fs::relative(e.path(), root).string());
    std::sort(out.begin(), out.end());
    return out;
}

const test::ManifestEntry& manifestEntry(const std::vector<test::ManifestEntry>& m, const std::string& path) {
    for (const auto& e : m)
        if (e.path == path) return e;
    throw std::runtime_error("not in the manifest: " + path);
}

TEST(NeverHarm, TheImageInItsOwnOutputFolderIsNeverWritten) {
    // The image sits where the save would put a recovered file of the same name.
    test::ScratchDir dir;
    const std::string out = dir.file("out");
    fs::create_directories(out + "/Documents");
    const std::string image = out + "/Documents/readme.txt";
    fs::copy_file(test::fixture("fat12-floppy.img"), image);
    const std::string before = test::sha256File(image);

    const auto r = test::runCli({"save", image, "--out", out});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(test::sha256File(image), before);
    // The recovered file takes the next free name; every other file still comes out whole.
    const auto manifest = test::readManifest("fat12-floppy");
    EXPECT_EQ(test::sha256File(out + "/Documents/readme (2).txt"), manifestEntry(manifest, "Documents/readme.txt").sha256);
    for (const auto& e : manifest) {
        if (e.kind == "f" && e.state == "live" && e.path != "Documents/readme.txt") {
            EXPECT_EQ(test::sha256File(out + "/" + e.path), e.sha256) << e.path;
        }
    }

    // A second save into the same folder keeps the first one's files and adds numbered copies.
    const std::string letterBefore = test::sha256File(out + "/Documents/readme (2).txt");
    EXPECT_EQ(test::runCli({"save", image, "--out", out}).status, cli::kExitOk);
    EXPECT_EQ(test::sha256File(out + "/Documents/readme (2).txt"), letterBefore);
    EXPECT_EQ(test::sha256File(out + "/Documents/readme (3).txt"), letterBefore);
    EXPECT_EQ(test::sha256File(image), before);

    // The image itself as the output folder is refused.
    const auto self = test::runCli({"save", image, "--out", image});
    EXPECT_EQ(self.status, cli::kExitUsage);
    EXPECT_NE(self.err.find("is the image itself"), std::string::npos) << self.err;
    EXPECT_EQ(test::sha256File(image), before);
}

TEST(NeverHarm, LinksInTheOutputFolderAreNeverFollowed) {
    test::ScratchDir dir;
    const std::string out = dir.file("out"), elsewhere = dir.file("elsewhere");
    fs::create_directories(elsewhere);
    fs::create_directories(out + "/Data");
    std::ofstream(elsewhere + "/victim.txt") << "keep me";
    // A link where a folder will be made, and links where files will be written.
    fs::create_directory_symlink(elsewhere, out + "/Documents");
    fs::create_symlink(elsewhere + "/victim.txt", out + "/Data/empty.dat");
    fs::create_symlink(elsewhere + "/new.txt", out + "/Data/exact clusters.bin");  // dangling

    const auto r = test::runCli({"save", test::fixture("fat12-floppy.img"), "--out", out});
    EXPECT_EQ(r.status, cli::kExitOk) << r.err;
    EXPECT_EQ(tree(elsewhere), std::vector<std::string>{"victim.txt"});
    EXPECT_EQ(contentOf(elsewhere + "/victim.txt"), "keep me");
    // The links stay as they were; what would have gone through them got the next names.
    EXPECT_TRUE(fs::is_symlink(out + "/Documents"));
    const auto manifest = test::readManifest("fat12-floppy");
    EXPECT_EQ(test::sha256File(out + "/Documents (2)/readme.txt"), manifestEntry(manifest, "Documents/readme.txt").sha256);
    EXPECT_EQ(test::sha256File(out + "/Data/exact clusters (2).bin"),
              manifestEntry(manifest, "Data/exact clusters.bin").sha256);
    EXPECT_TRUE(fs::exists(out + "/Data/empty (2).dat"));
}

TEST(NeverHarm, TheRecycleBinPassWritesNothingToTheTemporaryFolder) {
    // Whoever made the image knows the index files' names: links planted under every name the
    // pass could use must receive nothing, and the pass must still restore the names.
    test::ScratchDir dir;
    const std::string tmp = dir.file("tmp");
    fs::create_directories(tmp);
    std::ofstream(dir.file("victim")) << "keep me";
    for (const char* name : {"corvello-$IRK3Q9Z1.txt", "corvello-$I4F2KD1.txt", "corvello-$I123456"})
        fs::create_symlink(dir.file("victim"), tmp + "/" + name);
    const std::vector<std::string> planted = tree(tmp);
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string saved = oldTmp != nullptr ? oldTmp : "";
    ::setenv("TMPDIR", tmp.c_str(), 1);
    const auto ntfs = test::runCli({"list", test::fixture("ntfs-basic.img")});
    const auto fat = test::runCli({"list", test::fixture("fat32-512.img")});
    if (oldTmp != nullptr)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    EXPECT_EQ(ntfs.status, cli::kExitOk) << ntfs.err;
    EXPECT_EQ(fat.status, cli::kExitOk) << fat.err;
    EXPECT_EQ(tree(tmp), planted);
    EXPECT_EQ(contentOf(dir.file("victim")), "keep me");
    // The recycled files still show their original names.
    EXPECT_NE(ntfs.out.find("budget notes.txt"), std::string::npos);
}

TEST(NeverHarm, FilesThatCouldNotBeReadWholeAreReported) {
    // A floppy image cut in the middle: the files past the cut come out at their length with
    // zeros, named as incomplete with the bytes that could not be read, and the exit status
    // says so.
    test::ScratchDir dir;
    auto bytes = bytesOf(test::fixture("fat12-floppy.img"));
    bytes.resize(bytes.size() / 2);
    test::writeFile(dir.file("cut.img"), bytes);
    const std::string before = test::sha256File(dir.file("cut.img"));
    const auto r = test::runCli({"save", dir.file("cut.img"), "--out", dir.file("out")});
    EXPECT_EQ(r.status, cli::kExitIncomplete) << r.err;
    EXPECT_NE(r.err.find("could not be written completely:\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("/Root file with a long name 01.txt\t27 byte(s) could not be read\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(fs::file_size(dir.file("out/Root file with a long name 01.txt")), 27u);
    // Whole files are not named, and come out byte for byte.
    EXPECT_EQ(r.err.find("holiday movie.bin"), std::string::npos) << r.err;
    const auto manifest = test::readManifest("fat12-floppy");
    EXPECT_EQ(test::sha256File(dir.file("out/Data/holiday movie.bin")),
              manifestEntry(manifest, "Data/holiday movie.bin").sha256);
    EXPECT_EQ(r.err.find("more bytes than the volume"), std::string::npos) << r.err;
    EXPECT_EQ(test::sha256File(dir.file("cut.img")), before);
}

TEST(NeverHarm, DamagedSizesCannotFillTheOutputDisk) {
    // A FAT16 root-entry count of 0xFFFF turns 2 MiB of data into tens of thousands of entries
    // with sizes up to 4 GB. No file may grow past the volume.
    test::ScratchDir dir;
    auto bytes = bytesOf(test::fixture("fat16-2k.img"));
    bytes[17] = 0xFF;
    bytes[18] = 0xFF;
    test::writeFile(dir.file("fat16.img"), bytes);
    const auto r = test::runCli({"save", dir.file("fat16.img"), "--out", dir.file("out")});
    EXPECT_NE(r.status, cli::kExitOk);
    std::uint64_t total = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir.file("out"))) {
        if (!e.is_regular_file()) continue;
        EXPECT_LE(e.file_size(), bytes.size()) << e.path();
        total += e.file_size();
    }
    // Damaged entries that point into other files' clusters may add up to more than the
    // volume; the save then says so.
    if (total > bytes.size()) {
        EXPECT_NE(r.err.find("more bytes than the volume"), std::string::npos);
    }
    EXPECT_LT(total, 4 * bytes.size());
}

TEST(NeverHarm, OnlyFilesAndBlockDevicesAreOpenedAsSources) {
    test::ScratchDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"list", fifo},
             {"partitions", fifo},
             {"carve", test::fixture("carve.img"), "--settings", fifo, "--no-defaults", "--out", dir.file("out")}}) {
        const auto r = test::runCli(args);
        EXPECT_EQ(r.status, cli::kExitInput) << args[0];
        EXPECT_NE(r.err.find("neither a regular file nor a block device"), std::string::npos) << r.err;
    }
    const auto folder = test::runCli({"list", dir.path()});
    EXPECT_EQ(folder.status, cli::kExitInput);
    EXPECT_NE(folder.err.find("is a folder"), std::string::npos) << folder.err;
    const auto missing = test::runCli({"list", dir.file("nothing.img")});
    EXPECT_EQ(missing.status, cli::kExitInput);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
}

// A stream whose every write fails, as standard output on a full disk does.
class FullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(NeverHarm, EveryFailureHasItsExitStatus) {
    test::ScratchDir dir;
    const std::string fat16 = test::fixture("fat16-2k.img");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"list", "/dev/null", "--fs", "ntfs"}, cli::kExitInput, "neither a regular file nor a block device"},
        {{"list", fat16, "--fs", "ntfs"}, cli::kExitInput, "no ntfs file system was found on the volume"},
        {{"list", fat16, "--fs", "bogus"}, cli::kExitUsage, "--fs takes"},
        {{"list", test::fixture("fat32-reformatted.img"), "--mode", "advanced", "--fat", "99"},
         cli::kExitUsage,
         "not one of the choices"},
        {{"partitions", test::fixture("mbr-disk.img"), "--advanced", "--start", "99999999"},
         cli::kExitUsage,
         "lies outside"},
    };
    for (const auto& c : cases) {
        const auto r = test::runCli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1] << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    // A listing that cannot be written is not a success.
    FullBuffer full;
    std::ostream out(&full);
    std::ostringstream err;
    EXPECT_EQ(cli::runCli({"list", fat16}, out, err), cli::kExitInput);
    EXPECT_NE(err.str().find("could not be written"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace corvello

namespace corvello {
namespace {

// A small file system mounted as the output folder, where the machine allows it.
class TinyOutput {
public:
    explicit TinyOutput(const std::string& dir) : dir_(dir) {
        fs::create_directories(dir);
        mounted_ = ::geteuid() == 0 &&
                   std::system(("mount -t tmpfs -o size=256k corvello-full '" + dir + "' 2>/dev/null").c_str()) == 0;
    }
    ~TinyOutput() {
        if (mounted_) std::system(("umount '" + dir_ + "'").c_str());
    }
    bool mounted() const { return mounted_; }

private:
    std::string dir_;
    bool mounted_ = false;
};

TEST(NeverHarm, AFullOutputFolderStopsTheWorkAndNamesTheFile) {
    test::ScratchDir dir;
    TinyOutput out(dir.file("out"));
    if (!out.mounted()) GTEST_SKIP() << "this machine does not allow mounting a small tmpfs as the output folder";
    const auto save = test::runCli({"save", test::fixture("fat12-floppy.img"), "--out", dir.file("out/saved")});
    EXPECT_EQ(save.status, cli::kExitInput) << save.err;
    EXPECT_NE(save.err.find("the output folder is full: "), std::string::npos) << save.err;
    EXPECT_NE(save.err.find(" could not be completed and was removed"), std::string::npos) << save.err;
    // One sentence for the fault, not one per file that followed.
    EXPECT_LT(std::count(save.err.begin(), save.err.end(), '\n'), 4) << save.err;
    // Whatever stayed is whole: every file there equals its manifest entry.
    const auto manifest = test::readManifest("fat12-floppy");
    for (const auto& e : fs::recursive_directory_iterator(dir.file("out/saved"))) {
        if (!e.is_regular_file()) continue;
        const std::string rel = fs::relative(e.path(), dir.file("out/saved")).string();
        EXPECT_EQ(test::sha256File(e.path().string()), manifestEntry(manifest, rel).sha256) << rel;
    }
    fs::remove_all(dir.file("out/saved"));
    const auto carve = test::runCli({"carve", test::fixture("carve.img"), "--out", dir.file("out/carved")});
    EXPECT_EQ(carve.status, cli::kExitInput) << carve.err;
    EXPECT_NE(carve.err.find("the output folder is full: "), std::string::npos) << carve.err;
}

}  // namespace
}  // namespace corvello
