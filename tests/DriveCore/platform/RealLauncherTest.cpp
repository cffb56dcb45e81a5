#include "DriveCore/platform/RealLauncher.h"
#include "DriveCore/platform/MountTable.h"
#include "support/FuseMount.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::FuseMount;

namespace {

// What the exit callbacks of one launch reported.
struct Exits {
    std::atomic<int> calls{0};
    std::atomic<int32_t> status{-100};
    std::atomic<bool> onMainThread{false};

    ProcessLaunching::ExitCallback callback()
    {
        return [this](int32_t exitStatus) {
            status = exitStatus;
            onMainThread = QThread::currentThread() == qApp->thread();
            ++calls;
        };
    }

    // Waits for the one report, and a moment more for a second that must not come.
    std::optional<int32_t> awaitOne()
    {
        if (!TestSupport::spinUntil([&] { return calls > 0; }))
            return std::nullopt;
        TestSupport::spinUntil([] { return false; }, 100ms);
        return calls == 1 ? std::optional<int32_t>(status) : std::nullopt;
    }
};

QByteArray procFile(pid_t pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ? file.readAll() : QByteArray();
}

QByteArray statusField(pid_t pid, const char *field)
{
    for (const QByteArray &line : procFile(pid, "status").split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed();
    }
    return {};
}

} // namespace

TEST(RealLauncher, AProgramThatCannotStartThrowsAndNeverReportsAnExit)
{
    RealLauncher launcher;
    Exits exits;
    EXPECT_THROW(launcher.launch(QStringLiteral("/nonexistent/rclone"), {}, {}, exits.callback()),
                 ProcessRunner::LaunchError);
    EXPECT_THROW(launcher.launch(QStringLiteral("/etc/hostname"), {}, {}, exits.callback()),
                 ProcessRunner::LaunchError);
    TestSupport::spinUntil([] { return false; }, 100ms);
    EXPECT_EQ(exits.calls, 0);
}

TEST(RealLauncher, ReportsTheExitOnceFromAThreadOfItsOwn)
{
    RealLauncher launcher;
    Exits exits;
    const auto process = launcher.launch(QStringLiteral("/bin/sh"), {"-c", "exit 3"}, {}, exits.callback());
    EXPECT_GT(process->pid(), 0);
    EXPECT_EQ(exits.awaitOne(), 3);
    EXPECT_FALSE(exits.onMainThread);
    // Signals to an ended process do nothing.
    process->interrupt();
    process->terminate();
    process->kill();
    EXPECT_EQ(exits.awaitOne(), 3);
}

TEST(RealLauncher, TheChildGetsExactlyItsEnvironmentAndNothingElseOfOurs)
{
    // Something of ours that a careless launch would hand on.
    const int inherited = ::open("/dev/zero", O_RDONLY);
    ::signal(SIGUSR1, SIG_IGN);
    RealLauncher launcher;
    Exits exits;
    const auto process =
        launcher.launch(QStringLiteral("/bin/sleep"), {"30"},
                        {{"RCLONE_CONFIG", "/dev/null"}, {"SPACED", "a b"}, {"TEXT", "caf\u00e9"}}, exits.callback());
    const pid_t pid = process->pid();
    ASSERT_TRUE(TestSupport::spinUntil([&] {
        return procFile(pid, "cmdline")
            == QByteArray("/bin/sleep\0"
                          "30\0",
                          14);
    }));

    EXPECT_EQ(QString::fromUtf8(procFile(pid, "environ")).split(QChar(u'\0'), Qt::SkipEmptyParts),
              (QStringList{"RCLONE_CONFIG=/dev/null", "SPACED=a b", "TEXT=caf\u00e9"}));
    // Right after the exec the loader may still hold a library open: wait for it to settle.
    QStringList descriptors;
    TestSupport::spinUntil(
        [&] {
            descriptors = QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::System);
            return descriptors == QStringList{"0", "1", "2"};
        },
        2s);
    EXPECT_EQ(descriptors, (QStringList{"0", "1", "2"}));
    for (const QString &fd : descriptors)
        EXPECT_EQ(QFile::symLinkTarget(QStringLiteral("/proc/%1/fd/%2").arg(pid).arg(fd)), QStringLiteral("/dev/null"));
    // Signals 1 to 31 (glibc keeps its own two real-time signals above them ignored).
    EXPECT_EQ(statusField(pid, "SigIgn:").toULongLong(nullptr, 16) & 0x7fffffff, 0u)
        << "SIGPIPE and SIGUSR1 are ours to ignore";
    EXPECT_EQ(statusField(pid, "SigBlk:").toULongLong(nullptr, 16), 0u);
    ::signal(SIGUSR1, SIG_DFL);
    ::close(inherited);

    process->interrupt();
    EXPECT_EQ(exits.awaitOne(), SIGINT);
}

