// The wizard's first pages, driven as a user would, on a prepared machine whose one disk is the
// mbr-disk fixture.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <atomic>
#include <QToolButton>
#include <QTreeWidget>
#include <memory>

#include "UiTestSupport.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "ui/WizardApp.h"
#include "ui/PartitionScanModePage.h"
#include "ui/DriveTreePage.h"
#include "ui/VolumeListPage.h"
#include "ui/QtScanHost.h"
#include "ui/QtText.h"
#include "ui/SectorSpinBox.h"
#include "ui/VolumeInformationPage.h"

using namespace corvello;
using namespace corvello::ui;
using corvello::uitest::renderToPng;

namespace {

// Stands in for the later steps of the wizard.
class StubPage : public WizardPage {
    Q_OBJECT
public:
    StubPage(WizardPage* parent, int id) : WizardPage(parent, id, QStringLiteral("Next step"), true) {}
};

// A click on a check box or radio button where users click: on its box.
void clickBox(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2)); }

struct Wizard {
    uitest::FakeMachine machine;
    uitest::MessageLog log;
    QTemporaryDir lockDir;
    std::unique_ptr<WizardApp> app;
    QList<int> ended;
    QList<int> recoveryCreatedBy, rawCreatedBy;

    Wizard() {
        app = std::make_unique<WizardApp>(lockDir.path());
        app->systemRoots = machine.roots;
        app->endHook = [this](int code) { ended << code; };
        started = app->startUp();
    }
    void plugInLaterSteps() {
        app->recoveryModePage = [this](WizardPage* parent, int id) -> WizardPage* {
            recoveryCreatedBy << id;
            return new StubPage(parent, kRecoveryModePage);
        };
        app->rawRecoveryPage = [this](WizardPage* parent, int id) -> WizardPage* {
            rawCreatedBy << id;
            return new StubPage(parent, kRawRecoveryPage);
        };
    }
    DriveTreePage* first() const { return app->firstPage(); }
    template <class Page>
    Page* visible() const {
        return qobject_cast<Page*>(app->visiblePage());
    }
    QString device(const QString& name) const { return QString::fromStdString(machine.roots.devices) + "/" + name; }

    PartitionScanModePage* toPartitionScanMode() {
        first()->tree()->setCurrentItem(first()->drivesRoot()->child(0));
        QTest::mouseClick(first()->nextButton(), Qt::LeftButton);
        return visible<PartitionScanModePage>();
    }
    VolumeListPage* toVolumeList(bool advanced, const QString& start = {}, const QString& end = {}) {
        PartitionScanModePage* modes = toPartitionScanMode();
        if (modes == nullptr) return nullptr;
        if (advanced) clickBox(modes->advanceScan());
        if (!start.isEmpty()) {
            clickBox(modes->customSetting());
            modes->startingSector()->setText(start);
            modes->endingSector()->setText(end);
        }
        QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
        auto* page = visible<VolumeListPage>();
        if (page != nullptr && advanced) waitForScan(page);
        return page;
    }
    static void waitForScan(VolumeListPage* page) {
        QTRY_VERIFY_WITH_TIMEOUT(!page->scanRunning() && page->nextButton()->isEnabled(), 60000);
    }
    bool started = false;
};

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

QStringList rowTexts(QTableWidget* list, int row) {
    QStringList texts;
    for (int c = 0; c < list->columnCount(); ++c) texts << list->item(row, c)->text();
    return texts;
}

// FILE_SYSTEM and START_SECTOR of every partition, as sfdisk laid them out.
QList<QStringList> layout(const QString& name) {
    QFile f(uitest::fixture(name));
    f.open(QIODevice::ReadOnly);
    QList<QStringList> rows;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (!line.trimmed().isEmpty()) rows << QString::fromUtf8(line).split(QLatin1Char('\t'));
    return rows;
}

}  // namespace

