#include "scan/Candidates.h"

#include "common/DisplayFormat.h"
#include "common/ScanHost.h"
#include "fs/fat/Fat16Parser.h"
#include "fs/fat/Fat32Parser.h"
#include "fs/fat/ExFatParser.h"
#include "fs/ntfs/NtfsParser.h"
#include "scan/Families.h"

namespace corvello {

namespace {

std::int64_t maxOf(const ScanRequest& request) { return request.maxCandidates > 0 ? request.maxCandidates : 3; }

void findMftCopies(const ScanRequest& request, ScanHost& host, CandidateList& out) {
    NtfsParser parser(volumeViewOf(request), host, nullptr, request.volume);
    parser.readBootSector();
    const std::int64_t copies = parser.findMftCopies(maxOf(request));
    for (std::int64_t k = 0; k < copies && static_cast<std::size_t>(k) < parser.foundMftRecords.size(); ++k)
        out.tables.push_back(static_cast<std::int64_t>(parser.foundMftRecords[static_cast<std::size_t>(k)].location));
    out.clusterChoices = {8, 4, 2, 16, 32, 64};
    out.message = format(
        "Number of MFT-ENTRY found = %lld . Please select the choice from combo box and click Next button to proceed.",
        static_cast<long long>(copies));
}

template <class Parser>
void findFats(const ScanRequest& request, ScanHost& host, CandidateList& out) {
    Parser parser;
    parser.volume = request.volume;
    parser.host = &host;
    parser.attachReader(volumeViewOf(request));
    parser.volumeBytes = request.volume.sizeBytes();
    out.bootValid = parser.checkBootSector();
    if (!parser.isFat32()) host.setStatus("Finding Fat entries....");
    out.tables = parser.findFatTables(maxOf(request));
    out.clusterChoices = sectorsPerClusterChoices(parser, out.bootValid);
    if (parser.isFat32() && out.tables.empty()) {
        out.noneFound = true;
        out.message = "NO FAT  FAT32-ENTRY found ..";
    } else {
        out.message = format(
            "Number of %s-ENTRY found = %d . Please select the choice from combo box and click Next button to proceed.",
            parser.isFat32() ? "FAT32" : "FAT", static_cast<int>(out.tables.size()));
    }
}

void findExFat(const ScanRequest& request, ScanHost& host, CandidateList& out) {
    ExFatParser parser;
    parser.volume = request.volume;
    parser.host = &host;
    parser.attachReader(volumeViewOf(request));
    parser.volumeBytes = request.volume.sizeBytes();
    out.bootValid = parser.checkBootSector();
    host.setStatus("Finding Fat64 entries....");
    out.tables = parser.findFatTables(maxOf(request));
    out.heaps = parser.findHeapStarts(maxOf(request));
    if (out.bootValid && !out.heaps.empty()) out.heaps.front() = parser.heapOffset;
    out.clusterChoices = clusterShiftChoices(parser, out.bootValid);
    out.message = format(
        "Number of FAT64-ENTRY found = %d and Number of HeapOffset-ENTRY found =  %d  . Please select the choice from "
        "( Entry and Heap ) Combobox and click Next button to proceed.",
        static_cast<int>(out.tables.size()), static_cast<int>(out.heaps.size()));
}

}  // namespace

std::string tableLabel(Family family, std::size_t index) {
    const char* label = "FAT_ENTRY:%d";
    if (family == Family::Ntfs) label = "MFT_ENTRY:%d";
    if (family == Family::Fat32) label = "FAT32_ENTRY:%d";
    if (family == Family::ExFat) label = "FAT64_ENTRY:%d";
    return format(label, static_cast<int>(index));
}

std::string heapLabel(std::size_t index) { return format("HEAP_OFFSET_ENTRY:%d", static_cast<int>(index)); }

bool hasCandidateSearch(Family family) {
    return family == Family::Ntfs || family == Family::Fat16 || family == Family::Fat32 || family == Family::ExFat;
}

CandidateList findCandidates(const ScanRequest& request, ScanHost& host) {
    CandidateList out;
    out.family = familyOf(request.volume.fileSystemKind());
    if (request.reader == nullptr) return out;
    switch (out.family) {
        case Family::Ntfs: findMftCopies(request, host, out); break;
        case Family::Fat16: findFats<Fat16Parser>(request, host, out); break;
        case Family::Fat32: findFats<Fat32Parser>(request, host, out); break;
        case Family::ExFat: findExFat(request, host, out); break;
        default: break;
    }
    return out;
}

}  // namespace corvello
