// Damaged volumes: chains that loop or leave the volume, folders whose clusters were reused,
// folder slots that share clusters, truncated images, and random damage to the metadata.
// Every case must end cleanly with what can still be read.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "support/TestSupport.h"
#include "support/ByteWriters.h"
#include "cli/Cli.h"
#include "common/Text.h"
#include "fs/fat/FatTestSupport.h"

namespace corvello {
namespace {

std::vector<std::uint8_t> fixtureBytes(const std::string& name) { return test::readWholeFile(test::fixture(name + ".img")); }

using test::get32;
using test::put16;
using test::put32;

// The FAT entry width and position, and the first cluster of a record, for either parser kind.
struct Layout {
    std::int64_t fatOffset = 0;
    bool wide = false;  // 32-bit entries
    std::uint32_t get(const std::vector<std::uint8_t>& b, std::uint32_t c) const {
        return wide ? get32(b, fatOffset + 4 * c) & 0x0FFFFFFF
                    : static_cast<std::uint32_t>(b[fatOffset + 2 * c] | (b[fatOffset + 2 * c + 1] << 8));
    }
    void set(std::vector<std::uint8_t>& b, std::uint32_t c, std::uint32_t v) const {
        if (wide)
            put32(b, fatOffset + 4 * c, v);
        else
            put16(b, fatOffset + 2 * c, v);
    }
    // The clusters of a chain (at most 10,000).
    std::vector<std::uint32_t> chain(const std::vector<std::uint8_t>& b, std::uint32_t c, std::uint32_t max) const {
        std::vector<std::uint32_t> out;
        while (c >= 2 && c <= max && out.size() < 10000) {
            out.push_back(c);
            c = get(b, c);
        }
        return out;
    }
};

// A volume parsed through the parser family that fits it.
struct Volume {
    std::string image;
    std::vector<std::uint8_t> bytes;
    std::unique_ptr<test::ParsedVolume<Fat16Parser>> fat16;
    std::unique_ptr<test::ParsedVolume<Fat32Parser>> fat32;
    std::unique_ptr<test::ParsedVolume<ExFatParser>> exfat;

