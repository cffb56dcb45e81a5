#pragma once

#include "DriveCore/platform/ProcessRunner.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace DriveCore {

// A child process the supervisor started. Releasing it does not stop the process.
class LaunchedProcess {
public:
    virtual ~LaunchedProcess() = default;

    virtual int32_t pid() const = 0;
    // SIGINT, SIGTERM and SIGKILL; each does nothing once the process has ended.
    virtual void interrupt() = 0;
    virtual void terminate() = 0;
    virtual void kill() = 0;
};

// How the supervisor starts the engine and unmounts its folders; tests replace it.
class ProcessLaunching {
public:
    // Called once, with the exit status (or the number of the signal that ended the process),
    // on a thread of the launcher's own: it must only note the exit and hop to the main thread.
    using ExitCallback = std::function<void(int32_t status)>;

    virtual ~ProcessLaunching() = default;

    // Starts `executable` with `arguments` and exactly `environment` (nothing inherited).
    // Throws ProcessRunner::LaunchError, and then never calls onExit.
    virtual std::shared_ptr<LaunchedProcess> launch(const QString &executable, const QStringList &arguments,
                                                    const Environment &environment, ExitCallback onExit) = 0;

    // Unmounts `path`, forcing it when `force`. Never fails: callers look afterwards whether
    // the mount is gone.
    virtual QCoro::Task<> unmount(QString path, bool force) = 0;
};

} // namespace DriveCore
