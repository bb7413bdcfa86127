// The data files delivered with the program are found from the executable's folder, installed
// or in a build tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/ProgramPath.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

TEST(ProgramPath, DataFilesAreFoundInstalledOrInABuildTree) {
    const struct {
        const char* program;               // the executable's folder
        std::vector<const char*> present;  // files laid out around it
        const char* found;                 // what the lookup gives ("" for nothing)
    } cases[] = {
        // Installed under a prefix: share/corvello/ beside bin/.
        {"usr/bin", {"usr/share/corvello/FileSetting.txt"}, "usr/share/corvello/FileSetting.txt"},
        // A copy beside the program.
        {"opt/corvello", {"opt/corvello/FileSetting.txt"}, "opt/corvello/FileSetting.txt"},
        // Build trees: corvello-cli in build/src, the wizard in build/src/ui, the file in build/data.
        {"build/src", {"build/data/FileSetting.txt"}, "build/data/FileSetting.txt"},
        {"build/src/ui", {"build/data/FileSetting.txt"}, "build/data/FileSetting.txt"},
        // The installed set wins over a stray copy beside the program.
        {"usr/bin", {"usr/bin/FileSetting.txt", "usr/share/corvello/FileSetting.txt"},
         "usr/share/corvello/FileSetting.txt"},
        // A folder of that name is not the file; nothing at all gives nothing.
        {"usr/bin", {"usr/share/corvello/FileSetting.txt/inner"}, ""},
        {"usr/bin", {}, ""},
    };
    for (const auto& c : cases) {
        test::ScratchDir dir;
        const fs::path root = dir.path();
        fs::create_directories(root / c.program);
        for (const char* file : c.present) touch(root / file);
        const std::string found = platform::dataFilePathFrom((root / c.program).string(), "FileSetting.txt");
        EXPECT_EQ(found, *c.found ? (root / c.found).string() : std::string()) << c.program;
    }
    EXPECT_EQ(platform::dataFilePathFrom("", "FileSetting.txt"), "");
    EXPECT_EQ(platform::dataFilePathFrom("/usr/bin", "../../etc/passwd"), "");
}

TEST(ProgramPath, ThisBuildFindsItsSignatureSet) {
    // The test binary lies in the build tree, whose data folder holds the default set.
    const std::string found = platform::dataFilePath("FileSetting.txt");
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(fs::path(found).filename(), "FileSetting.txt");
}

}  // namespace
}  // namespace corvello
