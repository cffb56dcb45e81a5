// The text decoders of ids and secrets: field 0 names one ("base64url", "hex", "shareid"),
// field 1 is the text (see Fuzz::text). What decodes encodes back to the same bytes.
#include "Fuzz.h"

#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/support/Base64URL.h"
#include "DriveCore/support/Hex.h"

using namespace DriveCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 2);
    const QString text = Fuzz::text(input[1]);
    if (input[0] == "base64url") {
        if (const std::optional<QByteArray> bytes = Base64URL::decode(text)) {
            const QString encoded = Base64URL::encode(*bytes);
            FUZZ_CHECK(encoded.size() == text.size());
            FUZZ_CHECK(Base64URL::decode(encoded) == bytes);
        }
    } else if (input[0] == "hex") {
        const std::optional<QByteArray> bytes = Hex::decode(text);
        if (text.size() % 2 == 0)
            FUZZ_CHECK(bytes.has_value() == Hex::isDigits(text));
        if (bytes)
            FUZZ_CHECK(Hex::encode(*bytes) == text.toLower());
    } else if (input[0] == "shareid") {
        if (ShareFormat::isShareID(text)) {
            const std::optional<QByteArray> bytes = Base64URL::decode(text);
            FUZZ_CHECK(bytes && bytes->size() == 16);
        }
    }
    return 0;
}
