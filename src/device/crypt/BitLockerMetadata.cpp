#include "device/crypt/BitLockerMetadata.h"

#include <openssl/evp.h>

#include <array>

namespace corvello {

namespace {

constexpr std::array<std::uint8_t, 16> kBitLockerGuid = {0x3b, 0xd6, 0x67, 0x49, 0x29, 0x2e, 0xd8, 0x4a,
                                                         0x83, 0x99, 0xf6, 0xa3, 0x39, 0xe3, 0xd0, 0x01};

bool guidAt(ByteSpan b, std::size_t off) {
    return fits(b, off, 16) && std::equal(kBitLockerGuid.begin(), kBitLockerGuid.end(), b.begin() + static_cast<std::ptrdiff_t>(off));
}

// One metadata entry: its size, entry type and value type, and its bytes.
struct Datum {
    std::uint16_t entryType = 0, valueType = 0;
    ByteSpan bytes;  // the whole entry, header included
};

// The entries between from and to; stops at the first whose size does not fit.
std::vector<Datum> datums(ByteSpan b, std::size_t from, std::size_t to) {
    std::vector<Datum> out;
    to = std::min(to, b.size());
    while (from + 8 <= to) {
        const std::size_t size = le16(b, from);
        if (size < 8 || size > to - from) break;
        out.push_back(Datum{le16(b, from + 2), le16(b, from + 4), b.subspan(from, size)});
        from += size;
        if (out.size() > 1024) break;
    }
    return out;
}

// AES-CCM as BitLocker seals its keys: nonce (12 bytes: a time and a counter), then a 16-byte tag,
// then the sealed bytes. The opened bytes are a key entry.
bool openSealed(ByteSpan sealed, std::span<const std::uint8_t> key, SecretBytes& out) {
    if (sealed.size() < 8 + 12 + 16 + 8 || (key.size() != 32 && key.size() != 16)) return false;
    const ByteSpan nonce = sealed.subspan(8, 12);
    const ByteSpan tag = sealed.subspan(20, 16);
    const ByteSpan data = sealed.subspan(36);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr) return false;
    out.resize(data.size());
    int len = 0;
    std::array<std::uint8_t, 16> tagCopy{};
    std::copy(tag.begin(), tag.end(), tagCopy.begin());
    const bool ok =
        EVP_DecryptInit_ex(ctx, key.size() == 32 ? EVP_aes_256_ccm() : EVP_aes_128_ccm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_CCM_SET_IVLEN, 12, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_CCM_SET_TAG, 16, tagCopy.data()) == 1 &&
        EVP_DecryptInit_ex(ctx, nullptr, nullptr, key.data(), nonce.data()) == 1 &&
        EVP_DecryptUpdate(ctx, out.data(), &len, data.data(), static_cast<int>(data.size())) == 1 &&
        static_cast<std::size_t>(len) == data.size();
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) out.wipe();
    return ok;
}

// The key bytes of a key entry (value type 1): method (4 bytes), then the key.
bool keyOfEntry(ByteSpan entry, SecretBytes& key) {
    if (entry.size() < 12 || le16(entry, 4) != 1) return false;
    const std::size_t size = std::min<std::size_t>(le16(entry, 0), entry.size());
    if (size <= 12) return false;
    key = SecretBytes(entry.subspan(12, size - 12));
    return true;
}

// The full-volume key as the data cipher takes it, from the FVEK entry's key: XTS both halves,
// CBC the key, Elephant the data key and the sector key (kept 32 bytes apart).
bool fvekForCipher(const SecretBytes& raw, std::uint16_t method, SecretBytes& out) {
    const std::size_t bits = static_cast<std::size_t>(bitLockerKeyBits(method));
    if (bits == 0) return false;
    const std::size_t n = bits / 8;
    if (method == 0x8000 || method == 0x8001) {
        const std::size_t half = n / 2;
        if (raw.size() < 32 + half) return false;
        std::vector<std::uint8_t> joined(raw.data(), raw.data() + half);
        joined.insert(joined.end(), raw.data() + 32, raw.data() + 32 + half);
        out = SecretBytes(joined);
        std::fill(joined.begin(), joined.end(), std::uint8_t{0});
        return true;
    }
    if (raw.size() < n) return false;
    out = SecretBytes(raw.first(n));
    return true;
}

}  // namespace

