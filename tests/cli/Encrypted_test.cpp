// corvello-cli on encrypted volumes: each fixture unlocked with a secret it has, listed and saved
// byte for byte as its manifest says (deleted files too); a wrong key refused with its own exit
// status; a locked volume named with the options that unlock it; a damaged LUKS 2 header read
// without a byte of the image changing; the Windows-made BitLocker volumes written out by
// `image` to the bytes their README lists.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "cli/Cli.h"
#include "support/TestSupport.h"

namespace corvello {
namespace {

using test::fixture;

std::string keyOf(const std::string& image, const std::string& kind) {
    std::ifstream in(fixture(image + ".keys"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(kind + "\t", 0) == 0) return line.substr(kind.size() + 1);
    return {};
}

std::vector<std::uint8_t> fromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// The unlock options for a secret of the fixture's NAME.keys ("none": no option).
std::vector<std::string> unlockArgs(const test::ScratchDir& dir, const std::string& image, const std::string& kind) {
    if (kind == "none") return {};
    const std::string value = keyOf(image, kind);
    if (kind == "keyfile") {
        test::writeFile(dir.file("key"), fromHex(value));
        return {"--key-file", dir.file("key")};
    }
    const std::string text = value + "\n";
    test::writeFile(dir.file("password"), std::vector<std::uint8_t>(text.begin(), text.end()));
    return {"--password-file", dir.file("password")};
}

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::multiset<std::string> savedHashes(const std::string& dir) {
    std::multiset<std::string> hashes;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file()) hashes.insert(test::sha256File(e.path().string()));
    return hashes;
}

struct EncryptedCase {
    const char* image;
    const char* secret;
};

class EncryptedFixture : public testing::TestWithParam<EncryptedCase> {};

TEST_P(EncryptedFixture, ListsAndSavesEveryFileOfTheManifest) {
    const EncryptedCase& c = GetParam();
    test::ScratchDir dir;
    const auto unlock = unlockArgs(dir, c.image, c.secret);
    const test::CliResult list = test::runCli(with({"list", fixture(std::string(c.image) + ".img")}, unlock));
    ASSERT_EQ(list.status, cli::kExitOk) << list.err;
    const std::vector<std::string> rows = test::lines(list.out);
    const std::set<std::string> listed(rows.begin(), rows.end());
    const auto manifest = test::readManifest(c.image);
    ASSERT_FALSE(manifest.empty());
    const bool fat = std::string(c.image).find("fat") != std::string::npos;
    for (const test::ManifestEntry& m : manifest) {
        // FAT keeps no first letter of a deleted name: that row is found by the rest of it.
        if (fat && m.state == "deleted") continue;
        EXPECT_TRUE(listed.count(m.kind + "\t" + m.state + "\t" + std::to_string(m.size) + "\t" + m.path)) << m.path;
    }

    const test::CliResult save = test::runCli(with({"save", fixture(std::string(c.image) + ".img"), "--out", dir.file("out")}, unlock));
    ASSERT_EQ(save.status, cli::kExitOk) << save.err;
    const std::multiset<std::string> hashes = savedHashes(dir.file("out"));
    for (const test::ManifestEntry& m : manifest)
        if (m.kind == "f") {
            EXPECT_TRUE(hashes.count(m.sha256)) << m.state << " " << m.path;
        }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EncryptedFixture,
                         testing::Values(EncryptedCase{"luks1-ext4", "passphrase"}, EncryptedCase{"luks2-ext4", "keyfile"},
                                         EncryptedCase{"bitlocker-ntfs", "recovery-password"},
                                         EncryptedCase{"bitlocker-xts256-ntfs", "password"},
                                         EncryptedCase{"bitlocker-fat", "password"},
                                         EncryptedCase{"bitlocker-clearkey-ntfs", "none"}));

TEST(EncryptedVolumes, PartitionsNameThemAndTellWhetherTheyOpen) {
    test::ScratchDir dir;
    struct Row {
        const char* image;
        const char* secret;
        const char* line;
    };
    for (const Row& r : {Row{"bitlocker-ntfs", "none", "0\tBitLocker\t100  MB\t0\tlocked"},
                         Row{"bitlocker-ntfs", "password", "0\tBitLocker\t100  MB\t0\tunlocked NTFS"},
                         Row{"bitlocker-clearkey-ntfs", "none", "0\tBitLocker\t100  MB\t0\tunlocked NTFS"},
                         Row{"luks2-ext4", "none", "0\tLUKS\t3  MB\t0\tlocked"},
                         Row{"luks1-ext4", "keyfile", "0\tLUKS\t3  MB\t0\tunlocked extX"}}) {
        const test::CliResult p = test::runCli(with({"partitions", fixture(std::string(r.image) + ".img")}, unlockArgs(dir, r.image, r.secret)));
        EXPECT_EQ(p.status, cli::kExitOk) << p.err;
        EXPECT_EQ(p.out, std::string(r.line) + "\n") << r.image << " " << r.secret;
    }
}

TEST(EncryptedVolumes, AWrongKeyIsRefusedWithItsOwnStatusAndNoListing) {
    test::ScratchDir dir;
    const std::string wrong = "not the password\n";
    test::writeFile(dir.file("wrong"), std::vector<std::uint8_t>(wrong.begin(), wrong.end()));
    for (const char* image : {"luks1-ext4", "luks2-ext4", "bitlocker-ntfs", "bitlocker-fat"}) {
        for (const char* option : {"--password-file", "--key-file"}) {
            const test::CliResult r = test::runCli({"list", fixture(std::string(image) + ".img"), option, dir.file("wrong")});
            EXPECT_EQ(r.status, cli::kExitWrongKey) << image << " " << r.err;
            EXPECT_TRUE(r.out.empty()) << image;
            EXPECT_NE(r.err.find("does not unlock the"), std::string::npos) << r.err;
        }
    }
}

TEST(EncryptedVolumes, ALockedVolumeNamesTheOptionsThatUnlockIt) {
    if (isatty(0) != 0) GTEST_SKIP() << "standard input is a terminal: the command would ask for the password";
    for (const char* image : {"luks2-ext4", "bitlocker-xts256-ntfs"}) {
        const test::CliResult r = test::runCli({"list", fixture(std::string(image) + ".img")});
        EXPECT_EQ(r.status, cli::kExitInput) << r.err;
        EXPECT_NE(r.err.find("is locked"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--password-file FILE"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--key-file FILE"), std::string::npos) << r.err;
    }
}

// libcryptsetup repairs a damaged LUKS 2 header copy in place when it is handed a path it can
// write: the image must never be that path.
TEST(EncryptedVolumes, ADamagedLuks2HeaderUnlocksFromItsOtherCopyWithoutChangingTheImage) {
    test::ScratchDir dir;
    for (const std::uint64_t damaged : {std::uint64_t{4096}, std::uint64_t{20480}}) {
        const std::string copy = dir.file("luks2-" + std::to_string(damaged) + ".img");
        std::filesystem::copy_file(fixture("luks2-ext4.img"), copy);
        {
            std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(static_cast<std::streamoff>(damaged));
            f.write("\xde\xad\xbe\xef", 4);
        }
        const std::string before = test::sha256File(copy);
        const test::CliResult r = test::runCli(with({"list", copy}, unlockArgs(dir, "luks2-ext4", "passphrase")));
        EXPECT_EQ(r.status, cli::kExitOk) << r.err;
        EXPECT_NE(r.out.find("Photos/beach.jpg"), std::string::npos);
        EXPECT_EQ(test::sha256File(copy), before) << "the image was written at " << damaged;
    }
}

TEST(EncryptedVolumes, ImageWritesTheUnlockedBytesIntoANewFileOnly) {
    test::ScratchDir dir;
    const auto unlock = unlockArgs(dir, "luks1-ext4", "passphrase");
    const test::CliResult r = test::runCli(with({"image", fixture("luks1-ext4.img"), "--out", dir.file("plain.img")}, unlock));
    ASSERT_EQ(r.status, cli::kExitOk) << r.err;
    // The unlocked image is a plain ext volume: it lists as the encrypted one did.
    const test::CliResult plain = test::runCli({"list", dir.file("plain.img")});
    const test::CliResult encrypted = test::runCli(with({"list", fixture("luks1-ext4.img")}, unlock));
    EXPECT_EQ(plain.status, cli::kExitOk) << plain.err;
    EXPECT_EQ(plain.out, encrypted.out);
    // An existing file is never overwritten.
    const std::string before = test::sha256File(dir.file("plain.img"));
    const test::CliResult again = test::runCli(with({"image", fixture("luks1-ext4.img"), "--out", dir.file("plain.img")}, unlock));
    EXPECT_EQ(again.status, cli::kExitInput) << again.err;
    EXPECT_EQ(test::sha256File(dir.file("plain.img")), before);
}

// The Windows-made volumes: each unlocks to the SHA-256 its README lists.
TEST(EncryptedVolumes, ImageOfEachWindowsBitLockerVolumeHasTheListedHash) {
    const std::string archive = test::sharedFixture("encrypted/bitlocker-windows.tar.xz");
    if (archive.empty()) GTEST_SKIP() << "the shared fixtures are not here";
    struct Windows {
        const char* image;
        const char* option;
        const char* secret;  // a password, or the name of the key file in the archive
        const char* sha256;
    };
    const Windows cases[] = {
        {"bitlk-aes-xts-128.img", "--password-file", "anaconda", "674e3a976927fd62f3fc26df2c695cac75b8d364e3b45393717efa971f16db0f"},
        {"bitlk-aes-cbc-128.img", "--password-file", "042647-302313-590458-071500-554323-116567-412181-516978",
         "04500a8120ba355ed206284e03e26e59b7e1f1832868e1d69bb47023ebd3460f"},
        {"bitlk-aes-cbc-elephant-128.img", "--password-file", "anaconda", "b18e4f956295bc0f327e551322261fb9c74ac0d3ce58bf3b806e98474e1619ea"},
        {"bitlk-togo-aes-xts-128.img", "--password-file", "243067-548680-059818-148852-287771-550088-628265-631653",
         "5954795eb41764b59a10d86c26fd3b43fb6d89f433c8edc1e8fd48067d198591"},
        {"bitlk-aes-xts-128-startup-key.img", "--key-file", "4381F759-C4F8-4DE0-BB61-FC33A831BDA5.BEK",
         "bbb68369d8f7badb2c2330349d9d0cf12e68f54eece25e718d2bb13feba23f7a"},
    };
    for (const Windows& w : cases) {
        test::ScratchDir dir;
        const std::string command = "tar -xJf '" + archive + "' -C '" + dir.path() + "' '" + w.image + "'" +
                                    (std::string(w.option) == "--key-file" ? std::string(" '") + w.secret + "'" : "");
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::string secretPath = dir.file(w.secret);
        if (std::string(w.option) == "--password-file") {
            secretPath = dir.file("password");
            const std::string text = std::string(w.secret) + "\n";
            test::writeFile(secretPath, std::vector<std::uint8_t>(text.begin(), text.end()));
        }
        const test::CliResult r = test::runCli({"image", dir.file(w.image), w.option, secretPath, "--out", dir.file("unlocked.img")});
        ASSERT_EQ(r.status, cli::kExitOk) << w.image << ": " << r.err;
        EXPECT_EQ(test::sha256File(dir.file("unlocked.img")), w.sha256) << w.image;
    }
}

}  // namespace
}  // namespace corvello
