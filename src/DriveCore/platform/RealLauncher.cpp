#include "DriveCore/platform/RealLauncher.h"

#include <QFile>
#include <QProcessEnvironment>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace DriveCore {

namespace {

// Owns the strings of an argv or envp array.
class CStrings {
public:
    void append(const QString &text) { m_strings.push_back(text.toUtf8()); }

    char *const *pointers()
    {
        m_pointers.clear();
        for (QByteArray &string : m_strings)
            m_pointers.push_back(string.data());
        m_pointers.push_back(nullptr);
        return m_pointers.data();
    }

private:
    std::vector<QByteArray> m_strings;
    std::vector<char *> m_pointers;
};

class SpawnSettings {
public:
    SpawnSettings()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        // The engine reads nothing from us and writes its own log file.
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        // No descriptor of ours (sockets, the FUSE device) may outlive us in the child.
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        // We ignore SIGPIPE, and threads may block signals: the child starts with neither.
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSettings()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSettings(const SpawnSettings &) = delete;
    SpawnSettings &operator=(const SpawnSettings &) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

int32_t exitStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return WTERMSIG(status);
    return -1;
}

// Reaps the child and reports its exit once. The child is ours alone: nothing else in the
// process waits for children it did not start.
void awaitExit(std::shared_ptr<RealProcess::Child> child, ProcessLaunching::ExitCallback onExit)
{
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(child->pid, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    child->ended.store(true, std::memory_order_release);
    if (onExit)
        onExit(reaped == child->pid ? exitStatus(status) : -1);
}

} // namespace

RealProcess::Child::~Child()
{
    if (pidfd >= 0)
        ::close(pidfd);
}

void RealProcess::interrupt()
{
    signal(SIGINT);
}

void RealProcess::terminate()
{
    signal(SIGTERM);
}

void RealProcess::kill()
{
    signal(SIGKILL);
}

void RealProcess::signal(int number)
{
    if (m_child->ended.load(std::memory_order_acquire))
        return;
    if (m_child->pidfd >= 0)
        ::syscall(SYS_pidfd_send_signal, m_child->pidfd, number, nullptr, 0);
    else
        ::kill(m_child->pid, number);
}

std::shared_ptr<LaunchedProcess> RealLauncher::launch(const QString &executable, const QStringList &arguments,
                                                      const Environment &environment, ExitCallback onExit)
{
    ProcessRunner::ignoreSigpipe();
    CStrings argv;
    argv.append(executable);
    for (const QString &argument : arguments)
        argv.append(argument);
    CStrings envp;
    for (auto it = environment.begin(); it != environment.end(); ++it)
        envp.append(it.key() + u'=' + it.value());

    SpawnSettings settings;
    auto child = std::make_shared<RealProcess::Child>();
    const QByteArray path = QFile::encodeName(executable);
    const int error = ::posix_spawn(&child->pid, path.constData(), &settings.actions, &settings.attributes,
                                    argv.pointers(), envp.pointers());
    if (error != 0)
        throw ProcessRunner::LaunchError(executable, QString::fromLocal8Bit(std::strerror(error)));
    // Not reaped before the waiting thread starts, so the id is still this child's.
    child->pidfd = int(::syscall(SYS_pidfd_open, child->pid, 0));
    try {
        std::thread(awaitExit, child, std::move(onExit)).detach();
    } catch (const std::system_error &failure) {
        ::kill(child->pid, SIGKILL);
        ::waitpid(child->pid, nullptr, 0);
        throw ProcessRunner::LaunchError(executable, QString::fromLocal8Bit(failure.what()));
    }
    return std::make_shared<RealProcess>(std::move(child));
}

QCoro::Task<> RealLauncher::unmount(QString path, bool force)
{
    const QStringList umountArguments = force ? QStringList{QStringLiteral("-l"), path} : QStringList{path};
    if (co_await run(umountProgram, umountArguments) == 0)
        co_return;
    const QStringList fusermountArguments =
        force ? QStringList{QStringLiteral("-u"), QStringLiteral("-z"), path} : QStringList{QStringLiteral("-u"), path};
    co_await run(fusermountProgram, fusermountArguments);
}

QCoro::Task<int> RealLauncher::run(QString program, QStringList arguments)
{
    Environment environment;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString &key : system.keys())
        environment.insert(key, system.value(key));
    try {
        const RcloneResult result = co_await ProcessRunner::run(program, arguments, environment);
        co_return result.status;
    } catch (const ProcessRunner::LaunchError &) {
        co_return -1;
    }
}

} // namespace DriveCore
