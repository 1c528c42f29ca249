// The application's general error handling: an error that no command handled is shown in the
// warning box and appended, with the time, to "error.log" in the settings folder. The command
// that raised it is abandoned where the error arose; its scoped objects (the wait cursor among
// them) have been released on the way out.
//
// TApplication also gives the whole program one Japanese-capable font and Qt's own texts in
// Japanese (japanese_ui.h). It routes every event through a handler that catches what escapes an
// event's processing (a menu command, a key, a timer such as the first idle moment), so that no
// exception ever unwinds through Qt's own code.
#pragma once

#include <QApplication>
#include <QString>
#include <functional>

namespace qm {

// Shows the message and records it; never throws.
void HandleUnhandledError(const QString& message) noexcept;

// Runs one command of the window and hands an error that escapes it to HandleUnhandledError.
// Commands reached through a signal use it, so that the error does not unwind through Qt's
// signal delivery, which is not built to pass exceptions on (its guards would be skipped).
void RunCommand(const std::function<void()>& command) noexcept;

// The log file: "error.log" beside the settings file.
QString ErrorLogPath();

// Appends the message with the time to the log file (needs no application object); never
// throws.
void AppendErrorLog(const QString& message) noexcept;

class TApplication : public QApplication {
  public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace qm
