#pragma once

#include <QDBusConnection>

#include <optional>
#include <string>
#include <string_view>

namespace DriveCore {

// Posts the application's notifications for the file-manager plug-in as session-bus signals
// (KeepShared::KeepBus: the name cut at its last dot into interface and member). Posting never
// fails: without a bus nothing is sent.
namespace KeepNotifications {

// Emits the signal of `notificationName` with `json` as its argument, or with none.
void post(std::string_view notificationName, const std::optional<std::string> &json);
void post(QDBusConnection bus, std::string_view notificationName, const std::optional<std::string> &json);

} // namespace KeepNotifications

} // namespace DriveCore
