#include "DriveCore/platform/ProcessListing.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <limits.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace DriveCore {

namespace {

QByteArray procPath(pid_t pid, const char *name)
{
    return "/proc/" + QByteArray::number(pid) + '/' + name;
}

std::optional<QByteArray> readProcFile(pid_t pid, const char *name)
{
    QFile file(QString::fromLatin1(procPath(pid, name)));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    return file.readAll();
}

std::optional<pid_t> pidOf(const char *name)
{
    if (!*name)
        return std::nullopt;
    long value = 0;
    for (const char *c = name; *c; ++c) {
        if (*c < '0' || *c > '9' || value > INT_MAX / 10)
            return std::nullopt;
        value = value * 10 + (*c - '0');
    }
    return pid_t(value);
}

// "Uid:\t<real>\t<effective>\t<saved>\t<file system>"
std::optional<uid_t> realUID(const QByteArray &status)
{
    for (const QByteArray &line : status.split('\n')) {
        if (!line.startsWith("Uid:"))
            continue;
        const QList<QByteArray> fields = line.mid(4).simplified().split(' ');
        bool ok = false;
        const uint uid = fields.value(0).toUInt(&ok);
        return ok ? std::optional(uid_t(uid)) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<ProcessHandle> ProcessHandle::open(pid_t pid)
{
    if (pid <= 0)
        return std::nullopt;
    const int fd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0)
        return std::nullopt;
    return ProcessHandle(pid, fd);
}

ProcessHandle::ProcessHandle(ProcessHandle &&other) noexcept : m_pid(other.m_pid), m_fd(std::exchange(other.m_fd, -1))
{
}

ProcessHandle &ProcessHandle::operator=(ProcessHandle &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_pid = other.m_pid;
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

ProcessHandle::~ProcessHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ProcessHandle::signal(int signal) const
{
    return m_fd >= 0 && ::syscall(SYS_pidfd_send_signal, m_fd, signal, nullptr, 0) == 0;
}

bool ProcessHandle::hasEnded() const
{
    // A pidfd reads as ready once its process has ended.
    if (m_fd < 0)
        return true;
    pollfd ready{m_fd, POLLIN, 0};
    int result = 0;
    do
        result = ::poll(&ready, 1, 0);
    while (result < 0 && errno == EINTR);
    return result != 0;
}

std::vector<pid_t> ProcessListing::all()
{
    std::vector<pid_t> pids;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return pids;
    while (const dirent *entry = ::readdir(proc)) {
        if (const auto pid = pidOf(entry->d_name))
            pids.push_back(*pid);
    }
    ::closedir(proc);
    return pids;
}

std::optional<ProcessStatus> ProcessListing::status(pid_t pid)
{
    const auto stat = readProcFile(pid, "stat");
    const auto status = readProcFile(pid, "status");
    if (!stat || !status)
        return std::nullopt;
    return parseStatus(pid, *stat, *status);
}

std::optional<ProcessStatus> ProcessListing::parseStatus(pid_t pid, const QByteArray &stat, const QByteArray &status)
{
    // "<pid> (<name>) <state> <parent> ...": the name may hold spaces and parentheses, so it
    // ends at the last ")".
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    const QList<QByteArray> rest = stat.mid(close + 1).trimmed().split(' ');
    bool ok = false;
    const int parent = rest.value(1).toInt(&ok);
    const auto uid = realUID(status);
    if (rest.value(0).size() != 1 || !ok || !uid)
        return std::nullopt;
    return ProcessStatus{
        .pid = pid,
        .parent = parent,
        .uid = *uid,
        .state = rest[0][0],
        .name = QString::fromUtf8(stat.mid(open + 1, close - open - 1)),
    };
}

std::optional<QString> ProcessListing::executable(pid_t pid)
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(procPath(pid, "exe").constData(), buffer, sizeof buffer);
    if (length <= 0 || size_t(length) >= sizeof buffer)
        return std::nullopt;
    // A program file replaced or removed since it was started (by an update, say) reads
    // "<path> (deleted)"; the process still runs that program.
    QByteArray path(buffer, length);
    if (path.endsWith(" (deleted)"))
        path.chop(qstrlen(" (deleted)"));
    return QFile::decodeName(path);
}

QStringList ProcessListing::arguments(pid_t pid)
{
    const auto commandLine = readProcFile(pid, "cmdline");
    return commandLine ? arguments(*commandLine) : QStringList();
}

QStringList ProcessListing::arguments(const QByteArray &commandLine)
{
    QStringList arguments;
    qsizetype start = 0;
    while (start < commandLine.size()) {
        qsizetype end = commandLine.indexOf('\0', start);
        if (end < 0)
            end = commandLine.size();
        arguments.append(QString::fromUtf8(commandLine.mid(start, end - start)));
        start = end + 1;
    }
    return arguments;
}

std::vector<pid_t> ProcessListing::ancestorsOfSelf()
{
    std::vector<pid_t> ancestors;
    pid_t pid = ::getppid();
    // Bounded, in case a parent ends and its id is reused while we walk.
    while (pid > 0 && ancestors.size() < 4096) {
        ancestors.push_back(pid);
        const auto parent = status(pid);
        if (!parent)
            break;
        pid = parent->parent;
    }
    return ancestors;
}

bool ProcessListing::hasEnded(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return errno == ESRCH;
    const auto current = status(pid);
    return !current || current->state == 'Z' || current->state == 'X';
}

} // namespace DriveCore
