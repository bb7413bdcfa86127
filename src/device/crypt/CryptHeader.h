#pragma once
// The volume key from libcryptsetup, handed a copy in memory of a header (never the medium):
// a LUKS header or a BitLocker boot sector and metadata at their offsets.

#include <cstdint>
#include <string>

#include "device/crypt/SecretBytes.h"

namespace corvello::platform {
class MemoryFile;
}

namespace corvello {

struct HeaderKey {
    int status = 0;  // 0, or the negative error code of libcryptsetup (-EPERM: no slot opens)
    bool loaded = false;  // the header was read
    SecretBytes key;
    std::string cipher;      // "aes"
    std::string mode;        // "xts-plain64", "cbc-essiv:sha256", "cbc-eboiv", "cbc-elephant"
    std::uint64_t dataOffset = 0;  // bytes
    std::uint64_t ivOffset = 0;    // 512-byte sectors
    std::uint32_t sectorSize = 512;
};

// Loads the header of type ("LUKS" any version, or "BITLK") from the copy and, when a passphrase
// is given (it may be empty for a header-only look), the volume key it opens.
HeaderKey keyFromHeaderCopy(const platform::MemoryFile& copy, const char* type, const SecretBytes* passphrase);

}  // namespace corvello
