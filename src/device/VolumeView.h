#pragma once
// Reads by offset. A ByteSource is a medium addressed from its first byte (the sector reader on
// an image or device, or bytes held in memory); a VolumeView is the stretch of a source one
// volume occupies, addressed from the volume's first byte. Parsers read through a view: no
// shared position, no base offset to set, and every read checked against the stretch.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

namespace corvello {

class ByteSource {
public:
    ByteSource() = default;
    virtual ~ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // Copies up to buffer.size() bytes from the absolute byte offset into buffer and returns
    // how many arrived (fewer at the end of the medium or after a read error). Bytes past
    // those delivered are left as they were.
    virtual std::size_t readBytes(std::uint64_t offset, std::span<std::uint8_t> buffer) const = 0;
    // The medium's length in bytes.
    virtual std::uint64_t sourceBytes() const = 0;
    // The operating system's error code of the last read that failed; 0 where the medium tells
    // none.
    virtual int lastError() const { return 0; }
    // The bytes from offset, count long, where the medium holds them in memory already; else
    // null (they are then read into a buffer).
    virtual const std::uint8_t* bytesInPlace(std::uint64_t /*offset*/, std::size_t /*count*/) const { return nullptr; }

    // Bytes asked for since the medium was opened that it did not deliver (past its end, or
    // after a read error); the save walk reports files whose reads came up short.
    std::uint64_t unreadBytes() const { return unread_.load(std::memory_order_relaxed); }
    void countUnread(std::uint64_t bytes) const { unread_.fetch_add(bytes, std::memory_order_relaxed); }

protected:
    void resetUnread() { unread_.store(0, std::memory_order_relaxed); }

private:
    mutable std::atomic<std::uint64_t> unread_{0};
};

// Bytes in memory read as a medium. It reads the caller's bytes in place; they must stay where
// they are while it is used.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t readBytes(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;
    std::uint64_t sourceBytes() const override { return bytes_.size(); }
    const std::uint8_t* bytesInPlace(std::uint64_t offset, std::size_t count) const override;

private:
    std::span<const std::uint8_t> bytes_;
};

class VolumeView {
public:
    VolumeView() = default;
    // The stretch of source from byte start, length bytes long (cut at the medium's end).
    VolumeView(const ByteSource* source, std::uint64_t start, std::uint64_t length);
    // From byte start to the medium's end.
    static VolumeView toEnd(const ByteSource* source, std::uint64_t start);

    // Reads up to buffer.size() bytes from offset (counted from the volume's first byte):
    // returns how many arrived. The rest of buffer is zero. Nothing before the volume's start
    // or past its length is read; bytes asked for and not delivered count as unread on the
    // source.
    std::size_t readAt(std::uint64_t offset, std::span<std::uint8_t> buffer) const;
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count) const {
        return readAt(offset, std::span<std::uint8_t>(static_cast<std::uint8_t*>(buffer), count));
    }
    // The bytes from offset, count long, without a copy where the medium holds them in memory
    // (all inside the volume); else null.
    const std::uint8_t* bytesInPlace(std::uint64_t offset, std::size_t count) const;
    // Whether all of buffer arrived.
    bool readFull(std::uint64_t offset, std::span<std::uint8_t> buffer) const {
        return readAt(offset, buffer) == buffer.size();
    }
    bool readFull(std::uint64_t offset, void* buffer, std::size_t count) const {
        return readAt(offset, buffer, count) == count;
    }

    bool valid() const { return source_ != nullptr; }
    const ByteSource* source() const { return source_; }
    std::uint64_t start() const { return start_; }
    std::uint64_t length() const { return length_; }
    // The bytes of the whole 512-byte sectors of the medium from the volume's start (what the
    // sector count of the medium leaves of the volume).
    std::uint64_t sectorBytes() const;

private:
    const ByteSource* source_ = nullptr;
    std::uint64_t start_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace corvello
