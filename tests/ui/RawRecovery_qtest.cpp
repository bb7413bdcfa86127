// The raw-recovery page and the signature editor, driven as a user would: reached from the
// volume list with "RAW", carving the committed carving fixture, saving checked files, and
// writing a definition of one's own. What the page finds and writes is checked against
// corvello-cli carve on the same bytes.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "UiTestSupport.h"
#include "cli/Cli.h"
#include "common/VolumeRecord.h"
#include "device/FileReadSeek.h"
#include "raw/CarvingEngine.h"
#include "raw/SignatureDefinition.h"
#include "ui/WizardApp.h"
#include "ui/CheckTree.h"
#include "ui/PartitionScanModePage.h"
#include "ui/DriveTreePage.h"
#include "ui/VolumeListPage.h"
#include "ui/PreviewPane.h"
#include "ui/QtScanHost.h"
#include "ui/QtText.h"
#include "ui/RawRecoveryDialog.h"
#include "ui/RawSettingDlg.h"
#include "ui/SectorSpinBox.h"

using namespace corvello;
using namespace corvello::ui;
using corvello::uitest::fixture;
using corvello::uitest::renderToPng;

namespace {

using FileSets = std::map<QString, std::set<QString>>;  // category -> names

void clickBox(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2)); }

QByteArray readAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// A placed file of the carving fixture's manifest: where it lies and its size.
struct Placed {
    qint64 offset = 0;
    qint64 size = 0;
    QString name;  // the original's name
};

QList<Placed> placedFiles() {
    QList<Placed> out;
    std::map<QString, qint64> sizes;
    const QList<QByteArray> lines = readAll(fixture(QStringLiteral("carve.manifest"))).split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() == 5 && f[0] == "f") sizes[QString::fromUtf8(f[4])] = f[2].toLongLong();
    }
    for (const QByteArray& line : lines) {
        if (!line.startsWith("# place\t")) continue;
        const QList<QByteArray> f = line.mid(8).split('\t');
        if (f.size() != 5) continue;
        Placed p;
        p.offset = f[0].toLongLong();
        p.name = QString::fromUtf8(f[4]);
        p.size = sizes[p.name];
        out << p;
    }
    return out;
}

Placed placed(const QString& name) {
    for (const Placed& p : placedFiles())
        if (p.name == name) return p;
    return {};
}

// corvello-cli carve over the whole image with the given settings file alone; the files it
// wrote, by category folder.
FileSets cliCarve(const QString& image, const QString& settings, const QString& out) {
    std::ostringstream o, e;
    const int status = cli::runCli({"carve", image.toStdString(), "--no-defaults", "--settings", settings.toStdString(),
                                    "--out", out.toStdString()},
                                   o, e);
    if (status != 0) qWarning("corvello-cli carve: %s", e.str().c_str());
    FileSets sets;
    for (const QFileInfo& category : QDir(out).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QString& name : QDir(category.filePath()).entryList(QDir::Files))
            sets[category.fileName()].insert(name);
    return sets;
}

// Every file below dir, as "CATEGORY/NAME".
std::set<QString> filesBelow(const QString& dir) {
    std::set<QString> out;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) out.insert(QDir(dir).relativeFilePath(it.next()));
    return out;
}

// The category label without its " (N)" count.
QString categoryName(const QString& label) {
    const qsizetype open = label.lastIndexOf(QStringLiteral(" ("));
    return open > 0 && label.endsWith(QLatin1Char(')')) ? label.left(open) : label;
}

FileSets treeFiles(RawRecoveryDialog* page) {
    FileSets sets;
    QTreeWidgetItem* root = page->rootItem();
    if (root == nullptr) return sets;
    for (int c = 0; c < root->childCount(); ++c) {
        QTreeWidgetItem* category = root->child(c);
        std::set<QString>& names = sets[categoryName(category->text(0))];
        for (int f = 0; f < category->childCount(); ++f) names.insert(category->child(f)->text(0));
    }
    return sets;
}

std::size_t fileCount(const FileSets& sets) {
    std::size_t n = 0;
    for (const auto& [category, names] : sets) n += names.size();
    return n;
}

// The wizard with the raw-recovery page open on one volume of an image, as the volume list
// leaves it: the reader open on the image, the record selected.
struct RawPage {
    uitest::FakeMachine machine;
    uitest::MessageLog log;
    QTemporaryDir lockDir;
    std::unique_ptr<WizardApp> app;
    VolumeListPage* list = nullptr;
    RawRecoveryDialog* page = nullptr;