TEST(RealLauncher, SignalsEndTheChild)
{
    RealLauncher launcher;
    for (const auto &[send, status] : std::vector<std::pair<void (LaunchedProcess::*)(), int>>{
             {&LaunchedProcess::terminate, SIGTERM}, {&LaunchedProcess::kill, SIGKILL}}) {
        Exits exits;
        const auto process = launcher.launch(QStringLiteral("/bin/sleep"), {"30"}, {}, exits.callback());
        ((*process).*send)();
        EXPECT_EQ(exits.awaitOne(), status);
    }
}

class RealLauncherUnmount : public ::testing::Test {
protected:
    // Stand-ins for the two commands that note their arguments and exit with the given status.
    RealLauncher fakeCommands(int umountStatus)
    {
        RealLauncher launcher;
        launcher.umountProgram = TestSupport::writeScript(
            root.filePath(QStringLiteral("umount")),
            QStringLiteral("echo umount \"$@\" >> '%1'; exit %2").arg(calls).arg(umountStatus));
        launcher.fusermountProgram =
            TestSupport::writeScript(root.filePath(QStringLiteral("fusermount3")),
                                     QStringLiteral("echo fusermount3 \"$@\" >> '%1'; exit 1").arg(calls));
        return launcher;
    }

    QStringList takeCalls()
    {
        QFile file(calls);
        const QStringList lines = file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
            : QStringList();
        file.remove();
        return lines;
    }

    QTemporaryDir root;
    const QString calls = root.filePath(QStringLiteral("calls"));
    const QString mountPoint = root.filePath(QStringLiteral("My Dr\u00efve"));
};

TEST_F(RealLauncherUnmount, FallsBackToFusermountWhenUmountFails)
{
    const QString path = QStringLiteral("/home/u/Mounts/My Drive");
    RealLauncher succeeds = fakeCommands(0);
    await(succeeds.unmount(path, false));
    EXPECT_EQ(takeCalls(), QStringList{"umount /home/u/Mounts/My Drive"});
    await(succeeds.unmount(path, true));
    EXPECT_EQ(takeCalls(), QStringList{"umount -l /home/u/Mounts/My Drive"});

    RealLauncher fails = fakeCommands(32);
    await(fails.unmount(path, false));
    EXPECT_EQ(takeCalls(), (QStringList{"umount /home/u/Mounts/My Drive", "fusermount3 -u /home/u/Mounts/My Drive"}));
    await(fails.unmount(path, true));
    EXPECT_EQ(takeCalls(),
              (QStringList{"umount -l /home/u/Mounts/My Drive", "fusermount3 -u -z /home/u/Mounts/My Drive"}));

    RealLauncher missing = fakeCommands(0);
    missing.umountProgram = root.filePath(QStringLiteral("no-umount"));
    await(missing.unmount(path, true));
    EXPECT_EQ(takeCalls(), QStringList{"fusermount3 -u -z /home/u/Mounts/My Drive"});
}

TEST_F(RealLauncherUnmount, UnmountsARealMountForcingItWhenBusyOrDead)
{
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("source/folder")));
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    const QString source = root.filePath(QStringLiteral("source"));
    RealLauncher launcher;
    FuseMount mount(mountPoint);

    ASSERT_TRUE(mount.mountBindfs(source)) << mount.output().toStdString();
    await(launcher.unmount(mountPoint, false));
    EXPECT_FALSE(MountTable::isListedMountPoint(mountPoint));

    // Busy: a folder inside it is open.
    ASSERT_TRUE(mount.mountBindfs(source)) << mount.output().toStdString();
    const int busy =
        ::open(QFile::encodeName(mountPoint + QStringLiteral("/folder")).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(busy, 0);
    await(launcher.unmount(mountPoint, false));
    EXPECT_TRUE(MountTable::isListedMountPoint(mountPoint));
    await(launcher.unmount(mountPoint, true));
    EXPECT_FALSE(MountTable::isListedMountPoint(mountPoint));
    ::close(busy);
    mount.unmount();

    // Its daemon died: every access fails, but the forced unmount clears it.
    ASSERT_TRUE(mount.mountBindfs(source)) << mount.output().toStdString();
    mount.killDaemon();
    await(launcher.unmount(mountPoint, true));
    EXPECT_FALSE(MountTable::isListedMountPoint(mountPoint));
    EXPECT_TRUE(QFileInfo(mountPoint).isDir());
}
