#include "device/crypt/SectorCipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace corvello {

void SecretBytes::wipe() {
    if (!bytes_.empty()) OPENSSL_cleanse(bytes_.data(), bytes_.size());
    bytes_.clear();
}

void SecretBytes::resize(std::size_t n) {
    // A larger buffer would leave a copy of the old bytes behind: wipe through a new holder.
    std::vector<std::uint8_t> bigger(n, 0);
    if (!bytes_.empty() && n > 0) std::memcpy(bigger.data(), bytes_.data(), std::min(n, bytes_.size()));
    wipe();
    bytes_ = std::move(bigger);
}

struct SectorCipher::Contexts {
    EVP_CIPHER_CTX* data = nullptr;  // XTS or CBC, key set once, IV per sector
    EVP_CIPHER_CTX* iv = nullptr;    // ECB for the ESSIV or the encrypted byte offset
    EVP_CIPHER_CTX* sector = nullptr;  // ECB with the Elephant sector key
    ~Contexts() {
        // Freeing a context wipes its key schedule.
        EVP_CIPHER_CTX_free(data);
        EVP_CIPHER_CTX_free(iv);
        EVP_CIPHER_CTX_free(sector);
    }
};

namespace {

const EVP_CIPHER* aesEcb(std::size_t keyBytes) { return keyBytes == 16 ? EVP_aes_128_ecb() : EVP_aes_256_ecb(); }

EVP_CIPHER_CTX* makeContext(const EVP_CIPHER* cipher, const std::uint8_t* key) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr) return nullptr;
    if (EVP_DecryptInit_ex(ctx, cipher, nullptr, key, nullptr) != 1 || EVP_CIPHER_CTX_set_padding(ctx, 0) != 1) {
        EVP_CIPHER_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

EVP_CIPHER_CTX* makeEncryptEcb(std::size_t keyBytes, const std::uint8_t* key) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr) return nullptr;
    if (EVP_EncryptInit_ex(ctx, aesEcb(keyBytes), nullptr, key, nullptr) != 1 || EVP_CIPHER_CTX_set_padding(ctx, 0) != 1) {
        EVP_CIPHER_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

void putLe64(std::uint8_t* out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t rotl(std::uint32_t v, unsigned n) { return n == 0 ? v : (v << n) | (v >> (32 - n)); }

// The Elephant diffusers, undone in the order reading needs: B (3 cycles), then A (5 cycles),
// on the sector as little-endian 32-bit words.
void undoDiffusers(std::uint32_t* d, std::size_t n) {
    static constexpr unsigned kRb[4] = {0, 10, 0, 25};
    static constexpr unsigned kRa[4] = {9, 0, 13, 0};
    for (int cycle = 0; cycle < 3; ++cycle)
        for (std::size_t i = 0; i < n; ++i) d[i] += d[(i + 2) % n] ^ rotl(d[(i + 5) % n], kRb[i % 4]);
    for (int cycle = 0; cycle < 5; ++cycle)
        for (std::size_t i = 0; i < n; ++i) d[i] += d[(i + n - 2) % n] ^ rotl(d[(i + n - 5) % n], kRa[i % 4]);
}

}  // namespace

SectorCipher::SectorCipher(SectorCipherKind kind) : kind_(kind), ctx_(std::make_unique<Contexts>()) {}
SectorCipher::~SectorCipher() = default;

std::unique_ptr<SectorCipher> SectorCipher::make(SectorCipherKind kind, std::span<const std::uint8_t> key,
                                                 std::string& error) {
    std::unique_ptr<SectorCipher> c(new SectorCipher(kind));
    const std::size_t n = key.size();
    switch (kind) {
        case SectorCipherKind::AesXtsPlain64:
            if (n != 32 && n != 64) break;
            c->ctx_->data = makeContext(n == 32 ? EVP_aes_128_xts() : EVP_aes_256_xts(), key.data());
            if (c->ctx_->data == nullptr) {
                // OpenSSL refuses an XTS key whose halves are equal.
                error = "the XTS key is not one OpenSSL accepts";
                return nullptr;
            }
            return c;
        case SectorCipherKind::AesCbcEssivSha256:
        case SectorCipherKind::AesCbcEboiv: {
            if (n != 16 && n != 32) break;
            c->ctx_->data = makeContext(n == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc(), key.data());
            if (kind == SectorCipherKind::AesCbcEboiv) {
                c->ctx_->iv = makeEncryptEcb(n, key.data());
            } else {
                std::array<std::uint8_t, 32> salt{};
                unsigned saltBytes = 0;
                if (EVP_Digest(key.data(), n, salt.data(), &saltBytes, EVP_sha256(), nullptr) == 1)
                    c->ctx_->iv = makeEncryptEcb(32, salt.data());
                OPENSSL_cleanse(salt.data(), salt.size());
            }
            if (c->ctx_->data == nullptr || c->ctx_->iv == nullptr) break;
            return c;
        }
        case SectorCipherKind::AesCbcElephant: {
            if (n != 32 && n != 64) break;
            const std::size_t half = n / 2;
            c->ctx_->data = makeContext(half == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc(), key.data());
            c->ctx_->iv = makeEncryptEcb(half, key.data());
            c->ctx_->sector = makeEncryptEcb(half, key.data() + half);
            if (c->ctx_->data == nullptr || c->ctx_->iv == nullptr || c->ctx_->sector == nullptr) break;
            return c;
        }
    }
    if (error.empty()) error = "the key (" + std::to_string(n * 8) + " bits) does not fit the cipher";
    return nullptr;
}

bool SectorCipher::ecb(void* ctx, const std::uint8_t in[16], std::uint8_t out[16]) {
    int len = 0;
    return EVP_EncryptUpdate(static_cast<EVP_CIPHER_CTX*>(ctx), out, &len, in, 16) == 1 && len == 16;
}

bool SectorCipher::decrypt(std::uint8_t* data, std::size_t bytes, std::uint64_t ivSector) {
    if (bytes < 16 || bytes % 16 != 0 || bytes > INT32_MAX) return false;
    std::array<std::uint8_t, 16> iv{};
    std::array<std::uint8_t, 16> plainIv{};
    switch (kind_) {
        case SectorCipherKind::AesXtsPlain64: putLe64(iv.data(), ivSector); break;
        case SectorCipherKind::AesCbcEssivSha256:
            putLe64(plainIv.data(), ivSector);
            if (!ecb(ctx_->iv, plainIv.data(), iv.data())) return false;
            break;
        case SectorCipherKind::AesCbcEboiv:
        case SectorCipherKind::AesCbcElephant:
            putLe64(plainIv.data(), ivSector * 512);
            if (!ecb(ctx_->iv, plainIv.data(), iv.data())) return false;
            break;
    }
    int len = 0;
    if (EVP_DecryptInit_ex(ctx_->data, nullptr, nullptr, nullptr, iv.data()) != 1 ||
        EVP_DecryptUpdate(ctx_->data, data, &len, data, static_cast<int>(bytes)) != 1 ||
        static_cast<std::size_t>(len) != bytes)
        return false;
    if (kind_ != SectorCipherKind::AesCbcElephant) return true;

    // Elephant: the diffusers, then the sector key (E(Ks, e) ‖ E(Ks, e with byte 15 = 0x80),
    // e the byte offset) XORed over every 32 bytes.
    std::array<std::uint32_t, 1024> words{};
    const std::size_t n = std::min<std::size_t>(bytes / 4, words.size());
    for (std::size_t i = 0; i < n; ++i)
        words[i] = static_cast<std::uint32_t>(data[4 * i]) | static_cast<std::uint32_t>(data[4 * i + 1]) << 8 |
                   static_cast<std::uint32_t>(data[4 * i + 2]) << 16 | static_cast<std::uint32_t>(data[4 * i + 3]) << 24;
    undoDiffusers(words.data(), n);
    std::array<std::uint8_t, 32> sectorKey{};
    if (!ecb(ctx_->sector, plainIv.data(), sectorKey.data())) return false;
    plainIv[15] = 0x80;
    if (!ecb(ctx_->sector, plainIv.data(), sectorKey.data() + 16)) return false;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t b = 0; b < 4; ++b)
            data[4 * i + b] = static_cast<std::uint8_t>(words[i] >> (8 * b)) ^ sectorKey[(4 * i + b) % 32];
    OPENSSL_cleanse(sectorKey.data(), sectorKey.size());
    return true;
}

}  // namespace corvello
