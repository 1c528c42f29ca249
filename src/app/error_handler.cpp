#include "app/error_handler.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWidget>
#include <exception>

#include "app/japanese_ui.h"
#include "app/warning_box.h"
#include "grids/qt_text.h"
#include "platform/error.h"
#include "settings/config.h"

namespace qm {

QString ErrorLogPath() {
    const QFileInfo settings(ToQString(TConfig::SettingsFilePath()));
    return settings.path() + QStringLiteral("/error.log");
}

void AppendErrorLog(const QString& message) noexcept {
    try {
        const QString path = ErrorLogPath();
        QDir().mkpath(QFileInfo(path).path());
        QFile log(path);
        if (log.open(QIODevice::Append | QIODevice::Text)) {
            const QString entry = QDateTime::currentDateTime().toString(Qt::ISODate) +
                                  QStringLiteral(" ") + message + QLatin1Char('\n');
            log.write(entry.toUtf8());
        }
    } catch (...) {
        // A log that cannot be written loses the entry; the message itself was shown.
    }
}

void HandleUnhandledError(const QString& message) noexcept {
    try {
        AppendErrorLog(message);
        ShowWarning(QApplication::activeWindow(), message);
    } catch (...) {
        // Nothing more can be done for an error that broke its own report.
    }
}

void RunCommand(const std::function<void()>& command) noexcept {
    try {
        command();
    } catch (const Error& error) {
        HandleUnhandledError(ToQString(error.Message()));
    } catch (const std::exception& error) {
        HandleUnhandledError(QString::fromUtf8(error.what()));
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    UseJapaneseUiFont();
    LoadQtJapaneseTranslations(*this);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const Error& error) {
        HandleUnhandledError(ToQString(error.Message()));
    } catch (const std::exception& error) {
        // Not of the program's own type: shown with its own text.
        HandleUnhandledError(QString::fromUtf8(error.what()));
    }
    return false;
}

}  // namespace qm
