// BitLocker and LUKS volumes are named by their content in the volume list, whatever the
// partition type says (BitLocker keeps NTFS's 0x07, LUKS Linux's 0x83), and a BitLocker boot
// sector, whose fields look like FAT's, is never taken for a FAT volume.
#include <gtest/gtest.h>

#include <fstream>

#include "common/Text.h"
#include "device/VolumeView.h"
#include "device/crypt/Unlock.h"
#include "partition/BootSector.h"
#include "scan/Volumes.h"
#include "support/ByteWriters.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

std::vector<std::uint8_t> firstBytes(const std::string& image, std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    std::ifstream in(test::fixture(image), std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(n));
    return bytes;
}

TEST(EncryptedVolumes, MbrRowsAreNamedByContent) {
    std::vector<std::uint8_t> disk(256 * 512, 0);
    auto slot = [&](int i, std::uint8_t type, std::uint32_t start, std::uint32_t count) {
        std::uint8_t* e = disk.data() + 446 + 16 * i;
        e[4] = type;
        test::put32(e + 8, start);
        test::put32(e + 12, count);
    };
    slot(0, 0x07, 64, 64);
    slot(1, 0x83, 128, 64);
    disk[510] = 0x55;
    disk[511] = 0xAA;
    const auto bitlocker = firstBytes("bitlocker-ntfs.img", 4096);
    const auto luks = firstBytes("luks2-ext4.img", 4096);
    std::copy(bitlocker.begin(), bitlocker.end(), disk.begin() + 64 * 512);
    std::copy(luks.begin(), luks.end(), disk.begin() + 128 * 512);
    MemorySource source(disk);
    std::vector<VolumeRecord> volumes;
    ASSERT_EQ(readVolumeTables(source, false, volumes), 0);
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(toUtf8(volumes[0].fileSystem), "BitLocker");
    EXPECT_EQ(volumes[0].startSector, 64);
    EXPECT_EQ(volumes[0].byteLength, 64 * 512);
    EXPECT_EQ(toUtf8(volumes[1].fileSystem), "LUKS");
    EXPECT_EQ(volumes[1].startSector, 128);
}

TEST(EncryptedVolumes, BootSectorsAreToldByTheirMarks) {
    const auto windows = firstBytes("bitlocker-fat.img", 512);
    // A To Go volume keeps "MSWIN4.1" where others have "-FVE-FS-": its GUID at byte 424 tells it.
    auto togo = windows;
    std::copy_n("MSWIN4.1", 8, togo.begin() + 3);
    std::copy(windows.begin() + 160, windows.begin() + 176, togo.begin() + 424);
    std::fill(togo.begin() + 160, togo.begin() + 176, std::uint8_t{0});
    auto luks1 = firstBytes("luks1-ext4.img", 512);
    auto luks3 = luks1;
    luks3[7] = 3;  // no LUKS version this program knows
    struct Case {
        const std::vector<std::uint8_t>* sector;
        EncryptionKind kind;
    } cases[] = {{&windows, EncryptionKind::BitLocker}, {&togo, EncryptionKind::BitLocker},
                 {&luks1, EncryptionKind::Luks}, {&luks3, EncryptionKind::None}};
    for (const Case& c : cases) {
        EXPECT_EQ(encryptionOf(ByteSpan(*c.sector)), c.kind);
        std::vector<std::uint8_t> four(*c.sector);
        four.resize(4096, 0);
        EXPECT_EQ(recogniseVolume(ByteSpan(four)), encryptionName(c.kind));
    }
}

}  // namespace
}  // namespace corvello
