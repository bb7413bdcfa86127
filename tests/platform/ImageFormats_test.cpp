// Images of several files or of container formats read as one medium: a raw image split into
// numbered segments, an EnCase image, and the virtual-machine disks VMDK, VHD, VHDX and qcow2. list and
// save give what the raw image gives; broken images are refused with a clear error, and damaged
// data are never passed off as the medium's.
//
// fat12-floppy.E01/.E02 were made from fat12-floppy.img with
//   ewfacquire -u -c none -S 1MiB -t fat12-floppy fat12-floppy.img
// (uncompressed, 1 MiB segments: two segment files).

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "cli/Cli.h"
#include "platform/RawFile.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> readAll(const std::string& path) {
    std::vector<std::uint8_t> bytes(fs::file_size(path));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// Relative path -> sha256 of every file below dir.
std::map<std::string, std::string> savedTree(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) out[fs::relative(e.path(), dir).string()] = test::sha256File(e.path().string());
    return out;
}

// list prints the same lines and save writes the same files as from the raw image.
void expectSameAsRaw(const std::string& image, const std::string& raw) {
    const auto listed = test::runCli({"list", image});
    const auto rawListed = test::runCli({"list", raw});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, rawListed.out);
    test::ScratchDir scratch;
    const auto saved = test::runCli({"save", image, "--out", scratch.file("image")});
    const auto rawSaved = test::runCli({"save", raw, "--out", scratch.file("raw")});
    EXPECT_EQ(saved.status, rawSaved.status) << saved.err;
    const auto tree = savedTree(scratch.file("image"));
    EXPECT_GT(tree.size(), 3u);
    EXPECT_EQ(tree, savedTree(scratch.file("raw")));
}

