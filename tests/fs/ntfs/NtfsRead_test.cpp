// Reads of NTFS files by offset in awkward windows: compressed, sparse, resident files of a
// volume made by ntfs-3g, and hand-built files whose data end before their size (the
// initialised size, a hole to the end). Each file read window by window gives the bytes it
// holds, also where a window straddles a compression unit, a sparse run or the initialised size.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "cli/CliSupport.h"
#include "cli/ScannedVolume.h"
#include "fs/ntfs/NtfsImage.h"
#include "fs/ntfs/NtfsScanned.h"
#include "platform/Files.h"
#include "scan/SaveWalk.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

using test::NtfsImage;
using Bytes = NtfsImage::Bytes;

// Window sizes a sequential read cycles through: a byte, one short of a cluster, a unit and a
// byte, and an odd size.
constexpr std::size_t kCycle[] = {1, 4095, 65537, 3 * 4096 + 77};

// Reads the whole file one window after another, the window sizes taken in turn from kCycle.
Bytes readInWindows(ScanSession& session, ItemData file, std::uint64_t size) {
    Bytes out;
    std::size_t turn = 0;
    while (out.size() < size) {
        Bytes window(kCycle[turn++ % std::size(kCycle)], 0xEE);
        const auto got = session.read(file, out.size(), window);
        EXPECT_TRUE(got.has_value()) << "@" << out.size();
        if (!got || *got == 0) break;
        EXPECT_EQ(*got, std::min<std::uint64_t>(window.size(), size - out.size())) << "@" << out.size();
        out.insert(out.end(), window.begin(), window.begin() + static_cast<std::ptrdiff_t>(*got));
    }
    return out;
}

// Windows of 1, 2 and 4095 bytes around each edge give the file's bytes there.
void expectWindowsAround(ScanSession& session, ItemData file, const Bytes& whole,
                         const std::vector<std::uint64_t>& edges, const std::string& label) {
    for (const std::uint64_t edge : edges) {
        ASSERT_LE(edge, whole.size()) << label;
        const std::pair<std::uint64_t, std::size_t> windows[] = {
            {edge - std::min<std::uint64_t>(edge, 1), 1}, {edge, 1},
            {edge - std::min<std::uint64_t>(edge, 1), 2}, {edge - std::min<std::uint64_t>(edge, 2000), 4095}};
        for (const auto& [offset, count] : windows) {
            Bytes got(count, 0xEE);
            const auto n = session.read(file, offset, got);
            ASSERT_TRUE(n.has_value()) << label << " @" << offset;
            const std::size_t expect = offset >= whole.size() ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(count, whole.size() - offset));
            ASSERT_EQ(*n, expect) << label << " @" << offset << "+" << count;
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(expect),
                                   whole.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(offset, whole.size()))))
                << label << " @" << offset << "+" << count;
        }
    }
}

TEST(NtfsRead, FilesOfARealVolumeReadInAwkwardWindows) {
    // ntfs-basic: 4096-byte clusters, compression units of 16 clusters (65536 bytes).
    struct Case {
        const char* path;
        std::vector<std::uint64_t> edges;  // compression units, sparse runs, the end
    };
    const Case cases[] = {
        {"compressed/words.txt", {65536, 131072, 196608, 262144, 300000}},
        // 70000 bytes of text, 200000 zeros (whole units of holes), 5000 bytes of text.
        {"compressed/holey.txt", {65536, 70000, 131072, 196608, 262144, 270000, 275000}},
        {"compressed/random.bin", {4096, 65536, 90000}},
        {"compressed/inner/small.txt", {1, 2999, 3000}},
        // 8192 bytes, a hole up to 3 MiB, 8192 bytes.
        {"sparse.bin", {4096, 8192, 1 << 20, 3 << 20, (3 << 20) + 8192}},
        {"resident.txt", {0, 1, 599, 600}},
        {"fragmented.bin", {4096, 1 << 20, 1230034}},
    };
    std::ostringstream err;
    cli::ScannedVolume v(err);
    cli::scanVolume(v, cli::Args({test::fixture("ntfs-basic.img")}, cli::kVolumeOptions, cli::kVolumeFlags));
    ASSERT_TRUE(v.session);
    std::map<std::string, ItemData> files;
    walkEntries(*v.session, topLevelRecords(*v.session, v.tree), 0, [&](const ListedEntry& e) { files[e.path] = e.data; });
    std::map<std::string, test::ManifestEntry> manifest;
    for (const test::ManifestEntry& m : test::readManifest("ntfs-basic")) manifest[m.path] = m;

    for (const Case& c : cases) {
        ASSERT_TRUE(files.count(c.path)) << c.path;
        const ItemData file = files.at(c.path);
        const test::ManifestEntry& m = manifest.at(c.path);
        ASSERT_EQ(v.session->size(file), m.size) << c.path;
        const Bytes whole = readInWindows(*v.session, file, m.size);
        ASSERT_EQ(whole.size(), m.size) << c.path;
        EXPECT_EQ(test::sha256(whole), m.sha256) << c.path;
        expectWindowsAround(*v.session, file, whole, c.edges, c.path);
        // Past the end nothing is read.
        Bytes past(16);
        EXPECT_EQ(v.session->read(file, m.size, past), std::optional<std::size_t>(0)) << c.path;
    }
}

