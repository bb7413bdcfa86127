// corvello: the wizard. Image files named on the command line are put under the physical
// drives of the first page, as "Open disk image..." does.

#include <QApplication>
#include <QStringList>

#include "ui/CBrevantApp.h"
#include "ui/WizardSteps.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvello"));
    QStringList images = QApplication::arguments();
    images.removeFirst();
    corvello::ui::CBrevantApp app;
    corvello::ui::installWizardSteps(app);
    return app.run(images);
}
