// Byte runs in the DFXML report: where each file's data lie, as file, volume and image offsets.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "cli/Cli.h"
#include "cli/ScannedVolume.h"
#include "scan/Reports.h"
#include "scan/SaveWalk.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

// A scanned volume's records with the byte runs given here for some of them.
class RunsSession : public ScanSession {
public:
    RunsSession(ScanSession& inner, std::map<ItemData, std::vector<ByteRun>> runs)
        : inner_(inner), runs_(std::move(runs)) {}
    TreeItem rootItem() const override { return inner_.rootItem(); }
    bool isValid(ItemData d) const override { return inner_.isValid(d); }
    bool isFolder(ItemData d) const override { return inner_.isFolder(d); }
    std::vector<ItemData> children(ItemData d) const override { return inner_.children(d); }
    bool isDeleted(ItemData c, ItemData o) const override { return inner_.isDeleted(c, o); }
    std::u16string name(ItemData d) const override { return inner_.name(d); }
    std::uint64_t size(ItemData d) const override { return inner_.size(d); }
    std::array<std::string, 4> rowTexts(ItemData d) const override { return inner_.rowTexts(d); }
    std::string sizeText(ItemData d) const override { return inner_.sizeText(d); }
    EntryTimes times(ItemData d) const override { return inner_.times(d); }
    bool isSavableFolder(ItemData d) const override { return inner_.isSavableFolder(d); }
    SaveKind saveKind(ItemData d) const override { return inner_.saveKind(d); }
    bool entersFolder(ItemData d) const override { return inner_.entersFolder(d); }
    std::u16string saveName(ItemData d) const override { return inner_.saveName(d); }
    std::vector<ByteRun> byteRuns(ItemData d) const override {
        const auto it = runs_.find(d);
        return it == runs_.end() ? std::vector<ByteRun>{} : it->second;
    }

protected:
    std::optional<std::size_t> readData(ItemData d, std::uint64_t offset, std::span<std::uint8_t> buffer,
                                        ReadNotes&) override {
        return inner_.read(d, offset, buffer);
    }

private:
    ScanSession& inner_;
    std::map<ItemData, std::vector<ByteRun>> runs_;
};

void scan(cli::ScannedVolume& v, const std::string& image, const char* volume) {
    cli::scanVolume(v, cli::Args({test::fixture(image), "--volume", volume}, cli::kVolumeOptions, cli::kVolumeFlags));
}

// The fileobject of path in a DFXML report (empty when there is none).
std::string fileObject(const std::string& xml, const std::string& path) {
    const std::size_t name = xml.find("<filename>" + path + "</filename>");
    if (name == std::string::npos) return {};
    const std::size_t begin = xml.rfind("<fileobject>", name), end = xml.find("</fileobject>", name);
    return xml.substr(begin, end - begin);
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The runs a family gives appear in their file's fileobject, the image offset counted from the
// start of the disk (the volume starts at sector 2048); files without runs and folders have none.
TEST(ReportByteRuns, DfxmlGivesTheRunsWithTheirImageOffsets) {
    std::ostringstream err;
    cli::ScannedVolume v(err);
    scan(v, "sample-disk.img", "0");
    const auto top = topLevelRecords(*v.session, v.tree);
    ItemData letter = 0;
    walkEntries(*v.session, top, 0, [&](const ListedEntry& e) {
        if (e.path == "Documents/letter.txt") letter = e.data;
    });
    ASSERT_NE(letter, 0u);
    RunsSession session(*v.session, {{letter, {{0, 1048576, 4096}, {4096, 3145728, 904}}}});
    std::ostringstream xml;
    writeReport(session, top, ListFormat::Dfxml, xml, false, {"sample-disk.img", 2048 * 512});
    const std::string report = xml.str();
    EXPECT_NE(fileObject(report, "Documents/letter.txt")
                  .find("    <byte_runs>\n"
                        "      <byte_run file_offset=\"0\" fs_offset=\"1048576\" img_offset=\"2097152\" len=\"4096\"/>\n"
                        "      <byte_run file_offset=\"4096\" fs_offset=\"3145728\" img_offset=\"4194304\" len=\"904\"/>\n"
                        "    </byte_runs>\n"),
              std::string::npos)
        << report;
    EXPECT_EQ(count(report, "<byte_runs>"), 1u);
    EXPECT_EQ(count(report, "<byte_run "), 2u);
    // The other formats have no place for runs and stay as they were.
    for (const ListFormat format : {ListFormat::Csv, ListFormat::Json, ListFormat::Body}) {
        std::ostringstream with, without;
        writeReport(session, top, format, with, false, {"sample-disk.img", 2048 * 512});
        writeReport(*v.session, top, format, without, false, {"sample-disk.img", 2048 * 512});
        EXPECT_EQ(with.str(), without.str());
    }
}

// The runs the families give lead to the file's bytes on the disk image: read at img_offset, the
// runs of each live file make up its data as the manifest records them.
TEST(ReportByteRuns, RunsPointAtTheFileBytesInTheImage) {
    const std::string image = test::fixture("sample-disk.img");
    const auto listed = test::runCli({"list", image, "--volume", "0", "--format", "dfxml"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::map<std::string, std::string> manifest;
    for (const auto& e : test::readManifest("sample-disk"))
        if (e.kind == "f" && e.state == "live") manifest[e.path] = e.sha256;
    if (listed.out.find("<byte_run ") == std::string::npos) GTEST_SKIP() << "the FAT family gives no byte runs yet";

    std::ifstream disk(image, std::ios::binary);
    auto attribute = [](const std::string& element, const std::string& name) {
        const std::size_t at = element.find(" " + name + "=\"") + name.size() + 3;
        return std::stoull(element.substr(at, element.find('"', at) - at));
    };
    std::size_t checked = 0;
    for (const auto& [path, sha] : manifest) {
        SCOPED_TRACE(path);
        const std::string object = fileObject(listed.out, path);
        ASSERT_FALSE(object.empty());
        std::vector<std::uint8_t> bytes;
        for (std::size_t at = object.find("<byte_run "); at != std::string::npos; at = object.find("<byte_run ", at + 1)) {
            const std::string run = object.substr(at, object.find("/>", at) - at);
            EXPECT_EQ(attribute(run, "file_offset"), bytes.size());
            const auto length = attribute(run, "len");
            std::vector<std::uint8_t> part(length);
            disk.seekg(static_cast<std::streamoff>(attribute(run, "img_offset")));
            disk.read(reinterpret_cast<char*>(part.data()), static_cast<std::streamsize>(length));
            bytes.insert(bytes.end(), part.begin(), part.end());
        }
        if (bytes.empty()) continue;  // data kept in the record itself
        EXPECT_EQ(test::sha256(bytes), sha);
        ++checked;
    }
    EXPECT_GT(checked, 0u);
}

}  // namespace
}  // namespace corvello
