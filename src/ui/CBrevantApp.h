#pragma once
// The application object: the process-wide part of the selection record, the single-instance
// lock, start-up, and the places where later steps of the wizard plug in.

#include <QLockFile>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "device/DriveEnumeration.h"
#include "device/ScanSelection.h"

namespace corvello::ui {

class WizardPage;
class Physical_DriveDialog;

inline constexpr const char* kApplicationTitle = "Corvello";
// The name of the single-instance lock (the named mutex of the Windows build).
inline constexpr const char* kInstanceLockName = "Global\\{QUILLMARKCorvello}";

// Builds the page that follows: the recovery-mode page (after the volume list or the volume
// information) or the raw-recovery page (after the volume list with "RAW" chosen). The page is
// created as a child of parent; return null when it cannot be created.
using PageFactory = std::function<WizardPage*(WizardPage* parent, int parentPageId)>;

class CBrevantApp {
public:
    // lockDirectory: where the single-instance lock file lives (default: the runtime folder).
    explicit CBrevantApp(QString lockDirectory = {});
    ~CBrevantApp();
    CBrevantApp(const CBrevantApp&) = delete;
    CBrevantApp& operator=(const CBrevantApp&) = delete;

    static CBrevantApp* instance();

    // Start-up: refuses a second copy ("Another instance of application is already running"),
    // otherwise makes and shows the first page with the given image files opened. Returns
    // false when the application is to end at once.
    bool startUp(const QStringList& images = {});
    // Start-up and the event loop; the process's exit code.
    int run(const QStringList& images = {});

    // Ends the application (exit code 0): used by the close question's Yes and the OK command.
    void endProcess(int code = 0);
    // Tests replace the ending of the process.
    std::function<void(int)> endHook;

    // Replaces the current reader by a new, unopened one.
    FileReadSeek* newReader();
    FileReadSeek* reader() { return selection.currentReader.get(); }

    QString lockFilePath() const;

    ScanSelection selection;                 // currentReader, totalSectors, isVolume, ...
    SystemRoots systemRoots;                 // where the drive listing looks
    PageFactory recoveryModePage;            // the recovery-mode step; empty until it exists
    PageFactory rawRecoveryPage;             // the raw-recovery step; empty until it exists

    Physical_DriveDialog* firstPage() const;
    // The page the user sees now.
    WizardPage* visiblePage() const;
    void setVisiblePage(WizardPage* page);

private:
    QString lockDirectory_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<Physical_DriveDialog> firstPage_;
    QPointer<WizardPage> visiblePage_;
};

}  // namespace corvello::ui
