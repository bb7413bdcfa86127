#include "device/crypt/Unlock.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

#include "common/DisplayFormat.h"
#include "device/crypt/BitLockerMetadata.h"
#include "device/crypt/CryptHeader.h"
#include "device/crypt/DecryptedVolume.h"
#include "platform/MemoryFile.h"

namespace corvello {

namespace {

constexpr std::uint64_t kMiB = 1048576;
// The most of a LUKS header copied into memory: LUKS 2 allows 128 MiB of key slots, plus its
// two metadata copies of up to 4 MiB each.
constexpr std::uint64_t kMaxHeaderBytes = 136 * kMiB;
// Where LUKS 2 keeps its two metadata copies (each at most 4 MiB).
constexpr std::uint64_t kLuks2MetadataBytes = 8 * kMiB;

UnlockResult failed(UnlockStatus status, std::string text) {
    UnlockResult r;
    r.status = status;
    r.text = std::move(text);
    return r;
}

// Copies the stretch [from, from + count) of the volume into the memory file at the same offset.
bool copyInto(platform::MemoryFile& file, const ByteSource& medium, std::uint64_t start, std::uint64_t from,
              std::uint64_t count) {
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::uint64_t>(count, kMiB)));
    for (std::uint64_t done = 0; done < count;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), count - done));
        if (medium.readBytes(start + from + done, std::span(buf.data(), n)) != n) return false;
        if (!file.write(from + done, std::span<const std::uint8_t>(buf.data(), n))) return false;
        done += n;
    }
    return true;
}

std::string readError(const char* what) { return std::string("its ") + what + " cannot be read"; }

UnlockResult wrongOrDamaged(const HeaderKey& key, const char* what) {
    if (!key.loaded) return failed(UnlockStatus::Damaged, std::string("its ") + what + " is damaged");
    // libcryptsetup tells a secret that opens nothing by EPERM or ENOENT, and, for a BitLocker
    // master key that the secret does not decrypt, by EINVAL (the header itself was read).
    if (key.status == -EPERM || key.status == -ENOENT || key.status == -EINVAL)
        return failed(UnlockStatus::WrongSecret, "the key given opens none of its key slots");
    return failed(UnlockStatus::Damaged, std::string("its key slots cannot be read (") + what + ")");
}

UnlockResult unlockLuks(const ByteSource& medium, std::uint64_t start, std::uint64_t length, ByteSpan first,
                        const UnlockSecret& secret) {
    const std::uint16_t version = be16(first, 6);
    if (secret.kind == UnlockSecret::Kind::None) return failed(UnlockStatus::NeedsSecret, "it is locked");

    // The header area: LUKS 1 says where its sectors start; LUKS 2 tells it in its metadata,
    // which libcryptsetup reads first from a copy of the two metadata areas.
    std::uint64_t headerBytes = 0;
    if (version == 1) {
        headerBytes = static_cast<std::uint64_t>(be32(first, 104)) * 512;
    } else {
        platform::MemoryFile meta;
        const std::uint64_t n = std::min(length, kLuks2MetadataBytes);
        if (!meta.create(length) || !copyInto(meta, medium, start, 0, n))
            return failed(UnlockStatus::Damaged, readError("header"));
        const HeaderKey look = keyFromHeaderCopy(meta, "LUKS", nullptr);
        if (!look.loaded) return failed(UnlockStatus::Damaged, "its header is damaged");
        headerBytes = look.dataOffset;
    }
    if (headerBytes == 0 || headerBytes >= length || headerBytes > kMaxHeaderBytes)
        return failed(UnlockStatus::Damaged, "its header names no data area inside the volume");

    platform::MemoryFile copy;
    if (!copy.create(length) || !copyInto(copy, medium, start, 0, headerBytes))
        return failed(UnlockStatus::Damaged, readError("header"));
    const HeaderKey key = keyFromHeaderCopy(copy, "LUKS", &secret.bytes);
    if (key.status < 0) return wrongOrDamaged(key, "header");

    SectorCipherKind kind;
    if (key.cipher == "aes" && key.mode == "xts-plain64")
        kind = SectorCipherKind::AesXtsPlain64;
    else if (key.cipher == "aes" && key.mode == "cbc-essiv:sha256")
        kind = SectorCipherKind::AesCbcEssivSha256;
    else
        return failed(UnlockStatus::Unsupported, "its cipher " + key.cipher + "-" + key.mode +
                                                     " is not one corvello decrypts (aes-xts-plain64, aes-cbc-essiv:sha256)");
    const std::uint32_t unit = key.sectorSize;
    if (unit < 512 || unit > 4096 || (unit & (unit - 1)) != 0 || key.dataOffset >= length)
        return failed(UnlockStatus::Damaged, "its header names a sector size or data offset that does not fit");
    std::string error;
    auto cipher = SectorCipher::make(kind, key.key.span(), error);
    if (!cipher) return failed(UnlockStatus::Unsupported, error);
    const std::uint64_t bytes = (length - key.dataOffset) / unit * unit;
    if (key.ivOffset > UINT64_MAX / 512) return failed(UnlockStatus::Damaged, "its IV offset does not fit");
    UnlockResult r;
    r.status = UnlockStatus::Unlocked;
    r.volume = std::make_unique<DecryptedVolume>(medium, start, CryptLayout(bytes, key.dataOffset, key.ivOffset * 512),
                                                 std::move(cipher), unit);
    r.text = format("LUKS %d, %s-%s %zu-bit", static_cast<int>(version), key.cipher.c_str(), key.mode.c_str(),
                    key.key.size() * 8);
    return r;
}

