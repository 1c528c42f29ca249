// Showing a topic of the application's help file. The Windows edition's help is a compiled
// HTML Help file (".CHM" beside the program) opened at a topic number; this platform has no
// HTML Help, so the file is handed to whatever viewer the desktop opens it with, which starts at
// its table of contents (the topic number cannot be passed on). A help file that is missing or
// that no viewer takes is reported in the help system's own error box.
//
// Tests replace the viewer with a hook that records the file and topic.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace qm {

void ShowHelpTopic(QWidget* owner, const QString& helpFile, int topic);

using THelpHook = std::function<void(QWidget* owner, const QString& helpFile, int topic)>;
// Replaces the viewer (an empty hook restores it) and returns the previous hook.
THelpHook SetHelpHook(THelpHook hook);

}  // namespace qm
