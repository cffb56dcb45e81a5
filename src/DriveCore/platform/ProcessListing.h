#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>
#include <vector>

namespace DriveCore {

// What /proc/<pid>/stat and /proc/<pid>/status tell of one process.
struct ProcessStatus {
    pid_t pid = 0;
    pid_t parent = 0;
    uid_t uid = 0; // the real user id
    char state = '?'; // 'R', 'S', 'Z' (ended, not yet reaped) ...
    QString name; // the kernel's short name (comm): the started file's name, 15 bytes at most

    bool operator==(const ProcessStatus &) const = default;
};

// A hold on one process (a pidfd): it keeps naming that process after it has ended, so a
// signal sent through it reaches that process or none, never a later one given the same id.
// Move-only; safe to use from any thread.
class ProcessHandle {
public:
    // None when no process has that id (any more).
    static std::optional<ProcessHandle> open(pid_t pid);

    ProcessHandle(ProcessHandle &&other) noexcept;
    ProcessHandle &operator=(ProcessHandle &&other) noexcept;
    ProcessHandle(const ProcessHandle &) = delete;
    ProcessHandle &operator=(const ProcessHandle &) = delete;
    ~ProcessHandle();

    pid_t pid() const { return m_pid; }
    // Sends `signal` (0 only tests); false when the process has been reaped or refuses it.
    bool signal(int signal) const;
    // Whether the process has not been reaped yet, so that its id is still its own.
    bool holdsItsID() const { return signal(0); }
    // Whether the process has ended (reaped or not).
    bool hasEnded() const;

private:
    ProcessHandle(pid_t pid, int fd) : m_pid(pid), m_fd(fd) {}

    pid_t m_pid = 0;
    int m_fd = -1;
};

// The processes of this system as /proc shows them. Every call reads afresh; a process may
// end between two calls, so every answer may be missing. Safe from any thread.
namespace ProcessListing {

// The ids of all processes, in the order /proc lists them.
std::vector<pid_t> all();

std::optional<ProcessStatus> status(pid_t pid);

// Reads the contents of /proc/<pid>/stat and /proc/<pid>/status; none when either lacks the
// kernel's shape.
std::optional<ProcessStatus> parseStatus(pid_t pid, const QByteArray &stat, const QByteArray &status);

// The resolved path of the running program, also when its file has since been replaced or
// removed; none for another user's process (unless we may read it), a kernel thread or an
// ended one.
std::optional<QString> executable(pid_t pid);

// The argument list; empty when it cannot be read.
QStringList arguments(pid_t pid);

// Splits /proc/<pid>/cmdline: arguments end in NUL; bytes after the last NUL are one more
// argument (a cut record); invalid UTF-8 is replaced.
QStringList arguments(const QByteArray &commandLine);

// Our parent, its parent, and so on up to the first process.
std::vector<pid_t> ancestorsOfSelf();

// Whether the process has ended: kill(pid, 0) finds none, or only an ended process whose
// parent has not reaped it yet (kill still reaches those). A process we may not signal
// (EPERM) has not ended.
bool hasEnded(pid_t pid);

} // namespace ProcessListing

} // namespace DriveCore
