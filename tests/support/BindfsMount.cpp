#include "support/BindfsMount.h"

#include "DriveCore/platform/MountTable.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <sys/mount.h>

namespace TestSupport {

namespace {

bool isMounted(const QString &path)
{
    return DriveCore::MountTable::isListedMountPoint(path);
}

qsizetype mountsAt(const QString &path)
{
    return DriveCore::MountTable::typesMountedAt(path).size();
}

} // namespace

BindfsMount::BindfsMount(QString mountPoint) : m_mountPoint(std::move(mountPoint))
{
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
}

BindfsMount::~BindfsMount()
{
    unmount();
}

bool BindfsMount::mount(const QString &source, const QStringList &options)
{
    const qsizetype before = mountsAt(m_mountPoint);
    m_daemon.start(QStringLiteral("bindfs"), QStringList{QStringLiteral("-f")} + options + QStringList{source, m_mountPoint});
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

void BindfsMount::killDaemon()
{
    m_daemon.kill();
    m_daemon.waitForFinished();
}

void BindfsMount::unmount()
{
    // As root the system call; otherwise fusermount3, which may unmount our own FUSE mounts.
    for (int attempt = 0; attempt < 20 && isMounted(m_mountPoint); ++attempt) {
        if (::umount2(QFile::encodeName(m_mountPoint).constData(), MNT_DETACH) != 0)
            QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), m_mountPoint});
    }
    if (m_daemon.state() != QProcess::NotRunning && !m_daemon.waitForFinished(5000)) {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
}

QString BindfsMount::output()
{
    return QString::fromUtf8(m_daemon.readAll());
}

} // namespace TestSupport
