#pragma once

#include <QObject>

#include <exception>
#include <functional>
#include <optional>
#include <stop_token>

namespace DriveCore {

// A cancel token is handed down to every asynchronous operation that can be stopped.
// A default-constructed token is never cancelled.
using CancelToken = std::stop_token;
using CancelSource = std::stop_source;

// Thrown at a suspension point once the operation's token is cancelled.
class CancelledError : public std::exception {
public:
    const char *what() const noexcept override { return "The operation was cancelled."; }
};

// Thrown by withTimeout when its limit passed before the operation ended.
class TimeoutError : public std::exception {
public:
    const char *what() const noexcept override { return "The operation timed out."; }
};

// Throws CancelledError when the token is cancelled.
void checkCancelled(const CancelToken &token);

// Runs `action` on the thread of `context` once the token is cancelled (at once, queued,
// when it already is). Nothing runs after the hook or the context is gone, so an action
// may touch the context and whatever outlives the hook. Tokens may be cancelled from any
// thread; the action always arrives through the context's event loop.
class CancelHook {
public:
    CancelHook(const CancelToken &token, QObject *context, std::function<void()> action);
    CancelHook(const CancelHook &) = delete;
    CancelHook &operator=(const CancelHook &) = delete;

private:
    std::optional<std::stop_callback<std::function<void()>>> m_callback;
};

// A cancel source that is also cancelled when its parent token is.
class LinkedCancelSource {
public:
    explicit LinkedCancelSource(const CancelToken &parent);
    LinkedCancelSource(const LinkedCancelSource &) = delete;
    LinkedCancelSource &operator=(const LinkedCancelSource &) = delete;

    CancelToken token() const { return m_source.get_token(); }
    void cancel() { m_source.request_stop(); }

private:
    CancelSource m_source;
    std::stop_callback<std::function<void()>> m_link;
};

} // namespace DriveCore
