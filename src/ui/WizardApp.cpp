#include "ui/WizardApp.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <unistd.h>

#include "device/FileReadSeek.h"
#include "platform/ProgramPath.h"
#include "ui/MessageBoxes.h"
#include "ui/DriveTreePage.h"
#include "ui/RawRecoveryDialog.h"

namespace corvello::ui {

namespace {
WizardApp* g_instance = nullptr;
}

WizardApp::WizardApp(QString lockDirectory) : lockDirectory_(std::move(lockDirectory)) {
    if (g_instance == nullptr) g_instance = this;
    selection.rootLabel = u"ROOT";
    selection.isVolume = false;
    selection.totalSectors = 0;
    rawRecoveryPage = [](WizardPage* parent, int) -> WizardPage* { return new RawRecoveryDialog(parent); };
    elevationPossible = ::geteuid() != 0;
}

WizardApp::~WizardApp() {
    // The pages go first: they wait for their workers, which read through the current reader.
    firstPage_.reset();
    selection.currentReader.reset();
    if (g_instance == this) g_instance = nullptr;
}

WizardApp* WizardApp::instance() { return g_instance; }

DriveTreePage* WizardApp::firstPage() const { return firstPage_.get(); }
WizardPage* WizardApp::visiblePage() const { return visiblePage_.data(); }
void WizardApp::setVisiblePage(WizardPage* page) { visiblePage_ = page; }

QString WizardApp::lockFilePath() const {
    QString dir = lockDirectory_;
    if (dir.isEmpty()) dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    // The backslash of the Windows name cannot stand in a file name.
    QString name = QString::fromLatin1(kInstanceLockName);
    name.replace(QLatin1Char('\\'), QLatin1Char('-'));
    return QDir(dir).filePath(name + QStringLiteral(".lock"));
}

bool WizardApp::startUp(const QStringList& images, const QString& select) {
    lock_ = std::make_unique<QLockFile>(lockFilePath());
    // Only a lock whose process has gone counts as stale.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        const bool held = lock_->error() == QLockFile::LockFailedError;
        lock_.reset();
        if (held) {
            showNotice(nullptr, QStringLiteral("Another instance of application is already running"));
            return false;
        }
        // The runtime folder cannot be written: run without the guard rather than not at all.
    }
    selection.driveFormatted = false;
    selection.searchPattern.clear();
    firstPage_ = std::make_unique<DriveTreePage>();
    firstPage_->initPage();
    for (const QString& image : images) firstPage_->addImageFile(image);
    if (!select.isEmpty()) {
        QTreeWidget* tree = firstPage_->tree();
        for (QTreeWidgetItem* root : {firstPage_->volumesRoot(), firstPage_->drivesRoot()})
            for (int i = 0; i < root->childCount(); ++i)
                if (root->child(i)->data(0, DriveTreePage::DevicePathRole).toString() == select)
                    tree->setCurrentItem(root->child(i));
    }
    firstPage_->show();
    setVisiblePage(firstPage_.get());
    return true;
}

int WizardApp::run(const QStringList& images, const QString& select) {
    if (!startUp(images, select)) return 0;
    return QApplication::exec();
}

void WizardApp::endProcess(int code) {
    if (endHook) {
        endHook(code);
        return;
    }
    QCoreApplication::exit(code);
}

QStringList WizardApp::restartArguments() const {
    QStringList arguments;
    if (!firstPage_) return arguments;
    // "--" ends the options: an image named like an option stays an image.
    const QString selected = firstPage_->selectedDevicePath();
    if (!selected.isEmpty()) arguments << QStringLiteral("--select") << selected;
    arguments << QStringLiteral("--");
    arguments << firstPage_->openedImages;
    return arguments;
}

void WizardApp::restartAsAdministrator() {
    const QString program = QStringLiteral("pkexec");
    // pkexec runs the program the polkit action names, by its absolute path.
    const QStringList arguments = QStringList{QCoreApplication::applicationFilePath()} + restartArguments();
    WizardPage* page = visiblePage();
    if (launchHook) {
        if (launchHook(program, arguments) && page != nullptr) page->hide();
        return;
    }
    if (QStandardPaths::findExecutable(program).isEmpty()) {
        showNotice(page, QStringLiteral("Corvello cannot ask for administrator rights here: pkexec is not installed. "
                                        "Install the pkexec package, or start Corvello with sudo."));
        return;
    }
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, process, [this, process](int code, QProcess::ExitStatus status) {
        process->deleteLater();
        elevatedCopyFinished(status == QProcess::NormalExit ? code : -1);
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        process->deleteLater();
        elevatedCopyFinished(kElevationRefused);
    });
    // The new copy takes the single-instance lock; this one only waits for it.
    lock_.reset();
    if (page != nullptr) page->hide();
    process->start(program, arguments);
}

void WizardApp::elevatedCopyFinished(int exitCode) {
    // The elevated copy ran and was closed: this one ends with it.
    if (exitCode == 0) {
        endProcess(0);
        return;
    }
    // Not restarted, or the elevated copy failed (no display for root, a crash): this copy goes
    // on where the user was.
    lock_ = std::make_unique<QLockFile>(lockFilePath());
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) lock_.reset();
    WizardPage* page = visiblePage();
    if (page != nullptr) page->show();
    if (exitCode == kElevationDismissed || exitCode == kElevationRefused)
        showNotice(page, QStringLiteral("Corvello was not restarted with administrator rights: the authentication "
                                        "was cancelled or refused. Disk images can still be opened."));
    else
        showNotice(page, QStringLiteral("Corvello with administrator rights ended with an error (exit status %1). "
                                        "Disk images can still be opened; drives can be read with sudo corvello-cli.")
                             .arg(exitCode));
}

QString WizardApp::helpFilePath() {
    const std::string path = platform::dataFilePathFrom(QCoreApplication::applicationDirPath().toStdString(), "README.md");
    return path.empty() ? QString() : QDir::cleanPath(QString::fromStdString(path));
}

void WizardApp::showHelp(QWidget* parent) {
    const QString path = helpFilePath();
    if (path.isEmpty()) {
        QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHelpUrl)));
        return;
    }
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("helpWindow"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Corvello Help"));
    dialog->resize(760, 600);
    auto* layout = new QVBoxLayout(dialog);
    auto* browser = new QTextBrowser(dialog);
    browser->setOpenExternalLinks(true);
    // The README's pictures lie beside it (docs/screenshots/).
    browser->setSearchPaths({QFileInfo(path).absolutePath()});
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) browser->setMarkdown(QString::fromUtf8(file.readAll()));
    layout->addWidget(browser);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    layout->addWidget(buttons);
    dialog->show();
}

FileReadSeek* WizardApp::newReader() {
    selection.currentReader = std::make_unique<FileReadSeek>(&selection, nullptr);
    return selection.currentReader.get();
}

}  // namespace corvello::ui
