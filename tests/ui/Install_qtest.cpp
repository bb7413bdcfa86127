// What an installed wizard adds: the offer to restart with administrator rights when drives
// cannot be opened, the restart's arguments that bring back the user's choice, the local help
// and the version in the About box.
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeWidget>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "UiTestSupport.h"
#include "platform/ProgramPath.h"
#include "ui/WizardApp.h"
#include "ui/DriveTreePage.h"
#include "ui/WizardPage.h"

using namespace corvello;
using namespace corvello::ui;
using corvello::uitest::renderToPng;

namespace {

// While alive, this thread reads files as an ordinary user would: root's right to read any file
// (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH) is dropped from the effective set, and given back.
class WithoutReadOverride {
public:
    WithoutReadOverride() {
        if (::geteuid() != 0) return;
        if (::syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        dropped_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutReadOverride() {
        if (dropped_) ::syscall(SYS_capset, &header_, saved_);
    }
    // Whether files of mode 000 are now unreadable here.
    bool effective() const { return ::geteuid() != 0 || dropped_; }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool dropped_ = false;
};

// A machine whose one disk is there but cannot be opened without administrator rights.
struct LockedMachine {
    LockedMachine() {
        const QString root = dir.path();
        roots.sysBlock = (root + "/sys/block").toStdString();
        roots.devices = (root + "/dev").toStdString();
        roots.mountInfo = (root + "/proc/mountinfo").toStdString();
        for (const char* folder : {"/sys/block/sdb/device", "/dev", "/proc"}) QDir().mkpath(root + QLatin1String(folder));
        write(root + "/sys/block/sdb/size", "2048\n");
        write(root + "/sys/block/sdb/device/model", "Locked Disk\n");
        write(root + "/proc/mountinfo", "");
        QFile disk(uitest::fixture(QStringLiteral("mbr-disk.img")));
        disk.open(QIODevice::ReadOnly);
        write(root + "/dev/sdb", disk.read(1 << 20));
        QFile::setPermissions(root + "/dev/sdb", QFileDevice::Permissions());
    }
    static void write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
    }
    QTemporaryDir dir;
    SystemRoots roots;
};

struct Launch {
    QString program;
    QStringList arguments;
};

}  // namespace

class InstallTest : public QObject {
    Q_OBJECT
private slots:
    void drivesThatCannotBeOpenedAreOfferedARestart() {
        LockedMachine machine;
        uitest::MessageLog log;
        QTemporaryDir lockDir;
        WizardApp app(lockDir.path());
        app.systemRoots = machine.roots;
        app.elevationPossible = true;  // as for a user who is not root
        QList<int> ended;
        app.endHook = [&](int code) { ended << code; };
        QList<Launch> launches;
        bool launchStarts = true;
        app.launchHook = [&](const QString& program, const QStringList& arguments) {
            launches << Launch{program, arguments};
            return launchStarts;
        };
        {
            WithoutReadOverride user;
            if (!user.effective()) QSKIP("cannot drop the right to read every file here");
            QVERIFY(app.startUp());
        }
        DriveTreePage* first = app.firstPage();
        QCOMPARE(first->drivesRoot()->childCount(), 0);
        QVERIFY(first->elevateButton()->isVisible());
        QCOMPARE(first->elevateButton()->text(), QStringLiteral("Restart as administrator..."));
        QVERIFY(first->statusLabel()->text().startsWith(QStringLiteral("1 drive(s) or volume(s) could not be opened")));
        QVERIFY(first->statusLabel()->text().contains(QStringLiteral("\"Restart as administrator...\"")));
        renderToPng(first, QStringLiteral("page-130-restart-as-administrator"));

        // The user opens an image first: the restart brings it back, selected.
        const QString image = uitest::fixture(QStringLiteral("sample-disk.img"));
        QVERIFY(first->addImageFile(image));
        QTest::mouseClick(first->elevateButton(), Qt::LeftButton);
        QCOMPARE(launches.size(), 1);
        QCOMPARE(launches[0].program, QStringLiteral("pkexec"));
        QCOMPARE(launches[0].arguments,
                 (QStringList{QCoreApplication::applicationFilePath(), "--select", image, "--", image}));
        QVERIFY(!first->isVisible());

        // Authentication dismissed (126) or refused (127), or an elevated copy that failed (no
        // display for root, a crash): this copy comes back and says so.
        const struct {
            int code;
            const char* says;
        } comebacks[] = {{kElevationDismissed, "not restarted"}, {kElevationRefused, "not restarted"},
                         {1, "ended with an error (exit status 1)"}, {-1, "ended with an error"}};
        for (const auto& c : comebacks) {
            first->hide();
            log.notices.clear();
            app.elevatedCopyFinished(c.code);
            QVERIFY(first->isVisible());
            QCOMPARE(log.notices.size(), 1);
            QVERIFY2(log.notices[0].contains(QLatin1String(c.says)), qPrintable(log.notices[0]));
            QVERIFY(ended.isEmpty());
        }
        // pkexec that cannot start leaves the page where it is.
        launchStarts = false;
        QTest::mouseClick(first->elevateButton(), Qt::LeftButton);
        QVERIFY(first->isVisible());
        // The elevated copy ran: this one ends with its exit code.
        app.elevatedCopyFinished(0);
        QCOMPARE(ended, QList<int>{0});
    }

