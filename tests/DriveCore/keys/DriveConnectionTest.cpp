// The storage connection's rules, with a stand-in program where the real engine cannot be made
// to say something; DriveConnectionS3Test runs the real engine.
#include "DriveCore/keys/DriveConnection.h"

#include "DriveCore/engine/RcloneCommand.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;

namespace {

const StorageSecrets secrets{QStringLiteral("https://example.test"), QStringLiteral("photos"),
                             QStringLiteral("AKIDEXAMPLE"), QStringLiteral("wJalrXUtnFEMI/K7MDENG")};

TEST(ConnectionError, ClassifiesByTheFirstMatchingGroup)
{
    struct Case {
        const char *stderrText;
        ConnectionError expected;
    };
    const std::vector<Case> cases{
        {"ERROR : SignatureDoesNotMatch: bad", ConnectionError(ConnectionError::badKeys)},
        {"failed: SIGNATUREdoesNOTmatch", ConnectionError(ConnectionError::badKeys)},
        {"InvalidAccessKeyId: nope\n\tstatus code: 403, request id:", ConnectionError(ConnectionError::badKeys)},
        {"AccessDenied", ConnectionError(ConnectionError::badKeys)},
        {"HTTP 403 Forbidden", ConnectionError(ConnectionError::badKeys)},
        {"401 Unauthorized", ConnectionError(ConnectionError::badKeys)},
        {"error listing: directory not found", ConnectionError(ConnectionError::bucketNotFound)},
        {"NoSuchBucket: The specified bucket does not exist", ConnectionError(ConnectionError::bucketNotFound)},
        {"dial tcp: lookup x.example: no such host", ConnectionError(ConnectionError::offline)},
        {"connect: connection refused", ConnectionError(ConnectionError::offline)},
        {"read: connection reset by peer", ConnectionError(ConnectionError::offline)},
        {"net/http: TLS handshake timeout", ConnectionError(ConnectionError::offline)},
        // Bad keys come first, whatever else the text holds.
        {"dial tcp 1.2.3.4: i/o timeout\nAccessDenied", ConnectionError(ConnectionError::badKeys)},
        {"NoSuchBucket after connection refused", ConnectionError(ConnectionError::bucketNotFound)},
        // Otherwise the last line that reports an error, trimmed.
        {"NOTICE: one\n  2024/01/01 ERROR : the real problem \t\nNOTICE: after\n",
         ConnectionError(ConnectionError::other, QStringLiteral("2024/01/01 ERROR : the real problem"))},
        {"something\nFailed to lsf: x\nlast words",
         ConnectionError(ConnectionError::other, QStringLiteral("Failed to lsf: x"))},
        {"just\nthe last line\n\n", ConnectionError(ConnectionError::other, QStringLiteral("the last line"))},
        {"", ConnectionError(ConnectionError::other, QString())},
    };
    for (const Case &c : cases) {
        const ConnectionError classified = ConnectionError::classify(QString::fromUtf8(c.stderrText));
        EXPECT_EQ(classified.value, c.expected.value) << c.stderrText;
        EXPECT_EQ(classified.detail, c.expected.detail) << c.stderrText;
    }
}

TEST(ConnectionError, MessagesAndTheCutDetail)
{
    EXPECT_EQ(ConnectionError(ConnectionError::badKeys).message(),
              QStringLiteral("Those storage keys didn't work. Check the Access Key ID and Secret Access Key."));
    EXPECT_EQ(ConnectionError(ConnectionError::bucketNotFound).message(),
              QStringLiteral("That bucket wasn't found. Check the bucket name."));
    EXPECT_EQ(ConnectionError(ConnectionError::offline).message(),
              QStringLiteral("Couldn't reach the storage. Check your internet connection."));
    EXPECT_EQ(ConnectionError(ConnectionError::other).message(),
              QStringLiteral("Something went wrong talking to the storage: "));
    EXPECT_STREQ(ConnectionError(ConnectionError::offline).what(),
                 "Couldn't reach the storage. Check your internet connection.");

    // 300 user-perceived characters: an accent written as a combining mark is not cut off.
    const QString long310 =
        QStringLiteral("ERROR ") + QString(293, u'x') + QStringLiteral("e\u0301") + QString(10, u'y');
    const ConnectionError cut = ConnectionError::classify(long310);
    EXPECT_EQ(cut.detail, long310.left(301)) << "299 plain characters and one accented e";
}

TEST(ConnectionError, RedactsBothKeysBeforeClassifying)
{
    const RcloneResult result{
        1, {}, "ERROR : key AKIDEXAMPLE with secret wJalrXUtnFEMI/K7MDENG, again wJalrXUtnFEMI/K7MDENG\n"};
    const ConnectionError error = ConnectionError::failedCommand(result, secrets);
    EXPECT_EQ(error.detail, QStringLiteral("ERROR : key <redacted> with secret <redacted>, again <redacted>"));
    EXPECT_FALSE(error.message().contains(secrets.secretAccessKey));
    // Exact and case-sensitive; empty values are not searched for.
    EXPECT_EQ(ConnectionError::redact(QStringLiteral("akidexample AKIDEXAMPLE"), secrets),
              QStringLiteral("akidexample <redacted>"));
    EXPECT_EQ(ConnectionError::redact(QStringLiteral("abc"), StorageSecrets{}), QStringLiteral("abc"));
    EXPECT_EQ(ConnectionError(ConnectionError::other, QStringLiteral("a")),
              ConnectionError(ConnectionError::other, QStringLiteral("a")));
    EXPECT_FALSE(ConnectionError(ConnectionError::other, QStringLiteral("a"))
                 == ConnectionError(ConnectionError::other, QStringLiteral("b")));
}

TEST(DriveConnection, EnvironmentLeavesTheEncryptedRemoteOutWithoutAPassphrase)
{
    const DriveConnection connection(QStringLiteral("/bin/true"));
    const Environment designed = RcloneCommand::environment(secrets, QStringLiteral("obscured"));

    const Environment withPassphrase = connection.environment(secrets, QStringLiteral("obscured"));
    EXPECT_EQ(withPassphrase, designed);

    const Environment without = connection.environment(secrets, std::nullopt);
    for (auto it = designed.begin(); it != designed.end(); ++it) {
        if (it.key().startsWith(QLatin1String("RCLONE_CONFIG_DRIVECRYPT_")))
            EXPECT_FALSE(without.contains(it.key())) << it.key().toStdString();
        else
            EXPECT_EQ(without.value(it.key()), it.value()) << it.key().toStdString();
    }
    EXPECT_EQ(without.value(QStringLiteral("RCLONE_CONFIG")), QStringLiteral("/dev/null"));

    // The base remote can point elsewhere; only its own entries are taken.
    DriveConnection elsewhere(QStringLiteral("/bin/true"));
    elsewhere.baseEnvironment = [](const StorageSecrets &) {
        return Environment{{QStringLiteral("RCLONE_CONFIG_DRIVE_TYPE"), QStringLiteral("local")},
                           {QStringLiteral("RCLONE_CONFIG_DRIVECRYPT_TYPE"), QStringLiteral("ignored")},
                           {QStringLiteral("HOME"), QStringLiteral("ignored")}};
    };
    const Environment local = elsewhere.environment(secrets, QStringLiteral("obscured"));
    EXPECT_EQ(local.value(QStringLiteral("RCLONE_CONFIG_DRIVE_TYPE")), QStringLiteral("local"));
    EXPECT_FALSE(local.contains(QStringLiteral("RCLONE_CONFIG_DRIVE_ENDPOINT")));
    EXPECT_EQ(local.value(QStringLiteral("RCLONE_CONFIG_DRIVECRYPT_TYPE")), QStringLiteral("crypt"));
    EXPECT_FALSE(local.contains(QStringLiteral("HOME")));
}

TEST(DriveConnection, ParsesListingLines)
{
    const QByteArray output =
        "12\tnotes.txt\n-1\tPhotos/\nno tab here\n\n7\tname\twith tab\nabc\tweird size\n0\tempty\n";
    const QList<DriveConnection::Entry> expected{
        {QStringLiteral("notes.txt"), false, 12},     {QStringLiteral("Photos"), true, -1},
        {QStringLiteral("name\twith tab"), false, 7}, {QStringLiteral("weird size"), false, -1},
        {QStringLiteral("empty"), false, 0},
    };
    EXPECT_EQ(DriveConnection::parseListing(output), expected);
}

TEST(DriveConnection, DecryptionFailureFragments)
{
    EXPECT_TRUE(DriveConnection::isDecryptionFailure(
        QStringLiteral("x: failed to authenticate decrypted block - bad password?")));
    EXPECT_TRUE(DriveConnection::isDecryptionFailure(QStringLiteral("not an encrypted file - bad magic")));
    EXPECT_TRUE(DriveConnection::isDecryptionFailure(QStringLiteral("file is too short to be encrypted")));
    EXPECT_FALSE(DriveConnection::isDecryptionFailure(QStringLiteral("Bad Password")));
}

class StandInProgramTest : public ::testing::Test {
protected:
    // A program in place of the engine that records its arguments and environment, then runs `body`.
    QString standIn(const QString &body)
    {
        return TestSupport::writeScript(folder.filePath(QStringLiteral("rclone")),
                                        QStringLiteral("for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '%1'\n"
                                                       "/usr/bin/env > '%2'\n%3\n")
                                            .arg(folder.filePath(QStringLiteral("arguments")),
                                                 folder.filePath(QStringLiteral("environment")), body));
    }
    QStringList recorded(const QString &name)
    {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        lines.removeAll(QString());
        lines.sort();
        return lines;
    }

