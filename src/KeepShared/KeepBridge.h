#pragma once

#include "KeepShared/FinderBadges.h"

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace KeepShared {

// What the application posts for menus and watched folders.
struct KeepState {
    std::vector<std::string> mounts; // absolute paths of the mount folders to watch
    // Per mount folder: the drive-relative paths of its kept items. A mount without an entry has none.
    std::map<std::string, std::vector<std::string>> pins;

    // What to post: the state itself when it fits in one notification, otherwise the same mounts
    // with no kept paths. Posting nothing instead would leave the plug-in on its last state for good.
    KeepState notificationState() const;

    bool operator==(const KeepState &other) const;
};

// What the plug-in asks of the application.
struct KeepRequest {
    class Action {
    public:
        enum Value { keep, remove };
        static constexpr std::array<Value, 2> allCases{keep, remove};

        constexpr Action(Value value) : m_value(value) {}
        constexpr operator Value() const { return m_value; }

        std::string_view rawValue() const;
        // Only "keep" and "remove", exactly.
        static std::optional<Action> fromRawValue(std::string_view text);

    private:
        Value m_value;
    };

    Action action;
    std::vector<std::string> paths; // absolute paths of the items chosen in the file manager

    bool operator==(const KeepRequest &other) const;
};

// The four notifications between the application and the plug-in, and their JSON payloads.
namespace KeepBridge {

inline constexpr std::string_view stateName = "com.corvane.drive.keep.state"; // KeepState, to the plug-in
inline constexpr std::string_view requestName = "com.corvane.drive.keep.request"; // KeepRequest, to the application
inline constexpr std::string_view helloName = "com.corvane.drive.keep.hello"; // no payload: post keep state again
inline constexpr std::string_view badgesName = "com.corvane.drive.finder.badges"; // FinderBadgeSnapshot, to the plug-in

// The largest payload either side sends or reads, in UTF-8 bytes.
inline constexpr std::size_t maxPayloadBytes = 65536;

// Compact JSON keyed by field names, every "/" written as "\/" (so each slash costs two bytes).
// Nothing when the value cannot be encoded (text that is not UTF-8) or the text would be too long.
std::optional<std::string> encode(const FinderBadgePin &value);
std::optional<std::string> encode(const FinderBadgeSnapshot &value);
std::optional<std::string> encode(const KeepState &value);
std::optional<std::string> encode(const KeepRequest &value);
// The size in bytes of the JSON text encode gives, whatever the limit; 0 for a value that cannot be
// encoded.
std::size_t encodedSize(const FinderBadgeSnapshot &value);
std::size_t encodedSize(const KeepState &value);

// Nothing for an absent or too long text, or one that is not a JSON object of type T: a missing
// key, a value of the wrong JSON type, an unknown action. Keys T does not know are ignored.
template<typename T>
std::optional<T> decode(std::optional<std::string_view> text);

template<>
std::optional<FinderBadgePin> decode<FinderBadgePin>(std::optional<std::string_view> text);
template<>
std::optional<FinderBadgeSnapshot> decode<FinderBadgeSnapshot>(std::optional<std::string_view> text);
template<>
std::optional<KeepState> decode<KeepState>(std::optional<std::string_view> text);
template<>
std::optional<KeepRequest> decode<KeepRequest>(std::optional<std::string_view> text);

} // namespace KeepBridge

} // namespace KeepShared
