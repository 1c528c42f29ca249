// Showing a topic of the application's help. The Windows edition's help is a compiled HTML
// Help file (".CHM" beside the program) opened at a topic number. Here the help pages are built
// into the program and shown in its own help window (help_window.h) at the topic; the help
// file's name is still what every caller passes, so that the callers stay as they are.
//
// Tests replace the window with a hook that records the file and topic.
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
