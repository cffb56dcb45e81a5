#pragma once

#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/RCClient.h"
#include "DriveCore/platform/ProcessRunner.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace TestSupport {

class S3Server;

// One machine's engine for real: Debian's rclone mounting the drive over FUSE through
// tools/upstream-engine, started as the drive starts its engine. It gets the drive's
// mount command line (RcloneCommand::mountArguments) and exactly the drive's environment
// (RcloneCommand::environment over the S3 server's keys, the remote-control user and password,
// PATH and HOME); its mount point, cache and log lie below a temporary home of its own.
// Stopped (interrupt, then terminate, then kill) and unmounted lazily when this goes away,
// also when a test fails; the engine also ends when the test process dies.
class UpstreamEngine {
public:
    struct Options {
        DriveCore::DriveSettings settings;
        QString passphrase = QStringLiteral("pass");
        DriveCore::DriveEngine engine = DriveCore::DriveEngine::nfs;
        bool readOnly = false;
        // Appended to the drive's command line; upstream takes the last value of a flag.
        QStringList extraArguments;
    };

    static constexpr const char *user = "corvane";
    // The wrapper program, which takes the engine's command lines: the mount and every one-shot
    // command.
    static QString program();
    // Whether the engine's FUSE mount ("fuse.rclone" in /proc/self/mountinfo) is at `path`.
    static bool isMounted(const QString &path);

    UpstreamEngine(const S3Server &server, Options options);
    UpstreamEngine(const UpstreamEngine &) = delete;
    UpstreamEngine &operator=(const UpstreamEngine &) = delete;
    ~UpstreamEngine();

    // Starts the engine and waits until its remote control answers and its mount is there;
    // false (see output()) when that does not happen within 30 s.
    bool start();
    void stop();

    DriveCore::RCClient client() const { return *m_client; }
    // The engine's process (the wrapper runs rclone in its place).
    qint64 processId() const { return m_process.processId(); }
    const DriveCore::DriveSettings &settings() const { return m_options.settings; }
    QString home() const { return m_home.path(); }
    // Where the engine mounts the drive: the mount folder, or the backing folder with fskit.
    const QString &mountPoint() const { return m_mountPoint; }
    const QString &cacheDir() const { return m_cacheDir; }
    const QString &logFile() const { return m_logFile; }
    // What the engine wrote, and its log, for failure messages.
    QString output();

private:
    QStringList arguments(int port) const;
    void unmount();

    Options m_options;
    DriveCore::Environment m_environment;
    QString m_pass;
    QTemporaryDir m_home;
    QString m_mountPoint;
    QString m_cacheDir;
    QString m_logFile;
    QProcess m_process;
    QByteArray m_output;
    std::optional<DriveCore::RCClient> m_client;
};

} // namespace TestSupport
