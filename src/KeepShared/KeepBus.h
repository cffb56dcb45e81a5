#pragma once

#include "KeepShared/KeepBridge.h"

#include <string_view>

// The four notifications of the Keep bridge as session-bus signals, for the application (QtDBus)
// and the plug-in (GDBus) alike. Each is a broadcast signal from `objectPath`; its interface and
// member are the notification name cut at its last dot, so "<interface>.<member>" reads back as
// the name. A payload travels as the signal's one string argument; hello has none. A signal whose
// arguments are not exactly one string counts as one without a payload. Any process of the user
// can read these signals, so they carry nothing secret.
namespace KeepShared::KeepBus {

inline constexpr std::string_view objectPath = "/com/corvane/drive/Keep";

// The D-Bus type of a signal that carries a payload.
inline constexpr std::string_view payloadSignature = "(s)";

struct Signal {
    std::string_view interface;
    std::string_view member;
};

// The signal of a notification name; `name` must contain a dot.
constexpr Signal signal(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    return {name.substr(0, dot), name.substr(dot + 1)};
}

inline constexpr Signal stateSignal = signal(KeepBridge::stateName); // com.corvane.drive.keep / state
inline constexpr Signal requestSignal = signal(KeepBridge::requestName); // com.corvane.drive.keep / request
inline constexpr Signal helloSignal = signal(KeepBridge::helloName); // com.corvane.drive.keep / hello
inline constexpr Signal badgesSignal = signal(KeepBridge::badgesName); // com.corvane.drive.finder / badges

} // namespace KeepShared::KeepBus
