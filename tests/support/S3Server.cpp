#include "support/S3Server.h"

#include "support/FreePort.h"
#include "support/StopProcess.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QStandardPaths>

namespace TestSupport {

namespace {

// s3rver keeps each object as "<key>._S3rver_object" below the bucket's folder.
const QString objectSuffix = QStringLiteral("._S3rver_object");

} // namespace

S3Server::S3Server(QString bucket) : m_bucket(std::move(bucket)) {}

bool S3Server::start()
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    const QString launcher = QStringLiteral(CORVANE_TOOLS_DIR "/s3-server.cjs");
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_port = freePort();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(node, {launcher, QStringLiteral("--silent"), QStringLiteral("--address"), QStringLiteral("127.0.0.1"),
                               QStringLiteral("--port"), QString::number(m_port), QStringLiteral("--directory"), m_folder.path(),
                               QStringLiteral("--configure-bucket"), m_bucket});
        if (!m_process.waitForStarted())
            return false;
        // Its own line, not an answer on the port: another program may have taken the port
        // between choosing it and the start, and then s3rver exits.
        const qsizetype from = m_output.size();
        const QDeadlineTimer deadline(15'000);
        while (m_process.state() == QProcess::Running && !deadline.hasExpired()) {
            m_process.waitForReadyRead(100);
            m_output += m_process.readAll();
            if (m_output.indexOf("S3rver listening on ", from) >= 0)
                return true;
        }
        stop();
    }
    return false;
}

void S3Server::stop()
{
    stopProcess(m_process);
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

qint64 S3Server::bytesStored() const
{
    qint64 total = 0;
    QDirIterator it(m_folder.filePath(m_bucket), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        if (const QFileInfo file = it.nextFileInfo(); file.fileName().endsWith(objectSuffix))
            total += file.size();
    return total;
}

QString S3Server::output()
{
    m_output += m_process.readAll();
    return QString::fromUtf8(m_output);
}

} // namespace TestSupport