UnlockResult unlockBitLocker(const ByteSource& medium, std::uint64_t start, std::uint64_t length, ByteSpan boot,
                             const UnlockSecret& secret) {
    const std::vector<std::uint64_t> offsets = bitLockerMetadataOffsets(boot);
    if (offsets.empty())
        return failed(UnlockStatus::Unsupported, "it is a Windows Vista BitLocker volume, which corvello does not decrypt");
    BitLockerMetadata meta;
    bool found = false;
    std::vector<std::uint8_t> block(kBitLockerMetadataBytes);
    for (std::uint64_t at : offsets) {
        if (at == 0 || at > length || kBitLockerMetadataBytes > length - at) continue;
        if (medium.readBytes(start + at, block) != block.size()) continue;
        BitLockerMetadata m;
        if (parseBitLockerMetadata(ByteSpan(block), m)) {
            meta = std::move(m);
            found = true;
            break;
        }
    }
    if (!found) return failed(UnlockStatus::Damaged, "none of its three metadata copies can be read");
    if (meta.version != 2)
        return failed(UnlockStatus::Unsupported, "its metadata (version 1, Windows Vista) is not read by corvello");
    const std::string mode = bitLockerMode(meta.method);
    if (mode.empty()) return failed(UnlockStatus::Unsupported, format("its encryption method 0x%04x is unknown", meta.method));
    if (meta.headerBytes == 0 || meta.headerBytes > length || meta.headerOffset > length - meta.headerBytes ||
        meta.headerBytes % 512 != 0 || meta.headerOffset % 512 != 0)
        return failed(UnlockStatus::Damaged, "its metadata place the volume's first sectors outside it");
    const std::string protectors = bitLockerProtectorText(meta.protections);

    SecretBytes key;
    if (secret.kind == UnlockSecret::Kind::None) {
        if (!meta.clearKey) {
            UnlockResult r = failed(UnlockStatus::NeedsSecret, "it is locked");
            r.protectors = protectors;
            return r;
        }
        key = meta.fvek;
    } else {
        // libcryptsetup reads a sparse copy in memory: the boot sector and the three metadata blocks.
        platform::MemoryFile copy;
        bool ok = copy.create(length) && copyInto(copy, medium, start, 0, 512);
        for (std::uint64_t at : offsets)
            if (ok && at > 0 && at <= length && kBitLockerMetadataBytes <= length - at)
                ok = copyInto(copy, medium, start, at, kBitLockerMetadataBytes);
        if (!ok) return failed(UnlockStatus::Damaged, readError("metadata"));
        const HeaderKey got = keyFromHeaderCopy(copy, "BITLK", &secret.bytes);
        if (got.status < 0) {
            UnlockResult r = wrongOrDamaged(got, "metadata");
            if (r.status == UnlockStatus::WrongSecret) r.text = "the key given opens none of its protectors";
            r.protectors = protectors;
            return r;
        }
        key = got.key;
    }
    const SectorCipherKind kind = mode == "xts-plain64"   ? SectorCipherKind::AesXtsPlain64
                                  : mode == "cbc-eboiv" ? SectorCipherKind::AesCbcEboiv
                                                        : SectorCipherKind::AesCbcElephant;
    std::string error;
    auto cipher = SectorCipher::make(kind, key.span(), error);
    if (!cipher) return failed(UnlockStatus::Unsupported, error);

    // The volume's first sectors are read from where they were moved (decrypted as the sectors
    // they are stored in); the metadata areas and the moved sectors' own place read as zeros;
    // what lies past the encrypted part is read as it is.
    const std::uint64_t bytes = length / 512 * 512;
    CryptLayout layout(bytes, 0, 0);
    layout.add({0, meta.headerBytes, CryptExtent::Kind::Cipher, meta.headerOffset, true});
    layout.add({meta.headerOffset, meta.headerOffset + meta.headerBytes, CryptExtent::Kind::Zero, 0, true});
    for (std::uint64_t at : offsets)
        if (at <= bytes) layout.add({at, std::min(bytes, at + kBitLockerMetadataBytes), CryptExtent::Kind::Zero, 0, true});
    if (meta.encryptedBytes > 0 && meta.encryptedBytes < bytes)
        layout.add({meta.encryptedBytes, bytes, CryptExtent::Kind::Plain, meta.encryptedBytes, true});
    UnlockResult r;
    r.status = UnlockStatus::Unlocked;
    r.volume = std::make_unique<DecryptedVolume>(medium, start, std::move(layout), std::move(cipher), 512);
    r.text = format("BitLocker, AES-%s %d-bit%s", mode == "xts-plain64" ? "XTS" : mode == "cbc-eboiv" ? "CBC" : "CBC with diffuser",
                    mode == "cbc-elephant" ? bitLockerKeyBits(meta.method) / 2 : bitLockerKeyBits(meta.method) / (mode == "xts-plain64" ? 2 : 1),
                    secret.kind == UnlockSecret::Kind::None ? ", key stored in the clear" : "");
    r.protectors = protectors;
    return r;
}

}  // namespace

