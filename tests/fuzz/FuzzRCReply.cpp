// A 2xx answer of the engine's remote control: field 0 names the reply type, field 1 is the body.
// The reply types read it through JsonReader; only JsonDecodingError may come out. The keep
// state read from "vfs/pins" also makes its progress line.
#include "Fuzz.h"

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/services/KeepOnMac.h"

using namespace DriveCore;

namespace {

template<typename Reply>
void read(const QJsonObject &object)
{
    try {
        Reply::decode(JsonReader(object));
    } catch (const JsonDecodingError &) {
    }
}

// A list of `T` under "list", the way listings arrive.
template<typename T>
void readList(const QJsonObject &object)
{
    try {
        JsonReader(object).listOrEmpty<T>(u"list");
    } catch (const JsonDecodingError &) {
    }
}

void pins(const QJsonObject &object)
{
    try {
        const PinsReply reply = PinsReply::decode(JsonReader(object));
        const QList<PinStatus> outermost = KeepOnMac::outermost(reply.pins);
        FUZZ_CHECK(outermost.size() <= reply.pins.size());
        FUZZ_CHECK(KeepOnMac::outermost(outermost) == outermost);
        KeepOnMac::progressLine(reply);
    } catch (const JsonDecodingError &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 2);
    const QJsonObject object = QJsonDocument::fromJson(input[1]).object();
    const QByteArray &kind = input[0];
    if (kind == "core/stats")
        read<CoreStats>(object);
    else if (kind == "vfs/stats")
        read<VFSStats>(object);
    else if (kind == "vfs/pins")
        pins(object);
    else if (kind == "vfs/pin")
        read<PinReply>(object);
    else if (kind == "operations/stat")
        read<RCClient::StatReply>(object);
    else if (kind == "operations/list")
        readList<ListItem>(object);
    else if (kind == "core/transferred")
        readList<Transferred>(object);
    else if (kind == "strings")
        readList<QString>(object);
    else if (kind == "integers")
        readList<qint64>(object);
    return 0;
}
