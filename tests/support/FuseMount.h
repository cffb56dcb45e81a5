#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace TestSupport {

// A real FUSE mount for a test: bindfs showing one folder at another (the file-system layer),
// or Debian's rclone mounting a local folder (the engine's own mount, type "rclone"). The
// daemon runs in the foreground as a child of the test. Whatever is mounted at the mount
// point when this goes (by this object or by the code under test, stacked mounts too) is
// unmounted lazily, so a test that fails half-way, or leaves a mount whose daemon died, never
// leaves a mount behind.
class FuseMount {
public:
    explicit FuseMount(QString mountPoint);
    ~FuseMount();
    FuseMount(const FuseMount &) = delete;
    FuseMount &operator=(const FuseMount &) = delete;

    // Each waits until the mount table lists one more mount at the mount point; false, with
    // output() telling why, when none appears within 10 s. One daemon at a time: a mount made
    // before must be gone. bindfs (libfuse 2) refuses a mount point that shows anything.
    bool mountBindfs(const QString &source, const QStringList &options = {QStringLiteral("-o"), QStringLiteral("subtype=ovra")});
    bool mountEngine(const QString &source);

    // Kills the daemon with SIGKILL: the mount stays listed, and every access to it fails with
    // ENOTCONN.
    void killDaemon();

    // Detaches every mount at the mount point and waits for the daemon to end.
    void unmount();

    const QString &mountPoint() const { return m_mountPoint; }
    QString output();

private:
    bool mount(const QString &program, const QStringList &arguments);

    QString m_mountPoint;
    QProcess m_daemon;
};

} // namespace TestSupport
