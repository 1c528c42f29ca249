#include "app/gui_yield.h"

#include <QCoreApplication>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/yield.h"

namespace qm {

namespace {

constexpr std::chrono::milliseconds kInterval{15};

// After each turn the hook lowers the core's due flag and arms this ticker, whose thread
// raises the flag again one interval later. The thread sleeps while nobody armed it, so an
// idle program is never woken.
class TTicker {
  public:
    TTicker() : thread_([this] { Loop(); }) {}
    ~TTicker() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    TTicker(const TTicker&) = delete;
    TTicker& operator=(const TTicker&) = delete;

    void Arm() {
        {
            std::lock_guard lock(mutex_);
            if (armed_) return;
            armed_ = true;
        }
        wake_.notify_one();
    }

  private:
    void Loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return armed_ || stop_; });
            if (stop_) return;
            if (wake_.wait_for(lock, kInterval, [this] { return stop_; })) return;
            armed_ = false;
            RaiseYieldsDue();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool armed_ = false;
    bool stop_ = false;
    std::thread thread_;  // last: starts when the members above exist
};

TTicker& Ticker() {
    static TTicker ticker;
    return ticker;
}

void Turn() {
    PauseYields();
    QCoreApplication::processEvents();
    Ticker().Arm();
}

}  // namespace

void InstallGuiYieldHook() {
    Ticker();
    SetYieldHook(&Turn);
}

void ProcessEventsNow() {
    Turn();
}

}  // namespace qm
