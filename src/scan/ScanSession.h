#pragma once
// What the wizard and the command line need from a finished scan, whatever the file system:
// the facts behind each tree item, the display texts, the save walk's rules and extraction.
// Each parser family provides one implementation over its own records.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/ResultTree.h"
#include "platform/Time.h"
#include "scan/Recoverability.h"

namespace corvello::platform {
class OutputFile;
}

namespace corvello {

class ByteSource;
class FileReadSeek;
class VolumeView;
class ScanHost;

// The times a record keeps, each only where the file system records it and it could be read.
struct EntryTimes {
    std::optional<platform::UnixTime> modification;
    std::optional<platform::UnixTime> access;
    std::optional<platform::UnixTime> change;  // the metadata's last change (ext inodes)
    std::optional<platform::UnixTime> creation;
};

// One stretch of a file's data on the volume: the file's bytes from fileOffset, length bytes
// long, lie at volumeOffset from the volume's start. Sparse stretches and data kept inside the
// record itself have no run.
struct ByteRun {
    std::uint64_t fileOffset = 0;
    std::uint64_t volumeOffset = 0;
    std::uint64_t length = 0;
};

// How the save walk treats a child record.
enum class SaveKind { Folder, File, Skip };

// Whether a saved file stands for a file record.
enum class DataPresence {
    Data,     // the record's bytes are read and written
    Empty,    // nothing to write, and that is no failure: no file stands for it
    Missing,  // the data cannot be found: no file stands for it, and it counts as not saved
};

// What a read met besides the bytes it delivered.
struct ReadNotes {
    // Some delivered bytes stand in (as zeros) for data the file's map or the medium could not
    // give: the file is not whole as its record describes it.
    bool damaged = false;
};

class ScanSession {
public:
    virtual ~ScanSession() = default;

    // The top-level item of the results tree ("ROOT") the parser inserted, or 0.
    virtual TreeItem rootItem() const = 0;

    // Item data that names a record of this parser.
    virtual bool isValid(ItemData data) const = 0;
    // A folder record (shown with the folder icon).
    virtual bool isFolder(ItemData data) const = 0;
    // The record's child records, in the parser's order.
    virtual std::vector<ItemData> children(ItemData data) const = 0;
    // Whether a child drawn under the opened folder is shown as deleted (red).
    virtual bool isDeleted(ItemData child, ItemData openedFolder) const = 0;
    // The record's name as stored.
    virtual std::u16string name(ItemData data) const = 0;
    // The number of bytes extraction writes for a file record.
    virtual std::uint64_t size(ItemData data) const = 0;

    // Display texts of a file-list row: creation, access, modification time and attributes.
    virtual std::array<std::string, 4> rowTexts(ItemData data) const = 0;
    virtual std::string sizeText(ItemData data) const = 0;
    // The record's times as points in time (the reports print them in UTC); none by default.
    virtual EntryTimes times(ItemData /*data*/) const { return {}; }

    // The save walk: whether a selected folder can be saved, and what a child record is.
    virtual bool isSavableFolder(ItemData data) const = 0;
    virtual SaveKind saveKind(ItemData data) const = 0;
    // Whether the walk enters a child folder (an NTFS "." folder is listed, not entered).
    virtual bool entersFolder(ItemData /*data*/) const { return true; }
    // The name a saved file or folder gets (before it is made safe as a path component).
    virtual std::u16string saveName(ItemData data) const { return name(data); }
    // Whether the file is written (an NTFS "$BadClus" is counted but not written).
    virtual bool isExtracted(ItemData /*data*/) const { return true; }
    // Writes one file record's bytes into out (opened by the caller), as read through readData,
    // and hands it the file's times, which out applies when it is closed: true when the file
    // was written whole. The one writer of saved files for every family. With host, a stop it
    // is asked for ends a long file between two reads (the file is then not whole).
    bool extract(ItemData data, platform::OutputFile& out, const ScanHost* host = nullptr);

    // Reads bytes of a file record from offset into buffer, as extract writes them: the number
    // delivered (fewer only at the file's end, 0 past it), or none when the record cannot be
    // read there. Nothing is written anywhere; any thread may read.
    std::optional<std::size_t> read(ItemData data, std::uint64_t offset, std::span<std::uint8_t> buffer) {
        ReadNotes notes;
        return read(data, offset, buffer, notes);
    }
    // The same, telling in notes whether delivered bytes stand in (as zeros) for data the file's
    // map or the medium could not give.
    std::optional<std::size_t> read(ItemData data, std::uint64_t offset, std::span<std::uint8_t> buffer,
                                    ReadNotes& notes) {
        return readData(data, offset, buffer, notes);
    }

