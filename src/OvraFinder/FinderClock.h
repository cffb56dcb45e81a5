#pragma once

#include <chrono>
#include <functional>

namespace OvraFinder {

// Monotonic time and a repeating timer, so that tests can move time by hand.
class FinderClock {
public:
    using time_point = std::chrono::steady_clock::time_point;

    virtual ~FinderClock() = default;

    virtual time_point now() const = 0;
    // Calls `action` every `interval` until the clock goes. Timers run on the thread that drives
    // FinderSync.
    virtual void scheduleRepeating(std::chrono::milliseconds interval, std::function<void()> action) = 0;
};

} // namespace OvraFinder
