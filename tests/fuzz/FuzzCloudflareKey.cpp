// Cloudflare's answers to the two token checks: fields 0 and 2 the HTTP statuses (decimal),
// fields 1 and 3 the bodies. Only CloudflareKey::Failure may come out; accepted keys carry a
// hexadecimal token id.
#include "Fuzz.h"
#include "support/TestSupport.h"

#include "DriveCore/keys/CloudflareKey.h"
#include "DriveCore/support/Hex.h"

using namespace DriveCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 4);
    int sent = 0;
    const HTTPSend answer = [&](HTTPRequest, CancelToken) -> QCoro::Task<HTTPResponse> {
        const qsizetype at = 2 * sent++;
        co_return HTTPResponse{input[at + 1], input[at].toInt()};
    };
    const QString endpoint = QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com");
    try {
        const StorageSecrets secrets = TestSupport::await(
            CloudflareKey::storageSecrets(QStringLiteral("token"), endpoint, QStringLiteral("bucket"), answer));
        FUZZ_CHECK(!secrets.accessKeyID.isEmpty() && Hex::isDigits(secrets.accessKeyID));
    } catch (const CloudflareKey::Failure &) {
        FUZZ_CHECK(sent == 2);
    }
    return 0;
}
