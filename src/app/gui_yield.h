// The user interface's turn in the middle of long work (qm::ProcessMessages): the GUI's yield
// hook runs Qt's event loop about every 15 ms, so that a call per imported row or per parsed
// character costs one load of a flag while the window still repaints and sees Cancel.
#pragma once

#include <chrono>

namespace qm {

// Installs the hook; called once by the program entry (and by the window tests).
void InstallGuiYieldHook();

// Runs pending events now and restarts the interval.
void ProcessEventsNow();

// The clock the interval is measured by: the steady clock unless a test installs one that it
// moves by hand (nullptr restores the steady clock). Installing one restarts the interval at
// the next turn.
using TGuiYieldClock = std::chrono::steady_clock::time_point (*)();
void SetGuiYieldClock(TGuiYieldClock clock);

// Has the ticker compare its clock with the end of the interval now; returns once it has (for
// tests that moved their clock).
void CheckGuiYieldInterval();

}  // namespace qm
