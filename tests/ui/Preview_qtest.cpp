// The preview beside the scan page's list and the list's "Data" column: pictures, text and
// binaries as they are shown, a large file selected without waiting for it, the data states
// of deleted files in words and colours, and the search and save limited to intact files.
#include <QBuffer>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <QTableWidget>
#include <memory>
#include <sstream>

#include "UiTestSupport.h"
#include "cli/Cli.h"
#include "common/VolumeRecord.h"
#include "device/FileReadSeek.h"
#include "raw/CarvingEngine.h"
#include "ui/WizardApp.h"
#include "ui/CheckList.h"
#include "ui/CheckTree.h"
#include "ui/RecoveryModePage.h"
#include "ui/DriveTreePage.h"
#include "ui/VolumeListPage.h"
#include "ui/PreviewPane.h"
#include "ui/QtText.h"
#include "ui/RawRecoveryDialog.h"
#include "ui/VolumeInformationPage.h"
#include "ui/ScanPage.h"
#include "ui/WizardSteps.h"

using namespace corvello;
using namespace corvello::ui;

namespace {

constexpr int kLongWait = 120000;

std::vector<std::uint8_t> bytesOf(const QByteArray& a) { return {a.begin(), a.end()}; }

// A scan page with a finished standard scan of a volume image.
struct ScannedPage {
    uitest::FakeMachine machine;
    uitest::MessageLog log;
    QTemporaryDir lockDir;
    std::unique_ptr<WizardApp> app;
    ScanPage* page = nullptr;

    explicit ScannedPage(const QString& image) {
        app = std::make_unique<WizardApp>(lockDir.path());
        app->systemRoots = machine.roots;
        app->endHook = [](int) {};
        installWizardSteps(*app);
        app->startUp();
        if (!app->firstPage()->addImageFile(uitest::fixture(image))) return;
        QTest::mouseClick(app->firstPage()->nextButton(), Qt::LeftButton);
        auto* info = qobject_cast<VolumeInformationPage*>(app->visiblePage());
        if (info == nullptr) return;
        QTest::mouseClick(info->nextButton(), Qt::LeftButton);
        auto* mode = qobject_cast<RecoveryModePage*>(app->visiblePage());
        if (mode == nullptr) return;
        QTest::mouseClick(mode->nextButton(), Qt::LeftButton);
        page = qobject_cast<ScanPage*>(app->visiblePage());
        if (page == nullptr || !waitForWork() || page->state() != ScanPage::State::Done) page = nullptr;
    }
    bool waitForWork() const {
        QElapsedTimer t;
        t.start();
        while ((page->scanInProgress || page->workerRunning()) && t.elapsed() < kLongWait) QTest::qWait(20);
        QCoreApplication::processEvents();
        return !page->workerRunning();
    }
    QTreeWidgetItem* root() const { return page->tree()->topLevelItem(0); }
    QTreeWidgetItem* topItem(const QString& text) const {
        for (int i = 0; i < root()->childCount(); ++i)
            if (root()->child(i)->text(0) == text) return root()->child(i);
        return nullptr;
    }
    void clickLabel(QTreeWidgetItem* item) const {
        page->tree()->scrollToItem(item);
        const QRect r = page->tree()->visualItemRect(item);
        QTest::mouseClick(page->tree()->viewport(), Qt::LeftButton, {}, QPoint(r.right() - 4, r.center().y()));
    }
    // Waits until the preview shows the content of the current selection.
    bool waitForPreview() const {
        QElapsedTimer t;
        t.start();
        while (page->preview()->kind() == PreviewPane::Kind::Loading && t.elapsed() < kLongWait) QTest::qWait(10);
        return page->preview()->kind() != PreviewPane::Kind::Loading;
    }
    // The rows a name search finds (with the box as it is).
    bool search(const QString& pattern) const {
        page->searchEdit()->setText(pattern);
        QTest::mouseClick(page->searchButton(), Qt::LeftButton);
        return waitForWork();
    }
    int row(const QString& name) const {
        for (int r = 0; r < page->fileList()->itemCount(); ++r)
            if (page->fileList()->itemText(r, 0) == name) return r;
        return -1;
    }
};

QMap<QString, QByteArray> manifestOf(const QString& name) {
    QMap<QString, QByteArray> files;  // path -> sha256 (hex) or "-"
    QFile f(QStringLiteral(CORVELLO_SOURCE_FIXTURES "/") + name + ".manifest");
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> cols = line.split('\t');
        if (cols.size() == 5 && cols[0] == "f") files.insert(QString::fromUtf8(cols[4]), cols[3]);
    }
    return files;
}

