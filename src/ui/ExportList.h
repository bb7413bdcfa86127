#pragma once
// "Export list..." of the results page: the scanned volume's entries written as CSV or Digital
// Forensics XML, the same report corvello-cli list --format csv|dfxml writes.

#include <QString>
#include <functional>
#include <ostream>
#include <string>

#include "scan/Reports.h"

class QWidget;

namespace corvello::ui {

// The file the user named and the filter chosen in the dialog ("CSV (*.csv)" or "DFXML (*.xml)";
// empty to go by the file's suffix). Tests replace the dialog.
struct ExportChoice {
    QString path;
    QString filter;
};
extern std::function<ExportChoice(QWidget* parent)> exportListChooser;

inline const QString kCsvFilter = QStringLiteral("CSV (*.csv)");
inline const QString kDfxmlFilter = QStringLiteral("DFXML (*.xml)");

// Asks for the file and writes into it the report that write produces in the chosen format (CSV
// or DFXML). A file that is there is replaced only when the user agreed (the dialog asks, or a
// question when the suffix was added here); source, the image, is never a target. False when
// nothing was written (cancelled, or an error the user was told about).
bool exportList(QWidget* parent, const std::string& source,
                const std::function<void(ListFormat format, std::ostream& out)>& write);

}  // namespace corvello::ui
