#pragma once
// One entry point per parser family: runs the family's scan steps for the request's mode.
// Each returns null (after reporting why through host) when it cannot go on.

#include <memory>

#include "scan/ScanRequest.h"
#include "scan/ScanSession.h"

namespace corvello {

class ResultTree;
class ScanHost;

std::unique_ptr<ScanSession> runNtfsScan(const ScanRequest& request, ScanHost& host, ResultTree& tree);
std::unique_ptr<ScanSession> runFat16Scan(const ScanRequest& request, ScanHost& host, ResultTree& tree);
std::unique_ptr<ScanSession> runFat32Scan(const ScanRequest& request, ScanHost& host, ResultTree& tree);
std::unique_ptr<ScanSession> runExFatScan(const ScanRequest& request, ScanHost& host, ResultTree& tree);
std::unique_ptr<ScanSession> runExtScan(const ScanRequest& request, ScanHost& host, ResultTree& tree);
std::unique_ptr<ScanSession> runHfsPlusScan(const ScanRequest& request, ScanHost& host, ResultTree& tree);

}  // namespace corvello
