// A turn for the user interface in the middle of long work.
//
// The core calls ProcessMessages() where the desktop program must stay responsive: once per
// character of a quoted CSV field, once per imported row. The GUI installs a hook that runs its
// event loop now and then; without a hook the call is a single load and compare.
#pragma once

namespace qm {

using TYieldHook = void (*)();

namespace detail {
extern TYieldHook gYieldHook;
}

// Installs the hook (nullptr removes it) and returns the previous one.
TYieldHook SetYieldHook(TYieldHook hook) noexcept;

inline bool HasYieldHook() noexcept {
    return detail::gYieldHook != nullptr;
}

inline void ProcessMessages() {
    if (detail::gYieldHook) detail::gYieldHook();
}

}  // namespace qm
