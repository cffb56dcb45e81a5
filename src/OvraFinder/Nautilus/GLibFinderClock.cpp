#include "OvraFinder/Nautilus/GLibFinderClock.h"

namespace OvraFinder {

namespace {

gboolean fire(gpointer data)
{
    (*static_cast<std::function<void()> *>(data))();
    return G_SOURCE_CONTINUE;
}

void release(gpointer data)
{
    delete static_cast<std::function<void()> *>(data);
}

} // namespace

GLibFinderClock::~GLibFinderClock()
{
    for (guint source : m_sources)
        g_source_remove(source);
}

FinderClock::time_point GLibFinderClock::now() const
{
    return std::chrono::steady_clock::now();
}

void GLibFinderClock::scheduleRepeating(std::chrono::milliseconds interval, std::function<void()> action)
{
    auto *data = new std::function<void()>(std::move(action));
    const auto milliseconds = static_cast<guint>(interval.count());
    m_sources.push_back(milliseconds % 1000 == 0
                            ? g_timeout_add_seconds_full(G_PRIORITY_DEFAULT, milliseconds / 1000, fire, data, release)
                            : g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds, fire, data, release));
}

} // namespace OvraFinder