Bytes pattern(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

// A data attribute whose initialised size is below its real size.
Bytes withInitialized(Bytes attribute, std::uint64_t initialized) {
    test::put64(&attribute[56], initialized);
    return attribute;
}

TEST(NtfsRead, DataEndingBeforeTheSizeReadAsZerosInAwkwardWindows) {
    NtfsImage img;
    const std::size_t cs = NtfsImage::kCluster;
    const Bytes stamp = NtfsImage::standardInfo(0);
    struct Case {
        const char* name;
        Bytes expected;
        std::vector<std::uint64_t> edges;
    };
    std::vector<Case> cases;

    // Three clusters, 10000 bytes, of which the first 5000 are initialised.
    const Bytes plain = pattern(3 * cs, 1);
    img.put(32, plain);
    img.record(17, 1, {stamp, NtfsImage::fileName(5, u"plain.bin"),
                       withInitialized(NtfsImage::nonResident(0x80, NtfsImage::runs({{32, 3}}), 0, 2, 3 * cs, 10000), 5000)});
    Bytes plainExpected(plain.begin(), plain.begin() + 5000);
    plainExpected.resize(10000, 0);
    cases.push_back({"plain.bin", plainExpected, {4096, 5000, 8192, 10000}});

    // Compressed in units of 16 clusters: one unit of LZNT1 chunks in two clusters, one unit
    // stored as it is; initialised up to the middle of the second unit.
    Bytes packed, unpacked;
    for (int k = 0; k < 16; ++k) {
        const std::uint8_t c = static_cast<std::uint8_t>('a' + k);
        packed.insert(packed.end(), {0x03, 0xB0, 0x02, c, 0xFC, 0x0F});
        unpacked.insert(unpacked.end(), 4096, c);
    }
    img.put(40, packed);
    const Bytes stored = pattern(16 * cs, 2);
    img.put(50, stored);
    const std::uint64_t compressedSize = 2 * 16 * cs - 300, compressedInit = 16 * cs + 7000;
    img.record(18, 1, {stamp, NtfsImage::fileName(5, u"packed.bin"),
                       withInitialized(NtfsImage::nonResident(0x80, NtfsImage::runs({{40, 2}, {-1, 14}, {50, 16}}), 0,
                                                              31, 32 * cs, compressedSize, 0x0001, 4),
                                       compressedInit)});
    Bytes packedExpected = unpacked;
    packedExpected.insert(packedExpected.end(), stored.begin(), stored.begin() + 7000);
    packedExpected.resize(compressedSize, 0);
    cases.push_back({"packed.bin", packedExpected, {4096, 8192, 65536, 65536 + 7000, compressedSize}});

    // Two clusters of data, then holes to the end.
    const Bytes head = pattern(2 * cs, 3);
    img.put(70, head);
    const std::uint64_t holeySize = 40 * cs - 123;
    img.record(19, 1, {stamp, NtfsImage::fileName(5, u"tail hole.bin"),
                       NtfsImage::nonResident(0x80, NtfsImage::runs({{70, 2}, {-1, 38}}), 0, 39, 40 * cs, holeySize, 0x8000)});
    Bytes holeyExpected = head;
    holeyExpected.resize(holeySize, 0);
    cases.push_back({"tail hole.bin", holeyExpected, {8192, 8193, holeySize}});

    // Resident, with a window past its end.
    const Bytes small = pattern(333, 4);
    img.record(20, 1, {stamp, NtfsImage::fileName(5, u"small.txt"), NtfsImage::resident(0x80, small)});
    cases.push_back({"small.txt", small, {0, 1, 332, 333}});

    test::ScannedNtfs s(img.bytes);
    ASSERT_TRUE(s.session);
    for (const Case& c : cases) {
        ASSERT_TRUE(s.listed.count(c.name)) << c.name;
        const ItemData file = s.listed.at(c.name).data;
        ASSERT_EQ(s.session->size(file), c.expected.size()) << c.name;
        EXPECT_TRUE(readInWindows(*s.session, file, c.expected.size()) == c.expected) << c.name;
        expectWindowsAround(*s.session, file, c.expected, c.edges, c.name);
        // A save writes the same bytes, whole.
        platform::OutputFile out;
        out.openMemory(c.expected.size());
        EXPECT_TRUE(s.session->extract(file, out)) << c.name;
        EXPECT_TRUE(out.bytes() == c.expected) << c.name;
    }
}

}  // namespace
}  // namespace corvello