    RawPage(const QString& image, qint64 startSector, qint64 sectorCount) {
        app = std::make_unique<WizardApp>(lockDir.path());
        app->systemRoots = machine.roots;
        app->endHook = [](int) {};
        app->startUp();
        list = new VolumeListPage(app->firstPage());
        list->devicePath = image;
        VolumeRecord record;
        record.fileSystem = u"RAW";
        record.locator = u"0";
        record.sizeText = u16(QString::number(sectorCount / 2048));
        record.startSector = startSector;
        record.byteLength = sectorCount * 512;
        list->volumes = {record};
        list->selectedVolume = &list->volumes.front();
        app->newReader()->open(image.toStdString());
        auto* raw = new RawRecoveryDialog(list);
        if (list->showNextPage(raw, kVolumeListPage)) page = raw;
    }

    // Parse, and wait for the run to end.
    bool parse() {
        QSignalSpy ended(page, &RawRecoveryDialog::runEnded);
        QTest::mouseClick(page->parseButton(), Qt::LeftButton);
        return !ended.isEmpty() || ended.wait(120000);
    }
    bool save(const QString& folder) {
        page->chooseFolder = [folder] { return folder; };
        QSignalSpy ended(page, &RawRecoveryDialog::runEnded);
        QTest::mouseClick(page->saveButton(), Qt::LeftButton);
        return !ended.isEmpty() || ended.wait(120000);
    }
};

qint64 sectorsOf(const QString& path) { return (QFileInfo(path).size() + 511) / 512; }

// A disk with one MBR partition of 1 MiB and 8 sectors at sector 2048, a file in the
// partition's last, partial MiB, and another after the partition's end.
QString makePartialMibDisk(const QString& dir) {
    constexpr qint64 start = 2048, count = 2048 + 8;
    QByteArray disk((start + count + 2048) * 512, '\0');
    const auto put32 = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i) disk[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    disk[446 + 4] = static_cast<char>(0x83);
    put32(446 + 8, start);
    put32(446 + 12, count);
    disk[510] = 0x55;
    disk[511] = static_cast<char>(0xAA);
    const QByteArray carve = readAll(fixture(QStringLiteral("carve.img")));
    const Placed pdf = placed(QStringLiteral("document.pdf"));
    const Placed jpg = placed(QStringLiteral("photo-exact.jpg"));
    disk.replace((start + 2048) * 512, pdf.size, carve.mid(pdf.offset, pdf.size));
    disk.replace((start + count + 8) * 512, jpg.size, carve.mid(jpg.offset, jpg.size));
    const QString path = dir + "/partial-mib.img";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(disk);
    return path;
}

// The wizard on a prepared machine with image under the physical drives.
struct Wizard {
    uitest::FakeMachine machine;
    uitest::MessageLog log;
    QTemporaryDir lockDir;
    WizardApp app{lockDir.path()};
    VolumeListPage* list = nullptr;

    explicit Wizard(const QString& image) {
        app.systemRoots = machine.roots;
        app.endHook = [](int) {};
        if (!app.startUp({image})) return;
        DriveTreePage* first = app.firstPage();
        QTreeWidgetItem* drives = first->drivesRoot();
        first->tree()->setCurrentItem(drives->child(drives->childCount() - 1));
        QTest::mouseClick(first->nextButton(), Qt::LeftButton);
        auto* modes = qobject_cast<PartitionScanModePage*>(app.visiblePage());
        if (modes == nullptr) return;
        QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
        list = qobject_cast<VolumeListPage*>(app.visiblePage());
    }
    // The row overridden with "RAW", then Next.
    RawRecoveryDialog* toRawPage(int row) {
        list->list()->selectRow(row);
        clickBox(list->customCheck());
        list->treatAs()->setCurrentText(QStringLiteral("RAW"));
        QTest::mouseClick(list->nextButton(), Qt::LeftButton);
        return qobject_cast<RawRecoveryDialog*>(app.visiblePage());
    }
};

}  // namespace

