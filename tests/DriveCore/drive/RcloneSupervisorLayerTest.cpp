// The file-system layer of the fskit engine: the engine mounts in the backing folder and the
// supervisor lays the layer (bindfs, type "ovra") over it at the mount folder.
#include "SupervisorFixture.h"

#include "DriveCore/mount/FSKitMount.h"
#include "DriveCore/mount/MountFolder.h"
#include "DriveCore/platform/ProcessListing.h"
#include "support/FuseMount.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::failureOf;
using State = SupervisorState;

namespace SupervisorTest {

namespace {

bool unmountNow(const QString &path)
{
    return ::umount2(QFile::encodeName(path).constData(), 0) == 0;
}

} // namespace

class SupervisorLayerTest : public SupervisorTest {
protected:
    // Starts with the fskit engine and waits for the layer.
    bool startLayered()
    {
        start(DriveEngine::fskit);
        return waitFor([&] { return supervisor().fskitLayerMounted(); }) && engineAnswers();
    }
};

TEST_F(SupervisorLayerTest, LaysTheLayerOverTheEnginesMountAndTakesItDownBeforeTheEngine)
{
    ASSERT_TRUE(startLayered());
    ASSERT_TRUE(supervisor().rc());
    EXPECT_EQ(launcher->launches[0].arguments,
              RcloneCommand::mountArguments(settings, supervisor().rc()->port(), false, DriveEngine::fskit));
    EXPECT_EQ(mountedAt(backing), QStringList{"rclone"});
    EXPECT_EQ(mountedAt(mountFolder), QStringList{"ovra"});
    EXPECT_EQ(contents(mountFolder + QStringLiteral("/hello.txt")), "hello\n");
    EXPECT_TRUE(supervisorLog().contains(QStringLiteral("FSKit volume mounted")));

    await(supervisor().checkHealthNow());
    EXPECT_TRUE(supervisor().fskitLayerMounted());
    EXPECT_FALSE(supervisor().fskitEjected());
    const auto notEjected = failureOf<FSKitMount::Problem>(supervisor().reconnectFSKit());
    ASSERT_TRUE(notEjected);
    EXPECT_EQ(notEjected->description, RcloneSupervisor::notEjectedText);

    stop();
    EXPECT_EQ(supervisor().state(), State{State::stopped});
    EXPECT_EQ(launcher->events, (QStringList{"launch 1", QStringLiteral("unmount ") + mountFolder, "interrupt 1"}));
    EXPECT_TRUE(mountedAt(mountFolder).isEmpty());
    EXPECT_TRUE(mountedAt(backing).isEmpty());
    EXPECT_FALSE(supervisor().fskitLayerMounted());
}

TEST_F(SupervisorLayerTest, AnEjectedLayerLeavesTheEngineRunningAndCanBeMountedAgain)
{
    ASSERT_TRUE(startLayered());
    ASSERT_TRUE(unmountNow(mountFolder)) << "the user ejects the drive";
    await(supervisor().checkHealthNow());
    EXPECT_TRUE(supervisor().fskitEjected());
    EXPECT_FALSE(supervisor().fskitLayerMounted());
    EXPECT_EQ(supervisor().state(), State{State::running});
    EXPECT_EQ(mountedAt(backing), QStringList{"rclone"});
    EXPECT_TRUE(supervisorLog().contains(QStringLiteral("FSKit volume gone (ejected); rclone keeps running")));

    // One reconnect at a time.
    QCoro::Task<> reconnecting = supervisor().reconnectFSKit();
    const auto second = failureOf<FSKitMount::Problem>(supervisor().reconnectFSKit());
    ASSERT_TRUE(second);
    EXPECT_EQ(second->description, RcloneSupervisor::notEjectedText);
    EXPECT_NO_THROW(await(std::move(reconnecting)));
    EXPECT_FALSE(supervisor().fskitEjected());
    EXPECT_TRUE(supervisor().fskitLayerMounted());
    EXPECT_EQ(mountedAt(mountFolder), QStringList{"ovra"});
    EXPECT_EQ(contents(mountFolder + QStringLiteral("/hello.txt")), "hello\n");
    EXPECT_EQ(launcher->launches.size(), 1u);
}

// The layer failing for the current launch stops the whole drive: the engine is interrupted,
// both folders are unmounted, and the state carries the layer's own text when it has one.
TEST_F(SupervisorLayerTest, ALayerThatCannotBeMountedStopsTheDrive)
{
    const QString defaultText = QString::fromUtf8(FSKitMount::mountFailedText);
    const QString badName = FSKitMount::unusableNameText(QStringLiteral("a,b"));
    struct Case {
        const char *name;
        std::function<void(SupervisorHooks &, std::shared_ptr<int> calls)> breakIt;
        QString text;
    };
    const std::vector<Case> cases{
        {"the engine's mount never shows",
         [](SupervisorHooks &hooks, std::shared_ptr<int> calls) {
             hooks.waitForBacking = [calls, wait = hooks.waitForBacking](QString path,
                                                                         CancelToken token) -> QCoro::Task<> {
                 if ((*calls)++ == 0)
                     throw MountFolder::Problem(QString::fromUtf8(MountFolder::notAppearedText));
                 co_await wait(std::move(path), std::move(token));
             };
         },
         defaultText},
        {"the layer refuses the name",
         [badName](SupervisorHooks &hooks, std::shared_ptr<int> calls) {
             hooks.mountFSKit = [calls, badName, mount = hooks.mountFSKit](QString backing, QString at, QString name,
                                                                           bool readOnly,
                                                                           CancelToken token) -> QCoro::Task<> {
                 if ((*calls)++ == 0)
                     throw FSKitMount::Problem(badName);
                 co_await mount(backing, at, name, readOnly, token);
             };
         },
         badName},
        {"the layer's command cannot start",
         [](SupervisorHooks &hooks, std::shared_ptr<int> calls) {
             hooks.mountFSKit = [calls, mount = hooks.mountFSKit](QString backing, QString at, QString name,
                                                                  bool readOnly, CancelToken token) -> QCoro::Task<> {
                 if ((*calls)++ == 0)
                     throw ProcessRunner::LaunchError(QStringLiteral("/usr/bin/bindfs"),
                                                      QStringLiteral("No such file"));
                 co_await mount(backing, at, name, readOnly, token);
             };
         },
         defaultText},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SupervisorHooks broken = hooks;
        c.breakIt(broken, std::make_shared<int>(0));
        RcloneSupervisor drive(RcloneCommand(program), launcher, broken, {});
        const size_t launch = launcher->launches.size() + 1;
        await(drive.start(settings, secrets, passphrase, false, DriveEngine::fskit));
        ASSERT_TRUE(waitFor([&] { return drive.state().kind == State::failed; }));
        EXPECT_EQ(drive.state(), State::failure(c.text));
        EXPECT_TRUE(drive.fskitFailed());
        EXPECT_FALSE(drive.rc());
        EXPECT_TRUE(launcher->events.contains(QStringLiteral("interrupt %1").arg(launch)));
        EXPECT_TRUE(ProcessListing::hasEnded(pid(launch)));
        EXPECT_TRUE(mountedAt(backing).isEmpty());
        EXPECT_TRUE(mountedAt(mountFolder).isEmpty());

        // The next start tries again.
        await(drive.start(settings, secrets, passphrase, false, DriveEngine::fskit));
        EXPECT_FALSE(drive.fskitFailed());
        EXPECT_TRUE(waitFor([&] { return drive.fskitLayerMounted(); }));
        await(drive.stop(false));
    }
    EXPECT_EQ(
        logs.messages(QStringLiteral("supervisor")).filter(QStringLiteral("FSKit volume not mounted: ")),
        (QStringList{QStringLiteral("FSKit volume not mounted: ") + QString::fromUtf8(MountFolder::notAppearedText),
                     QStringLiteral("FSKit volume not mounted: ") + badName,
                     "FSKit volume not mounted: Could not start /usr/bin/bindfs: No such file"}));
}

// A stop while the failed layer is still ending the engine waits for it, and the failure,
// stale by then, changes nothing: the drive ends stopped, not failed.
TEST_F(SupervisorLayerTest, AStopWhileTheLayersFailureEndsTheEngineEndsStopped)
{
    setScenario({{QStringLiteral("mount"), true}, {QStringLiteral("ignoreSignals"), true}});
    hooks.mountFSKit = [](QString, QString, QString, bool, CancelToken) -> QCoro::Task<> {
        throw FSKitMount::Problem(QStringLiteral("The layer is broken."));
        co_return;
    };
    start(DriveEngine::fskit);
    ASSERT_TRUE(waitFor([&] { return !supervisorLog().filter(QStringLiteral("FSKit volume not mounted")).isEmpty(); }));
    stop();
    EXPECT_EQ(supervisor().state(), State{State::stopped});
    EXPECT_FALSE(supervisor().fskitFailed());
    EXPECT_TRUE(ProcessListing::hasEnded(pid(1)));
    waitFor([] { return false; }, 300ms);
    EXPECT_EQ(supervisor().state(), State{State::stopped});
    EXPECT_TRUE(mountedAt(backing).isEmpty());

    // Nothing is left that would block the next start.
    setScenario({{QStringLiteral("mount"), true}});
    start(DriveEngine::fskit);
    EXPECT_EQ(launcher->launches.size(), 2u);
}

TEST_F(SupervisorLayerTest, TheEnginesMountVanishingUnderTheLayerRestartsTheDrive)
{
    ASSERT_TRUE(startLayered());
    ASSERT_TRUE(::umount2(QFile::encodeName(backing).constData(), MNT_DETACH) == 0);
    await(supervisor().checkHealthNow());
    EXPECT_TRUE(
        supervisorLog().contains(QStringLiteral("FSKit backing mount gone while rclone runs; restarting the drive")));
    EXPECT_EQ(supervisor().state(), State{State::restarting});

    ASSERT_TRUE(waitForState(State::running));
    EXPECT_EQ(launcher->launches.size(), 2u);
    EXPECT_TRUE(waitFor([&] { return supervisor().fskitLayerMounted(); }));
    EXPECT_EQ(mountedAt(backing), QStringList{"rclone"});
    EXPECT_EQ(mountedAt(mountFolder), QStringList{"ovra"});
    EXPECT_EQ(contents(mountFolder + QStringLiteral("/hello.txt")), "hello\n");
}

// A layer already at the mount folder when the engine's mount comes up (one left from before)
// is unmounted before the new layer is mounted, so the drive never shows two stacked layers.
TEST_F(SupervisorLayerTest, ALayerLeftMountedIsUnmountedBeforeTheNewOne)
{
    TestSupport::FuseMount stale(mountFolder);
    hooks.waitForBacking = [&, wait = hooks.waitForBacking](QString path, CancelToken token) -> QCoro::Task<> {
        co_await wait(path, token);
        EXPECT_TRUE(stale.mountBindfs(filesFolder)) << stale.output().toStdString();
        launcher->events.append(QStringLiteral("stale layer"));
    };
    hooks.mountFSKit = [&, mount = hooks.mountFSKit](QString backing, QString at, QString name, bool readOnly,
                                                     CancelToken token) -> QCoro::Task<> {
        launcher->events.append(QStringLiteral("mount layer"));
        co_await mount(backing, at, name, readOnly, token);
    };
    ASSERT_TRUE(startLayered()) << supervisorLog().join(u'\n').toStdString();
    EXPECT_EQ(launcher->events,
              (QStringList{"launch 1", "stale layer", QStringLiteral("unmount! ") + mountFolder, "mount layer"}));
    EXPECT_EQ(mountedAt(mountFolder), QStringList{"ovra"});
    EXPECT_EQ(contents(mountFolder + QStringLiteral("/hello.txt")), "hello\n");
    stop();
    EXPECT_TRUE(mountedAt(mountFolder).isEmpty());
}

// An earlier run that crashed with its engine leaves both mounts behind, listed but dead (every
// access fails with ENOTCONN). The start clears them before it makes its folders; a dead mount
// it cannot clear is refused with a text for the user. On a desktop the volume monitor and the
// indexer stat each mount as it appears, so the kernel may still hold the dead daemons' last
// answers: the layer keeps them for the whole test here.
TEST_F(SupervisorLayerTest, DeadMountsOfACrashedRunAreClearedBeforeTheStart)
{
    const auto leaveDeadMounts = [&](TestSupport::FuseMount &engine, TestSupport::FuseMount &layer) {
        QDir().mkpath(backing);
        QDir().mkpath(mountFolder);
        ASSERT_TRUE(engine.mountEngine(filesFolder)) << engine.output().toStdString();
        ASSERT_TRUE(layer.mountBindfs(backing, {"-o", "subtype=ovra,attr_timeout=600"}))
            << layer.output().toStdString();
        for (const QString &folder : {backing, mountFolder}) {
            struct stat status{};
            ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &status), 0) << folder.toStdString();
        }
        layer.killDaemon();
        engine.killDaemon();
        ASSERT_EQ(mountedAt(backing), QStringList{"rclone"});
        ASSERT_EQ(mountedAt(mountFolder), QStringList{"ovra"});
    };
    {
        TestSupport::FuseMount engine(backing);
        TestSupport::FuseMount layer(mountFolder);
        leaveDeadMounts(engine, layer);
        ASSERT_TRUE(startLayered()) << supervisorLog().join(u'\n').toStdString();
        EXPECT_EQ(launcher->events.mid(0, 3),
                  (QStringList{QStringLiteral("unmount! ") + mountFolder, QStringLiteral("unmount! ") + backing,
                               "launch 1"}));
        EXPECT_EQ(mountedAt(backing), QStringList{"rclone"});
        EXPECT_EQ(mountedAt(mountFolder), QStringList{"ovra"});
        EXPECT_EQ(contents(mountFolder + QStringLiteral("/hello.txt")), "hello\n");
        stop();
    }

    // A launcher whose unmounts do nothing leaves the dead mounts in place.
    class StuckLauncher : public RecordingLauncher {
    public:
        QCoro::Task<> unmount(QString path, bool) override
        {
            events.append(QStringLiteral("unmount! ") + path);
            co_return;
        }
    };
    TestSupport::FuseMount engine(backing);
    TestSupport::FuseMount layer(mountFolder);
    leaveDeadMounts(engine, layer);
    RcloneSupervisor stuck(RcloneCommand(program), std::make_shared<StuckLauncher>(), hooks, {});
    const auto refused =
        failureOf<MountFolder::Problem>(stuck.start(settings, secrets, passphrase, false, DriveEngine::fskit));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->description, MountFolder::deadMountText(settings.driveName));
    EXPECT_EQ(stuck.state(), State::failure(MountFolder::deadMountText(settings.driveName)));
}

} // namespace SupervisorTest
