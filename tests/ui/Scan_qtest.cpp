// The wizard's recovery-mode, advanced-input and scan pages, driven as a user would on the
// committed fixture volumes; the tree the scan page fills is checked against the scan layer's
// own results for the same volume and mode (what corvello-cli list prints).
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QCheckBox>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <QXmlStreamReader>
#include <sstream>
#include <memory>

#include "UiTestSupport.h"
#include "cli/Cli.h"
#include "common/MemoryResultTree.h"
#include "common/MemoryScanHost.h"
#include "common/Text.h"
#include "device/FileReadSeek.h"
#include "device/ScanSelection.h"
#include "scan/Candidates.h"
#include "scan/SaveWalk.h"
#include "scan/Scan.h"
#include "ui/WizardApp.h"
#include "ui/CheckList.h"
#include "ui/CheckTree.h"
#include "ui/PartitionScanModePage.h"
#include "ui/ExportList.h"
#include "ui/RecoveryModePage.h"
#include "ui/DriveTreePage.h"
#include "ui/VolumeListPage.h"
#include "ui/QtResultTree.h"
#include "ui/QtScanHost.h"
#include "ui/QtText.h"
#include "ui/VolumeInformationPage.h"
#include "ui/ScanPage.h"
#include "ui/WizardSteps.h"
#include "ui/AdvancedInputPage.h"

using namespace corvello;
using namespace corvello::ui;
using corvello::uitest::renderToPng;

namespace {

constexpr int kLongWait = 120000;
const QString kScanDone = QStringLiteral("Scanning processing done.Select save button to save the data.");

QString volumeImage(const QString& name) {
    if (name == QLatin1String("hfsplus.raw")) return QStringLiteral(CORVELLO_SHARED_FIXTURES "/hfsplus.raw");
    return uitest::fixture(name);
}

// The whole wizard with its later steps, on a prepared machine.
struct Wizard {
    uitest::FakeMachine machine;
    uitest::MessageLog log;
    QTemporaryDir lockDir;
    std::unique_ptr<WizardApp> app;
    QList<int> ended;

    Wizard() {
        app = std::make_unique<WizardApp>(lockDir.path());
        app->systemRoots = machine.roots;
        app->endHook = [this](int code) { ended << code; };
        installWizardSteps(*app);
        app->startUp();
    }
    template <class Page>
    Page* visible() const {
        return qobject_cast<Page*>(app->visiblePage());
    }
    // The first page with a volume image opened, Next, then Next on the volume information.
    RecoveryModePage* toRecoveryMode(const QString& image) {
        if (!app->firstPage()->addImageFile(image)) return nullptr;
        QTest::mouseClick(app->firstPage()->nextButton(), Qt::LeftButton);
        auto* info = visible<VolumeInformationPage>();
        if (info == nullptr) return nullptr;
        QTest::mouseClick(info->nextButton(), Qt::LeftButton);
        return visible<RecoveryModePage>();
    }
};

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

bool waitForScan(ScanPage* page, int timeout = kLongWait) {
    QElapsedTimer t;
    t.start();
    while (page->scanInProgress && page->workerRunning() && t.elapsed() < timeout) QTest::qWait(20);
    while (page->workerRunning() && t.elapsed() < timeout) QTest::qWait(20);
    QCoreApplication::processEvents();
    return !page->workerRunning();
}

bool waitForSearch(AdvancedInputPage* page, int timeout = kLongWait) {
    QElapsedTimer t;
    t.start();
    while (page->searchRunning() && t.elapsed() < timeout) QTest::qWait(20);
    QCoreApplication::processEvents();
    return !page->searchRunning();
}

// One top-level entry as a tree shows it.
struct Shown {
    QString text;
    bool deleted = false;
    bool expandable = false;  // has children (the "..DUMY.." placeholder)
    bool operator==(const Shown& o) const { return text == o.text && deleted == o.deleted && expandable == o.expandable; }
};

QString describe(const QList<Shown>& list) {
    QStringList out;
    for (const Shown& s : list) out << QStringLiteral("%1%2%3").arg(s.text, s.deleted ? " (red)" : "", s.expandable ? " +" : "");
    return out.join(QStringLiteral(", "));
}

QList<Shown> shownInWidget(CheckTree* tree) {
    QList<Shown> out;
    if (tree->topLevelItemCount() == 0) return out;
    QTreeWidgetItem* root = tree->topLevelItem(0);
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem* item = root->child(i);
        out << Shown{item->text(0), tree->itemTextColor(item) == kDeletedTextColor, item->childCount() > 0};
    }
    return out;
}

// The same volume and mode through the scan layer, as corvello-cli list runs it.
struct LayerScan {
    ScanSelection selection;
    FileReadSeek reader{&selection, nullptr};
    MemoryScanHost host;
    MemoryResultTree tree;
    std::unique_ptr<ScanSession> session;

    LayerScan(const QString& image, const ScanRequest& like) {
        reader.open(image.toStdString());
        ScanRequest request = like;
        request.reader = &reader;
        session = runScan(request, host, tree);
        if (session) completeScan(*session, tree, host);
    }
    QList<Shown> shown() const {
        QList<Shown> out;
        if (!session) return out;
        for (TreeItem item : tree.children(session->rootItem()))
            out << Shown{qs(tree.itemText(item)), tree.itemColor(item) == kDeletedColor, !tree.children(item).empty()};
        return out;
    }
    // The top-level lines of corvello-cli list: the names the walk gives the entries.
    QStringList listedTopLevel() const {
        QStringList out;
        walkEntries(*session, topLevelRecords(*session, tree), 0, [&](const ListedEntry& e) {
            if (e.path.find('/') == std::string::npos) out << QString::fromStdString(e.path);
        });
        return out;
    }
};

ScanRequest requestOf(ScanPage* page, std::int64_t maxCandidates = 3) {
    ScanRequest r;
    r.volume = page->volume;
    r.mode = static_cast<RecoveryMode>(page->recoveryMode);
    r.maxCandidates = maxCandidates;
    if (r.mode == RecoveryMode::Advanced) {
        QComboBox* tfs = page->hiddenTfsList();
        if (tfs->currentIndex() >= 0) r.candidateIndex = tfs->currentData().toLongLong();
        if (page->hiddenHeapList()->currentIndex() >= 0) r.heapIndex = page->hiddenHeapList()->currentData().toLongLong();
        r.sectorsPerCluster = static_cast<std::uint32_t>(page->hiddenClusterList()->currentText().toUInt());
    }
    return r;
}

}  // namespace

