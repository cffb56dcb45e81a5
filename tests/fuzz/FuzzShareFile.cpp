// A sealed share file with the sizes a manifest would give: field 0 the plain size and field 1
// the chunk size (decimal), field 2 the file index, field 3 the object. Only Crypto::Error may
// come out of decryptFile or the size functions. With field 0 "seal", field 3 is sealed here in
// chunks of field 1 (taken modulo 64, plus 1) and must open to itself.
#include "Fuzz.h"

#include "DriveCore/platform/Crypto.h"
#include "DriveCore/shares/ShareFormat.h"

using namespace DriveCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QByteArray contentKey(32, '\x5a');
    const QList<QByteArray> input = Fuzz::fields(data, size, 4);
    const qint64 chunkSize = input[1].toLongLong();
    const qint64 index = input[2].toLongLong();
    if (input[0] == "seal") {
        const qint64 small = (chunkSize % 64 + 64) % 64 + 1;
        const QByteArray sealed = ShareFormat::encryptFile(input[3], contentKey, index, small);
        FUZZ_CHECK(sealed.size() == ShareFormat::encryptedSize(input[3].size(), small));
        FUZZ_CHECK(ShareFormat::decryptFile(sealed, contentKey, index, input[3].size(), small) == input[3]);
        return 0;
    }
    const qint64 plainSize = input[0].toLongLong();
    try {
        const qint64 count = ShareFormat::chunkCount(plainSize, chunkSize);
        const qint64 sealedSize = ShareFormat::encryptedSize(plainSize, chunkSize);
        FUZZ_CHECK(count >= 1 && sealedSize >= plainSize + ShareFormat::tagSize);
    } catch (const Crypto::Error &) {
    }
    try {
        const QByteArray plain = ShareFormat::decryptFile(input[3], contentKey, index, plainSize, chunkSize);
        FUZZ_CHECK(plain.size() == plainSize);
    } catch (const Crypto::Error &) {
    }
    return 0;
}
