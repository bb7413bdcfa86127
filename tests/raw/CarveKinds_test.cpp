// Carving real files of every kind of the default set: laid in noise at odd sectors, back to
// back and across read blocks they come back byte for byte; cut or damaged copies are refused
// or kept as partial, never padded; noise alone yields nothing.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <set>
#include <random>
#include <sstream>

#include "common/MemoryResultTree.h"
#include "device/FileReadSeek.h"
#include "raw/CarvingEngine.h"
#include "raw/RawTestSupport.h"
#include "support/TestSupport.h"

namespace corvello::test {
namespace {

struct Kind {
    std::string name;
    std::string category;
    Bytes bytes;
};

// The real files of the carve-kinds fixture, read out of its image by their places.
const std::vector<Kind>& kinds() {
    static const std::vector<Kind> all = [] {
        std::vector<Kind> out;
        std::ifstream image(fixture("carve-kinds.img"), std::ios::binary);
        const Bytes data((std::istreambuf_iterator<char>(image)), std::istreambuf_iterator<char>());
        const auto manifest = readManifest("carve-kinds");
        std::ifstream in(fixture("carve-kinds.manifest"));
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("# kind\t", 0) != 0) continue;
            std::istringstream fields(line.substr(7));
            std::string offset, category, path;
            std::getline(fields, offset, '\t');
            std::getline(fields, category, '\t');
            std::getline(fields, path);
            const auto entry = std::find_if(manifest.begin(), manifest.end(), [&](const ManifestEntry& e) { return e.path == path; });
            if (entry == manifest.end()) continue;
            const auto at = static_cast<std::size_t>(std::stoll(offset));
            Kind k{path, category, Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                                         data.begin() + static_cast<std::ptrdiff_t>(at + entry->size))};
            EXPECT_EQ(sha256(k.bytes), entry->sha256) << path;
            out.push_back(std::move(k));
        }
        return out;
    }();
    return all;
}

std::string defaultSettings() { return std::string(CORVELLO_FIXTURE_DIR) + "/../../data/FileSetting.txt"; }

