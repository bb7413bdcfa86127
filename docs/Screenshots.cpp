// corvello-screenshots: walks the wizard through the bundled sample disk offscreen and renders
// each page to a PNG, as the wizard's tests render theirs (scripts/screenshots runs it).
//   corvello-screenshots SAMPLE_DISK_IMAGE OUTPUT_FOLDER
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <functional>

#include "ui/WizardApp.h"
#include "ui/CheckList.h"
#include "ui/CheckTree.h"
#include "ui/PartitionScanModePage.h"
#include "ui/MessageBoxes.h"
#include "ui/RecoveryModePage.h"
#include "ui/DriveTreePage.h"
#include "ui/VolumeListPage.h"
#include "ui/RawRecoveryDialog.h"
#include "ui/ScanPage.h"
#include "ui/WizardSteps.h"

using namespace corvello::ui;

namespace {

QString outDir;
int failures = 0;

void render(QWidget* page, const char* name) {
    if (page == nullptr) {
        std::fprintf(stderr, "corvello-screenshots: no page for %s\n", name);
        ++failures;
        return;
    }
    QCoreApplication::processEvents();
    const QString path = QDir(outDir).filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    if (!page->grab().save(path)) {
        std::fprintf(stderr, "corvello-screenshots: cannot write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// Runs the event loop until done() holds (at most two minutes).
bool waitUntil(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 120000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    QCoreApplication::processEvents();
    return done();
}

template <class Page>
Page* visible(WizardApp& app) {
    return qobject_cast<Page*>(app.visiblePage());
}

// A machine with no drives of its own: the pictures show the sample only.
struct EmptyMachine {
    QTemporaryDir dir;
    corvello::SystemRoots roots() const {
        corvello::SystemRoots r;
        r.sysBlock = (dir.path() + "/sys/block").toStdString();
        r.devices = (dir.path() + "/dev").toStdString();
        r.mountInfo = (dir.path() + "/mountinfo").toStdString();
        return r;
    }
};

// The sample disk under the physical drives, its partition table, the volume list.
VolumeListPage* toVolumeList(WizardApp& app) {
    app.firstPage()->nextButton()->click();
    auto* modes = visible<PartitionScanModePage>(app);
    render(modes, "2-partition-scan-mode");
    if (modes == nullptr) return nullptr;
    modes->nextButton()->click();
    auto* list = visible<VolumeListPage>(app);
    if (list != nullptr) list->list()->selectRow(0);
    return list;
}

void standardScan(const QString& sample, const EmptyMachine& machine, const QString& lockDir) {
    WizardApp app(lockDir);
    app.systemRoots = machine.roots();
    app.endHook = [](int) {};
    installWizardSteps(app);
    if (!app.startUp({sample})) return;
    render(app.firstPage(), "1-drives");
    VolumeListPage* list = toVolumeList(app);
    render(list, "3-volume-list");
    if (list == nullptr) return;
    list->nextButton()->click();
    auto* mode = visible<RecoveryModePage>(app);
    render(mode, "4-recovery-mode");
    if (mode == nullptr) return;
    mode->nextButton()->click();
    auto* scan = visible<ScanPage>(app);
    if (scan == nullptr || !waitUntil([scan] { return !scan->workerRunning(); })) {
        render(nullptr, "5-scan-results");
        return;
    }
    // The folders open, the first one's files listed.
    CheckTree* tree = scan->tree();
    if (tree->topLevelItemCount() > 0) {
        QTreeWidgetItem* root = tree->topLevelItem(0);
        tree->expandItem(root);
        if (root->childCount() > 0) {
            tree->expandItem(root->child(0));
            scan->onLabelClicked(root->child(0));
        }
    }
    render(scan, "5-scan-results");
    scan->searchEdit()->setText(QStringLiteral("jpg"));
    scan->searchButton()->click();
    waitUntil([scan] { return !scan->workerRunning(); });
    render(scan, "6-search-results");
}

void rawRecovery(const QString& sample, const EmptyMachine& machine, const QString& lockDir) {
    WizardApp app(lockDir);
    app.systemRoots = machine.roots();
    app.endHook = [](int) {};
    installWizardSteps(app);
    if (!app.startUp({sample})) return;
    VolumeListPage* list = toVolumeList(app);
    if (list == nullptr) return;
    list->customCheck()->click();
    list->treatAs()->setCurrentText(QStringLiteral("RAW"));
    list->nextButton()->click();
    auto* raw = visible<RawRecoveryDialog>(app);
    if (raw == nullptr) {
        render(nullptr, "7-raw-recovery");
        return;
    }
    bool ended = false;
    QObject::connect(raw, &RawRecoveryDialog::runEnded, raw, [&ended] { ended = true; });
    raw->parseButton()->click();
    waitUntil([&ended] { return ended; });
    render(raw, "7-raw-recovery");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: corvello-screenshots SAMPLE_DISK_IMAGE OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvello"));
    const QString sample = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    outDir = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(outDir);
    // Questions are answered Yes, notices are printed.
    setMessageHandler([](MessageKind kind, const QString& text) {
        if (kind == MessageKind::Notice) std::fprintf(stderr, "notice: %s\n", qPrintable(text));
        return true;
    });
    EmptyMachine machine;
    QTemporaryDir lockDir;
    standardScan(sample, machine, lockDir.path());
    rawRecovery(sample, machine, lockDir.path());
    return failures == 0 ? 0 : 1;
}
