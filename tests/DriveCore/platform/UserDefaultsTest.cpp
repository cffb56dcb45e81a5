#include "DriveCore/platform/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;

class UserDefaultsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("com.corvane.drive.json")); }
};

TEST_F(UserDefaultsTest, ValuesKeepTheirTypesAcrossReopening)
{
    {
        UserDefaults defaults(path());
        defaults.set("data", QByteArray("\x00\xff{json}", 8));
        defaults.set("string", QStringLiteral("fskit"));
        defaults.set("flag", true);
        defaults.set("count", qint64(9'007'199'254'740'993)); // not exact as a double
    }
    const UserDefaults reopened(path());
    EXPECT_EQ(reopened.data("data"), QByteArray("\x00\xff{json}", 8));
    EXPECT_EQ(reopened.string("string"), QStringLiteral("fskit"));
    EXPECT_EQ(reopened.boolean("flag"), true);
    EXPECT_EQ(reopened.integer("count"), 9'007'199'254'740'993);

    // Another type under the same key reads as nothing.
    EXPECT_FALSE(reopened.string("data"));
    EXPECT_FALSE(reopened.data("string"));
    EXPECT_FALSE(reopened.integer("flag"));
    EXPECT_FALSE(reopened.boolean("count"));
    EXPECT_FALSE(reopened.string("absent"));
}

TEST_F(UserDefaultsTest, RemoveAndWritesMergeWithTheFileOnDisk)
{
    UserDefaults first(path());
    first.set("a", QStringLiteral("1"));
    UserDefaults second(path()); // another writer of the same file
    second.set("b", QStringLiteral("2"));
    first.set("c", QStringLiteral("3"));
    first.remove("a");

    const UserDefaults reopened(path());
    EXPECT_FALSE(reopened.contains("a"));
    EXPECT_EQ(reopened.string("b"), QStringLiteral("2"));
    EXPECT_EQ(reopened.string("c"), QStringLiteral("3"));
    EXPECT_EQ(QFile(path()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
}

TEST_F(UserDefaultsTest, UnreadableFileReadsAsEmptyAndIsKeptAsideOnWrite)
{
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("{\"driveSettings\": broken");
    }
    UserDefaults defaults(path());
    EXPECT_FALSE(defaults.contains("driveSettings"));
    defaults.set("driveEngine", QStringLiteral("nfs"));

    QFile aside(path() + QStringLiteral(".unreadable"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), QByteArray("{\"driveSettings\": broken"));
    EXPECT_EQ(UserDefaults(path()).string("driveEngine"), QStringLiteral("nfs"));
}

TEST_F(UserDefaultsTest, WholeNumbersOnlyReadAsIntegers)
{
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"whole": 30, "fraction": 30.5, "text": "30", "data": {"data": "not base64!"}})");
    }
    const UserDefaults defaults(path());
    EXPECT_EQ(defaults.integer("whole"), 30);
    EXPECT_FALSE(defaults.integer("fraction"));
    EXPECT_FALSE(defaults.integer("text"));
    EXPECT_FALSE(defaults.data("data"));
}

TEST_F(UserDefaultsTest, SuitesLiveInTheConfigFolderAndShareOneInstance)
{
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    const auto standard = UserDefaults::standard();
    ASSERT_TRUE(standard);
    EXPECT_EQ(standard->path(), dir.filePath(QStringLiteral("com.corvane.drive.json")));
    EXPECT_EQ(UserDefaults::suite(QStringLiteral("com.corvane.drive")), standard);

    const auto work = UserDefaults::suite(QStringLiteral("com.corvane.drive.work"));
    ASSERT_TRUE(work);
    EXPECT_EQ(work->path(), dir.filePath(QStringLiteral("com.corvane.drive.work.json")));

    for (const QString &bad : {QString(), QStringLiteral("a/b"), QStringLiteral(".."), QStringLiteral(".hidden")})
        EXPECT_FALSE(UserDefaults::suite(bad)) << bad.toStdString();
    qunsetenv("XDG_CONFIG_HOME");
}
