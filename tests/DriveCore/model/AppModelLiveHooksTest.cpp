// The production hooks against real peers: the fake engine for the engine's own figures,
// Debian's rclone (rcd, and one-shot commands over an S3 server) for the rest, and a private
// session bus for the posts to the file-manager plug-in. Runs under keyring-session, which
// provides that bus.
#include "../services/UpstreamDrive.h"
#include "AppModelFixture.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/model/AppModelHooks.h"
#include "DriveCore/mount/MountFolder.h"
#include "DriveCore/platform/LoginItem.h"
#include "DriveCore/shares/RcloneShareStorage.h"
#include "DriveCore/support/AppModelError.h"
#include "support/fake-engine/FakeEngine.h"
#include "support/FuseMount.h"
#include "support/LogCapture.h"
#include "support/ManualSleeps.h"
#include "support/S3Server.h"
#include "support/ScopedEnvironment.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
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
    void SetUp() override { AppModelTest::useHome(env, home); }

    QString rclone() const { return QStandardPaths::findExecutable(QStringLiteral("rclone")); }

    QTemporaryDir home;
    TestSupport::ScopedEnvironment env;
    AppModelHooks hooks = AppModelHooks::live(QStandardPaths::findExecutable(QStringLiteral("rclone")));
};

TEST_F(LiveHooksTest, TheSnapshotTakesTheThreeRepliesAndFailsAsAWhole)
{
    TestSupport::FakeEngine engine(
        {{"diskCache", QJsonObject{{"uploadsInProgress", 1}, {"uploadsQueued", 2}, {"erroredFiles", 0}}},
         {"methods", QJsonObject{{"core/transferred", QJsonObject{{"reply", transferredReply(3)}}}}}});
    ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();
    const UploadSnapshot snapshot = await(hooks.snapshot(engine.client(), {}));
    EXPECT_EQ(snapshot.transferred.size(), 3);
    EXPECT_EQ(snapshot.vfs.diskCache.uploadsInProgress, 1);
    EXPECT_EQ(snapshot.vfs.diskCache.uploadsQueued, 2);
    EXPECT_EQ(snapshot.vfs.diskCache.outOfSpace, std::nullopt);
    EXPECT_EQ(await(hooks.pendingUploads(engine.client(), {})), 3);
    EXPECT_EQ(await(hooks.trashStats(engine.client(), {})), (TrashStats{.pending = 0, .failing = 0}))
        << "no trash section counts as nothing moving";

    engine.setScenario({{"diskCache", QJsonObject{{"outOfSpace", true}}}});
    EXPECT_EQ(await(hooks.snapshot(engine.client(), {})).vfs.diskCache.outOfSpace, true);
    engine.setScenario(
        {{"trash", QJsonObject{{"pending", 4}, {"failing", 1}}},
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
    const QList<DeletedItem> items =
        await(hooks.listDeleted(drive.client(), home.filePath(QStringLiteral("Mounts/D")), {}));
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
    const auto storage = std::dynamic_pointer_cast<RcloneShareStorage>(hooks.shareStorage(StorageSecrets{
        .endpoint = "http://127.0.0.1:9", .bucket = "b", .accessKeyID = "id", .secretAccessKey = "secret"}));
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

TEST_F(LiveHooksTest, TheGeneralTabsSwitchWritesAndRemovesTheAutostartEntry)
{
    auto defaults = std::make_shared<UserDefaults>(home.filePath(QStringLiteral("config/com.corvane.drive.json")));
    AppModel model(std::make_shared<AppModelTest::FakeSupervisor>(), std::make_shared<AppModelTest::FakeSecrets>(),
                   defaults, std::make_shared<AppModelTest::FakeNetwork>(), hooks, true, nullptr);
    DriveCore::AppModelTestAccess::setSettings(model, DriveSettings{.driveName = "D", .deviceID = QUuid::createUuid()});
    const QString entry = home.filePath(QStringLiteral("config/autostart/com.corvane.drive.desktop"));
    model.setStartAtLogin(false);
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(DriveSettings::load(*defaults)->startAtLogin);
    model.setStartAtLogin(true);
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + "\n"));
    EXPECT_TRUE(DriveSettings::load(*defaults)->startAtLogin);
    model.setStartAtLogin(false);
    EXPECT_FALSE(QFile::exists(entry));

    // A folder that cannot be written (a file in its place, which stops root too): the switch
    // stays where it was.
    QDir(QFileInfo(entry).path()).removeRecursively();
    QFile blocker(QFileInfo(entry).path());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_THROW(model.setStartAtLogin(true), LoginItem::Failure);
    EXPECT_FALSE(model.settings()->startAtLogin);
    EXPECT_FALSE(DriveSettings::load(*defaults)->startAtLogin);
}

// Listens on the session bus for the signals the plug-in takes.
class BusListener : public QObject {
    Q_OBJECT
public:
    QStringList received; // "<interface>.<member> <argument or <none>>"

    // The keep state and the badges, as the plug-in takes them.
    bool listen(QDBusConnection bus)
    {
        return bus.connect(QString(), QStringLiteral("/com/corvane/drive/Keep"),
                           QStringLiteral("com.corvane.drive.keep"), QStringLiteral("state"), this,
                           SLOT(take(QDBusMessage)))
            && bus.connect(QString(), QStringLiteral("/com/corvane/drive/Keep"),
                           QStringLiteral("com.corvane.drive.finder"), QStringLiteral("badges"), this,
                           SLOT(take(QDBusMessage)));
    }

public slots:
    void take(const QDBusMessage &message)
    {
        received.append(
            message.interface() + u'.' + message.member() + u' '
            + (message.arguments().isEmpty() ? QStringLiteral("<none>") : message.arguments()[0].toString()));
    }
};

TEST_F(LiveHooksTest, BadgesAndKeepStateAreSignalsOnTheSessionBus)
{
    TestSupport::LogCapture logs;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "runs under keyring-session";
    BusListener listener;
    ASSERT_TRUE(listener.listen(bus));

    hooks.postKeepState(
        KeepShared::KeepState{.mounts = {"/home/a/Mounts/D"}, .pins = {{"/home/a/Mounts/D", {"Photos"}}}});
    hooks.postFinderBadges(
        KeepShared::FinderBadgeSnapshot("/home/a/Mounts/D", {{"Photos", true, "done"}}, {"a.txt"}, true, true));
    // Too many queued uploads for one notification: the kept items go out alone.
    std::vector<std::string> queued;
    for (int i = 0; i < 2000; ++i)
        queued.push_back(QStringLiteral("Camera Roll/Holiday 2024/IMG_%1.jpeg").arg(4000 + i).toStdString());
    const KeepShared::FinderBadgeSnapshot manyQueued("/home/a/Mounts/D", {{"Photos", true, "done"}}, queued, true,
                                                     false);
    hooks.postFinderBadges(manyQueued);
    // Too many pins: nothing goes out.
    std::vector<KeepShared::FinderBadgePin> many;
    for (int i = 0; i < 5000; ++i)
        many.push_back({QStringLiteral("Folder %1/file.txt").arg(i).toStdString(), false, "done"});
    const KeepShared::FinderBadgeSnapshot manyPins("/home/a/Mounts/D", many, {}, true, false);
    hooks.postFinderBadges(manyPins);
    // A keep state too large for a notification is not posted at all, and says so in the log.
    std::vector<std::string> kept;
    for (int i = 0; i < 5000; ++i)
        kept.push_back(QStringLiteral("Folder %1/file.txt").arg(i).toStdString());
    hooks.postKeepState(KeepShared::KeepState{.mounts = {"/home/a/Mounts/D"}, .pins = {{"/home/a/Mounts/D", kept}}});
    // The last one shows that the big one is not merely late.
    hooks.postKeepState(KeepShared::KeepState{});

    ASSERT_TRUE(TestSupport::spinUntil([&] { return listener.received.size() == 4; }, 10s))
        << listener.received.join(u'\n').toStdString();
    // Signals of two match rules may be handed over in either order.
    QStringList states = listener.received.filter(QStringLiteral("com.corvane.drive.keep.state "));
    states.sort();
    EXPECT_EQ(
        states,
        (QStringList{
            QStringLiteral(
                R"(com.corvane.drive.keep.state {"mounts":["\/home\/a\/Mounts\/D"],"pins":{"\/home\/a\/Mounts\/D":["Photos"]}})"),
            QStringLiteral(R"(com.corvane.drive.keep.state {"mounts":[],"pins":{}})")}))
        << states.join(u'\n').toStdString();
    QStringList snapshots = listener.received.filter(QStringLiteral("com.corvane.drive.finder.badges "));
    ASSERT_EQ(snapshots.size(), 2);
    // The full one first: its queue is known.
    std::sort(snapshots.begin(), snapshots.end(), [](const QString &a, const QString &b) {
        return a.contains(QStringLiteral("\"queueKnown\":true")) && !b.contains(QStringLiteral("\"queueKnown\":true"));
    });
    const auto decodedFull = KeepShared::KeepBridge::decode<KeepShared::FinderBadgeSnapshot>(
        snapshots[0].mid(QStringLiteral("com.corvane.drive.finder.badges ").size()).toStdString());
    ASSERT_TRUE(decodedFull);
    EXPECT_EQ(decodedFull->pins().size(), 1u);
    const QString reduced = snapshots[1].mid(QStringLiteral("com.corvane.drive.finder.badges ").size());
    const auto decoded = KeepShared::KeepBridge::decode<KeepShared::FinderBadgeSnapshot>(reduced.toStdString());
    ASSERT_TRUE(decoded) << reduced.toStdString();
    EXPECT_EQ(*decoded,
              KeepShared::FinderBadgeSnapshot("/home/a/Mounts/D", {{"Photos", true, "done"}}, {}, false, false));
    EXPECT_EQ(decoded->badge("Photos/beach.jpeg"), KeepShared::FinderBadge::kept);

    // Whatever is dropped is said, with its size.
    const auto sizeOf = [](const auto &value) { return qint64(KeepShared::KeepBridge::encodedSize(value)); };
    const std::size_t size = KeepShared::KeepBridge::encodedSize(
        KeepShared::KeepState{.mounts = {"/home/a/Mounts/D"}, .pins = {{"/home/a/Mounts/D", kept}}});
    EXPECT_GT(size, KeepShared::KeepBridge::maxPayloadBytes);
    EXPECT_GT(sizeOf(manyQueued), qint64(KeepShared::KeepBridge::maxPayloadBytes));
    EXPECT_EQ(
        logs.messages(QStringLiteral("app")),
        (QStringList{
            QStringLiteral("Posting com.corvane.drive.finder.badges with its kept items alone, without 2000 "
                           "pending uploads: %1 bytes (the limit is 65536)")
                .arg(sizeOf(manyQueued)),
            QStringLiteral("Not posting com.corvane.drive.finder.badges: %1 bytes (the limit is 65536)")
                .arg(sizeOf(manyPins)),
            QStringLiteral("Not posting com.corvane.drive.keep.state: %1 bytes (the limit is 65536)").arg(size)}));
}

TEST_F(LiveHooksTest, TheModelKeepsRestoresAndResolvesThroughTheEngineAndTellsThePlugIn)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected()) << "runs under keyring-session";
    BusListener listener;
    ASSERT_TRUE(listener.listen(bus));
    TestSupport::FakeEngine engine;
    ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();
    const QString today = DriveLayout::dateFolder(QDateTime::currentDateTime());
    for (const QString &file : {QStringLiteral("Drive/a.txt"), QStringLiteral("Drive/Docs/b.txt"),
                                QStringLiteral("Drive/plan.txt"), QStringLiteral("Drive/plan (conflict from Mac).txt"),
                                QStringLiteral("Recently Deleted/") + today + QStringLiteral("/c.txt"),
                                QStringLiteral("Recently Deleted/") + today + QStringLiteral("/Old/d.txt")})
        ASSERT_TRUE(engine.writeFile(file, file.toUtf8()));

    auto supervisor = std::make_shared<AppModelTest::FakeSupervisor>();
    supervisor->currentState = SupervisorState{SupervisorState::running, {}};
    supervisor->client = engine.client();
    auto secrets = std::make_shared<AppModelTest::FakeSecrets>();
    auto defaults = std::make_shared<UserDefaults>(home.filePath(QStringLiteral("config/com.corvane.drive.json")));
    AppModel model(supervisor, secrets, defaults, std::make_shared<AppModelTest::FakeNetwork>(), hooks, true, nullptr);
    const DriveSettings settings{.driveName = "My Drive", .deviceID = QUuid::createUuid(), .deviceName = "Laptop"};
    DriveCore::AppModelTestAccess::setSettings(model, settings);
    DriveCore::AppModelTestAccess::setPhase(model, AppModelPhase{AppModelPhase::running});
    const QString mount = *model.mountPath();

    // Kept from the file manager's menu, then one of them let go from the settings list.
    AppModelTest::finishWithin(model.handle(KeepShared::KeepRequest{KeepShared::KeepRequest::Action::keep,
                                                                    {(mount + QStringLiteral("/a.txt")).toStdString(),
                                                                     (mount + QStringLiteral("/Docs")).toStdString()}}),
                               30s);
    ASSERT_EQ(model.keptItems().size(), 2);
    EXPECT_TRUE(model.keptItems()[1].isDir);
    AppModelTest::finishWithin(model.removeKept({QStringLiteral("a.txt")}), 30s);
    ASSERT_EQ(model.keptItems().size(), 1);
    EXPECT_EQ(model.keptItems()[0].path, QStringLiteral("Docs"));
    EXPECT_EQ(model.keepAlert(), std::nullopt);
    const QString escapedMount = QString(mount).replace(u'/', QStringLiteral("\\/"));
    const QString kept =
        QStringLiteral(R"(com.corvane.drive.keep.state {"mounts":["%1"],"pins":{"%1":["a.txt","Docs"]}})")
            .arg(escapedMount);
    const QString left =
        QStringLiteral(R"(com.corvane.drive.keep.state {"mounts":["%1"],"pins":{"%1":["Docs"]}})").arg(escapedMount);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return listener.received.contains(left); }, 10s))
        << listener.received.join(u'\n').toStdString();
    EXPECT_TRUE(listener.received.contains(kept));
    EXPECT_EQ(listener.received.filter(QStringLiteral("com.corvane.drive.finder.badges ")).size(), 2)
        << "one per re-read";

    // Recently Deleted: listed, one restored, one deleted for good, the rest emptied.
    AppModelTest::finishWithin(model.refreshDeleted(true), 30s);
    ASSERT_EQ(model.deleted().size(), 2);
    const auto byPath = [&](const QString &path) {
        return *std::find_if(model.deleted().begin(), model.deleted().end(),
                             [&](const DeletedItem &item) { return item.originalPath == path; });
    };
    AppModelTest::finishWithin(model.restore(byPath(QStringLiteral("c.txt"))), 30s);
    EXPECT_TRUE(QFile::exists(engine.bucket() + QStringLiteral("/Drive/c.txt")));
    EXPECT_EQ(model.deleted().size(), 1);
    AppModelTest::finishWithin(model.deleteNow(byPath(QStringLiteral("Old/d.txt"))), 30s);
    EXPECT_FALSE(
        QFile::exists(engine.bucket() + QStringLiteral("/Recently Deleted/") + today + QStringLiteral("/Old/d.txt")));
    ASSERT_TRUE(engine.writeFile(QStringLiteral("Recently Deleted/") + today + QStringLiteral("/e.txt"), "e"));
    AppModelTest::finishWithin(model.emptyRecentlyDeleted(), 30s);
    AppModelTest::finishWithin(model.refreshDeleted(true), 30s);
    EXPECT_TRUE(model.deleted().isEmpty());

    // A conflict settled for this computer's version: the other one goes to Recently Deleted.
    const std::optional<DriveConflict> conflict =
        DriveConflict::fromCopyPath(QStringLiteral("plan (conflict from Mac).txt"));
    ASSERT_TRUE(conflict);
    DriveCore::AppModelTestAccess::setConflicts(model, {*conflict});
    EXPECT_EQ(AppModelTest::finishWithin(model.resolveConflict(ConflictChoice::keepThisMac), 30s), std::nullopt);
    EXPECT_TRUE(model.conflicts().isEmpty());
    EXPECT_FALSE(QFile::exists(engine.bucket() + QStringLiteral("/Drive/plan (conflict from Mac).txt")));
    EXPECT_TRUE(QFile::exists(engine.bucket() + QStringLiteral("/Drive/plan.txt")));
    AppModelTest::finishWithin(model.refreshDeleted(true), 30s);
    ASSERT_EQ(model.deleted().size(), 1);
    EXPECT_EQ(model.deleted()[0].originalPath, QStringLiteral("plan.txt"))
        << "the version not kept, under the file's name";
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
    AppModelTest::finishWithin(hooks.waitForMount(QStringLiteral("D"), {}), 60s);
}

