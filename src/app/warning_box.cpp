#include "app/warning_box.h"

#include <QMessageBox>

namespace qm {

namespace {
TWarningHook& Hook() {
    static TWarningHook hook;
    return hook;
}
}  // namespace

void ShowWarning(QWidget* parent, const QString& text) {
    if (Hook()) {
        Hook()(parent, text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), text, QMessageBox::Ok, parent);
    box.exec();
}

QString FileMessage(const QString& message, const QString& path) {
    return message + QLatin1Char('\n') + path;
}

TWarningHook SetWarningHook(TWarningHook hook) {
    TWarningHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

}  // namespace qm
