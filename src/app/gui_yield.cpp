#include "app/gui_yield.h"

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/yield.h"

namespace qm {

namespace {

constexpr std::chrono::milliseconds kInterval{15};

std::atomic<TGuiYieldClock> gClock{nullptr};

std::chrono::steady_clock::time_point Now() {
    const TGuiYieldClock clock = gClock.load();
    return clock ? clock() : std::chrono::steady_clock::now();
}

// After each turn the hook lowers the core's due flag and arms this ticker, whose thread
// raises the flag again one interval later. The thread sleeps while nobody armed it, so an
// idle program is never woken. Under a test's clock it sleeps until the test asks it to look.
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
            due_ = Now() + kInterval;
        }
        wake_.notify_one();
    }
    // Forgets the interval under way; the next ProcessMessages takes a turn and starts anew.
    void Disarm() {
        std::lock_guard lock(mutex_);
        armed_ = false;
        RaiseYieldsDue();
    }
    void Look() {
        std::unique_lock lock(mutex_);
        const std::uint64_t ticket = ++asked_;
        wake_.notify_one();
        looked_.wait(lock, [&] { return looks_ >= ticket || stop_; });
    }

  private:
    void Loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (stop_) return;
            if (armed_ && Now() >= due_) {
                armed_ = false;
                RaiseYieldsDue();
            }
            looks_ = asked_;
            looked_.notify_all();
            const bool realClock = gClock.load() == nullptr;
            if (armed_ && realClock)
                wake_.wait_until(lock, due_);
            else
                wake_.wait(lock, [this] {
                    return stop_ || asked_ != looks_ || (armed_ && gClock.load() == nullptr);
                });
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable looked_;
    bool armed_ = false;
    bool stop_ = false;
    std::chrono::steady_clock::time_point due_;
    std::uint64_t asked_ = 0;  // looks asked for by CheckGuiYieldInterval
    std::uint64_t looks_ = 0;  // looks done
    std::thread thread_;       // last: starts when the members above exist
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

void SetGuiYieldClock(TGuiYieldClock clock) {
    gClock.store(clock);
    Ticker().Disarm();
}

void CheckGuiYieldInterval() {
    Ticker().Look();
}

}  // namespace qm