// The default wait's deadline, on a clock and sleeps the test moves: 20 s of the continuous
// clock, however many looks that took; a mount there at the last look still counts.
TEST(MountWaitTest, TheDriveThatDoesNotAppearWithinTwentySecondsIsReported)
{
    struct Row {
        const char *name;
        std::optional<int> unmountedLooks; // none: it never appears
        std::chrono::milliseconds perPause; // how far the clock moves while one pause waits
        bool appears;
        int pauses;
    };
    for (const Row &row : std::vector<Row>{
             {.name = "there at once", .unmountedLooks = 0, .perPause = 200ms, .appears = true, .pauses = 0},
             {.name = "there at the look at 20 s",
              .unmountedLooks = 100,
              .perPause = 200ms,
              .appears = true,
              .pauses = 100},
             {.name = "never there",
              .unmountedLooks = std::nullopt,
              .perPause = 200ms,
              .appears = false,
              .pauses = 100},
             {.name = "never there, the computer asleep meanwhile",
              .unmountedLooks = std::nullopt,
              .perPause = 7s,
              .appears = false,
              .pauses = 3},
         }) {
        TestSupport::ManualSleeps sleeps;
        auto now = std::make_shared<ContinuousClock::time_point>(std::chrono::hours(1));
        int looks = 0;
        const auto mounted = [&] { return row.unmountedLooks && looks++ >= *row.unmountedLooks; };
        bool ended = false;
        std::optional<QString> problem;
        [](QCoro::Task<> waiting, bool &ended, std::optional<QString> &problem) -> QCoro::Task<> {
            try {
                co_await std::move(waiting);
            } catch (const MountFolder::Problem &error) {
                problem = error.userText();
            }
            ended = true;
        }(AppModelHooks::pollForMount(mounted, sleeps.sleep(), [now] { return *now; }, {}), ended, problem);
        while (!ended) {
            ASSERT_TRUE(TestSupport::spinUntil([&] { return ended || sleeps.waiting() == 1; })) << row.name;
            if (!ended) {
                *now += row.perPause;
                sleeps.releaseAll();
            }
        }
        EXPECT_EQ(problem, row.appears ? std::nullopt : std::optional(QString::fromUtf8(MountFolder::notAppearedText)))
            << row.name;
        EXPECT_EQ(int(sleeps.asked().size()), row.pauses) << row.name;
        for (const std::chrono::milliseconds pause : sleeps.asked())
            EXPECT_EQ(pause, 200ms) << row.name;
    }
}

TEST_F(LiveHooksTest, TheRescueWithNothingOldSendsNoRequest)
{
    // A client on a port where nothing listens: a request would fail, and the rescue would
    // then check 60 times. With no old folder it returns at once.
    await(hooks.recoverCache(RCClient(9, "u", "p"), DriveSettings{.deviceID = QUuid::createUuid()}, {}, {}, {}));
}

} // namespace

#include "AppModelLiveHooksTest.moc"
