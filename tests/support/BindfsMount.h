#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace TestSupport {

// A real FUSE mount for a test: bindfs showing one folder at another. Whatever is mounted at
// the mount point when this goes (by this object or by the code under test, stacked mounts
// too) is unmounted lazily, so a test that fails half-way, or leaves a mount whose daemon
// died, never leaves a mount behind.
class BindfsMount {
public:
    explicit BindfsMount(QString mountPoint);
    ~BindfsMount();
    BindfsMount(const BindfsMount &) = delete;
    BindfsMount &operator=(const BindfsMount &) = delete;

    // Runs bindfs in the foreground with `options` (the FUSE subtype "ovra" unless given) and
    // waits until the mount table lists one more mount there. False, with output() telling why, when it
    // does not appear within 10 s.
    bool mount(const QString &source, const QStringList &options = {QStringLiteral("-o"), QStringLiteral("subtype=ovra")});

    // Kills the daemon with SIGKILL: the mount stays listed, and every access to it fails with
    // ENOTCONN.
    void killDaemon();

    // Detaches every mount at the mount point and waits for the daemon to end.
    void unmount();

    const QString &mountPoint() const { return m_mountPoint; }
    QString output();

private:
    QString m_mountPoint;
    QProcess m_daemon;
};

} // namespace TestSupport
