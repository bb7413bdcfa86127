#include "scan/Candidates.h"

#include "common/DisplayFormat.h"

namespace corvello {

std::string tableLabel(Family family, std::size_t index) {
    const FamilyRow* row = familyRow(family);
    const char* label = row != nullptr && row->tableLabel != nullptr ? row->tableLabel : "FAT_ENTRY:%d";
    return format(label, static_cast<int>(index));
}

std::string heapLabel(std::size_t index) { return format("HEAP_OFFSET_ENTRY:%d", static_cast<int>(index)); }

bool hasCandidateSearch(Family family) {
    const FamilyRow* row = familyRow(family);
    return row != nullptr && row->search != nullptr;
}

CandidateList findCandidates(const ScanRequest& request, ScanHost& host) {
    CandidateList out;
    out.family = familyOf(request.volume.fileSystemKind());
    if (request.reader == nullptr) return out;
    const FamilyRow* row = familyRow(out.family);
    if (row != nullptr && row->search != nullptr) row->search(request, host, out);
    return out;
}

}  // namespace corvello
