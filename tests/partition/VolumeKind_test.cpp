// A volume record carries its file system as a kind: the list's texts are formed from it, a
// text typed over the record (--fs, "Treat file system as:") sets it, and the parser family that
// reads the volume is chosen by it.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/MemoryScanHost.h"
#include "common/Text.h"
#include "common/VolumeRecord.h"
#include "device/FileReadSeek.h"
#include "scan/Scan.h"
#include "scan/Volumes.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

using K = FileSystemKind;

TEST(VolumeKind, NamesTypedTextsAndFamilies) {
    struct Case {
        const char16_t* text;
        K kind;
        Family family;
    };
    const Case cases[] = {
        // The list's own names.
        {u"NTFS", K::Ntfs, Family::Ntfs},
        {u"FAT12", K::Fat12, Family::Fat16},
        {u"FAT16", K::Fat16, Family::Fat16},
        {u"FAT32", K::Fat32, Family::Fat32},
        {u"FAT64", K::ExFat, Family::ExFat},
        {u"extX", K::Ext, Family::Ext},
        {u"HFS+", K::HfsPlus, Family::HfsPlus},
        // As a user types them.
        {u"ntfs", K::Ntfs, Family::Ntfs},
        {u"fat", K::Fat16, Family::Fat16},
        {u"exFAT", K::ExFat, Family::ExFat},
        {u"hfs+", K::HfsPlus, Family::HfsPlus},
        // Texts no parser reads.
        {u"ntfs ", K::None, Family::None},
        {u"ext4", K::None, Family::None},
        {u"RAW", K::None, Family::None},
        {u"Unknown", K::None, Family::None},
        {u"", K::None, Family::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.text));
        EXPECT_EQ(fileSystemKindOf(c.text), c.kind);
        EXPECT_EQ(familyOf(c.kind), c.family);
        EXPECT_EQ(familyOf(std::u16string(c.text)), c.family);
        VolumeRecord typed;
        typed.setFileSystem(c.text);
        EXPECT_EQ(typed.fileSystem, c.text);  // shown as typed
        EXPECT_EQ(typed.fileSystemKind(), c.kind);
    }
    for (K kind : {K::Ntfs, K::Fat12, K::Fat16, K::Fat32, K::ExFat, K::Ext, K::HfsPlus}) {
        VolumeRecord found;
        found.setKind(kind);
        EXPECT_EQ(fileSystemKindOf(found.fileSystem), kind) << toUtf8(found.fileSystem);
    }
    EXPECT_TRUE(fileSystemName(K::None).empty());
}

TEST(VolumeKind, FoundVolumesCarryTheKindTheListNames) {
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(test::fixture("sample-disk.img")));
    std::vector<VolumeRecord> volumes;
    ASSERT_EQ(readVolumeTables(reader, false, volumes), 0);
    ASSERT_EQ(volumes.size(), 3u);
    EXPECT_EQ(volumes[0].kind, K::Fat32);
    EXPECT_EQ(volumes[1].kind, K::Ext);
    EXPECT_EQ(volumes[2].kind, K::Ntfs);

    VolumeList scanned;
    MemoryScanHost host;
    EXPECT_EQ(scanBootRecords(reader, scanned, host, BootScanRange{}), 1);
    ASSERT_FALSE(scanned.volumes.empty());
    std::vector<VolumeRecord> all = volumes;
    all.insert(all.end(), scanned.volumes.begin(), scanned.volumes.end());
    for (const VolumeRecord& v : all) {
        SCOPED_TRACE(toUtf8(v.fileSystem));
        EXPECT_NE(v.kind, K::None);
        EXPECT_EQ(v.fileSystem, fileSystemName(v.kind));
        EXPECT_GT(v.byteLength, 0);
    }

    // A text typed over a found record decides how it is read.
    VolumeRecord treated = volumes[2];
    treated.setFileSystem(u"fat32");
    EXPECT_EQ(familyOf(treated.fileSystemKind()), Family::Fat32);
}

TEST(VolumeKind, BareVolumeCarriesItsKindAndTheImagesLength) {
    const std::string path = test::fixture("fat32-4k.img");
    FileReadSeek reader;
    ASSERT_TRUE(reader.open(path));
    const VolumeRecord volume = volumeAtStart(reader);
    EXPECT_EQ(volume.kind, K::Fat32);
    EXPECT_EQ(volume.byteLength, static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

}  // namespace
}  // namespace corvello
