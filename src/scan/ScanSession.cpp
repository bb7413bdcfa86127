#include "scan/ScanSession.h"

#include <algorithm>
#include <cstring>

#include "common/ScanHost.h"
#include "device/FileReadSeek.h"
#include "device/VolumeView.h"
#include "platform/Files.h"

namespace corvello {

namespace {
// Bytes read and written at a time while a file is saved.
constexpr std::size_t kExtractChunk = 1 << 20;
}  // namespace

bool ScanSession::extract(ItemData data, platform::OutputFile& out, const ScanHost* host) {
    if (!isValid(data) || isFolder(data)) return false;
    switch (presence(data)) {
        case DataPresence::Data: break;
        case DataPresence::Empty: out.discard(); return true;
        case DataPresence::Missing: out.discard(); return false;
    }
    if (!out.isOpen()) return false;
    const std::uint64_t length = size(data);
    const std::uint64_t end = std::min(dataEnd(data), length);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(end, kExtractChunk)));
    ReadNotes notes;
    bool ok = true;
    // A file without bytes to read is still asked once, so that a record that cannot be read
    // is not saved as an empty file that passes for whole.
    if (end == 0 && !readData(data, 0, {}, notes)) ok = false;
    std::uint64_t at = 0;
    while (at < end) {
        if (host != nullptr && host->stopRequested()) {
            ok = false;
            break;
        }
        // A hole is skipped: the file is made longer without writing its zeros, a read's worth
        // at a time (an output that stops at its limit is offered no more than a read). An
        // empty read still tells what the bytes stand for (a map that is not whole).
        const DataSpan span = dataAt(data, at);
        const std::uint64_t next = std::min(span.start, at + std::min<std::uint64_t>(end - at, kExtractChunk));
        if (next > at) {
            if (!readData(data, at, {}, notes) || !out.truncate(next)) {
                ok = false;
                break;
            }
            at = next;
            continue;
        }
        const auto want =
            static_cast<std::size_t>(std::min({end - at, std::uint64_t{buffer.size()}, std::max(span.end, at + 1) - at}));
        const std::optional<std::size_t> got = readData(data, at, std::span(buffer.data(), want), notes);
        // A read that delivers nothing before the end: the file stops there.
        if (!got || *got == 0 || *got > want) {
            ok = false;
            break;
        }
        if (!out.write(buffer.data(), *got)) {
            ok = false;
            break;
        }
        at += *got;
        if (*got < want) {
            ok = false;
            break;
        }
    }
    // The zeros of a tail without data: the length is set, they are not written.
    if (ok && at < length) ok = out.truncate(length);
    if (const std::optional<SavedTimes> t = savedTimes(data)) out.setTimes(t->access, t->modification);
    return ok && !notes.damaged;
}

std::optional<ScanSession::SavedTimes> ScanSession::savedTimes(ItemData data) const {
    const EntryTimes t = times(data);
    if (!t.modification) return std::nullopt;
    return SavedTimes{t.access.value_or(*t.modification), *t.modification};
}

const FileReadSeek* ScanSession::reader() const { return dynamic_cast<const FileReadSeek*>(source_); }

bool ScanSession::readSmallFile(ItemData data, std::size_t limit, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (!isValid(data) || isFolder(data) || size(data) > limit) return false;
    platform::OutputFile buffer;
    buffer.openMemory(limit);
    const bool ok = extract(data, buffer);
    if (!ok || buffer.cutBytes() > 0) return false;
    bytes = buffer.bytes();
    return true;
}

std::optional<std::size_t> ScanSession::readRuns(const VolumeView& view, const std::vector<ByteRun>& runs,
                                                 std::uint64_t length, std::uint64_t written, std::uint64_t zeroFrom,
                                                 std::uint64_t offset, std::span<std::uint8_t> buffer,
                                                 ReadNotes& notes) {
    if (offset >= length || buffer.empty()) return 0;
    std::uint64_t end = offset + std::min<std::uint64_t>(buffer.size(), length - offset);
    if (written < end) {
        // The extraction stops short of the window: what it delivered of it, if anything.
        if (written <= offset) return std::nullopt;
        end = written;
    }
    const auto count = static_cast<std::size_t>(end - offset);
    std::memset(buffer.data(), 0, count);
    const std::uint64_t dataEnd = std::min(end, zeroFrom);
    // The first run that ends after offset.
    auto run = std::upper_bound(runs.begin(), runs.end(), offset,
                                [](std::uint64_t at, const ByteRun& r) { return at < r.fileOffset + r.length; });
    for (; run != runs.end() && run->fileOffset < dataEnd; ++run) {
        const std::uint64_t from = std::max(offset, run->fileOffset);
        const std::uint64_t to = std::min(dataEnd, run->fileOffset + run->length);
        if (from >= to || run->volumeOffset > UINT64_MAX - (from - run->fileOffset)) continue;
        const auto want = static_cast<std::size_t>(to - from);
        if (view.readAt(run->volumeOffset + (from - run->fileOffset), buffer.data() + (from - offset), want) < want)
            notes.damaged = true;
    }
    return count;
}

}  // namespace corvello
