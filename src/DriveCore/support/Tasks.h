#pragma once

#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/UserError.h"

#include <QCoroSignal>
#include <QCoroTask>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace DriveCore {

namespace detail {

// Wakes one suspended coroutine; fire() may be called more than once.
class Waker : public QObject {
    Q_OBJECT
public:
    void fire() { emit fired(); }
signals:
    void fired();
};

template<typename>
struct TaskValue;
template<typename T>
struct TaskValue<QCoro::Task<T>> {
    using type = T;
};

} // namespace detail

// The value type of the task that `Op` returns when given a cancel token.
template<typename Op>
using OperationValue = typename detail::TaskValue<std::invoke_result_t<Op &, CancelToken>>::type;

// Suspends for `duration` on the event loop, measured on the continuous clock (CLOCK_BOOTTIME,
// which counts time asleep) with no tolerance; throws CancelledError as soon as the token is
// cancelled, or at once when it already is.
QCoro::Task<> sleep(std::chrono::milliseconds duration, CancelToken token = {});

// Runs op(childToken) and gives its result. When `limit` passes first the child token is
// cancelled and, once the operation has ended, TimeoutError is thrown whatever it threw.
// A cancelled parent ends it with CancelledError as usual.
template<typename Op>
auto withTimeout(std::chrono::milliseconds limit, CancelToken parent, Op op) -> QCoro::Task<OperationValue<Op>>
{
    LinkedCancelSource child(parent);
    bool timedOut = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        timedOut = true;
        child.cancel();
    });
    timer.start(limit);
    try {
        if constexpr (std::is_void_v<OperationValue<Op>>) {
            co_await op(child.token());
            timer.stop();
            co_return;
        } else {
            auto value = co_await op(child.token());
            timer.stop();
            co_return value;
        }
    } catch (...) {
        if (timedOut && !parent.stop_requested())
            throw TimeoutError();
        throw;
    }
}

// Owns one running coroutine and its cancel token. Destroying the handle cancels the
// coroutine; it then ends at its next suspension point, and whatever it throws is dropped.
template<typename T = void>
class TaskHandle {
public:
    TaskHandle() = default;
    TaskHandle(TaskHandle &&) noexcept = default;
    TaskHandle &operator=(TaskHandle &&other) noexcept
    {
        if (this != &other) {
            cancel();
            m_source = std::move(other.m_source);
            m_task = std::move(other.m_task);
        }
        return *this;
    }
    ~TaskHandle() { cancel(); }

    // Starts op(token) now. The operation object lives as long as its coroutine.
    template<typename Op>
    static TaskHandle start(Op op)
    {
        TaskHandle handle;
        handle.m_task.emplace(run(std::make_shared<Op>(std::move(op)), handle.m_source.get_token()));
        return handle;
    }

    void cancel() { m_source.request_stop(); }
    bool isStarted() const { return m_task.has_value(); }
    bool isFinished() const { return !m_task || m_task->isReady(); }
    CancelToken token() const { return m_source.get_token(); }

    // Waits for the coroutine to end and gives its result or rethrows its error. Awaited once.
    QCoro::Task<T> result()
    {
        Q_ASSERT(m_task);
        co_return co_await *m_task;
    }

    // Waits for the coroutine to end, however it ends. Any number of waiters may wait, also
    // after the end, and the handle may be destroyed while they do.
    QCoro::Task<> ended() const
        requires std::is_void_v<T>
    {
        if (!m_task || m_task->isReady())
            co_return;
        try {
            co_await *m_task;
        } catch (...) {
            // The failure belongs to whoever awaits result().
        }
    }

private:
    template<typename Op>
    static QCoro::Task<T> run(std::shared_ptr<Op> op, CancelToken token)
    {
        co_return co_await (*op)(token);
    }

    CancelSource m_source;
    std::optional<QCoro::Task<T>> m_task;
};

namespace detail {

template<typename Op>
QCoro::Task<OperationValue<Op>> cancellingSiblingOnFailure(Op op, LinkedCancelSource *both)
{
    try {
        co_return co_await op(both->token());
    } catch (...) {
        both->cancel();
        throw;
    }
}

// Of two children's failures, the one to report: a cancellation that only echoes the other's
// failure gives way to it; otherwise the first's. Null when neither failed.
std::exception_ptr reportedFailure(const std::exception_ptr &first, const std::exception_ptr &second);

} // namespace detail

// Runs a(token) and b(token) at once under one token linked to `token`; the first to fail
// cancels the other. Once both have ended, gives both values or rethrows the failure that
// caused the rest (a cancellation of the caller's stays a cancellation).
template<typename OpA, typename OpB>
auto awaitBoth(OpA a, OpB b, CancelToken token) -> QCoro::Task<std::pair<OperationValue<OpA>, OperationValue<OpB>>>
{
    LinkedCancelSource both(token);
    auto first = detail::cancellingSiblingOnFailure(std::move(a), &both);
    auto second = detail::cancellingSiblingOnFailure(std::move(b), &both);
    std::optional<OperationValue<OpA>> firstValue;
    std::optional<OperationValue<OpB>> secondValue;
    std::exception_ptr firstFailure;
    std::exception_ptr secondFailure;
    try {
        firstValue.emplace(co_await first);
    } catch (...) {
        firstFailure = std::current_exception();
    }
    try {
        secondValue.emplace(co_await second);
    } catch (...) {
        secondFailure = std::current_exception();
    }
    if (const std::exception_ptr failure = detail::reportedFailure(firstFailure, secondFailure))
        std::rethrow_exception(failure);
    co_return std::pair{std::move(*firstValue), std::move(*secondValue)};
}

// Awaits already started tasks one after the other and gives their values in order.
template<typename T>
QCoro::Task<std::vector<T>> awaitInOrder(std::vector<QCoro::Task<T>> tasks)
{
    std::vector<T> values;
    values.reserve(tasks.size());
    for (auto &task : tasks)
        values.push_back(co_await task);
    co_return values;
}

QCoro::Task<> awaitInOrder(std::vector<QCoro::Task<>> tasks);

// The object a coroutine works for was destroyed while it waited.
struct OwnerGone {};

// Awaits `task`, then throws OwnerGone when `owner` was destroyed meanwhile, whatever the task
// did; otherwise gives its result or rethrows its error.
template<typename Owner, typename T>
QCoro::Task<T> whileAlive(QPointer<Owner> owner, QCoro::Task<T> task)
{
    std::optional<std::conditional_t<std::is_void_v<T>, std::monostate, T>> value;
    std::exception_ptr failure;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            value.emplace();
        } else {
            value.emplace(co_await std::move(task));
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!owner)
        throw OwnerGone();
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<T>)
        co_return std::move(*value);
}

namespace detail {
// Notes a clean-up's failure that gives way to the failure it cleaned up after.
void dropCleanupFailure(const std::exception_ptr &failure);
} // namespace detail

// Awaits `task`; when it fails, awaits cleanup() (a QCoro::Task<>) and then rethrows the
// task's failure. A failure of the clean-up itself is logged and dropped: the first one is
// the one reported.
template<typename T, typename Cleanup>
QCoro::Task<T> cleanupOnFailure(QCoro::Task<T> task, Cleanup cleanup)
{
    std::exception_ptr failure;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            co_return;
        } else {
            co_return co_await std::move(task);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        co_await cleanup();
    } catch (...) {
        detail::dropCleanupFailure(std::current_exception());
    }
    std::rethrow_exception(failure);
}

} // namespace DriveCore
