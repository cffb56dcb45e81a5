#pragma once

#include <QCoroTask>
#include <QEventLoop>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

namespace TestSupport {

namespace detail {

template<typename T, typename Result>
QCoro::Task<> drive(QCoro::Task<T> &task, Result &result, std::exception_ptr &error, bool &done, QEventLoop &loop)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await task;
        else
            result.emplace(co_await task);
    } catch (...) {
        error = std::current_exception();
    }
    done = true;
    loop.quit();
}

} // namespace detail

// Runs the event loop until the task ends and gives its result or rethrows its error.
template<typename T>
T await(QCoro::Task<T> &&task)
{
    QEventLoop loop;
    std::conditional_t<std::is_void_v<T>, std::optional<int>, std::optional<T>> result;
    std::exception_ptr error;
    bool done = false;
    auto driver = detail::drive(task, result, error, done, loop);
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

// The error of type Error that the task ends with, or none when it ends without one; other
// errors pass through.
template<typename Error, typename T>
std::optional<Error> failureOf(QCoro::Task<T> &&task)
{
    try {
        await(std::move(task));
    } catch (const Error &error) {
        return error;
    }
    return std::nullopt;
}

// Runs the event loop until `done` holds or `limit` passes; returns whether it held.
bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(10));

// Writes an executable shell script and returns its path.
QString writeScript(const QString &path, const QString &body);

} // namespace TestSupport
