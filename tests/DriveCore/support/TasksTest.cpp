#include "DriveCore/support/Tasks.h"
#include "DriveCore/support/Threads.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <ctime>
#include <stdexcept>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;

namespace {

QCoro::Task<qint64> timedSleep(std::chrono::milliseconds duration, CancelToken token)
{
    QElapsedTimer timer;
    timer.start();
    co_await sleep(duration, token);
    co_return timer.elapsed();
}

std::chrono::nanoseconds bootTime()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// The time left on each of this process's armed timer files that count CLOCK_BOOTTIME, as the
// kernel shows them in /proc/self/fdinfo.
std::vector<std::chrono::nanoseconds> bootTimersLeft()
{
    std::vector<std::chrono::nanoseconds> left;
    for (const QString &name : QDir(QStringLiteral("/proc/self/fdinfo")).entryList(QDir::Files)) {
        QFile file(QStringLiteral("/proc/self/fdinfo/") + name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString info = QString::fromLatin1(file.readAll());
        static const QRegularExpression clock(QStringLiteral("^clockid: (\\d+)$"), QRegularExpression::MultilineOption);
        static const QRegularExpression value(QStringLiteral("^it_value: \\((\\d+), (\\d+)\\)$"),
                                              QRegularExpression::MultilineOption);
        const QRegularExpressionMatch clockMatch = clock.match(info);
        const QRegularExpressionMatch valueMatch = value.match(info);
        if (!clockMatch.hasMatch() || clockMatch.captured(1).toInt() != CLOCK_BOOTTIME || !valueMatch.hasMatch())
            continue;
        const auto remaining = std::chrono::seconds(valueMatch.captured(1).toLongLong())
            + std::chrono::nanoseconds(valueMatch.captured(2).toLongLong());
        if (remaining > 0ns)
            left.push_back(remaining);
    }
    return left;
}

} // namespace

// A sleep counts the clock that goes on while the computer is suspended, and its deadline is
// exactly its duration away: no slack that a coarse timer would take.
TEST(Tasks, SleepIsArmedOnTheContinuousClockForExactlyItsDuration)
{
    ASSERT_TRUE(bootTimersLeft().empty());
    CancelSource source;
    const auto before = bootTime();
    QCoro::Task<> sleeping = sleep(2500ms, source.get_token());
    const auto after = bootTime();
    const auto readFrom = bootTime();
    const std::vector<std::chrono::nanoseconds> left = bootTimersLeft();
    const auto readUntil = bootTime();
    ASSERT_EQ(left.size(), 1u) << "one timer on CLOCK_BOOTTIME";
    // The deadline lies between (read from + left) and (read until + left).
    EXPECT_GE(readUntil + left[0], before + 2500ms) << "not shortened";
    EXPECT_LE(readFrom + left[0], after + 2500ms) << "not stretched";
    source.request_stop();
    EXPECT_THROW(await(std::move(sleeping)), CancelledError);
    EXPECT_TRUE(bootTimersLeft().empty()) << "the timer goes with its sleep";
}

// Waits of 2 s and more, where Qt's default timers allow themselves 5% either way, each measured
// on the continuous clock.
TEST(Tasks, LongSleepsAreNeverCutShort)
{
    std::vector<std::chrono::nanoseconds> slept(5);
    std::vector<QCoro::Task<>> sleeps;
    for (size_t i = 0; i < slept.size(); ++i) {
        sleeps.push_back([](std::chrono::milliseconds duration, std::chrono::nanoseconds &took) -> QCoro::Task<> {
            const auto start = bootTime();
            co_await sleep(duration);
            took = bootTime() - start;
        }(2010ms + 20ms * int(i), slept[i]));
    }
    await(awaitInOrder(std::move(sleeps)));
    for (size_t i = 0; i < slept.size(); ++i)
        EXPECT_GE(slept[i], 2010ms + 20ms * int(i))
            << "sleep " << i << " took " << std::chrono::duration_cast<std::chrono::microseconds>(slept[i]).count()
            << " us";
}

TEST(Tasks, SleepCancelledMidwayEndsAtOnceWithCancellation)
{
    CancelSource source;
    QTimer::singleShot(20ms, [&] { source.request_stop(); });
    // A day-long sleep: only the cancellation can end it before the await's limit.
    EXPECT_THROW(await(sleep(24h, source.get_token())), CancelledError);
}

TEST(Tasks, SleepWithCancelledTokenThrowsWithoutWaiting)
{
    CancelSource source;
    source.request_stop();
    EXPECT_THROW(await(sleep(10s, source.get_token())), CancelledError);
}

TEST(Tasks, SleepCancelledFromAnotherThread)
{
    CancelSource source;
    std::thread canceller([&] {
        std::this_thread::sleep_for(20ms);
        source.request_stop();
    });
    EXPECT_THROW(await(sleep(10s, source.get_token())), CancelledError);
    canceller.join();
}

TEST(Tasks, SleepRunsItsDuration)
{
    EXPECT_GE(await(timedSleep(30ms, {})), 29);
}

TEST(Tasks, TimeLimitFiresAndTheOperationSeesCancellation)
{
    bool sawCancellation = false;
    auto op = [&](CancelToken token) -> QCoro::Task<int> {
        try {
            co_await sleep(10s, token);
        } catch (const CancelledError &) {
            sawCancellation = true;
            throw;
        }
        co_return 1;
    };
    EXPECT_THROW(await(withTimeout(20ms, {}, op)), TimeoutError);
    EXPECT_TRUE(sawCancellation);
}

TEST(Tasks, TimeLimitPassesTheResultThrough)
{
    auto op = [](CancelToken token) -> QCoro::Task<int> {
        co_await sleep(1ms, token);
        co_return 42;
    };
    EXPECT_EQ(await(withTimeout(5s, {}, op)), 42);
}

TEST(Tasks, TimeLimitKeepsTheOperationsOwnErrorAndTheParentsCancellation)
{
    auto failing = [](CancelToken) -> QCoro::Task<> {
        throw std::runtime_error("own");
        co_return;
    };
    EXPECT_THROW(await(withTimeout(5s, {}, failing)), std::runtime_error);

    CancelSource parent;
    QTimer::singleShot(10ms, [&] { parent.request_stop(); });
    auto sleeping = [](CancelToken token) -> QCoro::Task<> { co_await sleep(10s, token); };
    EXPECT_THROW(await(withTimeout(5s, parent.get_token(), sleeping)), CancelledError);
}

TEST(Tasks, WorkerResultArrivesOnTheMainThread)
{
    QThread *main = QThread::currentThread();
    QThread *worker = nullptr;
    auto task = [&]() -> QCoro::Task<QThread *> {
        auto work = [&] {
            worker = QThread::currentThread();
            return 7;
        };
        const int value = co_await runInPool(std::move(work));
        EXPECT_EQ(value, 7);
        co_return QThread::currentThread();
    };
    EXPECT_EQ(await(task()), main);
    EXPECT_NE(worker, main);
}

TEST(Tasks, WorkerErrorIsRethrownToTheAwaiter)
{
    EXPECT_THROW(await(runInPool([]() -> int { throw std::invalid_argument("bad"); })), std::invalid_argument);
    EXPECT_NO_THROW(await(runInPool([] {})));
}

TEST(Tasks, OnMainThreadHopsFromAWorker)
{
    QThread *ranOn = nullptr;
    std::thread worker([&] { onMainThread([&] { ranOn = QThread::currentThread(); }); });
    worker.join();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return ranOn != nullptr; }));
    EXPECT_EQ(ranOn, QThread::currentThread());
}

