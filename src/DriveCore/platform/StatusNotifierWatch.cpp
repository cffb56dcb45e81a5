#include "DriveCore/platform/StatusNotifierWatch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace DriveCore {

StatusNotifierWatch::StatusNotifierWatch(QDBusConnection bus, QObject *parent) : QObject(parent), m_bus(std::move(bus))
{
}

void StatusNotifierWatch::start()
{
    if (m_watcher || !m_bus.isConnected())
        return;
    m_watcher =
        new QDBusServiceWatcher(QString::fromLatin1(service), m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &StatusNotifierWatch::check);
    for (const char *member : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        m_bus.connect(QString::fromLatin1(service), QString::fromLatin1(path), QString::fromLatin1(interface),
                      QString::fromLatin1(member), this, SLOT(check()));
    check();
}

void StatusNotifierWatch::check()
{
    const int serial = ++m_checks;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QString::fromLatin1(interface) << QStringLiteral("IsStatusNotifierHostRegistered");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, serial](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        if (serial != m_checks)
            return;
        const QDBusPendingReply<QDBusVariant> reply = *finished;
        // No watcher, or one that does not answer: no tray.
        setHost(!reply.isError() && reply.value().variant().toBool());
    });
}

void StatusNotifierWatch::setHost(bool hasHost)
{
    if (m_hasHost == std::optional(hasHost))
        return;
    m_hasHost = hasHost;
    emit hostChanged(hasHost);
}

} // namespace DriveCore
