#include "support/fake-engine/FakeEngine.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/platform/MountTable.h"
#include "support/FuseMount.h"
#include "support/ScopedEnvironment.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::FakeEngine;

namespace {

QString contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool ends(QProcess &process)
{
    return TestSupport::spinUntil([&] { return process.state() == QProcess::NotRunning; });
}

// The engine's own mount command line, as the supervisor builds it, is what the fake takes.
TEST(FakeEngine, TakesTheEnginesMountCommandLine)
{
    QTemporaryDir folder;
    TestSupport::ScopedEnvironment env;
    env.set("HOME", folder.path().toUtf8());
    env.set("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toUtf8());
    env.set("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    QDir().mkpath(DriveLayout::logDir());
    const QString scenario = folder.filePath(QStringLiteral("scenario.json"));
    FakeEngine::writeScenario(scenario, {});
    const QString program = FakeEngine::writeWrapper(folder.filePath(QStringLiteral("engine")), scenario);
    const DriveSettings settings{.driveName = QStringLiteral("My Drive"),
                                 .deviceID = QUuid::createUuid(),
                                 .deviceName = QStringLiteral("Laptop")};
    Environment environment = RcloneCommand::rcEnvironment(QStringLiteral("corvane"), QStringLiteral("pw"));
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));

    for (const auto &[engine, readOnly] : {std::pair{DriveEngine::nfs, false}, std::pair{DriveEngine::fskit, true}}) {
        TestSupport::RCServerProcess server;
        int port = 0;
        const auto arguments = [&](int free) {
            port = free;
            return RcloneCommand::mountArguments(settings, free, readOnly, engine);
        };
        ASSERT_TRUE(server.start(program, arguments, environment, QStringLiteral("corvane"), QStringLiteral("pw")))
            << server.output().toStdString();
        EXPECT_TRUE(contents(DriveLayout::logFile())
                        .contains(QStringLiteral("NOTICE: Serving remote control on http://127.0.0.1:%1/").arg(port)));
    }
}

TEST(FakeEngine, RefusesAnUnknownFlag)
{
    const RcloneResult result = await(ProcessRunner::run(
        FakeEngine::program(),
        {QStringLiteral("nfsmount"), QStringLiteral("drivecrypt:Drive"), QStringLiteral("/m"), QStringLiteral("--rc-addr"),
         QStringLiteral("127.0.0.1:1"), QStringLiteral("--mystery")},
        {}));
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.stderrText().contains(QStringLiteral("unknown flag: --mystery")));
}

TEST(FakeEngine, ExitsCleanlyOnInterruptAndTerminate)
{
    for (const int signal : {SIGINT, SIGTERM}) {
        FakeEngine engine;
        ASSERT_TRUE(engine.start());
        QProcess &process = engine.server().process();
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(ends(process));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_TRUE(contents(engine.logFile()).contains(QStringLiteral("Signal received")));
    }
}

TEST(FakeEngine, CanIgnoreSignals)
{
    FakeEngine engine(QJsonObject{{QStringLiteral("ignoreSignals"), true}});
    ASSERT_TRUE(engine.start());
    QProcess &process = engine.server().process();
    ::kill(pid_t(process.processId()), SIGTERM);
    ::kill(pid_t(process.processId()), SIGINT);
    EXPECT_FALSE(TestSupport::spinUntil([&] { return process.state() == QProcess::NotRunning; },
                                        std::chrono::milliseconds(300)));
    EXPECT_TRUE(await(engine.client().ping()));
    process.kill();
    ends(process);
}

TEST(FakeEngine, ExitsWithTheScriptedStatusAfterItsLogLines)
{
    FakeEngine engine(QJsonDocument::fromJson(R"({"exitAfter": {"seconds": 0.3, "status": 3},
                                                  "log": ["2026/01/01 00:00:00 ERROR : last words"]})").object());
    ASSERT_TRUE(engine.start());
    QProcess &process = engine.server().process();
    ASSERT_TRUE(ends(process));
    EXPECT_EQ(process.exitCode(), 3);
    EXPECT_TRUE(contents(engine.logFile()).startsWith(QStringLiteral("2026/01/01 00:00:00 ERROR : last words\n")));
}

// Its mount is listed as the engine's, goes with SIGTERM, and stays listed but dead after
// SIGKILL, as a real engine's does.
TEST(FakeEngine, MountsItsFolderLikeTheEngine)
{
    for (const int signal : {SIGTERM, SIGKILL}) {
        FakeEngine engine(QJsonObject{{QStringLiteral("mount"), true}});
        ASSERT_TRUE(engine.writeFile(QStringLiteral("Drive/hello.txt"), "hello"));
        const QString mountPoint = engine.folder() + QStringLiteral("/mount");
        QDir().mkpath(mountPoint);
        TestSupport::FuseMount cleanup(mountPoint);
        ASSERT_TRUE(engine.start());
        ASSERT_TRUE(TestSupport::spinUntil([&] { return MountTable::typesMountedAt(mountPoint) == QStringList{"rclone"}; }));
        EXPECT_EQ(contents(mountPoint + QStringLiteral("/hello.txt")), QStringLiteral("hello"));

        QProcess &process = engine.server().process();
        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(ends(process));
        if (signal == SIGTERM) {
            EXPECT_TRUE(MountTable::typesMountedAt(mountPoint).isEmpty());
        } else {
            EXPECT_TRUE(TestSupport::spinUntil([&] { return !QFileInfo(mountPoint + QStringLiteral("/hello.txt")).exists(); }));
            EXPECT_EQ(MountTable::typesMountedAt(mountPoint), QStringList{"rclone"});
        }
    }
}

TEST(FakeEngine, AsksForThePassword)
{
    FakeEngine engine;
    ASSERT_TRUE(engine.start());
    const RCClient wrong(engine.client().port(), QString::fromLatin1(FakeEngine::user), QStringLiteral("fake"));
    const auto error = TestSupport::failureOf<RCError>(wrong.coreStats());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->status, 401);
    EXPECT_EQ(error->message, QStringLiteral("Unauthorized"));
}

} // namespace
