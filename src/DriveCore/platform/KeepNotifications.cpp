#include "DriveCore/platform/KeepNotifications.h"

#include "KeepShared/KeepBus.h"

#include <QDBusMessage>

namespace DriveCore {

namespace {

QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), qsizetype(view.size()));
}

} // namespace

void KeepNotifications::post(std::string_view notificationName, const std::optional<std::string> &json)
{
    post(QDBusConnection::sessionBus(), notificationName, json);
}

void KeepNotifications::post(QDBusConnection bus, std::string_view notificationName,
                             const std::optional<std::string> &json)
{
    if (notificationName.find('.') == std::string_view::npos || !bus.isConnected())
        return;
    const KeepShared::KeepBus::Signal name = KeepShared::KeepBus::signal(notificationName);
    QDBusMessage signal =
        QDBusMessage::createSignal(text(KeepShared::KeepBus::objectPath), text(name.interface), text(name.member));
    if (json)
        signal << QString::fromStdString(*json);
    bus.send(signal);
}

} // namespace DriveCore