class ScanPagesTest : public QObject {
    Q_OBJECT
private slots:
    void recoveryModesOfferedPerFileSystem_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("offered");
        QTest::newRow("NTFS") << "ntfs-basic.img" << "Standard Advanced Deep";
        QTest::newRow("FAT16") << "fat16-2k.img" << "Standard Advanced";
        QTest::newRow("FAT32") << "fat32-512.img" << "Standard Advanced";
        QTest::newRow("exFAT") << "exfat-4k.img" << "Standard Advanced";
        QTest::newRow("ext") << "ext4-4k.img" << "Standard";
        QTest::newRow("HFS+") << "hfsplus.raw" << "Standard Deep";
    }
    void recoveryModesOfferedPerFileSystem() {
        QFETCH(QString, image);
        QFETCH(QString, offered);
        Wizard w;
        RecoveryModePage* page = w.toRecoveryMode(volumeImage(image));
        QVERIFY(page != nullptr);
        QCOMPARE(page->parentPageId, int(kVolumeInformationPage));
        QStringList shown;
        for (QRadioButton* r : {page->standardMode(), page->advancedMode(), page->deepMode()})
            if (r->isVisibleTo(page)) shown << r->text();
        QCOMPARE(shown.join(' '), offered);
        // Standard on opening; the max-count box and the formatted box hidden.
        QVERIFY(page->standardMode()->isChecked());
        QCOMPARE(page->recoveryMode, 1);
        QVERIFY(!page->maxCountEdit()->isVisibleTo(page));
        QVERIFY(!page->formattedCheck()->isVisibleTo(page));
        QCOMPARE(page->maxCountEdit()->text(), QStringLiteral("3"));
        if (offered.contains("Advanced")) {
            page->advancedMode()->click();
            QCOMPARE(page->recoveryMode, 2);
            QVERIFY(page->maxCountEdit()->isVisibleTo(page));
            // "Is Drive Formated..?" only on FAT volumes.
            QCOMPARE(page->formattedCheck()->isVisibleTo(page), page->fsPrefix.compare("fat", Qt::CaseInsensitive) == 0);
            QVERIFY(!page->standardMode()->isChecked());
        }
        renderToPng(page, "page-136-recovery-mode-" + QString(QTest::currentDataTag()));
    }

    void everyModeChangeClearsDriveFormatted() {
        Wizard w;
        RecoveryModePage* page = w.toRecoveryMode(volumeImage("fat32-512.img"));
        QVERIFY(page != nullptr);
        page->advancedMode()->click();
        page->formattedCheck()->click();
        QVERIFY(w.app->selection.driveFormatted);
        page->standardMode()->click();
        QVERIFY(!w.app->selection.driveFormatted);
        QVERIFY(!page->formattedCheck()->isChecked());
        page->advancedMode()->click();
        page->formattedCheck()->click();
        page->advancedMode()->click();
        QVERIFY(!w.app->selection.driveFormatted);
        // An empty or zero max count means 3.
        for (const char* text : {"", "0", "-4", "x"}) {
            page->maxCountEdit()->setText(text);
            QCOMPARE(page->maxFileSystems(), std::int64_t{3});
        }
        page->maxCountEdit()->setText("7");
        QCOMPARE(page->maxFileSystems(), std::int64_t{7});
    }

    // Each file system and each mode offered runs to completion; the tree's top level is the
    // scan layer's for the same volume and mode.
    void scanFillsTheTreeAsTheScanLayerDoes_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<int>("mode");
        QTest::newRow("NTFS standard") << "ntfs-basic.img" << 1;
        QTest::newRow("NTFS advanced") << "ntfs-twocopies.img" << 2;
        QTest::newRow("NTFS deep") << "ntfs-basic.img" << 3;
        QTest::newRow("FAT16 standard") << "fat16-2k.img" << 1;
        QTest::newRow("FAT16 advanced") << "fat16-2k.img" << 2;
        QTest::newRow("FAT32 standard") << "fat32-512.img" << 1;
        QTest::newRow("FAT32 advanced") << "fat32-512.img" << 2;
        QTest::newRow("exFAT standard") << "exfat-4k.img" << 1;
        QTest::newRow("exFAT advanced") << "exfat-4k.img" << 2;
        QTest::newRow("ext standard") << "ext4-4k.img" << 1;
        QTest::newRow("HFS+ standard") << "hfsplus.raw" << 1;
        QTest::newRow("HFS+ deep") << "hfsplus.raw" << 3;
    }
    void scanFillsTheTreeAsTheScanLayerDoes() {
        QFETCH(QString, image);
        QFETCH(int, mode);
        Wizard w;
        RecoveryModePage* modePage = w.toRecoveryMode(volumeImage(image));
        QVERIFY(modePage != nullptr);
        QRadioButton* radio = mode == 1 ? modePage->standardMode() : mode == 2 ? modePage->advancedMode() : modePage->deepMode();
        radio->click();
        QTest::mouseClick(modePage->nextButton(), Qt::LeftButton);
        if (mode == 2) {
            auto* adv = w.visible<AdvancedInputPage>();
            QVERIFY(adv != nullptr);
            QVERIFY(waitForSearch(adv));
            QVERIFY(adv->tfsList()->count() > 0);
            QCOMPARE(w.log.notices.size(), 1);
            QCOMPARE(w.log.notices.last(), QString::fromStdString(adv->candidates().message));
            QVERIFY(adv->nextButton()->isEnabled() && adv->backButton()->isEnabled());
            QVERIFY(!adv->progress()->isVisibleTo(adv) && !adv->stopButton()->isVisibleTo(adv));
            renderToPng(adv, "page-153-advanced-done-" + QString(QTest::currentDataTag()).replace(' ', '-'));
            QTest::mouseClick(adv->nextButton(), Qt::LeftButton);
        }
        auto* page = w.visible<ScanPage>();
        QVERIFY(page != nullptr);
        QCOMPARE(page->windowTitle(), QStringLiteral("Corvello"));
        QCOMPARE(page->parentPageId, mode == 2 ? int(kAdvancedInputPage) : int(kRecoveryModePage));
        QVERIFY(waitForScan(page));
        QCOMPARE(page->state(), ScanPage::State::Done);
        QVERIFY(!page->scanInProgress);
        QVERIFY(page->backButton()->isEnabled());
        QVERIFY(!page->progress()->isVisibleTo(page) && !page->pauseButton()->isVisibleTo(page));
        if (page->family == Family::HfsPlus) {
            QCOMPARE(page->statusText()->text(), QStringLiteral("Work Done."));
            QVERIFY(!w.log.notices.contains(kScanDone));
        } else {
            QCOMPARE(w.log.notices.last(), kScanDone);
            QCOMPARE(page->statusText()->text(), kScanDone);
        }

        LayerScan layer(volumeImage(image), requestOf(page));
        QVERIFY(layer.session != nullptr);
        const QList<Shown> expected = layer.shown();
        const QList<Shown> shown = shownInWidget(page->tree());
        QVERIFY2(!expected.isEmpty(), "the scan layer finds entries");
        QVERIFY2(shown == expected, qPrintable("tree: " + describe(shown) + "\nlayer: " + describe(expected)));
        QCOMPARE(page->tree()->topLevelItem(0)->text(0), QStringLiteral("ROOT"));
        // Every top-level line of corvello-cli list is an entry of the tree.
        QStringList texts;
        for (const Shown& s : shown) texts << QString::fromStdString(safeFileName(trimmed(u16(s.text))));
        for (const QString& listed : layer.listedTopLevel()) {
            QString base = listed;
            base.replace(QRegularExpression(QStringLiteral(" \\(\\d+\\)(?=\\.[^.]*$|$)")), QString());
            QVERIFY2(texts.contains(listed) || texts.contains(base), qPrintable(listed));
        }
        renderToPng(page, "page-139-scan-done-" + QString(QTest::currentDataTag()).replace(' ', '-'));
    }

    // The advanced FAT32 path on a volume formatted again over an older one: the candidates,
    // the cluster sizes with the boot value first, and the older volume's folders in the tree.
    void advancedFat32FindsTheOlderVolume() {
        Wizard w;
        RecoveryModePage* modePage = w.toRecoveryMode(volumeImage("fat32-reformatted.img"));
        QVERIFY(modePage != nullptr);
        modePage->advancedMode()->click();
        modePage->maxCountEdit()->setText("12");
        QTest::mouseClick(modePage->nextButton(), Qt::LeftButton);
        auto* adv = w.visible<AdvancedInputPage>();
        QVERIFY(adv != nullptr);
        QVERIFY(adv->clusterLabel()->isVisibleTo(adv) && !adv->heapList()->isVisibleTo(adv));
        QVERIFY(waitForSearch(adv));
        const CandidateList& found = adv->candidates();
        QVERIFY(found.tables.size() >= 2);
        // The list is sorted as text; each entry still names its own candidate.
        QStringList entries;
        for (int i = 0; i < adv->tfsList()->count(); ++i) {
            entries << adv->tfsList()->itemText(i);
            QCOMPARE(adv->tfsList()->itemText(i),
                     QStringLiteral("FAT32_ENTRY:%1").arg(adv->tfsList()->itemData(i).toInt()));
        }
        QStringList sorted = entries;
        sorted.sort();
        QCOMPARE(entries, sorted);
        // The boot sector's cluster size first, then 2, 4, 16, 32, 64, 8.
        QStringList choices;
        for (int i = 0; i < adv->clusterList()->count(); ++i) choices << adv->clusterList()->itemText(i);
        QCOMPARE(choices.mid(1), (QStringList{"2", "4", "16", "32", "64", "8"}));
        QCOMPARE(choices.first(), QString::number(found.clusterChoices.front()));
        QCOMPARE(w.log.notices.last(),
                 QStringLiteral("Number of FAT32-ENTRY found = %1 . Please select the choice from combo box and click "
                                "Next button to proceed.")
                     .arg(found.tables.size()));
        QCOMPARE(adv->statusText()->text(), QStringLiteral("Parsing done.Click Next to continue."));

        // Each candidate gives the scan layer's tree; one of them holds the older volume's folders.
        bool olderFound = false;
        for (int i = 0; i < adv->tfsList()->count(); ++i) {
            adv->tfsList()->setCurrentIndex(i);
            QTest::mouseClick(adv->nextButton(), Qt::LeftButton);
            auto* page = w.visible<ScanPage>();
            QVERIFY(page != nullptr);
            QVERIFY(waitForScan(page));
            QCOMPARE(page->state(), ScanPage::State::Done);
            QCOMPARE(page->hiddenTfsList()->currentData(), adv->tfsList()->currentData());
            LayerScan layer(volumeImage("fat32-reformatted.img"), requestOf(page, 12));
            const QList<Shown> shown = shownInWidget(page->tree());
            QVERIFY2(shown == layer.shown(), qPrintable(describe(shown) + "\n" + describe(layer.shown())));
            // The older volume's folders sit below "ORPHAN ENTRY": opening it shows them.
            QTreeWidgetItem* root = page->tree()->topLevelItem(0);
            for (int c = 0; c < root->childCount(); ++c) {
                QTreeWidgetItem* orphans = root->child(c);
                if (orphans->text(0) != QLatin1String("ORPHAN ENTRY")) continue;
                openFolder(*page->session(), *page->results(), page->results()->treeItem(orphans), true);
                QStringList names;
                for (int k = 0; k < orphans->childCount(); ++k) {
                    names << orphans->child(k)->text(0);
                    if (orphans->child(k)->text(0) == QLatin1String("Sub"))
                        QCOMPARE(page->tree()->itemTextColor(orphans->child(k)), kDeletedTextColor);
                }
                olderFound |= names.contains("Reports") && names.contains("Sub");
            }
            if (i == 0) renderToPng(page, "page-139-scan-done-fat32-reformatted-advanced");
            QTest::mouseClick(page->backButton(), Qt::LeftButton);
            flushDeletes();
            QCOMPARE(w.app->visiblePage(), adv);
        }
        QVERIFY(olderFound);
    }

    void refusedStates() {
        Wizard w;
        // A file-system text no parser takes: "ntfs" with a trailing blank.
        RecoveryModePage* modePage = w.toRecoveryMode(volumeImage("ntfs-basic.img"));
        QVERIFY(modePage != nullptr);
        modePage->volume.setFileSystem(u"ntfs ");
        QTest::mouseClick(modePage->nextButton(), Qt::LeftButton);
        auto* page = w.visible<ScanPage>();
        QVERIFY(page != nullptr);
        QCOMPARE(w.log.notices.last(), QStringLiteral("not a valid drive."));
        QCOMPARE(page->statusText()->text(), QStringLiteral("Not a valid Drive .Go back"));
        QVERIFY(page->backButton()->isEnabled());
        QVERIFY(!page->workerRunning());
        QCOMPARE(page->state(), ScanPage::State::Refused);
        // Save and Search keep refusing: no scan has completed.
        QTest::mouseClick(page->saveButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QStringLiteral("Please wait for other process to complete"));
        renderToPng(page, "page-139-scan-refused-invalid");
        QTest::mouseClick(page->backButton(), Qt::LeftButton);
        flushDeletes();
        QCOMPARE(w.app->visiblePage(), modePage);

        // A standard scan of a volume that fails its format check.
        modePage->volume.setFileSystem(u"FAT32");
        QTest::mouseClick(modePage->nextButton(), Qt::LeftButton);
        page = w.visible<ScanPage>();
        QVERIFY(waitForScan(page));
        QCOMPARE(w.log.notices.last(), QStringLiteral("Selected Drive is not in Fat32 Format"));
        QCOMPARE(page->state(), ScanPage::State::Refused);
        QVERIFY(page->backButton()->isEnabled());
        QVERIFY(!page->scanInProgress);
        QVERIFY(page->stopButton()->isVisibleTo(page));
        renderToPng(page, "page-139-scan-refused-format");
        // Pause, Resume and Stop have no thread to act on.
        const QString status = page->statusText()->text();
        for (QPushButton* b : {page->pauseButton(), page->resumeButton(), page->stopButton()})
            QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(page->statusText()->text(), status);
    }

    // Stop ends the scan through the normal completion; Pause holds it until Resume.
    void pauseHoldsAndStopCompletes() {
        Wizard w;
        RecoveryModePage* modePage = w.toRecoveryMode(volumeImage("ntfs-basic.img"));
        modePage->deepMode()->click();
        QTest::mouseClick(modePage->nextButton(), Qt::LeftButton);
        auto* page = w.visible<ScanPage>();
        QVERIFY(page != nullptr);
        // Paused before the worker reaches its first poll: it waits there.
        QTest::mouseClick(page->pauseButton(), Qt::LeftButton);
        QCOMPARE(page->statusText()->text(), QStringLiteral("Pause button pressed"));
        QTest::mouseClick(page->pauseButton(), Qt::LeftButton);  // a second Pause changes nothing
        QTest::qWait(300);
        const int held = page->progress()->value();
        const std::size_t items = page->tree()->topLevelItemCount() > 0 ? page->tree()->topLevelItem(0)->childCount() : 0;
        QTest::qWait(500);
        QVERIFY(page->workerRunning());
        QCOMPARE(page->progress()->value(), held);
        QCOMPARE(std::size_t(page->tree()->topLevelItemCount() > 0 ? page->tree()->topLevelItem(0)->childCount() : 0), items);
        renderToPng(page, "page-139-scan-paused");
        // Stop while paused: nothing moves until Resume (one Resume is enough).
        QTest::mouseClick(page->stopButton(), Qt::LeftButton);
        QCOMPARE(page->statusText()->text(), QStringLiteral("stop button pressed.Please wait for the process to be stopped."));
        renderToPng(page, "page-139-scan-stopping");
        QTest::qWait(300);
        QVERIFY(page->workerRunning());
        QTest::mouseClick(page->resumeButton(), Qt::LeftButton);
        QVERIFY(waitForScan(page));
        QCOMPARE(page->state(), ScanPage::State::Done);
        QCOMPARE(w.log.notices.last(), kScanDone);
        QVERIFY(page->backButton()->isEnabled());
        // After the end Pause and Resume do nothing.
        QTest::mouseClick(page->resumeButton(), Qt::LeftButton);
        QCOMPARE(page->statusText()->text(), kScanDone);
    }

    void runningScanShowsItsControls() {
        Wizard w;
        RecoveryModePage* modePage = w.toRecoveryMode(volumeImage("ntfs-basic.img"));
        modePage->deepMode()->click();
        QTest::mouseClick(modePage->nextButton(), Qt::LeftButton);
        auto* page = w.visible<ScanPage>();
        QTest::mouseClick(page->pauseButton(), Qt::LeftButton);
        QVERIFY(!page->backButton()->isEnabled());
        QVERIFY(page->progress()->isVisibleTo(page));
        QTest::mouseClick(page->saveButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QStringLiteral("Please wait for other process to complete"));
        // The list's columns are set up for the results.
        QStringList columns;
        for (int c = 0; c < page->fileList()->columnCount(); ++c) columns << page->fileList()->headerItem()->text(c).trimmed();
        QCOMPARE(columns, (QStringList{"File(s) List", "Creation Time", "Access Time", "Modification Time", "Size", "Attribute", "Data"}));
        renderToPng(page, "page-139-scan-running");
        QTest::mouseClick(page->resumeButton(), Qt::LeftButton);
        QVERIFY(waitForScan(page));
    }

    // Back and close while a search or a scan runs: the page stops its worker, waits for it
    // while staying responsive, and only then goes.
    void leavingWaitsForTheWorker_data() {
        QTest::addColumn<bool>("advanced");
        QTest::addColumn<bool>("close");
        QTest::newRow("back during search") << true << false;
        QTest::newRow("close during search") << true << true;
        QTest::newRow("close during scan") << false << true;
    }
    void leavingWaitsForTheWorker() {
        QFETCH(bool, advanced);
        QFETCH(bool, close);
        Wizard w;
        RecoveryModePage* modePage = w.toRecoveryMode(volumeImage(advanced ? "fat32-reformatted.img" : "ntfs-basic.img"));
        (advanced ? modePage->advancedMode() : modePage->deepMode())->click();
        if (advanced) modePage->maxCountEdit()->setText("1000");
        QTest::mouseClick(modePage->nextButton(), Qt::LeftButton);
        WizardPage* page = w.app->visiblePage();
        QVERIFY(page != modePage);
        QPointer<WizardPage> guard(page);
        auto running = [&] {
            if (guard.isNull()) return false;
            if (auto* a = qobject_cast<AdvancedInputPage*>(page)) return a->searchRunning();
            return qobject_cast<ScanPage*>(page)->workerRunning();
        };
        // Held at the first poll so that the worker surely runs when the user leaves.
        QPushButton* pause = advanced ? qobject_cast<AdvancedInputPage*>(page)->pauseButton()
                                      : qobject_cast<ScanPage*>(page)->pauseButton();
        QTest::mouseClick(pause, Qt::LeftButton);
        QVERIFY(running());
        if (close) {
            page->reject();
            QCOMPARE(w.log.questions.last(), QStringLiteral("Do you want to Close Application ?"));
        } else {
            // Stop enables Back during a search (the paused search stays paused).
            QTest::mouseClick(qobject_cast<AdvancedInputPage*>(page)->stopButton(), Qt::LeftButton);
            QVERIFY(page->backButton()->isEnabled());
            QVERIFY(running());
            renderToPng(page, "page-153-advanced-stopping");
            QTest::mouseClick(page->backButton(), Qt::LeftButton);
        }
        // The page is still there until its worker has ended, then it goes (Back) or the
        // application ends (close).
        QVERIFY(!guard.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(!running(), kLongWait);
        QCoreApplication::processEvents();
        flushDeletes();
        if (close) {
            QCOMPARE(w.ended, QList<int>{0});
            QVERIFY(!guard.isNull());
        } else {
            QVERIFY(guard.isNull());
            QCOMPARE(w.app->visiblePage(), modePage);
        }
    }

    void backDuringAScanPageWithARunningWorkerIsSafe() {
        // Back on the recovery-mode page's child chain: the scan page's own destructor stops its
        // worker when the page chain goes (the application ending).
        auto w = std::make_unique<Wizard>();
        RecoveryModePage* modePage = w->toRecoveryMode(volumeImage("ntfs-basic.img"));
        modePage->deepMode()->click();
        QTest::mouseClick(modePage->nextButton(), Qt::LeftButton);
        auto* page = w->visible<ScanPage>();
        QVERIFY(page->workerRunning());
        w.reset();  // destroys every page while the scan runs
    }

    // The demo's path: the sample disk, its volume 0, Standard, scan, tree filled.
    void sampleDiskVolumeZeroStandard() {
        Wizard w;
        QVERIFY(w.app->firstPage()->addImageFile(uitest::fixture("sample-disk.img")));
        QTest::mouseClick(w.app->firstPage()->nextButton(), Qt::LeftButton);
        auto* modes = w.visible<PartitionScanModePage>();
        QVERIFY(modes != nullptr);
        QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
        auto* list = w.visible<VolumeListPage>();
        QVERIFY(list != nullptr);
        list->list()->selectRow(0);
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        auto* modePage = w.visible<RecoveryModePage>();
        QVERIFY(modePage != nullptr);
        QCOMPARE(modePage->parentPageId, int(kVolumeListPage));
        QTest::mouseClick(modePage->nextButton(), Qt::LeftButton);
        auto* page = w.visible<ScanPage>();
        QVERIFY(page != nullptr);
        QVERIFY(waitForScan(page));
        QCOMPARE(page->state(), ScanPage::State::Done);
        QVERIFY(page->tree()->topLevelItemCount() == 1);
        QVERIFY(page->tree()->topLevelItem(0)->childCount() > 0);
        renderToPng(page, "page-139-scan-done-sample-disk");
    }
};