// Cuts the raw image into NAME.001, NAME.002, ... of segmentBytes each (as split -b does).
std::string splitImage(const test::ScratchDir& dir, const std::string& raw, std::size_t segmentBytes) {
    const auto bytes = readAll(raw);
    int n = 0;
    for (std::size_t at = 0; at < bytes.size(); at += segmentBytes) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%03d", ++n);
        const std::size_t end = std::min(bytes.size(), at + segmentBytes);
        test::writeFile(dir.file(std::string("disk") + suffix),
                        std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                  bytes.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    return dir.file("disk.001");
}

// Segments of an odd size: records and clusters straddle the joins.
TEST(SplitImage, ListAndSaveEqualTheRawImage) {
    for (const char* name : {"fat12-floppy", "ntfs-small"}) {
        SCOPED_TRACE(name);
        test::ScratchDir dir;
        const std::string raw = test::fixture(std::string(name) + ".img");
        expectSameAsRaw(splitImage(dir, raw, 300001), raw);
    }
}

TEST(SplitImage, SegmentsThatDoNotFitTogetherAreRefused) {
    const std::string raw = test::fixture("fat12-floppy.img");
    test::ScratchDir dir;
    const std::string first = splitImage(dir, raw, 300001);
    fs::resize_file(dir.file("disk.003"), 1000);  // a segment cut short in the middle of the set
    const auto r = test::runCli({"list", first});
    EXPECT_EQ(r.status, cli::kExitInput);
    EXPECT_NE(r.err.find("its numbered segments do not fit together"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

// A lone NAME.001 is an ordinary raw image.
TEST(SplitImage, ALoneFirstSegmentIsARawImage) {
    test::ScratchDir dir;
    const std::string raw = test::fixture("fat12-floppy.img");
    fs::copy_file(raw, dir.file("disk.001"));
    expectSameAsRaw(dir.file("disk.001"), raw);
}

// Only a name ending in a number 1 (001, 0001, ...) opens a set; a number too long for any
// integer is just part of a raw image's name, and leading zeros of any width still count.
TEST(SplitImage, ANumberOfAnyLengthInTheNameIsRead) {
    const std::string raw = test::fixture("fat12-floppy.img");
    for (const char* name : {"disk.99999999999999999999", "disk.18446744073709551617",
                             "disk.000000000000000000000000000001"}) {
        SCOPED_TRACE(name);
        test::ScratchDir dir;
        fs::copy_file(raw, dir.file(name));
        expectSameAsRaw(dir.file(name), raw);
    }
    // A set numbered with 24 digits is read whole.
    test::ScratchDir dir;
    splitImage(dir, raw, 700001);
    const std::string zeros(21, '0');
    for (const char* n : {"001", "002", "003"}) fs::rename(dir.file(std::string("disk.") + n), dir.file("disk." + zeros + n));
    platform::RawFile image;
    ASSERT_TRUE(image.open(dir.file("disk." + zeros + "001"))) << platform::errorText(image.lastError());
    std::uint64_t size = 0;
    ASSERT_TRUE(image.size(size));
    EXPECT_EQ(size, fs::file_size(raw));
}

TEST(EnCaseImage, ListAndSaveEqualTheRawImage) {
    expectSameAsRaw(test::fixture("fat12-floppy.E01"), test::fixture("fat12-floppy.img"));
}

// carve-kinds.E01: ewfacquire -u -c none -t carve-kinds carve-kinds.img (one segment).
TEST(EnCaseImage, CarveEqualsTheRawImage) {
    test::ScratchDir dir;
    const auto carved = test::runCli({"carve", test::fixture("carve-kinds.E01"), "--out", dir.file("image")});
    const auto rawCarved = test::runCli({"carve", test::fixture("carve-kinds.img"), "--out", dir.file("raw")});
    ASSERT_EQ(carved.status, 0) << carved.err;
    EXPECT_EQ(carved.out, rawCarved.out);
    const auto tree = savedTree(dir.file("image"));
    EXPECT_GT(tree.size(), 10u);
    EXPECT_EQ(tree, savedTree(dir.file("raw")));
}

// A missing or cut segment refuses the image at open: no part of the medium is read as zeros.
TEST(EnCaseImage, AMissingOrCutSegmentIsRefused) {
    const auto second = readAll(test::fixture("fat12-floppy.E02"));
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "cut" : "missing");
        test::ScratchDir dir;
        fs::copy_file(test::fixture("fat12-floppy.E01"), dir.file("disk.E01"));
        if (cut) test::writeFile(dir.file("disk.E02"), std::vector<std::uint8_t>(second.begin(), second.begin() + 200));
        const auto r = test::runCli({"list", dir.file("disk.E01")});
        EXPECT_EQ(r.status, cli::kExitInput);
        EXPECT_NE(r.err.find("it is an EnCase image whose segments are missing or damaged"), std::string::npos)
            << r.err;
    }
}

// A chunk that fails its checksum is an unreadable stretch: the file over it is reported
// incomplete, never written with the zeros the library puts in its place.
TEST(EnCaseImage, ADamagedChunkIsUnreadableNotZeros) {
    test::ScratchDir dir;
    auto first = readAll(test::fixture("fat12-floppy.E01"));
    for (std::size_t i = 500000; i < 500008; ++i) first[i] ^= 0xFF;
    test::writeFile(dir.file("disk.E01"), first);
    fs::copy_file(test::fixture("fat12-floppy.E02"), dir.file("disk.E02"));
    const auto r = test::runCli({"save", dir.file("disk.E01"), "--out", dir.file("out")});
    EXPECT_EQ(r.status, cli::kExitIncomplete) << r.err;
    EXPECT_NE(r.err.find("could not be written completely"), std::string::npos) << r.err;
    // Only the damaged stretch is missing: the rest of the file is the medium's.
    const auto raw = test::runCli({"save", test::fixture("fat12-floppy.img"), "--out", dir.file("raw")});
    ASSERT_EQ(raw.status, 0) << raw.err;
    const auto got = readAll(dir.file("out/Data/holiday movie.bin"));
    const auto want = readAll(dir.file("raw/Data/holiday movie.bin"));
    ASSERT_EQ(got.size(), want.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < got.size(); ++i) differing += got[i] != want[i] ? 1 : 0;
    EXPECT_GT(differing, 0u);
    EXPECT_LT(differing, got.size() / 2);
    EXPECT_NE(r.err.find("holiday movie.bin"), std::string::npos) << r.err;
}


// The virtual-machine disks were converted from the raw fixtures by qemu-img
// (tests/fixtures/builders/virtual-disks.sh).
TEST(VirtualDiskImage, ListAndSaveEqualTheRawImage) {
    struct Case {
        const char* image;
        const char* raw;
    };
    for (const Case& c : {Case{"fat12-floppy.vmdk", "fat12-floppy.img"},
                          Case{"fat12-floppy-flat-desc.vmdk", "fat12-floppy.img"},  // descriptor + flat extent
                          Case{"fat12-floppy.vhd", "fat12-floppy.img"},             // fixed: footer only
                          Case{"fat12-floppy.vhdx", "fat12-floppy.img"},
                          Case{"fat12-floppy.qcow2", "fat12-floppy.img"},             // version 2
                          Case{"fat12-floppy-compressed.qcow2", "fat12-floppy.img"},  // version 3, compressed
                          Case{"ntfs-small.vmdk", "ntfs-small.img"},
                          Case{"ntfs-small.vhd", "ntfs-small.img"},  // dynamic
                          Case{"ntfs-small.vhdx", "ntfs-small.img"}}) {
        SCOPED_TRACE(c.image);
        expectSameAsRaw(test::fixture(c.image), test::fixture(c.raw));
    }
}

// A partitioned disk: the same volume list, and every volume lists and saves as from the raw disk.
TEST(VirtualDiskImage, PartitionedDiskEqualsTheRawImage) {
    const std::string raw = test::fixture("mbr-disk.img");
    const auto rawVolumes = test::runCli({"partitions", raw});
    ASSERT_EQ(rawVolumes.status, 0) << rawVolumes.err;
    const std::size_t volumes = test::lines(rawVolumes.out).size();
    ASSERT_GE(volumes, 5u);
    for (const char* name :
         {"mbr-disk.vmdk", "mbr-disk.vhd", "mbr-disk.vhdx", "mbr-disk.qcow2", "mbr-disk-compressed.qcow2"}) {
        SCOPED_TRACE(name);
        const std::string image = test::fixture(name);
        const auto listed = test::runCli({"partitions", image});
        ASSERT_EQ(listed.status, 0) << listed.err;
        EXPECT_EQ(listed.out, rawVolumes.out);
        for (std::size_t n = 1; n <= volumes; ++n) {
            SCOPED_TRACE(n);
            const std::string volume = std::to_string(n);
            const auto entries = test::runCli({"list", image, "--volume", volume});
            const auto rawEntries = test::runCli({"list", raw, "--volume", volume});
            EXPECT_EQ(entries.status, rawEntries.status) << entries.err;
            EXPECT_EQ(entries.out, rawEntries.out);
            test::ScratchDir scratch;
            const auto saved = test::runCli({"save", image, "--volume", volume, "--out", scratch.file("image")});
            const auto rawSaved = test::runCli({"save", raw, "--volume", volume, "--out", scratch.file("raw")});
            EXPECT_EQ(saved.status, rawSaved.status) << saved.err;
            if (fs::exists(scratch.file("raw"))) {
                EXPECT_EQ(savedTree(scratch.file("image")), savedTree(scratch.file("raw")));
            }
        }
    }
}

// The whole medium reads as the raw disk, byte for byte and of the same size: the blocks a dynamic
// image never stored read as zeros, and compressed qcow2 clusters come back inflated.
TEST(VirtualDiskImage, EveryByteEqualsTheRawDisk) {
    const std::string rawPath = test::fixture("mbr-disk.img");
    const auto raw = readAll(rawPath);
    for (const char* name :
         {"mbr-disk.vmdk", "mbr-disk.vhd", "mbr-disk.vhdx", "mbr-disk.qcow2", "mbr-disk-compressed.qcow2"}) {
        SCOPED_TRACE(name);
        const std::string path = test::fixture(name);
        EXPECT_LT(fs::file_size(path) * 2, raw.size());  // most blocks are not stored
        platform::RawFile image;
        ASSERT_TRUE(image.open(path)) << platform::errorText(image.lastError());
        std::uint64_t size = 0;
        ASSERT_TRUE(image.size(size));
        ASSERT_EQ(size, raw.size());
        std::vector<std::uint8_t> chunk(1 << 20);
        std::size_t differing = 0;
        for (std::size_t at = 0; at < raw.size(); at += chunk.size()) {
            const std::size_t want = std::min(chunk.size(), raw.size() - at);
            ASSERT_EQ(image.readAt(chunk.data(), want, static_cast<std::int64_t>(at)), want) << at;
            differing += std::memcmp(chunk.data(), raw.data() + at, want) != 0 ? 1 : 0;
        }
        EXPECT_EQ(differing, 0u);
        EXPECT_EQ(image.readAt(chunk.data(), 512, static_cast<std::int64_t>(raw.size())), 0u);  // past the end
    }
}

// The format is told by the content: an image named like anything else reads as what it is.
TEST(VirtualDiskImage, ChosenByContentNotByName) {
    const std::string raw = test::fixture("fat12-floppy.img");
    for (const char* name : {"fat12-floppy.vmdk", "fat12-floppy.vhd", "fat12-floppy.vhdx", "fat12-floppy.qcow2"}) {
        SCOPED_TRACE(name);
        test::ScratchDir dir;
        fs::copy_file(test::fixture(name), dir.file("medium.dd"));
        expectSameAsRaw(dir.file("medium.dd"), raw);
    }
}

// A damaged image is refused with the reason, whether the damage shows at the open (a header or
// table that fails its checks, a missing extent file) or at the first read (a table pointing past
// the end of a cut file); nothing is listed from it.
TEST(VirtualDiskImage, ADamagedImageGivesAClearError) {
    const std::string vmdk = "it is a VMDK image whose header, descriptor or extent files are missing or damaged";
    const std::string vhd = "it is a VHD or VHDX image whose header or block table is damaged or cut short";
    const std::string qcow = "it is a QEMU qcow2 image whose header or cluster tables are damaged or cut short";
    const std::string differencing =
        "it is a differencing (snapshot) image, which holds only the changes to its parent image and cannot be read "
        "alone";
    const std::string encrypted = "it is an encrypted QEMU qcow2 image (AES or LUKS)";
    struct Case {
        const char* image;
        const char* damage;
        std::int64_t at;  // byte flipped (from the end when negative), or the length cut to (0: half)
        std::string reason;
    };
    for (const Case& c : {Case{"fat12-floppy.vmdk", "descriptor offset", 28, vmdk},
                          Case{"fat12-floppy.vmdk", "grain directory offset", 56, vmdk},
                          Case{"ntfs-small.vhd", "footer checksum", -500, vhd},
                          Case{"ntfs-small.vhd", "dynamic header table offset", 528, vhd},
                          Case{"ntfs-small.vhd", "cut", 0, vhd},
                          Case{"fat12-floppy.vhd", "fixed footer checksum", -500, vhd},
                          Case{"ntfs-small.vhdx", "region table", 196612, vhd},
                          Case{"ntfs-small.vhdx", "cut", 0, vhd},
                          Case{"fat12-floppy-flat-desc.vmdk", "extent file missing", 1 << 20, vmdk},
                          Case{"fat12-floppy-child.vmdk", "snapshot without its parent", 1 << 20, differencing},
                          // The qcow2 header (big-endian): the version at 4, the cluster size as a
                          // power of two at 20, the encryption method at 32, the L1 table's offset
                          // at 40; from version 3 the features a reader must know at 72.
                          Case{"fat12-floppy.qcow2", "version", 7, qcow},
                          Case{"fat12-floppy.qcow2", "cluster size", 23, qcow},
                          Case{"fat12-floppy.qcow2", "encryption method", 35, qcow},
                          Case{"fat12-floppy.qcow2", "L1 table offset", 42, qcow},
                          Case{"fat12-floppy-compressed.qcow2", "unknown incompatible features", 79, qcow},
                          Case{"mbr-disk.qcow2", "L1 table size", 36, qcow},
                          // Backing file beside it or not, an overlay is not read through to it.
                          Case{"fat12-floppy-overlay.qcow2", "overlay on a backing file", 1 << 20, differencing},
                          Case{"encrypted-aes.qcow2", "encrypted with AES", 1 << 20, encrypted},
                          Case{"encrypted-luks.qcow2", "encrypted with LUKS", 1 << 20, encrypted}}) {
        SCOPED_TRACE(std::string(c.image) + ": " + c.damage);
        test::ScratchDir dir;
        auto bytes = readAll(test::fixture(c.image));
        if (c.at == 0) {
            bytes.resize(bytes.size() / 2);
        } else if (c.at < static_cast<std::int64_t>(bytes.size())) {
            const std::size_t at = c.at < 0 ? bytes.size() - static_cast<std::size_t>(-c.at) : static_cast<std::size_t>(c.at);
            bytes[at] ^= 0xFF;
        }
        test::writeFile(dir.file(c.image), bytes);
        const auto r = test::runCli({"list", dir.file(c.image)});
        EXPECT_EQ(r.status, cli::kExitInput);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

// An image of fat12-floppy cut short by cutBytes: save reports the files over the lost part
// incomplete; the others come out whole.
void expectCutImageSavesTheSoundFiles(const std::string& name, std::size_t cutBytes) {
    test::ScratchDir dir;
    auto bytes = readAll(test::fixture(name));
    ASSERT_GT(bytes.size(), cutBytes);
    bytes.resize(bytes.size() - cutBytes);
    test::writeFile(dir.file(name), bytes);
    const auto r = test::runCli({"save", dir.file(name), "--out", dir.file("out")});
    EXPECT_EQ(r.status, cli::kExitIncomplete) << r.err;
    EXPECT_NE(r.err.find("could not be written completely"), std::string::npos) << r.err;
    const auto raw = test::runCli({"save", test::fixture("fat12-floppy.img"), "--out", dir.file("raw")});
    ASSERT_EQ(raw.status, 0) << raw.err;
    const auto saved = savedTree(dir.file("out"));
    const auto whole = savedTree(dir.file("raw"));
    std::size_t same = 0;
    for (const auto& [path, sum] : saved) {
        const bool incomplete = r.err.find(path) != std::string::npos;
        if (!incomplete) {
            EXPECT_EQ(sum, whole.at(path)) << path;
            ++same;
        }
    }
    EXPECT_GT(same, 3u);
}

// A sparse VMDK cut short: the grains past the cut are unreadable, never zeros. The files over
// them are reported incomplete; those before the cut come out whole.
TEST(VirtualDiskImage, AGrainPastTheCutIsUnreadableNotZeros) {
    expectCutImageSavesTheSoundFiles("fat12-floppy.vmdk", 65536);
}

// A qcow2 image cut short: the clusters past the cut are unreadable, never zeros, whether stored
// whole (version 2, the file ending inside a cluster, whose first part is still read) or compressed
// (version 3, the cut inside the last compressed cluster). Every byte delivered before the first
// unreadable one is the disk's.
TEST(QcowImage, AClusterPastTheCutIsUnreadableNotZeros) {
    const auto raw = readAll(test::fixture("fat12-floppy.img"));
    struct Case {
        const char* image;
        std::size_t cut;
    };
    for (const Case& c : {Case{"fat12-floppy.qcow2", 65536 + 24764}, Case{"fat12-floppy-compressed.qcow2", 500}}) {
        SCOPED_TRACE(c.image);
        expectCutImageSavesTheSoundFiles(c.image, c.cut);

        test::ScratchDir dir;
        auto bytes = readAll(test::fixture(c.image));
        bytes.resize(bytes.size() - c.cut);
        test::writeFile(dir.file("cut.qcow2"), bytes);
        platform::RawFile image;
        ASSERT_TRUE(image.open(dir.file("cut.qcow2"))) << platform::errorText(image.lastError());
        std::vector<std::uint8_t> chunk(65536);
        std::size_t whole = 0, shortReads = 0;
        for (std::size_t at = 0; at < raw.size(); at += chunk.size()) {
            const std::size_t want = std::min(chunk.size(), raw.size() - at);
            const std::size_t got = image.readAt(chunk.data(), want, static_cast<std::int64_t>(at));
            EXPECT_EQ(std::memcmp(chunk.data(), raw.data() + at, got), 0) << at;
            if (got == want) {
                ++whole;
            } else {
                ++shortReads;
                EXPECT_EQ(image.lastError(), platform::kBrokenQcow) << at;
            }
        }
        EXPECT_GT(whole, 5u);
        EXPECT_GT(shortReads, 0u);
    }
}

// Reads the whole disk of the image at path in clusters of 64 KiB: the bytes delivered, and the
// offsets of the clusters that came back short (with the qcow2 error).
struct WholeRead {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint64_t> shortAt;
};

WholeRead readWhole(const std::string& path) {
    WholeRead r;
    platform::RawFile image;
    if (!image.open(path)) {
        ADD_FAILURE() << path << ": " << platform::errorText(image.lastError());
        return r;
    }
    std::uint64_t size = 0;
    EXPECT_TRUE(image.size(size));
    r.bytes.assign(static_cast<std::size_t>(size), 0);
    for (std::uint64_t at = 0; at < size; at += 65536) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(65536, size - at));
        if (image.readAt(r.bytes.data() + at, want, static_cast<std::int64_t>(at)) != want) {
            EXPECT_EQ(image.lastError(), platform::kBrokenQcow) << at;
            r.shortAt.push_back(at);
        }
    }
    return r;
}

// A version 3 cluster marked as reading zeros keeps its old data in the file (QEMU's write of
// zeros over an allocated cluster): the disk holds zeros there, not the old data.
TEST(QcowImage, AClusterMarkedZeroReadsAsZeros) {
    auto want = readAll(test::fixture("fat12-floppy.img"));
    std::fill(want.begin() + 327680, want.begin() + 393216, 0);
    const WholeRead got = readWhole(test::fixture("fat12-floppy-zeroed.qcow2"));
    EXPECT_TRUE(got.shortAt.empty());
    ASSERT_EQ(got.bytes.size(), want.size());
    EXPECT_TRUE(got.bytes == want);
}

// A compressed cluster whose stream does not inflate to exactly one cluster is unreadable, never
// its inflated part followed by whatever a buffer held: the second cluster of
// fat12-floppy-compressed.qcow2 (its stream at byte 0x538E1 of the file, L2 entry
// 0x44C00000000538E1) replaced by a complete stream of 100 bytes, and by bytes that are no stream.
TEST(QcowImage, ACompressedClusterThatDoesNotInflateWholeIsUnreadable) {
    const auto raw = readAll(test::fixture("fat12-floppy.img"));
    struct Case {
        const char* damage;
        std::vector<std::uint8_t> stream;
    };
    for (const Case& c : {Case{"100 bytes", {0x73, 0x74, 0xA4, 0x3D, 0x00, 0x00}},  // raw deflate of 100 'A'
                          Case{"no stream", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}}) {
        SCOPED_TRACE(c.damage);
        test::ScratchDir dir;
        auto bytes = readAll(test::fixture("fat12-floppy-compressed.qcow2"));
        std::copy(c.stream.begin(), c.stream.end(), bytes.begin() + 0x538E1);
        test::writeFile(dir.file("damaged.qcow2"), bytes);
        const WholeRead got = readWhole(dir.file("damaged.qcow2"));
        ASSERT_EQ(got.shortAt, std::vector<std::uint64_t>{65536});
        ASSERT_EQ(got.bytes.size(), raw.size());
        EXPECT_EQ(std::memcmp(got.bytes.data(), raw.data(), 65536), 0);
        EXPECT_EQ(std::memcmp(got.bytes.data() + 131072, raw.data() + 131072, raw.size() - 131072), 0);
    }
}

// An overlay is refused even with its backing file beside it: it is never followed.
TEST(QcowImage, AnOverlayBesideItsBackingFileIsRefused) {
    test::ScratchDir dir;
    fs::copy_file(test::fixture("fat12-floppy.qcow2"), dir.file("fat12-floppy.qcow2"));
    fs::copy_file(test::fixture("fat12-floppy-overlay.qcow2"), dir.file("overlay.qcow2"));
    platform::RawFile image;
    EXPECT_FALSE(image.open(dir.file("overlay.qcow2")));
    EXPECT_EQ(image.lastError(), platform::kDifferencingImage) << platform::errorText(image.lastError());
    const auto r = test::runCli({"list", dir.file("overlay.qcow2")});
    EXPECT_EQ(r.status, cli::kExitInput);
    EXPECT_NE(r.err.find("it is a differencing (snapshot) image"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

// Hostile headers and tables: random bytes after the signature, and real images with random
// bytes written over their header, tables and first clusters, then cut short. Each opens or is
// refused with a qcow2 error, and an image that opens reads without fault (the sanitizers watch
// every read): a read comes back whole or short with the qcow2 error.
TEST(QcowImage, RandomHeadersAndTablesNeverCrash) {
    std::mt19937 random(20240611);
    const auto byte = [&] { return static_cast<std::uint8_t>(random() & 0xFF); };
    const std::vector<std::vector<std::uint8_t>> sources = {readAll(test::fixture("fat12-floppy.qcow2")),
                                                            readAll(test::fixture("fat12-floppy-compressed.qcow2"))};
    test::ScratchDir dir;
    const std::string path = dir.file("random.qcow2");
    std::size_t opened = 0;
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        std::vector<std::uint8_t> bytes;
        if (round % 4 == 0) {
            // The signature, a version of 1 to 3 and noise.
            bytes.resize(512 + random() % 4096);
            for (auto& b : bytes) b = byte();
            bytes[4] = bytes[5] = bytes[6] = 0;
            bytes[7] = static_cast<std::uint8_t>(1 + random() % 3);
        } else {
            const auto& source = sources[static_cast<std::size_t>(round) % sources.size()];
            bytes.assign(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(
                                                              std::min<std::size_t>(source.size(), 0x60000)));
            // A few bytes of the header, the refcount and L1 tables and the L2 table.
            const std::size_t regions[][2] = {{0, 112}, {0x10000, 64}, {0x30000, 16}, {0x40000, 256}};
            const int writes = 1 + static_cast<int>(random() % 6);
            for (int i = 0; i < writes; ++i) {
                const auto& region = regions[random() % 4];
                bytes[region[0] + random() % region[1]] = byte();
            }
            if (random() % 2 == 0) bytes.resize(1 + random() % bytes.size());
        }
        bytes[0] = 'Q', bytes[1] = 'F', bytes[2] = 'I', bytes[3] = 0xFB;
        test::writeFile(path, bytes);
        platform::RawFile image;
        if (!image.open(path)) {
            const int error = image.lastError();
            EXPECT_TRUE(error == platform::kBrokenQcow || error == platform::kEncryptedImage ||
                        error == platform::kDifferencingImage)
                << platform::errorText(error);
            continue;
        }
        ++opened;
        std::uint64_t size = 0;
        ASSERT_TRUE(image.size(size));
        std::vector<std::uint8_t> chunk(65536);
        for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{65536 * 3 + 1000}, size / 2, size - 1}) {
            if (at >= size) continue;
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - at));
            const std::size_t got = image.readAt(chunk.data(), want, static_cast<std::int64_t>(at));
            EXPECT_LE(got, want);
            if (got < want) {
                EXPECT_EQ(image.lastError(), platform::kBrokenQcow) << at;
            }
        }
    }
    EXPECT_GT(opened, 10u);  // the damage reaches the reads, not only the open
}

