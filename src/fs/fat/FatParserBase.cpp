#include "fs/fat/FatParserBase.h"

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"

namespace corvello {

FatParserBase::FatParserBase(const ParserInputs& inputs)
    : volume(inputs.volume),
      tree(inputs.tree),
      host(inputs.host),
      volumeBytes(inputs.volumeBytes),
      driveFormatted(inputs.driveFormatted),
      rootLabel(inputs.rootLabel),
      codePage(inputs.codePage),
      view_(inputs.view) {}

bool FatParserBase::attachReader() {
    reader_ = view_.valid() ? &view_ : nullptr;
    if (tree != nullptr) rootItem = tree->insertItem(kTreeTop, rootLabel, IconKind::Folder, 0);
    return true;
}

void FatParserBase::status(const std::string& text) {
    if (host != nullptr) host->setStatus(text);
}

void FatParserBase::tellFilling(std::size_t record) { status(format("filling entry =%d in tree ", static_cast<int>(record))); }

}  // namespace corvello
