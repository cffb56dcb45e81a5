// The production hooks against real peers: the fake engine for the engine's own figures,
// Debian's rclone (rcd, and one-shot commands over an S3 server) for the rest, and a private
// session bus for the posts to the file-manager plug-in. Runs under keyring-session, which
// provides that bus.
#include "AppModelFixture.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/model/AppModelError.h"
#include "DriveCore/model/AppModelHooks.h"
#include "DriveCore/platform/LoginItem.h"
#include "DriveCore/shares/RcloneShareStorage.h"
#include "support/FuseMount.h"
#include "support/LogCapture.h"
#include "support/S3Server.h"
#include "support/ScopedEnvironment.h"
#include "support/TestSupport.h"
#include "support/fake-engine/FakeEngine.h"
#include "../services/UpstreamDrive.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QJsonArray>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;

namespace {

QJsonObject transferredReply(int count)
{
    QJsonArray list;
    for (int i = 0; i < count; ++i) {
        list.append(QJsonObject{{"name", QStringLiteral("f%1.txt").arg(i)},
                                {"size", 10},
                                {"error", ""},
                                {"completed_at", "2026-03-04T12:00:00Z"},
                                {"group", "global_stats"},
                                {"dstFs", "drivecrypt:Drive"}});
    }
    return QJsonObject{{"transferred", list}};
}

class LiveHooksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AppModelTest::useHome(env, home);
    }

    QString rclone() const { return QStandardPaths::findExecutable(QStringLiteral("rclone")); }

    QTemporaryDir home;
    TestSupport::ScopedEnvironment env;
    AppModelHooks hooks = AppModelHooks::live(QStandardPaths::findExecutable(QStringLiteral("rclone")));
};

TEST_F(LiveHooksTest, TheSnapshotTakesTheThreeRepliesAndFailsAsAWhole)
{
    TestSupport::FakeEngine engine({{"diskCache", QJsonObject{{"uploadsInProgress", 1}, {"uploadsQueued", 2}, {"erroredFiles", 0}}},
                                    {"methods", QJsonObject{{"core/transferred", QJsonObject{{"reply", transferredReply(3)}}}}}});
    ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();
    const UploadSnapshot snapshot = await(hooks.snapshot(engine.client(), {}));
    EXPECT_EQ(snapshot.transferred.size(), 3);
    EXPECT_EQ(snapshot.vfs.diskCache.uploadsInProgress, 1);
    EXPECT_EQ(snapshot.vfs.diskCache.uploadsQueued, 2);
    EXPECT_EQ(await(hooks.pendingUploads(engine.client(), {})), 3);
    EXPECT_EQ(await(hooks.trashStats(engine.client(), {})), (TrashStats{.pending = 0, .failing = 0}))
        << "no trash section counts as nothing moving";

    engine.setScenario({{"trash", QJsonObject{{"pending", 4}, {"failing", 1}}},
                        {"methods", QJsonObject{{"core/transferred", QJsonObject{{"status", 500}, {"error", "boom"}}}}}});
    EXPECT_EQ(await(hooks.trashStats(engine.client(), {})), (TrashStats{.pending = 4, .failing = 1}));
    try {
        await(hooks.snapshot(engine.client(), {}));
        ADD_FAILURE() << "one failed request fails the snapshot";
    } catch (const RCError &error) {
        EXPECT_EQ(error.method, QStringLiteral("core/transferred"));
        EXPECT_EQ(error.status, 500);
    }
}

TEST_F(LiveHooksTest, RecentlyDeletedThroughTheEngine)
{
    ServicesTest::UpstreamDrive drive;
    QString failure;
    ASSERT_TRUE(drive.start(&failure)) << failure.toStdString();
    const QString trash = QStringLiteral("drivecrypt:Recently Deleted");
    const QString today = DriveLayout::dateFolder(QDateTime::currentDateTime());
    drive.put(trash, QStringLiteral("2020-01-01/old.txt"));
    drive.put(trash, today + QStringLiteral("/Docs/new.txt"), "12345");

    EXPECT_EQ(await(hooks.purgeExpired(drive.client(), {})), 1);
    const QList<DeletedItem> items = await(hooks.listDeleted(drive.client(), home.filePath(QStringLiteral("Mounts/D")), {}));
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0].originalPath, QStringLiteral("Docs/new.txt"));
    EXPECT_EQ(items[0].size, 5);
    await(hooks.deleteNow(drive.client(), items[0], {}));
    EXPECT_TRUE(await(hooks.listDeleted(drive.client(), {}, {})).isEmpty());
}

TEST_F(LiveHooksTest, AStorageWithoutADriveDoesNotVerify)
{
    TestSupport::S3Server server;
    ASSERT_TRUE(server.start()) << server.output().toStdString();
    try {
        await(hooks.verifyStorage(server.secrets(), QStringLiteral("pass"), {}));
        ADD_FAILURE() << "an empty bucket holds no drive";
    } catch (const AppModelError &error) {
        EXPECT_EQ(error.message, QStringLiteral("Your passphrase doesn't open the drive in that storage."));
    }
}