    void parse() {
        if (image.rfind("fat16", 0) == 0 || image.rfind("fat12", 0) == 0)
            fat16 = test::parseVolume<Fat16Parser>(bytes);
        else if (image.rfind("fat32", 0) == 0)
            fat32 = test::parseVolume<Fat32Parser>(bytes);
        else
            exfat = test::parseVolume<ExFatParser>(bytes);
    }
    Layout layout() const {
        if (fat16) return {fat16->parser.fatOffset, false};
        if (fat32) return {fat32->parser.fatOffset, true};
        return {exfat->parser.fatOffset, true};
    }
    std::uint32_t maxCluster() const {
        if (fat16) return fat16->parser.clusterCount + 1;
        if (fat32) return fat32->parser.clusterCount + 1;
        return exfat->parser.clusterCount + 1;
    }
    long find(const std::u16string& name) const {
        if (fat16) return test::findRecord(fat16->parser.entries, name);
        if (fat32) return test::findRecord(fat32->parser.entries, name);
        return test::findRecord(exfat->parser.entries, name);
    }
    std::uint32_t first(long i) const {
        if (fat16) return fat16->parser.firstCluster(fat16->parser.entries[i]);
        if (fat32) return fat32->parser.firstCluster(fat32->parser.entries[i]);
        return exfat->parser.entries[i].firstCluster;
    }
    std::int64_t clusterOffset(std::uint32_t c) const {
        if (fat16) return fat16->parser.dataOffset + (c - 2) * static_cast<std::int64_t>(fat16->parser.clusterBytes);
        if (fat32) return fat32->parser.dataOffset + (c - 2) * static_cast<std::int64_t>(fat32->parser.clusterBytes);
        return exfat->parser.heapOffset + (c - 2) * static_cast<std::int64_t>(exfat->parser.clusterBytes);
    }
    // Names of a record's children, following the links (bounded).
    std::vector<std::u16string> children(long i) const {
        std::vector<std::u16string> out;
        auto walk = [&](const auto& list) {
            for (std::uint32_t c = list[i].firstChild; c < list.size() && out.size() <= list.size(); c = list[c].nextSibling)
                out.push_back(list[c].name);
        };
        if (fat16) walk(fat16->parser.entries);
        if (fat32) walk(fat32->parser.entries);
        if (exfat) walk(exfat->parser.entries);
        return out;
    }
    std::size_t recordCount() const {
        return fat16 ? fat16->parser.entries.size() : fat32 ? fat32->parser.entries.size() : exfat->parser.entries.size();
    }
    // Extracts a record; returns whether it was complete and the written size.
    bool extract(long i, const std::string& path, std::uint64_t& size) {
        bool ok = false;
        std::filesystem::remove(path);
        platform::OutputFile out;
        if (!out.create(path)) return false;
        ScanSession* session = fat16 ? static_cast<ScanSession*>(fat16->session)
                               : fat32 ? static_cast<ScanSession*>(fat32->session)
                                       : static_cast<ScanSession*>(exfat->session);
        if (session != nullptr) ok = session->extract(static_cast<ItemData>(i) + 1, out);
        ok = out.close() && ok;
        size = std::filesystem::exists(path) ? std::filesystem::file_size(path) : 0;
        return ok;
    }
};

Volume load(const std::string& image) {
    Volume v;
    v.image = image;
    v.bytes = fixtureBytes(image);
    v.parse();
    return v;
}

Volume bytesOf(const Volume& v) {
    Volume d;
    d.image = v.image;
    d.bytes = v.bytes;
    return d;
}

class FatDamage : public ::testing::TestWithParam<const char*> {};

TEST_P(FatDamage, FolderChainThatLoopsBackIsReadOnce) {
    Volume v = load(GetParam());
    const long many = v.find(u"Many");
    ASSERT_GE(many, 0);
    const Layout fat = v.layout();
    const auto chain = fat.chain(v.bytes, v.first(many), v.maxCluster());
    ASSERT_GE(chain.size(), 3u) << "the folder of 300 files spans several clusters";
    for (std::uint32_t target : {chain.front(), chain[chain.size() / 2]}) {
        Volume d = bytesOf(v);
        fat.set(d.bytes, chain.back(), target);
        d.parse();
        EXPECT_EQ(d.children(d.find(u"Many")).size(), 300u) << "loop back to cluster " << target;
    }
}

TEST_P(FatDamage, FileChainThatLoopsOrLeavesTheVolumeEndsTheCopy) {
    Volume v = load(GetParam());
    // exFAT stores most files without a chain; its fragmented file has one.
    const long file = v.find(v.exfat ? u"fragmented file.bin" : u"holiday movie.bin");
    ASSERT_GE(file, 0);
    const Layout fat = v.layout();
    const auto chain = fat.chain(v.bytes, v.first(file), v.maxCluster());
    ASSERT_GE(chain.size(), 4u);
    test::ScratchDir out;
    struct Case {
        const char* what;
        std::uint32_t value;
    };
    const Case cases[] = {{"loop to the first cluster", chain[0]},
                          {"loop to itself", chain[2]},
                          {"a cluster past the volume", v.maxCluster() + 100},
                          {"free", 0}};
    for (const Case& c : cases) {
        Volume d = bytesOf(v);
        fat.set(d.bytes, chain[2], c.value);
        d.parse();
        std::uint64_t size = 0;
        EXPECT_FALSE(d.extract(d.find(v.exfat ? u"fragmented file.bin" : u"holiday movie.bin"), out.file("f"), size))
            << c.what;
        // Three clusters come from the chain; a loop may repeat a few before it is noticed.
        const std::uint64_t cluster = d.fat16   ? d.fat16->parser.clusterBytes
                                      : d.fat32 ? d.fat32->parser.clusterBytes
                                                : d.exfat->parser.clusterBytes;
        EXPECT_GE(size, 3 * cluster) << c.what;
        EXPECT_LE(size, 8 * cluster) << c.what;
    }
}

TEST_P(FatDamage, FolderThatPointsAtItsOwnParentIsListedEmpty) {
    Volume v = load(GetParam());
    const long documents = v.find(u"Documents");
    const long reports = v.find(u"Reports");
    ASSERT_GE(documents, 0);
    ASSERT_GE(reports, 0);
    // Rewrite the Reports slot (or stream entry) inside Documents' first cluster.
    const std::int64_t at = v.clusterOffset(v.first(documents));
    const std::uint32_t target = v.first(reports);
    bool patched = false;
    for (std::int64_t pos = at; pos < at + 2048 && !patched; pos += 32) {
        if (v.exfat) {
            if (v.bytes[pos] == 0xC0 && get32(v.bytes, pos + 20) == target) {
                put32(v.bytes, pos + 20, v.first(documents));
                patched = true;
            }
        } else if ((v.bytes[pos + 11] & 0x10) && v.bytes[pos] != '.' &&
                   (v.bytes[pos + 26] | (v.bytes[pos + 27] << 8)) == static_cast<int>(target & 0xFFFF)) {
            put16(v.bytes, pos + 26, v.first(documents) & 0xFFFF);
            put16(v.bytes, pos + 20, v.first(documents) >> 16);
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    v.parse();
    const long r = v.find(u"Reports");
    ASSERT_GE(r, 0);
    EXPECT_TRUE(v.children(r).empty());
    EXPECT_EQ(v.find(u"Quarterly summary report.txt"), -1);
    EXPECT_EQ(v.children(v.find(u"Many")).size(), 300u);
}

// A file whose chain comes back to a cluster it passed gives each cluster of the chain once:
// its saved bytes are never more than its distinct clusters hold.
TEST_P(FatDamage, FileChainThatLoopsGivesEachClusterOnce) {
    Volume v = load(GetParam());
    const char16_t* name = v.exfat ? u"fragmented file.bin" : u"holiday movie.bin";
    const long file = v.find(name);
    ASSERT_GE(file, 0);
    const Layout fat = v.layout();
    const auto chain = fat.chain(v.bytes, v.first(file), v.maxCluster());
    ASSERT_GE(chain.size(), 6u);
    struct Case {
        const char* what;
        std::size_t from, to;  // the FAT entry of chain[from] points back at chain[to]
    };
    const Case cases[] = {{"back to the first cluster", 2, 0}, {"to itself", 2, 2}, {"into the middle", 4, 1}};
    test::ScratchDir out;
    for (const Case& c : cases) {
        Volume d = bytesOf(v);
        fat.set(d.bytes, chain[c.from], chain[c.to]);
        d.parse();
        const std::uint64_t cluster = d.fat16   ? d.fat16->parser.clusterBytes
                                      : d.fat32 ? d.fat32->parser.clusterBytes
                                                : d.exfat->parser.clusterBytes;
        std::uint64_t size = 0;
        EXPECT_FALSE(d.extract(d.find(name), out.file("f"), size)) << c.what;
        EXPECT_EQ(size, (c.from + 1) * cluster) << c.what;
    }
}

// A folder whose chain runs on into clusters of file data: the data is not taken for entries.
// FAT12/16/32: the folder of 300 notes continues into the clusters of a file of random bytes;
// exFAT: a cluster of made-up entry sets (the right types, the rest random) is put into the
// folder's chain.
TEST_P(FatDamage, FolderChainThatRunsIntoDataMakesUpNoEntries) {
    Volume v = load(GetParam());
    const long many = v.find(u"Many");
    ASSERT_GE(many, 0);
    const Layout fat = v.layout();
    const auto chain = fat.chain(v.bytes, v.first(many), v.maxCluster());
    ASSERT_GE(chain.size(), 3u);
    Volume d = bytesOf(v);
    if (v.exfat) {
        const std::uint32_t spare = v.maxCluster() - 1;  // a free cluster near the heap's end
        const std::int64_t at = v.clusterOffset(spare);
        std::mt19937 rng(29);
        for (std::int64_t pos = at; pos < at + static_cast<std::int64_t>(v.exfat->parser.clusterBytes); ++pos)
            d.bytes[pos] = static_cast<std::uint8_t>(rng());
        for (std::int64_t set = at; set + 96 <= at + static_cast<std::int64_t>(v.exfat->parser.clusterBytes); set += 96) {
            d.bytes[set] = 0x85;
            d.bytes[set + 32] = 0xC0;
            d.bytes[set + 64] = 0xC1;
        }
        fat.set(d.bytes, chain[0], spare);
        fat.set(d.bytes, spare, chain[1]);
    } else {
        const long data = v.find(u"exact clusters.bin");  // three clusters of random bytes
        ASSERT_GE(data, 0);
        fat.set(d.bytes, chain.back(), v.first(data));
    }
    d.parse();
    const long again = d.find(u"Many");
    ASSERT_GE(again, 0);
    const auto kids = d.children(again);
    for (const std::u16string& kid : kids)
        EXPECT_EQ(kid.rfind(u"Note number ", 0), 0u) << toUtf8(kid);
    // The notes of the folder's last cluster are lost when a made-up cluster takes its place.
    EXPECT_GE(kids.size(), v.exfat ? 250u : 300u);
    EXPECT_LE(kids.size(), 300u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatDamage, ::testing::Values("fat16-2k", "fat32-512", "exfat-4k"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string n = param.param;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

TEST(FatDamageFat16, FolderWhoseFirstClusterLostItsDotSlotIsListedEmpty) {
    Volume v = load("fat16-2k");
    const long documents = v.find(u"Documents");
    ASSERT_GE(documents, 0);
    ASSERT_FALSE(v.children(documents).empty());
    std::fill_n(v.bytes.begin() + v.clusterOffset(v.first(documents)), 32, 0x41);
    v.parse();
    const long again = v.find(u"Documents");
    ASSERT_GE(again, 0);
    EXPECT_TRUE(v.children(again).empty());
    EXPECT_EQ(v.children(v.find(u"Many")).size(), 300u);
}

// A root-entry count of 0xFFFF stretches the FAT16 root region 2 MiB into the data area, where
// file contents and the slots of other folders lie. Only slots that can be entries become
// records, none larger than the clusters from its first to the volume's end. The folders' own
// "." slots show that the data area does not start where this boot sector puts it: no file's
// bytes are taken from there, the save says so, and the advanced mode it points to finds the
// files where they lie.
TEST(FatDamageFat16, RootCountThatReachesIntoTheDataMakesUpNoEntries) {
    Volume v = load("fat16-2k");
    put16(v.bytes, 17, 0xFFFF);
    v.parse();
    ASSERT_TRUE(v.fat16->accepted);
    const FatVolume& p = v.fat16->parser;
    std::set<std::u16string> names;  // the names the volume really holds
    const auto manifest = test::readManifest("fat16-2k");
    for (const auto& e : manifest) names.insert(fromUtf8(e.path.substr(e.path.rfind('/') + 1)));
    EXPECT_LT(p.entries.size(), 100u);
    for (std::size_t i = 1; i < p.entries.size(); ++i) {
        const FatEntry& e = p.entries[i];
        EXPECT_EQ(names.count(e.name), 1u) << toUtf8(e.name);
        if (!isFatDirectory(e.attributes) && e.size > 0) {
            EXPECT_LE(std::uint64_t{e.size},
                      (std::uint64_t{p.maxCluster()} - p.firstCluster(e) + 1) * p.clusterBytes)
                << toUtf8(e.name);
        }
    }
    const auto notices = v.fat16->host.notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("does not fit its folders"), std::string::npos) << notices[0];

    test::ScratchDir dir;
    test::writeFile(dir.file("root.img"), v.bytes);
    const auto r = test::runCli({"save", dir.file("root.img"), "--out", dir.file("out")});
    EXPECT_EQ(r.status, cli::kExitInput) << r.err;
    EXPECT_NE(r.err.find("its data could not be found"), std::string::npos) << r.err;
    std::uint64_t written = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.file("out")))
        if (e.is_regular_file()) written += e.file_size();
    EXPECT_EQ(written, 0u);

    const auto a = test::runCli({"save", dir.file("root.img"), "--mode", "advanced", "--out", dir.file("advanced")});
    EXPECT_EQ(a.status, 0) << a.err;
    for (const auto& e : manifest) {
        if (e.path.rfind("Root file", 0) == 0) {
            EXPECT_EQ(test::sha256File(dir.file("advanced/" + e.path)), e.sha256) << e.path;
        }
    }
}

TEST(FatDamageFat16, TwoFolderSlotsWithOneFirstClusterGiveOneRecordWithTheLaterName) {
    Volume v = load("fat16-2k");
    const long data = v.find(u"Data");
    ASSERT_GE(data, 0);
    const std::int64_t root = v.fat16->parser.rootOffset;
    bool patched = false;
    for (std::int64_t pos = root; pos < root + v.fat16->parser.rootBytes; pos += 32) {
        if (std::memcmp(v.bytes.data() + pos, "TRASH      ", 11) == 0) {
            put16(v.bytes, pos + 26, v.first(data));
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    v.parse();
    EXPECT_EQ(v.find(u"Data"), -1);
    const long trash = v.find(u"Trash");
    ASSERT_GE(trash, 0);
    const auto kids = v.children(trash);
    EXPECT_NE(std::find(kids.begin(), kids.end(), u"holiday movie.bin"), kids.end());
}

TEST(FatDamageImages, TruncatedImagesListWhatIsLeft) {
    test::ScratchDir dir;
    for (const char* name : {"fat12-floppy", "fat16-2k", "fat32-512", "exfat-4k"}) {
        const auto bytes = fixtureBytes(name);
        for (std::size_t keep : {std::size_t{600}, std::size_t{20000}, bytes.size() / 8, bytes.size() / 2}) {
            SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(keep));
            const std::string path = dir.file("cut.img");
            test::writeFile(path, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(keep)));
            const std::string fs = std::string(name).rfind("exfat", 0) == 0 ? "exFat"
                                   : std::string(name).rfind("fat32", 0) == 0 ? "FAT32" : "FAT16";
            const auto r = test::runCli({"list", path, "--start", "0", "--fs", fs});
            EXPECT_TRUE(r.status == 0 || r.status == 1) << r.err;
            const auto s = test::runCli({"save", path, "--start", "0", "--fs", fs, "--out", dir.file("out")});
            // What the cut took is reported as incomplete files (status 3), never as a success
            // that hides it.
            EXPECT_TRUE(s.status == 0 || s.status == 1 || s.status == cli::kExitIncomplete) << s.err;
            std::filesystem::remove_all(dir.file("out"));
        }
    }
}

// A volume cut short inside a file longer than what is left of the medium: the bytes a save
// names as not read are never more than the file holds (a byte both read short and cut at the
// medium's length counts once).
TEST(FatDamageImages, CutVolumeNamesNoMoreUnreadBytesThanAFileHolds) {
    test::ScratchDir dir;
    for (const char* name : {"fat16-2k", "fat32-512"}) {
        SCOPED_TRACE(name);
        const Volume v = load(name);
        const long movie = v.find(u"holiday movie.bin");
        ASSERT_GE(movie, 0);
        const std::int64_t cut = v.clusterOffset(v.first(movie)) + 65536;
        ASSERT_LT(cut, 3000000) << "what is left of the medium is shorter than the file";
        test::writeFile(dir.file("cut.img"),
                        std::vector<std::uint8_t>(v.bytes.begin(), v.bytes.begin() + static_cast<long>(cut)));
        std::filesystem::remove_all(dir.file("out"));
        const auto r = test::runCli({"save", dir.file("cut.img"), "--out", dir.file("out")});
        EXPECT_EQ(r.status, cli::kExitIncomplete) << r.err;
        std::map<std::string, std::uint64_t> sizes;
        for (const auto& e : test::readManifest(name)) sizes[e.path] = e.size;
        const std::string prefix = "  " + dir.file("out") + "/";
        const std::string tail = " byte(s) could not be read";
        int named = 0;
        for (const std::string& line : test::lines(r.err)) {
            const auto tab = line.rfind('\t');
            if (line.rfind(prefix, 0) != 0 || tab == std::string::npos || line.size() < tail.size() ||
                line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
                continue;
            const std::string path = line.substr(prefix.size(), tab - prefix.size());
            const std::uint64_t missing = std::stoull(line.substr(tab + 1));
            ASSERT_TRUE(sizes.count(path)) << line;
            EXPECT_LE(missing, sizes[path]) << line;
            EXPECT_GT(missing, 0u) << line;
            ++named;
        }
        EXPECT_NE(r.err.find("Data/holiday movie.bin\t"), std::string::npos) << r.err;
        EXPECT_GE(named, 1);
    }
}

// Random damage to the boot sector, the FAT and the directories: every parse must end, keep its
// links inside the list, and extraction must stay within the volume.
TEST(FatDamageRandom, MutatedMetadataNeverBreaksTheParse) {
    test::ScratchDir out;
    for (const char* name : {"fat12-floppy", "fat16-2k", "fat32-512", "exfat-4k"}) {
        SCOPED_TRACE(name);
        Volume clean = load(name);
        // The regions worth damaging: boot sector, FAT start, root and folder clusters.
        std::vector<std::pair<std::int64_t, std::int64_t>> regions = {{0, 512}, {clean.layout().fatOffset, 4096}};
        for (long i = 1; i < static_cast<long>(clean.recordCount()); ++i) {
            const bool folder = clean.exfat ? isExFatDirectory(clean.exfat->parser.entries[i].attributes)
                                : clean.fat16 ? isFatDirectory(clean.fat16->parser.entries[i].attributes)
                                              : isFatDirectory(clean.fat32->parser.entries[i].attributes);
            if (folder) regions.emplace_back(clean.clusterOffset(clean.first(i)), 512);
        }
        if (clean.fat16) regions.emplace_back(clean.fat16->parser.rootOffset, clean.fat16->parser.rootBytes);
        std::mt19937 rng(12345);
        Volume d = bytesOf(clean);
        for (int round = 0; round < 60; ++round) {
            // The damage of the round before is undone first.
            std::vector<std::pair<std::int64_t, std::uint32_t>> undo;
            const int changes = 1 + static_cast<int>(rng() % 12);
            for (int k = 0; k < changes; ++k) {
                const auto& [start, length] = regions[rng() % regions.size()];
                const std::int64_t at = start + static_cast<std::int64_t>(rng() % static_cast<std::uint32_t>(length - 4));
                if (at < 0 || at + 4 > static_cast<std::int64_t>(d.bytes.size())) continue;
                undo.emplace_back(at, get32(d.bytes, at));
                static const std::uint32_t values[] = {0, 1, 2, 3, 0xFFFF, 0x0FFFFFFF, 0xFFFFFFFF, 0x80000000, 0xE5};
                if (rng() % 2)
                    put32(d.bytes, at, values[rng() % 9]);
                else
                    d.bytes[at] = static_cast<std::uint8_t>(rng());
            }
            d.parse();
            const std::size_t n = d.recordCount();
            int extracted = 0;
            for (long i = 1; i < static_cast<long>(n) && extracted < 6; ++i) {
                std::uint64_t size = 0;
                if (d.exfat) {
                    const auto& e = d.exfat->parser.entries[i];
                    EXPECT_LT(e.parent, n);
                    if (isExFatDirectory(e.attributes) || e.dataLength > (1u << 20)) continue;
                } else {
                    const FatEntry& e = d.fat16 ? d.fat16->parser.entries[i] : d.fat32->parser.entries[i];
                    EXPECT_LT(e.parent, n);
                    if (isFatDirectory(e.attributes) || e.size > (1u << 20)) continue;
                }
                d.extract(i, out.file("x"), size);
                EXPECT_LE(size, 1u << 20);
                ++extracted;
            }
            for (auto it = undo.rbegin(); it != undo.rend(); ++it) put32(d.bytes, it->first, it->second);
        }
    }
}

}  // namespace
}  // namespace corvello

namespace corvello {
namespace {

// A long name whose checksum does not match the 8.3 slot that follows belongs to another (lost)
// entry: the live file keeps its short name.
TEST(FatDamageFat16, LongNameWithAWrongChecksumIsNotGivenToALiveSlot) {
    Volume v = load("fat16-2k");
    const long folder = v.find(u"2021");  // the folder under its short name
    ASSERT_GE(folder, 0);
    const std::int64_t at = v.clusterOffset(v.first(folder));
    int patched = 0;
    for (std::int64_t pos = at; pos < at + 2048; pos += 32) {
        if (v.bytes[pos + 11] == 0x0F) {
            v.bytes[pos + 13] ^= 0x5A;
            ++patched;
        }
    }
    ASSERT_GT(patched, 0);
    v.parse();
    EXPECT_EQ(v.find(u"Quarterly summary report.txt"), -1);
    const auto kids = v.children(v.find(u"2021"));
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(kids[0].substr(0, 6), u"QUARTE");
}

// With the drive-formatted option no chain is followed: folders give their first cluster only
// and files are taken as stored one cluster after another.
TEST(FatFormatted, NoChainIsFollowed) {
    test::CliResult r = test::runCli({"list", test::fixture("fat16-2k.img"), "--formatted"});
    ASSERT_EQ(r.status, 0) << r.err;
    int notes = 0;
    for (const auto& line : test::lines(r.out))
        if (line.find("\tMany/Note number") != std::string::npos) ++notes;
    EXPECT_GT(notes, 0);
    EXPECT_LT(notes, 300);
    test::ScratchDir out;
    const auto s = test::runCli({"save", test::fixture("fat16-2k.img"), "--formatted", "--out", out.path(), "--path", "Frag"});
    for (const auto& e : test::readManifest("fat16-2k")) {
        if (e.path == "Frag/before.bin") {
            EXPECT_EQ(test::sha256File(out.file("before.bin")), e.sha256);
        }
        if (e.path == "Frag/fragmented file.bin") {  // its second piece lies elsewhere
            EXPECT_NE(test::sha256File(out.file("fragmented file.bin")), e.sha256);
        }
    }
}

}  // namespace
}  // namespace corvello

namespace corvello {
namespace {

// Sets the 13 characters of the first long-name slot (the end of the name) found for a name.
bool renameLongSlot(Volume& v, long folder, const char16_t* fromStart, const std::u16string& to13) {
    const std::int64_t at = v.clusterOffset(v.first(folder));
    static const int offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::int64_t pos = at; pos < at + 2048; pos += 32) {
        if (v.bytes[pos + 11] != 0x0F || v.bytes[pos + 1] != fromStart[0] || v.bytes[pos + 3] != fromStart[1]) continue;
        for (int i = 0; i < 13; ++i) put16(v.bytes, pos + offsets[i], to13[static_cast<std::size_t>(i)]);
        return true;
    }
    return false;
}

TEST(FatDamageFat16, NamesFromDiskNeverLeaveTheOutputFolder) {
    Volume v = load("fat16-2k");
    const long names = v.find(u"Names");
    ASSERT_GE(names, 0);
    ASSERT_TRUE(renameLongSlot(v, names, u"Ex", u"../../evil.tx"));  // "Exactly13.txt": one slot
    test::ScratchDir dir;
    test::writeFile(dir.file("evil.img"), v.bytes);
    const auto r = test::runCli({"save", dir.file("evil.img"), "--out", dir.file("a/b")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("evil.tx")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("a/evil.tx")));
    std::size_t inside = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.file("a/b/Names"))) inside += e.is_regular_file();
    EXPECT_EQ(inside, 7u);  // every file of the folder is still written, inside it
}

TEST(FatDamageFat16, RootFilesAndFoldersOfEveryAttributeAreListed) {
    Volume v = load("fat16-2k");
    const std::int64_t root = v.fat16->parser.rootOffset;
    int patched = 0;
    for (std::int64_t pos = root; pos < root + v.fat16->parser.rootBytes; pos += 32) {
        std::uint8_t& attributes = v.bytes[pos + 11];
        if (attributes == 0x0F || v.bytes[pos] == 0 || v.bytes[pos] == 0xE5) continue;
        if (attributes == 0x10) attributes = 0x37 & ~0x08;  // a folder: read-only, hidden, system, archive
        else if (attributes == 0x20) attributes = 0x07;     // a file without its archive bit
        else continue;
        ++patched;
    }
    ASSERT_GT(patched, 50);
    test::ScratchDir dir;
    test::writeFile(dir.file("attrs.img"), v.bytes);
    const auto r = test::runCli({"list", dir.file("attrs.img")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("d\tlive\t0\tMany\n"), std::string::npos);
    EXPECT_NE(r.out.find("f\tlive\t4000\tDocuments/Reports/2021/Quarterly summary report.txt\n"), std::string::npos);
    EXPECT_NE(r.out.find("f\tlive\t27\tRoot file with a long name 07.txt\n"), std::string::npos);
}

}  // namespace
}  // namespace corvello
