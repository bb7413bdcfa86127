#pragma once
// The process-wide part of the user's choices that cross the wizard's pages; the command line
// fills the same record from its arguments.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace corvello {

class FileReadSeek;

struct ScanSelection {
    ScanSelection();
    ~ScanSelection();
    ScanSelection(const ScanSelection&) = delete;
    ScanSelection& operator=(const ScanSelection&) = delete;

    std::unique_ptr<FileReadSeek> currentReader;   // the one current reader
    std::atomic<std::uint64_t> totalSectors{0};    // size of the opened device in sectors
    bool isVolume = false;                         // a logical volume rather than a whole disk
    bool driveFormatted = false;                   // "Is Drive Formated..?"
    std::u16string searchPattern;
    std::u16string rootLabel = u"ROOT";
};

}  // namespace corvello
