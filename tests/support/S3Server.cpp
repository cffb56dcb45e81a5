#include "support/S3Server.h"

#include "support/FreePort.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>

namespace TestSupport {

namespace {

// s3rver keeps each object as "<key>._S3rver_object" below the bucket's folder.
const QString objectSuffix = QStringLiteral("._S3rver_object");

bool answers(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(200))
        return false;
    socket.write("GET / HTTP/1.0\r\n\r\n");
    return socket.waitForReadyRead(1000) && socket.readAll().startsWith("HTTP/");
}

} // namespace

S3Server::S3Server(QString bucket) : m_bucket(std::move(bucket)) {}

bool S3Server::start()
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    const QString launcher = QStringLiteral(CORVANE_TEST_SOURCE_DIR "/support/s3-server.cjs");
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(node, {launcher, QStringLiteral("--silent"), QStringLiteral("--address"), QStringLiteral("127.0.0.1"),
                               QStringLiteral("--port"), QString::number(m_port), QStringLiteral("--directory"), m_folder.path(),
                               QStringLiteral("--configure-bucket"), m_bucket});
        if (!m_process.waitForStarted())
            return false;
        const QDeadlineTimer deadline(15'000);
        while (m_process.state() == QProcess::Running && !deadline.hasExpired()) {
            if (answers(m_port))
                return true;
            QThread::msleep(50);
        }
        stop();
    }
    return false;
}

void S3Server::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    m_output += m_process.readAll();
}

DriveCore::StorageSecrets S3Server::secrets() const
{
    return {endpoint(), m_bucket, accessKeyID, secretAccessKey};
}

QStringList S3Server::objectNames() const
{
    const QDir root(m_folder.filePath(m_bucket));
    QStringList names;
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = root.relativeFilePath(it.next());
        if (path.endsWith(objectSuffix))
            names << path.chopped(objectSuffix.size());
    }
    names.sort();
    return names;
}

QString S3Server::output()
{
    m_output += m_process.readAll();
    return QString::fromUtf8(m_output);
}

} // namespace TestSupport
