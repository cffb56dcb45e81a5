#include "DriveCore/keys/PhoneSync.h"

#include "DriveCore/support/AppModelError.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;

namespace {

const PhoneSyncItem item{1,
                         QStringLiteral("https://e.example"),
                         QStringLiteral("photos"),
                         QStringLiteral("AKID"),
                         QStringLiteral("SECRET"),
                         QStringLiteral("pass phrase"),
                         QStringLiteral("Ada's drive"),
                         QStringLiteral("Ada's laptop"),
                         QDateTime(QDate(2001, 1, 1), QTime(0, 1, 0, 500), QTimeZone::utc())};

TEST(PhoneSyncItem, EncodesEveryFieldWithSavedAtInSecondsSince2001)
{
    const QJsonObject object = QJsonDocument::fromJson(item.toJson()).object();
    EXPECT_EQ(object.keys(),
              (QStringList{"accessKeyID", "bucket", "driveName", "endpoint", "macName", "passphrase", "savedAt",
                           "secretAccessKey", "v"}));
    EXPECT_EQ(object.value(QStringLiteral("savedAt")).toDouble(), 60.5);
    EXPECT_EQ(object.value(QStringLiteral("v")).toInteger(), 1);
    EXPECT_FALSE(item.toJson().contains('\n')) << "compact";
    EXPECT_EQ(PhoneSyncItem::fromJson(item.toJson()), item);
}

TEST(PhoneSyncItem, EveryKeyIsRequiredWithItsType)
{
    const QJsonObject complete = QJsonDocument::fromJson(item.toJson()).object();
    for (const QString &key : complete.keys()) {
        QJsonObject missing = complete;
        missing.remove(key);
        EXPECT_EQ(PhoneSyncItem::fromJson(QJsonDocument(missing).toJson()), std::nullopt) << key.toStdString();
        QJsonObject wrongType = complete;
        const bool number = key == QLatin1String("savedAt") || key == QLatin1String("v");
        wrongType.insert(key, number ? QJsonValue(QStringLiteral("1")) : QJsonValue(1));
        EXPECT_EQ(PhoneSyncItem::fromJson(QJsonDocument(wrongType).toJson()), std::nullopt) << key.toStdString();
    }
    QJsonObject fraction = complete;
    fraction.insert(QStringLiteral("v"), 1.5);
    EXPECT_EQ(PhoneSyncItem::fromJson(QJsonDocument(fraction).toJson()), std::nullopt);
    EXPECT_EQ(PhoneSyncItem::fromJson("not json"), std::nullopt);
}

TEST(PhoneSyncItem, ASavedAtOutsideTheRangeOfDatesIsNoItem)
{
    // Seconds since 2001; 8,640,000,000,000 s either side of 1970 is the range.
    const QByteArray json = item.toJson();
    ASSERT_TRUE(json.contains("\"savedAt\":60.5"));
    struct Row {
        QByteArray savedAt;
        std::optional<QDateTime> read;
    };
    const qint64 latest = 8'640'000'000'000'000;
    const qint64 reference = 978'307'200'000;
    for (const Row &row : std::vector<Row>{
             {"1e300", std::nullopt},
             {"-1e300", std::nullopt},
             {"1e400", std::nullopt},
             {"8639021692801", std::nullopt},
             {"-8640978307201", std::nullopt},
             {"8639021692800", QDateTime::fromMSecsSinceEpoch(latest, QTimeZone::utc())},
             {"-8640978307200", QDateTime::fromMSecsSinceEpoch(-latest, QTimeZone::utc())},
             {"-978307200", QDateTime::fromMSecsSinceEpoch(0, QTimeZone::utc())},
             {"0", QDateTime::fromMSecsSinceEpoch(reference, QTimeZone::utc())},
         }) {
        const auto read = PhoneSyncItem::fromJson(QByteArray(json).replace("60.5", row.savedAt));
        EXPECT_EQ(read.has_value(), row.read.has_value()) << row.savedAt.constData();
        if (read && row.read)
            EXPECT_EQ(read->savedAt, *row.read) << row.savedAt.constData();
    }
}

TEST(NoPhoneSync, OffersNothing)
{
    NoPhoneSync store;
    EXPECT_FALSE(store.isAvailable());
    const auto error = TestSupport::failureOf<AppModelError>(store.write(item));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, QStringLiteral("Not available in this version."));
    EXPECT_NO_THROW(await(store.remove()));
}

} // namespace
