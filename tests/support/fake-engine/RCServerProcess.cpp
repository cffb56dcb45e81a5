#include "support/fake-engine/RCServerProcess.h"

#include "support/FreePort.h"
#include "support/StopProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonObject>
#include <QThread>

namespace TestSupport {

bool RCServerProcess::start(const QString &program, const Arguments &arguments,
                            const DriveCore::Environment &environment, const QString &user, const QString &pass)
{
    QProcessEnvironment processEnvironment;
    for (auto it = environment.begin(); it != environment.end(); ++it)
        processEnvironment.insert(it.key(), it.value());
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = freePort();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setProcessEnvironment(processEnvironment);
        m_process.start(program, arguments(port));
        if (!m_process.waitForStarted())
            return false;
        m_client.emplace(port, user, pass);
        const QDeadlineTimer deadline(10'000);
        while (m_process.state() == QProcess::Running && !deadline.hasExpired()) {
            if (QCoro::waitFor(m_client->ping())) {
                if (answersAsItself())
                    return true;
                break;
            }
            QThread::msleep(20);
        }
        stop();
    }
    return false;
}

// Another server may have taken the port between choosing it and the start (then the process
// exits), and may even take the same credentials: the answer must come from the process itself.
bool RCServerProcess::answersAsItself()
{
    try {
        const QJsonObject reply = QCoro::waitFor(m_client->call(QStringLiteral("core/pid"), {}));
        return reply.value(QStringLiteral("pid")).toInteger() == m_process.processId();
    } catch (const std::exception &) {
        return false;
    }
}

void RCServerProcess::stop()
{
    TestSupport::stopProcess(m_process);
    m_output += m_process.readAll();
}

QString RCServerProcess::output()
{
    m_output += m_process.readAll();
    return QString::fromUtf8(m_output);
}

} // namespace TestSupport