class WizardTest : public QObject {
    Q_OBJECT
private slots:
    void firstPageListsTheMachine() {
        Wizard w;
        QVERIFY(w.started);
        DriveTreePage* first = w.first();
        QVERIFY(first->isVisible());
        QCOMPARE(first->windowTitle(), QStringLiteral("Corvello"));
        QCOMPARE(first->tree()->topLevelItem(0)->text(0), QStringLiteral("     VOLUMES:"));
        QCOMPARE(first->tree()->topLevelItem(1)->text(0), QStringLiteral("     PHYSICAL DRIVES:"));
        QVERIFY(first->volumesRoot()->isExpanded() && first->drivesRoot()->isExpanded());
        QCOMPARE(first->drivesRoot()->childCount(), 1);
        QCOMPARE(first->drivesRoot()->child(0)->text(0), QStringLiteral("ACME Corvello Test Disk"));
        QCOMPARE(first->volumesRoot()->childCount(), 1);
        QCOMPARE(first->volumesRoot()->child(0)->text(0), w.machine.mountPoint);

        // Help menu, tooltips.
        QStringList help;
        for (QAction* a : first->helpButton()->menu()->actions()) help << a->text();
        QCOMPARE(help, (QStringList{"Help", "Software Webpage", "About"}));
        QCOMPARE(first->helpButton()->toolTip(), QStringLiteral("Help"));
        QCOMPARE(first->nextButton()->toolTip(), QStringLiteral("Next"));
        QVERIFY(first->backButton() == nullptr);
        QVERIFY(first->statusLabel()->text().isEmpty());

        // An image file goes under the drives and is selected.
        QVERIFY(first->addImageFile(uitest::fixture("sample-disk.img")));
        QCOMPARE(first->drivesRoot()->childCount(), 2);
        QCOMPARE(first->selectedDevicePath(), uitest::fixture("sample-disk.img"));
        // The image of one volume goes with the volumes.
        QVERIFY(first->addImageFile(w.device("sdc1")));
        QCOMPARE(first->volumesRoot()->childCount(), 2);
        QCOMPARE(first->selectedItem()->parent(), first->volumesRoot());
        QCOMPARE(toUtf8(first->selectedLogicalVolume()->fileSystem), std::string("FAT32"));
        QCOMPARE(toUtf8(first->selectedLogicalVolume()->locator), w.device("sdc1").toStdString());
        QCOMPARE(toUtf8(first->selectedLogicalVolume()->sizeText), std::string("0  MB"));
        QVERIFY(!first->addImageFile(uitest::fixture("no-such.img")));
        QCOMPARE(w.log.notices.size(), 1);
        QVERIFY(w.log.notices[0].contains("no-such.img"));
        renderToPng(first, QStringLiteral("page-130-drives"));
        CQuillmarkAboutDlg about(first);
        renderToPng(&about, QStringLiteral("about"));
    }

    void machineWithoutReadableDrives() {
        // Nothing to list: the page says how to go on instead of showing an empty tree silently.
        uitest::MessageLog log;
        QTemporaryDir empty, lockDir;
        WizardApp app(lockDir.path());
        app.systemRoots.sysBlock = (empty.path() + "/sys/block").toStdString();
        app.systemRoots.devices = (empty.path() + "/dev").toStdString();
        app.systemRoots.mountInfo = (empty.path() + "/mountinfo").toStdString();
        QVERIFY(app.startUp());
        QCOMPARE(app.firstPage()->drivesRoot()->childCount(), 0);
        QCOMPARE(app.firstPage()->volumesRoot()->childCount(), 0);
        QVERIFY(app.firstPage()->statusLabel()->text().contains(QStringLiteral("Open disk image...")));
        renderToPng(app.firstPage(), QStringLiteral("page-130-no-drives"));
    }

    void nextNeedsADriveOrVolume() {
        Wizard w;
        DriveTreePage* first = w.first();
        for (QTreeWidgetItem* item : {static_cast<QTreeWidgetItem*>(nullptr), first->drivesRoot(), first->volumesRoot()}) {
            w.log.notices.clear();
            first->tree()->setCurrentItem(item);
            if (item == nullptr) first->tree()->clearSelection();
            QTest::mouseClick(first->nextButton(), Qt::LeftButton);
            QCOMPARE(w.log.notices, QStringList{"Please select a volume or a drive.."});
            QCOMPARE(w.app->visiblePage(), first);
            // A fresh, unopened reader is in place all the same.
            QVERIFY(w.app->reader() != nullptr);
            QVERIFY(!w.app->reader()->isOpen());
        }
    }

