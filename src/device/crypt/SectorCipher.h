#pragma once
// The data ciphers of encrypted volumes, one sector at a time, through OpenSSL: AES-XTS with the
// sector number as tweak (LUKS aes-xts-plain64, BitLocker 8 and later), AES-CBC with an ESSIV
// (LUKS aes-cbc-essiv:sha256), AES-CBC with the encrypted byte offset as IV (BitLocker without
// diffuser) and the same with the Elephant diffuser (BitLocker on Vista and 7).

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "device/crypt/SecretBytes.h"

namespace corvello {

enum class SectorCipherKind { AesXtsPlain64, AesCbcEssivSha256, AesCbcEboiv, AesCbcElephant };

class SectorCipher {
public:
    // key: XTS both halves (32 or 64 bytes); CBC 16 or 32 bytes; Elephant the data key then the
    // sector key, each 16 or 32 bytes. Null with a reason in error when the key does not fit.
    static std::unique_ptr<SectorCipher> make(SectorCipherKind kind, std::span<const std::uint8_t> key,
                                              std::string& error);
    ~SectorCipher();
    SectorCipher(const SectorCipher&) = delete;
    SectorCipher& operator=(const SectorCipher&) = delete;

    // Decrypts one unit of bytes (a multiple of 16, at least 16) in place; ivSector is the
    // 512-byte sector number the IV is made from. False when OpenSSL fails.
    bool decrypt(std::uint8_t* data, std::size_t bytes, std::uint64_t ivSector);

private:
    struct Contexts;
    explicit SectorCipher(SectorCipherKind kind);
    bool ecb(void* ctx, const std::uint8_t in[16], std::uint8_t out[16]);
    SectorCipherKind kind_;
    std::unique_ptr<Contexts> ctx_;
};

}  // namespace corvello