CORVELLO_UI_TEST(ScanPagesTest);

namespace {

// A finished standard scan of a volume image.
struct Scanned {
    Wizard w;
    ScanPage* page = nullptr;
    std::unique_ptr<LayerScan> layer;
    explicit Scanned(const QString& image) {
        RecoveryModePage* modePage = w.toRecoveryMode(volumeImage(image));
        if (modePage == nullptr) return;
        QTest::mouseClick(modePage->nextButton(), Qt::LeftButton);
        page = w.visible<ScanPage>();
        if (page == nullptr || !waitForScan(page) || page->state() != ScanPage::State::Done) {
            page = nullptr;
            return;
        }
        layer = std::make_unique<LayerScan>(volumeImage(image), requestOf(page));
    }
    QTreeWidgetItem* topItem(const QString& text) const {
        QTreeWidgetItem* root = page->tree()->topLevelItem(0);
        for (int i = 0; i < root->childCount(); ++i)
            if (root->child(i)->text(0) == text) return root->child(i);
        return nullptr;
    }
    static QTreeWidgetItem* child(QTreeWidgetItem* item, const QString& text) {
        for (int i = 0; i < item->childCount(); ++i)
            if (item->child(i)->text(0) == text) return item->child(i);
        return nullptr;
    }
    // A click on the item's label, as the user makes it.
    void clickLabel(QTreeWidgetItem* item) const {
        page->tree()->scrollToItem(item);
        const QRect r = page->tree()->visualItemRect(item);
        QTest::mouseClick(page->tree()->viewport(), Qt::LeftButton, {}, QPoint(r.right() - 4, r.center().y()));
    }
    // corvello-cli list's lines (KIND, STATE, SIZE, PATH) of the files directly in a folder.
    QList<QStringList> listedFiles(const QString& folder) const {
        QList<QStringList> out;
        walkEntries(*layer->session, topLevelRecords(*layer->session, layer->tree), 0, [&](const ListedEntry& e) {
            const QString path = QString::fromStdString(e.path);
            if (e.folder || !path.startsWith(folder + "/") || path.mid(folder.size() + 1).contains('/')) return;
            out << QStringList{path.mid(folder.size() + 1), QString::number(e.size),
                               QString::fromStdString(layer->session->sizeText(e.data))};
        });
        return out;
    }
};

QMap<QString, QByteArray> manifest(const QString& name) {
    QMap<QString, QByteArray> files;  // path -> sha256 (hex), live files
    QFile f(QStringLiteral(CORVELLO_SOURCE_FIXTURES "/") + name + ".manifest");
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> cols = line.split('\t');
        if (cols.size() == 5 && cols[0] == "f" && cols[1] == "live") files.insert(QString::fromUtf8(cols[4]), cols[3]);
    }
    return files;
}

