// The JSON a share's manifest object opens to. Only ShareManifest::DecodingError may come out, a
// manifest that reads has sizes a sealed file can have, and it seals and opens to itself.
#include "Fuzz.h"

#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/ShareManifest.h"

using namespace DriveCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QByteArray contentKey(32, '\x5a');
    try {
        const ShareManifest manifest =
            ShareManifest::fromJson(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
        FUZZ_CHECK(manifest.chunkSize > 0);
        for (const ShareManifest::File &file : manifest.files)
            FUZZ_CHECK(file.size >= 0);
        FUZZ_CHECK(ShareFormat::decryptManifest(ShareFormat::encryptManifest(manifest, contentKey), contentKey)
                   == manifest);
    } catch (const ShareManifest::DecodingError &) {
    }
    return 0;
}
