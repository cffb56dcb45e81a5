#include "support/OrphanProcess.h"

#include "DriveCore/platform/ProcessListing.h"
#include "support/StopProcess.h"

#include <QFile>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace TestSupport {

OrphanProcess::OrphanProcess(const QString &program, const QStringList &arguments)
{
    // Everything the children need is made before forking: a child of a threaded process
    // may only make async-signal-safe calls.
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> strings;
    for (const QString &argument : arguments)
        strings.push_back(argument.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &string : strings)
        argv.push_back(string.data());
    argv.push_back(nullptr);
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return;

    const pid_t child = ::fork();
    if (child == 0) {
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execv(path.constData(), argv.data());
            ::_exit(127);
        }
        ::write(channel[1], &grandchild, sizeof grandchild);
        ::_exit(0);
    }
    ::close(channel[1]);
    if (child > 0) {
        pid_t grandchild = -1;
        if (::read(channel[0], &grandchild, sizeof grandchild) == sizeof grandchild)
            m_pid = grandchild;
        ::waitpid(child, nullptr, 0);
    }
    ::close(channel[0]);
}

OrphanProcess::~OrphanProcess()
{
    if (m_pid <= 0)
        return;
    stopProcess(m_pid);
}

} // namespace TestSupport
