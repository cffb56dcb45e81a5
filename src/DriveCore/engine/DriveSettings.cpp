#include "DriveCore/engine/DriveSettings.h"

#include "DriveCore/platform/UserDefaults.h"
#include "DriveCore/support/JsonReader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

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
    try {
        const JsonReader reader = JsonReader::parse(json, u"The settings");
        const std::optional<QUuid> id = parseDeviceID(reader.value<QString>(u"deviceID"));
        if (!id)
            return std::nullopt;
        return DriveSettings{
            .driveName = reader.value<QString>(u"driveName"),
            // A whole number only: 30.5 is not a cache size.
            .cacheGB = reader.value<qint64>(u"cacheGB"),
            .deviceID = *id,
            .deviceName = reader.value<QString>(u"deviceName"),
            .startAtLogin = reader.value<bool>(u"startAtLogin"),
        };
    } catch (const JsonDecodingError &) {
        // Settings that do not read count as none, as missing ones do.
        return std::nullopt;
    }
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
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

} // namespace DriveCore
