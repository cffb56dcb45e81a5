#include "DriveCore/engine/DriveSettings.h"

#include "DriveCore/platform/UserDefaults.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QVariant>

namespace DriveCore {

QByteArray DriveSettings::toJson() const
{
    const QJsonObject object{
        {QStringLiteral("driveName"), driveName},
        {QStringLiteral("cacheGB"), cacheGB},
        {QStringLiteral("deviceID"), deviceIDText(deviceID)},
        {QStringLiteral("deviceName"), deviceName},
        {QStringLiteral("startAtLogin"), startAtLogin},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<DriveSettings> DriveSettings::fromJson(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue driveName = object.value(QStringLiteral("driveName"));
    const QJsonValue cacheGB = object.value(QStringLiteral("cacheGB"));
    const QJsonValue deviceID = object.value(QStringLiteral("deviceID"));
    const QJsonValue deviceName = object.value(QStringLiteral("deviceName"));
    const QJsonValue startAtLogin = object.value(QStringLiteral("startAtLogin"));
    if (!driveName.isString() || !deviceID.isString() || !deviceName.isString() || !startAtLogin.isBool())
        return std::nullopt;
    // A whole number only: 30.5 is not a cache size.
    if (cacheGB.toVariant().typeId() != QMetaType::LongLong)
        return std::nullopt;
    const std::optional<QUuid> id = parseDeviceID(deviceID.toString());
    if (!id)
        return std::nullopt;
    return DriveSettings{
        .driveName = driveName.toString(),
        .cacheGB = cacheGB.toInteger(),
        .deviceID = *id,
        .deviceName = deviceName.toString(),
        .startAtLogin = startAtLogin.toBool(),
    };
}

std::optional<DriveSettings> DriveSettings::load(const UserDefaults &defaults)
{
    const std::optional<QByteArray> data = defaults.data(QString::fromLatin1(defaultsKey));
    if (!data)
        return std::nullopt;
    return fromJson(*data);
}

void DriveSettings::save(UserDefaults &defaults) const
{
    defaults.set(QString::fromLatin1(defaultsKey), toJson());
}

qint64 DriveSettings::maxCacheGB(qint64 freeBytes)
{
    constexpr qint64 reserve = 20'000'000'000;
    if (freeBytes < reserve)
        return 1;
    return std::max<qint64>(1, (freeBytes - reserve) / 1'000'000'000);
}

QString DriveSettings::deviceIDText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> DriveSettings::parseDeviceID(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

} // namespace DriveCore
