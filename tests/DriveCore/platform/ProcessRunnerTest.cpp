#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/support/Tasks.h"
#include "support/TestSupport.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;

namespace {

const QString sh = QStringLiteral("/bin/sh");
const Environment path{{QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")}};

RcloneResult runShell(const QString &script, std::optional<QByteArray> input = std::nullopt, CancelToken token = {})
{
    return await(ProcessRunner::run(sh, {QStringLiteral("-c"), script}, path, std::move(input), token));
}

struct Streamed {
    ProcessRunner::StreamResult result;
    QStringList lines;
};

Streamed streamShell(const QString &script, CancelToken token = {}, std::function<void(const QString &)> also = {})
{
    Streamed streamed;
    streamed.result = await(ProcessRunner::stream(
        sh, {QStringLiteral("-c"), script}, path,
        [&](const QString &line) {
            streamed.lines << line;
            if (also)
                also(line);
        },
        token));
    return streamed;
}

} // namespace

TEST(ProcessRunner, RunCollectsStatusAndBothOutputs)
{
    const RcloneResult result = runShell(QStringLiteral("printf out; printf 'err\\377' >&2; exit 3"));
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.stdoutBytes, "out");
    EXPECT_EQ(result.stderrBytes, "err\xff");
    EXPECT_EQ(result.stderrText(), QStringLiteral("err\ufffd"));
}

TEST(ProcessRunner, RunDrainsSeveralMegabytesOnBothPipes)
{
    const RcloneResult result =
        runShell(QStringLiteral("yes out | head -c 6000000; yes err | head -c 5000000 >&2; yes o | head -c 1000000"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.stdoutBytes.size(), 7'000'000);
    EXPECT_EQ(result.stderrBytes.size(), 5'000'000);
    EXPECT_TRUE(result.stderrBytes.startsWith("err\nerr\n"));
}

TEST(ProcessRunner, RunFeedsStandardInputAndClosesIt)
{
    QByteArray input(3'000'000, 'i');
    input.append("end");
    EXPECT_EQ(runShell(QStringLiteral("cat"), input).stdoutBytes, input);
    // Without input the child reads the null device and sees end of file at once.
    EXPECT_EQ(runShell(QStringLiteral("cat; echo done")).stdoutBytes, "done\n");
    // A child that never reads its input neither blocks nor kills us.
    EXPECT_EQ(runShell(QStringLiteral("exit 4"), QByteArray(8'000'000, 'x')).status, 4);
}

TEST(ProcessRunner, ChildGetsExactlyTheGivenEnvironmentAndArgumentsWithoutAShell)
{
    const RcloneResult env = await(ProcessRunner::run(QStringLiteral("/usr/bin/env"), {},
                                                      {{QStringLiteral("ONLY"), QStringLiteral("this value")}}));
    EXPECT_EQ(env.stdoutBytes, "ONLY=this value\n");

    const RcloneResult echo =
        await(ProcessRunner::run(QStringLiteral("/bin/echo"), {QStringLiteral("$HOME; `id` *")}, {}));
    EXPECT_EQ(echo.stdoutBytes, "$HOME; `id` *\n");
}

TEST(ProcessRunner, StreamReportsEveryLineAndKeepsTheLastFive)
{
    const Streamed streamed =
        streamShell(QStringLiteral("for i in 1 2 3 4 5 6 7 8 9 10; do echo line$i >&2; done; exit 3"));
    EXPECT_EQ(streamed.lines.size(), 10);
    EXPECT_EQ(streamed.lines.first(), QStringLiteral("line1"));
    EXPECT_EQ(streamed.result.status, 3);
    EXPECT_EQ(streamed.result.tail, QStringLiteral("line6\nline7\nline8\nline9\nline10"));
}

TEST(ProcessRunner, StreamSplitsOnNewlinesOnly)
{
    struct Case {
        const char *script;
        QStringList lines;
    };
    const std::vector<Case> cases{
        {"printf 'a\\r\\n\\nb' >&2", {"a\r", "", "b"}},
        {"printf 'no newline at end' >&2", {"no newline at end"}},
        {"printf 'one\\n' >&2; echo 'to stdout'", {"one"}},
        {"printf 'caf\\303' >&2; sleep 0.05; printf '\\251\\n' >&2", {"caf\u00e9"}},
        {"true", {}},
    };
    for (const Case &c : cases) {
        const Streamed streamed = streamShell(QString::fromUtf8(c.script));
        EXPECT_EQ(streamed.lines, c.lines) << c.script;
        EXPECT_EQ(streamed.result.tail, c.lines.join(u'\n')) << c.script;
    }
}

TEST(ProcessRunner, CancellingInterruptsTheChildAndStillReturnsItsResult)
{
    CancelSource source;
    const Streamed streamed = streamShell(
        QStringLiteral("trap 'echo interrupted >&2; exit 7' INT; echo started >&2; while :; do sleep 0.05; done"),
        source.get_token(), [&](const QString &line) {
            if (line == QStringLiteral("started"))
                source.request_stop();
        });
    EXPECT_EQ(streamed.result.status, 7);
    EXPECT_EQ(streamed.result.tail, QStringLiteral("started\ninterrupted"));

    CancelSource runSource;
    QTimer::singleShot(50ms, [&] { runSource.request_stop(); });
    const RcloneResult run = await(ProcessRunner::run(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, {},
                                                      std::nullopt, runSource.get_token()));
    EXPECT_EQ(run.signal, SIGINT) << "ended by the interrupt";
    EXPECT_EQ(run.status, -1);
}

TEST(ProcessRunner, ASignalDeathIsNoExitStatus)
{
    // SIGQUIT is 3, which the engine uses for "not found".
    const QString dies = QStringLiteral("ulimit -c 0; echo going >&2; kill -QUIT $$; exit 0");
    const RcloneResult run = runShell(dies);
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.signal, SIGQUIT);
    EXPECT_EQ(run.stderrBytes, "going\n");
    const Streamed streamed = streamShell(dies);
    EXPECT_EQ(streamed.result.status, -1);
    EXPECT_EQ(streamed.result.signal, SIGQUIT);
    EXPECT_EQ(streamed.result.tail, QStringLiteral("going"));
    // An exit is no signal death.
    EXPECT_EQ(runShell(QStringLiteral("exit 3")).signal, 0);
    EXPECT_EQ(ProcessRunner::signalText(SIGQUIT), QStringLiteral("signal 3 (SIGQUIT)"));
}

TEST(ProcessRunner, TokenCancelledBeforeTheStartInterruptsAtOnce)
{
    CancelSource source;
    source.request_stop();
    const RcloneResult run = await(
        ProcessRunner::run(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, {}, std::nullopt, source.get_token()));
    EXPECT_EQ(run.signal, SIGINT);
}

TEST(ProcessRunner, MissingProgramThrowsWithoutCallingBack)
{
    const QString missing = QStringLiteral("/nonexistent/rclone");
    EXPECT_THROW(await(ProcessRunner::run(missing, {}, {})), ProcessRunner::LaunchError);
    bool called = false;
    EXPECT_THROW(await(ProcessRunner::stream(missing, {}, {}, [&](const QString &) { called = true; })),
                 ProcessRunner::LaunchError);
    EXPECT_FALSE(called);
    EXPECT_THROW(await(ProcessRunner::run(QStringLiteral("/etc/hostname"), {}, {})), ProcessRunner::LaunchError)
        << "not executable";
}