    void pageChainForwardAndBack() {
        Wizard w;
        DriveTreePage* first = w.first();
        PartitionScanModePage* modes = w.toPartitionScanMode();
        QVERIFY(modes != nullptr);
        QVERIFY(!first->isVisible());
        QVERIFY(modes->isVisible());
        QCOMPARE(modes->parentWidget(), first);
        QCOMPARE(modes->parentPageId, int(kDriveTreePage));
        QCOMPARE(modes->windowTitle(), QStringLiteral("Corvello"));
        QCOMPARE(modes->devicePath, w.device("sdb"));
        QCOMPARE(modes->selectedDrive()->text(), w.device("sdb"));
        QVERIFY(!w.app->selection.isVolume);
        QVERIFY(w.app->reader()->isOpen());
        QVERIFY(modes->standardScan()->isChecked());
        QVERIFY(!modes->doNotSkipVolumeSize()->isEnabled());
        QVERIFY(!modes->customSetting()->isEnabled());
        QVERIFY(!modes->startingSector()->isEnabled());
        QCOMPARE(modes->startingSector()->text(), QStringLiteral("0"));
        renderToPng(modes, QStringLiteral("page-152-partition-scan-mode"));

        // Standard scan: the partition table of the disk, in table order.
        QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
        QPointer<VolumeListPage> list = w.visible<VolumeListPage>();
        QVERIFY(list != nullptr);
        QCOMPARE(list->parentPageId, int(kPartitionScanModePage));
        QCOMPARE(list->scanMode, 1);
        QVERIFY(!modes->isVisible());
        const QList<QStringList> expected = layout("mbr-disk.layout");
        QCOMPARE(list->list()->rowCount(), expected.size());
        for (int row = 0; row < expected.size(); ++row) {
            const QStringList texts = rowTexts(list->list(), row);
            QCOMPARE(texts[0], QString::number(row));
            QCOMPARE(texts[1], expected[row][0]);
            QCOMPARE(texts[3], expected[row][1]);
        }
        QCOMPARE(rowTexts(list->list(), 0), (QStringList{"0", "FAT16", "16   MB", "2048"}));
        QCOMPARE(list->statusText()->text(), QStringLiteral("Select volume and click next button..."));
        QVERIFY(list->addCustomButton()->isHidden());
        QVERIFY(list->stopButton()->isHidden());
        QVERIFY(list->filterButton()->isEnabled());
        QVERIFY(list->customCheck()->isEnabled());
        QVERIFY(!list->startSector()->isEnabled());
        QCOMPARE(list->backButton()->toolTip(), QStringLiteral("Back"));
        list->list()->selectRow(1);
        renderToPng(list, QStringLiteral("page-134-volume-list-standard"));

        // Back destroys the page; Next builds a new list from scratch.
        list->list()->setRowCount(0);
        QTest::mouseClick(list->backButton(), Qt::LeftButton);
        QVERIFY(modes->isVisible());
        QCOMPARE(w.app->visiblePage(), modes);
        flushDeletes();
        QVERIFY(list.isNull());
        QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
        QPointer<VolumeListPage> again = w.visible<VolumeListPage>();
        QVERIFY(again != nullptr);
        QCOMPARE(again->list()->rowCount(), expected.size());
        QVERIFY(!again->customApplied);

        // Back twice reaches the first page.
        QTest::mouseClick(again->backButton(), Qt::LeftButton);
        QTest::mouseClick(modes->backButton(), Qt::LeftButton);
        QVERIFY(first->isVisible());
        flushDeletes();
        QCOMPARE(first->findChildren<WizardPage*>().size(), 0);
    }

    void laterStepsPlugIn() {
        Wizard w;
        VolumeListPage* list = w.toVolumeList(false);
        QVERIFY(list != nullptr);

        // Without the later steps the user is told, and stays.
        list->list()->selectRow(2);
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices, QStringList{QString::fromLatin1(kRecoveryModeUnavailable)});
        QCOMPARE(w.app->visiblePage(), list);
        QCOMPARE(toUtf8(list->selectedVolume->fileSystem), std::string("FAT32"));

