#pragma once
// An unlocked volume read as a medium of its own: each read goes to the encrypted volume below
// and is decrypted in memory, never to a copy on disk. Where each stretch of the unlocked volume
// is stored (and which sector number makes its IV) is told by a layout: LUKS keeps its sectors
// after the header; BitLocker moves its first sectors elsewhere and keeps its metadata areas
// in place.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "device/VolumeView.h"
#include "device/crypt/SectorCipher.h"

namespace corvello {

// One stretch of the unlocked volume, from the offset asked for.
struct CryptExtent {
    enum class Kind { Cipher, Zero, Plain };
    Kind kind = Kind::Cipher;
    std::uint64_t length = 0;  // bytes from the offset asked for that this holds for
    std::uint64_t stored = 0;  // where the offset asked for is stored, from the volume's start
    std::uint64_t iv = 0;      // the byte offset whose 512-byte sector number makes the IV
};

// A layout of special regions over a default: stored where read, IV from the same offset.
class CryptLayout {
public:
    struct Region {
        std::uint64_t start = 0, end = 0;  // in the unlocked volume
        CryptExtent::Kind kind = CryptExtent::Kind::Zero;
        std::uint64_t storedStart = 0;  // for Cipher and Plain regions: where start is stored
        bool ivFromStored = true;       // Cipher: the IV counts the stored offset, else the logical one
    };
    // length: of the unlocked volume; dataOffset: where its byte 0 is stored; ivBase: added to
    // the logical offset for the IV of the default stretch.
    CryptLayout(std::uint64_t length, std::uint64_t dataOffset, std::uint64_t ivBase)
        : length_(length), dataOffset_(dataOffset), ivBase_(ivBase) {}
    // Regions are looked at in the order added; the first that holds an offset decides.
    void add(Region region);
    CryptExtent extentAt(std::uint64_t offset) const;
    std::uint64_t length() const { return length_; }

private:
    std::uint64_t length_;
    std::uint64_t dataOffset_;
    std::uint64_t ivBase_;
    std::vector<Region> regions_;
};

class DecryptedVolume : public ByteSource {
public:
    // The encrypted volume is the stretch of lower from byte start; unitBytes is the cipher's
    // sector (512 or 4096).
    DecryptedVolume(const ByteSource& lower, std::uint64_t start, CryptLayout layout,
                    std::unique_ptr<SectorCipher> cipher, std::uint32_t unitBytes);

    std::size_t readBytes(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;
    std::uint64_t sourceBytes() const override { return layout_.length(); }
    int lastError() const override { return error_ != 0 ? error_ : lower_.lastError(); }

private:
    std::size_t readCipher(const CryptExtent& e, std::uint64_t offset, std::span<std::uint8_t> out) const;
    const ByteSource& lower_;
    std::uint64_t start_;
    CryptLayout layout_;
    std::unique_ptr<SectorCipher> cipher_;
    std::uint32_t unit_;
    mutable std::mutex mutex_;  // one cipher context, one reader at a time
    mutable int error_ = 0;
};

}  // namespace corvello