// Several extent files make one disk: qemu-img's twoGbMaxExtentSparse (a 3 GiB disk in two sparse
// extents, the floppy at its start and again across the join) and a descriptor naming three flat
// extents. Every byte read through the image is the disk's, and the floppy's files come out whole.
TEST(VirtualDiskImage, SeveralExtentFilesReadAsOneDisk) {
    const std::string rawPath = test::fixture("fat12-floppy.img");
    const auto floppy = readAll(rawPath);
    constexpr std::uint64_t kJoin = 2ull << 30, kCopy = kJoin - 512 * 1024, kDisk = 3ull << 30;
    // The raw disk the sparse image was made from, as a sparse file.
    test::ScratchDir dir;
    const std::string disk = dir.file("split-sparse.raw");
    {
        std::ofstream out(disk, std::ios::binary);
        for (const std::uint64_t at : {std::uint64_t{0}, kCopy}) {
            out.seekp(static_cast<std::streamoff>(at));
            out.write(reinterpret_cast<const char*>(floppy.data()), static_cast<std::streamsize>(floppy.size()));
        }
    }
    fs::resize_file(disk, kDisk);
    struct Case {
        const char* image;
        std::string raw;
        std::uint64_t size;
        std::vector<std::uint64_t> windows;  // starts of the stretches compared byte for byte
    };
    for (const Case& c : {Case{"fat12-floppy-split-flat.vmdk", rawPath, floppy.size(), {0}},
                          Case{"fat12-floppy-split-sparse.vmdk", disk, kDisk, {0, kJoin - (1 << 20), kDisk - (1 << 20)}}}) {
        SCOPED_TRACE(c.image);
        const std::string path = test::fixture(c.image);
        platform::RawFile image;
        ASSERT_TRUE(image.open(path)) << platform::errorText(image.lastError());
        EXPECT_EQ(image.lastError(), 0);
        std::uint64_t size = 0;
        ASSERT_TRUE(image.size(size));
        ASSERT_EQ(size, c.size);
        platform::RawFile raw;
        ASSERT_TRUE(raw.open(c.raw));
        std::vector<std::uint8_t> got(2 << 20), want(2 << 20);
        for (const std::uint64_t at : c.windows) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(got.size(), c.size - at));
            ASSERT_EQ(raw.readAt(want.data(), n, static_cast<std::int64_t>(at)), n);
            ASSERT_EQ(image.readAt(got.data(), n, static_cast<std::int64_t>(at)), n) << at;
            EXPECT_EQ(std::memcmp(got.data(), want.data(), n), 0) << at;
        }
        // One unaligned read across a join of two extents.
        const std::uint64_t across = c.size == kDisk ? kJoin - 1000 : 960 * 512 - 1000;
        ASSERT_EQ(image.readAt(got.data(), 5000, static_cast<std::int64_t>(across)), 5000u);
        ASSERT_EQ(raw.readAt(want.data(), 5000, static_cast<std::int64_t>(across)), 5000u);
        EXPECT_EQ(std::memcmp(got.data(), want.data(), 5000), 0);
        EXPECT_EQ(image.readAt(got.data(), 512, static_cast<std::int64_t>(c.size)), 0u);  // past the end

        expectSameAsRaw(path, c.raw);
        test::ScratchDir out;
        const auto saved = test::runCli({"save", path, "--out", out.path()});
        ASSERT_EQ(saved.status, 0) << saved.err;
        for (const auto& m : test::readManifest("fat12-floppy"))
            if (m.kind == "f" && m.state == "live") {
                EXPECT_EQ(test::sha256File(out.file(m.path)), m.sha256) << m.path;
            }
    }
}

