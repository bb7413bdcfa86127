// corvello-cli carve on the carving fixture: real files of the default kinds in noise.

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "cli/Cli.h"
#include "raw/RawTestSupport.h"
#include "support/TestSupport.h"

namespace corvello::test {
namespace {

struct Placed {
    std::int64_t offset = 0;
    bool exact = false;
    std::string category;
    std::string name;  // the name the tree gives the carved file
    std::string path;  // the original's name in the manifest
};

// The "# place" lines of the fixture's manifest.
std::vector<Placed> placedFiles() {
    std::ifstream in(fixture("carve.manifest"));
    std::vector<Placed> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("# place\t", 0) != 0) continue;
        std::istringstream fields(line.substr(8));
        Placed p;
        std::string offset, mode;
        std::getline(fields, offset, '\t');
        std::getline(fields, mode, '\t');
        std::getline(fields, p.category, '\t');
        std::getline(fields, p.name, '\t');
        std::getline(fields, p.path);
        p.offset = std::stoll(offset);
        p.exact = mode == "exact";
        out.push_back(p);
    }
    return out;
}

Bytes readBytes(const std::string& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    Bytes out(limit);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(limit));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return out;
}

TEST(CarveCli, FindsEveryPlacedFileWhole) {
    const auto manifest = readManifest("carve");
    const auto placed = placedFiles();
    ASSERT_EQ(placed.size(), manifest.size());
    ScratchDir out;
    const CliResult r = runCli({"carve", fixture("carve.img"), "--out", out.path()});
    // The fixture's clip.mp4 has no movie box (no player can show it): it is named as cut, and
    // the status tells that a file is incomplete.
    ASSERT_EQ(r.status, cli::kExitIncomplete) << r.err;
    EXPECT_NE(r.err.find("1 file(s) are damaged or cut; each was saved up to its last sound part:\n  Video/2220032 .mp4\n"),
              std::string::npos)
        << r.err;

    std::map<std::string, int> perCategory;
    for (const Placed& p : placed) {
        const auto entry = std::find_if(manifest.begin(), manifest.end(), [&](const ManifestEntry& e) { return e.path == p.path; });
        ASSERT_NE(entry, manifest.end()) << p.path;
        const std::string saved = out.path() + "/" + p.category + "/" + p.name;
        ASSERT_TRUE(std::filesystem::exists(saved)) << p.path << " as " << saved;
        // Every saved file begins with the whole original; exactly the original where the
        // manifest says so (every file of the fixture).
        EXPECT_EQ(sha256(readBytes(saved, entry->size)), entry->sha256) << p.path;
        if (p.exact) {
            EXPECT_EQ(std::filesystem::file_size(saved), entry->size) << p.path;
        }
        ++perCategory[p.category];
    }

    // Standard output: one line per category in the tree's order; the totals on stderr.
    const auto out_lines = lines(r.out);
    ASSERT_EQ(out_lines.size(), 6u) << r.out;
    const std::vector<std::string> order = {"Pictures", "Documents", "Archives", "Audio", "Video", "Databases"};
    for (std::size_t i = 0; i < order.size(); ++i) {
        const auto tab = out_lines[i].find('\t');
        ASSERT_NE(tab, std::string::npos);
        EXPECT_EQ(out_lines[i].substr(0, tab), order[i]);
        EXPECT_GE(std::stoi(out_lines[i].substr(tab + 1)), perCategory[order[i]]) << out_lines[i];
    }
    EXPECT_NE(r.err.find("carved "), std::string::npos) << r.err;
    // The end of the run on stderr, in the command line's words: no progress drawn into a stream
    // that is not a terminal, and not the wizard's closing message (its Save button is not here).
    EXPECT_EQ(r.err.find('\033'), std::string::npos);
    EXPECT_EQ(r.err.find("Select save button"), std::string::npos) << r.err;
}

