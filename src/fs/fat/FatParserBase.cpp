#include "fs/fat/FatParserBase.h"

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"

namespace corvello {

bool FatParserBase::attachReader(const VolumeView& view) {
    view_ = view;
    reader_ = view_.valid() ? &view_ : nullptr;
    if (tree != nullptr) rootItem = tree->insertItem(kTreeTop, rootLabel, IconKind::Folder, 0);
    return true;
}

void FatParserBase::status(const std::string& text) {
    if (host != nullptr) host->setStatus(text);
}

void FatParserBase::tellFilling(std::size_t record) { status(format("filling entry =%d in tree ", static_cast<int>(record))); }

}  // namespace corvello