Bytes noise(std::size_t n, std::uint32_t seed) {
    std::mt19937_64 rng(seed);
    Bytes out(n);
    for (std::size_t k = 0; k < n; k += 8) {
        const std::uint64_t v = rng();
        for (std::size_t b = 0; b < 8 && k + b < n; ++b) out[k + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    return out;
}

struct Found {
    std::int64_t offset, size;
    std::string category;
    bool partial;
    bool operator==(const Found&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Found& f) {
    return o << "(" << f.offset << ", " << f.size << ", " << f.category << (f.partial ? ", partial" : "") << ")";
}

// Carves an image held in memory with the default set.
std::vector<Found> carveImage(const Bytes& image, std::uint32_t blockSize = 1048576) {
    ScratchDir dir;
    writeFile(dir.file("image.raw"), image);
    FileReadSeek reader;
    EXPECT_TRUE(reader.open(dir.file("image.raw")));
    MemoryScanHost host;
    MemoryResultTree tree;
    CarvingEngine engine;
    EXPECT_TRUE(loadDefinitions(engine, defaultSettings(), false, host));
    engine.view = VolumeView::toEnd(&reader, 0);
    engine.host = &host;
    engine.resultTree = &tree;
    engine.rangeBytes = static_cast<std::int64_t>(image.size());
    engine.blockSize = blockSize;
    EXPECT_TRUE(engine.carve());
    std::vector<Found> out;
    for (std::size_t i = 0; i < engine.carvedFiles.size(); ++i) {
        const CarvedFile& f = engine.carvedFiles[i];
        out.push_back({f.offset, f.size, toUtf8(engine.carvedCategory(i)), f.partial});
    }
    std::sort(out.begin(), out.end(), [](const Found& a, const Found& b) { return a.offset < b.offset; });
    return out;
}

void put(Bytes& image, std::size_t at, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

std::size_t sectorsFor(std::size_t n) { return (n + 511) / 512; }

TEST(CarveKinds, EveryKindComesBackByteForByte) {
    ASSERT_GE(kinds().size(), 30u);
    std::size_t total = 0;
    for (const Kind& k : kinds()) total += sectorsFor(k.bytes.size()) * 512;
    constexpr std::uint32_t kBlock = 65536;  // small read blocks, so that many files cross them

    struct Layout {
        const char* what;
        std::function<std::size_t(std::size_t pos, const Kind&, std::mt19937&)> place;  // sector-aligned start
    };
    const Layout layouts[] = {
        {"odd sectors with noise between",
         [](std::size_t pos, const Kind&, std::mt19937& rng) {
             std::size_t at = pos + 512 * std::uniform_int_distribution<std::size_t>(1, 9)(rng);
             if ((at / 512) % 2 == 0) at += 512;
             return at;
         }},
        {"back to back", [](std::size_t pos, const Kind&, std::mt19937&) { return pos; }},
        {"across read blocks",
         [](std::size_t pos, const Kind& k, std::mt19937& rng) {
             // Start one to three sectors before the next block boundary (a small file may end before it).
             const std::size_t boundary = (pos / kBlock + 1) * kBlock;
             const std::size_t before = 512 * std::uniform_int_distribution<std::size_t>(1, 3)(rng);
             (void)k;
             return boundary - before >= pos ? boundary - before : boundary + kBlock - before;
         }},
    };
    for (const Layout& layout : layouts) {
        std::mt19937 rng(2024);
        // Two endings cannot be told from the bytes that follow them: a PDF that ends without a
        // line end followed by a line-end byte, and a FLAC stream whose last CRC ends in zero
        // followed by a zero byte. The noise here does not follow any file so.
        Bytes image = noise(total * 2 + 64 * kBlock, 8);
        std::vector<Found> expected;
        std::size_t pos = 512;
        for (const Kind& k : kinds()) {
            const std::size_t at = layout.place(pos, k, rng);
            ASSERT_LE(at + k.bytes.size(), image.size());
            put(image, at, k.bytes);
            expected.push_back({static_cast<std::int64_t>(at), static_cast<std::int64_t>(k.bytes.size()), k.category, false});
            pos = at + sectorsFor(k.bytes.size()) * 512;
        }
        image.resize(pos + 3 * kBlock + 100);  // the image ends inside a sector, in noise
        const std::vector<Found> found = carveImage(image, kBlock);
        for (const Found& f : found)
            EXPECT_NE(std::find(expected.begin(), expected.end(), f), expected.end()) << layout.what << ": carved " << f;
        for (const Found& e : expected)
            EXPECT_NE(std::find(found.begin(), found.end(), e), found.end()) << layout.what << ": missed " << e;
    }
}

TEST(CarveKinds, AJpegWithAnExifThumbnailComesBackWhole) {
    const auto it = std::find_if(kinds().begin(), kinds().end(), [](const Kind& k) { return k.name == "camera.jpg"; });
    ASSERT_NE(it, kinds().end());
    const Bytes& jpeg = it->bytes;
    // The thumbnail inside the APP1 segment: a second SOI and an EOI long before the file's end.
    const Bytes soi{0xFF, 0xD8, 0xFF}, eoi{0xFF, 0xD9};
    const auto thumb = std::search(jpeg.begin() + 2, jpeg.end(), soi.begin(), soi.end());
    ASSERT_NE(thumb, jpeg.end());
    const auto thumbEnd = std::search(thumb, jpeg.end(), eoi.begin(), eoi.end());
    ASSERT_LT(thumbEnd - jpeg.begin() + 2, static_cast<std::ptrdiff_t>(jpeg.size()) / 2);

    Bytes image = noise(jpeg.size() + 8192, 3);
    put(image, 1536, jpeg);
    EXPECT_EQ(carveImage(image), (std::vector<Found>{{1536, static_cast<std::int64_t>(jpeg.size()), "Pictures", false}}));
}

TEST(CarveKinds, CutAndDamagedCopiesAreRefusedOrPartialNeverPadded) {
    // Formats whose checks see damage anywhere in the file (CRCs, decoders).
    const std::set<std::string> checked = {"image.png", "notes.gz", "notes.bz2", "notes.xz", "tone.ogg"};
    // Pixels and samples carry no structure: a cut copy of these keeps the size its header
    // declares (the bytes that follow it on the medium), which is never more than the file's.
    // An MPEG program stream without an end code is as opaque.
    const std::set<std::string> opaque = {"picture.bmp", "picture-v5.bmp", "sound.wav", "tone.wav",
                                          "picture.webp", "movie.avi", "clip.mpg"};
    for (const Kind& k : kinds()) {
        struct Copy {
            const char* what;
            Bytes bytes;
        };
        Bytes cut(k.bytes.begin(), k.bytes.begin() + static_cast<std::ptrdiff_t>(k.bytes.size() * 6 / 10));
        Bytes damaged = k.bytes;
        const Bytes junk = noise(64, 99);
        std::copy(junk.begin(), junk.end(), damaged.begin() + static_cast<std::ptrdiff_t>(damaged.size() / 2 - 32));
        for (const Copy& c : {Copy{"cut", cut}, Copy{"damaged", damaged}}) {
            Bytes image = noise(k.bytes.size() + (1 << 20), 5);
            put(image, 4096, c.bytes);
            const std::vector<Found> found = carveImage(image);
            for (const Found& f : found) {
                if (f.offset != 4096) continue;
                // A cut file is never whole; a damaged one is whole only where nothing tells.
                if ((std::string(c.what) == "cut" && opaque.count(k.name) == 0) || checked.count(k.name) > 0) {
                    EXPECT_TRUE(f.partial) << k.name << " " << c.what;
                }
                EXPECT_LE(f.size, static_cast<std::int64_t>(k.bytes.size())) << k.name << " " << c.what;
            }
        }
    }
}

TEST(CarveKinds, ACutFileNeverSwallowsTheFileAfterIt) {
    // A cut copy of each kind, and in the next sector a whole one of the same kind: the whole
    // one comes back byte for byte, and the cut one does not reach into it. An MPEG program
    // stream is a run of packs that each could begin one, so a cut one runs on into the next.
    for (const Kind& k : kinds()) {
        if (k.name == "clip.mpg") continue;
        const Bytes cut(k.bytes.begin(), k.bytes.begin() + static_cast<std::ptrdiff_t>(k.bytes.size() * 6 / 10));
        const std::size_t second = 4096 + sectorsFor(cut.size()) * 512;
        Bytes image = noise(second + k.bytes.size() + 65536, 11);
        put(image, 4096, cut);
        put(image, second, k.bytes);
        const std::vector<Found> found = carveImage(image);
        const Found whole{static_cast<std::int64_t>(second), static_cast<std::int64_t>(k.bytes.size()), k.category, false};
        EXPECT_NE(std::find(found.begin(), found.end(), whole), found.end()) << k.name;
        for (const Found& f : found) {
            if (f.offset == 4096) {
                EXPECT_LE(f.offset + f.size, static_cast<std::int64_t>(second)) << k.name << (f.partial ? " partial" : " whole");
            }
        }
    }
}

TEST(CarveKinds, NoiseAloneYieldsNothing) {
    // Seeded random bytes: every start signature that turns up by chance fails its checks.
    constexpr std::size_t kSize = std::size_t{256} << 20;
    EXPECT_EQ(carveImage(noise(kSize, 20241210)), std::vector<Found>{});
}

}  // namespace
}  // namespace corvello::test
