#include "ui/CBrevantApp.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>

#include "device/FileReadSeek.h"
#include "ui/MessageBoxes.h"
#include "ui/Physical_DriveDialog.h"
#include "ui/RawRecoveryDialog.h"

namespace corvello::ui {

namespace {
CBrevantApp* g_instance = nullptr;
}

CBrevantApp::CBrevantApp(QString lockDirectory) : lockDirectory_(std::move(lockDirectory)) {
    if (g_instance == nullptr) g_instance = this;
    selection.rootLabel = u"ROOT";
    selection.isVolume = false;
    selection.totalSectors = 0;
    rawRecoveryPage = [](WizardPage* parent, int) -> WizardPage* { return new RawRecoveryDialog(parent); };
}

CBrevantApp::~CBrevantApp() {
    // The pages go first: they wait for their workers, which read through the current reader.
    firstPage_.reset();
    selection.currentReader.reset();
    if (g_instance == this) g_instance = nullptr;
}

CBrevantApp* CBrevantApp::instance() { return g_instance; }

Physical_DriveDialog* CBrevantApp::firstPage() const { return firstPage_.get(); }
WizardPage* CBrevantApp::visiblePage() const { return visiblePage_.data(); }
void CBrevantApp::setVisiblePage(WizardPage* page) { visiblePage_ = page; }

QString CBrevantApp::lockFilePath() const {
    QString dir = lockDirectory_;
    if (dir.isEmpty()) dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    // The backslash of the Windows name cannot stand in a file name.
    QString name = QString::fromLatin1(kInstanceLockName);
    name.replace(QLatin1Char('\\'), QLatin1Char('-'));
    return QDir(dir).filePath(name + QStringLiteral(".lock"));
}

bool CBrevantApp::startUp(const QStringList& images) {
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
    firstPage_ = std::make_unique<Physical_DriveDialog>();
    firstPage_->initPage();
    for (const QString& image : images) firstPage_->addImageFile(image);
    firstPage_->show();
    setVisiblePage(firstPage_.get());
    return true;
}

int CBrevantApp::run(const QStringList& images) {
    if (!startUp(images)) return 0;
    return QApplication::exec();
}

void CBrevantApp::endProcess(int code) {
    if (endHook) {
        endHook(code);
        return;
    }
    QCoreApplication::exit(code);
}

FileReadSeek* CBrevantApp::newReader() {
    selection.currentReader = std::make_unique<FileReadSeek>(&selection, nullptr);
    return selection.currentReader.get();
}

}  // namespace corvello::ui
