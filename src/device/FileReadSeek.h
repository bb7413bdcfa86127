#pragma once
// The sector reader on an image file or a block device: read-only, positional reads, zero fill
// after a short read. Small reads go through a ReadAhead, so that a walk of many records costs few
// reads of the medium.

#include <cstdint>
#include <string>

#include "device/ReadAhead.h"
#include "device/VolumeView.h"
#include "device/ReadOnlyReader.h"
#include "platform/RawFile.h"

namespace corvello {

class ScanHost;
struct ScanSelection;

class FileReadSeek : public ReadOnlyReader, public ByteSource {
public:
    // selection receives totalSectors on open; host receives the "invalid handle ..." notice.
    explicit FileReadSeek(ScanSelection* selection = nullptr, ScanHost* host = nullptr);
    ~FileReadSeek() override;

    bool open(const std::string& path) override;
    bool read(void* buffer, std::uint32_t count) override;
    bool seek(std::int64_t offset, int method = FILE_BEGIN) override;

    // seek(offset) and read(count) in one call.
    bool readAt(std::int64_t offset, void* buffer, std::uint32_t count);

    // Reads by absolute offset, without moving the position (a source of volume views).
    std::size_t readBytes(std::uint64_t offset, std::span<std::uint8_t> buffer) const override;
    // The opened object's length: its length as an ordinary file, or its whole sectors.
    std::uint64_t sourceBytes() const override;

    bool isOpen() const { return file_.isOpen(); }
    // Size of the opened device in 512-byte sectors (0 before a successful open).
    std::uint64_t totalSectors() const { return totalSectors_; }
    // Bytes the last read delivered.
    std::uint32_t lastDelivered() const { return lastDelivered_; }
    // Reads asked of the medium itself since it was opened.
    std::uint64_t mediumReads() const { return cache_.fetches(); }
    // Operating-system error code of the last failure.
    int lastError() const override { return openError_ != 0 ? openError_ : file_.lastError(); }
    const std::string& path() const { return path_; }

    void setHost(ScanHost* host) { host_ = host; }

private:
    // Reads through the windows of the medium kept in memory.
    std::size_t readCached(std::uint64_t offset, std::span<std::uint8_t> buffer) const;

    mutable platform::RawFile file_;
    mutable ReadAhead cache_;
    ScanSelection* selection_;
    ScanHost* host_;
    std::string path_;
    std::int64_t position_ = 0;  // absolute device byte of the next read
    std::uint64_t totalSectors_ = 0;
    std::uint32_t lastDelivered_ = 0;
    int openError_ = 0;
};

}  // namespace corvello
