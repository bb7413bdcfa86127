#include "device/crypt/DecryptedVolume.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace corvello {

void CryptLayout::add(Region region) {
    region.end = std::min(region.end, length_);
    if (region.start < region.end) regions_.push_back(region);
}

CryptExtent CryptLayout::extentAt(std::uint64_t offset) const {
    CryptExtent e;
    if (offset >= length_) return e;
    std::uint64_t end = length_;
    for (const Region& r : regions_) {
        if (offset >= r.start && offset < r.end) {
            e.kind = r.kind;
            e.length = r.end - offset;
            e.stored = r.storedStart + (offset - r.start);
            e.iv = r.ivFromStored ? e.stored : offset;
            return e;
        }
        if (r.start > offset) end = std::min(end, r.start);
    }
    e.kind = CryptExtent::Kind::Cipher;
    e.length = end - offset;
    e.stored = dataOffset_ + offset;
    e.iv = ivBase_ + offset;
    return e;
}

DecryptedVolume::DecryptedVolume(const ByteSource& lower, std::uint64_t start, CryptLayout layout,
                                 std::unique_ptr<SectorCipher> cipher, std::uint32_t unitBytes)
    : lower_(lower), start_(start), layout_(std::move(layout)), cipher_(std::move(cipher)), unit_(unitBytes) {}

std::size_t DecryptedVolume::readBytes(std::uint64_t offset, std::span<std::uint8_t> buffer) const {
    if (offset >= layout_.length()) return 0;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), layout_.length() - offset));
    std::size_t done = 0;
    while (done < want) {
        const std::uint64_t at = offset + done;
        const CryptExtent e = layout_.extentAt(at);
        if (e.length == 0) break;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(e.length, want - done));
        const std::span<std::uint8_t> out = buffer.subspan(done, n);
        std::size_t got = 0;
        switch (e.kind) {
            case CryptExtent::Kind::Zero:
                std::fill(out.begin(), out.end(), std::uint8_t{0});
                got = n;
                break;
            case CryptExtent::Kind::Plain:
                got = e.stored > UINT64_MAX - start_ ? 0 : lower_.readBytes(start_ + e.stored, out);
                break;
            case CryptExtent::Kind::Cipher: got = readCipher(e, at, out); break;
        }
        done += got;
        if (got < n) break;
    }
    return done;
}

std::size_t DecryptedVolume::readCipher(const CryptExtent& e, std::uint64_t offset, std::span<std::uint8_t> out) const {
    // Whole units around the bytes asked for, read and decrypted a chunk at a time.
    constexpr std::size_t kChunk = 1 << 20;
    const std::uint64_t head = offset % unit_;
    if (e.stored < head || e.iv < head) return 0;
    const std::uint64_t storedUnit = e.stored - head;
    const std::uint64_t ivUnit = e.iv - head;
    const std::uint64_t span = head + out.size();
    const std::uint64_t units = (span + unit_ - 1) / unit_;
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(units * unit_, kChunk)));
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t delivered = 0;
    for (std::uint64_t u = 0; u < units;) {
        const std::uint64_t take = std::min<std::uint64_t>(units - u, chunk.size() / unit_);
        const std::uint64_t from = storedUnit + u * unit_;
        if (from > UINT64_MAX - start_) return delivered;
        const std::size_t bytes = static_cast<std::size_t>(take * unit_);
        const std::size_t got = lower_.readBytes(start_ + from, std::span(chunk.data(), bytes));
        const std::size_t whole = got / unit_;
        for (std::size_t k = 0; k < whole; ++k) {
            if (!cipher_->decrypt(chunk.data() + k * unit_, unit_, (ivUnit + (u + k) * unit_) / 512)) {
                error_ = EIO;
                return delivered;
            }
        }
        // The part of these units that was asked for.
        const std::uint64_t unitsStart = u * unit_;
        const std::uint64_t copyFrom = std::max<std::uint64_t>(unitsStart, head);
        const std::uint64_t copyTo = std::min<std::uint64_t>(unitsStart + whole * unit_, span);
        if (copyTo > copyFrom) {
            std::memcpy(out.data() + (copyFrom - head), chunk.data() + (copyFrom - unitsStart),
                        static_cast<std::size_t>(copyTo - copyFrom));
            delivered += static_cast<std::size_t>(copyTo - copyFrom);
        }
        if (whole < take) return delivered;
        u += take;
    }
    return delivered;
}

}  // namespace corvello
