// quillomat: the desktop program. Creates the application and the main window and runs the event
// loop until the window closes.
#include <QMessageBox>
#include <exception>
#include <string>
#include <vector>

#include "about/program_info_options.h"
#include "app/error_handler.h"
#include "app/form_main.h"
#include "app/gui_yield.h"
#include "platform/error.h"
#include "platform/native_path.h"

int main(int argc, char** argv) {
    if (int status = qm::RunProgramInfoOption(argc, argv, "quillomat"); status >= 0) return status;
    qm::TApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillomat"));
    QApplication::setDesktopFileName(QStringLiteral("quillomat"));
    qm::InstallGuiYieldHook();
    try {
        std::vector<std::u16string> arguments;
        for (int i = 0; i < argc; ++i)
            arguments.push_back(qm::FromNativePath(argv[i]));
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
