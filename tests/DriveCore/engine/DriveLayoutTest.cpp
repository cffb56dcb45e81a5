#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/AppVersion.h"
#include "DriveCore/engine/DriveProfile.h"
#include "support/ScopedEnvironment.h"

#include <gtest/gtest.h>

using namespace DriveCore;

TEST(DriveProfile, ParsesTheFirstProfileArgumentOnly)
{
    struct Case {
        QStringList arguments;
        std::optional<QString> profile;
    };
    const std::vector<Case> cases{
        {{"app", "-OvraProfile", "Work"}, "work"},
        {{"app", "-OvraProfile", "abcdefghij123456"}, "abcdefghij123456"},
        {{"app", "-OvraProfile"}, std::nullopt},
        {{"app", "-OvraProfile", "my-drive"}, std::nullopt},
        {{"app", "-OvraProfile", "abcdefghij1234567"}, std::nullopt},
        {{"app", "-OvraProfile", ""}, std::nullopt},
        {{"app", "-OvraProfile", "caf\u00e9"}, std::nullopt},
        {{"app", "-OvraProfile", "a b"}, std::nullopt},
        {{"app", "-OvraProfile", "bad_one", "-OvraProfile", "good"}, std::nullopt},
        {{"app", "-ovraprofile", "work"}, std::nullopt},
        {{"app"}, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DriveProfile::parse(c.arguments), c.profile) << c.arguments.join(' ').toStdString();
}

TEST(DriveProfile, NamesDerivedFromTheProfile)
{
    EXPECT_EQ(DriveProfile::defaultsSuite(std::nullopt), std::nullopt);
    EXPECT_EQ(DriveProfile::defaultsSuite(QStringLiteral("work")), QStringLiteral("com.corvane.drive.work"));
    EXPECT_EQ(DriveProfile::keychainService(std::nullopt), QStringLiteral("com.corvane.drive"));
    EXPECT_EQ(DriveProfile::keychainService(QStringLiteral("work")), QStringLiteral("com.corvane.drive.work"));
    EXPECT_EQ(DriveProfile::current(), std::nullopt) << "the test runs without a profile argument";
}

TEST(DriveLayout, LocalPaths)
{
    TestSupport::ScopedEnvironment env;
    env.set("HOME", "/home/u");
    env.unset("XDG_DATA_HOME");
    env.set("XDG_STATE_HOME", "/state");
    const QUuid id = QUuid::fromString(QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e"));
    const QString ID = QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E");
    const QString data = QStringLiteral("/home/u/.local/share/");

    EXPECT_EQ(DriveLayout::mountPath(QStringLiteral("My Drive")), QStringLiteral("/home/u/Mounts/My Drive"));
    EXPECT_EQ(DriveLayout::cacheDir(id, QStringLiteral("work")), data + "CorvaneDrive-work/Cache/" + ID);
    EXPECT_EQ(DriveLayout::cacheDir(id, std::nullopt), data + "CorvaneDrive/Cache/" + ID);
    EXPECT_EQ(DriveLayout::cacheDir(id), data + "CorvaneDrive/Cache/" + ID);
    EXPECT_EQ(DriveLayout::backingPath(id, QStringLiteral("work")), data + "CorvaneDrive-work/Backing/" + ID);
    EXPECT_EQ(DriveLayout::keepDir(std::nullopt), data + "CorvaneDrive/Keep");
    EXPECT_EQ(DriveLayout::pinFile(id), data + "CorvaneDrive/Keep/" + ID + ".json");
    EXPECT_EQ(DriveLayout::logDir(), QStringLiteral("/state/CorvaneDrive"));
    EXPECT_EQ(DriveLayout::logFile(), QStringLiteral("/state/CorvaneDrive/rclone.log"));
}

TEST(DriveLayout, DateFoldersAreGregorianInTheGivenZone)
{
    const QTimeZone utc = QTimeZone::utc();
    EXPECT_EQ(DriveLayout::dateFolder(QDateTime(QDate(2026, 3, 5), QTime(12, 0), utc), utc),
              QStringLiteral("2026-03-05"));
    // 23:30 UTC on 31 December is already 1 January in Tokyo.
    const QDateTime lateNight(QDate(2026, 12, 31), QTime(23, 30), utc);
    EXPECT_EQ(DriveLayout::dateFolder(lateNight, utc), QStringLiteral("2026-12-31"));
    EXPECT_EQ(DriveLayout::dateFolder(lateNight, QTimeZone("Asia/Tokyo")), QStringLiteral("2027-01-01"));
    EXPECT_EQ(DriveLayout::dateFolder(QDateTime(QDate(987, 1, 2), QTime(0, 0), utc), utc),
              QStringLiteral("0987-01-02"));
}

TEST(AppVersion, MenuLine)
{
    const auto info = [](const QVariant &value) {
        return std::optional<QVariantMap>(QVariantMap{{QStringLiteral("CFBundleShortVersionString"), value}});
    };
    EXPECT_EQ(AppVersion::menuLine(info(QStringLiteral("1.4.2"))), QStringLiteral("Ovra 1.4.2"));
    EXPECT_EQ(AppVersion::menuLine(info(QString())), std::nullopt);
    EXPECT_EQ(AppVersion::menuLine(info(14)), std::nullopt);
    EXPECT_EQ(AppVersion::menuLine(QVariantMap{}), std::nullopt);
    EXPECT_EQ(AppVersion::menuLine(std::nullopt), std::nullopt);
}
