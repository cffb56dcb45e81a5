#include "DriveCore/keys/CloudflareKey.h"

#include "DriveCore/support/Hex.h"
#include "DriveCore/support/JsonReader.h"

#include <QCryptographicHash>
#include <QJsonObject>

#include <array>

namespace DriveCore::CloudflareKey {

namespace {

// The token's id when Cloudflare confirmed an active token, else none.
std::optional<QString> acceptedTokenID(const HTTPResponse &response)
{
    if (response.status < 200 || response.status > 299)
        return std::nullopt;
    struct Result {
        QString status;
        QString id;
        static Result decode(const JsonReader &reader)
        {
            return {reader.value<QString>(u"status"), reader.value<QString>(u"id")};
        }
    };
    try {
        const JsonReader reader = JsonReader::parse(response.body);
        if (!reader.value<bool>(u"success"))
            return std::nullopt;
        const Result result = reader.value<Result>(u"result");
        if (result.status != QLatin1String("active") || result.id.isEmpty() || !Hex::isDigits(result.id))
            return std::nullopt;
        return result.id;
    } catch (const JsonDecodingError &) {
        // Any other answer refuses the token.
        return std::nullopt;
    }
}

} // namespace

Failure::Failure(Case value)
    : std::runtime_error(value == notCloudflare ? "notCloudflare" : "notAValidKey"), value(value)
{
}

std::optional<QString> accountID(const QString &endpoint)
{
    const QUrl url(endpoint, QUrl::StrictMode);
    const QString host = url.host().toLower();
    if (!url.isValid() || !host.endsWith(u'.' + QLatin1String(r2EndpointDomain)))
        return std::nullopt;
    const QString first = host.split(u'.', Qt::SkipEmptyParts).value(0);
    if (first.size() != 32 || !Hex::isDigits(first))
        return std::nullopt;
    return first;
}

QCoro::Task<StorageSecrets> storageSecrets(QString token, QString endpoint, QString bucket, HTTPSend send, QUrl base,
                                           CancelToken cancel)
{
    const QString trimmed = token.trimmed();
    const std::optional<QString> account = accountID(endpoint);
    if (!account)
        throw Failure(Failure::notCloudflare);
    if (trimmed.isEmpty())
        throw Failure(Failure::notAValidKey);

    // An account-owned token verifies only on its account's path, a user token only on its own.
    const std::array<QString, 2> paths{
        QStringLiteral("accounts/%1/tokens/verify").arg(*account),
        QStringLiteral("user/tokens/verify"),
    };
    for (const QString &path : paths) {
        HTTPRequest request;
        request.request.setUrl(base.resolved(QUrl(path)));
        request.request.setRawHeader("Authorization", "Bearer " + trimmed.toUtf8());
        request.request.setTransferTimeout(30'000);
        const HTTPResponse response = co_await send(request, cancel);
        if (const std::optional<QString> id = acceptedTokenID(response)) {
            const StorageKeys keys = storageKeys(*id, trimmed);
            co_return StorageSecrets{endpoint, bucket, keys.accessKeyID, keys.secretAccessKey};
        }
    }
    throw Failure(Failure::notAValidKey);
}

StorageKeys storageKeys(const QString &tokenID, const QString &tokenValue)
{
    const QByteArray digest = QCryptographicHash::hash(tokenValue.toUtf8(), QCryptographicHash::Sha256);
    return {tokenID, QString::fromLatin1(digest.toHex())};
}

} // namespace DriveCore::CloudflareKey