// The further files of an image (EnCase segments, split parts, VMDK extents) are checked as the
// image itself is: opened without blocking, a regular file or a block device, and, links
// resolved, inside the image's folder. The images below are made in a scratch folder from the
// fixtures: a set and the one further file that is put in place of one of its files.
struct ImageSet {
    std::string image;                // the file that is opened
    std::vector<std::string> others;  // its further files, in order
};

ImageSet copySet(const test::ScratchDir& dir, const std::string& kind) {
    const auto copy = [&](const std::string& from, const std::string& to) {
        fs::copy_file(test::fixture(from), dir.file(to));
        return dir.file(to);
    };
    if (kind == "EnCase")
        return {copy("fat12-floppy.E01", "disk.E01"), {copy("fat12-floppy.E02", "disk.E02")}};
    if (kind == "split") {
        splitImage(dir, test::fixture("fat12-floppy.img"), 500000);
        return {dir.file("disk.001"), {dir.file("disk.002"), dir.file("disk.003")}};
    }
    if (kind == "VMDK flat") {
        ImageSet set{copy("fat12-floppy-split-flat.vmdk", "fat12-floppy-split-flat.vmdk"), {}};
        for (const char* n : {"001", "002", "003"})
            set.others.push_back(copy(std::string("fat12-floppy-split-flat-f") + n + ".vmdk",
                                      std::string("fat12-floppy-split-flat-f") + n + ".vmdk"));
        return set;
    }
    return {copy("fat12-floppy-flat-desc.vmdk", "one-extent.vmdk"),
            {copy("fat12-floppy-flat-desc-flat.vmdk", "fat12-floppy-flat-desc-flat.vmdk")}};
}

