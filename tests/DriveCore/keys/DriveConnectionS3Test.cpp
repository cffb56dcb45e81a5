// The storage connection with the real engine program (Debian's rclone) against an S3 server on
// loopback.
#include "DriveCore/keys/DriveConnection.h"

#include "DriveCore/engine/RcloneCommand.h"
#include "support/FreePort.h"
#include "support/S3Server.h"
#include "support/TestSupport.h"

#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;

namespace {

const QString passphrase = QStringLiteral("correct horse battery staple");
const QString otherPassphrase = QStringLiteral("a different passphrase entirely");

class DriveConnectionS3Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(rclone.isEmpty()) << "rclone is not installed";
        ASSERT_TRUE(server.start()) << server.output().toStdString();
    }

    // Runs the engine by hand on the drive's remotes, as another computer would have written.
    RcloneResult engine(const QStringList &arguments, const QString &pass = passphrase,
                        std::optional<QByteArray> input = std::nullopt)
    {
        return await(ProcessRunner::run(rclone, arguments,
                                        connection.environment(server.secrets(), RcloneCommand::obscure(pass)),
                                        std::move(input)));
    }
    void put(const QString &path, const QByteArray &content)
    {
        const RcloneResult result =
            engine({QStringLiteral("rcat"), QStringLiteral("drivecrypt:") + path}, passphrase, content);
        ASSERT_EQ(result.status, 0) << result.stderrText().toStdString();
    }
    QByteArray read(const QString &path)
    {
        const RcloneResult result = engine({QStringLiteral("cat"), QStringLiteral("drivecrypt:") + path});
        EXPECT_EQ(result.status, 0) << path.toStdString() << ": " << result.stderrText().toStdString();
        return result.stdoutBytes;
    }
    // Every file of the decrypted drive, sorted.
    QStringList files(const QString &folder = {})
    {
        const RcloneResult result = engine({QStringLiteral("lsf"), QStringLiteral("-R"), QStringLiteral("--files-only"),
                                            QStringLiteral("drivecrypt:") + folder});
        EXPECT_EQ(result.status, 0) << result.stderrText().toStdString();
        QStringList names = QString::fromUtf8(result.stdoutBytes).split(u'\n', Qt::SkipEmptyParts);
        names.sort();
        return names;
    }
    PassphraseCheck check(const QString &pass) { return await(connection.checkPassphrase(pass, server.secrets())); }

    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    TestSupport::S3Server server;
    DriveConnection connection{rclone};
};

