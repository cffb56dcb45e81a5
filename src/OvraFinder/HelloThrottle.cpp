#include "OvraFinder/HelloThrottle.h"

#include "KeepShared/KeepBridge.h"

namespace OvraFinder {

HelloThrottle::HelloThrottle(NotificationCenter &center, const FinderClock &clock) : m_center(center), m_clock(clock) {}

void HelloThrottle::addObserver(std::string_view name, Handler handler)
{
    m_center.addObserver(name, std::move(handler));
}

void HelloThrottle::post(std::string_view name, std::optional<std::string_view> object)
{
    if (name == KeepShared::KeepBridge::helloName) {
        const FinderClock::time_point now = m_clock.now();
        if (m_lastHello && now - *m_lastHello < interval)
            return;
        m_lastHello = now;
    }
    m_center.post(name, object);
}

} // namespace OvraFinder