    QTemporaryDir folder;
};

TEST_F(StandInProgramTest, StorageTestRunsTheDesignedCommandWithExactlyTheDesignedEnvironment)
{
    DriveConnection connection(standIn(QStringLiteral("exit 0")));
    EXPECT_EQ(await(connection.testStorage(secrets)), std::nullopt);

    QStringList expectedArguments{
        "lsf", "drive:photos", "--max-depth", "1",         "--retries", "1", "--low-level-retries",
        "2",   "--contimeout", "15s",         "--timeout", "30s"};
    expectedArguments.sort();
    EXPECT_EQ(recorded(QStringLiteral("arguments")), expectedArguments);

    QStringList expectedEnvironment;
    const Environment designed = connection.environment(secrets, std::nullopt);
    for (auto it = designed.begin(); it != designed.end(); ++it)
        expectedEnvironment << it.key() + u'=' + it.value();
    // The shell adds its working folder; nothing else of ours is inherited.
    QStringList environment = recorded(QStringLiteral("environment"));
    environment.removeIf([](const QString &line) { return line.startsWith(QLatin1String("PWD=")); });
    EXPECT_EQ(environment, expectedEnvironment);
}

TEST_F(StandInProgramTest, FailuresAreRedactedAndClassified)
{
    DriveConnection connection(
        standIn(QStringLiteral("echo 'NOTICE: retrying with AKIDEXAMPLE' >&2\n"
                               "echo 'ERROR : odd reply for wJalrXUtnFEMI/K7MDENG' >&2\nexit 1")));
    const std::optional<ConnectionError> failure = await(connection.testStorage(secrets));
    ASSERT_TRUE(failure);
    EXPECT_EQ(*failure, ConnectionError(ConnectionError::other, QStringLiteral("ERROR : odd reply for <redacted>")));

    // The throwing commands use the same rule.
    const auto thrown =
        TestSupport::failureOf<ConnectionError>(connection.checkPassphrase(QStringLiteral("pass"), secrets));
    ASSERT_TRUE(thrown);
    EXPECT_EQ(thrown->detail, QStringLiteral("ERROR : odd reply for <redacted>"));
}

TEST_F(StandInProgramTest, AMissingProgramIsAStorageTestFailureButThrowsElsewhere)
{
    DriveConnection connection(folder.filePath(QStringLiteral("missing")));
    EXPECT_EQ(await(connection.testStorage(secrets)),
              ConnectionError(ConnectionError::other, QStringLiteral("Couldn't start the storage helper.")));
    EXPECT_TRUE(TestSupport::failureOf<ProcessRunner::LaunchError>(
        connection.prepareNewDrive(QStringLiteral("pass"), secrets)));
}

TEST_F(StandInProgramTest, CancellingInterruptsTheRunningChild)
{
    const QString marker = folder.filePath(QStringLiteral("interrupted"));
    DriveConnection connection(standIn(QStringLiteral("trap \"echo yes > '%1'; exit 130\" INT\n"
                                                      "while :; do /bin/sleep 0.05; done")
                                           .arg(marker)));
    CancelSource source;
    QTimer::singleShot(300ms, [&] { source.request_stop(); });
    EXPECT_TRUE(TestSupport::failureOf<CancelledError>(
        connection.checkPassphrase(QStringLiteral("pass"), secrets, source.get_token())));
    EXPECT_TRUE(QFile::exists(marker));
}

} // namespace
