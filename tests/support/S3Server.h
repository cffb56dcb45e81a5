#pragma once

#include "DriveCore/keys/SecretStore.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace TestSupport {

// An S3 server on a free loopback port (npm s3rver, from tests/node_modules, started through
// tools/s3-server.cjs), serving one bucket out of its own temporary folder. Stopped, and its
// folder removed, when this goes away.
// It checks access key ids but not signatures, so a wrong secret alone is not refused.
class S3Server {
public:
    static inline const QString accessKeyID = QStringLiteral("S3RVER");
    static inline const QString secretAccessKey = QStringLiteral("S3RVER");

    explicit S3Server(QString bucket = QStringLiteral("bucket"));
    S3Server(const S3Server &) = delete;
    S3Server &operator=(const S3Server &) = delete;
    ~S3Server() { stop(); }

    // Starts the server and waits until it answers; false (see output()) when it does not.
    bool start();
    void stop();

    int port() const { return m_port; }
    QString endpoint() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    const QString &bucket() const { return m_bucket; }
    // The keys of this server's bucket, as setup would store them.
    DriveCore::StorageSecrets secrets() const;
    // The names of every object in the bucket, sorted, read from the server's folder.
    QStringList objectNames() const;
    // The bytes of every object in the bucket, including one being written.
    qint64 bytesStored() const;
    // What the server wrote, for failure messages.
    QString output();

private:
    QString m_bucket;
    QTemporaryDir m_folder;
    QProcess m_process;
    QByteArray m_output;
    int m_port = 0;
};

} // namespace TestSupport