bool waitForPreview(PreviewPane* pane) {
    QElapsedTimer t;
    t.start();
    while (pane->kind() == PreviewPane::Kind::Loading && t.elapsed() < kLongWait) QTest::qWait(10);
    return pane->kind() != PreviewPane::Kind::Loading;
}

}  // namespace

class PreviewTest : public QObject {
    Q_OBJECT
private slots:
    // What the preview makes of bytes: pictures (their pixel size), text in its encoding, and
    // everything else as hex.
    void classifiesPicturesTextAndBinaries_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("shown");  // the text shown contains this
        QImage picture(37, 23, QImage::Format_RGB32);
        picture.fill(Qt::blue);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "PNG");
        QTest::newRow("PNG") << png << int(PreviewPane::Kind::Image) << QString();
        QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9 au lait\n") << int(PreviewPane::Kind::Text) << "café au lait";
        QTest::newRow("UTF-8 cut in a character") << QByteArray("na\xc3\xafve \xe2\x82") << int(PreviewPane::Kind::Text)
                                                  << "naïve";
        QTest::newRow("UTF-16LE with BOM") << QByteArray("\xff\xfe" "c\0a\0f\0\xe9\0", 10) << int(PreviewPane::Kind::Text)
                                           << "café";
        QTest::newRow("UTF-16LE without BOM") << QByteArray("n\0o\0t\0e\0s\0 \0o\0k\0", 16)
                                              << int(PreviewPane::Kind::Text) << "notes ok";
        QTest::newRow("Windows-1252") << QByteArray("caf\xe9 \x80 5") << int(PreviewPane::Kind::Text) << "café € 5";
        QTest::newRow("binary") << QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0", 20)
                                << int(PreviewPane::Kind::Hex) << "00000000  7f 45 4c 46 02 01 01 00  00 00";
    }
    void classifiesPicturesTextAndBinaries() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, kind);
        QFETCH(QString, shown);
        QImage image;
        QString text;
        QCOMPARE(int(PreviewPane::classify(bytesOf(bytes), &image, &text)), kind);
        if (kind == int(PreviewPane::Kind::Image)) QCOMPARE(image.size(), QSize(37, 23));
        if (!shown.isEmpty()) QVERIFY2(text.contains(shown), qPrintable(text));
    }

    // Selecting a file in the tree or the list previews it: the picture of the fixture at its
    // pixel size, the text file as text, a binary as hex, with path and size above.
    void selectedFilesArePreviewed() {
        ScannedPage s("reuse-ntfs.img");
        QVERIFY(s.page != nullptr);
        // Before a file is chosen the pane says what it is for.
        QCOMPARE(s.page->preview()->kind(), PreviewPane::Kind::None);
        QCOMPARE(s.page->preview()->shownText(), PreviewPane::kNothingChosen);
        QTreeWidgetItem* picture = s.topItem("picture.png");
        QVERIFY(picture != nullptr);
        s.clickLabel(picture);
        QVERIFY(s.waitForPreview());
        QCOMPARE(s.page->preview()->kind(), PreviewPane::Kind::Image);
        QCOMPARE(s.page->preview()->imageSize(), QSize(40, 30));
        QVERIFY2(s.page->preview()->headerText().contains(QStringLiteral("ROOT\\picture.png")),
                 qPrintable(s.page->preview()->headerText()));
        QVERIFY(s.page->preview()->headerText().contains(QStringLiteral("2313 bytes")));
        uitest::renderToPng(s.page, "page-139-preview-picture");

        // From the list of search results.
        QVERIFY(s.search(QStringLiteral("notes|reused")));
        const int notes = s.row(QStringLiteral("ROOT\\notes.txt"));
        QVERIFY(notes >= 0);
        s.page->fileList()->setCurrentItem(s.page->fileList()->topLevelItem(notes));
        QVERIFY(s.waitForPreview());
        QCOMPARE(s.page->preview()->kind(), PreviewPane::Kind::Text);
        QVERIFY(s.page->preview()->headerText().startsWith(QStringLiteral("ROOT\\notes.txt\n")));
        QVERIFY2(s.page->preview()->shownText().contains(QStringLiteral("café, naïve, € 5")),
                 qPrintable(s.page->preview()->shownText()));
        uitest::renderToPng(s.page, "page-139-preview-text");

        const int binary = s.row(QStringLiteral("ROOT\\wholly reused.bin"));
        QVERIFY(binary >= 0);
        s.page->fileList()->setCurrentItem(s.page->fileList()->topLevelItem(binary));
        QVERIFY(s.waitForPreview());
        QCOMPARE(s.page->preview()->kind(), PreviewPane::Kind::Hex);
        QVERIFY(s.page->preview()->shownText().startsWith(QStringLiteral("00000000  ")));
        QVERIFY(s.page->preview()->headerText().contains(QStringLiteral("Data: overwritten")));
        uitest::renderToPng(s.page, "page-139-preview-hex");
    }

    // A large file: the selection returns before anything is read, and what is read and shown
    // is its start only.
    void largeFileSelectionReturnsAtOnce() {
        ScannedPage s("reuse-fat32.img");
        QVERIFY(s.page != nullptr);
        QTreeWidgetItem* filler = s.topItem("filler.bin");
        QVERIFY(filler != nullptr);
        s.clickLabel(filler);
        QCOMPARE(s.page->preview()->kind(), PreviewPane::Kind::Loading);
        QVERIFY(s.waitForPreview());
        QCOMPARE(s.page->preview()->kind(), PreviewPane::Kind::Hex);
        const int lines = int(s.page->preview()->shownText().count(QLatin1Char('\n')));
        QCOMPARE(lines, int(PreviewPane::kTextBytes / 16));
    }

    // The list tells each deleted file's data state in words and colour; with "Intact files
    // only" the search finds, and the save writes, live files and intact deleted ones only.
    void dataStatesAndIntactOnlySearchAndSave() {
        ScannedPage s("reuse-exfat.img");
        QVERIFY(s.page != nullptr);
        QVERIFY(s.search(QStringLiteral("reused|untouched|keep")));
        struct Expect {
            QString name, text;
            QColor color;
        };
        const Expect expected[] = {
            {"ROOT\\untouched.bin", "intact", dataStateColor(DataState::Intact)},
            {"ROOT\\partly reused.bin", "partly overwritten (50%)", dataStateColor(DataState::PartlyOverwritten)},
            {"ROOT\\wholly reused.bin", "overwritten", dataStateColor(DataState::Overwritten)},
            {"ROOT\\keep.txt", "", QColor()},
        };
        for (const Expect& e : expected) {
            const int r = s.row(e.name);
            QVERIFY2(r >= 0, qPrintable(e.name));
            QCOMPARE(s.page->fileList()->itemText(r, ScanPage::kDataColumn), e.text);
            if (e.color.isValid())
                QCOMPARE(s.page->fileList()->topLevelItem(r)->foreground(0).color(), e.color);
        }
        QCOMPARE(s.page->fileList()->headerItem()->text(ScanPage::kDataColumn), QStringLiteral("Data"));
        uitest::renderToPng(s.page, "page-139-data-states");

        s.page->intactOnlyBox()->setChecked(true);
        QVERIFY(s.search(QStringLiteral("reused|untouched|keep")));
        QStringList found;
        for (int r = 0; r < s.page->fileList()->itemCount(); ++r) found << s.page->fileList()->itemText(r, 0);
        found.sort();
        QCOMPARE(found, (QStringList{"ROOT\\keep.txt", "ROOT\\untouched.bin"}));

        QTemporaryDir out;
        ScanPage::folderChooser = [&out](QWidget*) { return out.path(); };
        s.page->tree()->setCheck(s.root(), true);
        QTest::mouseClick(s.page->saveButton(), Qt::LeftButton);
        QVERIFY(s.waitForWork());
        ScanPage::folderChooser = {};
        QMap<QString, QByteArray> written;
        QDirIterator it(out.path(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            written.insert(QDir(out.path()).relativeFilePath(path),
                           QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
        }
        const QMap<QString, QByteArray> manifest = manifestOf("reuse-exfat");
        for (auto m = manifest.begin(); m != manifest.end(); ++m) {
            if (m.value() == "-")
                QVERIFY2(!written.contains(m.key()), qPrintable(m.key()));
            else
                QCOMPARE(written.value(m.key()), m.value());
        }
    }

    // On the raw-recovery page a found picture shows as the picture the command line carves,
    // and a found file selected in the list shows too.
    void rawPageShowsFoundFiles() {
        const QString image = uitest::fixture(QStringLiteral("carve.img"));
        uitest::FakeMachine machine;
        uitest::MessageLog log;
        QTemporaryDir lockDir;
        auto app = std::make_unique<WizardApp>(lockDir.path());
        app->systemRoots = machine.roots;
        app->endHook = [](int) {};
        app->startUp();
        auto* list = new VolumeListPage(app->firstPage());
        list->devicePath = image;
        VolumeRecord record;
        record.fileSystem = u"RAW";
        record.locator = u"0";
        const qint64 sectors = (QFileInfo(image).size() + 511) / 512;
        record.sizeText = u16(QString::number(sectors / 2048));
        record.startSector = 0;
        record.byteLength = sectors * 512;
        list->volumes = {record};
        list->selectedVolume = &list->volumes.front();
        app->newReader()->open(image.toStdString());
        auto* page = new RawRecoveryDialog(list);
        QVERIFY(list->showNextPage(page, kVolumeListPage));
        QSignalSpy ended(page, &RawRecoveryDialog::runEnded);
        QTest::mouseClick(page->parseButton(), Qt::LeftButton);
        QVERIFY(!ended.isEmpty() || ended.wait(kLongWait));

        // The command line's carving of the same volume, for the picture's own size.
        QTemporaryDir out;
        std::ostringstream o, e;
        const std::vector<std::string> carveArgs = {"carve", image.toStdString(), "--no-defaults", "--settings",
                                                    page->defaultSettingsPath.toStdString(), "--out",
                                                    out.path().toStdString()};
        const int status = cli::runCli(carveArgs, o, e);
        // The fixture's clip.mp4 has no movie box: named as cut, so the status is "incomplete".
        QVERIFY2(status == cli::kExitIncomplete, e.str().c_str());
        QTreeWidgetItem* pictures = nullptr;
        for (int c = 0; c < page->rootItem()->childCount(); ++c)
            if (page->rootItem()->child(c)->text(0).startsWith(QStringLiteral("Pictures")))
                pictures = page->rootItem()->child(c);
        QVERIFY(pictures != nullptr);
        QTreeWidgetItem* png = nullptr;
        for (int f = 0; f < pictures->childCount(); ++f)
            if (pictures->child(f)->text(0).endsWith(QStringLiteral(".png"))) png = pictures->child(f);
        QVERIFY(png != nullptr);
        const QImage carved(out.path() + "/Pictures/" + png->text(0));
        QVERIFY(!carved.isNull());
        page->tree()->setCurrentItem(png);
        QVERIFY(waitForPreview(page->preview()));
        QCOMPARE(page->preview()->kind(), PreviewPane::Kind::Image);
        QCOMPARE(page->preview()->imageSize(), carved.size());
        QVERIFY(page->preview()->headerText().contains(png->text(0)));
        uitest::renderToPng(page, "page-raw-preview-picture");

        // A row of the list previews its file.
        page->tree()->setCurrentItem(pictures);
        QVERIFY(page->fileList()->rowCount() > 1);
        page->fileList()->setCurrentCell(1, 0);
        QVERIFY(waitForPreview(page->preview()));
        QVERIFY(page->preview()->headerText().contains(page->fileList()->item(1, 0)->text()));
        QVERIFY(page->preview()->kind() != PreviewPane::Kind::None);
    }
};

CORVELLO_UI_TEST(PreviewTest);

#include "Preview_qtest.moc"
