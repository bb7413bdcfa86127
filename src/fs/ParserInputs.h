#pragma once
// What every file-system parser starts from, handed to its constructor in one piece: the view
// of its volume, the volume's record, where it reports and which tree it fills, and what the
// scan was asked for. The scan layer fills it from the scan request (parserInputs in
// scan/Families.h).

#include <cstdint>
#include <string>

#include "common/RecoveryMode.h"
#include "common/Text.h"
#include "common/VolumeRecord.h"
#include "device/VolumeView.h"

namespace corvello {

class ResultTree;
class ScanHost;

struct ParserInputs {
    VolumeView view;              // the volume, from its first byte to the medium's end
    VolumeRecord volume;          // the volume as the volume list shows it
    ScanHost* host = nullptr;     // where progress, status and notices go (NTFS and ext need one)
    ResultTree* tree = nullptr;   // the results tree the parser fills; null for a search only
    std::int64_t volumeBytes = 0;  // the volume's length by its record (NTFS reads its own)
    RecoveryMode mode = RecoveryMode::Standard;
    std::u16string rootLabel = u"ROOT";  // the text of the tree's top item
    bool driveFormatted = false;  // FAT: the FATs were rewritten, take clusters in order
    int codePage = kDefaultOemCodePage;  // FAT: the OEM code page of the short names
};

}  // namespace corvello
