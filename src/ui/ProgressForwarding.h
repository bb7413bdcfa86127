#pragma once
// A page's progress bar follows what its worker reports: range and position, scaled down
// when the worker counts further than the bar can (byte offsets of a large disk).

class QProgressBar;

namespace corvello::ui {

class QtScanHost;

void forwardProgress(QtScanHost* host, QProgressBar* bar);

}  // namespace corvello::ui
