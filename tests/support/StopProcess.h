#pragma once

#include "DriveCore/mount/LeftoverDrive.h"
#include "DriveCore/platform/ProcessListing.h"

#include <QProcess>
#include <QString>
#include <QThread>

#include <chrono>
#include <csignal>
#include <vector>

namespace TestSupport {

// Ends a child of the test: SIGTERM, then SIGKILL when it is still there after `grace`.
// Returns once it has ended; nothing to do when it is not running.
inline void stopProcess(QProcess &process, std::chrono::milliseconds grace = std::chrono::seconds(5))
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(int(grace.count()))) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// Kills processes that are not QProcess children of the test (orphans, engines left by the code
// under test) with SIGKILL and waits up to 5 s until each has ended.
inline void stopProcess(const std::vector<DriveCore::ProcessHandle> &processes)
{
    for (const DriveCore::ProcessHandle &process : processes)
        process.signal(SIGKILL);
    for (const DriveCore::ProcessHandle &process : processes) {
        for (int wait = 0; wait < 500 && !process.hasEnded(); ++wait)
            QThread::msleep(10);
    }
}

// The same for one process by its id; nothing to do when no process has it.
inline void stopProcess(pid_t pid)
{
    std::vector<DriveCore::ProcessHandle> held;
    if (auto handle = DriveCore::ProcessHandle::open(pid))
        held.push_back(std::move(*handle));
    stopProcess(held);
}

// Kills every engine still running over the drive cache `cacheDir`.
inline void stopLeftoverEngines(const QString &cacheDir)
{
    stopProcess(DriveCore::LeftoverDrive::find(cacheDir));
}

} // namespace TestSupport