TEST_F(DriveConnectionS3Test, StorageTestTellsWorkingKeysFromEachFailure)
{
    const StorageSecrets good = server.secrets();
    StorageSecrets unknownKey = good;
    unknownKey.accessKeyID = QStringLiteral("NOSUCHKEY");
    StorageSecrets missingBucket = good;
    missingBucket.bucket = QStringLiteral("no-such-bucket");
    StorageSecrets closedPort = good;
    closedPort.endpoint = QStringLiteral("http://127.0.0.1:%1").arg(TestSupport::freePort());

    struct Case {
        const char *name;
        StorageSecrets secrets;
        std::optional<ConnectionError> expected;
    };
    const std::vector<Case> cases{
        {"an empty bucket", good, std::nullopt},
        {"an unknown access key id", unknownKey, ConnectionError(ConnectionError::badKeys)},
        {"a missing bucket", missingBucket, ConnectionError(ConnectionError::bucketNotFound)},
        {"a closed port", closedPort, ConnectionError(ConnectionError::offline)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(await(connection.testStorage(c.secrets)), c.expected) << c.name;
}

TEST_F(DriveConnectionS3Test, NewDriveIsMarkedWithAnEncryptedCheckObject)
{
    EXPECT_EQ(check(passphrase), PassphraseCheck::newDrive);
    EXPECT_TRUE(server.objectNames().isEmpty()) << "the check writes nothing into an empty bucket";

    await(connection.prepareNewDrive(passphrase, server.secrets()));
    const QStringList objects = server.objectNames();
    ASSERT_EQ(objects.size(), 1);
    EXPECT_FALSE(objects.first().contains(QStringLiteral("check")));
    EXPECT_FALSE(objects.first().contains(QStringLiteral(".corvane")));
    const RcloneResult raw = engine({QStringLiteral("cat"), QStringLiteral("drive:bucket/") + objects.first()});
    ASSERT_EQ(raw.status, 0);
    EXPECT_FALSE(raw.stdoutBytes.contains("corvane-drive-check-v1")) << "the content is encrypted";
    EXPECT_EQ(read(QStringLiteral(".corvane/check")), "corvane-drive-check-v1");

    EXPECT_EQ(check(passphrase), PassphraseCheck::correct);
    EXPECT_EQ(check(otherPassphrase), PassphraseCheck::wrong);
    EXPECT_EQ(server.objectNames(), objects) << "neither check writes anything";
}

TEST_F(DriveConnectionS3Test, ExistingDriveWithoutCheckObjectIsConfirmedByReadingAFile)
{
    put(QStringLiteral("Drive/Notes/todo.txt"), "milk");
    put(QStringLiteral("report.pdf"), "%PDF");
    const QStringList before = server.objectNames();

    EXPECT_EQ(check(otherPassphrase), PassphraseCheck::wrong);
    EXPECT_EQ(server.objectNames(), before) << "a wrong passphrase writes nothing";

    EXPECT_EQ(check(passphrase), PassphraseCheck::correct);
    EXPECT_EQ(server.objectNames().size(), before.size() + 1) << "the check object is written";
    EXPECT_EQ(read(QStringLiteral(".corvane/check")), "corvane-drive-check-v1");
    EXPECT_EQ(check(passphrase), PassphraseCheck::correct);
    EXPECT_EQ(check(otherPassphrase), PassphraseCheck::wrong);
}

TEST_F(DriveConnectionS3Test, OlderLayoutMovesIntoDriveWithoutOverwritingAnything)
{
    put(QStringLiteral("a.txt"), "from the top");
    put(QStringLiteral("Photos/beach.jpg"), "beach");
    put(QStringLiteral("Drive/a.txt"), "already inside");
    put(QStringLiteral("Drive/a (2).txt"), "also inside");
    put(QStringLiteral("Drive/Photos/city.jpg"), "city");
    put(QStringLiteral("Recently Deleted/2024-01-01/old.txt"), "old");

    // Without the check object nothing is moved, even with the right passphrase.
    EXPECT_TRUE(
        TestSupport::failureOf<PassphraseNotConfirmed>(connection.migrateRootIntoDrive(passphrase, server.secrets())));
    EXPECT_EQ(read(QStringLiteral("a.txt")), "from the top");

    await(connection.prepareNewDrive(passphrase, server.secrets()));
    EXPECT_EQ(await(connection.migrateRootIntoDrive(passphrase, server.secrets())), 2);

    EXPECT_EQ(files(QStringLiteral("Drive")),
              (QStringList{"Photos (2)/beach.jpg", "Photos/city.jpg", "a (2).txt", "a (3).txt", "a.txt"}));
    EXPECT_EQ(read(QStringLiteral("Drive/a.txt")), "already inside");
    EXPECT_EQ(read(QStringLiteral("Drive/a (2).txt")), "also inside");
    EXPECT_EQ(read(QStringLiteral("Drive/a (3).txt")), "from the top");
    EXPECT_EQ(read(QStringLiteral("Drive/Photos (2)/beach.jpg")), "beach");
    EXPECT_EQ(read(QStringLiteral("Recently Deleted/2024-01-01/old.txt")), "old");
    const QStringList top = files();
    EXPECT_FALSE(top.contains(QStringLiteral("a.txt")));
    EXPECT_FALSE(top.contains(QStringLiteral("Photos/beach.jpg")));

    // Nothing is left at the top: a second run moves nothing.
    EXPECT_EQ(await(connection.migrateRootIntoDrive(passphrase, server.secrets())), 0);
}

TEST_F(DriveConnectionS3Test, AProbeEndedByASignalMovesNothing)
{
    put(QStringLiteral("a.txt"), "from the top");
    put(QStringLiteral("Drive/a.txt"), "already inside");
    await(connection.prepareNewDrive(passphrase, server.secrets()));

    // SIGQUIT is signal 3, the engine's exit status for a folder that does not exist: the
    // free-name probe must not read its death as "that name is free".
    QTemporaryDir folder;
    DriveConnection probeDies(
        TestSupport::writeScript(folder.filePath(QStringLiteral("rclone")),
                                 QStringLiteral("ulimit -c 0\n"
                                                "case \"$1 $2\" in \"lsf drivecrypt:Drive/\"*) kill -QUIT $$ ;; esac\n"
                                                "exec '%1' \"$@\"\n")
                                     .arg(rclone)));
    const auto failure =
        TestSupport::failureOf<ConnectionError>(probeDies.migrateRootIntoDrive(passphrase, server.secrets()));
    ASSERT_TRUE(failure);
    EXPECT_EQ(*failure,
              ConnectionError(ConnectionError::other,
                              QStringLiteral("The storage helper was stopped by signal 3 (SIGQUIT).")));
    EXPECT_EQ(read(QStringLiteral("Drive/a.txt")), "already inside");
    EXPECT_EQ(read(QStringLiteral("a.txt")), "from the top");
}

} // namespace
