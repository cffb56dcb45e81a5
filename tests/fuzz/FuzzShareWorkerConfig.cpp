// The link page's record, fetched from the drive's metadata folder: the input is the stored
// object. Only JsonDecodingError may come out; a record that reads has an absolute address and a
// date in UTC, and is stored and read back the same.
#include "Fuzz.h"

#include "DriveCore/shares/ShareWorkerConfig.h"

using namespace DriveCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::optional<ShareWorkerConfig> config;
    try {
        config = ShareWorkerConfig::decoded(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    } catch (const JsonDecodingError &) {
        return 0;
    }
    FUZZ_CHECK(config->url.isValid() && !config->url.isRelative());
    FUZZ_CHECK(config->deployedAt.isValid() && config->deployedAt.timeSpec() == Qt::UTC);
    // Compared as stored: QUrl tells "#" inside a fragment from "%23", which are stored alike.
    const QByteArray stored = config->encoded();
    ShareWorkerConfig again = ShareWorkerConfig::decoded(stored);
    FUZZ_CHECK(again.encoded() == stored);
    again.url = config->url;
    FUZZ_CHECK(again == config);
    return 0;
}