// Every file below dir: relative path -> sha256 (hex).
QMap<QString, QByteArray> writtenFiles(const QString& dir) {
    QMap<QString, QByteArray> out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        out.insert(QDir(dir).relativeFilePath(path), QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
    }
    return out;
}

struct FolderChoice {
    QString folder;
    int asked = 0;
    explicit FolderChoice(const QString& f) : folder(f) {
        ScanPage::folderChooser = [this](QWidget*) {
            ++asked;
            return folder;
        };
    }
    ~FolderChoice() { ScanPage::folderChooser = {}; }
};

bool waitForWork(ScanPage* page) {
    QElapsedTimer t;
    t.start();
    while (page->workerRunning() && t.elapsed() < kLongWait) QTest::qWait(20);
    QCoreApplication::processEvents();
    return !page->workerRunning();
}

}  // namespace

class ResultsTest : public QObject {
    Q_OBJECT
private slots:
    // A label click opens the folder and lists its files with the sizes and times of the scan
    // layer; expanding shows the same children; deleted children are red after a label click.
    void labelClickAndExpandShowWhatListShows() {
        Scanned s("ntfs-basic.img");
        QVERIFY(s.page != nullptr);
        QTreeWidgetItem* many = s.topItem("many");
        QVERIFY(many != nullptr);
        QCOMPARE(many->childCount(), 1);
        QCOMPARE(many->child(0)->text(0), QStringLiteral("..DUMY.."));
        s.clickLabel(many);
        const QList<QStringList> listed = s.listedFiles("many");
        QCOMPARE(s.page->fileList()->itemCount(), int(listed.size()));
        QCOMPARE(many->childCount(), int(listed.size()));
        for (int r = 0; r < listed.size(); ++r) {
            QCOMPARE(s.page->fileList()->itemText(r, 0), listed[r][0]);
            QCOMPARE(s.page->fileList()->itemText(r, 4), listed[r][2]);
            const ItemData record = s.page->fileList()->topLevelItem(r)->data(0, ScanPage::kRowRecordRole).toULongLong();
            const auto times = s.page->session()->rowTexts(record);
            QCOMPARE(s.page->fileList()->itemText(r, 1), QString::fromStdString(times[0]));
            QVERIFY(!s.page->fileList()->itemText(r, 1).isEmpty());
            QCOMPARE(QString::number(s.page->session()->size(record)), listed[r][1]);
        }
        renderToPng(s.page, "page-139-file-list-ntfs-many");

        // Expanding another folder shows its children as list does, in the normal colour.
        QTreeWidgetItem* gone = s.topItem("gone");
        QVERIFY(gone != nullptr);
        QCOMPARE(s.page->tree()->itemTextColor(gone), kDeletedTextColor);
        s.page->tree()->expandItem(gone);
        const QList<QStringList> goneFiles = s.listedFiles("gone");
        QVERIFY(!goneFiles.isEmpty());
        QStringList names;
        for (int i = 0; i < gone->childCount(); ++i) names << gone->child(i)->text(0);
        for (const QStringList& f : goneFiles) QVERIFY2(names.contains(f[0]), qPrintable(f[0]));
        // A label click on a file lists that one file.
        QTreeWidgetItem* file = s.topItem("resident.txt");
        QVERIFY(file != nullptr);
        s.clickLabel(file);
        QCOMPARE(s.page->fileList()->itemCount(), 1);
        QCOMPARE(s.page->fileList()->itemText(0, 0), QStringLiteral("resident.txt"));
        // A list check box checks its tree item.
        s.clickLabel(many);
        s.page->fileList()->topLevelItem(3)->setCheckState(0, Qt::Checked);
        QVERIFY(s.page->tree()->isChecked(many->child(3)));
        QCOMPARE(s.page->tree()->stateImage(many) & 3, int(kStateTriState));
        s.page->fileList()->topLevelItem(3)->setCheckState(0, Qt::Unchecked);
        QVERIFY(!s.page->tree()->isChecked(many->child(3)));
    }

