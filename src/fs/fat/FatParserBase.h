#pragma once
// What every FAT-family parser (FAT12/16, FAT32, exFAT) holds from the scan and does first:
// the volume record, the results tree, the host, the reader placed at the volume's start.

#include <cstdint>
#include <string>

#include "common/ResultTree.h"
#include "common/Text.h"
#include "common/VolumeRecord.h"
#include "device/VolumeView.h"

namespace corvello {

class ScanHost;

class FatParserBase {
public:
    FatParserBase() = default;
    virtual ~FatParserBase() = default;
    FatParserBase(const FatParserBase&) = delete;
    FatParserBase& operator=(const FatParserBase&) = delete;

    // Written by the scan before the parse.
    VolumeRecord volume;
    ResultTree* tree = nullptr;  // may be null
    ScanHost* host = nullptr;    // may be null
    std::int64_t volumeBytes = 0;
    bool driveFormatted = false;  // the FATs were rewritten: follow no chain, take clusters in order
    std::u16string rootLabel = u"ROOT";
    int codePage = kDefaultOemCodePage;  // the OEM code page of the short names

    // Takes the view of the volume the parser reads through and inserts the root item.
    bool attachReader(const VolumeView& view);

    TreeItem rootItem = 0;

protected:
    void status(const std::string& text);
    VolumeView view_;
    const VolumeView* reader_ = nullptr;  // &view_ once a view is attached
};

}  // namespace corvello
