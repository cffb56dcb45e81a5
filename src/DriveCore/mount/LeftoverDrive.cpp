#include "DriveCore/mount/LeftoverDrive.h"

#include "DriveCore/support/Log.h"
#include "DriveCore/support/Tasks.h"
#include "DriveCore/support/Threads.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <csignal>
#include <unistd.h>

namespace DriveCore {

namespace {

using namespace std::chrono_literals;

const Log log("leftover");

const QString engineName = QString::fromLatin1(LeftoverDrive::programName);

QString baseName(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

bool isScriptInterpreter(const QString &program)
{
    static const QSet<QString> interpreters{"sh",      "dash", "bash", "zsh",  "ksh",   "mksh",
                                            "busybox", "perl", "ruby", "node", "nodejs"};
    return interpreters.contains(program) || program.startsWith(QLatin1String("python"));
}

QCoro::Task<std::vector<ProcessHandle>> findOffThread(QString cacheDir)
{
    co_return co_await runInPool([cacheDir] { return LeftoverDrive::find(cacheDir); });
}

bool contains(const std::vector<pid_t> &pids, pid_t pid)
{
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

// Whether a new scan still finds the held process. While it is held and not reaped, its id
// cannot name another process.
bool stillFound(const std::vector<ProcessHandle> &found, const ProcessHandle &held)
{
    return held.holdsItsID() && std::any_of(found.begin(), found.end(), [&](const ProcessHandle &handle) {
               return handle.pid() == held.pid();
           });
}

// Polls every 0.25 s for `seconds`; the pauses cannot be cancelled.
QCoro::Task<bool> exited(const ProcessHandle &process, int seconds, const Sleep &sleep)
{
    for (int poll = 0; poll < seconds * 4; ++poll) {
        if (process.hasEnded())
            co_return true;
        co_await pause(sleep, 250ms, {});
    }
    co_return process.hasEnded();
}

} // namespace

bool LeftoverDrive::isEngineProgram(const QString &executable, const QString &shortName, const QStringList &arguments)
{
    const QString program = baseName(executable);
    if (program == engineName)
        return true;
    return isScriptInterpreter(program)
        && (shortName == engineName || (!arguments.isEmpty() && baseName(arguments.first()) == engineName));
}

std::optional<QString> LeftoverDrive::cacheDirArgument(const QStringList &arguments)
{
    const qsizetype option = arguments.indexOf(QStringLiteral("--cache-dir"));
    if (option < 0 || option + 1 >= arguments.size())
        return std::nullopt;
    return arguments[option + 1];
}

bool LeftoverDrive::isLeftover(const Candidate &candidate, const QString &cacheDir, uid_t uid,
                               const std::vector<pid_t> &adopters)
{
    return candidate.status.pid >= 2 && candidate.status.uid == uid
        && isEngineProgram(candidate.executable, candidate.status.name, candidate.arguments)
        && contains(adopters, candidate.status.parent) && cacheDirArgument(candidate.arguments) == cacheDir;
}

std::vector<ProcessHandle> LeftoverDrive::find(const QString &cacheDir)
{
    // Orphans go to the nearest subreaper above the process that left them, or to the first
    // process. /proc does not say which processes are subreapers, but every one that could
    // have adopted an earlier run's engine in this session is an ancestor of ours too.
    std::vector<pid_t> adopters = ProcessListing::ancestorsOfSelf();
    adopters.push_back(1);
    const uid_t uid = ::getuid();
    std::vector<ProcessHandle> found;
    for (const pid_t pid : ProcessListing::all()) {
        // Held before anything is read: the facts below belong to the held process if it
        // still holds its id once they are read.
        std::optional<ProcessHandle> handle = ProcessHandle::open(pid);
        if (!handle)
            continue;
        // The cheap facts first: the command line only of this user's orphans that run a
        // program called like the engine (or an interpreter).
        Candidate candidate;
        const auto status = ProcessListing::status(pid);
        if (!status || status->pid < 2 || status->uid != uid || !contains(adopters, status->parent))
            continue;
        candidate.status = *status;
        const auto executable = ProcessListing::executable(pid);
        if (!executable)
            continue;
        candidate.executable = *executable;
        const QString program = baseName(*executable);
        if (program != engineName && !isScriptInterpreter(program))
            continue;
        candidate.arguments = ProcessListing::arguments(pid);
        if (isLeftover(candidate, cacheDir, uid, adopters) && handle->holdsItsID())
            found.push_back(std::move(*handle));
    }
    return found;
}

QCoro::Task<int> LeftoverDrive::stop(QString cacheDir, Sleep sleep)
{
    if (!sleep)
        sleep = liveSleep();
    const std::vector<ProcessHandle> found = co_await findOffThread(cacheDir);
    if (found.empty())
        co_return 0;
    for (const ProcessHandle &process : found) {
        log.error("Stopping rclone left running by an earlier Ovra (pid %d)", process.pid());
        process.signal(SIGINT);
    }
    for (const ProcessHandle &process : found) {
        if (co_await exited(process, 10, sleep))
            continue;
        if (!stillFound(co_await findOffThread(cacheDir), process))
            continue;
        process.signal(SIGTERM);
        if (co_await exited(process, 10, sleep))
            continue;
        if (stillFound(co_await findOffThread(cacheDir), process))
            process.signal(SIGKILL);
    }
    co_return int(found.size());
}

} // namespace DriveCore