EncryptionKind encryptionOf(ByteSpan s) {
    if (hasBytes(s, 0, "LUKS\xba\xbe") && (be16(s, 6) == 1 || be16(s, 6) == 2)) return EncryptionKind::Luks;
    if (hasBytes(s, 3, "-FVE-FS-") || !bitLockerMetadataOffsets(s).empty()) return EncryptionKind::BitLocker;
    return EncryptionKind::None;
}

std::u16string encryptionName(EncryptionKind kind) {
    switch (kind) {
        case EncryptionKind::BitLocker: return u"BitLocker";
        case EncryptionKind::Luks: return u"LUKS";
        default: return {};
    }
}

EncryptionKind encryptionNamed(std::u16string_view name) {
    if (name == u"BitLocker") return EncryptionKind::BitLocker;
    if (name == u"LUKS") return EncryptionKind::Luks;
    return EncryptionKind::None;
}

bool isRecoveryPassword(std::string_view text) {
    if (text.size() != 8 * 6 + 7) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i % 7 == 6;
        if (dash ? text[i] != '-' : (text[i] < '0' || text[i] > '9')) return false;
    }
    return true;
}

UnlockResult unlockVolume(const ByteSource& medium, std::uint64_t start, std::uint64_t length, const UnlockSecret& secret) {
    std::array<std::uint8_t, 512> first{};
    if (length < 4096 || start > UINT64_MAX - length || medium.readBytes(start, first) != first.size())
        return failed(UnlockStatus::Damaged, readError("first sector"));
    switch (encryptionOf(ByteSpan(first))) {
        case EncryptionKind::Luks: return unlockLuks(medium, start, length, ByteSpan(first), secret);
        case EncryptionKind::BitLocker: return unlockBitLocker(medium, start, length, ByteSpan(first), secret);
        default: return failed(UnlockStatus::Damaged, "it is neither BitLocker nor LUKS");
    }
}

}  // namespace corvello