TEST_F(LiveHooksTest, TheShareStorageSeesOnlyThePlainRemote)
{
    const auto storage = std::dynamic_pointer_cast<RcloneShareStorage>(hooks.shareStorage(
        StorageSecrets{.endpoint = "http://127.0.0.1:9", .bucket = "b", .accessKeyID = "id", .secretAccessKey = "secret"}));
    ASSERT_TRUE(storage);
    EXPECT_EQ(storage->sharesFs, QStringLiteral("drive:b/ovra-shares"));
    EXPECT_EQ(storage->environment.value(QStringLiteral("RCLONE_CONFIG")), QStringLiteral("/dev/null"));
    for (const QString &key : storage->environment.keys())
        EXPECT_FALSE(key.startsWith(QLatin1String("RCLONE_CONFIG_DRIVECRYPT_"))) << key.toStdString();
    EXPECT_TRUE(storage->environment.contains(QStringLiteral("RCLONE_CONFIG_DRIVE_TYPE")));
}

TEST_F(LiveHooksTest, TheLoginItemIsAnAutostartEntryPerProfile)
{
    const QString plain = home.filePath(QStringLiteral("config/autostart/com.corvane.drive.desktop"));
    hooks.setLoginItem(true);
    QFile entry(plain);
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray text = entry.readAll();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n")) << text.toStdString();
    EXPECT_FALSE(text.contains("-OvraProfile"));
    hooks.setLoginItem(false);
    EXPECT_FALSE(QFile::exists(plain));
    EXPECT_NO_THROW(hooks.setLoginItem(false)) << "nothing to remove is fine";

    // A second drive starts with its own profile from an entry of its own.
    LoginItem::set(true, QStringLiteral("/opt/Corvane Drive/bin/corvane-drive"), QStringLiteral("work"));
    QFile profiled(home.filePath(QStringLiteral("config/autostart/com.corvane.drive.work.desktop")));
    ASSERT_TRUE(profiled.open(QIODevice::ReadOnly));
    EXPECT_TRUE(profiled.readAll().contains("\nExec=\"/opt/Corvane Drive/bin/corvane-drive\" -OvraProfile work\n"));
    EXPECT_FALSE(QFile::exists(plain));

    // An autostart folder that cannot be written is a failure, not a success.
    QFile::remove(profiled.fileName());
    QDir(home.filePath(QStringLiteral("config"))).removeRecursively();
    QFile blocker(home.filePath(QStringLiteral("config")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_THROW(hooks.setLoginItem(true), LoginItem::Failure);
}

// Listens on the session bus for the signals the plug-in takes.
class BusListener : public QObject {
    Q_OBJECT
public:
    QStringList received; // "<interface>.<member> <argument or <none>>"

public slots:
    void take(const QDBusMessage &message)
    {
        received.append(message.interface() + u'.' + message.member() + u' '
                        + (message.arguments().isEmpty() ? QStringLiteral("<none>") : message.arguments()[0].toString()));
    }
};

TEST_F(LiveHooksTest, BadgesAndKeepStateAreSignalsOnTheSessionBus)
{
    TestSupport::LogCapture logs;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "runs under keyring-session";
    BusListener listener;
    for (const auto &[interface, member] : {std::pair("com.corvane.drive.keep", "state"), std::pair("com.corvane.drive.finder", "badges")}) {
        ASSERT_TRUE(bus.connect(QString(), QStringLiteral("/com/corvane/drive/Keep"), QString::fromLatin1(interface),
                                QString::fromLatin1(member), &listener, SLOT(take(QDBusMessage))));
    }

    hooks.postKeepState(KeepShared::KeepState{.mounts = {"/home/a/Mounts/D"}, .pins = {{"/home/a/Mounts/D", {"Photos"}}}});
    hooks.postFinderBadges(KeepShared::FinderBadgeSnapshot("/home/a/Mounts/D", {{"Photos", true, "done"}}, {"a.txt"}, true, true));
    // Too many pins for one notification: the reduced snapshot goes out instead.
    std::vector<KeepShared::FinderBadgePin> many;
    for (int i = 0; i < 5000; ++i)
        many.push_back({QStringLiteral("Folder %1/file.txt").arg(i).toStdString(), false, "done"});
    hooks.postFinderBadges(KeepShared::FinderBadgeSnapshot("/home/a/Mounts/D", many, {}, true, false));
    // A keep state too large for a notification is not posted at all, and says so in the log.
    std::vector<std::string> kept;
    for (int i = 0; i < 5000; ++i)
        kept.push_back(QStringLiteral("Folder %1/file.txt").arg(i).toStdString());
    hooks.postKeepState(KeepShared::KeepState{.mounts = {"/home/a/Mounts/D"}, .pins = {{"/home/a/Mounts/D", kept}}});
    // The last one shows that the big one is not merely late.
    hooks.postKeepState(KeepShared::KeepState{});

    ASSERT_TRUE(TestSupport::spinUntil([&] { return listener.received.size() == 4; }, 10s))
        << listener.received.join(u'\n').toStdString();
    EXPECT_EQ(listener.received[0],
              QStringLiteral(R"(com.corvane.drive.keep.state {"mounts":["\/home\/a\/Mounts\/D"],"pins":{"\/home\/a\/Mounts\/D":["Photos"]}})"));
    EXPECT_TRUE(listener.received[1].startsWith(QStringLiteral("com.corvane.drive.finder.badges {")))
        << listener.received[1].toStdString();
    const QString reduced = listener.received[2].mid(QStringLiteral("com.corvane.drive.finder.badges ").size());
    const auto decoded = KeepShared::KeepBridge::decode<KeepShared::FinderBadgeSnapshot>(reduced.toStdString());
    ASSERT_TRUE(decoded) << reduced.toStdString();
    EXPECT_TRUE(decoded->pins().empty());
    EXPECT_FALSE(decoded->queueKnown());
    EXPECT_FALSE(decoded->online());
    EXPECT_EQ(listener.received[3], QStringLiteral(R"(com.corvane.drive.keep.state {"mounts":[],"pins":{}})"));

    const std::size_t size = KeepShared::KeepBridge::encodedSize(
        KeepShared::KeepState{.mounts = {"/home/a/Mounts/D"}, .pins = {{"/home/a/Mounts/D", kept}}});
    EXPECT_GT(size, KeepShared::KeepBridge::maxPayloadBytes);
    EXPECT_EQ(logs.messages(QStringLiteral("app")),
              QStringList{QStringLiteral("Not posting com.corvane.drive.keep.state: %1 bytes (the limit is 65536)").arg(size)});
}

TEST_F(LiveHooksTest, LocalFoldersAndCacheFoldersOfADrive)
{
    const DriveSettings settings{.driveName = "My Drive", .deviceID = QUuid::createUuid(), .deviceName = "Laptop"};
    const DriveLocalData local = hooks.localData(settings);
    EXPECT_EQ(local.mountFolder, home.filePath(QStringLiteral("Mounts/My Drive")));
    EXPECT_EQ(local.cache, DriveLayout::cacheDir(settings.deviceID));
    EXPECT_EQ(local.logs, home.filePath(QStringLiteral("state/CorvaneDrive")));
    EXPECT_EQ(local.keep, home.filePath(QStringLiteral("data/CorvaneDrive/Keep")));
    EXPECT_EQ(local.backing, DriveLayout::backingPath(settings.deviceID));

    EXPECT_TRUE(hooks.cacheFolders(settings).empty());
    QDir().mkpath(local.cache + QStringLiteral("/vfs/drivecrypt{abc}"));
    QDir().mkpath(local.cache + QStringLiteral("/vfsMeta/drivecrypt"));
    EXPECT_EQ(hooks.cacheFolders(settings), (std::set<std::string>{"drivecrypt", "drivecrypt{abc}"}));
    EXPECT_FALSE(hooks.cacheHasPendingWork(settings));
    EXPECT_GT(hooks.freeDiskBytes(), 0);
}

TEST_F(LiveHooksTest, WaitingForTheMountEndsAtOnceWhenItIsThereAndOnCancel)
{
    const QString mount = home.filePath(QStringLiteral("Mounts/D"));
    QDir().mkpath(mount);
    QDir().mkpath(home.filePath(QStringLiteral("shown")));
    CancelSource cancel;
    QCoro::Task<> waiting = hooks.waitForMount(QStringLiteral("D"), cancel.get_token());
    TestSupport::spinUntil([] { return false; }, 300ms);
    cancel.request_stop();
    EXPECT_THROW(AppModelTest::finishWithin(std::move(waiting), 5s), CancelledError);

    TestSupport::FuseMount layer(mount);
    ASSERT_TRUE(layer.mountBindfs(home.filePath(QStringLiteral("shown")))) << layer.output().toStdString();
    AppModelTest::finishWithin(hooks.waitForMount(QStringLiteral("D"), {}), 1s);
}

TEST_F(LiveHooksTest, TheRescueWithNothingOldSendsNoRequest)
{
    // A client on a port where nothing listens: a request would fail, and the rescue would
    // then check 60 times. With no old folder it returns at once.
    await(hooks.recoverCache(RCClient(9, "u", "p"), DriveSettings{.deviceID = QUuid::createUuid()}, {}, {}));
}

} // namespace

#include "AppModelLiveHooksTest.moc"