class RawRecoveryTest : public QObject {
    Q_OBJECT
private slots:
    void rawOverrideLeadsToThePageAndCarvesTheWholeVolume() {
        // Through the wizard: the image under the physical drives, its partition table, the
        // row overridden with "RAW".
        QTemporaryDir dir;
        Wizard w(makePartialMibDisk(dir.path()));
        VolumeListPage* list = w.list;
        QVERIFY(list != nullptr);
        QCOMPARE(list->list()->rowCount(), 1);
        list->list()->selectRow(0);
        // The custom range shows the partition's own last sector, not its last whole MiB.
        QCOMPARE(list->endSector()->text(), QString::number(2048 + 2056 - 1));
        RawRecoveryDialog* page = w.toRawPage(0);
        QVERIFY(page != nullptr);
        WizardApp& app = w.app;
        uitest::MessageLog& log = w.log;
        QVERIFY(!list->isVisible());
        QCOMPARE(page->parentPageId, int(kVolumeListPage));
        QCOMPARE(page->windowTitle(), QStringLiteral("Corvello"));
        QCOMPARE(page->volumeLength(), qint64(2056) * 512);

        QSignalSpy ended(page, &RawRecoveryDialog::runEnded);
        QTest::mouseClick(page->parseButton(), Qt::LeftButton);
        QVERIFY(ended.wait(60000));
        // The file in the last partial MiB is found, the one after the partition is not.
        const CarvingEngine* engine = page->engine();
        QVERIFY(engine != nullptr);
        QCOMPARE(engine->carvedFiles.size(), std::size_t{1});
        QCOMPARE(engine->carvedFiles[0].offset, qint64(1048576));
        const FileSets found = treeFiles(page);
        QCOMPARE(found.at(QStringLiteral("Documents")).size(), std::size_t{1});
        QCOMPARE(fileCount(found), std::size_t{1});
        QVERIFY(log.notices.contains(QStringLiteral("Scanning processing done.Select save button to save the data..")));

        // Back: the volume list again.
        QTest::mouseClick(page->backButton(), Qt::LeftButton);
        QCOMPARE(app.visiblePage(), list);
    }

    void sampleDiskReachesThePage() {
        // What scripts/demo --gui opens: the sample disk.
        const QString disk = fixture(QStringLiteral("sample-disk.img"));
        Wizard w(disk);
        QVERIFY(w.list != nullptr);
        for (int row = 0; row < w.list->list()->rowCount(); ++row) {
            RawRecoveryDialog* page = w.toRawPage(row);
            QVERIFY(page != nullptr);
            const VolumeRecord* volume = w.list->selectedVolume;
            QCOMPARE(page->volumeLength(), volume->sizeBytes());
            QSignalSpy ended(page, &RawRecoveryDialog::runEnded);
            QTest::mouseClick(page->parseButton(), Qt::LeftButton);
            QVERIFY(ended.wait(60000));
            QTemporaryDir out;
            std::ostringstream o, e;
            QCOMPARE(cli::runCli({"carve", disk.toStdString(), "--volume", std::to_string(row), "--no-defaults",
                                  "--settings", page->defaultSettingsPath.toStdString(), "--out", out.path().toStdString()},
                                 o, e),
                     0);
            QCOMPARE(std::size_t(page->engine()->carvedFiles.size()), filesBelow(out.path()).size());
            QTest::mouseClick(page->backButton(), Qt::LeftButton);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCOMPARE(w.app.visiblePage(), static_cast<WizardPage*>(w.list));
            clickBox(w.list->customCheck());
        }
    }