    // The recycle-bin pass names recycled files after their originals, in the tree and on save.
    void recycledFilesTakeTheirOriginalNames_data() {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("bin");
        QTest::addColumn<QString>("original");
        QTest::addColumn<QString>("stored");  // the name the manifest keeps
        QTest::newRow("NTFS") << "ntfs-basic.img" << "$RECYCLE.BIN/S-1-5-21-1000" << "budget notes.txt" << "$RK3Q9Z1.txt";
        QTest::newRow("FAT32") << "fat32-512.img" << "$RECYCLE.BIN" << "budget 2021.txt" << "budget 2021.txt";
    }
    void recycledFilesTakeTheirOriginalNames() {
        QFETCH(QString, image);
        QFETCH(QString, bin);
        QFETCH(QString, original);
        QFETCH(QString, stored);
        Scanned s(image);
        QVERIFY(s.page != nullptr);
        QTreeWidgetItem* item = s.topItem(bin.section('/', 0, 0));
        QVERIFY(item != nullptr);
        s.clickLabel(item);
        if (bin.contains('/')) {
            item = Scanned::child(item, bin.section('/', 1));
            QVERIFY(item != nullptr);
            s.clickLabel(item);
        }
        QVERIFY(Scanned::child(item, original) != nullptr);
        for (int i = 0; i < item->childCount(); ++i) QVERIFY(!item->child(i)->text(0).startsWith("$R"));
        QTemporaryDir out;
        FolderChoice choice(out.path());
        s.page->tree()->setCurrentItem(item);
        QTest::mouseClick(s.page->saveButton(), Qt::LeftButton);
        QVERIFY(waitForWork(s.page));
        const QMap<QString, QByteArray> written = writtenFiles(out.path());
        QCOMPARE(written.value(original), manifest(image.section('.', 0, 0)).value(bin + "/" + stored));
        QVERIFY(!written.value(original).isEmpty());
    }

