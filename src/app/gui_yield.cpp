#include "app/gui_yield.h"

#include <QCoreApplication>
#include <ctime>

#include "platform/yield.h"

namespace qm {

namespace {

constexpr long kIntervalNs = 15'000'000;

// The coarse monotonic clock is read from the vDSO without a system call (a few nanoseconds);
// its resolution of a few milliseconds is ample for a 15 ms interval.
long NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<long>(now.tv_sec) * 1'000'000'000L + now.tv_nsec;
}

long gLastTurn = 0;

void GuiYield() {
    const long now = NowNs();
    if (now - gLastTurn < kIntervalNs) return;
    gLastTurn = now;
    QCoreApplication::processEvents();
}

}  // namespace

void InstallGuiYieldHook() {
    SetYieldHook(&GuiYield);
}

void ProcessEventsNow() {
    gLastTurn = NowNs();
    QCoreApplication::processEvents();
}

}  // namespace qm
