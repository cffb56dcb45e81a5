// A payload of one of the four notifications (field 0 names the type). Decoding never throws, and
// whatever decodes encodes and decodes to itself; a snapshot also answers badges.
#include "Fuzz.h"

#include "KeepShared/KeepBridge.h"

#include <string>

using namespace KeepShared;

namespace {

template<typename T>
std::optional<T> roundTrip(const QByteArray &payload)
{
    const std::optional<T> value = KeepBridge::decode<T>(std::string_view(payload.constData(), size_t(payload.size())));
    if (value) {
        if (const std::optional<std::string> encoded = KeepBridge::encode(*value))
            FUZZ_CHECK(KeepBridge::decode<T>(*encoded) == value);
    }
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 2);
    const QByteArray &kind = input[0];
    if (kind == "pin") {
        roundTrip<FinderBadgePin>(input[1]);
    } else if (kind == "state") {
        if (const auto state = roundTrip<KeepState>(input[1]))
            state->notificationState();
    } else if (kind == "request") {
        roundTrip<KeepRequest>(input[1]);
    } else if (kind == "badges") {
        if (const auto snapshot = roundTrip<FinderBadgeSnapshot>(input[1])) {
            for (const FinderBadgePin &pin : snapshot->pins())
                snapshot->badgeFor(snapshot->mount() + "/" + pin.path);
            for (const std::string &path : snapshot->pending())
                snapshot->badge(path);
            snapshot->notificationState();
        }
    }
    return 0;
}
