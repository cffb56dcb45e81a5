#pragma once

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroTask>
#include <QtConcurrent/QtConcurrentRun>
#include <QThreadPool>

#include <exception>
#include <functional>
#include <memory>
#include <type_traits>
#include <variant>

namespace DriveCore {

// Runs blocking work on `pool` and resumes the awaiting coroutine on its own thread with the
// result, or with the exception the work threw. A pool of one thread runs its work one at a
// time in the order given.
template<typename F>
auto runInPool(QThreadPool &pool, F work) -> QCoro::Task<std::invoke_result_t<F &>>
{
    using R = std::invoke_result_t<F &>;
    using Value = std::conditional_t<std::is_void_v<R>, std::monostate, R>;
    using Outcome = std::variant<std::exception_ptr, Value>;
    auto future = QtConcurrent::run(&pool, [work = std::move(work)]() mutable {
        auto outcome = std::make_shared<Outcome>();
        try {
            if constexpr (std::is_void_v<R>) {
                work();
                outcome->template emplace<1>();
            } else {
                outcome->template emplace<1>(work());
            }
        } catch (...) {
            outcome->template emplace<0>(std::current_exception());
        }
        return outcome;
    });
    std::shared_ptr<Outcome> outcome = co_await future;
    if (outcome->index() == 0)
        std::rethrow_exception(std::get<0>(*outcome));
    if constexpr (!std::is_void_v<R>)
        co_return std::move(std::get<1>(*outcome));
}

// The same on Qt's global thread pool.
template<typename F>
auto runInPool(F work) -> QCoro::Task<std::invoke_result_t<F &>>
{
    return runInPool(*QThreadPool::globalInstance(), std::move(work));
}

// Queues `fn` to run on the main thread's event loop. Safe to call from any thread.
inline void onMainThread(std::function<void()> fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
}

} // namespace DriveCore
