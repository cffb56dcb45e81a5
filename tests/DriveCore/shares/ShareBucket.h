#pragma once

#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/shares/RcloneShareStorage.h"
#include "support/S3Server.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace TestSupport {

// A bucket on the loopback S3 server and the engine program (Debian's rclone) configured for it
// exactly as the drive configures it, for the share tests. Stand-in programs for the engine are
// written into its own folder.
class ShareBucket {
public:
    // Starts the S3 server; false (see server().output()) when it does not answer.
    bool start();
    S3Server &server() { return *m_server; }
    const S3Server &server() const { return *m_server; }

    // The engine program; empty when it is not installed.
    static QString rclone();
    // The bucket's keys; before start(), those of a bucket named "bucket" that nothing serves.
    DriveCore::StorageSecrets secrets() const;
    // The drive's remotes for this bucket, and PATH and HOME of the test's own.
    DriveCore::Environment environment() const;
    // The storage of the bucket's shares folder, run by `program` (the engine by default), with
    // SHARE_TEST_FAIL set to `failPattern` for failingEngine().
    std::shared_ptr<DriveCore::RcloneShareStorage> storage(const QString &program = {},
                                                           const QString &failPattern = {}) const;
    // One object's bytes, read back by the engine program; `key` below the bucket.
    QByteArray object(const QString &key) const;

    // A stand-in for the engine: a shell script that logs each command line to callsLog(), fails
    // the runs whose command line matches one of the shell patterns in SHARE_TEST_FAIL (an
    // environment variable of the storage, one pattern a line) with "injected failure: <command>"
    // and status 1, and passes the rest to the engine program.
    QString failingEngine();
    QString callsLog() const { return m_folder.filePath(QStringLiteral("calls.log")); }
    QStringList calls() const;
    // Writes an executable shell script (after "#!/bin/sh") into this bucket's folder.
    QString script(const QString &name, const QString &body) const;

private:
    // Made by start(): tests of stand-ins alone need no server.
    std::unique_ptr<S3Server> m_server;
    QTemporaryDir m_folder;
};

} // namespace TestSupport
