// The fuzz targets' bodies over their seed volumes, so that every test run exercises them (the
// libFuzzer builds run by hand; what they find becomes a seed here).

#include <gtest/gtest.h>

#include <filesystem>

#include "../../../fuzz/FatFuzz.h"
#include "fs/fat/FatTestSupport.h"

namespace corvello {
namespace {

std::filesystem::path seeds(const char* family) {
    return std::filesystem::path(CORVELLO_SOURCE_DIR) / "fuzz/corpus" / family;
}

template <class Parser>
int runSeeds(const char* family) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(seeds(family))) {
        const auto bytes = test::readWholeFile(e.path().string());
        EXPECT_EQ(fuzz::runFatFuzz<Parser>(bytes.data(), bytes.size()), 0) << e.path();
        ++n;
    }
    return n;
}

TEST(FatFuzzSeeds, EveryTargetRunsOverItsSeeds) {
    EXPECT_GE(runSeeds<Fat16Parser>("fat16"), 2);
    EXPECT_GE(runSeeds<Fat32Parser>("fat32"), 1);
    EXPECT_GE(runSeeds<ExFatParser>("exfat"), 1);
}

}  // namespace
}  // namespace corvello
