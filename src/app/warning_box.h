// The warning box: the program's one message box, modal, with the warning icon, the caption
// "警告" and a single "OK" button.
//
// Tests replace the box with a hook that records the text instead of blocking on a modal dialog.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace qm {

void ShowWarning(QWidget* parent, const QString& text);

// A text about a file: the message, a line break and the file's path.
QString FileMessage(const QString& message, const QString& path);

using TWarningHook = std::function<void(QWidget* parent, const QString& text)>;
// Replaces the box (an empty hook restores it) and returns the previous hook.
TWarningHook SetWarningHook(TWarningHook hook);

}  // namespace qm
