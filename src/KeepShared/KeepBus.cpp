#include "KeepShared/KeepBus.h"

#include "KeepShared/KeepBridge.h"

namespace KeepShared {

std::optional<std::string_view> KeepBus::member(std::string_view notificationName)
{
    if (notificationName == KeepBridge::stateName)
        return stateMember;
    if (notificationName == KeepBridge::requestName)
        return requestMember;
    if (notificationName == KeepBridge::helloName)
        return helloMember;
    if (notificationName == KeepBridge::badgesName)
        return badgesMember;
    return std::nullopt;
}

} // namespace KeepShared
