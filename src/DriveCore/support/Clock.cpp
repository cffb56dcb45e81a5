#include "DriveCore/support/Clock.h"

#include "DriveCore/support/Tasks.h"

namespace DriveCore {

QCoro::Task<bool> pause(Sleep sleep, std::chrono::milliseconds duration, CancelToken token)
{
    try {
        co_await sleep(duration, std::move(token));
        co_return true;
    } catch (const CancelledError &) {
        co_return false;
    }
}

Clock liveClock()
{
    return [] { return QDateTime::currentDateTimeUtc(); };
}

Sleep liveSleep()
{
    return [](std::chrono::milliseconds duration, CancelToken token) { return sleep(duration, std::move(token)); };
}

} // namespace DriveCore
