#pragma once
// Encrypted volumes: recognising BitLocker and LUKS by their first sector, and unlocking one
// with the user's secret into a DecryptedVolume. The key comes from libcryptsetup, which only
// ever sees a copy in memory of the volume's header and metadata (never the medium); the
// sectors are decrypted here, through OpenSSL.

#include <cstdint>
#include <memory>
#include <string>

#include "common/Bytes.h"
#include "device/VolumeView.h"
#include "device/crypt/SecretBytes.h"

namespace corvello {

enum class EncryptionKind { None, BitLocker, Luks };

// BitLocker: "-FVE-FS-" at byte 3 (Vista to 11), or the BitLocker GUID where Windows 7 and later
// (byte 160) or a To Go volume (byte 424) keep it. LUKS: "LUKS\xba\xbe", version 1 or 2.
EncryptionKind encryptionOf(ByteSpan firstSector);
// "BitLocker", "LUKS"; empty for None.
std::u16string encryptionName(EncryptionKind kind);
// The kind a volume-list name stands for ("BitLocker", "LUKS"), else None.
EncryptionKind encryptionNamed(std::u16string_view name);

struct UnlockSecret {
    enum class Kind { None, Password, RecoveryPassword, KeyFile };
    Kind kind = Kind::None;
    SecretBytes bytes;
};

// A BitLocker recovery password has 8 groups of 6 digits, joined by '-'.
bool isRecoveryPassword(std::string_view text);

enum class UnlockStatus {
    Unlocked,     // volume is the unlocked volume
    NeedsSecret,  // no secret was given and none is stored in the clear
    WrongSecret,  // the secret unlocks no protector of the volume
    Unsupported,  // a cipher or metadata version this program does not decrypt
    Damaged,      // the header or metadata cannot be read or make no sense
};

struct UnlockResult {
    UnlockStatus status = UnlockStatus::Damaged;
    std::unique_ptr<ByteSource> volume;
    // Unlocked: what was opened ("BitLocker, AES-XTS 128"); otherwise why not, as a clause.
    std::string text;
    // BitLocker: the protectors the volume has, as a list ("password, recovery password").
    std::string protectors;
};

// Unlocks the encrypted volume that is the stretch of medium from byte start, length bytes
// long. The secret is used as given; a volume whose key is stored in the clear opens without one.
UnlockResult unlockVolume(const ByteSource& medium, std::uint64_t start, std::uint64_t length,
                          const UnlockSecret& secret);

}  // namespace corvello