    // A search with "|" finds exactly the files list shows with those names, in any script
    // and letter case, with their paths from ROOT.
    void searchFindsNamesAsUnicode() {
        Scanned s("ntfs-basic.img");
        QVERIFY(s.page != nullptr);
        s.page->searchEdit()->setText(QStringLiteral("RÉSUMÉ|ФАЙЛ|file01"));
        QTest::mouseClick(s.page->searchButton(), Qt::LeftButton);
        QVERIFY(waitForWork(s.page));
        QCOMPARE(s.w.log.notices.last(), QStringLiteral("Searching Finished"));
        QCOMPARE(s.page->statusText()->text(), QStringLiteral("Searching Finished"));
        QStringList found;
        for (int r = 0; r < s.page->fileList()->itemCount(); ++r) found << s.page->fileList()->itemText(r, 0);
        QStringList expected;
        walkEntries(*s.layer->session, topLevelRecords(*s.layer->session, s.layer->tree), 0, [&](const ListedEntry& e) {
            const QString name = qs(s.layer->session->name(e.data));
            if (!e.folder && (name.contains(QStringLiteral("résumé"), Qt::CaseInsensitive) ||
                              name.contains(QStringLiteral("файл"), Qt::CaseInsensitive) ||
                              name.contains(QStringLiteral("file01"), Qt::CaseInsensitive)))
                expected << "ROOT\\" + QString::fromStdString(e.path).replace('/', '\\');
        });
        found.sort();
        expected.sort();
        QVERIFY(expected.contains(QStringLiteral("ROOT\\Ünïcødé\\файл.txt")));
        QCOMPARE(found, expected);
        QVERIFY(!s.page->progress()->isVisibleTo(s.page));
        renderToPng(s.page, "page-139-search-results");
        // A result row's check box leaves the tree alone.
        s.page->fileList()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        QCOMPARE(s.page->tree()->stateImage(s.page->tree()->topLevelItem(0)) & 3, int(kStateUnchecked));

        // A pattern that does not compile, and an empty one.
        s.page->searchEdit()->setText(QStringLiteral("*"));
        QTest::mouseClick(s.page->searchButton(), Qt::LeftButton);
        QCOMPARE(s.w.log.notices.last(),
                 QStringLiteral("such characters are not allowed for search.Try again with different pattern."));
        s.page->searchEdit()->clear();
        QTest::mouseClick(s.page->searchButton(), Qt::LeftButton);
        QVERIFY(waitForWork(s.page));
        QCOMPARE(s.page->fileList()->itemCount(), 0);
        QCOMPARE(s.w.log.notices.last(), QStringLiteral("Searching Finished"));
    }

