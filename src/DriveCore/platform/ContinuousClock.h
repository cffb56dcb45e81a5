#pragma once

#include <chrono>
#include <ctime>

namespace DriveCore {

// A monotonic clock that keeps counting while the computer sleeps (CLOCK_BOOTTIME), for ages
// that must include time asleep, such as how long ago the engine was launched.
struct ContinuousClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<ContinuousClock>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept
    {
        timespec spec{};
        clock_gettime(CLOCK_BOOTTIME, &spec);
        return time_point(std::chrono::seconds(spec.tv_sec) + std::chrono::nanoseconds(spec.tv_nsec));
    }
};

} // namespace DriveCore
