#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/platform/UserDefaults.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

const QUuid deviceID = QUuid::fromString(QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}"));

DriveSettings sample()
{
    return DriveSettings{
        .driveName = QStringLiteral("Ovra"), .deviceID = deviceID, .deviceName = QStringLiteral("Desk")};
}

QByteArray withChange(const char *key, const QJsonValue &value)
{
    QJsonObject object = QJsonDocument::fromJson(sample().toJson()).object();
    if (value.isUndefined())
        object.remove(QString::fromLatin1(key));
    else
        object.insert(QString::fromLatin1(key), value);
    return QJsonDocument(object).toJson();
}

} // namespace

TEST(DriveSettings, CodeDefaultsAndJsonForm)
{
    const DriveSettings settings = sample();
    EXPECT_EQ(settings.cacheGB, 30);
    EXPECT_TRUE(settings.startAtLogin);

    const QJsonObject object = QJsonDocument::fromJson(settings.toJson()).object();
    EXPECT_EQ(object.keys(), (QStringList{"cacheGB", "deviceID", "deviceName", "driveName", "startAtLogin"}));
    EXPECT_EQ(object.value("deviceID").toString(), QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E"));
    EXPECT_EQ(object.value("cacheGB").toInteger(), 30);
    EXPECT_EQ(DriveSettings::fromJson(settings.toJson()), settings);
}

TEST(DriveSettings, ReadingRequiresEveryKeyWithItsType)
{
    struct Case {
        const char *name;
        QByteArray json;
        bool loads;
    };
    const std::vector<Case> cases{
        {"all keys", sample().toJson(), true},
        {"lower-case device id", withChange("deviceID", "0f8fad5b-d9cb-469f-a165-70867728950e"), true},
        {"no startAtLogin", withChange("startAtLogin", QJsonValue::Undefined), false},
        {"no cacheGB", withChange("cacheGB", QJsonValue::Undefined), false},
        {"cacheGB as text", withChange("cacheGB", "30"), false},
        {"cacheGB with a fraction", withChange("cacheGB", 30.5), false},
        {"startAtLogin as number", withChange("startAtLogin", 1), false},
        {"driveName null", withChange("driveName", QJsonValue::Null), false},
        {"device id not a UUID", withChange("deviceID", "not-a-uuid"), false},
        {"device id with braces", withChange("deviceID", "{0f8fad5b-d9cb-469f-a165-70867728950e}"), false},
        {"malformed JSON", "{\"driveName\":", false},
        {"an array", "[]", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DriveSettings::fromJson(c.json).has_value(), c.loads) << c.name;
}

TEST(DriveSettings, SaveAndLoadThroughTheDefaults)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.json"));
    EXPECT_FALSE(DriveSettings::load(defaults));

    DriveSettings settings = sample();
    settings.cacheGB = 75;
    settings.startAtLogin = false;
    settings.save(defaults);
    EXPECT_TRUE(defaults.data("driveSettings")) << "stored as a data value";
    EXPECT_EQ(DriveSettings::load(UserDefaults(dir.filePath("d.json"))), settings);

    defaults.set("driveSettings", QStringLiteral("not data"));
    EXPECT_FALSE(DriveSettings::load(defaults));
}

TEST(DriveSettings, LargestCacheLeaves20GBFree)
{
    const std::vector<std::pair<qint64, qint64>> cases{
        {45'900'000'000, 25},
        {20'500'000'000, 1},
        {5'000'000'000, 1},
        {0, 1},
        {-1, 1},
        {21'000'000'000, 1},
        {22'999'999'999, 2},
        {std::numeric_limits<qint64>::max(), 9'223'372'016},
        {std::numeric_limits<qint64>::min(), 1},
    };
    for (const auto &[free, expected] : cases)
        EXPECT_EQ(DriveSettings::maxCacheGB(free), expected) << free;
}

TEST(DriveEngine, OnlyNfsReadsAsNfs)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("d.json"));
    EXPECT_EQ(DriveEngine::load(defaults), DriveEngine::fskit) << "absent";
    for (const char *stored : {"fskit", "NFS", "", "ntfs"}) {
        defaults.set("driveEngine", QString::fromLatin1(stored));
        EXPECT_EQ(DriveEngine::load(defaults), DriveEngine::fskit) << stored;
    }
    DriveEngine(DriveEngine::nfs).save(defaults);
    EXPECT_EQ(defaults.string("driveEngine"), QStringLiteral("nfs"));
    EXPECT_EQ(DriveEngine::load(defaults), DriveEngine::nfs);
    EXPECT_EQ(DriveEngine(DriveEngine::fskit).rawValue(), QStringLiteral("fskit"));
}