    void openingShowsEveryControl() {
        RawPage w(fixture(QStringLiteral("carve.img")), 0, sectorsOf(fixture(QStringLiteral("carve.img"))));
        RawRecoveryDialog* page = w.page;
        QVERIFY(page != nullptr && page->isVisible());
        QCOMPARE(page->groupBox()->title(),
                 QStringLiteral("Click Parse button to add default file settings or create your own file to process "
                                "raw recovery."));
        QVERIFY(page->loadDefaultItems()->isChecked());
        QCOMPARE(page->settingsPathBox()->text(), page->defaultSettingsPath);
        QVERIFY(QFileInfo(page->defaultSettingsPath).fileName() == QStringLiteral("FileSetting.txt"));
        QVERIFY(QFileInfo::exists(page->defaultSettingsPath));
        QCOMPARE(page->settingHint()->text(), QStringLiteral("[Add new signatures in \n new/existing file]"));
        QCOMPARE(page->fileList()->horizontalHeaderItem(0)->text(), QStringLiteral("FILES LIST "));
        const QList<QPair<QAbstractButton*, QString>> tips = {
            {page->settingButton(), "Setting"}, {page->saveButton(), "Save"},     {page->parseButton(), "Parse"},
            {page->backButton(), "Back"},       {page->stopButton(), "Stop"},     {page->resumeButton(), "Resume"},
            {page->pauseButton(), "Pause"},     {page->helpButton(), "Help"}};
        for (const auto& [button, tip] : tips) QCOMPARE(button->toolTip(), tip);
        for (QWidget* hidden : {static_cast<QWidget*>(page->progress()), static_cast<QWidget*>(page->pauseButton()),
                                static_cast<QWidget*>(page->resumeButton()), static_cast<QWidget*>(page->stopButton()),
                                static_cast<QWidget*>(page->browseFolderButton()),
                                static_cast<QWidget*>(page->folderPathBox())})
            QVERIFY(!hidden->isVisible());

        // "..." puts the chosen file into the box.
        page->chooseSettingsFile = [] { return QStringLiteral("/somewhere/own.txt"); };
        QTest::mouseClick(page->browseSettingsButton(), Qt::LeftButton);
        QCOMPARE(page->settingsPathBox()->text(), QStringLiteral("/somewhere/own.txt"));

        // The editor opens modally.
        QString opened;
        QTimer::singleShot(0, [&opened] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* editor = qobject_cast<RawSettingDlg*>(modal)) {
                opened = editor->windowTitle();
                editor->reject();
            }
        });
        QTest::mouseClick(page->settingButton(), Qt::LeftButton);
        QCOMPARE(opened, QStringLiteral("Corvello"));

        // Save with nothing found.
        QTest::mouseClick(page->saveButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QStringLiteral("Please Select item from tree to save"));

        // A volume of no size is not carved.
        w.list->volumes.front().byteLength = 0;
        w.list->volumes.front().sizeText = u"0";
        page->settingsPathBox()->clear();
        QTest::mouseClick(page->parseButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QStringLiteral("zero size volume.."));
        QVERIFY(!page->running());
        QVERIFY(page->backButton()->isEnabled() && page->parseButton()->isEnabled());
        QCOMPARE(page->statusText()->text(), QStringLiteral("Processing done"));

        // A settings file that cannot be read ends the Parse.
        page->settingsPathBox()->setText(QStringLiteral("/nonexistent/settings.txt"));
        QTest::mouseClick(page->parseButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QStringLiteral("can not open file"));
        QVERIFY(!page->running());
        QVERIFY(!page->progress()->isVisible());
    }

    void progressFollowsCarvingPastTwoBillionClusters() {
        // A 4 TiB disk of 512-byte clusters: the count does not fit the bar's int.
        RawPage w(fixture(QStringLiteral("carve.img")), 0, sectorsOf(fixture(QStringLiteral("carve.img"))));
        const qint64 clusters = qint64{1} << 33;
        w.page->scanHost()->setProgressRange(0, clusters);
        for (const qint64 done : {clusters / 4, clusters / 2, clusters - 1}) {
            w.page->scanHost()->setProgressPos(done);
            const double shown = double(w.page->progress()->value()) / w.page->progress()->maximum();
            QVERIFY2(std::abs(shown - double(done) / double(clusters)) < 0.001, qPrintable(QString::number(shown)));
        }
    }

    void parseFindsWhatTheCommandLineFinds() {
        const QString image = fixture(QStringLiteral("carve.img"));
        RawPage w(image, 0, sectorsOf(image));
        RawRecoveryDialog* page = w.page;
        // The box still names the default set: it is loaded twice, each kind is still found once.
        QCOMPARE(page->settingsPathBox()->text(), page->defaultSettingsPath);
        QVERIFY(w.parse());
        const auto defaults = static_cast<int>(QFileInfo(page->defaultSettingsPath).size() / 171);
        QCOMPARE(page->loadedCount, std::min(2 * defaults, 128));
        QCOMPARE(std::size_t(page->loadedCount), page->engine()->definitionCount());

        QTemporaryDir out;
        const FileSets cli = cliCarve(image, page->defaultSettingsPath, out.path());
        QVERIFY(fileCount(cli) > 0);
        const FileSets tree = treeFiles(page);
        for (const auto& [category, names] : cli) QCOMPARE(tree.at(category), names);
        QCOMPARE(fileCount(tree), fileCount(cli));
        // Each category's label counts its files.
        QTreeWidgetItem* root = page->rootItem();
        QCOMPARE(root->text(0), QStringLiteral("RAW RECOVERY "));
        for (int c = 0; c < root->childCount(); ++c) {
            QTreeWidgetItem* category = root->child(c);
            if (category->childCount() > 0)
                QCOMPARE(category->text(0),
                         QStringLiteral("%1 (%2)").arg(categoryName(category->text(0))).arg(category->childCount()));
        }
        QCOMPARE(page->statusText()->text(), QStringLiteral("Processing done"));
        QVERIFY(!page->progress()->isVisible() && !page->stopButton()->isVisible());
        QVERIFY(page->backButton()->isEnabled() && page->settingButton()->isEnabled());

        // Selecting a category lists its files.
        QTreeWidgetItem* pictures = nullptr;
        for (int c = 0; c < root->childCount(); ++c)
            if (categoryName(root->child(c)->text(0)) == QStringLiteral("Pictures")) pictures = root->child(c);
        QVERIFY(pictures != nullptr);
        page->tree()->setCurrentItem(pictures);
        QCOMPARE(page->fileList()->rowCount(), pictures->childCount());
        QCOMPARE(page->fileList()->item(0, 0)->text(), pictures->child(0)->text(0));
        renderToPng(page, QStringLiteral("raw-recovery-page"));
    }

    void saveWritesTheCheckedFilesAsTheCommandLineDoes() {
        const QString image = fixture(QStringLiteral("carve.img"));
        RawPage w(image, 0, sectorsOf(image));
        RawRecoveryDialog* page = w.page;
        QVERIFY(w.parse());
        QTemporaryDir cliOut;
        cliCarve(image, page->defaultSettingsPath, cliOut.path());

        // Check one whole category and every other file of the rest.
        std::set<QString> expected;
        QTreeWidgetItem* root = page->rootItem();
        for (int c = 0; c < root->childCount(); ++c) {
            QTreeWidgetItem* category = root->child(c);
            const QString name = categoryName(category->text(0));
            if (name == QStringLiteral("Archives")) {
                page->tree()->setCheck(category, true);
                for (int f = 0; f < category->childCount(); ++f) expected.insert(name + "/" + category->child(f)->text(0));
                continue;
            }
            for (int f = 0; f < category->childCount(); f += 2) {
                page->tree()->setCheck(category->child(f), true);
                expected.insert(name + "/" + category->child(f)->text(0));
            }
        }
        // The fixture's one cut file (the command line lists it as damaged or cut) is among them,
        // and its preview says so.
        QTreeWidgetItem* cut = nullptr;
        for (int c = 0; c < root->childCount(); ++c)
            for (int f = 0; f < root->child(c)->childCount(); ++f)
                if (categoryName(root->child(c)->text(0)) + "/" + root->child(c)->child(f)->text(0) ==
                    QStringLiteral("Video/2220032 .mp4"))
                    cut = root->child(c)->child(f);
        QVERIFY(cut != nullptr);
        page->tree()->setCheck(cut, true);
        expected.insert(QStringLiteral("Video/2220032 .mp4"));
        page->tree()->setCurrentItem(cut);
        page->preview()->waitForWorker();
        QVERIFY2(page->preview()->headerText().endsWith(QStringLiteral("\nDamaged or cut: only its sound part is kept.")),
                 qPrintable(page->preview()->headerText()));
        QCOMPARE(page->checkedFiles().size(), expected.size());
        root->child(0)->setExpanded(true);
        page->tree()->setCurrentItem(root->child(0));
        renderToPng(page, QStringLiteral("raw-recovery-checked"));

        QTemporaryDir out;
        QVERIFY(w.save(out.path()));
        QCOMPARE(filesBelow(out.path()), expected);
        for (const QString& file : expected)
            QVERIFY2(readAll(out.path() + "/" + file) == readAll(cliOut.path() + "/" + file), qPrintable(file));
        QVERIFY(page->statusText()->text().startsWith(QStringLiteral("%1 of %1 file(s) saved").arg(expected.size())));
        QCOMPARE(w.log.notices.last(),
                 QStringLiteral("1 file(s) are damaged or cut; each was saved up to its last sound part."));

        // Again into the same folder: the first copies stay, the second ones get " (2)".
        QVERIFY(w.save(out.path()));
        std::set<QString> both = expected;
        for (const QString& file : expected) {
            const QFileInfo info(file);
            const QString second = info.path() + "/" + info.completeBaseName() + " (2)." + info.suffix();
            both.insert(second);
            QVERIFY2(readAll(out.path() + "/" + second) == readAll(cliOut.path() + "/" + file), qPrintable(second));
            QVERIFY(readAll(out.path() + "/" + file) == readAll(cliOut.path() + "/" + file));
        }
        QCOMPARE(filesBelow(out.path()), both);
    }

    void editorWritesADefinitionThatCarves() {
        const QString image = fixture(QStringLiteral("carve.img"));
        RawPage w(image, 0, sectorsOf(image));
        QTemporaryDir dir;
        const QString settings = dir.path() + "/own-png.txt";

        RawSettingDlg editor(w.page);
        editor.show();
        QCOMPARE(editor.helpButtons().size(), 10);
        QCOMPARE(editor.helpButtons()[0]->toolTip(), QString::fromLatin1(RawSettingDlg::kExtensionHelpOnOpen));
        QTest::mouseClick(editor.helpButtons()[0], Qt::LeftButton);
        QCOMPARE(editor.helpButtons()[0]->toolTip(), QString::fromLatin1(RawSettingDlg::kExtensionHelp));
        QCOMPARE(editor.helpButtons()[9]->toolTip(),
                 QStringLiteral("here enter the name of category you want to put these files under"));

        editor.chooseFile = [settings] { return settings; };
        QTest::mouseClick(editor.browseButton(), Qt::LeftButton);
        QCOMPARE(editor.pathBox()->text(), settings);
        QVERIFY(QFileInfo::exists(settings));

        // Refusals write nothing.
        QTest::mouseClick(editor.saveButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QStringLiteral("extention length is zero.."));
        editor.extensionBox()->setText(QStringLiteral("png"));
        QTest::mouseClick(editor.saveButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QStringLiteral("signature length is zero.."));
        QCOMPARE(QFileInfo(settings).size(), qint64(0));

        editor.startSignatureBox()->setText(QStringLiteral("0x89,0x50,0x4E,0x47"));
        editor.endSignatureBox()->setText(QStringLiteral("49,45,4E,44,AE,42,60,82"));
        editor.approxSizeBox()->setText(QStringLiteral("300000"));
        editor.skipSizeBox()->setText(QStringLiteral("0"));
        editor.categoryBox()->setText(QStringLiteral("Own PNG"));
        QTest::mouseClick(editor.saveButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QStringLiteral("everything initialized well....."));
        QTest::mouseClick(editor.okButton(), Qt::LeftButton);
        QVERIFY(!editor.fileOpen());

        // The record holds the fields as typed.
        const QByteArray bytes = readAll(settings);
        QCOMPARE(bytes.size(), qsizetype(171));
        const SignatureRecord record =
            decodeRecord(ByteSpan(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())));
        QCOMPARE(qs(record.extension), QStringLiteral("png"));
        QCOMPARE(int(record.extensionLength), 3);
        QCOMPARE(int(record.startLength), 4);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(record.startSignature.data()), 4), QByteArray("\x89PNG"));
        QCOMPARE(int(record.endLength), 8);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(record.endSignature.data()), 8),
                 QByteArray::fromHex("49454E44AE426082"));
        QCOMPARE(int(record.recordNumber), 0);
        QCOMPARE(record.sizeOffset, -1);
        QCOMPARE(record.sizeWidth, 0);
        QCOMPARE(record.approximateSize, std::int64_t{300000});
        QCOMPARE(record.skipSize, std::int64_t{0});
        QVERIFY(!record.sizeIncludesHeader);
        QCOMPARE(qs(record.category), QStringLiteral("Own PNG"));

        // Parse with that file alone finds the pictures it describes, as the command line does.
        RawRecoveryDialog* page = w.page;
        page->loadDefaultItems()->setChecked(false);
        page->settingsPathBox()->setText(settings);
        QVERIFY(w.parse());
        QCOMPARE(page->loadedCount, 1);
        std::set<qint64> pngs;
        for (const Placed& p : placedFiles())
            if (p.name.endsWith(QStringLiteral(".png"))) pngs.insert(p.offset);
        std::set<qint64> found;
        for (const CarvedFile& f : page->engine()->carvedFiles) found.insert(f.offset);
        QCOMPARE(found, pngs);
        QTemporaryDir out;
        const FileSets cli = cliCarve(image, settings, out.path());
        QCOMPARE(treeFiles(page), cli);
        QCOMPARE(cli.size(), std::size_t{1});
        QCOMPARE(cli.begin()->first, QStringLiteral("Own PNG"));
    }

    void editorRendered() {
        RawPage w(fixture(QStringLiteral("carve.img")), 0, 16);
        RawSettingDlg editor(w.page);
        editor.extensionBox()->setText(QStringLiteral("png"));
        editor.startSignatureBox()->setText(QStringLiteral("0x89,0x50,0x4E,0x47"));
        editor.show();
        renderToPng(&editor, QStringLiteral("raw-signature-editor"));
        // A file that cannot be created.
        editor.chooseFile = [] { return QStringLiteral("/nonexistent/folder/own.txt"); };
        QTest::mouseClick(editor.browseButton(), Qt::LeftButton);
        QCOMPARE(w.log.notices.last(), QStringLiteral("file can not be created"));
        QVERIFY(editor.pathBox()->text().isEmpty());
    }

    void pauseHoldsAndStopKeepsWhatWasFound() {
        // The carving fixture at the start of a large, sparse volume, so that the run lasts.
        QTemporaryDir dir;
        const QString image = dir.path() + "/large.img";
        {
            QFile f(image);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(readAll(fixture(QStringLiteral("carve.img"))));
            QVERIFY(f.resize(qint64(2) << 30));
        }
        RawPage w(image, 0, sectorsOf(image));
        RawRecoveryDialog* page = w.page;
        QSignalSpy ended(page, &RawRecoveryDialog::runEnded);
        QTest::mouseClick(page->parseButton(), Qt::LeftButton);
        QVERIFY(page->running());
        QVERIFY(page->pauseButton()->isVisible() && page->resumeButton()->isVisible() && page->stopButton()->isVisible());
        QVERIFY(!page->backButton()->isEnabled() && !page->parseButton()->isEnabled() && !page->settingButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(page->progress()->value() >= 4, 60000);

        QTest::mouseClick(page->pauseButton(), Qt::LeftButton);
        QCOMPARE(page->statusText()->text(), QStringLiteral("Pause button pressed"));
        QTest::qWait(1000);  // the worker reaches the gate at its next block
        const int held = page->progress()->value();
        QTest::qWait(700);
        QCOMPARE(page->progress()->value(), held);
        QVERIFY(page->running());
        renderToPng(page, QStringLiteral("raw-recovery-paused"));

        QTest::mouseClick(page->resumeButton(), Qt::LeftButton);
        QCOMPARE(page->statusText()->text(), QStringLiteral("Resume button pressed"));
        QTRY_VERIFY_WITH_TIMEOUT(page->progress()->value() > held, 60000);

        QTest::mouseClick(page->stopButton(), Qt::LeftButton);
        QCOMPARE(page->statusText()->text(), QStringLiteral("Stop button pressed.Please wait for the process to stop"));
        QVERIFY(ended.wait(60000));
        QVERIFY(page->engine()->stopped());
        // What was found before the stop stays: the files of the first MiBs among them.
        const FileSets tree = treeFiles(page);
        QCOMPARE(fileCount(tree), page->engine()->carvedFiles.size());
        QTemporaryDir out;
        const FileSets cli = cliCarve(fixture(QStringLiteral("carve.img")), page->defaultSettingsPath, out.path());
        for (const auto& [category, names] : cli)
            for (const QString& name : names) QVERIFY2(tree.at(category).count(name) == 1, qPrintable(name));
        QVERIFY(page->backButton()->isEnabled() && page->parseButton()->isEnabled());
    }

    void backWhilePausedEndsTheRun() {
        QTemporaryDir dir;
        const QString image = dir.path() + "/large.img";
        {
            QFile f(image);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(qint64(2) << 30));
        }
        RawPage w(image, 0, sectorsOf(image));
        RawRecoveryDialog* page = w.page;
        QTest::mouseClick(page->parseButton(), Qt::LeftButton);
        QVERIFY(page->running());
        QTest::mouseClick(page->pauseButton(), Qt::LeftButton);
        // Closing the page waits for the worker, which the pause must not hold.
        QPointer<RawRecoveryDialog> alive(page);
        page->goBack();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(alive.isNull());
        QCOMPARE(w.app->visiblePage(), static_cast<WizardPage*>(w.list));
    }
};

CORVELLO_UI_TEST(RawRecoveryTest);
#include "RawRecovery_qtest.moc"
