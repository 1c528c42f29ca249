// The window tests run under TApplication, the program's own application object, with the
// settings folder moved to a temporary one so that no test touches the user's settings.
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

#include "app/error_handler.h"
#include "app/gui_yield.h"

int RunFormMainTests(int argc, char** argv);

int main(int argc, char** argv) {
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    qm::TApplication application(argc, argv);
    qm::InstallGuiYieldHook();
    return RunFormMainTests(argc, argv);
}
