#include "DriveCore/support/Tasks.h"

#include "DriveCore/support/Log.h"
#include "DriveCore/support/UserError.h"

namespace DriveCore {

QCoro::Task<> sleep(std::chrono::milliseconds duration, CancelToken token)
{
    checkCancelled(token);
    detail::Waker waker;
    QTimer::singleShot(duration, &waker, &detail::Waker::fire);
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
