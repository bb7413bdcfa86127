// corvello: the wizard. Image files named on the command line are put under the physical
// drives of the first page, as "Open disk image..." does; --select DEVICE selects the item of
// that device path (the restart with administrator rights passes both).

#include <QApplication>
#include <QIcon>
#include <QStringList>
#include <cstdio>
#include <cstring>

#include "platform/ProgramPath.h"
#include "ui/WizardApp.h"
#include "ui/WizardSteps.h"

namespace {

const char kUsage[] =
    "usage: corvello [--select DEVICE] [IMAGE...]\n"
    "       corvello --version | --help\n"
    "\n"
    "Starts the Corvello wizard. Each IMAGE (a disk or volume image) is opened on the first page;\n"
    "--select DEVICE selects the drive, volume or image of that device path.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before any window system is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("corvello %s\n", corvello::platform::programVersion());
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvello"));
    QApplication::setApplicationVersion(QString::fromLatin1(corvello::platform::programVersion()));
    QApplication::setDesktopFileName(QStringLiteral("com.quillmark.corvello"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("corvello")));

    QStringList images;
    QString select;
    const QStringList arguments = QApplication::arguments();
    bool options = true;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (options && a == QStringLiteral("--")) {
            options = false;
        } else if (options && a == QStringLiteral("--select")) {
            if (i + 1 >= arguments.size()) {
                std::fputs("corvello: --select needs a device path.\n", stderr);
                return 2;
            }
            select = arguments[++i];
        } else {
            images << a;
        }
    }
    corvello::ui::WizardApp app;
    corvello::ui::installWizardSteps(app);
    return app.run(images, select);
}
