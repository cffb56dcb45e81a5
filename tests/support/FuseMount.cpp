#include "support/FuseMount.h"

#include "DriveCore/platform/MountTable.h"
#include "support/StopProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

#include <sys/mount.h>

namespace TestSupport {

namespace {

qsizetype mountsAt(const QString &path)
{
    return DriveCore::MountTable::typesMountedAt(path).size();
}

} // namespace

FuseMount::FuseMount(QString mountPoint) : m_mountPoint(std::move(mountPoint))
{
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
}

FuseMount::~FuseMount()
{
    unmount();
}

bool FuseMount::mountBindfs(const QString &source, const QStringList &options)
{
    return mount(QStringLiteral("bindfs"), QStringList{QStringLiteral("-f")} + options + QStringList{source, m_mountPoint});
}

bool FuseMount::mountEngine(const QString &source)
{
    // An exact environment: no configuration file, nothing of the sandbox's.
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("HOME"), qEnvironmentVariable("HOME"));
    environment.insert(QStringLiteral("RCLONE_CONFIG"), QStringLiteral("/dev/null"));
    m_daemon.setProcessEnvironment(environment);
    return mount(QStringLiteral("rclone"), {QStringLiteral("mount"), source, m_mountPoint});
}

bool FuseMount::mount(const QString &program, const QStringList &arguments)
{
    // One daemon at a time: a daemon whose mount was unmounted (by the code under test, say)
    // is still ending.
    if (m_daemon.state() != QProcess::NotRunning && !m_daemon.waitForFinished(5000))
        return false;
    const qsizetype before = mountsAt(m_mountPoint);
    m_daemon.start(program, arguments);
    if (!m_daemon.waitForStarted())
        return false;
    const QDeadlineTimer deadline(10'000);
    while (mountsAt(m_mountPoint) <= before) {
        if (deadline.hasExpired() || m_daemon.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(10);
    }
    return true;
}

void FuseMount::killDaemon()
{
    m_daemon.kill();
    m_daemon.waitForFinished();
}

void FuseMount::unmount()
{
    // As root the system call; otherwise fusermount3, which may unmount our own FUSE mounts.
    for (int attempt = 0; attempt < 20 && mountsAt(m_mountPoint) > 0; ++attempt) {
        if (::umount2(QFile::encodeName(m_mountPoint).constData(), MNT_DETACH) != 0)
            QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), m_mountPoint});
    }
    // Unmounted, the daemon ends by itself.
    if (m_daemon.state() != QProcess::NotRunning && !m_daemon.waitForFinished(5000))
        stopProcess(m_daemon, std::chrono::milliseconds(0));
}

QString FuseMount::output()
{
    return QString::fromUtf8(m_daemon.readAll());
}

} // namespace TestSupport
