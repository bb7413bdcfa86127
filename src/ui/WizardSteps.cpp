#include "ui/WizardSteps.h"

#include "ui/WizardApp.h"
#include "ui/RecoveryModePage.h"

namespace corvello::ui {

void installWizardSteps(WizardApp& app) {
    app.recoveryModePage = [](WizardPage* parent, int) -> WizardPage* { return new RecoveryModePage(parent); };
}

}  // namespace corvello::ui
