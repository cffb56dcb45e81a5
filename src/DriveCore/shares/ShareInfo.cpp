#include "DriveCore/shares/ShareInfo.h"

#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/support/Base64URL.h"
#include "DriveCore/support/JsonReader.h"
#include "DriveCore/support/Threads.h"

namespace DriveCore {

ShareInfo ShareInfo::decode(const JsonReader &reader)
{
    return {reader.optional<qint64>(u"expiresAt"), reader.optional<qint64>(u"maxDownloads"),
            reader.value<qint64>(u"downloads"), reader.value<qint64>(u"fileCount"),
            reader.value<qint64>(u"totalBytes")};
}

HTTPRequest ShareInfo::request(const ShareRecord &record)
{
    // Records this system writes always make a valid address; others must not.
    if (!ShareFormat::isShareID(record.id))
        throw ShareFormat::Failure(ShareFormat::Failure::badShareID);
    // A damaged secret still gives a request; the link page's answer decides.
    const QByteArray secret = Base64URL::decode(record.secret).value_or(QByteArray());
    const ShareFormat::Keys keys =
        ShareFormat::deriveKeys(record.id, secret, record.password, ShareFormat::passwordRounds);

    QNetworkRequest request(QUrl(ShareLink::trimmedBase(record.workerURL) + QStringLiteral("/api/s/") + record.id
                                 + QStringLiteral("/info")));
    request.setTransferTimeout(15000);
    request.setRawHeader("X-Ovra-Access", Base64URL::encode(keys.accessToken).toLatin1());
    return HTTPRequest{request, "GET", {}};
}

ShareInfo::Status ShareInfo::status(int httpStatus, const QByteArray &body)
{
    if (httpStatus == 404 || httpStatus == 410)
        return {Status::ended, std::nullopt};
    if (httpStatus != 200)
        return {Status::unknown, std::nullopt};
    try {
        return Status::makeLive(decode(JsonReader::parse(body)));
    } catch (const JsonDecodingError &) {
        return {Status::unknown, std::nullopt};
    }
}

QCoro::Task<ShareInfo::Status> ShareInfo::fetch(ShareRecord record, HTTPSend send, CancelToken token)
{
    std::optional<HTTPRequest> built;
    try {
        built = co_await runInPool([record] { return request(record); });
    } catch (const std::exception &) {
        co_return Status{Status::unknown, std::nullopt};
    }
    std::optional<HTTPResponse> response;
    try {
        response = co_await send(std::move(*built), token);
    } catch (const CancelledError &) {
        throw;
    } catch (const std::exception &) {
        co_return Status{Status::unknown, std::nullopt};
    }
    co_return status(response->status, response->body);
}

} // namespace DriveCore