    // Save writes the selected folder's files, or with check boxes only the checked ones,
    // byte for byte under absolute paths; the current directory never changes.
    void saveWritesWhatIsSelectedOrChecked() {
        Scanned s("ntfs-basic.img");
        QVERIFY(s.page != nullptr);
        const QMap<QString, QByteArray> expected = manifest("ntfs-basic");
        const QString cwd = QDir::currentPath();
        QTemporaryDir out;
        FolderChoice choice(out.path() + "/folder");
        QDir().mkpath(choice.folder);

        // No folder chosen: "select output folder".
        choice.folder.clear();
        QTest::mouseClick(s.page->saveButton(), Qt::LeftButton);
        QCOMPARE(s.w.log.notices.last(), QStringLiteral("select output folder"));
        choice.folder = out.path() + "/folder";

        QTreeWidgetItem* unicode = s.topItem(QStringLiteral("Ünïcødé"));
        QVERIFY(unicode != nullptr);
        s.page->tree()->setCurrentItem(unicode);
        // The second status line tells each file's size while it is written, and is cleared after.
        auto* host = s.page->findChild<QtScanHost*>();
        QVERIFY(host != nullptr);
        QStringList told;
        QObject context;  // on this thread: the texts arrive here as they do at the label
        connect(host, &QtScanHost::detailText, &context, [&told](const QString& text) { told << text; });
        QTest::mouseClick(s.page->saveButton(), Qt::LeftButton);
        QCOMPARE(s.w.log.questions.last(), QStringLiteral("number of files found inside this folder = 3 .do u want to "
                                                           "continue dumping these files..?"));
        QVERIFY(waitForWork(s.page));
        QCOMPARE(s.w.log.notices.last(), QStringLiteral("work done"));
        QMap<QString, QByteArray> want;
        for (auto it = expected.begin(); it != expected.end(); ++it)
            if (it.key().startsWith(QStringLiteral("Ünïcødé/"))) want.insert(it.key().mid(8), it.value());
        QCOMPARE(writtenFiles(choice.folder), want);
        QCoreApplication::processEvents();
        QStringList written;
        for (const QString& path : want.keys())
            written << QStringLiteral("File size: %1 kb").arg(QFileInfo(choice.folder + "/" + path).size() / 1024)
                    << QString();
        told.sort();
        written.sort();
        QCOMPARE(told, written);
        QCOMPARE(QDir::currentPath(), cwd);

        // Two checked files of "many": only they are written, under their folder.
        QTreeWidgetItem* many = s.topItem("many");
        s.clickLabel(many);
        s.page->tree()->setCheck(many->child(1), true);
        s.page->tree()->setCheck(many->child(7), true);
        choice.folder = out.path() + "/checked";
        QTest::mouseClick(s.page->saveButton(), Qt::LeftButton);
        QCOMPARE(s.w.log.questions.last(), QStringLiteral("number of files found inside this folder = 2 .do u want to "
                                                           "continue dumping these files..?"));
        QVERIFY(waitForWork(s.page));
        const QString a = "many/" + many->child(1)->text(0), b = "many/" + many->child(7)->text(0);
        QCOMPARE(writtenFiles(choice.folder), (QMap<QString, QByteArray>{{a, expected.value(a)}, {b, expected.value(b)}}));
        QCOMPARE(QDir::currentPath(), cwd);
    }

    // Stop ends a save, which says how many files it wrote; the next Save writes them all.
    void stoppedSaveSaysWhatItWroteAndTheNextSaveWorks() {
        Scanned s("ntfs-basic.img");
        QVERIFY(s.page != nullptr);
        QTemporaryDir out;
        FolderChoice choice(out.path() + "/first");
        s.page->tree()->setCurrentItem(s.topItem("many"));
        // The gate is held from before the save starts, so that the worker cannot write all
        // 300 files before the Pause click lands, however the threads are scheduled.
        s.page->scanHost()->pauseGate().pause();
        QTest::mouseClick(s.page->saveButton(), Qt::LeftButton);
        QTest::mouseClick(s.page->pauseButton(), Qt::LeftButton);
        QVERIFY(s.page->stopButton()->isVisibleTo(s.page) && s.page->progress()->isVisibleTo(s.page));
        renderToPng(s.page, "page-139-save-in-progress");
        QTest::mouseClick(s.page->stopButton(), Qt::LeftButton);
        QTest::mouseClick(s.page->resumeButton(), Qt::LeftButton);
        s.page->scanHost()->pauseGate().resume();
        QVERIFY(waitForWork(s.page));
        const qsizetype written = writtenFiles(choice.folder).size();
        QVERIFY(written < 300);
        QCOMPARE(s.w.log.notices.last(), QStringLiteral("Saving stopped: %1 of 300 files written.").arg(written));
        choice.folder = out.path() + "/second";
        QTest::mouseClick(s.page->saveButton(), Qt::LeftButton);
        QVERIFY(waitForWork(s.page));
        QCOMPARE(s.w.log.notices.last(), QStringLiteral("work done"));
        QCOMPARE(writtenFiles(choice.folder).size(), 300);
    }

