#include "SupervisorFixture.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/mount/LeftoverDrive.h"
#include "DriveCore/mount/MountFolder.h"
#include "DriveCore/platform/FreePort.h"
#include "DriveCore/platform/ProcessListing.h"
#include "DriveCore/support/Tasks.h"
#include "support/fake-engine/FakeEngine.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <deque>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::failureOf;
using State = SupervisorState;

namespace SupervisorTest {

namespace {

// Holds whoever waits on it until it is opened.
class Gate {
public:
    QCoro::Task<> wait()
    {
        if (!m_open)
            co_await qCoro(&m_waker, &DriveCore::detail::Waker::fired);
    }
    void open()
    {
        m_open = true;
        m_waker.fire();
    }

private:
    DriveCore::detail::Waker m_waker;
    bool m_open = false;
};

} // namespace

TEST_F(SupervisorTest, StartsTheEngineWithItsCommandLineAndExactlyItsEnvironment)
{
    start();
    EXPECT_EQ(supervisor().state(), State{State::running});
    ASSERT_TRUE(supervisor().rc());
    const RCClient rc = *supervisor().rc();
    EXPECT_EQ(rc.user(), QStringLiteral("corvane"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(rc.pass()).hasMatch())
        << rc.pass().toStdString();

    ASSERT_EQ(launcher->launches.size(), 1u);
    const RecordingLauncher::Launch &launch = launcher->launches[0];
    EXPECT_EQ(launch.arguments, RcloneCommand::mountArguments(settings, rc.port(), false, DriveEngine::nfs));
    Environment expected = RcloneCommand::environment(secrets, RcloneCommand::obscure(passphrase));
    expected.insert(RcloneCommand::rcEnvironment(QStringLiteral("corvane"), rc.pass()));
    expected.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin"));
    expected.insert(QStringLiteral("HOME"), home.path());
    EXPECT_EQ(launch.environment, expected);
    EXPECT_EQ(launch.environment.size(), 16);
    EXPECT_TRUE(supervisorLog().contains(QStringLiteral("rclone started (pid %1)").arg(pid(1))));

    // The engine is up behind its password, and its mount shows the drive's files.
    EXPECT_TRUE(engineAnswers());
    EXPECT_TRUE(waitFor([&] { return mountedAt(mountFolder) == QStringList{"rclone"}; }));
    EXPECT_EQ(contents(mountFolder + QStringLiteral("/hello.txt")), "hello\n");

    // A second start while running changes nothing.
    start();
    EXPECT_EQ(launcher->launches.size(), 1u);

    stop();
    EXPECT_EQ(supervisor().state(), State{State::stopped});
    EXPECT_FALSE(supervisor().rc());
    EXPECT_EQ(launcher->events, (QStringList{"launch 1", "interrupt 1"}));
    EXPECT_TRUE(mountedAt(mountFolder).isEmpty()) << "the engine unmounts itself on SIGINT";
    EXPECT_TRUE(ProcessListing::hasEnded(pid(1)));
}

TEST_F(SupervisorTest, AStartFailureIsRecordedInTheStateAndThrown)
{
    struct Case {
        const char *name;
        std::function<void()> arrange;
        QString state;
    };
    const QString strayFiles = MountFolder::strayFilesText(mountFolder);
    const std::vector<Case> cases{
        {"mount folder holds files",
         [this] {
             QDir().mkpath(mountFolder);
             QFile stray(mountFolder + QStringLiteral("/notes.txt"));
             stray.open(QIODevice::WriteOnly);
         },
         strayFiles},
        {"engine program missing", [this] { program = home.filePath(QStringLiteral("missing/rclone")); },
         QStringLiteral("Could not start the drive: ")},
        {"passphrase cannot be obscured",
         [this] {
             hooks.obscure = [](QString) -> QCoro::Task<QString> {
                 throw RcloneCommand::ObscureError(
                     QStringLiteral("Could not prepare the passphrase for the drive (error 7)"));
                 co_return QString();
             };
         },
         QStringLiteral("Could not start the drive: Could not prepare the passphrase for the drive (error 7)")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString savedProgram = program;
        const SupervisorHooks savedHooks = hooks;
        c.arrange();
        RcloneSupervisor fresh(RcloneCommand(program), launcher, hooks, {});
        std::exception_ptr error;
        try {
            await(fresh.start(settings, secrets, passphrase, false, DriveEngine::nfs));
        } catch (...) {
            error = std::current_exception();
        }
        ASSERT_TRUE(error);
        EXPECT_EQ(fresh.state().kind, State::failed);
        EXPECT_TRUE(fresh.state().text.startsWith(c.state)) << fresh.state().text.toStdString();
        EXPECT_FALSE(fresh.rc());
        program = savedProgram;
        hooks = savedHooks;
        QDir(mountFolder).removeRecursively();
    }
    EXPECT_TRUE(launcher->launches.empty());
    // A folder problem shows its own text; the log keeps the path private.
    EXPECT_TRUE(supervisorLog().contains(QStringLiteral("Mount folder not usable: <private>")));
    EXPECT_TRUE(supervisorLog().contains(
        QStringLiteral("Could not start the drive: Could not prepare the passphrase for the drive (error 7)")));
}

TEST_F(SupervisorTest, AStopWhileStartWaitsEndsStoppedWithoutALaunch)
{
    for (const bool inLeftovers : {false, true}) {
        SCOPED_TRACE(inLeftovers ? "stopping leftovers" : "obscuring");
        Gate gate;
        SupervisorHooks gated = hooks;
        if (inLeftovers)
            gated.stopLeftovers = [&gate](DriveSettings) -> QCoro::Task<int> {
                co_await gate.wait();
                co_return 0;
            };
        else
            gated.obscure = [&gate](QString text) -> QCoro::Task<QString> {
                co_await gate.wait();
                co_return text;
            };
        RcloneSupervisor fresh(RcloneCommand(program), launcher, gated, {});
        QCoro::Task<> starting = fresh.start(settings, secrets, passphrase, false, DriveEngine::nfs);
        EXPECT_EQ(fresh.state(), State{State::starting});
        await(fresh.stop(false));
        EXPECT_EQ(fresh.state(), State{State::stopped});
        gate.open();
        EXPECT_NO_THROW(await(std::move(starting)));
        EXPECT_EQ(fresh.state(), State{State::stopped});
    }
    EXPECT_TRUE(launcher->launches.empty());
}

TEST_F(SupervisorTest, AKilledEnginesDeadMountIsUnmountedBeforeTheRelaunch)
{
    start();
    ASSERT_TRUE(waitFor([&] { return mountedAt(mountFolder) == QStringList{"rclone"}; }));
    ::kill(pid(1), SIGKILL);
    ASSERT_TRUE(waitForState(State::restarting));
    // A start during the restart changes nothing.
    start();
    EXPECT_EQ(launcher->launches.size(), 1u);

    ASSERT_TRUE(waitForState(State::running));
    ASSERT_EQ(launcher->launches.size(), 2u);
    const qsizetype relaunch = launcher->events.indexOf(QStringLiteral("launch 2"));
    EXPECT_LT(launcher->events.indexOf(QStringLiteral("unmount! ") + mountFolder), relaunch)
        << launcher->events.join(u'|').toStdString();
    EXPECT_TRUE(supervisorLog().contains(QStringLiteral("rclone exited unexpectedly (status 9)")));
    EXPECT_EQ(pauses(1s), std::vector<Milliseconds>{2s});
    // One live mount: the new engine's.
    EXPECT_TRUE(waitFor([&] { return mountedAt(mountFolder) == QStringList{"rclone"}; }))
        << mountedAt(mountFolder).join(u',').toStdString();
    EXPECT_TRUE(waitFor([&] { return contents(mountFolder + QStringLiteral("/hello.txt")) == "hello\n"; }));
    EXPECT_TRUE(engineAnswers());
}

// An engine that keeps dying soon after launch is restarted three times, 2, 5 and 15 s apart;
// the fourth quick exit gives up, quoting the engine's last log line without its secrets.
TEST_F(SupervisorTest, AnEngineThatKeepsDyingIsGivenUpWithItsLastLogLineRedacted)
{
    const QString obscured = RcloneCommand::obscure(passphrase);
    const QString lastWords =
        QStringLiteral("2026/01/01 00:00:00 CRITICAL: Failed to create file system: key %1 secret %2 "
                       "password %3 pass %4 ")
            .arg(secrets.accessKeyID, secrets.secretAccessKey, obscured);
    const auto scenarioWith = [&](const QString &rcPass) {
        const QString line = lastWords.arg(rcPass) + QString(400, u'x');
        return QJsonObject{{QStringLiteral("mount"), true},
                           {QStringLiteral("exitAfter"),
                            QJsonObject{{QStringLiteral("seconds"), 0.2},
                                        {QStringLiteral("status"), 3},
                                        {QStringLiteral("log"), QJsonArray{line}}}}};
    };
    setScenario(scenarioWith(QStringLiteral("unknown")));
    start();
    ASSERT_TRUE(supervisor().rc());
    const QString rcPass = supervisor().rc()->pass();
    setScenario(scenarioWith(rcPass)); // read by the relaunches

    ASSERT_TRUE(waitForState(State::failed));
    const QString redactedLine = lastWords.arg(QStringLiteral("<redacted>"))
                                     .replace(secrets.accessKeyID, QStringLiteral("<redacted>"))
                                     .replace(secrets.secretAccessKey, QStringLiteral("<redacted>"))
                                     .replace(obscured, QStringLiteral("<redacted>"))
        + QString(400, u'x');
    EXPECT_EQ(supervisor().state().text,
              QStringLiteral("The drive keeps stopping unexpectedly. Details: ") + redactedLine.left(300));
    for (const QString &secret : {secrets.accessKeyID, secrets.secretAccessKey, obscured, rcPass})
        EXPECT_FALSE(supervisor().state().text.contains(secret));
    EXPECT_EQ(launcher->launches.size(), 4u);
    EXPECT_EQ(pauses(1s), (std::vector<Milliseconds>{2s, 5s, 15s}));
    EXPECT_EQ(supervisorLog().filter(QStringLiteral("rclone exited unexpectedly (status 3)")).size(), 4);
    EXPECT_TRUE(supervisorLog().contains(
        QStringLiteral("rclone stopped 4 times in a row soon after launching; not restarting")));
    EXPECT_FALSE(supervisor().rc());
    // The crashed engine's mount is cleaned up, and nothing is launched again.
    EXPECT_TRUE(waitFor([&] { return mountedAt(mountFolder).isEmpty(); }));
    waitFor([] { return false; }, 300ms);
    EXPECT_EQ(launcher->launches.size(), 4u);
}

// No part of a secret is shown, also where secrets share text or overlap, and whichever
// variable holds which: each is found in the line as it came, not in what an earlier
// replacement left.
TEST(SupervisorGiveUpText, ShowsNoPartOfASecret)
{
    struct Case {
        QString accessKeyID;
        QString secretAccessKey;
        QString line;
        QString shown;
    };
    const std::vector<Case> cases{
        {"AKIA0123", "AKIA0123XYZ", "key AKIA0123XYZ id AKIA0123", "key <redacted> id <redacted>"},
        {"abcd", "cdef", "x abcdef y", "x <redacted> y"},
        {"aba", "zzz", "ababa!", "<redacted>!"},
        {"abcd", "cdef", "abcdcdef", "<redacted><redacted>"},
        {"KEY1", "e", "KEY1 here", "<redacted> h<redacted>r<redacted>"},
        // A line the seek cut inside a secret.
        {"AKIA0123", "s3cretKEY", "cretKEY rejected", "<redacted> rejected"},
        {"AKIA0123", "s3cretKEY", "KEY rejected", "KEY rejected"},
    };
    const auto shown = [](const QString &accessKeyID, const QString &secretAccessKey, const QString &line) {
        const Environment environment = RcloneCommand::environment(
            {QStringLiteral("https://example.com"), QStringLiteral("b"), accessKeyID, secretAccessKey}, QString());
        return RcloneSupervisor::keepsStoppingMessage(line, environment, QString());
    };
    for (const Case &c : cases) {
        const QString expected = RcloneSupervisor::keepsStoppingText + QStringLiteral(" Details: ") + c.shown;
        EXPECT_EQ(shown(c.accessKeyID, c.secretAccessKey, c.line), expected) << c.line.toStdString();
        EXPECT_EQ(shown(c.secretAccessKey, c.accessKeyID, c.line), expected) << c.line.toStdString();
    }
    EXPECT_EQ(RcloneSupervisor::keepsStoppingMessage(std::nullopt, {}, QStringLiteral("pass")),
              RcloneSupervisor::keepsStoppingText);
}

// Only exits less than 30 s after their launch count as quick: an engine that ran 30 s goes
// on being restarted, with the delays kept at 60 s once the table is used up.
TEST_F(SupervisorTest, ExitsAfterThirtySecondsOfRunningAreAlwaysRestarted)
{
    clockStep = 30s;
    setScenario(
        {{QStringLiteral("exitAfter"), QJsonObject{{QStringLiteral("seconds"), 0.1}, {QStringLiteral("status"), 1}}}});
    start();
    ASSERT_TRUE(waitFor([&] { return pauses(1s).size() == 4; }));
    EXPECT_EQ(pauses(1s), (std::vector<Milliseconds>{2s, 5s, 15s, 60s}));
    EXPECT_EQ(supervisor().state(), State{State::restarting});
    EXPECT_TRUE(supervisorLog().filter(QStringLiteral("not restarting")).isEmpty());
    // A stop during the restart delay cancels it.
    stop();
    EXPECT_EQ(supervisor().state(), State{State::stopped});
    waitFor([] { return false; }, 300ms);
    EXPECT_EQ(launcher->launches.size(), 4u);
}

TEST_F(SupervisorTest, AnEngineThatStopsAnsweringIsRestartedAfterThreeUnansweredPings)
{
    tick = 30ms;
    start();
    setScenario({{QStringLiteral("mount"), true}, {QStringLiteral("silent"), true}});
    ASSERT_TRUE(waitForState(State::restarting));
    setScenario({{QStringLiteral("mount"), true}});
    // The new engine gets time to come up on a loaded machine before three pings go unanswered.
    tick = 1s;
    EXPECT_EQ(
        supervisorLog().filter(QStringLiteral("rclone did not answer")),
        (QStringList{"rclone did not answer (1/3)", "rclone did not answer (2/3)", "rclone did not answer (3/3)"}));
    // The silent engine is ended with SIGTERM, and a new one answers.
    ASSERT_TRUE(waitForState(State::running));
    EXPECT_EQ(launcher->events.mid(0, 2), (QStringList{"launch 1", "terminate 1"}));
    EXPECT_TRUE(launcher->events.contains(QStringLiteral("launch 2")));
    EXPECT_TRUE(waitFor([&] { return ProcessListing::hasEnded(pid(1)); }));
    EXPECT_TRUE(engineAnswers());
    waitFor([] { return false; }, 300ms);
    EXPECT_EQ(supervisor().state(), State{State::running});
    EXPECT_EQ(launcher->launches.size(), 2u);
}

TEST_F(SupervisorTest, AnAnswerBetweenUnansweredPingsStartsTheCountAgain)
{
    start();
    ASSERT_TRUE(engineAnswers());
    const auto silent = [&](bool on) {
        setScenario({{QStringLiteral("mount"), true}, {QStringLiteral("silent"), on}});
    };
    silent(true);
    await(supervisor().checkHealthNow());
    await(supervisor().checkHealthNow());
    silent(false);
    await(supervisor().checkHealthNow());
    silent(true);
    await(supervisor().checkHealthNow());
    await(supervisor().checkHealthNow());
    EXPECT_EQ(supervisor().state(), State{State::running});
    EXPECT_EQ(supervisorLog().filter(QStringLiteral("rclone did not answer")),
              (QStringList{"rclone did not answer (1/3)", "rclone did not answer (2/3)", "rclone did not answer (1/3)",
                           "rclone did not answer (2/3)"}));
    EXPECT_EQ(launcher->launches.size(), 1u);
}

// SIGINT, 10 s, SIGTERM, 5 s, SIGKILL, 5 s. An engine that outlives even SIGKILL blocks the
// next start until its exit is reported.
TEST_F(SupervisorTest, AnEngineThatIgnoresInterruptAndTerminateIsKilled)
{
    for (const bool survivesKill : {false, true}) {
        SCOPED_TRACE(survivesKill ? "survives SIGKILL" : "dies of SIGKILL");
        launcher->events.clear();
        launcher->dropKill = survivesKill;
        setScenario({{QStringLiteral("mount"), true}, {QStringLiteral("ignoreSignals"), true}});
        start();
        const size_t launch = launcher->launches.size();
        const QString n = QString::number(launch);
        ASSERT_TRUE(waitFor([&] { return mountedAt(mountFolder) == QStringList{"rclone"}; }));
        stop();
        EXPECT_EQ(supervisor().state(), State{State::stopped});
        EXPECT_EQ(launcher->events.filter(QRegularExpression(QStringLiteral("^(interrupt|terminate|kill)"))),
                  (QStringList{"interrupt " + n, "terminate " + n, "kill " + n}));
        EXPECT_TRUE(
            supervisorLog().contains(QStringLiteral("rclone did not stop after 10s (pid %1)").arg(pid(launch))));
        EXPECT_TRUE(supervisorLog().contains(
            QStringLiteral("rclone ignored SIGTERM; sending SIGKILL to pid %1").arg(pid(launch))));
        // The mount a killed engine leaves behind does not block the next start.
        EXPECT_TRUE(mountedAt(mountFolder).isEmpty()) << mountedAt(mountFolder).join(u',').toStdString();

        setScenario({{QStringLiteral("mount"), true}});
        if (survivesKill) {
            const auto refused = failureOf<RcloneSupervisor::StillRunning>(
                supervisor().start(settings, secrets, passphrase, false, DriveEngine::nfs));
            ASSERT_TRUE(refused);
            EXPECT_EQ(refused->description, RcloneSupervisor::stillRunningText);
            EXPECT_EQ(
                supervisor().state(),
                State::failure(QStringLiteral("Could not start the drive: ") + RcloneSupervisor::stillRunningText));
            EXPECT_EQ(launcher->launches.size(), launch);
            // Once its exit is reported, the drive starts again.
            launcher->launches[launch - 1].process->kill();
            ASSERT_TRUE(waitFor([&] { return ProcessListing::hasEnded(pid(launch)); }));
            waitFor([] { return false; }, 100ms);
        }
        start();
        EXPECT_EQ(supervisor().state(), State{State::running});
        EXPECT_EQ(launcher->launches.size(), launch + 1);
        stop();
    }
}

// A restart whose old engine outlives SIGTERM, SIGKILL and the unmount of its mount gives up:
// no second engine is run beside it, now or at a later start, until its exit is reported.
TEST_F(SupervisorTest, ARestartWhoseOldEngineWillNotDieFailsWithoutASecondEngine)
{
    launcher->dropKill = true;
    setScenario({{QStringLiteral("mount"), true}, {QStringLiteral("ignoreSignals"), true}});
    start();
    ASSERT_TRUE(engineAnswers());
    setScenario(
        {{QStringLiteral("mount"), true}, {QStringLiteral("ignoreSignals"), true}, {QStringLiteral("silent"), true}});
    for (int check = 0; check < 3; ++check)
        await(supervisor().checkHealthNow());

    ASSERT_TRUE(waitForState(State::failed, 30s)) << supervisorLog().join(u'\n').toStdString();
    EXPECT_EQ(supervisor().state(), State::failure(RcloneSupervisor::cannotRestartText));
    EXPECT_FALSE(supervisor().rc());
    EXPECT_EQ(launcher->events,
              (QStringList{"launch 1", "terminate 1", "kill 1", QStringLiteral("unmount! ") + mountFolder}));
    EXPECT_TRUE(supervisorLog().contains(
        QStringLiteral("rclone (pid %1) will not exit; not relaunching beside it").arg(pid(1))));
    waitFor([] { return false; }, 300ms);
    EXPECT_EQ(launcher->launches.size(), 1u);

    const auto refused = failureOf<RcloneSupervisor::StillRunning>(
        supervisor().start(settings, secrets, passphrase, false, DriveEngine::nfs));
    ASSERT_TRUE(refused);
    EXPECT_EQ(launcher->launches.size(), 1u);
    // Once it has gone, the drive starts again.
    launcher->launches[0].process->kill();
    ASSERT_TRUE(waitFor([&] { return ProcessListing::hasEnded(pid(1)); }));
    waitFor([] { return false; }, 100ms);
    setScenario({{QStringLiteral("mount"), true}});
    start();
    EXPECT_EQ(supervisor().state(), State{State::running});
    EXPECT_EQ(launcher->launches.size(), 2u);
}

// A relaunch that fails for any reason but the mount folder is tried again after the next
// delay, the state staying restarting, until one succeeds.
TEST_F(SupervisorTest, AFailedRelaunchIsTriedAgain)
{
    start();
    ASSERT_TRUE(engineAnswers());
    const QString away = program + QStringLiteral(".away");
    ASSERT_TRUE(QFile::rename(program, away));
    ::kill(pid(1), SIGKILL);
    ASSERT_TRUE(waitFor([&] { return supervisorLog().filter(QStringLiteral("Relaunch failed: ")).size() == 2; }));
    EXPECT_EQ(supervisor().state(), State{State::restarting});
    EXPECT_EQ(launcher->launches.size(), 1u);
    ASSERT_TRUE(QFile::rename(away, program));

    ASSERT_TRUE(waitForState(State::running));
    EXPECT_EQ(launcher->launches.size(), 2u);
    EXPECT_EQ(pauses(1s), (std::vector<Milliseconds>{2s, 5s, 15s}));
    EXPECT_TRUE(engineAnswers());
    EXPECT_TRUE(waitFor([&] { return contents(mountFolder + QStringLiteral("/hello.txt")) == "hello\n"; }));
}

// Files that appeared in the mount folder while the engine was down stop the restarts with the
// folder's own text: the engine is not mounted over them.
TEST_F(SupervisorTest, AMountFolderThatBecameUnusableStopsTheRestarts)
{
    hooks.sleep = [this, sleep = hooks.sleep](Milliseconds duration, CancelToken token) {
        if (duration == 2s) {
            QFile stray(mountFolder + QStringLiteral("/notes.txt"));
            EXPECT_TRUE(stray.open(QIODevice::WriteOnly)) << "the dead mount is gone before the delay";
        }
        return sleep(duration, std::move(token));
    };
    start();
    ASSERT_TRUE(waitFor([&] { return mountedAt(mountFolder) == QStringList{"rclone"}; }));
    ::kill(pid(1), SIGKILL);

    ASSERT_TRUE(waitForState(State::failed));
    EXPECT_EQ(supervisor().state(), State::failure(MountFolder::strayFilesText(mountFolder)));
    EXPECT_FALSE(supervisor().rc());
    EXPECT_TRUE(supervisorLog().contains(QStringLiteral("Mount folder not usable: <private>")));
    waitFor([] { return false; }, 300ms);
    EXPECT_EQ(launcher->launches.size(), 1u);
    EXPECT_EQ(pauses(1s), std::vector<Milliseconds>{2s});
    EXPECT_EQ(contents(mountFolder + QStringLiteral("/notes.txt")), "");
}

TEST_F(SupervisorTest, AnEngineLeftByAnEarlierRunIsStoppedBeforeTheLaunch)
{
    // An earlier run's engine, orphaned, on the same cache folder and mount folder.
    const QString engineCopy = home.filePath(QStringLiteral("earlier/rclone"));
    QDir().mkpath(QFileInfo(engineCopy).path());
    ASSERT_TRUE(QFile::copy(TestSupport::FakeEngine::program(), engineCopy));
    QFile(engineCopy).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QString earlierScenario = home.filePath(QStringLiteral("earlier/scenario.json"));
    TestSupport::FakeEngine::writeScenario(earlierScenario,
                                           {{QStringLiteral("bucket"), home.filePath(QStringLiteral("bucket"))},
                                            {QStringLiteral("mount"), true},
                                            {QStringLiteral("orphan"), true}});
    QDir().mkpath(mountFolder);
    RealLauncher().launch(engineCopy,
                          RcloneCommand::mountArguments(settings, FreePort::find(), false, DriveEngine::nfs)
                              + QStringList{QStringLiteral("--scenario"), earlierScenario},
                          {{QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")}}, {});
    std::vector<pid_t> leftovers;
    ASSERT_TRUE(waitFor([&] {
        leftovers.clear();
        for (const ProcessHandle &leftover : LeftoverDrive::find(cacheDir))
            leftovers.push_back(leftover.pid());
        return leftovers.size() == 1 && mountedAt(mountFolder) == QStringList{"rclone"};
    }));

    start();
    EXPECT_EQ(supervisor().state(), State{State::running});
    EXPECT_TRUE(ProcessListing::hasEnded(leftovers[0]));
    EXPECT_EQ(
        launcher->events.mid(0, 3),
        (QStringList{QStringLiteral("unmount! ") + mountFolder, QStringLiteral("unmount! ") + backing, "launch 1"}));
    EXPECT_TRUE(
        logs.messages(QStringLiteral("leftover"))
            .contains(QStringLiteral("Stopping rclone left running by an earlier Ovra (pid %1)").arg(leftovers[0])));
    EXPECT_TRUE(waitFor([&] { return mountedAt(mountFolder) == QStringList{"rclone"}; }));
}

TEST_F(SupervisorTest, StopWaitsUntilTheEngineHasNothingLeftToUpload)
{
    setScenario({{QStringLiteral("mount"), true}, {QStringLiteral("pendingUploads"), QJsonArray{3, 2, 1, 0}}});
    start();
    ASSERT_TRUE(engineAnswers());
    sleeps.clear();
    stop(true);
    EXPECT_EQ(pauses(1s), (std::vector<Milliseconds>{1s, 1s, 1s}));
    EXPECT_EQ(launcher->events, (QStringList{"launch 1", "interrupt 1"}));
    EXPECT_EQ(supervisor().state(), State{State::stopped});
}

// Engine errors are retried three times, 2 s apart; an answer in between starts the count
// again; the fourth error in a row ends the wait.
TEST_F(SupervisorTest, TheUploadWaitGivesUpAfterFourFailedPollsInARow)
{
    auto answers = std::make_shared<std::deque<int>>(std::deque<int>{-1, -1, 2, -1, -1, -1, -1});
    hooks.pendingUploads = [answers](RCClient, CancelToken) -> QCoro::Task<qint64> {
        const int answer = answers->empty() ? 0 : answers->front();
        if (!answers->empty())
            answers->pop_front();
        if (answer < 0)
            throw std::runtime_error("connection refused");
        co_return answer;
    };
    start();
    sleeps.clear();
    stop(true);
    EXPECT_EQ(pauses(1s), (std::vector<Milliseconds>{2s, 2s, 1s, 2s, 2s, 2s}));
    EXPECT_EQ(supervisorLog().filter(QStringLiteral("Gave up waiting for uploads")),
              QStringList{"Gave up waiting for uploads: connection refused"});
    EXPECT_EQ(supervisor().state(), State{State::stopped});
}

// The wait for uploads has no limit of its own while the engine reports pending uploads, but
// the caller can end it, and the stop then goes on.
TEST_F(SupervisorTest, CancellingTheStopEndsTheUploadWait)
{
    setScenario({{QStringLiteral("mount"), true}, {QStringLiteral("pendingUploads"), QJsonArray{5}}});
    start();
    CancelSource hurry;
    QTimer::singleShot(300ms, [&] { hurry.request_stop(); });
    await(supervisor().stop(true, hurry.get_token()));
    EXPECT_EQ(supervisor().state(), State{State::stopped});
    EXPECT_FALSE(pauses(1s).empty());
    EXPECT_EQ(launcher->events, (QStringList{"launch 1", "interrupt 1"}));
    EXPECT_TRUE(ProcessListing::hasEnded(pid(1)));
    EXPECT_FALSE(supervisorLog().filter(QStringLiteral("Stopped waiting for uploads")).isEmpty());
}

TEST_F(SupervisorTest, AWakeOrAnUnmountChecksTheEngineAtOnce)
{
    std::function<void()> wake;
    std::function<void()> unmount;
    QPointer<QObject> wakeWatch;
    observers.wake = [&](std::function<void()> notify) {
        wake = std::move(notify);
        auto watch = std::make_unique<QObject>();
        wakeWatch = watch.get();
        return watch;
    };
    observers.unmount = [&](std::function<void()> notify) {
        unmount = std::move(notify);
        return std::make_unique<QObject>();
    };
    int pings = 0; // answered
    hooks.ping = [&pings, ping = hooks.ping](RCClient rc, CancelToken token) -> QCoro::Task<bool> {
        const bool answered = co_await ping(std::move(rc), std::move(token));
        pings += answered;
        co_return answered;
    };
    start();
    ASSERT_TRUE(engineAnswers());
    pings = 0;
    ASSERT_TRUE(wake && unmount);
    wake();
    EXPECT_TRUE(waitFor([&] { return pings == 1; }));
    unmount();
    EXPECT_TRUE(waitFor([&] { return pings == 2; }));
    stop();
    EXPECT_FALSE(wakeWatch) << "stop removes the observers";
}

} // namespace SupervisorTest
