#pragma once
// The application object: the process-wide part of the selection record, the single-instance
// lock, start-up, and the places where later steps of the wizard plug in.
// (CBrevantApp in the original design.)

#include <QLockFile>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
#include <memory>

#include "device/DriveEnumeration.h"
#include "device/ScanSelection.h"

namespace corvello::ui {

class WizardPage;
class DriveTreePage;

// pkexec's exit codes when the user dismissed the authentication or was not authorised.
inline constexpr int kElevationDismissed = 126;
inline constexpr int kElevationRefused = 127;

inline constexpr const char* kApplicationTitle = "Corvello";
// The name of the single-instance lock (the named mutex of the Windows build).
inline constexpr const char* kInstanceLockName = "Global\\{QUILLMARKCorvello}";

// Builds the page that follows: the recovery-mode page (after the volume list or the volume
// information) or the raw-recovery page (after the volume list with "RAW" chosen). The page is
// created as a child of parent; return null when it cannot be created.
using PageFactory = std::function<WizardPage*(WizardPage* parent, int parentPageId)>;

class WizardApp {
public:
    // lockDirectory: where the single-instance lock file lives (default: the runtime folder).
    explicit WizardApp(QString lockDirectory = {});
    ~WizardApp();
    WizardApp(const WizardApp&) = delete;
    WizardApp& operator=(const WizardApp&) = delete;

    static WizardApp* instance();

    // Start-up: refuses a second copy ("Another instance of application is already running"),
    // otherwise makes and shows the first page with the given image files opened and the item
    // whose device path is `select` selected. Returns false when the application is to end at once.
    bool startUp(const QStringList& images = {}, const QString& select = {});
    // Start-up and the event loop; the process's exit code.
    int run(const QStringList& images = {}, const QString& select = {});

    // Raw devices without running the desktop as root: when drives cannot be opened the first
    // page offers to start the wizard again with administrator rights, through pkexec and the
    // polkit action the package installs. Not offered to a process that is root already.
    bool elevationPossible = false;
    // The arguments that bring back what the user chose: the image files opened, then
    // "--select" and the selected item's device path.
    QStringList restartArguments() const;
    // Starts this program again through pkexec with restartArguments(); this copy steps aside
    // (its pages hidden, its single-instance lock released) and ends with the new copy, or
    // comes back with a notice when the authentication was dismissed or refused, or the new
    // copy failed.
    void restartAsAdministrator();
    // The end of the elevated copy: its exit code (-1 for a crash), or pkexec's 126/127. 0 ends
    // this copy too; anything else shows the page again with a notice.
    void elevatedCopyFinished(int exitCode);
    // Tests replace the launch: it gets the program ("pkexec") and its arguments and returns
    // whether the process started.
    std::function<bool(const QString& program, const QStringList& arguments)> launchHook;

    // The local help the Help menu opens: the README delivered with the program (installed in
    // share/corvello/, or in the build tree's data folder); empty when there is none.
    static QString helpFilePath();
    // Shows the local help in a window of its own (the online guide when there is none).
    static void showHelp(QWidget* parent);

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

    DriveTreePage* firstPage() const;
    // The page the user sees now.
    WizardPage* visiblePage() const;
    void setVisiblePage(WizardPage* page);

private:
    QString lockDirectory_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<DriveTreePage> firstPage_;
    QPointer<WizardPage> visiblePage_;
};

}  // namespace corvello::ui