TEST(Tasks, TaskWhoseOwnerIsGoneEndsQuietly)
{
    // The owner holds the handle; the coroutine holds the owner weakly.
    struct Owner : QObject {
        int ticks = 0;
        TaskHandle<> loop;
    };
    auto *owner = new Owner;
    bool ended = false;
    owner->loop = TaskHandle<>::start([weak = QPointer<Owner>(owner), &ended](CancelToken token) -> QCoro::Task<> {
        try {
            while (true) {
                co_await sleep(5ms, token);
                if (!weak)
                    break;
                ++weak->ticks;
            }
        } catch (const CancelledError &) {
        }
        ended = true;
    });
    ASSERT_TRUE(TestSupport::spinUntil([&] { return owner->ticks >= 2; }));
    delete owner;
    EXPECT_TRUE(TestSupport::spinUntil([&] { return ended; }));
}

TEST(Tasks, HandleCancelAndResult)
{
    auto handle = TaskHandle<int>::start([](CancelToken token) -> QCoro::Task<int> {
        co_await sleep(10s, token);
        co_return 1;
    });
    EXPECT_FALSE(handle.isFinished());
    handle.cancel();
    EXPECT_THROW(await(handle.result()), CancelledError);
    EXPECT_TRUE(handle.isFinished());

    auto quick = TaskHandle<QString>::start([](CancelToken token) -> QCoro::Task<QString> {
        co_await sleep(1ms, token);
        co_return QStringLiteral("done");
    });
    EXPECT_EQ(await(quick.result()), QStringLiteral("done"));
}

TEST(Tasks, EveryWaiterSeesTheEndEvenAfterTheHandleIsGone)
{
    CancelSource release;
    auto handle = std::make_unique<TaskHandle<>>(
        TaskHandle<>::start([&](CancelToken) -> QCoro::Task<> { co_await sleep(10s, release.get_token()); }));
    int ended = 0;
    const auto waiter = [&ended](QCoro::Task<> end) -> QCoro::Task<> {
        co_await std::move(end);
        ++ended;
    };
    auto first = waiter(handle->ended());
    auto second = waiter(handle->ended());
    // Going away cancels only the handle's own token; the task ends when its sleep does.
    handle.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(ended, 0);
    release.request_stop();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return ended == 2; }));

    auto failed = TaskHandle<>::start([](CancelToken) -> QCoro::Task<> {
        co_await sleep(1ms);
        throw std::runtime_error("broken");
    });
    await(failed.ended());
    await(failed.ended());
    EXPECT_THROW(await(failed.result()), std::runtime_error);
}

