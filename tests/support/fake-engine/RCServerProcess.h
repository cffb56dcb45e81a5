#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/platform/ProcessRunner.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace TestSupport {

// A remote-control server process (the fake engine, or a real rclone) on a free loopback port,
// stopped when this goes away.
class RCServerProcess {
public:
    // The command line for a port.
    using Arguments = std::function<QStringList(int port)>;

    RCServerProcess() = default;
    RCServerProcess(const RCServerProcess &) = delete;
    RCServerProcess &operator=(const RCServerProcess &) = delete;
    ~RCServerProcess() { stop(); }

    // Starts `program` with exactly `environment` and waits until it answers a ping as
    // `user`/`pass`; tries other ports when the one picked was taken meanwhile.
    bool start(const QString &program, const Arguments &arguments, const DriveCore::Environment &environment,
               const QString &user, const QString &pass);
    // SIGTERM, then SIGKILL when it does not end.
    void stop();

    DriveCore::RCClient client() const { return *m_client; }
    QProcess &process() { return m_process; }
    // What the process wrote, for failure messages.
    QString output();

private:
    bool answersAsItself();

    QProcess m_process;
    QByteArray m_output;
    std::optional<DriveCore::RCClient> m_client;
};

} // namespace TestSupport
