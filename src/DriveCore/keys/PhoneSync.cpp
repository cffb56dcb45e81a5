#include "DriveCore/keys/PhoneSync.h"

#include "DriveCore/support/AppModelError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <QVariant>

namespace DriveCore {

namespace {

// The reference date of "savedAt": 2001-01-01 00:00:00 UTC, in milliseconds since 1970.
constexpr qint64 referenceMSecs = 978'307'200'000;

} // namespace

QByteArray PhoneSyncItem::toJson() const
{
    const QJsonObject object{
        {QStringLiteral("v"), v},
        {QStringLiteral("endpoint"), endpoint},
        {QStringLiteral("bucket"), bucket},
        {QStringLiteral("accessKeyID"), accessKeyID},
        {QStringLiteral("secretAccessKey"), secretAccessKey},
        {QStringLiteral("passphrase"), passphrase},
        {QStringLiteral("driveName"), driveName},
        {QStringLiteral("macName"), macName},
        {QStringLiteral("savedAt"), double(savedAt.toMSecsSinceEpoch() - referenceMSecs) / 1000.0},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<PhoneSyncItem> PhoneSyncItem::fromJson(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    PhoneSyncItem item;
    for (const auto &[key, field] : {
             std::pair{"endpoint", &item.endpoint},
             std::pair{"bucket", &item.bucket},
             std::pair{"accessKeyID", &item.accessKeyID},
             std::pair{"secretAccessKey", &item.secretAccessKey},
             std::pair{"passphrase", &item.passphrase},
             std::pair{"driveName", &item.driveName},
             std::pair{"macName", &item.macName},
         }) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isString())
            return std::nullopt;
        *field = value.toString();
    }
    const QVariant version = object.value(QLatin1String("v")).toVariant();
    const QJsonValue savedAt = object.value(QLatin1String("savedAt"));
    if (version.typeId() != QMetaType::LongLong || !savedAt.isDouble())
        return std::nullopt;
    item.v = version.toLongLong();
    item.savedAt = QDateTime::fromMSecsSinceEpoch(referenceMSecs + qRound64(savedAt.toDouble() * 1000.0), QTimeZone::utc());
    return item;
}

QCoro::Task<> NoPhoneSync::write(PhoneSyncItem)
{
    throw AppModelError(notAvailableText);
    co_return;
}

QCoro::Task<> NoPhoneSync::remove()
{
    co_return;
}

} // namespace DriveCore
