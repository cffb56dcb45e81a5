#include "DriveCore/shares/ShareWorkerConfig.h"

#include "DriveCore/shares/ShareRecords.h"
#include "DriveCore/support/JsonReader.h"

#include <QJsonObject>

namespace DriveCore {

bool ShareWorkerConfig::isOutdated(const QString &currentVersion, qint64 currentBuild) const
{
    return version != currentVersion && appBuild.value_or(0) < currentBuild;
}

QByteArray ShareWorkerConfig::encoded() const
{
    QJsonObject object{
        {QStringLiteral("url"), url.toString(QUrl::FullyEncoded)},
        {QStringLiteral("version"), version},
        {QStringLiteral("deployedAt"), ShareRecords::dateText(deployedAt)},
    };
    if (appBuild)
        object.insert(QStringLiteral("appBuild"), *appBuild);
    return ShareRecords::encode(object);
}

ShareWorkerConfig ShareWorkerConfig::decoded(const QByteArray &json)
{
    const JsonReader reader(ShareRecords::decode(json));
    ShareWorkerConfig config;
    config.url = QUrl(reader.value<QString>(u"url"), QUrl::StrictMode);
    if (!config.url.isValid() || config.url.isRelative())
        throw JsonDecodingError(QStringLiteral("Expected an absolute address at url"));
    config.version = reader.value<QString>(u"version");
    config.appBuild = reader.optional<qint64>(u"appBuild");
    const std::optional<QDateTime> deployedAt = ShareRecords::date(reader.value<QString>(u"deployedAt"));
    if (!deployedAt)
        throw JsonDecodingError(QStringLiteral("Expected a date at deployedAt"));
    config.deployedAt = *deployedAt;
    return config;
}

QCoro::Task<std::optional<ShareWorkerConfig>> ShareWorkerConfig::load(RCClient rc, QString metaFs, CancelToken token)
{
    QByteArray json;
    try {
        json = co_await ShareRecords::fetchFile(std::move(rc), QLatin1String(scratchPrefix), std::move(metaFs),
                                                QLatin1String(fileName), token);
    } catch (const RCError &error) {
        if (!error.message.contains(u"not found"))
            throw;
        co_return std::nullopt; // no link page set up yet
    }
    co_return decoded(json);
}

QCoro::Task<> ShareWorkerConfig::save(RCClient rc, QString metaFs, CancelToken token) const
{
    // Encoded before the first suspension: the record may go away meanwhile.
    co_await ShareRecords::putFile(std::move(rc), QLatin1String(scratchPrefix), encoded(), std::move(metaFs),
                                   QLatin1String(fileName), token);
}

} // namespace DriveCore
