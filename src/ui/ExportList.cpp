#include "ui/ExportList.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <sstream>

#include "platform/Files.h"
#include "platform/RawFile.h"
#include "ui/MessageBoxes.h"

namespace corvello::ui {

std::function<ExportChoice(QWidget* parent)> exportListChooser = [](QWidget* parent) {
    ExportChoice choice;
    choice.path = QFileDialog::getSaveFileName(parent, QStringLiteral("Export list"), QString(),
                                               kCsvFilter + QStringLiteral(";;") + kDfxmlFilter, &choice.filter);
    return choice;
};

bool exportList(QWidget* parent, const std::string& source,
                const std::function<void(ListFormat format, std::ostream& out)>& write) {
    ExportChoice choice = exportListChooser ? exportListChooser(parent) : ExportChoice{};
    if (choice.path.isEmpty()) return false;
    QString path = QFileInfo(choice.path).absoluteFilePath();
    const bool dfxml = choice.filter == kDfxmlFilter ||
                       (choice.filter.isEmpty() && QFileInfo(path).suffix().compare(QStringLiteral("xml"), Qt::CaseInsensitive) == 0);
    if (QFileInfo(path).suffix().isEmpty()) {
        // The dialog asked about the name as typed; the name with its suffix is asked about here.
        path += dfxml ? QStringLiteral(".xml") : QStringLiteral(".csv");
        if (QFileInfo::exists(path) &&
            !askQuestion(parent, QStringLiteral("%1 already exists. Do you want to replace it?").arg(path)))
            return false;
    }
    const std::string target = path.toStdString();
    if (platform::sameFile(source, target)) {
        showNotice(parent, QStringLiteral("%1 is the image being recovered; choose another file.").arg(path));
        return false;
    }

    std::ostringstream report;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    write(dfxml ? ListFormat::Dfxml : ListFormat::Csv, report);
    QApplication::restoreOverrideCursor();
    const std::string text = std::move(report).str();
    platform::OutputFile out;
    const bool written = out.replace(target) && out.write(text.data(), text.size());
    const int error = out.errorCode();
    if (!out.close() || !written) {
        showNotice(parent, QStringLiteral("The list could not be written to %1: %2.")
                               .arg(path, QString::fromStdString(platform::errorText(error != 0 ? error : EIO))));
        return false;
    }
    return true;
}

}  // namespace corvello::ui