const char* const kSetKinds[] = {"EnCase", "split", "VMDK flat", "VMDK one extent"};

struct ChildOpen {
    bool returned = false;
    bool opened = false;
    int error = 0;
};

// Opens path in a child process: an open that blocks fails the test after the time limit
// instead of holding the whole suite. The result comes back through a pipe.
ChildOpen openInChild(const std::string& path, int limitMs) {
    int ends[2];
    if (::pipe(ends) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ends[0]);
        platform::RawFile image;
        const int result[2] = {image.open(path) ? 1 : 0, image.lastError()};
        const bool sent = ::write(ends[1], result, sizeof result) == static_cast<ssize_t>(sizeof result);
        ::_exit(sent ? 0 : 1);
    }
    ::close(ends[1]);
    ChildOpen r;
    pollfd wait{ends[0], POLLIN, 0};
    int result[2] = {0, 0};
    if (pid > 0 && ::poll(&wait, 1, limitMs) == 1 && ::read(ends[0], result, sizeof result) == sizeof result) {
        r = {true, result[0] == 1, result[1]};
    } else if (pid > 0) {
        ::kill(pid, SIGKILL);
    }
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    ::close(ends[0]);
    return r;
}

// A FIFO in place of any further file would hold the open for ever (until something writes to
// it): it is refused at once.
TEST(ImageSetFiles, AFifoAmongTheFilesIsRefusedWithoutWaiting) {
    for (const char* kind : kSetKinds) {
        for (std::size_t i = 0;; ++i) {
            SCOPED_TRACE(std::string(kind) + ", further file " + std::to_string(i + 1));
            test::ScratchDir dir;
            const ImageSet set = copySet(dir, kind);
            if (i == set.others.size()) break;
            fs::remove(set.others[i]);
            ASSERT_EQ(::mkfifo(set.others[i].c_str(), 0600), 0);
            const ChildOpen r = openInChild(set.image, 20000);
            if (!r.returned) {
                ADD_FAILURE() << "the open of " << set.image << " did not return";
                continue;
            }
            EXPECT_FALSE(r.opened);
            EXPECT_EQ(r.error, platform::kPartNotFileOrDevice) << platform::errorText(r.error);
        }
    }
}

