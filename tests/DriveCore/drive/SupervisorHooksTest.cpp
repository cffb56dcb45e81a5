#include "DriveCore/drive/SupervisorHooks.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/mount/MountFolder.h"
#include "DriveCore/support/Tasks.h"
#include "support/fake-engine/FakeEngine.h"
#include "support/FuseMount.h"
#include "support/QtPrinters.h"
#include "support/ScopedEnvironment.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <system_error>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::failureOf;
using TestSupport::FuseMount;

namespace {

const SupervisorHooks &live = SupervisorHooks::live();

std::optional<QString> problemOf(const std::function<void(const DriveSettings &)> &check, const DriveSettings &settings)
{
    try {
        check(settings);
    } catch (const MountFolder::Problem &problem) {
        return problem.description;
    }
    return std::nullopt;
}

} // namespace

// The drive's folders in a home of the test's own.
class SupervisorHooksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        env.set("HOME", home.path().toUtf8());
        env.set("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
        env.set("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toUtf8());
    }

    QTemporaryDir home;
    TestSupport::ScopedEnvironment env;
    const DriveSettings settings{.driveName = QStringLiteral("My Drive"), .deviceID = QUuid::createUuid()};
};

TEST_F(SupervisorHooksTest, ARecordNeedsOnlyItsFirstNineOperations)
{
    const SupervisorHooks hooks{
        .sleep = [](std::chrono::milliseconds, CancelToken) -> QCoro::Task<> { co_return; },
        .healthTick = [](CancelToken) -> QCoro::Task<> { co_return; },
        .ping = [](RCClient, CancelToken) -> QCoro::Task<bool> { co_return true; },
        .pendingUploads = [](RCClient, CancelToken) -> QCoro::Task<qint64> { co_return 0; },
        .obscure = [](QString text) -> QCoro::Task<QString> { co_return text; },
        .prepare = [](const DriveSettings &) {},
        .checkMountFolder = [](const DriveSettings &) {},
        .now = [] { return ContinuousClock::now(); },
        .lastLogLine = [] { return std::optional<QString>(); },
    };
    EXPECT_TRUE(hooks.checkBackingFolder && hooks.waitForBacking && hooks.mountFSKit && hooks.isFSKitMounted
                && hooks.isBackingMounted && hooks.stopLeftovers);
    EXPECT_FALSE(hooks.isBackingMounted(home.path()));
    EXPECT_EQ(await(hooks.stopLeftovers(settings)), 0);
}

TEST_F(SupervisorHooksTest, PreparesTheFoldersInOrderAndStopsAtTheFirstFailure)
{
    live.prepare(settings);
    for (const QString &folder :
         {DriveLayout::logDir(), DriveLayout::keepDir(), home.filePath(QStringLiteral("Mounts/My Drive")),
          DriveLayout::backingPath(settings.deviceID)})
        EXPECT_TRUE(QFileInfo(folder).isDir()) << folder.toStdString();
    live.prepare(settings); // folders that exist are fine

    QTemporaryDir other;
    env.set("HOME", other.path().toUtf8());
    env.set("XDG_DATA_HOME", other.filePath(QStringLiteral("data")).toUtf8());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(DriveLayout::keepDir()).path()));
    QFile blocker(DriveLayout::keepDir()); // a file where the keep folder goes
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    try {
        live.prepare(settings);
        ADD_FAILURE() << "prepare did not fail";
    } catch (const std::system_error &error) {
        EXPECT_EQ(error.code(), std::errc::not_a_directory);
    }
    EXPECT_FALSE(QFileInfo::exists(other.filePath(QStringLiteral("Mounts"))));
}

TEST_F(SupervisorHooksTest, ChecksTheMountAndBackingFolders)
{
    live.prepare(settings);
    EXPECT_EQ(problemOf(live.checkMountFolder, settings), std::nullopt);
    EXPECT_EQ(problemOf(live.checkBackingFolder, settings), std::nullopt);

    QFile stray(DriveLayout::backingPath(settings.deviceID) + QStringLiteral("/stray"));
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    EXPECT_EQ(problemOf(live.checkBackingFolder, settings),
              "There are files in " + DriveLayout::backingPath(settings.deviceID)
                  + " that aren't in your drive yet. Move them somewhere else, then try again.");
    EXPECT_EQ(problemOf(live.checkMountFolder, settings), std::nullopt);
}

TEST_F(SupervisorHooksTest, ReadsTheLastLineOfTheEnginesLog)
{
    EXPECT_EQ(live.lastLogLine(), std::nullopt);
    live.prepare(settings);
    QFile log(DriveLayout::logFile());
    ASSERT_TRUE(log.open(QIODevice::WriteOnly));
    log.write("2024/01/01 ERROR : first\n2024/01/01 ERROR : Failed to mount\n\n");
    log.close();
    EXPECT_EQ(live.lastLogLine(), QStringLiteral("2024/01/01 ERROR : Failed to mount"));
}

TEST_F(SupervisorHooksTest, AsksTheEngine)
{
    TestSupport::FakeEngine engine(
        QJsonDocument::fromJson(R"({"diskCache": {"uploadsInProgress": 2, "uploadsQueued": 3}})").object());
    ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();
    EXPECT_TRUE(await(live.ping(engine.client(), {})));
    EXPECT_EQ(await(live.pendingUploads(engine.client(), {})), 5);

    engine.server().stop();
    EXPECT_FALSE(await(live.ping(engine.client(), {})));
    EXPECT_THROW(await(live.pendingUploads(engine.client(), {})), std::exception);

    EXPECT_EQ(await(live.obscure(QStringLiteral("passphrase"))), RcloneCommand::obscure(QStringLiteral("passphrase")));
}

TEST_F(SupervisorHooksTest, WaitsForTheEnginesMountAndMountsTheLayerOverIt)
{
    live.prepare(settings);
    const QString backing = DriveLayout::backingPath(settings.deviceID);
    const QString mountFolder = DriveLayout::mountPath(settings.driveName);
    const QString bucket = home.filePath(QStringLiteral("bucket"));
    ASSERT_TRUE(QDir().mkpath(bucket + QStringLiteral("/Photos")));

    CancelSource cancel;
    QTimer::singleShot(50ms, [&] { cancel.request_stop(); });
    EXPECT_TRUE(failureOf<CancelledError>(live.waitForBacking(backing, cancel.get_token())));

    FuseMount engine(backing);
    ASSERT_TRUE(engine.mountEngine(bucket)) << engine.output().toStdString();
    await(live.waitForBacking(backing, {}));
    EXPECT_TRUE(live.isBackingMounted(backing));
    EXPECT_FALSE(live.isFSKitMounted(mountFolder));

    FuseMount layer(mountFolder);
    await(live.mountFSKit(backing, mountFolder, settings.driveName, false, {}));
    EXPECT_TRUE(live.isFSKitMounted(mountFolder));
    EXPECT_FALSE(live.isBackingMounted(mountFolder));
    EXPECT_TRUE(QFileInfo(mountFolder + QStringLiteral("/Photos")).isDir());
}
