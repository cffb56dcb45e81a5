// A Recovery Kit code as typed or pasted (field 0 "code"), or the JSON a code opens to (field 0
// "payload"), sealed here under a fixed key so that it reaches the payload reader. Only
// RecoveryKitError may come out, and a payload that reads seals and opens to itself.
#include "Fuzz.h"

#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/platform/Crypto.h"

using namespace DriveCore;

namespace {

const QByteArray key(32, '\x42');
const QByteArray salt(RecoveryKit::saltSize, '\x11');
const QByteArray nonce(Crypto::Aead::nonceSize, '\x22');

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 2);
    try {
        if (input[0] == "code") {
            const QByteArray bytes = RecoveryKit::unwrap(Fuzz::text(input[1]));
            FUZZ_CHECK(bytes.size() >= RecoveryKit::saltSize + Crypto::Aead::nonceSize + Crypto::Aead::tagSize);
            RecoveryKit::open(bytes, key);
        } else if (input[0] == "payload") {
            const QByteArray sealed =
                salt + nonce + Crypto::Aead(Crypto::Aead::Algorithm::chaCha20Poly1305, key).seal(nonce, input[1]);
            const RecoveryKitPayload payload = RecoveryKit::open(sealed, key);
            const QString code = RecoveryKit::seal(payload, key, salt, nonce);
            FUZZ_CHECK(RecoveryKit::open(RecoveryKit::unwrap(code), key) == payload);
        }
    } catch (const RecoveryKitError &) {
    }
    return 0;
}
