#include "fs/fat/FatParserBase.h"

#include "common/ScanHost.h"
#include "device/readWriteInterface.h"

namespace corvello {

bool FatParserBase::attachReader(readWriteInterface* reader) {
    reader_ = reader;
    if (reader_ != nullptr) {
        reader_->baseOffset = volume.startSector * static_cast<std::int64_t>(kSectorSize);
        reader_->seek(0, FILE_BEGIN);
    }
    if (tree != nullptr) rootItem = tree->insertItem(kTreeTop, rootLabel, IconKind::Folder, 0);
    return true;
}

void FatParserBase::status(const std::string& text) {
    if (host != nullptr) host->setStatus(text);
}

}  // namespace corvello