TEST(Tasks, ChildTasksAreAwaitedInOrder)
{
    auto child = [](int value, std::chrono::milliseconds delay) -> QCoro::Task<int> {
        co_await sleep(delay);
        co_return value;
    };
    std::vector<QCoro::Task<int>> tasks;
    tasks.push_back(child(1, 30ms));
    tasks.push_back(child(2, 1ms));
    tasks.push_back(child(3, 10ms));
    EXPECT_EQ(await(awaitInOrder(std::move(tasks))), (std::vector<int>{1, 2, 3}));
}

TEST(Tasks, CancelHookDoesNothingAfterItIsGone)
{
    CancelSource source;
    int calls = 0;
    {
        QObject context;
        CancelHook hook(source.get_token(), &context, [&] { ++calls; });
    }
    source.request_stop();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);

    QObject context;
    CancelHook hook(source.get_token(), &context, [&] { ++calls; });
    EXPECT_EQ(calls, 0) << "the action is queued, not run inline";
    EXPECT_TRUE(TestSupport::spinUntil([&] { return calls == 1; }));
}

TEST(Tasks, WhileAliveReportsAnOwnerDestroyedDuringTheWait)
{
    const auto later = [](int value, bool fail) -> QCoro::Task<int> {
        co_await DriveCore::sleep(10ms);
        if (fail)
            throw std::runtime_error("failed");
        co_return value;
    };
    for (const bool fail : {false, true}) {
        auto *owner = new QObject;
        QTimer::singleShot(1ms, owner, [owner] { owner->deleteLater(); });
        EXPECT_TRUE(TestSupport::failureOf<OwnerGone>(whileAlive(QPointer(owner), later(1, fail)))) << fail;
    }
    QObject owner;
    EXPECT_EQ(await(whileAlive(QPointer(&owner), later(7, false))), 7);
    EXPECT_TRUE(TestSupport::failureOf<std::runtime_error>(whileAlive(QPointer(&owner), later(7, true))));
}

TEST(Tasks, AwaitBothGivesBothValuesOrTheFailureThatCancelledTheOther)
{
    const auto value = [](int v, std::chrono::milliseconds after) {
        return [v, after](CancelToken token) -> QCoro::Task<int> {
            co_await sleep(after, token);
            co_return v;
        };
    };
    const auto failing = [](std::chrono::milliseconds after) {
        return [after](CancelToken token) -> QCoro::Task<int> {
            co_await sleep(after, token);
            throw std::runtime_error("failed");
        };
    };
    EXPECT_EQ(await(awaitBoth(value(1, 1ms), value(2, 2ms), {})), std::pair(1, 2));
    // The second fails first: the first, cancelled, gives way to the failure.
    EXPECT_THROW(await(awaitBoth(value(1, 10min), failing(1ms), {})), std::runtime_error);
    EXPECT_THROW(await(awaitBoth(failing(1ms), value(2, 10min), {})), std::runtime_error);
    // The caller's cancellation stays a cancellation.
    CancelSource source;
    source.request_stop();
    EXPECT_THROW(await(awaitBoth(value(1, 10min), value(2, 10min), source.get_token())), CancelledError);
}

// The clean-up runs only after a failure, before the failure goes on; a failing clean-up
// does not hide the failure it cleaned up after.
TEST(Tasks, CleanupOnFailureRunsBeforeTheFailureGoesOn)
{
    struct Case {
        const char *name;
        bool taskFails;
        bool cleanupFails;
    };
    for (const Case c : {Case{"success", false, false}, Case{"failure", true, false}, Case{"both fail", true, true}}) {
        SCOPED_TRACE(c.name);
        std::vector<QString> steps;
        const auto task = [&]() -> QCoro::Task<int> {
            co_await sleep(0ms);
            steps.push_back(QStringLiteral("task"));
            if (c.taskFails)
                throw std::runtime_error("task");
            co_return 7;
        };
        const auto cleanup = [&]() -> QCoro::Task<> {
            co_await sleep(0ms);
            steps.push_back(QStringLiteral("cleanup"));
            if (c.cleanupFails)
                throw std::runtime_error("cleanup");
        };
        try {
            EXPECT_EQ(await(cleanupOnFailure(task(), cleanup)), 7);
            steps.push_back(QStringLiteral("returned"));
        } catch (const std::runtime_error &error) {
            steps.push_back(QString::fromUtf8(error.what()) + QStringLiteral(" thrown"));
        }
        const std::vector<QString> expected = c.taskFails ? std::vector<QString>{"task", "cleanup", "task thrown"}
                                                          : std::vector<QString>{"task", "returned"};
        EXPECT_EQ(steps, expected);
    }
}
