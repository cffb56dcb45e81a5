#pragma once

#include <optional>
#include <string_view>

namespace KeepShared {

// How the four KeepBridge notifications travel on the session bus: one signal per notification
// name, all on one object path and interface. A signal carries the notification's JSON text as
// its one string argument, or no argument at all when there is nothing to carry (the hello, or
// a payload that could not be encoded). Any process of the user can read them: no secrets.
namespace KeepBus {

inline constexpr std::string_view path = "/com/corvane/drive/Keep";
inline constexpr std::string_view interface = "com.corvane.drive.Keep";

inline constexpr std::string_view stateMember = "KeepState";      // KeepBridge::stateName
inline constexpr std::string_view requestMember = "KeepRequest";  // KeepBridge::requestName
inline constexpr std::string_view helloMember = "KeepHello";      // KeepBridge::helloName
inline constexpr std::string_view badgesMember = "FinderBadges";  // KeepBridge::badgesName

// The signal member of a notification name; none for a name that is not one of the four.
std::optional<std::string_view> member(std::string_view notificationName);

} // namespace KeepBus

} // namespace KeepShared
