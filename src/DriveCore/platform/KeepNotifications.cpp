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
    if (!bus.isConnected() || notificationName.find('.') == std::string_view::npos)
        return;
    const KeepShared::KeepBus::Signal signal = KeepShared::KeepBus::signal(notificationName);
    QDBusMessage message =
        QDBusMessage::createSignal(text(KeepShared::KeepBus::objectPath), text(signal.interface), text(signal.member));
    if (json)
        message << QString::fromStdString(*json);
    bus.send(message);
}

} // namespace DriveCore
