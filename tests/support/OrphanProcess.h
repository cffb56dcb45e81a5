#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace TestSupport {

// A process whose parent has gone: a child of ours starts it and exits at once (a double
// fork), so the first process or the nearest subreaper adopts it, as happens to an engine
// whose application died. Killed with SIGKILL when this goes, if still there.
class OrphanProcess {
public:
    // Runs `program` with `arguments` (the first is the name it is started under); standard
    // input and outputs on the null device. pid() is -1 when it could not be started.
    OrphanProcess(const QString &program, const QStringList &arguments);
    ~OrphanProcess();
    OrphanProcess(const OrphanProcess &) = delete;
    OrphanProcess &operator=(const OrphanProcess &) = delete;

    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

} // namespace TestSupport
