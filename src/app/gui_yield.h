// The user interface's turn in the middle of long work (qm::ProcessMessages): the GUI's yield
// hook runs Qt's event loop about every 15 ms, so that a call per imported row or per parsed
// character costs one load of a flag while the window still repaints and sees Cancel.
#pragma once

namespace qm {

// Installs the hook; called once by the program entry (and by the window tests).
void InstallGuiYieldHook();

// Runs pending events now and restarts the interval.
void ProcessEventsNow();

}  // namespace qm
