#pragma once
// BitLocker's own metadata, read here for what libcryptsetup does not give: where the volume's
// first sectors were moved, which areas are metadata, how much of the volume is encrypted, the
// protectors, and a key stored in the clear (protection suspended).

#include <cstdint>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "device/crypt/SecretBytes.h"

namespace corvello {

inline constexpr std::uint64_t kBitLockerMetadataBytes = 65536;

// The three metadata offsets a BitLocker boot sector names (Windows 7 and later, To Go), or
// none (Vista, which keeps one at a cluster number, or no BitLocker boot sector).
std::vector<std::uint64_t> bitLockerMetadataOffsets(ByteSpan bootSector);

struct BitLockerMetadata {
    int version = 0;
    std::uint16_t method = 0;                // 0x8000..0x8005
    std::uint64_t encryptedBytes = 0;        // the volume is encrypted up to here
    std::uint64_t headerOffset = 0;          // where the volume's first sectors are kept
    std::uint64_t headerBytes = 0;           // how many bytes of them
    std::vector<std::uint16_t> protections;  // of each volume master key
    bool clearKey = false;
    SecretBytes fvek;  // from the clear key, when there is one (empty otherwise)
};

// Parses one 64 KiB metadata block; false when it is none or damaged.
bool parseBitLockerMetadata(ByteSpan block, BitLockerMetadata& meta);

// The protectors as a list for people ("password, recovery password, TPM").
std::string bitLockerProtectorText(const std::vector<std::uint16_t>& protections);

// The cipher mode of a method ("xts-plain64", "cbc-eboiv", "cbc-elephant") and its key bits.
std::string bitLockerMode(std::uint16_t method);
int bitLockerKeyBits(std::uint16_t method);

}  // namespace corvello