TEST(CarveCli, FilesDeletedFromAFatVolumeComeBack) {
    // carve-fat: files copied onto FAT16 and deleted; the manifest's "# mode" lines say how
    // each carve must compare with its file.
    const auto manifest = readManifest("carve-fat");
    std::map<std::string, std::pair<bool, std::string>> modes;  // path -> (exact, category)
    std::ifstream in(fixture("carve-fat.manifest"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("# mode\t", 0) != 0) continue;
        std::istringstream fields(line.substr(7));
        std::string mode, category, path;
        std::getline(fields, mode, '\t');
        std::getline(fields, category, '\t');
        std::getline(fields, path);
        modes[path] = {mode == "exact", category};
    }
    ASSERT_EQ(modes.size(), manifest.size());

    ScratchDir out;
    const CliResult r = runCli({"carve", fixture("carve-fat.img"), "--out", out.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const ManifestEntry& e : manifest) {
        const auto& [exact, category] = modes.at(e.path);
        bool found = false;
        for (const auto& saved : std::filesystem::directory_iterator(out.path() + "/" + category)) {
            if (sha256(readBytes(saved.path().string(), e.size)) != e.sha256) continue;
            found = found || !exact || saved.file_size() == e.size;
        }
        EXPECT_TRUE(found) << e.path;
    }
}

TEST(CarveCli, DefaultsLoadedTwiceStillFindEachFileOnce) {
    // The page's Parse with "Load Default Items" checked and the default set in its file box.
    const std::string defaults = std::string(CORVELLO_FIXTURE_DIR) + "/../../data/FileSetting.txt";
    ScratchDir once, twice;
    const CliResult a = runCli({"carve", fixture("carve.img"), "--out", once.path()});
    const CliResult b = runCli({"carve", fixture("carve.img"), "--settings", defaults, "--out", twice.path()});
    ASSERT_EQ(a.status, cli::kExitIncomplete) << a.err;  // clip.mp4, as above
    ASSERT_EQ(b.status, cli::kExitIncomplete) << b.err;
    EXPECT_EQ(a.out.substr(0, a.out.rfind("into")), b.out.substr(0, b.out.rfind("into")));
}

TEST(CarveCli, StartSectorMakesOffsetsRelativeToIt) {
    ScratchDir out;
    const CliResult r = runCli({"carve", fixture("carve.img"), "--start", "2048", "--out", out.path()});
    ASSERT_EQ(r.status, cli::kExitIncomplete) << r.err;  // clip.mp4, as above
    for (const Placed& p : placedFiles()) {
        if (p.path != "picture.bmp") continue;
        const std::string name = std::to_string(p.offset - 1048576) + " .bmp";
        EXPECT_TRUE(std::filesystem::exists(out.path() + "/Pictures/" + name)) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(out.path() + "/Pictures/19968 .jpg"));
}

TEST(CarveCli, ACutFileIsSavedUpToItsSoundPartAndNamed) {
    // The PNG of the carving fixture, cut in its image data and followed by zeros: the chunks up
    // to the cut are kept, nothing after them, and stderr names the file as partial.
    const auto placed = placedFiles();
    const auto png = std::find_if(placed.begin(), placed.end(), [](const Placed& p) { return p.path == "image.png"; });
    ASSERT_NE(png, placed.end());
    const Bytes whole = readBytes(fixture("carve.img"), static_cast<std::size_t>(png->offset + 118663));
    Bytes cut(whole.begin() + png->offset, whole.begin() + png->offset + 60000);
    ScratchDir dir;
    writeImage(dir.file("cut.img"), 1 << 20, {{8192, cut}});
    const CliResult r = runCli({"carve", dir.file("cut.img"), "--out", dir.file("out")});
    // Every file was written, but one is incomplete: the exit status says so.
    ASSERT_EQ(r.status, cli::kExitIncomplete) << r.err;
    EXPECT_NE(r.err.find("1 file(s) are damaged or cut; each was saved up to its last sound part:\n  Pictures/8192 .png\n"),
              std::string::npos)
        << r.err;
    const Bytes saved = readBytes(dir.file("out/Pictures/8192 .png"), 1 << 20);
    ASSERT_GT(saved.size(), 1000u);
    EXPECT_LT(saved.size(), cut.size());
    EXPECT_TRUE(std::equal(saved.begin(), saved.end(), cut.begin()));
}

TEST(CarveCli, UserDefinitionsAloneAndErrors) {
    ScratchDir dir;
    writeSettings(dir.file("pdf.set"), {definition(u"pdf", {0x25, 0x50, 0x44, 0x46, 0x2D},
                                                   {0x25, 0x25, 0x45, 0x4F, 0x46, 0x0A}, 1 << 20, u"Paper")});
    const CliResult r = runCli({"carve", fixture("carve.img"), "--settings", dir.file("pdf.set"), "--no-defaults",
                                "--out", dir.file("out")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out).at(0), "Paper\t1");
    EXPECT_EQ(std::filesystem::file_size(dir.file("out/Paper/1357824 .pdf")), 1030u);

    writeFile(dir.file("short.set"), Bytes(170, 1));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{"carve", fixture("carve.img")}, 2, "--out DIR"},
        {{"carve", fixture("carve.img"), "--no-defaults", "--out", dir.file("x")}, 2, "--no-defaults needs --settings FILE"},
        {{"carve", fixture("carve.img"), "--settings", dir.file("none.set"), "--out", dir.file("x")}, 1, "can not open file"},
        {{"carve", fixture("carve.img"), "--settings", dir.file("short.set"), "--out", dir.file("x")}, 1, "not a valid file.."},
        {{"carve", dir.file("no-image"), "--out", dir.file("x")}, 1, "cannot open"},
        {{"carve", fixture("carve.img"), "--start", "999999", "--out", dir.file("x")}, 2, "lies outside"},
    };
    for (const Case& c : cases) {
        const CliResult e = runCli(c.args);
        EXPECT_EQ(e.status, c.status) << e.err;
        EXPECT_NE(e.err.find(c.err), std::string::npos) << e.err;
    }
}

}  // namespace
}  // namespace corvello::test
