#pragma once

#include <QCoroTask>
#include <QEventLoop>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

namespace TestSupport {

// How long one await may take before the test case fails as hung.
inline constexpr std::chrono::milliseconds awaitLimit = std::chrono::seconds(60);

namespace detail {

template<typename T>
struct AwaitState {
    QEventLoop loop;
    std::conditional_t<std::is_void_v<T>, std::optional<int>, std::optional<T>> result;
    std::exception_ptr error;
    bool done = false;
    std::optional<QCoro::Task<T>> task;
    std::optional<QCoro::Task<>> driver;
};

template<typename T>
QCoro::Task<> drive(AwaitState<T> &state)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await *state.task;
        else
            state.result.emplace(co_await *state.task);
    } catch (...) {
        state.error = std::current_exception();
    }
    state.done = true;
    state.loop.quit();
}

// Keeps the state of a hung await for the rest of the run, so that a late resumption writes
// nowhere it must not, records a failure naming the test case, and throws to end the case.
[[noreturn]] void hung(std::shared_ptr<void> state, std::chrono::milliseconds limit);

// Runs `loop` until it quits or `limit` passes; returns false when the limit passed.
bool runFor(QEventLoop &loop, std::chrono::milliseconds limit);

} // namespace detail

// Runs the event loop until the task ends and gives its result or rethrows its error. A task
// that has not ended within `limit` fails the running test case by name and ends it.
template<typename T>
T await(QCoro::Task<T> &&task, std::chrono::milliseconds limit = awaitLimit)
{
    auto state = std::make_shared<detail::AwaitState<T>>();
    state->task.emplace(std::move(task));
    state->driver.emplace(detail::drive(*state));
    if (!state->done && !detail::runFor(state->loop, limit) && !state->done)
        detail::hung(state, limit);
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->result);
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

// Lets queued events run: a few turns of the event loop whatever the time they take (what one
// turn posts runs in the next, so a cancelled task's chain of wake-ups ends), then 20 ms more.
void settle();

// Writes an executable shell script and returns its path.
QString writeScript(const QString &path, const QString &body);

} // namespace TestSupport
