#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/services/RecentlyDeleted.h"
#include "support/fake-engine/RCServerProcess.h"
#include "support/S3Server.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace ServicesTest {

// Debian's rclone serving its remote-control interface ("rclone rcd") with the drive's own
// remotes over an S3 server on loopback: "drivecrypt:Drive" and "drivecrypt:Recently Deleted"
// are the real encrypted folders of a bucket. Beside them the remote "localdrive" stands for
// the same layout in a local folder, where rclone reports a missing folder as "directory not
// found" (S3 lists it as empty). Stopped with this object.
class UpstreamDrive {
public:
    static constexpr const char *filesFs = "drivecrypt:Drive";
    static constexpr const char *trashFs = "drivecrypt:Recently Deleted";
    static constexpr const char *localRemote = "localdrive";

    // Starts the S3 server and the engine; false, with what they wrote, when either fails.
    bool start(QString *failure);

    DriveCore::RCClient client() const { return m_engine.client(); }
    // The folder behind "localdrive:".
    QString localFolder() const { return m_local.path(); }

    // Removes both folders of the drive.
    void clear() const;
    // Writes a file at `remote` inside `fs`.
    void put(const QString &fs, const QString &remote, const QByteArray &contents = "x") const;
    bool isFile(const QString &fs, const QString &remote) const;
    QByteArray contents(const QString &fs, const QString &remote) const;
    // Every file below `fs`, sorted; none when the folder does not exist.
    QStringList files(const QString &fs) const;

private:
    TestSupport::S3Server m_s3;
    TestSupport::RCServerProcess m_engine;
    QTemporaryDir m_home;
    QTemporaryDir m_local;
    QTemporaryDir m_transfers;
};

// An operation that is done at once.
QCoro::Task<> done();

// Tests on one UpstreamDrive shared by the suite and emptied before each test, with the forget
// and nudge operations of the services recorded.
class UpstreamDriveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite() { drive.reset(); }
    void SetUp() override;

    DriveCore::RecentlyDeletedService::Forget recordForgets();
    DriveCore::RecentlyDeletedService::Nudge recordNudges();

    static inline std::unique_ptr<UpstreamDrive> drive;
    const QString filesFs = QString::fromLatin1(UpstreamDrive::filesFs);
    const QString trashFs = QString::fromLatin1(UpstreamDrive::trashFs);
    QDateTime now = QDateTime(QDate(2026, 4, 10), QTime(12, 0));
    QStringList forgotten;
    QList<std::pair<QString, QString>> nudged; // (mount folder, folder)
};

} // namespace ServicesTest
