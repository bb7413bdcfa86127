#pragma once
// Running a scan: choosing the parser family by the volume's file-system text (its row of the
// family table) and calling its operations in the order of the mode, then the completion shared by all families.

#include <memory>
#include <string>

#include "scan/FamilyTable.h"
#include "scan/ScanRequest.h"
#include "scan/ScanSession.h"

namespace corvello {

class ResultTree;
class ScanHost;

// Runs the scan thread's steps for the family and mode. Returns the session that owns the
// parser and its records, or null when the file system or mode is not supported (the reason is
// reported through host).
std::unique_ptr<ScanSession> runScan(const ScanRequest& request, ScanHost& host, ResultTree& tree);

// Bytes of the medium from the volume's start to the medium's end.
std::uint64_t volumeBytes(const ScanRequest& request);

// The completion of a scan: the "..DUMY.." placeholders under first-level folders that have
// children, then (for NTFS, FAT32 and exFAT) the recycle-bin pass.
void completeScan(ScanSession& session, ResultTree& tree, ScanHost& host);

// Inserts the children of a folder item, replacing its placeholder (opening a folder).
void openFolder(ScanSession& session, ResultTree& tree, TreeItem item, bool redForDeleted);

}  // namespace corvello
