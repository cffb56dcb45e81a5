#pragma once

#include "OvraFinder/FinderClock.h"

#include <glib.h>

#include <vector>

namespace OvraFinder {

// The monotonic clock, with timers on the thread's default main context.
class GLibFinderClock final : public FinderClock {
public:
    GLibFinderClock() = default;
    GLibFinderClock(const GLibFinderClock &) = delete;
    GLibFinderClock &operator=(const GLibFinderClock &) = delete;
    // Removes its timers.
    ~GLibFinderClock() override;

    time_point now() const override;
    // Whole seconds go through g_timeout_add_seconds, which lets GLib batch wake-ups.
    void scheduleRepeating(std::chrono::milliseconds interval, std::function<void()> action) override;

private:
    std::vector<guint> m_sources;
};

} // namespace OvraFinder