        w.plugInLaterSteps();
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        auto* next = w.visible<StubPage>();
        QVERIFY(next != nullptr);
        QCOMPARE(next->pageId(), int(kRecoveryModePage));
        QCOMPARE(next->parentPageId, int(kVolumeListPage));
        QCOMPARE(w.recoveryCreatedBy, QList<int>{kVolumeListPage});
        QVERIFY(!list->isVisible());
        QTest::mouseClick(next->backButton(), Qt::LeftButton);
        QCOMPARE(w.app->visiblePage(), list);
    }

    void gptDiskImageOpenedByTheUser() {
        Wizard w;
        DriveTreePage* first = w.first();
        QVERIFY(first->addImageFile(uitest::fixture("gpt-disk.img")));
        QTest::mouseClick(first->nextButton(), Qt::LeftButton);
        auto* modes = w.visible<PartitionScanModePage>();
        QVERIFY(modes != nullptr);
        QCOMPARE(modes->devicePath, uitest::fixture("gpt-disk.img"));
        clickBox(modes->gptFormat());
        QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
        auto* list = w.visible<VolumeListPage>();
        QVERIFY(list != nullptr);
        QVERIFY(list->gptFormat);
        const QList<QStringList> expected = layout("gpt-disk.layout");
        QCOMPARE(list->list()->rowCount(), expected.size());
        for (int row = 0; row < expected.size(); ++row) {
            QCOMPARE(list->list()->item(row, 1)->text(), expected[row][0]);
            QCOMPARE(list->list()->item(row, 3)->text(), expected[row][1]);
        }
        QVERIFY(w.log.notices.isEmpty());
    }

    void workerReportsReachTheUiThread() {
        uitest::MessageLog log;
        log.answer = true;
        QWidget page;
        QtScanHost host(&page);
        QStringList statuses;
        QList<bool> onUiThread;
        connect(&host, &QtScanHost::statusText, &page, [&](const QString& text) {
            statuses << text;
            onUiThread << (QThread::currentThread() == page.thread());
        });
        std::atomic<bool> answer{false};
        std::unique_ptr<QThread> worker(QThread::create([&] {
            host.setStatus("found FAT 32...");
            host.notice("a notice");
            answer = host.question("a question?");
        }));
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 10000);
        QVERIFY(answer.load());
        QCOMPARE(log.notices, QStringList{"a notice"});
        QCOMPARE(log.questions, QStringList{"a question?"});
        QTRY_COMPARE(statuses, QStringList{"found FAT 32..."});
        QCOMPARE(onUiThread, QList<bool>{true});
    }

    void pageThatGoesDoesNotWaitForAnAnswerItCannotGive() {
        uitest::MessageLog log;
        QWidget page;
        QtScanHost host(&page);
        std::atomic<int> answer{-1};
        std::unique_ptr<QThread> worker(QThread::create([&] { answer = host.question("Go on?") ? 1 : 0; }));
        worker->start();
        QThread::msleep(100);  // no events processed: the worker now waits for the user interface
        // The page goes away without letting the question be asked: the worker gets No.
        host.abandonWaiting();
        QVERIFY(worker->wait(5000));
        QCOMPARE(answer.load(), 0);
        QCoreApplication::processEvents();
        QVERIFY(log.questions.isEmpty());
    }

    void volumeInformationPage() {
        Wizard w;
        DriveTreePage* first = w.first();
        first->tree()->setCurrentItem(first->volumesRoot()->child(0));
        QTest::mouseClick(first->nextButton(), Qt::LeftButton);
        auto* info = w.visible<VolumeInformationPage>();
        QVERIFY(info != nullptr);
        QVERIFY(w.app->selection.isVolume);
        QCOMPARE(info->parentPageId, int(kDriveTreePage));
        QCOMPARE(info->volumeName()->text(), w.machine.mountPoint);
        QCOMPARE(info->volumeFileSystem()->text(), QStringLiteral("FAT32"));
        QVERIFY(info->volumeSize()->text().endsWith(QStringLiteral("  MB")));
        QCOMPARE(info->selectedItemText()->text(), w.machine.mountPoint);
        QVERIFY(info->selectedVolume == &first->logicalVolumes[0]);
        QCOMPARE(toUtf8(info->selectedVolume->locator), w.device("sdc1").toStdString());
        QVERIFY(info->nextButton()->isEnabled());
        renderToPng(info, QStringLiteral("page-135-volume-information"));

        QTest::mouseClick(info->nextButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices, QStringList{QString::fromLatin1(kRecoveryModeUnavailable)});
        w.plugInLaterSteps();
        QTest::mouseClick(info->nextButton(), Qt::LeftButton);
        QCOMPARE(w.recoveryCreatedBy, QList<int>{kVolumeInformationPage});
        QCOMPARE(w.visible<StubPage>()->parentPageId, int(kVolumeInformationPage));
    }

    void advancedScanOnAWorker() {
        Wizard w;
        VolumeListPage* list = w.toVolumeList(true);
        QVERIFY(list != nullptr);
        QCOMPARE(list->scanMode, 2);
        // Every boot record of the disk: the partitions but the ext one, which has none.
        QList<QStringList> expected;
        for (const QStringList& row : layout("mbr-disk.layout"))
            if (row[0] != "extX") expected << row;
        QCOMPARE(list->list()->rowCount(), expected.size());
        for (int row = 0; row < expected.size(); ++row) {
            QCOMPARE(list->list()->item(row, 0)->text(), QString::number(row));
            QCOMPARE(list->list()->item(row, 1)->text(), expected[row][0]);
            QCOMPARE(list->list()->item(row, 3)->text(), expected[row][1]);
        }
        QCOMPARE(list->list()->item(0, 2)->text(), QStringLiteral("16  MB"));
        QCOMPARE(int(list->volumes.size()), expected.size());
        QCOMPARE(w.log.notices, QStringList{"populated partitions...."});
        QCOMPARE(list->statusText()->text(), QStringLiteral("Select volume and click next button..."));
        QVERIFY(list->backButton()->isEnabled());
        QVERIFY(list->addCustomButton()->isEnabled());
        QVERIFY(list->customCheck()->isEnabled());
        QVERIFY(list->stopButton()->isHidden());
        QVERIFY(list->progress()->isHidden());

        // Add Custom Volume: a first row that the custom settings fill in.
        QTest::mouseClick(list->addCustomButton(), Qt::LeftButton);
        QCOMPARE(rowTexts(list->list(), 0), (QStringList{QString::number(expected.size()), "CUSTOM ", "0", "0"}));
        QVERIFY(list->customCheck()->isChecked());
        QVERIFY(list->startSector()->isEnabled());
        QCOMPARE(list->list()->currentRow(), 0);
        QCOMPARE(list->startSector()->text(), QStringLiteral("0"));
        QCOMPARE(list->endSector()->text(), QStringLiteral("0"));
        renderToPng(list, QStringLiteral("page-134-volume-list-advanced"));

        w.plugInLaterSteps();
        list->startSector()->setText(QStringLiteral("2048"));
        list->endSector()->setText(QStringLiteral("34815"));
        list->treatAs()->setCurrentText(QStringLiteral("FAT16"));
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        QVERIFY(w.visible<StubPage>() != nullptr);
        QCOMPARE(toUtf8(list->selectedVolume->fileSystem), std::string("fat16"));
        QCOMPARE(toUtf8(list->selectedVolume->sizeText), std::string("16"));
        QCOMPARE(list->selectedVolume->startSector, 2048);
    }

    void customRangeOfTheAdvancedScan() {
        struct Case {
            QString start, end;
            QStringList starts;
        } cases[] = {
            {"30000", "70000", {"34816", "61440"}},
            // A negative end leaves the range unset: the whole disk.
            {"30000", "-5", {"2048", "34816", "61440", "155648"}},
            {"0", "2047", {}},
        };
        for (const Case& c : cases) {
            Wizard w;
            VolumeListPage* list = w.toVolumeList(true, c.start, c.end);
            QVERIFY(list != nullptr);
            QStringList starts;
            for (int row = 0; row < list->list()->rowCount(); ++row) starts << list->list()->item(row, 3)->text();
            QCOMPARE(starts, c.starts);
            // With no volume found the custom settings stay off.
            QCOMPARE(list->customCheck()->isEnabled(), !c.starts.isEmpty());
        }
    }

    void stopThenBackWaitsForTheWorker() {
        Wizard w;
        PartitionScanModePage* modes = w.toPartitionScanMode();
        clickBox(modes->advanceScan());
        clickBox(modes->doNotSkipVolumeSize());  // the slowest scan
        QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
        QPointer<VolumeListPage> list = w.visible<VolumeListPage>();
        QVERIFY(list != nullptr);
        QVERIFY(list->doNotSkipVolumeSize);
        if (list->scanRunning()) {
            QVERIFY(!list->backButton()->isEnabled());
            QVERIFY(!list->nextButton()->isEnabled());
            QVERIFY(!list->addCustomButton()->isEnabled());
        }
        renderToPng(list, QStringLiteral("page-134-volume-list-scanning"));
        QTest::mouseClick(list->stopButton(), Qt::LeftButton);
        QVERIFY(list->backButton()->isEnabled());
        QTest::mouseClick(list->backButton(), Qt::LeftButton);
        QVERIFY(modes->isVisible());
        flushDeletes();
        QVERIFY(list.isNull());
        // Nothing of the stopped scan reaches the user afterwards.
        QTest::qWait(50);
        QVERIFY(!w.log.notices.contains("populated partitions...."));
    }

    void volumeListSelectionAndCustomSettings() {
        Wizard w;
        w.plugInLaterSteps();
        VolumeListPage* list = w.toVolumeList(false);
        QVERIFY(list != nullptr);

        // Selecting a row shows its start and end; a click picks its file system for the override.
        list->list()->selectRow(0);
        QCOMPARE(list->selectedVolumeText()->text(), QStringLiteral("0"));
        QCOMPARE(list->startSector()->text(), QStringLiteral("2048"));
        QCOMPARE(list->endSector()->text(), QString::number(2048 + 16 * 2048 - 1));
        QCOMPARE(list->treatAs()->currentIndex(), -1);
        emit list->list()->cellClicked(3, 0);
        QCOMPARE(list->treatAs()->currentText(), QStringLiteral("EXTX"));
        QStringList entries;
        for (int i = 0; i < list->treatAs()->count(); ++i) entries << list->treatAs()->itemText(i);
        QCOMPARE(entries, (QStringList{"EXTX", "FAT16", "FAT32", "FAT64", "HFS+", "NTFS", "RAW"}));

        // Spin buttons: up adds one, down stops at 0.
        list->startSector()->stepBy(1);
        QCOMPARE(list->startSector()->text(), QStringLiteral("2049"));
        list->endSector()->setText(QStringLiteral("1"));
        list->endSector()->stepBy(-1);
        list->endSector()->stepBy(-1);
        QCOMPARE(list->endSector()->text(), QStringLiteral("0"));

        // Custom start 100 and end 99: no size.
        list->list()->selectRow(0);
        clickBox(list->customCheck());
        QVERIFY(list->treatAs()->isEnabled());
        list->startSector()->setText(QStringLiteral("100"));
        list->endSector()->setText(QStringLiteral("99"));
        list->treatAs()->setCurrentText(QStringLiteral("NTFS"));
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        auto* next = w.visible<StubPage>();
        QVERIFY(next != nullptr);
        QCOMPARE(toUtf8(list->selectedVolume->sizeText), std::string("0"));
        QCOMPARE(toUtf8(list->selectedVolume->fileSystem), std::string("ntfs"));
        QCOMPARE(list->selectedVolume->startSector, 100);
        QVERIFY(list->customApplied);

        // Back, custom settings off, Next: the record shows its row again.
        QTest::mouseClick(next->backButton(), Qt::LeftButton);
        clickBox(list->customCheck());
        list->treatAs()->setCurrentIndex(-1);
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        QVERIFY(w.visible<StubPage>() != nullptr);
        QCOMPARE(toUtf8(list->selectedVolume->fileSystem), std::string("FAT16"));
        QCOMPARE(toUtf8(list->selectedVolume->sizeText), std::string("16"));
        QCOMPARE(toUtf8(list->selectedVolume->locator), std::string("0"));
        QCOMPARE(list->selectedVolume->startSector, 2048);
        QTest::mouseClick(w.visible<StubPage>()->backButton(), Qt::LeftButton);

        // "RAW" leads to raw recovery, never to the recovery mode.
        w.recoveryCreatedBy.clear();
        clickBox(list->customCheck());
        list->treatAs()->setCurrentText(QStringLiteral("RAW"));
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        QCOMPARE(w.rawCreatedBy, QList<int>{kVolumeListPage});
        QVERIFY(w.recoveryCreatedBy.isEmpty());
        QCOMPARE(w.visible<StubPage>()->pageId(), int(kRawRecoveryPage));
        QCOMPARE(toUtf8(list->selectedVolume->fileSystem), std::string("RAW"));
        QTest::mouseClick(w.visible<StubPage>()->backButton(), Qt::LeftButton);
        w.app->rawRecoveryPage = nullptr;
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QString::fromLatin1(kRawRecoveryUnavailable));
        QCOMPARE(w.app->visiblePage(), list);

        // No row: asked to pick one. An unknown volume cannot be parsed.
        list->list()->clearSelection();
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QStringLiteral("please select a valid volume."));
        clickBox(list->customCheck());
        list->treatAs()->setCurrentIndex(-1);
        VolumeRecord unknown;
        unknown.fileSystem = u"Unknown";
        unknown.locator = u"5";
        unknown.sizeText = u"1";
        unknown.startSector = 9;
        list->scanHost()->appendVolume(unknown);
        list->list()->selectRow(list->list()->rowCount() - 1);
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QStringLiteral("can not parse unknown volume"));
        QCOMPARE(w.app->visiblePage(), list);

        // Sizes and sectors at the limits of 64 bits neither overflow nor wrap.
        VolumeRecord huge;
        huge.fileSystem = u"linux data";
        huge.locator = u"6";
        huge.sizeText = u"9223372036854775807";
        huge.startSector = 4096;
        list->scanHost()->appendVolume(huge);
        list->list()->selectRow(list->list()->rowCount() - 1);
        QCOMPARE(list->endSector()->text(), QStringLiteral("9223372036854775807"));
        clickBox(list->customCheck());
        list->startSector()->setText(QStringLiteral("-9223372036854775808"));
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        QCOMPARE(toUtf8(list->selectedVolume->sizeText), std::to_string(INT64_MAX / 2048));
    }

    void filterEntries() {
        Wizard w;
        VolumeListPage* list = w.toVolumeList(false);
        QVERIFY(list != nullptr);
        auto record = [](std::int64_t start) {
            VolumeRecord r;
            r.fileSystem = u"FAT32";
            r.sizeText = u"8  MB";
            r.startSector = start;
            return r;
        };
        list->volumes = {record(63), record(64), record(2048)};
        QTest::mouseClick(list->filterButton(), Qt::LeftButton);
        QCOMPARE(list->list()->rowCount(), 1);
        QCOMPARE(rowTexts(list->list(), 0), (QStringList{"1", "FAT32", "8  MB", "64"}));
        list->volumes = {record(63)};
        QTest::mouseClick(list->filterButton(), Qt::LeftButton);
        QCOMPARE(list->list()->rowCount(), 0);
    }

    void closeIsConfirmed() {
        Wizard w;
        PartitionScanModePage* modes = w.toPartitionScanMode();
        w.log.answer = false;
        modes->close();
        QTest::keyClick(modes, Qt::Key_Escape);
        QCOMPARE(w.log.questions,
                 (QStringList{"Do you want to Close Application ?", "Do you want to Close Application ?"}));
        QVERIFY(w.ended.isEmpty());
        QVERIFY(modes->isVisible());
        QCOMPARE(w.app->visiblePage(), modes);
        w.log.answer = true;
        modes->close();
        QCOMPARE(w.ended, QList<int>{0});
        // The OK command ends without asking.
        w.log.questions.clear();
        modes->accept();
        QCOMPARE(w.ended, (QList<int>{0, 0}));
        QVERIFY(w.log.questions.isEmpty());
    }

    void secondInstanceIsRefused() {
        uitest::FakeMachine machine;
        uitest::MessageLog log;
        QTemporaryDir lockDir;
        WizardApp first(lockDir.path());
        first.systemRoots = machine.roots;
        QVERIFY(first.startUp());
        QVERIFY(QFile::exists(first.lockFilePath()));
        {
            WizardApp second(lockDir.path());
            second.systemRoots = machine.roots;
            QVERIFY(!second.startUp());
            QVERIFY(second.firstPage() == nullptr);
        }
        QCOMPARE(log.notices, QStringList{"Another instance of application is already running"});
        QCOMPARE(WizardApp::instance(), &first);
        QVERIFY(first.firstPage()->isVisible());
        QVERIFY(QFile::exists(first.lockFilePath()));
    }

    void lockOfAFinishedCopyIsTakenOver() {
        uitest::FakeMachine machine;
        uitest::MessageLog log;
        QTemporaryDir lockDir;
        WizardApp app(lockDir.path());
        app.systemRoots = machine.roots;
        {
            // A lock file left behind by a copy that crashed: its process no longer exists.
            QFile stale(app.lockFilePath());
            QVERIFY(stale.open(QIODevice::WriteOnly));
            stale.write("2147483600\ncorvello\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        }
        QVERIFY(app.startUp());
        QVERIFY(log.notices.isEmpty());
    }
};

CORVELLO_UI_TEST(WizardTest);

#include "Wizard_qtest.moc"
