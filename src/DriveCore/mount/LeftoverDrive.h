#pragma once

#include "DriveCore/platform/ProcessListing.h"
#include "DriveCore/support/Clock.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <sys/types.h>
#include <vector>

namespace DriveCore {

// Engines left running by an earlier run of the application for the same cache folder, and
// stopping them, so that only one engine ever works on that folder.
namespace LeftoverDrive {

inline constexpr const char *programName = "rclone";

// What find() knows of one process.
struct Candidate {
    ProcessStatus status;
    QString executable; // resolved
    QStringList arguments;
};

// Whether the program is the engine: the resolved executable is named "rclone"; or, for a
// script interpreter, the script it runs (the kernel's short name of a process started through
// a "#!" line) or the name it was started under (its first argument) is.
bool isEngineProgram(const QString &executable, const QString &shortName, const QStringList &arguments);

// The argument after the first "--cache-dir", if any.
std::optional<QString> cacheDirArgument(const QStringList &arguments);

// The whole rule: a process other than the first, of user `uid`, running the engine, whose
// parent is one that adopts orphans (`adopters`: the first process and the subreapers above
// us, which are our ancestors), and whose first "--cache-dir" is followed by exactly
// `cacheDir`. An engine whose parent is a running application is never a leftover.
bool isLeftover(const Candidate &candidate, const QString &cacheDir, uid_t uid, const std::vector<pid_t> &adopters);

// The leftovers for `cacheDir`, in the order /proc lists them, each held from before its facts
// were read, so that the facts and every later signal belong to the process found. Reads
// /proc: run it off the main thread.
std::vector<ProcessHandle> find(const QString &cacheDir);

// Sends SIGINT to every leftover, then per leftover waits up to 10 s, sends SIGTERM to one
// still there, waits up to 10 s again and sends SIGKILL to one still there, without waiting
// after it. Every signal goes through the scan's hold on the process. Returns how many leftovers were found at the
// start. Never fails. `sleep` makes the 0.25 s pauses of the waits (tests shorten them).
QCoro::Task<int> stop(QString cacheDir, Sleep sleep = {});

} // namespace LeftoverDrive

} // namespace DriveCore
