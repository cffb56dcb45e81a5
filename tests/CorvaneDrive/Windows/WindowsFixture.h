#pragma once

#include "DriveCore/support/Tasks.h"
#include "support/TestSupport.h"

#include <QList>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

namespace WindowsFixture {

// A door that a fake's call waits at until the test opens it.
class Door {
public:
    QCoro::Task<> pass()
    {
        ++m_waiting;
        while (!m_open)
            co_await qCoro(&m_waker, &DriveCore::detail::Waker::fired);
        --m_waiting;
    }
    void open()
    {
        m_open = true;
        m_waker.fire();
    }
    int waiting() const { return m_waiting; }

private:
    bool m_open = false;
    int m_waiting = 0;
    DriveCore::detail::Waker m_waker;
};

// Sleeps that end when the test releases them, or when their token is cancelled.
class ManualSleep {
public:
    std::function<QCoro::Task<>(std::chrono::milliseconds, DriveCore::CancelToken)> function()
    {
        return [this](std::chrono::milliseconds duration, DriveCore::CancelToken token) -> QCoro::Task<> {
            asked.push_back(duration);
            auto waker = std::make_shared<DriveCore::detail::Waker>();
            m_sleeping << QPointer(waker.get());
            DriveCore::CancelHook hook(token, waker.get(), [w = waker.get()] { w->fire(); });
            co_await qCoro(waker.get(), &DriveCore::detail::Waker::fired);
            DriveCore::checkCancelled(token);
        };
    }
    // Ends every sleep under way.
    void release()
    {
        const QList<QPointer<DriveCore::detail::Waker>> sleeping = std::exchange(m_sleeping, {});
        for (const auto &waker : sleeping)
            if (waker)
                waker->fire();
    }
    int sleeping() const
    {
        int count = 0;
        for (const auto &waker : m_sleeping)
            count += waker ? 1 : 0;
        return count;
    }

    std::vector<std::chrono::milliseconds> asked;

private:
    QList<QPointer<DriveCore::detail::Waker>> m_sleeping;
};

// Lets queued events run for a moment.
inline void settle() { TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(20)); }

} // namespace WindowsFixture
