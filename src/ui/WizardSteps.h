#pragma once
// Plugs the later steps of the wizard into the application: after the volume list or the
// volume information comes the recovery-mode page.

namespace corvello::ui {

class CBrevantApp;

void installWizardSteps(CBrevantApp& app);

}  // namespace corvello::ui
