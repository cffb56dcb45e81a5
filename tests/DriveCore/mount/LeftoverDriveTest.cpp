#include "DriveCore/mount/LeftoverDrive.h"
#include "DriveCore/support/Tasks.h"
#include "support/LogCapture.h"
#include "support/OrphanProcess.h"
#include "support/OwnNamespaces.h"
#include "support/QtPrinters.h"
#include "support/StopProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::LogCapture;
using TestSupport::OrphanProcess;

namespace {

QString quoted(const QString &text)
{
    return u'\'' + text + u'\'';
}

// The 0.25 s pauses of the waits, 25 times shorter: 10 s waits take 0.4 s.
QCoro::Task<> quickSleep(std::chrono::milliseconds duration, CancelToken token)
{
    return DriveCore::sleep(duration / 25, std::move(token));
}

bool running(const OrphanProcess &process)
{
    return TestSupport::spinUntil([&] { return ProcessListing::arguments(process.pid()).contains("--cache-dir"); });
}

bool ends(pid_t pid)
{
    return TestSupport::spinUntil([&] { return ProcessListing::hasEnded(pid); });
}

std::vector<pid_t> pids(const std::vector<ProcessHandle> &handles)
{
    std::vector<pid_t> ids;
    for (const ProcessHandle &handle : handles)
        ids.push_back(handle.pid());
    return ids;
}

std::vector<pid_t> sorted(std::vector<pid_t> pids)
{
    std::sort(pids.begin(), pids.end());
    return pids;
}

} // namespace

