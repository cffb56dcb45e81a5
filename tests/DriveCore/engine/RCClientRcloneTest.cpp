#include "DriveCore/engine/RCClient.h"

#include "support/fake-engine/RCServerProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::failureOf;

namespace {

void writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

// Debian's rclone serving its remote-control interface ("rclone rcd") for the whole suite, with
// an exact environment and no configuration file. Its local remote works on plain paths.
class RCClientRcloneTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        home = std::make_unique<QTemporaryDir>();
        server = std::make_unique<TestSupport::RCServerProcess>();
        const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
        ASSERT_FALSE(rclone.isEmpty()) << "rclone is installed by scripts/bootstrap";
        const Environment environment{
            {QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")},
            {QStringLiteral("HOME"), home->path()},
            {QStringLiteral("RCLONE_CONFIG"), QStringLiteral("/dev/null")},
            {QStringLiteral("RCLONE_RC_USER"), user},
            {QStringLiteral("RCLONE_RC_PASS"), pass},
        };
        const bool started = server->start(
            rclone,
            [](int port) {
                return QStringList{QStringLiteral("rcd"), QStringLiteral("--rc-addr"),
                                   QStringLiteral("127.0.0.1:%1").arg(port)};
            },
            environment, user, pass);
        ASSERT_TRUE(started) << server->output().toStdString();
    }

    static void TearDownTestSuite()
    {
        server.reset();
        home.reset();
    }

    void SetUp() override
    {
        ASSERT_TRUE(server) << "rclone did not start";
        writeFile(folder.filePath(QStringLiteral("a.txt")), "hello\n");
        writeFile(folder.filePath(QStringLiteral("sub/b.txt")), "x\n");
    }

    static RCClient client() { return server->client(); }
    QString path(const QString &relative) const { return folder.filePath(relative); }

    static inline const QString user = QStringLiteral("corvane");
    static inline const QString pass = QStringLiteral("rc:secret");
    static inline std::unique_ptr<QTemporaryDir> home;
    static inline std::unique_ptr<TestSupport::RCServerProcess> server;
    QTemporaryDir folder;
};

TEST_F(RCClientRcloneTest, AnswersVersionAndStatistics)
{
    EXPECT_TRUE(await(client().ping()));
    const QJsonObject version = await(client().call(QStringLiteral("core/version"), {}));
    EXPECT_TRUE(version.value(u"version").toString().startsWith(u"v1."))
        << QJsonDocument(version).toJson().toStdString();

    EXPECT_TRUE(await(client().coreStats()).transferring.isEmpty());
    await(client().transferred());
}

TEST_F(RCClientRcloneTest, ListsAndStatsAFolder)
{
    const QList<ListItem> top = await(client().list(folder.path(), QString(), false));
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0].Path, QStringLiteral("a.txt"));
    EXPECT_EQ(top[0].Size, 6);
    EXPECT_FALSE(top[0].IsDir);
    EXPECT_EQ(top[1].Name, QStringLiteral("sub"));
    EXPECT_TRUE(top[1].IsDir);

    const QList<ListItem> all = await(client().list(folder.path(), QString(), true));
    QStringList paths;
    for (const ListItem &item : all)
        paths.append(item.Path);
    paths.sort();
    EXPECT_EQ(paths, (QStringList{QStringLiteral("a.txt"), QStringLiteral("sub"), QStringLiteral("sub/b.txt")}));

    const auto item = await(client().stat(folder.path(), QStringLiteral("sub/b.txt"), false));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->Name, QStringLiteral("b.txt"));
    EXPECT_FALSE(await(client().stat(folder.path(), QStringLiteral("missing"), false)));
    EXPECT_FALSE(await(client().stat(folder.path(), QStringLiteral("sub"), true)));
    EXPECT_TRUE(await(client().stat(folder.path(), QStringLiteral("sub"), false)));

    const auto missing = failureOf<RCError>(client().list(folder.path(), QStringLiteral("missing"), false));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_TRUE(missing->message.contains(u"directory not found")) << missing->message.toStdString();
}

TEST_F(RCClientRcloneTest, CopiesMovesAndDeletes)
{
    const QString fs = folder.path();
    await(client().copyFile(fs, QStringLiteral("a.txt"), fs, QStringLiteral("copies/a.txt")));
    await(client().moveFile(fs, QStringLiteral("copies/a.txt"), fs, QStringLiteral("moved/a.txt")));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("a.txt"))));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("copies/a.txt"))));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("moved/a.txt"))));

    await(client().deleteFile(fs, QStringLiteral("moved/a.txt")));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("moved/a.txt"))));
    const auto gone = failureOf<RCError>(client().deleteFile(fs, QStringLiteral("moved/a.txt")));
    ASSERT_TRUE(gone);
    EXPECT_TRUE(gone->message.contains(u"not found")) << gone->message.toStdString();

    await(client().moveDir(path(QStringLiteral("sub")), path(QStringLiteral("elsewhere"))));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("elsewhere/b.txt"))));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("sub/b.txt"))));

    await(client().purge(fs, QStringLiteral("elsewhere")));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("elsewhere"))));
}

TEST_F(RCClientRcloneTest, RefusesUnknownMethodsWithTheEnginesText)
{
    const auto error = failureOf<RCError>(client().call(QStringLiteral("nope/x"), {}));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->status, 404);
    EXPECT_EQ(error->message, QStringLiteral("couldn't find method \"nope/x\""));
    EXPECT_EQ(error->description(),
              QStringLiteral("rclone rc nope/x failed (HTTP 404): couldn't find method \"nope/x\""));
}

TEST_F(RCClientRcloneTest, RefusesAWrongPassword)
{
    const RCClient wrong(client().port(), user, QStringLiteral("guess"));
    EXPECT_FALSE(await(wrong.ping()));
    const auto error = failureOf<RCError>(wrong.coreStats());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->status, 401);
    EXPECT_EQ(error->message, QStringLiteral("Unauthorized"));
}

} // namespace
