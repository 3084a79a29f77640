// The clock the store waits by: its waits for a busy store or a held folder
// lock read the time and pause through it, so a test can drive them.
#pragma once

#include <chrono>
#include <functional>

// Monotonic time and a pause between attempts. The store's waits never read
// std::chrono::steady_clock or sleep on their own; SQLite's busy wait is
// given what is left of a deadline on this clock.
class StoreClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    StoreClock() = default;
    StoreClock(const StoreClock&) = delete;
    StoreClock& operator=(const StoreClock&) = delete;
    virtual ~StoreClock() = default;

    virtual TimePoint Now() const = 0;
    // Waits `duration` (or, in a test, lets that much time pass).
    virtual void Pause(std::chrono::milliseconds duration) = 0;
};

// The real clock: std::chrono::steady_clock and std::this_thread::sleep_for.
// One object for the whole process; it holds no state.
StoreClock& SteadyStoreClock();

// A deadline `timeout` from `clock`'s now; a time-out beyond a day counts as
// a day and a negative one as none.
StoreClock::TimePoint DeadlineAfter(StoreClock& clock, std::chrono::milliseconds timeout);

// Calls `attempt` until it returns true (done), pausing 1 ms on `clock`
// between calls. Returns false when an attempt was not done and `deadline`
// had passed: the caller then gives up with what the last attempt found.
// `attempt` runs at least once, even when the deadline has passed already.
bool RetryUntil(StoreClock& clock, StoreClock::TimePoint deadline,
                const std::function<bool()>& attempt);