    // The bytes of a file record that lie in holes: stretches the file system keeps as zeros
    // without data on the volume. They are not read, and they hold none of the volume's bytes.
    virtual std::uint64_t holeBytes(ItemData /*data*/) const { return 0; }
    // The most bytes a saved copy of a file record may hold: the volume's bytes, and its holes
    // besides. A size beyond that comes from a damaged record.
    std::uint64_t outputLimit(ItemData data) const {
        const std::uint64_t holes = holeBytes(data);
        return holes > UINT64_MAX - volumeBytes_ ? UINT64_MAX : volumeBytes_ + holes;
    }

    // Where a file record's data lie on the volume, in file order; none where the family does
    // not tell (the reports then leave the runs out).
    virtual std::vector<ByteRun> byteRuns(ItemData /*data*/) const { return {}; }

    // Whether a deleted file's data are still on the medium (see Recoverability.h). Unknown for
    // live files, folders, and families that cannot tell.
    virtual Recoverability recoverability(ItemData /*data*/) const { return {}; }

    // Reads a small file record into memory: at most limit bytes (false when it is larger or
    // cannot be read). Nothing is written anywhere.
    bool readSmallFile(ItemData data, std::size_t limit, std::vector<std::uint8_t>& bytes);

    // The medium the parser reads through and the bytes of the medium from the volume's start
    // to the medium's end: no file of the volume can hold more than that.
    void setSource(const ByteSource* source, std::uint64_t volumeBytes) {
        source_ = source;
        volumeBytes_ = volumeBytes;
    }
    const ByteSource* source() const { return source_; }
    // The medium when it is the sector reader (an image file or a device), else null.
    const FileReadSeek* reader() const;

    // Why the scan could not run as asked (a candidate that is not one of the choices); empty
    // when it ran. The results shown are then only what the parser had before.
    void setRefusal(std::string text) { refusal_ = std::move(text); }
    const std::string& refusal() const { return refusal_; }
    std::uint64_t volumeBytes() const { return volumeBytes_; }

    // Renames a record (the recycle-bin pass); false when the family keeps no such names.
    virtual bool rename(ItemData /*data*/, const std::u16string& /*name*/) { return false; }
    // Whether the scan completion runs the recycle-bin pass for this family.
    virtual bool hasRecycleBin() const { return false; }
    // The folders of a recycle bin that hold "$I" index files: the bin itself on FAT and exFAT,
    // its per-user subfolders on NTFS.
    virtual std::vector<ItemData> recycleIndexFolders(ItemData bin) const { return {bin}; }

protected:
    // The family's read of a file record's bytes (see read); notes tells what stood in for
    // data that could not be read.
    virtual std::optional<std::size_t> readData(ItemData data, std::uint64_t offset, std::span<std::uint8_t> buffer,
                                                ReadNotes& notes) = 0;
    // Whether a saved file stands for the record (asked only of file records).
    virtual DataPresence presence(ItemData /*data*/) const { return DataPresence::Data; }
    // The file offset from which every byte of the record reads as zero (a hole at the end or
    // bytes past the valid data): extract sets the length there without writing the zeros.
    virtual std::uint64_t dataEnd(ItemData data) const { return size(data); }
    // The data from file offset `offset` on: where the next bytes that may come from the volume
    // start (offset itself outside holes), and an offset before which no hole follows that start
    // (UINT64_MAX where the family keeps no holes). extract skips holes: their zeros are neither
    // read nor written.
    struct DataSpan {
        std::uint64_t start = 0;
        std::uint64_t end = UINT64_MAX;
    };
    virtual DataSpan dataAt(ItemData /*data*/, std::uint64_t offset) const { return {offset, UINT64_MAX}; }
    // The access and modification times a saved file gets; by default the record's, where it
    // keeps a modification time (the access time is then that one where it keeps none).
    struct SavedTimes {
        platform::UnixTime access;
        platform::UnixTime modification;
    };
    virtual std::optional<SavedTimes> savedTimes(ItemData data) const;

    // A read by offset of a file whose bytes lie in runs (in file order, not overlapping) as
    // its extraction writes it: the file is length bytes long, the extraction delivers its
    // first written bytes (fewer than length when it failed there); bytes outside every run,
    // and from zeroFrom on, are zeros. A run at volume offset UINT64_MAX reads as zeros. Bytes
    // of a run the medium does not deliver are zeros too, and notes tells it.
    static std::optional<std::size_t> readRuns(const VolumeView& view, const std::vector<ByteRun>& runs,
                                               std::uint64_t length, std::uint64_t written, std::uint64_t zeroFrom,
                                               std::uint64_t offset, std::span<std::uint8_t> buffer,
                                               ReadNotes& notes);

private:
    const ByteSource* source_ = nullptr;
    std::string refusal_;
    std::uint64_t volumeBytes_ = UINT64_MAX;
};

}  // namespace corvello
