#pragma once

#include <QCoroTask>
#include <QString>

#include <chrono>
#include <functional>

namespace TestSupport {

// Runs the event loop until the task ends and gives its result (or rethrows its error).
template<typename T>
T await(QCoro::Task<T> &&task)
{
    return QCoro::waitFor(std::move(task));
}

// Runs the event loop until `done` holds or `limit` passes; returns whether it held.
bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(10));

// Writes an executable shell script and returns its path.
QString writeScript(const QString &path, const QString &body);

} // namespace TestSupport