std::vector<std::uint64_t> bitLockerMetadataOffsets(ByteSpan boot) {
    std::size_t at = 0;
    if (hasBytes(boot, 3, "-FVE-FS-") && guidAt(boot, 160))
        at = 176;
    else if (guidAt(boot, 424))
        at = 440;
    else
        return {};
    return {le64(boot, at), le64(boot, at + 8), le64(boot, at + 16)};
}

bool parseBitLockerMetadata(ByteSpan block, BitLockerMetadata& meta) {
    if (block.size() < 112 || !hasBytes(block, 0, "-FVE-FS-")) return false;
    meta.version = le16(block, 10);
    if (meta.version != 2) return meta.version == 1;  // Vista's: recognised, not parsed
    meta.encryptedBytes = le64(block, 16);
    meta.headerOffset = le64(block, 56);
    meta.headerBytes = static_cast<std::uint64_t>(le32(block, 28)) * 512;
    const std::size_t metadataBytes = le32(block, 64);
    if (metadataBytes < 48 || metadataBytes > block.size() - 64) return false;
    meta.method = le16(block, 100);
    const std::vector<Datum> entries = datums(block, 112, 64 + metadataBytes);
    const ByteSpan* fvekEntry = nullptr;
    SecretBytes vmk;
    for (const Datum& d : entries) {
        if (d.entryType == 0x000f && d.valueType == 0x000f && d.bytes.size() >= 24) {
            meta.headerOffset = le64(d.bytes, 8);
            meta.headerBytes = le64(d.bytes, 16);
        } else if (d.entryType == 0x0003 && d.valueType == 0x0005) {
            fvekEntry = &d.bytes;
        } else if (d.entryType == 0x0002 && d.valueType == 0x0008 && d.bytes.size() >= 36) {
            const std::uint16_t protection = le16(d.bytes, 34);
            meta.protections.push_back(protection);
            if (protection != 0x0000 || !vmk.empty()) continue;
            // Protection suspended: the key that opens this master key lies beside it.
            SecretBytes clear;
            ByteSpan sealed;
            for (const Datum& inner : datums(d.bytes, 36, d.bytes.size())) {
                if (inner.valueType == 0x0001) keyOfEntry(inner.bytes, clear);
                if (inner.valueType == 0x0005) sealed = inner.bytes;
            }
            SecretBytes opened;
            if (!clear.empty() && !sealed.empty() && openSealed(sealed, clear.span(), opened))
                keyOfEntry(opened.span(), vmk);
        }
    }
    if (!vmk.empty() && fvekEntry != nullptr) {
        SecretBytes opened, raw;
        if (openSealed(*fvekEntry, vmk.span(), opened) && keyOfEntry(opened.span(), raw) &&
            fvekForCipher(raw, meta.method, meta.fvek))
            meta.clearKey = true;
    }
    return true;
}

std::string bitLockerProtectorText(const std::vector<std::uint16_t>& protections) {
    std::string text;
    for (std::uint16_t p : protections) {
        const char* name = nullptr;
        switch (p) {
            case 0x0000: name = "key stored in the clear"; break;
            case 0x0100: name = "TPM"; break;
            case 0x0200: name = "startup key"; break;
            case 0x0500: name = "TPM and PIN"; break;
            case 0x0800: name = "recovery password"; break;
            case 0x1000: name = "smart card"; break;
            case 0x2000: name = "password"; break;
            default: name = "unknown protector"; break;
        }
        if (text.find(name) != std::string::npos) continue;
        if (!text.empty()) text += ", ";
        text += name;
    }
    return text;
}

std::string bitLockerMode(std::uint16_t method) {
    switch (method) {
        case 0x8000: case 0x8001: return "cbc-elephant";
        case 0x8002: case 0x8003: return "cbc-eboiv";
        case 0x8004: case 0x8005: return "xts-plain64";
        default: return {};
    }
}

int bitLockerKeyBits(std::uint16_t method) {
    switch (method) {
        case 0x8000: return 256;  // 128-bit data key and 128-bit sector key
        case 0x8001: return 512;
        case 0x8002: return 128;
        case 0x8003: return 256;
        case 0x8004: return 256;  // XTS: two 128-bit keys
        case 0x8005: return 512;
        default: return 0;
    }
}

}  // namespace corvello
