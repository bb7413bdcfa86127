#pragma once
// The parts the working pages share: their buttons, their progress bar and status line, and a
// progress bar that follows what the page's worker reports.

class QLabel;
class QProgressBar;
class QPushButton;
class QString;
class QWidget;

namespace corvello::ui {

class QtScanHost;

// A push button that names itself in its tooltip and never takes Enter for itself.
QPushButton* pageButton(const QString& text, QWidget* parent, int width = 80);
// A slim progress bar without text.
QProgressBar* pageProgressBar(QWidget* parent);
// The page's status line ("statusText").
QLabel* pageStatusLine(QWidget* parent);

// The bar follows the worker's range and position, scaled down when the worker counts further
// than the bar can (byte offsets or clusters of a large disk).
void forwardProgress(QtScanHost* host, QProgressBar* bar);

}  // namespace corvello::ui