TEST(LeftoverDrive, TellsTheEngineProgram)
{
    struct Case {
        const char *executable;
        const char *shortName;
        QStringList arguments;
        bool engine;
    };
    const std::vector<Case> cases{
        {"/opt/corvane/libexec/rclone", "rclone", {"/opt/corvane/libexec/rclone", "nfsmount"}, true},
        {"/usr/bin/rclone", "anything", {}, true},
        {"/usr/bin/rclone-old", "rclone-old", {"rclone"}, false},
        {"/usr/bin/fake-engine", "rclone", {"rclone"}, false}, // a program is known by its file
        {"/usr/bin/dash", "rclone", {"/bin/sh", "/tmp/rclone", "nfsmount"}, true}, // a "#!" script
        {"/usr/bin/python3.11", "x", {"/somewhere/rclone", "-c", "..."}, true}, // started under that name
        {"/usr/bin/bash", "bash", {"bash", "rclone"}, false},
        {"/usr/bin/dash", "dash", {}, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(LeftoverDrive::isEngineProgram(QString::fromUtf8(c.executable), QString::fromUtf8(c.shortName),
                                                 c.arguments),
                  c.engine)
            << c.executable << " " << c.shortName;
}

TEST(LeftoverDrive, TellsLeftoversByOwnerParentAndCacheFolder)
{
    const QString cache = QStringLiteral("/home/u/.local/share/CorvaneDrive/Cache/ID");
    const uid_t uid = 1000;
    const std::vector<pid_t> adopters{4000, 1};
    const auto candidate = [&](pid_t pid, pid_t parent, uid_t owner, QStringList tail) {
        return LeftoverDrive::Candidate{
            .status = {.pid = pid, .parent = parent, .uid = owner, .state = 'S', .name = "rclone"},
            .executable = "/opt/corvane/rclone",
            .arguments = QStringList{"/opt/corvane/rclone", "nfsmount", "drivecrypt:Drive", "/m"} + tail,
        };
    };
    struct Case {
        LeftoverDrive::Candidate candidate;
        bool leftover;
    };
    const std::vector<Case> cases{
        {candidate(500, 1, uid, {"--cache-dir", cache, "--rc"}), true},
        {candidate(500, 4000, uid, {"--cache-dir", cache}), true}, // adopted by a subreaper above us
        {candidate(500, 4001, uid, {"--cache-dir", cache}), false}, // a running application's
        {candidate(500, 1, 0, {"--cache-dir", cache}), false},
        {candidate(1, 1, uid, {"--cache-dir", cache}), false},
        {candidate(500, 1, uid, {"--cache-dir"}), false},
        {candidate(500, 1, uid, {"--cache-dir=" + cache}), false},
        {candidate(500, 1, uid, {"--cache-dir", cache + "/"}), false},
        {candidate(500, 1, uid, {"--cache-dir", "/other", "--cache-dir", cache}), false},
        {candidate(500, 1, uid, {"--cache-dir", cache, "--cache-dir", "/other"}), true},
        {candidate(500, 1, uid, {}), false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(LeftoverDrive::isLeftover(c.candidate, cache, uid, adopters), c.leftover)
            << c.candidate.status.pid << " " << c.candidate.status.parent << " "
            << c.candidate.arguments.join(u' ').toStdString();
}

class LeftoverDriveProcesses : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("bin")));
        ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sh"), engine));
        ASSERT_TRUE(QFile::setPermissions(engine, QFile::ReadOwner | QFile::ExeOwner));
    }

    // A shell loop that notes the signals it gets in the shared log; it exits on them when
    // `obeys`, and ignores them otherwise. It notes "<name> ready" once its traps are set.
    QString loop(const QString &name, bool obeys) const
    {
        const QString log = quoted(root.filePath(QStringLiteral("received")));
        const QString exit = obeys ? QStringLiteral("; exit 0") : QString();
        return QStringLiteral("trap 'echo %1 int >> %2%3' INT; trap 'echo %1 term >> %2%3' TERM; "
                              "echo %1 ready >> %2; while :; do sleep 0.05; done")
            .arg(name, log, exit);
    }

    // The engine's shape of command line after the program.
    QStringList engineArguments(const QString &cacheDir) const
    {
        return {"nfsmount",    "drivecrypt:Drive", root.filePath(QStringLiteral("mount")),
                "--cache-dir", cacheDir,           "--rc"};
    }

    // A program file called rclone (a copy of the shell) running `script`.
    QStringList asEngine(const QString &script, const QString &cacheDir) const
    {
        return QStringList{"rclone", "-c", script, "rclone"} + engineArguments(cacheDir);
    }

    // Whether the loop called `name` has set its traps: a signal before that would end the
    // shell without a note.
    bool ready(const QString &name) const
    {
        return TestSupport::spinUntil([&] { return signalLog().contains(name + QStringLiteral(" ready")); });
    }

    QStringList signalLog() const
    {
        QFile file(root.filePath(QStringLiteral("received")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                              : QStringList();
    }

    QTemporaryDir root;
    const QString engine = root.filePath(QStringLiteral("bin/rclone"));
    const QString cache = root.filePath(QStringLiteral("Cache/ID with space"));
};

TEST_F(LeftoverDriveProcesses, FindsOrphanedEnginesOfThisCacheFolderOnly)
{
    OrphanProcess copy(engine, asEngine(loop("copy", true), cache));
    // A "#!" script called rclone, and the shell started under the name rclone.
    const QString script = TestSupport::writeScript(root.filePath(QStringLiteral("rclone")), loop("script", true));
    OrphanProcess scripted(script, QStringList{script} + engineArguments(cache));
    OrphanProcess renamed(QStringLiteral("/bin/sh"), asEngine(loop("renamed", true), cache));
    OrphanProcess otherCache(engine, asEngine(loop("other", true), cache + QStringLiteral("2")));
    // An engine whose program file was replaced since (an update of the application).
    const QString replacedEngine = root.filePath(QStringLiteral("old/rclone"));
    ASSERT_TRUE(QDir().mkpath(root.filePath(QStringLiteral("old"))));
    ASSERT_TRUE(QFile::copy(engine, replacedEngine));
    OrphanProcess replaced(replacedEngine, asEngine(loop("replaced", true), cache));
    for (const OrphanProcess *process : {&copy, &scripted, &renamed, &otherCache, &replaced})
        ASSERT_TRUE(running(*process));
    ASSERT_TRUE(QFile::remove(replacedEngine));
    // The same engine, but a child of ours: a running application's engine.
    QProcess child;
    child.start(engine, asEngine(loop("child", true), cache).mid(1));
    ASSERT_TRUE(child.waitForStarted());

    EXPECT_EQ(sorted(pids(LeftoverDrive::find(cache))),
              sorted({copy.pid(), scripted.pid(), renamed.pid(), replaced.pid()}));
    EXPECT_EQ(pids(LeftoverDrive::find(cache + QStringLiteral("2"))), std::vector<pid_t>{otherCache.pid()});
    EXPECT_TRUE(LeftoverDrive::find(root.filePath(QStringLiteral("Cache"))).empty());
    TestSupport::stopProcess(child, 0ms);
}

TEST_F(LeftoverDriveProcesses, InterruptsEveryLeftoverFirstAndKillsOneThatIgnoresSignals)
{
    OrphanProcess stubborn(engine, asEngine(loop("stubborn", false), cache));
    ASSERT_TRUE(running(stubborn));
    OrphanProcess obedient(engine, asEngine(loop("obedient", true), cache));
    ASSERT_TRUE(running(obedient));
    ASSERT_TRUE(ready(QStringLiteral("stubborn")));
    ASSERT_TRUE(ready(QStringLiteral("obedient")));
    const std::vector<pid_t> order = pids(LeftoverDrive::find(cache));
    ASSERT_EQ(order.size(), 2u);

    LogCapture log;
    EXPECT_EQ(await(LeftoverDrive::stop(cache, quickSleep)), 2);
    EXPECT_EQ(log.messages(QStringLiteral("leftover")),
              (QStringList{QStringLiteral("Stopping rclone left running by an earlier Ovra (pid %1)").arg(order[0]),
                           QStringLiteral("Stopping rclone left running by an earlier Ovra (pid %1)").arg(order[1])}));
    EXPECT_TRUE(ends(stubborn.pid()));
    EXPECT_TRUE(ProcessListing::hasEnded(obedient.pid()));
    // Both were interrupted before any wait; only the one that stayed got SIGTERM, then SIGKILL.
    const QStringList received = signalLog();
    EXPECT_EQ(received.count(QStringLiteral("obedient int")), 1) << received.join(u',').toStdString();
    EXPECT_EQ(received.count(QStringLiteral("stubborn int")), 1);
    EXPECT_EQ(received.count(QStringLiteral("stubborn term")), 1);
    EXPECT_FALSE(received.contains(QStringLiteral("obedient term")));
    if (order[0] == stubborn.pid())
        EXPECT_LT(received.indexOf(QStringLiteral("obedient int")), received.indexOf(QStringLiteral("stubborn term")));
    EXPECT_TRUE(LeftoverDrive::find(cache).empty());
}

TEST_F(LeftoverDriveProcesses, StopsNothingWhenNoneIsLeft)
{
    OrphanProcess otherCache(engine, asEngine(loop("other", true), cache + QStringLiteral("2")));
    ASSERT_TRUE(running(otherCache));
    LogCapture log;
    EXPECT_EQ(await(LeftoverDrive::stop(cache, quickSleep)), 0);
    EXPECT_TRUE(log.messages(QStringLiteral("leftover")).isEmpty());
    EXPECT_FALSE(ProcessListing::hasEnded(otherCache.pid()));
}

// A process id is given again once its process has ended and been reaped. The scan's answer
// must keep naming the process it found: a signal sent through it never reaches a later
// process that was given the same id. In a PID namespace of its own the test is process 1,
// adopts the engines and chooses the next id.
TEST_F(LeftoverDriveProcesses, TheScansAnswerNeverReachesALaterProcessWithTheSameID)
{
    CORVANE_TEST_IN_OWN_NAMESPACES(true);
    ASSERT_EQ(::getpid(), 1);
    const auto spawn = [&](const QString &name) {
        const QString log = quoted(root.filePath(QStringLiteral("received")));
        const QString script =
            loop(name, false)
                .replace(QStringLiteral("while"), QStringLiteral("echo %1 ready >> %2; while").arg(name, log));
        std::vector<QByteArray> strings;
        for (const QString &argument : asEngine(script, cache))
            strings.push_back(argument.toUtf8());
        std::vector<char *> argv;
        for (QByteArray &string : strings)
            argv.push_back(string.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(::posix_spawn(&pid, QFile::encodeName(engine).constData(), nullptr, nullptr, argv.data(), environ),
                  0);
        EXPECT_TRUE(TestSupport::spinUntil([&] { return signalLog().contains(name + QStringLiteral(" ready")); }));
        return pid;
    };
    const pid_t first = spawn(QStringLiteral("first"));
    const auto scanned = LeftoverDrive::find(cache);
    ASSERT_EQ(scanned.size(), 1u);

    ::kill(first, SIGKILL);
    ASSERT_EQ(::waitpid(first, nullptr, 0), first);
    QFile lastPid(QStringLiteral("/proc/sys/kernel/ns_last_pid"));
    ASSERT_TRUE(lastPid.open(QIODevice::WriteOnly));
    lastPid.write(QByteArray::number(first - 1));
    lastPid.close();
    const pid_t second = spawn(QStringLiteral("second"));
    ASSERT_EQ(second, first) << "the id is given again";

    EXPECT_TRUE(scanned[0].hasEnded());
    EXPECT_FALSE(scanned[0].signal(SIGTERM));
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_FALSE(signalLog().contains(QStringLiteral("second term"))) << signalLog().join(u',').toStdString();
    // A new scan holds the new process.
    const auto rescanned = LeftoverDrive::find(cache);
    ASSERT_EQ(rescanned.size(), 1u);
    EXPECT_EQ(rescanned[0].pid(), second);
    EXPECT_FALSE(rescanned[0].hasEnded());
    EXPECT_TRUE(rescanned[0].signal(SIGTERM));
    EXPECT_TRUE(TestSupport::spinUntil([&] { return signalLog().contains(QStringLiteral("second term")); }));

    ::kill(second, SIGKILL);
    ::waitpid(second, nullptr, 0);
}
