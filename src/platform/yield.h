// A turn for the user interface in the middle of long work.
//
// The core calls ProcessMessages() where the desktop program must stay responsive: once per
// character of a quoted CSV field, once per imported row, every megabyte a commit writes. The
// GUI installs a hook that runs its event loop; without a hook the call is a single load and
// compare.
//
// Calls that come faster than anybody needs a turn (tens of millions per second while a CSV
// file is parsed) must not each pay for a look at the clock: the hook may lower the "due" flag
// (PauseYields) and have it raised again by a timer of its own (RaiseYieldsDue); while it is
// down, ProcessMessages is one relaxed load of an atomic. Installing a hook raises the flag, so
// a hook that never lowers it sees every call.
#pragma once

#include <atomic>
#include <cstddef>

namespace qm {

using TYieldHook = void (*)();

namespace detail {
extern TYieldHook gYieldHook;
extern std::atomic<bool> gYieldDue;
}  // namespace detail

// Installs the hook (nullptr removes it) and returns the previous one.
TYieldHook SetYieldHook(TYieldHook hook) noexcept;

inline bool HasYieldHook() noexcept {
    return detail::gYieldHook != nullptr;
}

// Lowered by the hook; raised from any thread (the store is lock-free).
inline void PauseYields() noexcept {
    detail::gYieldDue.store(false, std::memory_order_relaxed);
}
inline void RaiseYieldsDue() noexcept {
    detail::gYieldDue.store(true, std::memory_order_relaxed);
}

// True when the next ProcessMessages will run the hook: work that feeds the user interface
// (a progress bar) can update it just before the turn and skip the rows in between.
inline bool YieldsDue() noexcept {
    return detail::gYieldDue.load(std::memory_order_relaxed) && detail::gYieldHook;
}

inline void ProcessMessages() {
    if (detail::gYieldDue.load(std::memory_order_relaxed) && detail::gYieldHook)
        detail::gYieldHook();
}

// The turns of `count` ProcessMessages calls, for work that handles that many characters in one
// go instead of one at a time: the hook runs as often as it would have run, since a hook that
// lowers the flag sees only the first call and one that never does sees every call.
inline void ProcessMessages(std::size_t count) {
    for (; count != 0 && YieldsDue(); --count)
        detail::gYieldHook();
}

}  // namespace qm
