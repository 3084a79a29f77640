// The store's real clock and its one retry loop.
#include "settings/store_clock.h"

#include <algorithm>
#include <thread>

namespace {

class SteadyClockSource final : public StoreClock {
  public:
    TimePoint Now() const override { return std::chrono::steady_clock::now(); }
    void Pause(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

}  // namespace

StoreClock& SteadyStoreClock() {
    static SteadyClockSource clock;
    return clock;
}

StoreClock::TimePoint DeadlineAfter(StoreClock& clock, std::chrono::milliseconds timeout) {
    constexpr std::chrono::milliseconds kLongest = std::chrono::hours(24);
    return clock.Now() + std::clamp(timeout, std::chrono::milliseconds(0), kLongest);
}

bool RetryUntil(StoreClock& clock, StoreClock::TimePoint deadline,
                const std::function<bool()>& attempt) {
    constexpr std::chrono::milliseconds kPause(1);
    while (!attempt()) {
        if (clock.Now() >= deadline) {
            return false;
        }
        clock.Pause(kPause);
    }
    return true;
}
