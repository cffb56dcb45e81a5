#include "DriveCore/engine/StorageSecrets.h"

#include <QJsonValue>

namespace DriveCore {

QJsonObject StorageSecrets::toJson() const
{
    return {
        {QStringLiteral("endpoint"), endpoint},
        {QStringLiteral("bucket"), bucket},
        {QStringLiteral("accessKeyID"), accessKeyID},
        {QStringLiteral("secretAccessKey"), secretAccessKey},
    };
}

std::optional<StorageSecrets> StorageSecrets::fromJson(const QJsonObject &object)
{
    const QJsonValue endpoint = object.value(QLatin1String("endpoint"));
    const QJsonValue bucket = object.value(QLatin1String("bucket"));
    const QJsonValue accessKeyID = object.value(QLatin1String("accessKeyID"));
    const QJsonValue secretAccessKey = object.value(QLatin1String("secretAccessKey"));
    if (!endpoint.isString() || !bucket.isString() || !accessKeyID.isString() || !secretAccessKey.isString())
        return std::nullopt;
    return StorageSecrets{endpoint.toString(), bucket.toString(), accessKeyID.toString(), secretAccessKey.toString()};
}

} // namespace DriveCore
