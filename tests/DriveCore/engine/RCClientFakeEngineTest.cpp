#include "DriveCore/engine/RCClient.h"

#include "support/fake-engine/FakeEngine.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::failureOf;

namespace {

// The methods that only the drive's own engine offers (upload queue, trash figures, pins), and
// the drive's file operations over its bucket, against the fake engine.
class RCClientFakeEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFile(QStringLiteral("Drive/docs/a.txt"), "hello");
        writeFile(QStringLiteral("Drive/keep/b.bin"), "0123456789");
        ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();
    }

    void writeFile(const QString &relative, const QByteArray &contents)
    {
        const QString path = engine.bucket() + u'/' + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    bool exists(const QString &relative) const { return QFileInfo::exists(engine.bucket() + u'/' + relative); }

    RCClient rc() const { return engine.client(); }

    const QString fs = QString::fromLatin1(RCClient::mountFs);
    TestSupport::FakeEngine engine;
};

TEST_F(RCClientFakeEngineTest, ReadsQueueAndTrashFigures)
{
    EXPECT_TRUE(await(rc().queuedUploads(fs)).isEmpty());
    EXPECT_FALSE(await(rc().vfsStats(fs)).trash);

    engine.setScenario(QJsonDocument::fromJson(R"({
        "diskCache": {"uploadsInProgress": 1, "uploadsQueued": 4},
        "trash": {"pending": 2, "failing": 1},
        "methods": {"vfs/queue": {"reply": {"queue": [{"name": "docs/a.txt"}, {"name": "b c"}]}}}
    })")
                           .object());
    const VFSStats stats = await(rc().vfsStats(fs));
    EXPECT_EQ(stats.diskCache, (DiskCache{1, 4, 0}));
    EXPECT_EQ(stats.trash, (TrashStats{2, 1}));
    EXPECT_EQ(await(rc().queuedUploads(fs)), (QStringList{QStringLiteral("docs/a.txt"), QStringLiteral("b c")}));
    EXPECT_EQ(await(rc().vfsList()), QStringList{fs});
}

TEST_F(RCClientFakeEngineTest, KeepsPins)
{
    const QJsonObject pin =
        await(rc().call(QStringLiteral("vfs/pin"), {{"fs", fs}, {"paths", QJsonArray{QStringLiteral("keep")}}}));
    EXPECT_FALSE(pin.value(u"notEnoughSpace").toBool());

    const QJsonObject pins = await(rc().call(QStringLiteral("vfs/pins"), {{"fs", fs}}));
    const QJsonObject kept = pins.value(u"pins").toArray().at(0).toObject();
    EXPECT_EQ(kept.value(u"path").toString(), QStringLiteral("keep"));
    EXPECT_EQ(kept.value(u"bytes").toInteger(), 10);
    EXPECT_TRUE(kept.value(u"isDir").toBool());

    await(rc().call<RCClient::Empty>(QStringLiteral("vfs/pin-scan"), {{"fs", fs}}));
    await(rc().call(QStringLiteral("vfs/unpin"), {{"fs", fs}, {"paths", QJsonArray{QStringLiteral("keep")}}}));
    EXPECT_TRUE(await(rc().call(QStringLiteral("vfs/pins"), {{"fs", fs}})).value(u"pins").toArray().isEmpty());

    // Another file system has no VFS.
    const auto other = failureOf<RCError>(rc().call(QStringLiteral("vfs/pins"), {{"fs", "drivecrypt:Other"}}));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->message, QStringLiteral("no VFS found with name \"drivecrypt:Other\""));
}

TEST_F(RCClientFakeEngineTest, WorksOnTheBucket)
{
    const QList<ListItem> all = await(rc().list(fs, QString(), true));
    QStringList paths;
    for (const ListItem &item : all)
        paths.append(item.Path);
    EXPECT_EQ(paths,
              (QStringList{QStringLiteral("docs"), QStringLiteral("docs/a.txt"), QStringLiteral("keep"),
                           QStringLiteral("keep/b.bin")}));
    EXPECT_EQ(await(rc().stat(fs, QStringLiteral("docs/a.txt"), true))->Size, 5);

    const QString trash = QStringLiteral("drivecrypt:Recently Deleted");
    await(rc().copyFile(fs, QStringLiteral("docs/a.txt"), trash, QStringLiteral("2026-01-02/a.txt")));
    await(rc().moveFile(fs, QStringLiteral("keep/b.bin"), fs, QStringLiteral("moved/b.bin")));
    EXPECT_TRUE(exists(QStringLiteral("Recently Deleted/2026-01-02/a.txt")));
    EXPECT_TRUE(exists(QStringLiteral("Drive/moved/b.bin")));
    EXPECT_FALSE(exists(QStringLiteral("Drive/keep/b.bin")));

    await(rc().deleteFile(trash, QStringLiteral("2026-01-02/a.txt")));
    await(rc().purge(fs, QStringLiteral("docs")));
    EXPECT_FALSE(exists(QStringLiteral("Recently Deleted/2026-01-02/a.txt")));
    EXPECT_FALSE(exists(QStringLiteral("Drive/docs")));

    await(rc().moveDir(fs, QStringLiteral("drivecrypt:Archive")));
    EXPECT_TRUE(exists(QStringLiteral("Archive/moved/b.bin")));
    EXPECT_FALSE(exists(QStringLiteral("Drive/moved")));

    await(rc().forgetDirs({QStringLiteral("moved")}, fs));
    await(rc().forgetFiles({QStringLiteral("moved/b.bin")}, fs));
}

TEST_F(RCClientFakeEngineTest, ScriptedFaults)
{
    engine.setScenario(QJsonDocument::fromJson(R"({"methods": {
        "vfs/stats": {"status": 503, "error": "cache not ready"},
        "core/stats": {"delay": 2},
        "vfs/queue": {"hang": true}
    }})")
                           .object());

    const auto refused = failureOf<RCError>(rc().vfsStats(fs));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->description(), QStringLiteral("rclone rc vfs/stats failed (HTTP 503): cache not ready"));

    const auto late = failureOf<HTTPTransportError>(rc().call(QStringLiteral("core/stats"), {}, 300ms));
    ASSERT_TRUE(late);
    EXPECT_EQ(late->code, QNetworkReply::TimeoutError);

    CancelSource source;
    QTimer::singleShot(100ms, [&] { source.request_stop(); });
    EXPECT_TRUE(failureOf<CancelledError>(rc().queuedUploads(fs, source.get_token())));

    // The faults do not touch other methods, and the engine still answers.
    EXPECT_TRUE(await(rc().ping()));
}

} // namespace
