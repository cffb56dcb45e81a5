// Cloudflare's answers to the link page's deployment: fields 0, 2, 4 and 6 are the HTTP statuses
// (decimal) of the account-subdomain request, the upload, the schedule and the route, fields 1,
// 3, 5 and 7 their bodies. Only the app model's error may come out, with one of its texts;
// a deployment that passes sent all four and gives an https address under workers.dev.
#include "Fuzz.h"
#include "support/TestSupport.h"

#include "DriveCore/shares/ShareWorkerDeploy.h"
#include "DriveCore/support/AppModelError.h"

using namespace DriveCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    namespace Deploy = ShareWorkerDeploy;
    const QList<QByteArray> input = Fuzz::fields(data, size, 8);
    int sent = 0;
    const HTTPSend answer = [&](HTTPRequest, CancelToken) -> QCoro::Task<HTTPResponse> {
        const qsizetype at = 2 * sent++;
        FUZZ_CHECK(at < input.size());
        co_return HTTPResponse{input[at + 1], input[at].toInt()};
    };
    const QList<Deploy::Module> modules{{QStringLiteral("worker.js"), QStringLiteral("export default {}")},
                                        {QStringLiteral("format.js"), QString()},
                                        {QStringLiteral("assets.js"), QString()}};
    try {
        const QUrl url = TestSupport::await(
            Deploy::deploy(QStringLiteral(" token\n"),
                           QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com"),
                           QStringLiteral("My Bucket"), modules, answer));
        FUZZ_CHECK(sent == 4 && url.isValid() && url.scheme() == QLatin1String("https")
                   && url.host().endsWith(QLatin1String(".workers.dev")));
    } catch (const AppModelError &refused) {
        FUZZ_CHECK(refused.message == QString::fromUtf8(Deploy::permissionText)
                   || refused.message == QString::fromUtf8(Deploy::noSubdomainText)
                   || refused.message.startsWith(QLatin1String(Deploy::refusedPrefix)));
    }
    return 0;
}
