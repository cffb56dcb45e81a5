#pragma once

#include "DriveCore/support/Cancellation.h"

#include <QCoroTask>
#include <QDateTime>

#include <chrono>
#include <functional>

namespace DriveCore {

// The date and time now, for what is shown or stored. Injected wherever a test sets the date.
using Clock = std::function<QDateTime()>;

// A pause of the given length that throws CancelledError once the token is cancelled. Injected
// wherever a test steps time by hand instead of waiting.
using Sleep = std::function<QCoro::Task<>(std::chrono::milliseconds, CancelToken)>;

// Pauses through `sleep` and tells whether the pause ran its length: false, instead of
// CancelledError, once `token` is cancelled. For a caller that only stops when cancelled.
QCoro::Task<bool> pause(Sleep sleep, std::chrono::milliseconds duration, CancelToken token);

// QDateTime::currentDateTimeUtc().
Clock liveClock();
// DriveCore::sleep on the event loop.
Sleep liveSleep();

} // namespace DriveCore
