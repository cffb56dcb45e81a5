#include "UpstreamDrive.h"

#include "DriveCore/engine/RcloneCommand.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QStandardPaths>

using namespace DriveCore;
using TestSupport::await;

namespace ServicesTest {

namespace {

const QString user = QStringLiteral("corvane");
const QString pass = QStringLiteral("rc:pass");

} // namespace

bool UpstreamDrive::start(QString *failure)
{
    if (!m_s3.start()) {
        *failure = m_s3.output();
        return false;
    }
    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    // Exactly the drive's configuration: no AWS_CA_BUNDLE or other variables of the sandbox.
    Environment environment =
        RcloneCommand::environment(m_s3.secrets(), RcloneCommand::obscure(QStringLiteral("passphrase")));
    environment.insert(RcloneCommand::rcEnvironment(user, pass));
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    environment.insert(QStringLiteral("HOME"), m_home.path());
    environment.insert(QStringLiteral("RCLONE_CONFIG_LOCALDRIVE_TYPE"), QStringLiteral("alias"));
    environment.insert(QStringLiteral("RCLONE_CONFIG_LOCALDRIVE_REMOTE"), m_local.path());
    const bool started = m_engine.start(
        rclone,
        [](int port) {
            return QStringList{QStringLiteral("rcd"), QStringLiteral("--rc-addr"),
                               QStringLiteral("127.0.0.1:%1").arg(port)};
        },
        environment, user, pass);
    if (!started)
        *failure = m_engine.output();
    return started;
}

void UpstreamDrive::clear() const
{
    for (const char *fs : {filesFs, trashFs}) {
        try {
            await(client().purge(QString::fromLatin1(fs), QString()));
        } catch (const RCError &) {
            // Not there.
        }
    }
}

void UpstreamDrive::put(const QString &fs, const QString &remote, const QByteArray &contents) const
{
    QFile file(m_transfers.filePath(QStringLiteral("upload")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    file.write(contents);
    file.close();
    await(client().copyFile(m_transfers.path(), QStringLiteral("upload"), fs, remote));
}

bool UpstreamDrive::isFile(const QString &fs, const QString &remote) const
{
    return await(client().stat(fs, remote, true)).has_value();
}

QByteArray UpstreamDrive::contents(const QString &fs, const QString &remote) const
{
    // Copying skips a target that looks the same: there is none.
    QFile file(m_transfers.filePath(QStringLiteral("download")));
    file.remove();
    await(client().copyFile(fs, remote, m_transfers.path(), QStringLiteral("download")));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(file.fileName()));
    return file.readAll();
}

QStringList UpstreamDrive::files(const QString &fs) const
{
    QStringList paths;
    try {
        for (const ListItem &item : await(client().list(fs, QString(), true))) {
            if (!item.IsDir)
                paths.append(item.Path);
        }
    } catch (const RCError &error) {
        if (!error.message.contains(u"directory not found"))
            throw;
    }
    paths.sort();
    return paths;
}

QCoro::Task<> done()
{
    co_return;
}

void UpstreamDriveTest::SetUpTestSuite()
{
    drive = std::make_unique<UpstreamDrive>();
    QString failure;
    if (!drive->start(&failure)) {
        drive.reset();
        FAIL() << failure.toStdString();
    }
}

void UpstreamDriveTest::SetUp()
{
    ASSERT_TRUE(drive) << "the engine did not start";
    drive->clear();
}

RecentlyDeletedService::Forget UpstreamDriveTest::recordForgets()
{
    return [this](QStringList paths, CancelToken) {
        forgotten.append(paths);
        return done();
    };
}

RecentlyDeletedService::Nudge UpstreamDriveTest::recordNudges()
{
    return [this](QString mount, QString folder) {
        nudged.append({mount, folder});
        return done();
    };
}

} // namespace ServicesTest