    // The quick save asks for the folder first when none was chosen.
    void quickSaveAsksForAFolderFirst() {
        Scanned s("exfat-4k.img");
        QVERIFY(s.page != nullptr);
        QTemporaryDir out;
        FolderChoice choice(out.path());
        QTreeWidgetItem* file = nullptr;
        QTreeWidgetItem* root = s.page->tree()->topLevelItem(0);
        for (int i = 0; i < root->childCount() && file == nullptr; ++i)
            if (root->child(i)->childCount() == 0 && s.page->session()->saveKind(s.page->tree()->itemData(root->child(i))) == SaveKind::File)
                file = root->child(i);
        QVERIFY(file != nullptr);
        s.page->tree()->scrollToItem(file);
        const QRect r = s.page->tree()->visualItemRect(file);
        // A double-click as the system delivers it: press, release, then the double-click.
        const QPoint at(r.right() - 4, r.center().y());
        QTest::mouseClick(s.page->tree()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(s.page->tree()->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(choice.asked, 1);
        QVERIFY(waitForWork(s.page));
        const QString path = out.path() + "/" + file->text(0);
        QCOMPARE(s.w.log.notices.last(), QStringLiteral("file is dumped in path  :  %1   ").arg(path));
        QCOMPARE(writtenFiles(out.path()).value(file->text(0)), manifest("exfat-4k").value(file->text(0)));
    }

    // "Export list..." writes the report corvello-cli list --format csv|dfxml writes for the same
    // volume; a name without suffix gets the format's, and a file there is replaced only when the
    // user agrees.
    void exportListWritesWhatListWrites() {
        const QString image = volumeImage("ntfs-basic.img");
        Scanned s("ntfs-basic.img");
        QVERIFY(s.page != nullptr);
        QVERIFY(s.page->exportButton()->isEnabled());
        auto cli = [&](const char* format) {
            std::ostringstream out, err;
            const int status = cli::runCli({"list", image.toStdString(), "--format", format}, out, err);
            return std::make_pair(status, QByteArray::fromStdString(out.str()));
        };
        std::ostringstream tsvOut, tsvErr;
        QCOMPARE(cli::runCli({"list", image.toStdString()}, tsvOut, tsvErr), 0);
        const qsizetype entries = QString::fromStdString(tsvOut.str()).count('\n');
        QVERIFY(entries > 10);

        QTemporaryDir dir;
        ExportChoice choice{dir.filePath("entries.csv"), kCsvFilter};
        exportListChooser = [&](QWidget*) { return choice; };
        auto readFile = [](const QString& path) {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };

        // CSV: a header and one row per entry, the bytes list writes.
        QTest::mouseClick(s.page->exportButton(), Qt::LeftButton);
        const QByteArray csv = readFile(choice.path);
        const auto [csvStatus, csvWant] = cli("csv");
        QCOMPARE(csvStatus, 0);
        QCOMPARE(csv, csvWant);
        const QList<QByteArray> rows = csv.split('\n');
        QCOMPARE(rows.first(), QByteArray("type,state,size,modified,accessed,changed,created,path\r"));
        QCOMPARE(rows.size() - 2, entries);  // the header and the empty piece after the last line

        // DFXML, named without suffix: written as .xml, well-formed, one fileobject per entry.
        choice = {dir.filePath("entries"), kDfxmlFilter};
        QTest::mouseClick(s.page->exportButton(), Qt::LeftButton);
        const QByteArray xml = readFile(dir.filePath("entries.xml"));
        QVERIFY(!QFileInfo::exists(dir.filePath("entries")));
        QCOMPARE(xml, cli("dfxml").second);
        QXmlStreamReader reader(xml);
        qsizetype fileObjects = 0, fileNames = 0;
        while (!reader.atEnd()) {
            reader.readNext();
            if (!reader.isStartElement()) continue;
            fileObjects += reader.name() == QLatin1String("fileobject") ? 1 : 0;
            fileNames += reader.name() == QLatin1String("filename") ? 1 : 0;
        }
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QCOMPARE(fileObjects, entries);
        QCOMPARE(fileNames, entries);

        // entries.csv is there: a name without suffix that leads to it asks first.
        choice = {dir.filePath("entries"), kCsvFilter};
        QFile::remove(choice.path + ".csv");
        QVERIFY(QFile::copy(dir.filePath("entries.xml"), dir.filePath("entries.csv")));
        s.w.log.answer = false;
        const qsizetype asked = s.w.log.questions.size();
        QTest::mouseClick(s.page->exportButton(), Qt::LeftButton);
        QCOMPARE(s.w.log.questions.size(), asked + 1);
        QCOMPARE(s.w.log.questions.last(), QStringLiteral("%1 already exists. Do you want to replace it?")
                                                .arg(dir.filePath("entries.csv")));
        QCOMPARE(readFile(dir.filePath("entries.csv")), xml);
        s.w.log.answer = true;
        QTest::mouseClick(s.page->exportButton(), Qt::LeftButton);
        QCOMPARE(readFile(dir.filePath("entries.csv")), csvWant);

        // A folder in the way: the user is told, nothing else happens.
        QVERIFY(QDir().mkpath(dir.filePath("folder.csv")));
        choice = {dir.filePath("folder.csv"), kCsvFilter};
        QTest::mouseClick(s.page->exportButton(), Qt::LeftButton);
        QVERIFY2(s.w.log.notices.last().startsWith(
                     QStringLiteral("The list could not be written to %1: ").arg(dir.filePath("folder.csv"))),
                 qPrintable(s.w.log.notices.last()));
        exportListChooser = {};
        renderToPng(s.page, QStringLiteral("results-export"));
    }
};

CORVELLO_UI_TEST(ResultsTest);

#include "Scan_qtest.moc"
