#pragma once

#include "OvraFinder/FinderClock.h"
#include "OvraFinder/NotificationCenter.h"

#include <chrono>
#include <optional>

namespace OvraFinder {

// Passes notifications on to another centre, but posts a hello only when the last one went out at
// least `interval` ago. The application answers every hello with a refresh; the file manager
// reports many folders in a row, and one answer serves them all.
class HelloThrottle final : public NotificationCenter {
public:
    static constexpr std::chrono::milliseconds interval{1000};

    // Both must outlive this object.
    HelloThrottle(NotificationCenter &center, const FinderClock &clock);

    void addObserver(std::string_view name, Handler handler) override;
    void post(std::string_view name, std::optional<std::string_view> object) override;

private:
    NotificationCenter &m_center;
    const FinderClock &m_clock;
    std::optional<FinderClock::time_point> m_lastHello;
};

} // namespace OvraFinder
