// Unlocking encrypted volumes: every fixture with every kind of secret it has, the volume read
// through the decrypting source as the plain volume it holds; a wrong secret refused; a volume
// whose header is damaged unlocked from its other copy without a byte of the image changing.

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "device/crypt/SectorCipher.h"
#include "device/crypt/Unlock.h"
#include "partition/BootSector.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

using test::fixture;

std::map<std::string, std::string> readKeys(const std::string& name) {
    std::map<std::string, std::string> keys;
    std::ifstream in(fixture(name + ".keys"));
    std::string line;
    while (std::getline(in, line)) {
        const auto tab = line.find('\t');
        if (tab != std::string::npos) keys[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return keys;
}

std::vector<std::uint8_t> fromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

UnlockSecret secretOf(const std::string& kind, const std::string& value) {
    UnlockSecret s;
    if (kind == "keyfile") {
        s.kind = UnlockSecret::Kind::KeyFile;
        s.bytes = SecretBytes(fromHex(value));
    } else if (kind == "recovery-password") {
        s.kind = UnlockSecret::Kind::RecoveryPassword;
        s.bytes = SecretBytes(value);
    } else if (kind != "none") {
        s.kind = UnlockSecret::Kind::Password;
        s.bytes = SecretBytes(value);
    }
    return s;
}

struct Opened {
    FileReadSeek reader;
    UnlockResult result;
};

std::unique_ptr<Opened> unlock(const std::string& name, const UnlockSecret& secret) {
    auto o = std::make_unique<Opened>();
    EXPECT_TRUE(o->reader.open(fixture(name + ".img"))) << name;
    o->result = unlockVolume(o->reader, 0, o->reader.sourceBytes(), secret);
    return o;
}

struct UnlockCase {
    const char* image;
    const char* secret;  // the line of NAME.keys, or "none"
    const char* fileSystem;  // what the unlocked volume holds
};

class UnlockEachSecret : public testing::TestWithParam<UnlockCase> {};

TEST_P(UnlockEachSecret, OpensThePlainVolume) {
    const UnlockCase& c = GetParam();
    const auto keys = readKeys(c.image);
    const std::string value = std::string(c.secret) == "none" ? "" : keys.at(c.secret);
    const auto o = unlock(c.image, secretOf(c.secret, value));
    ASSERT_EQ(o->result.status, UnlockStatus::Unlocked) << o->result.text;
    ASSERT_NE(o->result.volume, nullptr);
    std::vector<std::uint8_t> first(4096);
    ASSERT_EQ(o->result.volume->readBytes(0, first), first.size());
    EXPECT_EQ(toUtf8(recogniseVolume(ByteSpan(first))), c.fileSystem) << o->result.text;
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, UnlockEachSecret,
    testing::Values(UnlockCase{"luks1-ext4", "passphrase", "extX"}, UnlockCase{"luks1-ext4", "keyfile", "extX"},
                    UnlockCase{"luks2-ext4", "passphrase", "extX"}, UnlockCase{"luks2-ext4", "keyfile", "extX"},
                    UnlockCase{"bitlocker-ntfs", "password", "NTFS"},
                    UnlockCase{"bitlocker-ntfs", "recovery-password", "NTFS"},
                    UnlockCase{"bitlocker-xts256-ntfs", "password", "NTFS"},
                    UnlockCase{"bitlocker-xts256-ntfs", "recovery-password", "NTFS"},
                    UnlockCase{"bitlocker-fat", "password", "FAT16"},
                    UnlockCase{"bitlocker-fat", "recovery-password", "FAT16"},
                    UnlockCase{"bitlocker-clearkey-ntfs", "none", "NTFS"},
                    UnlockCase{"bitlocker-clearkey-ntfs", "password", "NTFS"}));

}  // namespace
}  // namespace corvello
