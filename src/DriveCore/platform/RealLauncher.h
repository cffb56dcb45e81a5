#pragma once

#include "DriveCore/platform/ProcessLaunching.h"

#include <atomic>
#include <memory>

namespace DriveCore {

// A child started by RealLauncher. Signals go through a process file descriptor, so they can
// never reach another process that later got the same id.
class RealProcess : public LaunchedProcess {
public:
    // Shared with the thread that waits for the child.
    struct Child {
        ~Child();
        pid_t pid = 0;
        int pidfd = -1; // -1 when the kernel offers none; then signals go by id until reaped
        std::atomic<bool> ended{false};
    };

    explicit RealProcess(std::shared_ptr<Child> child) : m_child(std::move(child)) {}

    int32_t pid() const override { return m_child->pid; }
    void interrupt() override;
    void terminate() override;
    void kill() override;

private:
    void signal(int number);

    std::shared_ptr<Child> m_child;
};

// Starts the engine with posix_spawn: no shell, no search path, exactly the given
// environment, standard input and outputs on the null device (the engine writes its own log
// file), no other open descriptor of ours, and default signal handling. A thread of its own
// per child waits for the exit.
class RealLauncher : public ProcessLaunching {
public:
    // The unmount commands; tests point them at their own.
    QString umountProgram = QStringLiteral("/usr/bin/umount");
    QString fusermountProgram = QStringLiteral("/usr/bin/fusermount3");

    std::shared_ptr<LaunchedProcess> launch(const QString &executable, const QStringList &arguments,
                                            const Environment &environment, ExitCallback onExit) override;

    // "umount [-l] <path>" (force detaches the mount lazily, even while it is busy or its
    // daemon died); when that fails, "fusermount3 -u [-z] <path>", which unmounts a FUSE
    // mount of our own without privileges, its status ignored.
    QCoro::Task<> unmount(QString path, bool force) override;

private:
    // Runs a command with our environment and the outputs dropped; its exit status, or -1
    // when it cannot be started or a signal ended it.
    static QCoro::Task<int> run(QString program, QStringList arguments);
};

} // namespace DriveCore
