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
