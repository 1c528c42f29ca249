// The main window's dialog commands: the general settings, the help and the About box.
#include "about/form_about_box.h"
#include "app/form_main.h"
#include "app/help_topic.h"
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

void TFormMain::ActionHelpHelpExecute() {
    ShowHelpTopic(this, HelpFile, 0);
}

void TFormMain::ActionHelpAboutExecute() {
    TFormAboutBox box(this);
    box.exec();
}

}  // namespace qm
