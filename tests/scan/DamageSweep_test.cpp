// The damage sweep: every kind of fixture volume, damaged in a fixed set of ways (cut short,
// 4 KiB blocks zeroed or filled with noise in its metadata, bits flipped in its first MiBs),
// is listed and saved. Whatever the damage, each run ends with a documented status, within its
// time, inside bounded memory, and writes nothing outside its output folder.
//
// CORVELLO_DAMAGE_ROUNDS=N (default 1) runs N seeded rounds of the random damage: the long
// version for a run by hand.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <thread>

#include "cli/Cli.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Aborts the whole test program when one run takes longer than its limit: a hang must show
// as a failure naming the case, never as a stuck CI job.
class Watchdog {
public:
    Watchdog(std::string what, std::chrono::seconds limit) : what_(std::move(what)) {
        thread_ = std::thread([this, limit] {
            std::unique_lock lock(mutex_);
            if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                std::fprintf(stderr, "damage sweep: %s did not end within its time\n", what_.c_str());
                std::abort();
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        thread_.join();
    }

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

struct Damage {
    std::string name;
    std::function<void(Bytes&, std::mt19937&)> apply;
};

// The damages for a volume of the given size whose metadata lies in its first metaBytes.
std::vector<Damage> damagesFor(std::size_t size, std::size_t metaBytes) {
    const std::size_t meta = std::min(metaBytes, size);
    const auto block = [meta](std::mt19937& rng) {
        return std::uniform_int_distribution<std::size_t>(0, meta / 4096 - 1)(rng) * 4096;
    };
    return {
        {"cut at 1 KiB", [](Bytes& b, std::mt19937&) { b.resize(std::min<std::size_t>(b.size(), 1024)); }},
        {"cut inside the metadata", [meta](Bytes& b, std::mt19937&) { b.resize(meta / 3 + 512); }},
        {"cut in the middle", [](Bytes& b, std::mt19937&) { b.resize(b.size() / 2 + 1000); }},
        {"zeroed 4 KiB blocks",
         [block](Bytes& b, std::mt19937& rng) {
             for (int i = 0; i < 8; ++i) std::fill_n(b.begin() + static_cast<long>(block(rng)), 4096, 0);
         }},
        {"noise in 4 KiB blocks",
         [block](Bytes& b, std::mt19937& rng) {
             for (int i = 0; i < 8; ++i) {
                 const std::size_t at = block(rng);
                 for (std::size_t k = 0; k < 4096; ++k) b[at + k] = static_cast<std::uint8_t>(rng());
             }
         }},
        {"bit flips", [meta](Bytes& b, std::mt19937& rng) {
             std::uniform_int_distribution<std::size_t> where(0, meta - 1);
             for (int i = 0; i < 400; ++i) b[where(rng)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
         }},
    };
}

struct Volume {
    std::string name;
    std::string path;
    std::vector<std::string> volumeArgs;  // how the CLI is told which volume to read
    std::size_t metaBytes;                // where most of its metadata lies
};

int rounds() {
    const char* text = std::getenv("CORVELLO_DAMAGE_ROUNDS");
    const int n = text != nullptr ? std::atoi(text) : 1;
    return n > 0 ? n : 1;
}

TEST(DamageSweep, EveryDamagedVolumeListsAndSavesWithinItsFolderAndTime) {
    const std::vector<Volume> volumes = {
        {"fat12", test::fixture("fat12-floppy.img"), {}, 64 << 10},
        {"fat16", test::fixture("fat16-2k.img"), {}, 1 << 20},
        {"fat32", test::fixture("fat32-512.img"), {}, 2 << 20},
        {"exfat", test::fixture("exfat-4k.img"), {}, 4 << 20},
        {"ntfs", test::fixture("ntfs-small.img"), {}, 8 << 20},
        {"ntfs-deep", test::fixture("ntfs-small.img"), {"--mode", "deep"}, 8 << 20},
        {"ext2", test::fixture("ext2-1k.img"), {}, 2 << 20},
        {"ext4", test::fixture("ext4-inline.img"), {}, 2 << 20},
        {"hfs+", test::sharedFixture("hfsplus.raw"), {"--start", "0", "--fs", "HFS+"}, 4 << 20},
        {"disk", test::fixture("sample-disk.img"), {"--volume", "0"}, 4 << 20},
    };
    const auto limit = std::chrono::seconds(120);
    int runs = 0;
    for (const Volume& v : volumes) {
        const Bytes original = readBytes(v.path);
        ASSERT_GT(original.size(), 4096u) << v.path;
        for (int round = 0; round < rounds(); ++round) {
            std::mt19937 rng(static_cast<unsigned>(1000 * round + original.size() % 997));
            for (const Damage& d : damagesFor(original.size(), v.metaBytes)) {
                const std::string what = v.name + ", " + d.name + ", round " + std::to_string(round);
                SCOPED_TRACE(what);
                test::ScratchDir dir;
                Bytes bytes = original;
                d.apply(bytes, rng);
                const std::string image = dir.file("damaged.img"), out = dir.file("out");
                test::writeFile(image, bytes);
                std::vector<std::string> list = {"list", image};
                list.insert(list.end(), v.volumeArgs.begin(), v.volumeArgs.end());
                std::vector<std::string> save = list;
                save[0] = "save";
                save.insert(save.end(), {"--out", out});
                for (const auto& args : {list, save}) {
                    Watchdog watchdog(what + " (" + args[0] + ")", limit);
                    const auto r = test::runCli(args);
                    ++runs;
                    EXPECT_TRUE(r.status == cli::kExitOk || r.status == cli::kExitInput ||
                                r.status == cli::kExitUsage || r.status == cli::kExitIncomplete)
                        << args[0] << " ended with " << r.status << ": " << r.err;
                }
                // Only the image and the output folder: nothing was written beside them, and
                // nothing in the output folder is a link.
                std::vector<std::string> top;
                for (const auto& e : fs::directory_iterator(dir.path())) top.push_back(e.path().filename().string());
                std::sort(top.begin(), top.end());
                EXPECT_TRUE(top == std::vector<std::string>{"damaged.img"} ||
                            top == (std::vector<std::string>{"damaged.img", "out"}));
                if (fs::exists(out)) {
                    for (const auto& e : fs::recursive_directory_iterator(out)) {
                        EXPECT_FALSE(e.is_symlink()) << e.path();
                        if (e.is_regular_file()) {
                            EXPECT_LE(e.file_size(), bytes.size()) << e.path();
                        }
                    }
                }
            }
        }
    }
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const long peakMiB = usage.ru_maxrss / 1024;
    RecordProperty("runs", runs);
    RecordProperty("peak_rss_mib", static_cast<int>(peakMiB));
    std::printf("damage sweep: %d runs, peak resident memory %ld MiB\n", runs, peakMiB);
    // The whole test program, with its largest fixture in memory and the sanitizer's shadow.
    EXPECT_LT(peakMiB, 2048);
}

}  // namespace
}  // namespace corvello
