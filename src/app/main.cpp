// quillomat: the desktop program. Creates the application and the main window and runs the event
// loop until the window closes; an unattended start where no window can be shown runs its import
// without them (unattended_start.h).
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "about/program_info_options.h"
#include "app/display_check.h"
#include "app/error_handler.h"
#include "app/form_main.h"
#include "app/gui_yield.h"
#include "app/unattended_start.h"

int main(int argc, char** argv) {
    if (int status = qm::RunProgramInfoOption(argc, argv, "quillomat"); status >= 0) return status;
    std::vector<std::u16string> arguments = qm::ProgramArguments(argc, argv);
    // Where no window can be shown, an unattended start imports without one.
    if (qm::IsUnattendedStart(arguments) && !qm::CanShowWindows())
        return qm::RunHeadlessImport(arguments, stderr);

    qm::TApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillomat"));
    QApplication::setDesktopFileName(QStringLiteral("quillomat"));
    qm::InstallGuiYieldHook();
    try {
        qm::TFormMain window(std::move(arguments));
        window.show();
        QApplication::exec();
    } catch (const std::exception& error) {
        // An error of start-up itself: shown with the platform's plain error box.
        QMessageBox::critical(nullptr, QStringLiteral("Quillomat"),
                              QString::fromUtf8(error.what()));
        return 1;
    }
    return 0;
}
