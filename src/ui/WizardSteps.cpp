#include "ui/WizardSteps.h"

#include "ui/CBrevantApp.h"
#include "ui/ParceModeNtfsDlg.h"

namespace corvello::ui {

void installWizardSteps(CBrevantApp& app) {
    app.recoveryModePage = [](WizardPage* parent, int) -> WizardPage* { return new ParceModeNtfsDlg(parent); };
}

}  // namespace corvello::ui
