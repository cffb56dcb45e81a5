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
// A sleep released before its cancellation was noticed ends normally.
class ManualSleeps {
public:
    DriveCore::Sleep sleep()
    {
        return [state = m_state](std::chrono::milliseconds duration, DriveCore::CancelToken token) {
            return wait(state, duration, std::move(token));
        };
    }
    // Sleeps of `duration` now waiting.
    int waiting(std::chrono::milliseconds duration) const
    {
        return int(std::count_if(m_state->waiting.begin(), m_state->waiting.end(), [&](const auto &entry) {
            return entry->duration == duration && entry->waiting();
        }));
    }
    // Sleeps of any length now waiting.
    int waiting() const
    {
        return int(std::count_if(m_state->waiting.begin(), m_state->waiting.end(),
                                 [](const auto &entry) { return entry->waiting(); }));
    }
    bool idle() const { return waiting() == 0; }
    // Every duration asked for, in order.
    const std::vector<std::chrono::milliseconds> &asked() const { return m_state->asked; }

    // Ends every sleep of `duration` that is waiting now.
    void release(std::chrono::milliseconds duration)
    {
        releaseWhere([&](const Entry &entry) { return entry.duration == duration; });
    }
    // Ends the oldest sleep of `duration` now waiting; false when none waits.
    bool releaseOldest(std::chrono::milliseconds duration)
    {
        for (const auto &entry : m_state->waiting) {
            if (entry->duration == duration && entry->waiting()) {
                end(*entry);
                return true;
            }
        }
        return false;
    }
    // Ends every sleep that is waiting now, whatever its length.
    void releaseAll()
    {
        releaseWhere([](const Entry &) { return true; });
    }

private:
    struct Entry {
        std::chrono::milliseconds duration;
        bool released = false;
        bool cancelled = false;
        DriveCore::detail::Waker waker;
        bool waiting() const { return !released && !cancelled; }
    };
    struct State {
        std::vector<std::shared_ptr<Entry>> waiting;
        std::vector<std::chrono::milliseconds> asked;
    };

    static void end(Entry &entry)
    {
        entry.released = true;
        entry.waker.fire();
    }
    template<typename Matches>
    void releaseWhere(Matches matches)
    {
        std::vector<std::shared_ptr<Entry>> chosen;
        for (const auto &entry : m_state->waiting) {
            if (entry->waiting() && matches(*entry))
                chosen.push_back(entry);
        }
        for (const auto &entry : chosen)
            end(*entry);
    }

    // Keeps the state, not this object: a cancelled sleep may end after the test.
    static QCoro::Task<> wait(std::shared_ptr<State> state, std::chrono::milliseconds duration,
                              DriveCore::CancelToken token)
    {
        DriveCore::checkCancelled(token);
        state->asked.push_back(duration);
        const auto entry = std::make_shared<Entry>();
        entry->duration = duration;
        state->waiting.push_back(entry);
        {
            DriveCore::CancelHook hook(token, &entry->waker, [entry] {
                entry->cancelled = true;
                entry->waker.fire();
            });
            while (entry->waiting())
                co_await qCoro(&entry->waker, &DriveCore::detail::Waker::fired);
        }
        std::erase(state->waiting, entry);
        if (!entry->released)
            throw DriveCore::CancelledError();
    }

    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace TestSupport
