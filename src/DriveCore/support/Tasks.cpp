#include "DriveCore/support/Tasks.h"

#include "DriveCore/support/Log.h"
#include "DriveCore/support/UserError.h"

#include <QSocketNotifier>

#include <ctime>
#include <sys/timerfd.h>
#include <unistd.h>

namespace DriveCore {

namespace {

// Fires the waker once `duration` has passed on CLOCK_BOOTTIME, to the nanosecond. Qt's timers
// count CLOCK_MONOTONIC, which stops while the computer is suspended, and let a wait of 2 s or
// more slip by up to 5% either way.
class ContinuousTimer {
public:
    ContinuousTimer(std::chrono::milliseconds duration, detail::Waker *waker)
    {
        if (duration > std::chrono::milliseconds(0) && arm(duration)) {
            m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
            QObject::connect(m_notifier.get(), &QSocketNotifier::activated, waker, [this, waker] {
                m_notifier->setEnabled(false);
                // Woken from the event loop, not from inside the notifier this timer owns.
                QMetaObject::invokeMethod(waker, &detail::Waker::fire, Qt::QueuedConnection);
            });
            return;
        }
        // No timer file (none left to open): a precise Qt timer, which still misses time asleep.
        QTimer::singleShot(duration, Qt::PreciseTimer, waker, &detail::Waker::fire);
    }

    ~ContinuousTimer()
    {
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
    }

    ContinuousTimer(const ContinuousTimer &) = delete;
    ContinuousTimer &operator=(const ContinuousTimer &) = delete;

private:
    bool arm(std::chrono::milliseconds duration)
    {
        m_fd = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_fd < 0)
            return false;
        // An absolute deadline, so the time spent here is not added to the wait.
        timespec now{};
        ::clock_gettime(CLOCK_BOOTTIME, &now);
        const auto deadline = std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec) + duration;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(deadline);
        itimerspec when{};
        when.it_value.tv_sec = seconds.count();
        when.it_value.tv_nsec = (deadline - seconds).count();
        if (::timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &when, nullptr) == 0)
            return true;
        ::close(m_fd);
        m_fd = -1;
        return false;
    }

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace

QCoro::Task<> sleep(std::chrono::milliseconds duration, CancelToken token)
{
    checkCancelled(token);
    detail::Waker waker;
    const ContinuousTimer timer(duration, &waker);
    CancelHook hook(token, &waker, [&waker] { waker.fire(); });
    co_await qCoro(&waker, &detail::Waker::fired);
    checkCancelled(token);
}

QCoro::Task<> awaitInOrder(std::vector<QCoro::Task<>> tasks)
{
    for (auto &task : tasks)
        co_await task;
}

std::exception_ptr detail::reportedFailure(const std::exception_ptr &first, const std::exception_ptr &second)
{
    if (first && (!isCancellation(first) || !second || isCancellation(second)))
        return first;
    return second;
}

void detail::dropCleanupFailure(const std::exception_ptr &failure)
{
    static const Log log("tasks");
    log.debug("A clean-up after a failure failed too: %{public}s",
              errorText(failure).value_or(QStringLiteral("cancelled")));
}

} // namespace DriveCore
