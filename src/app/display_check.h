// Whether the program can show a window here: decided before Qt is started, because Qt ends the
// process when its platform cannot open a display.
//
// QT_QPA_PLATFORM, when set, names the platforms Qt will try (";"-separated). A platform that
// needs no display server (offscreen, minimal, vnc, linuxfb, eglfs, ...) can always open. Xcb needs
// an X server accepting connections at $DISPLAY, wayland a compositor at $WAYLAND_DISPLAY
// (relative to $XDG_RUNTIME_DIR); without QT_QPA_PLATFORM either of them will do. A server is
// taken as present when a connection to its socket succeeds.
#pragma once

#include <functional>

namespace qm {

using TEnvironmentReader = std::function<const char*(const char* name)>;

bool CanShowWindows(const TEnvironmentReader& environment);
bool CanShowWindows();  // with the process's environment

}  // namespace qm
