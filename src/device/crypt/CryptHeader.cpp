#include "device/crypt/CryptHeader.h"

#include <libcryptsetup.h>

#include <cerrno>

#include "platform/MemoryFile.h"

namespace corvello {

namespace {

// libcryptsetup's messages would go to stderr: keep them (and anything near a secret) out.
void quiet(int /*level*/, const char* /*message*/, void* /*usrptr*/) {}

}  // namespace

HeaderKey keyFromHeaderCopy(const platform::MemoryFile& copy, const char* type, const SecretBytes* passphrase) {
    HeaderKey result;
    crypt_set_log_callback(nullptr, quiet, nullptr);
    crypt_set_debug_level(CRYPT_DEBUG_NONE);
    struct crypt_device* cd = nullptr;
    const std::string path = copy.path();
    if (path.empty() || crypt_init(&cd, path.c_str()) < 0) {
        result.status = -EIO;
        return result;
    }
    crypt_set_log_callback(cd, quiet, nullptr);
    const char* loadType = std::string(type) == "BITLK" ? CRYPT_BITLK : CRYPT_LUKS;
    result.status = crypt_load(cd, loadType, nullptr);
    if (result.status >= 0) {
        result.loaded = true;
        if (const char* c = crypt_get_cipher(cd)) result.cipher = c;
        if (const char* m = crypt_get_cipher_mode(cd)) result.mode = m;
        result.dataOffset = crypt_get_data_offset(cd) * 512;
        result.ivOffset = crypt_get_iv_offset(cd);
        const int sector = crypt_get_sector_size(cd);
        result.sectorSize = sector > 0 ? static_cast<std::uint32_t>(sector) : 512;
        if (passphrase != nullptr) {
            const int keyBytes = crypt_get_volume_key_size(cd);
            if (keyBytes <= 0 || keyBytes > 512) {
                result.status = -EINVAL;
            } else {
                result.key.resize(static_cast<std::size_t>(keyBytes));
                std::size_t size = result.key.size();
                const int slot = crypt_volume_key_get(cd, CRYPT_ANY_SLOT, reinterpret_cast<char*>(result.key.data()), &size,
                                                      reinterpret_cast<const char*>(passphrase->data()), passphrase->size());
                if (slot < 0 || size > result.key.size()) {
                    result.key.wipe();
                    result.status = slot < 0 ? slot : -EINVAL;
                } else {
                    result.key.resize(size);
                    result.status = 0;
                }
            }
        }
    }
    crypt_free(cd);
    return result;
}

}  // namespace corvello
