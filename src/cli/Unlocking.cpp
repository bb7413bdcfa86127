#include "cli/Unlocking.h"

#include <fstream>
#include <iterator>

#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "platform/HiddenInput.h"
#include "platform/SystemInfo.h"
#include "scan/Volumes.h"

namespace corvello::cli {

namespace {

// A key file larger than this is no key file (a .BEK file is 124 bytes; LUKS allows 8 MiB).
constexpr std::size_t kMaxKeyFileBytes = 8 * 1048576;

SecretBytes readSecretFile(const std::string& option, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError{"cannot read the " + option.substr(2) + " " + path + "."};
    std::string text;
    text.reserve(4096);
    char c = 0;
    while (in.get(c)) {
        if (text.size() >= kMaxKeyFileBytes) {
            std::fill(text.begin(), text.end(), '\0');
            throw InputError{path + " is too large for a key file (more than 8 MiB)."};
        }
        text.push_back(c);
    }
    SecretBytes bytes(text);
    std::fill(text.begin(), text.end(), '\0');
    return bytes;
}

// The first line of a password file, its line end left out.
UnlockSecret passwordSecret(SecretBytes bytes) {
    std::size_t n = 0;
    while (n < bytes.size() && bytes.data()[n] != '\n') ++n;
    while (n > 0 && bytes.data()[n - 1] == '\r') --n;
    UnlockSecret s;
    s.bytes = SecretBytes(bytes.first(n));
    const std::string_view text(reinterpret_cast<const char*>(s.bytes.data()), s.bytes.size());
    s.kind = isRecoveryPassword(text) ? UnlockSecret::Kind::RecoveryPassword : UnlockSecret::Kind::Password;
    return s;
}

std::string secretName(const UnlockSecret& s, EncryptionKind kind) {
    switch (s.kind) {
        case UnlockSecret::Kind::RecoveryPassword: return "recovery password";
        case UnlockSecret::Kind::KeyFile: return "key file";
        default: return kind == EncryptionKind::Luks ? "passphrase" : "password";
    }
}

std::string volumeName(const VolumeRecord& volume) {
    return toUtf8(volume.fileSystem) + " volume" +
           (volume.startSector > 0 ? format(" at sector %lld", static_cast<long long>(volume.startSector)) : std::string());
}

std::uint64_t volumeBytes(const OpenedImage& image, const VolumeRecord& volume) {
    const std::uint64_t medium = image.reader->sourceBytes();
    const auto start = static_cast<std::uint64_t>(volume.startSector) * 512;
    if (start >= medium) return 0;
    const std::uint64_t size = volume.sizeBytes() > 0 ? static_cast<std::uint64_t>(volume.sizeBytes()) : medium - start;
    return std::min(size, medium - start);
}

}  // namespace

UnlockSecret secretFromOptions(const Args& args) {
    const auto passwordFile = args.value("--password-file");
    const auto keyFile = args.value("--key-file");
    if (passwordFile && keyFile) throw UsageError{"give either --password-file or --key-file, not both."};
    if (passwordFile) return passwordSecret(readSecretFile("--password-file", *passwordFile));
    UnlockSecret s;
    if (keyFile) {
        s.kind = UnlockSecret::Kind::KeyFile;
        s.bytes = readSecretFile("--key-file", *keyFile);
    }
    return s;
}

VolumeRecord unlockIfEncrypted(OpenedImage& image, const VolumeRecord& volume, const Args& args) {
    const EncryptionKind kind = encryptionNamed(volume.fileSystem);
    if (kind == EncryptionKind::None) return volume;
    const std::uint64_t length = volumeBytes(image, volume);
    const std::uint64_t start = static_cast<std::uint64_t>(volume.startSector) * 512;
    UnlockSecret secret = secretFromOptions(args);
    UnlockResult result = unlockVolume(*image.reader, start, length, secret);
    if (result.status == UnlockStatus::NeedsSecret && platform::isTerminal(0)) {
        std::string typed;
        const std::string prompt = (kind == EncryptionKind::Luks ? "Passphrase for the " : "Password or recovery password for the ") +
                                   volumeName(volume) + ": ";
        if (platform::readHiddenLine(prompt, typed)) {
            secret = passwordSecret(SecretBytes(typed));
            std::fill(typed.begin(), typed.end(), '\0');
            result = unlockVolume(*image.reader, start, length, secret);
        }
    }
    const std::string protectors = result.protectors.empty() ? std::string() : " (its protectors: " + result.protectors + ")";
    switch (result.status) {
        case UnlockStatus::Unlocked: break;
        case UnlockStatus::NeedsSecret: {
            std::string message = "the " + volumeName(volume) + " is locked" + protectors +
                                  "; give its password or recovery password with --password-file FILE, or its key "
                                  "file with --key-file FILE.";
            if (result.protectors.find("TPM") != std::string::npos || result.protectors.find("smart card") != std::string::npos)
                message += " A TPM or smart card protector cannot be used here: give the recovery password instead.";
            throw InputError{message};
        }
        case UnlockStatus::WrongSecret: {
            std::string message = "the " + secretName(secret, kind) + " given does not unlock the " + volumeName(volume) + protectors + ".";
            if (kind == EncryptionKind::BitLocker && result.protectors.find("password") == std::string::npos)
                message += " It has no password protector that corvello can use; give the recovery password.";
            throw WrongKey{message};
        }
        default: throw InputError{"the " + volumeName(volume) + " cannot be unlocked: " + result.text + "."};
    }
    image.unlocked = std::move(result.volume);
    VolumeRecord inner = volumeAtStart(*image.unlocked);
    inner.locator = volume.locator;
    return inner;
}

std::string encryptionState(const ByteSource& medium, const VolumeRecord& volume, const UnlockSecret& secret) {
    const auto start = static_cast<std::uint64_t>(volume.startSector) * 512;
    const std::uint64_t size = medium.sourceBytes();
    if (start >= size) return "locked";
    const std::uint64_t length =
        std::min(volume.sizeBytes() > 0 ? static_cast<std::uint64_t>(volume.sizeBytes()) : size - start, size - start);
    const UnlockResult result = unlockVolume(medium, start, length, secret);
    if (result.status != UnlockStatus::Unlocked) return "locked";
    const std::u16string inner = volumeAtStart(*result.volume).fileSystem;
    return "unlocked" + (inner.empty() ? std::string() : " " + toUtf8(inner));
}

}  // namespace corvello::cli
