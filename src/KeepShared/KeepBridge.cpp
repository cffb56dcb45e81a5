#include "KeepShared/KeepBridge.h"

#include "KeepShared/CanonicalText.h"
#include "KeepShared/TextTable.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace KeepShared {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json; // written in field order, which is easier to read

constexpr TextTable<KeepRequest::Action::Value, 2> actionTexts({"keep", "remove"});

OrderedJson pinJson(const FinderBadgePin &pin)
{
    return {{"path", pin.path}, {"isDir", pin.isDir}, {"state", pin.state}};
}

// The compact JSON text and its size on the wire; none for text that is not UTF-8.
std::optional<std::pair<std::string, std::size_t>> compactForm(const OrderedJson &json)
{
    std::string compact;
    try {
        compact = json.dump();
    } catch (const OrderedJson::exception &) { // text that is not UTF-8
        return std::nullopt;
    }
    // The wire form escapes "/". The writer never does, and outside strings JSON has no slash,
    // so every slash in its output belongs to a string and gets a backslash in front.
    const auto slashes = static_cast<std::size_t>(std::count(compact.begin(), compact.end(), '/'));
    const std::size_t size = compact.size() + slashes;
    return std::pair(std::move(compact), size);
}

std::optional<std::string> payload(const OrderedJson &json)
{
    std::optional<std::pair<std::string, std::size_t>> form = compactForm(json);
    if (!form || form->second > KeepBridge::maxPayloadBytes)
        return std::nullopt;
    const std::string &compact = form->first;
    std::string escaped;
    escaped.reserve(form->second);
    for (char c : compact) {
        if (c == '/')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// Parses the payload and reads it with `read`, which throws a JSON error for a missing key or a
// value of the wrong type.
template<typename T, typename Read>
std::optional<T> decodeWith(std::optional<std::string_view> text, Read read)
{
    if (!text || text->size() > KeepBridge::maxPayloadBytes)
        return std::nullopt;
    const Json json = Json::parse(*text, nullptr, false);
    if (json.is_discarded() || !json.is_object())
        return std::nullopt;
    try {
        return read(json);
    } catch (const Json::exception &) {
        return std::nullopt;
    }
}

FinderBadgePin readPin(const Json &json)
{
    return FinderBadgePin{json.at("path").get<std::string>(), json.at("isDir").get<bool>(),
                          json.at("state").get<std::string>()};
}

} // namespace

std::string_view KeepRequest::Action::rawValue() const
{
    return actionTexts.text(m_value);
}

std::optional<KeepRequest::Action> KeepRequest::Action::fromRawValue(std::string_view text)
{
    if (const std::optional<Value> value = actionTexts.value(text))
        return Action(*value);
    return std::nullopt;
}

bool KeepRequest::operator==(const KeepRequest &other) const
{
    return action == other.action && CanonicalText::equal(paths, other.paths);
}

KeepState KeepState::notificationState() const
{
    if (KeepBridge::encode(*this))
        return *this;
    return KeepState{mounts, {}};
}

bool KeepState::operator==(const KeepState &other) const
{
    // Keys compare as texts too, so a key may be spelt in either form on each side. Both ways
    // round: one side may hold two spellings of a key that the other holds once.
    const auto covers = [](const auto &some, const auto &others) {
        return std::all_of(some.begin(), some.end(), [&](const auto &entry) {
            return std::any_of(others.begin(), others.end(), [&](const auto &otherEntry) {
                return CanonicalText::equal(entry.first, otherEntry.first)
                    && CanonicalText::equal(entry.second, otherEntry.second);
            });
        });
    };
    return CanonicalText::equal(mounts, other.mounts) && pins.size() == other.pins.size() && covers(pins, other.pins)
        && covers(other.pins, pins);
}

namespace KeepBridge {

std::optional<std::string> encode(const FinderBadgePin &value)
{
    return payload(pinJson(value));
}

namespace {

OrderedJson snapshotJson(const FinderBadgeSnapshot &value)
{
    OrderedJson pins = OrderedJson::array();
    for (const FinderBadgePin &pin : value.pins())
        pins.push_back(pinJson(pin));
    return {{"mount", value.mount()},
            {"pins", std::move(pins)},
            {"pending", value.pending()},
            {"queueKnown", value.queueKnown()},
            {"online", value.online()}};
}

OrderedJson stateJson(const KeepState &value)
{
    return {{"mounts", value.mounts}, {"pins", value.pins}};
}

std::size_t wireSize(const OrderedJson &json)
{
    const std::optional<std::pair<std::string, std::size_t>> form = compactForm(json);
    return form ? form->second : 0;
}

} // namespace

std::optional<std::string> encode(const FinderBadgeSnapshot &value)
{
    return payload(snapshotJson(value));
}

std::optional<std::string> encode(const KeepState &value)
{
    return payload(stateJson(value));
}

std::size_t encodedSize(const FinderBadgeSnapshot &value)
{
    return wireSize(snapshotJson(value));
}

std::size_t encodedSize(const KeepState &value)
{
    return wireSize(stateJson(value));
}

std::optional<std::string> encode(const KeepRequest &value)
{
    return payload({{"action", value.action.rawValue()}, {"paths", value.paths}});
}

template<>
std::optional<FinderBadgePin> decode<FinderBadgePin>(std::optional<std::string_view> text)
{
    return decodeWith<FinderBadgePin>(text, readPin);
}

template<>
std::optional<FinderBadgeSnapshot> decode<FinderBadgeSnapshot>(std::optional<std::string_view> text)
{
    return decodeWith<FinderBadgeSnapshot>(text, [](const Json &json) {
        std::vector<FinderBadgePin> pins;
        for (const Json &pin : json.at("pins").get_ref<const Json::array_t &>()) // throws unless an array
            pins.push_back(readPin(pin));
        return FinderBadgeSnapshot(json.at("mount").get<std::string>(), std::move(pins),
                                   json.at("pending").get<std::vector<std::string>>(),
                                   json.at("queueKnown").get<bool>(), json.at("online").get<bool>());
    });
}

template<>
std::optional<KeepState> decode<KeepState>(std::optional<std::string_view> text)
{
    return decodeWith<KeepState>(text, [](const Json &json) {
        return KeepState{json.at("mounts").get<std::vector<std::string>>(),
                         json.at("pins").get<std::map<std::string, std::vector<std::string>>>()};
    });
}

template<>
std::optional<KeepRequest> decode<KeepRequest>(std::optional<std::string_view> text)
{
    return decodeWith<KeepRequest>(text, [](const Json &json) -> std::optional<KeepRequest> {
        const std::optional<KeepRequest::Action> action =
            KeepRequest::Action::fromRawValue(json.at("action").get<std::string>());
        if (!action)
            return std::nullopt;
        return KeepRequest{*action, json.at("paths").get<std::vector<std::string>>()};
    });
}

} // namespace KeepBridge

} // namespace KeepShared
