#pragma once
// The candidate searches of the advanced recovery mode: copies of the NTFS MFT, FAT tables of a
// FAT12/16 or FAT32 volume, and FAT tables and cluster-heap starts of an exFAT volume, with the
// choices offered next to them (cluster sizes) and the message that counts them. The wizard's
// advanced-input page runs a search on its worker; corvello-cli mft-copies and fat-tables print
// the same lists.

#include <cstdint>
#include <string>
#include <vector>

#include "scan/Scan.h"
#include "scan/ScanRequest.h"

namespace corvello {

class ScanHost;

struct CandidateList {
    Family family = Family::None;
    bool bootValid = false;                // the volume's own boot sector passed its check
    std::vector<std::int64_t> tables;      // MFT copies (their record 0's byte offset) or FAT tables
    std::vector<std::int64_t> heaps;       // exFAT cluster-heap starts
    std::vector<std::uint32_t> clusterChoices;  // sectors per cluster (exFAT: their shift), in offered order
    std::string message;                   // the count message shown when the search ends
    bool noneFound = false;                // FAT32 without a table: the message says so, nothing to choose
};

// The entry texts of the candidate lists: "MFT_ENTRY:%d", "FAT_ENTRY:%d", "FAT32_ENTRY:%d",
// "FAT64_ENTRY:%d" and "HEAP_OFFSET_ENTRY:%d".
std::string tableLabel(Family family, std::size_t index);
std::string heapLabel(std::size_t index);

// Whether the family has an advanced search (NTFS, FAT12/16, FAT32, exFAT).
bool hasCandidateSearch(Family family);

// Runs the search for the request's volume (family chosen by its file-system text) through the
// request's reader, keeping at most request.maxCandidates of each kind (3 when not above 0).
// The search polls host's stop flag and pause gate; a stopped search returns what it found.
CandidateList findCandidates(const ScanRequest& request, ScanHost& host);

}  // namespace corvello