    void noOfferWithoutAReason() {
        // A process that is root already, and a machine whose drives open, are offered nothing.
        struct Case {
            bool locked;
            bool elevationPossible;
        };
        for (const Case c : {Case{true, false}, Case{false, true}}) {
            LockedMachine locked;
            uitest::FakeMachine open;
            uitest::MessageLog log;
            QTemporaryDir lockDir;
            WizardApp app(lockDir.path());
            app.systemRoots = c.locked ? locked.roots : open.roots;
            app.elevationPossible = c.elevationPossible;
            {
                WithoutReadOverride user;
                if (!user.effective()) QSKIP("cannot drop the right to read every file here");
                QVERIFY(app.startUp());
            }
            QVERIFY(!app.firstPage()->elevateButton()->isVisible());
            QCOMPARE(app.firstPage()->statusLabel()->text().contains(QStringLiteral("Start Corvello as administrator")),
                     c.locked);
        }
    }

    void restartArgumentsBringBackTheChoice() {
        // The elevated copy is started with the images and the selected device: a volume of the
        // machine stays selected, an image named like an option stays an image.
        uitest::FakeMachine machine;
        uitest::MessageLog log;
        QTemporaryDir lockDir, images;
        const QString odd = images.path() + "/--select";
        QVERIFY(QFile::copy(uitest::fixture(QStringLiteral("sample-disk.img")), odd));
        const QString stick = QString::fromStdString(machine.roots.devices) + "/sdc1";
        QStringList arguments;
        {
            WizardApp app(lockDir.path());
            app.systemRoots = machine.roots;
            QVERIFY(app.startUp({odd}, stick));
            QCOMPARE(app.firstPage()->selectedDevicePath(), stick);
            QCOMPARE(app.firstPage()->selectedItem()->parent(), app.firstPage()->volumesRoot());
            arguments = app.restartArguments();
        }
        QCOMPARE(arguments, (QStringList{"--select", stick, "--", odd}));
    }

    void helpMenuShowsTheLocalHelpAndAboutTheVersion() {
        uitest::FakeMachine machine;
        uitest::MessageLog log;
        QTemporaryDir lockDir;
        WizardApp app(lockDir.path());
        app.systemRoots = machine.roots;
        QVERIFY(app.startUp());
        DriveTreePage* first = app.firstPage();

        const QString help = WizardApp::helpFilePath();
        QVERIFY2(QFileInfo(help).fileName() == QStringLiteral("README.md"), qPrintable(help));
        QAction* action = first->helpButton()->menu()->actions().at(0);
        QCOMPARE(action->text(), QStringLiteral("Help"));
        action->trigger();
        auto* window = first->findChild<QDialog*>(QStringLiteral("helpWindow"));
        QVERIFY(window != nullptr);
        QTRY_VERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Corvello Help"));
        const QString text = window->findChild<QTextBrowser*>()->toPlainText();
        QVERIFY(text.contains(QStringLiteral("Corvello recovers files from disks")));
        QVERIFY(text.contains(QStringLiteral("corvello-cli drives")));
        renderToPng(window, QStringLiteral("help"));
        window->close();

        const QString version = QString::fromLatin1(platform::programVersion());
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(version).hasMatch());
        CQuillmarkAboutDlg about(first);
        QStringList labels;
        for (QLabel* label : about.findChildren<QLabel*>()) labels << label->text();
        QVERIFY2(labels.join('\n').contains(QStringLiteral("<b>Corvello</b> ") + version), qPrintable(labels.join('\n')));
    }
};

CORVELLO_UI_TEST(InstallTest);

#include "Install_qtest.moc"
