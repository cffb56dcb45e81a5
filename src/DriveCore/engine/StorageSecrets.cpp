#include "DriveCore/engine/StorageSecrets.h"

#include "DriveCore/support/JsonReader.h"

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
    try {
        const JsonReader reader(object);
        return StorageSecrets{reader.value<QString>(u"endpoint"), reader.value<QString>(u"bucket"),
                              reader.value<QString>(u"accessKeyID"), reader.value<QString>(u"secretAccessKey")};
    } catch (const JsonDecodingError &) {
        return std::nullopt;
    }
}

} // namespace DriveCore
