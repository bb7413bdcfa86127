#pragma once
// Plugs the later steps of the wizard into the application: after the volume list or the
// volume information comes the recovery-mode page.

namespace corvello::ui {

class WizardApp;

void installWizardSteps(WizardApp& app);

}  // namespace corvello::ui