// A link that leads out of the image's folder is refused, whatever it points to; one that stays
// inside it is followed.
TEST(ImageSetFiles, ALinkOutOfTheImageFolderIsRefused) {
    const std::string refused =
        "one of its segment or extent files is a link that leads out of the image's folder, so it is not read";
    for (const char* kind : kSetKinds) {
        SCOPED_TRACE(kind);
        test::ScratchDir dir, elsewhere;
        const ImageSet set = copySet(dir, kind);
        const std::string last = set.others.back();
        const std::string name = fs::path(last).filename().string();
        // Outside: the very file the image needs, moved to another folder and linked back.
        fs::rename(last, elsewhere.file(name));
        fs::create_symlink(elsewhere.file(name), last);
        const auto r = test::runCli({"list", set.image});
        EXPECT_EQ(r.status, cli::kExitInput) << r.out;
        EXPECT_NE(r.err.find(refused), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
        // Inside: a subfolder of the image's folder, by a relative link.
        fs::create_directory(dir.file("store"));
        fs::remove(last);
        fs::rename(elsewhere.file(name), dir.file("store/" + name));
        fs::create_symlink("store/" + name, last);
        expectSameAsRaw(set.image, test::fixture("fat12-floppy.img"));
    }
}

// An image named through a link in another folder: its further files are looked for beside the
// link, and may lead to the folder the image itself lies in (a folder of links to a set).
TEST(ImageSetFiles, ASetReachedThroughLinksReadsWhole) {
    for (const char* kind : kSetKinds) {
        SCOPED_TRACE(kind);
        test::ScratchDir dir, links;
        const ImageSet set = copySet(dir, kind);
        for (const std::string& file : set.others)
            fs::create_symlink(file, links.file(fs::path(file).filename().string()));
        const std::string image = links.file(fs::path(set.image).filename().string());
        fs::create_symlink(set.image, image);
        expectSameAsRaw(image, test::fixture("fat12-floppy.img"));
    }
}

}  // namespace
}  // namespace corvello
