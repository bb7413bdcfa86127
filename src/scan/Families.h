#pragma once
// One entry point per parser family: runs the family's scan steps for the request's mode.
// Each returns null (after reporting why through host) when it cannot go on. The family table
// (FamilyTable.cpp) holds them, with the candidate searches of the families that have one.

#include <cstdint>
#include <memory>

#include "device/VolumeView.h"
#include "fs/ParserInputs.h"

#include "scan/ScanRequest.h"
#include "scan/ScanSession.h"

namespace corvello {

class ResultTree;
class ScanHost;
class ExtParser;
class NtfsParser;

// The request's volume as the parsers read it: from its first sector to the medium's end.
inline VolumeView volumeViewOf(const ScanRequest& request) {
    std::uint64_t start = 0;
    if (request.volume.startSector > 0 &&
        __builtin_mul_overflow(static_cast<std::uint64_t>(request.volume.startSector), std::uint64_t{512}, &start))
        start = UINT64_MAX;
    return VolumeView::toEnd(request.reader, start);
}

// What a parser of the request's volume starts from: its view, its record, the host and the
// tree (null for a search only), and the request's choices.
inline ParserInputs parserInputs(const ScanRequest& request, ScanHost& host, ResultTree* tree) {
    ParserInputs inputs;
    inputs.view = volumeViewOf(request);
    inputs.volume = request.volume;
    inputs.host = &host;
    inputs.tree = tree;
    inputs.volumeBytes = request.volume.sizeBytes();
    inputs.mode = request.mode;
    inputs.rootLabel = request.rootLabel;
    inputs.driveFormatted = request.driveFormatted;
    inputs.codePage = request.codePage;
    return inputs;
}

std::unique_ptr<ScanSession> runNtfsScan(const ScanRequest& request, ScanHost& host, ResultTree& tree);
std::unique_ptr<ScanSession> runFat16Scan(const ScanRequest& request, ScanHost& host, ResultTree& tree);
std::unique_ptr<ScanSession> runFat32Scan(const ScanRequest& request, ScanHost& host, ResultTree& tree);
std::unique_ptr<ScanSession> runExFatScan(const ScanRequest& request, ScanHost& host, ResultTree& tree);
std::unique_ptr<ScanSession> runExtScan(const ScanRequest& request, ScanHost& host, ResultTree& tree);
std::unique_ptr<ScanSession> runHfsPlusScan(const ScanRequest& request, ScanHost& host, ResultTree& tree);

struct CandidateList;

// How many candidates of each kind a search keeps: the request's count, else 3.
inline std::int64_t candidateMax(const ScanRequest& request) {
    return request.maxCandidates > 0 ? request.maxCandidates : 3;
}

// The advanced input's searches: MFT copies (NtfsScan.cpp), FAT tables (FatScan.cpp), FAT
// tables and cluster-heap starts (ExFatScan.cpp), with the choices offered beside them and the
// message that counts them.
void findNtfsCandidates(const ScanRequest& request, ScanHost& host, CandidateList& out);
void findFat16Candidates(const ScanRequest& request, ScanHost& host, CandidateList& out);
void findFat32Candidates(const ScanRequest& request, ScanHost& host, CandidateList& out);
void findExFatCandidates(const ScanRequest& request, ScanHost& host, CandidateList& out);

// The parser behind an ext or NTFS scan's session (null for other families): for tests that
// look at what the parser read.
ExtParser* extParserOf(ScanSession& session);
NtfsParser* ntfsParserOf(ScanSession& session);

}  // namespace corvello
