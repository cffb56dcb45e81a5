#include "DriveCore/support/Cancellation.h"

#include <QPointer>

namespace DriveCore {

void checkCancelled(const CancelToken &token)
{
    if (token.stop_requested())
        throw CancelledError();
}

CancelHook::CancelHook(const CancelToken &token, QObject *context, std::function<void()> action)
{
    // The stop callback may run on the cancelling thread; it only posts. Destroying the hook
    // waits for a callback in flight, and a posted call is dropped with its context.
    m_callback.emplace(token, [context, action = std::move(action)] {
        QMetaObject::invokeMethod(context, action, Qt::QueuedConnection);
    });
}

LinkedCancelSource::LinkedCancelSource(const CancelToken &parent) : m_link(parent, [this] { m_source.request_stop(); })
{
}

} // namespace DriveCore
