#include "DriveCore/keys/PhoneSync.h"

#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/JsonReader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <cmath>

namespace DriveCore {

namespace {

// The reference date of "savedAt": 2001-01-01 00:00:00 UTC, in milliseconds since 1970.
constexpr qint64 referenceMSecs = 978'307'200'000;
// The widest range a date is commonly given in: 100,000,000 days either side of 1970.
constexpr double latestMSecs = 8.64e15;

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
    try {
        const JsonReader reader = JsonReader::parse(json, u"The phone item");
        PhoneSyncItem item;
        for (const auto &[key, field] : {
                 std::pair{u"endpoint", &item.endpoint},
                 std::pair{u"bucket", &item.bucket},
                 std::pair{u"accessKeyID", &item.accessKeyID},
                 std::pair{u"secretAccessKey", &item.secretAccessKey},
                 std::pair{u"passphrase", &item.passphrase},
                 std::pair{u"driveName", &item.driveName},
                 std::pair{u"macName", &item.macName},
             })
            *field = reader.value<QString>(key);
        item.v = reader.value<qint64>(u"v");
        const double sinceReference = reader.value<double>(u"savedAt") * 1000.0;
        // Also refuses what is not a number: no comparison holds for it.
        if (!(std::abs(double(referenceMSecs) + sinceReference) <= latestMSecs))
            throw JsonDecodingError(QStringLiteral("The phone item's savedAt is not a date"));
        item.savedAt = QDateTime::fromMSecsSinceEpoch(referenceMSecs + qRound64(sinceReference), QTimeZone::utc());
        return item;
    } catch (const JsonDecodingError &) {
        // What the phone cannot have written is no item.
        return std::nullopt;
    }
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
