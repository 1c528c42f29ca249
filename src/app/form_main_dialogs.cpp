// The main window's two dialog commands: the general settings and the About box.
#include "about/form_about_box.h"
#include "app/form_main.h"
#include "settings/form_config_general.h"

namespace qm {

void TFormMain::ActionConfigGeneralExecute() {
    TFormConfigGeneral dialog(this);
    dialog.HelpFile = HelpFile;
    dialog.ConfigToForm(Config);
    if (dialog.exec() != QDialog::Accepted) return;
    dialog.FormToConfig(Config);
    // Saved at once, not only when the window closes.
    Config.Save(FSettingsFile);
}

void TFormMain::ActionHelpAboutExecute() {
    TFormAboutBox box(this);
    box.exec();
}

}  // namespace qm
