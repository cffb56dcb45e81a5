#pragma once

#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Clock.h"
#include "DriveCore/support/Tasks.h"

#include <QCoroSignal>
#include <QCoroTask>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

namespace TestSupport {

// Sleeps that end when the test says so; a cancelled one ends at once with CancelledError.
class ManualSleeps {
public:
    DriveCore::Sleep sleep()
    {
        return [waiting = m_waiting](std::chrono::milliseconds duration, DriveCore::CancelToken token) {
            return wait(waiting, duration, std::move(token));
        };
    }
    int waiting(std::chrono::milliseconds duration) const
    {
        return int(std::count_if(m_waiting->begin(), m_waiting->end(),
                                 [&](const Entry &entry) { return entry.duration == duration; }));
    }
    // Sleeps of any length now waiting.
    int waiting() const { return int(m_waiting->size()); }
    bool idle() const { return m_waiting->empty(); }
    // Ends every sleep of `duration` that is waiting now.
    void release(std::chrono::milliseconds duration)
    {
        std::vector<std::shared_ptr<DriveCore::detail::Waker>> wakers;
        for (const Entry &entry : *m_waiting) {
            if (entry.duration == duration)
                wakers.push_back(entry.waker);
        }
        for (const auto &waker : wakers)
            waker->fire();
    }
    // Ends every sleep that is waiting now, whatever its length.
    void releaseAll()
    {
        std::vector<std::shared_ptr<DriveCore::detail::Waker>> wakers;
        for (const Entry &entry : *m_waiting)
            wakers.push_back(entry.waker);
        for (const auto &waker : wakers)
            waker->fire();
    }

private:
    struct Entry {
        std::chrono::milliseconds duration;
        std::shared_ptr<DriveCore::detail::Waker> waker;
    };
    using Waiting = std::shared_ptr<std::vector<Entry>>;

    // Keeps the list, not this object: a cancelled sleep may end after the test.
    static QCoro::Task<> wait(Waiting waiting, std::chrono::milliseconds duration, DriveCore::CancelToken token)
    {
        DriveCore::checkCancelled(token);
        auto waker = std::make_shared<DriveCore::detail::Waker>();
        waiting->push_back({duration, waker});
        {
            DriveCore::CancelHook hook(token, waker.get(), [raw = waker.get()] { raw->fire(); });
            co_await qCoro(waker.get(), &DriveCore::detail::Waker::fired);
        }
        std::erase_if(*waiting, [&](const Entry &entry) { return entry.waker == waker; });
        DriveCore::checkCancelled(token);
    }

    Waiting m_waiting = std::make_shared<std::vector<Entry>>();
};

} // namespace TestSupport
