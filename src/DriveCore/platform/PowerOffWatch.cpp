#include "DriveCore/platform/PowerOffWatch.h"

#include "DriveCore/support/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace DriveCore {

PowerOffWatch::PowerOffWatch(QObject *parent) : PowerOffWatch(QDBusConnection::systemBus(), parent) {}

PowerOffWatch::PowerOffWatch(QDBusConnection bus, QObject *parent) : QObject(parent), m_bus(std::move(bus))
{
    // Only logind's own announcement counts: the match names its bus name.
    m_watching = m_bus.isConnected()
        && m_bus.connect(QString::fromLatin1(service), QString::fromLatin1(path), QString::fromLatin1(interface),
                         QStringLiteral("PrepareForShutdown"), this, SLOT(prepareForShutdown(bool)));
}

void PowerOffWatch::prepareForShutdown(bool start)
{
    if (start)
        emit poweringOff();
}

void PowerOffWatch::hold()
{
    m_wanted = true;
    if (!m_lock.isValid() && !m_asking && m_bus.isConnected())
        requestLock();
}

void PowerOffWatch::release()
{
    m_wanted = false;
    if (!m_lock.isValid())
        return;
    // Closing our copy of the descriptor is what lets logind go on.
    m_lock = QDBusUnixFileDescriptor();
    emit heldChanged();
}

void PowerOffWatch::requestLock()
{
    m_asking = true;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                                       QString::fromLatin1(interface), QStringLiteral("Inhibit"));
    call << QStringLiteral("shutdown") << QStringLiteral("Ovra")
         << QStringLiteral("Stopping the drive so that nothing is lost") << QStringLiteral("delay");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        m_asking = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
        if (reply.isError()) {
            Log("app").error("No shutdown inhibitor: %{public}s", reply.error().message());
            return;
        }
        if (!m_wanted)
            return; // released while asked for: the reply's descriptor closes with it
        m_lock = reply.value();
        emit heldChanged();
    });
}

} // namespace DriveCore
