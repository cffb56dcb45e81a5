#include "DriveCore/shares/ShareMeta.h"

#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/support/Hex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace DriveCore {

namespace {

QJsonValue orNull(const std::optional<qint64> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

} // namespace

ShareMeta::ShareMeta(QString accessHash, bool needsPassword, qint64 pwRounds, qint64 createdAt,
                     std::optional<qint64> expiresAt, std::optional<qint64> maxDownloads, qint64 fileCount,
                     qint64 totalBytes, QList<qint64> encryptedSizes)
    : accessHash(std::move(accessHash)), ticketKey(Hex::encode(ShareFormat::randomBytes(32))),
      needsPassword(needsPassword), pwRounds(pwRounds), createdAt(createdAt), expiresAt(expiresAt),
      maxDownloads(maxDownloads), fileCount(fileCount), totalBytes(totalBytes),
      encryptedSizes(std::move(encryptedSizes))
{
}

QByteArray ShareMeta::encoded() const
{
    QJsonArray sizes;
    for (const qint64 size : encryptedSizes)
        sizes.append(size);
    // QJsonObject keeps its keys sorted: the order "meta.json" is written in.
    const QJsonObject json{
        {QStringLiteral("v"), v},
        {QStringLiteral("accessHash"), accessHash},
        {QStringLiteral("ticketKey"), ticketKey},
        {QStringLiteral("needsPassword"), needsPassword},
        {QStringLiteral("pwRounds"), pwRounds},
        {QStringLiteral("createdAt"), createdAt},
        {QStringLiteral("downloads"), downloads},
        {QStringLiteral("fileCount"), fileCount},
        {QStringLiteral("totalBytes"), totalBytes},
        {QStringLiteral("encryptedSizes"), sizes},
        {QStringLiteral("expiresAt"), orNull(expiresAt)},
        {QStringLiteral("maxDownloads"), orNull(maxDownloads)},
    };
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

} // namespace DriveCore
