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
    const std::optional<std::string_view> member = KeepShared::KeepBus::member(notificationName);
    if (!member || !bus.isConnected())
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(text(KeepShared::KeepBus::path), text(KeepShared::KeepBus::interface), text(*member));
    if (json)
        signal << QString::fromStdString(*json);
    bus.send(signal);
}

} // namespace DriveCore
