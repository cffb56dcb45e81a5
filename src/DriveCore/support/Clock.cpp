#include "DriveCore/support/Clock.h"

#include "DriveCore/support/Tasks.h"

namespace DriveCore {

Clock liveClock()
{
    return [] { return QDateTime::currentDateTimeUtc(); };
}

Sleep liveSleep()
{
    return [](std::chrono::milliseconds duration, CancelToken token) { return sleep(duration, std::move(token)); };
}

} // namespace DriveCore
