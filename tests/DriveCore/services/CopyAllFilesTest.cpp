#include "DriveCore/services/CopyAllFiles.h"

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/keys/DriveConnection.h"
#include "support/S3Server.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

using namespace DriveCore;
using TestSupport::await;

namespace {

const QString passphrase = QStringLiteral("correct horse");

template<typename T>
std::optional<ConnectionError> connectionFailure(QCoro::Task<T> &&task)
{
    return TestSupport::failureOf<ConnectionError>(std::move(task));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

TEST(CopyAllFiles, ProgressComesFromStatisticsLinesOnly)
{
    const struct {
        const char *line;
        std::optional<CopyProgress> report;
    } cases[] = {
        {R"({"stats": {"bytes": 10, "totalBytes": 50}})", CopyProgress{10, 50}},
        {R"({"level":"warning","msg":"x","stats":{"bytes":3000003,"totalBytes":3000003,"eta":null}})",
         CopyProgress{3000003, 3000003}},
        {R"({"stats": {"bytes": 10}})", CopyProgress{10, 10}},
        {R"({"stats": {"bytes": 10, "totalBytes": null}})", CopyProgress{10, 10}},
        {R"({"stats": {}})", std::nullopt},
        {R"({"stats": null})", std::nullopt},
        {R"({"level": "notice"})", std::nullopt},
        {R"({"stats": {"bytes": "10"}})", std::nullopt},
        {R"({"stats": {"bytes": 10.5}})", std::nullopt},
        {R"({"stats": {"bytes": 10, "totalBytes": "50"}})", std::nullopt},
        {R"({"stats": [10]})", std::nullopt},
        {R"([{"stats": {"bytes": 10}}])", std::nullopt},
        {"2026/12/10 14:50:40 Failed to copy: directory not found", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CopyAllFiles::progress(QString::fromUtf8(c.line)), c.report) << c.line;
}

// The real engine program copying the encrypting remote over the S3 server.
class CopyAllFilesEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(rclone.isEmpty()) << "rclone is not installed";
        ASSERT_TRUE(server.start()) << server.output().toStdString();
    }

    void put(const QString &path, const QByteArray &contents)
    {
        const Environment environment = connection.environment(server.secrets(), RcloneCommand::obscure(passphrase));
        const RcloneResult result = await(ProcessRunner::run(
            rclone, {QStringLiteral("rcat"), QStringLiteral("drivecrypt:Drive/") + path}, environment, contents));
        ASSERT_EQ(result.status, 0) << result.stderrText().toStdString();
    }

    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    TestSupport::S3Server server;
    QTemporaryDir target;
    DriveConnection connection{rclone};
};

TEST_F(CopyAllFilesEngineTest, CopiesEveryFileDecryptedAndReportsProgressUpToTheTotal)
{
    const QByteArray photo = QByteArray(300'000, 'p');
    put(QStringLiteral("notes.txt"), "hello\n");
    put(QStringLiteral("Photos 2026/Caf\u00e9 \u00fcber.jpg"), photo);
    put(QStringLiteral("mine.txt"), "theirs");
    const qint64 total = 6 + photo.size() + 6;
    EXPECT_EQ(await(CopyAllFiles::driveSize(connection, server.secrets(), passphrase)), total);

    const QString destination = target.filePath(QStringLiteral("Ovra files"));
    QDir().mkpath(destination);
    QFile existing(destination + QStringLiteral("/mine.txt"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("kept");
    existing.close();

    std::vector<CopyProgress> reports;
    await(CopyAllFiles::copyAll(connection, destination, server.secrets(), passphrase,
                                [&](const CopyProgress &report) { reports.push_back(report); }));

    EXPECT_EQ(readFile(destination + QStringLiteral("/notes.txt")), "hello\n");
    EXPECT_EQ(readFile(destination + QStringLiteral("/Photos 2026/Caf\u00e9 \u00fcber.jpg")), photo);
    EXPECT_EQ(readFile(destination + QStringLiteral("/mine.txt")), "kept") << "files already there stay untouched";
    ASSERT_FALSE(reports.empty());
    // The file left in place is not transferred.
    EXPECT_EQ(reports.back(), (CopyProgress{total - 6, total - 6}));
}

TEST_F(CopyAllFilesEngineTest, AnEmptyDriveHasNoSize)
{
    EXPECT_EQ(await(CopyAllFiles::driveSize(connection, server.secrets(), passphrase)), 0);
}

TEST_F(CopyAllFilesEngineTest, AStoppedOrFailedCopyLeavesNoFileCutShortAndTheNextCopyCompletesIt)
{
    QByteArray large(8'000'000, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(large.data()), large.size() / 4);
    put(QStringLiteral("Videos/large.bin"), large);
    put(QStringLiteral("notes.txt"), "hello\n");

    // Slowed to 1 MB/s through the engine's own environment setting, set by a wrapper (the
    // connection's environment holds only the remotes), so the copy is still running when its
    // first report arrives. The wrapper leaves the engine's process id behind.
    const QString pidFile = target.filePath(QStringLiteral("engine.pid"));
    DriveConnection slow = connection;
    slow.rclone = TestSupport::writeScript(
        target.filePath(QStringLiteral("slow-rclone")),
        QStringLiteral("echo $$ > '%1'\nRCLONE_BWLIMIT=1M exec '%2' \"$@\"\n").arg(pidFile, rclone));
    // The engine writes the file in flight in place, under its final name.
    const struct {
        const char *name;
        bool kill; // else cancelled
    } cases[] = {{"stopped", false}, {"engine killed", true}};
    for (const auto &c : cases) {
        const QString destination = target.filePath(QString::fromUtf8(c.name));
        const QString largeCopy = destination + QStringLiteral("/Videos/large.bin");
        CancelSource cancel;
        std::vector<CopyProgress> reports;
        std::optional<qint64> sizeWhenStopped;
        const auto stop = [&](const CopyProgress &report) {
            reports.push_back(report);
            if (reports.size() > 1)
                return;
            sizeWhenStopped = QFileInfo(largeCopy).size();
            if (c.kill) {
                QFile file(pidFile);
                ASSERT_TRUE(file.open(QIODevice::ReadOnly));
                ASSERT_EQ(::kill(pid_t(file.readAll().trimmed().toInt()), SIGKILL), 0);
            } else {
                cancel.request_stop();
            }
        };
        std::exception_ptr failure;
        try {
            await(CopyAllFiles::copyAll(slow, destination, server.secrets(), passphrase, stop, cancel.get_token()));
        } catch (...) {
            failure = std::current_exception();
        }
        ASSERT_TRUE(failure) << c.name;
        if (c.kill)
            EXPECT_THROW(std::rethrow_exception(failure), ConnectionError) << c.name;
        else
            EXPECT_THROW(std::rethrow_exception(failure), CancelledError) << c.name;
        ASSERT_FALSE(reports.empty()) << c.name;
        ASSERT_TRUE(sizeWhenStopped) << c.name;
        EXPECT_LT(*sizeWhenStopped, large.size()) << c.name << ": stopped in the middle of the large file";
        EXPECT_FALSE(QFile::exists(largeCopy)) << c.name << ": the file cut short is gone";
        EXPECT_EQ(readFile(destination + QStringLiteral("/notes.txt")), "hello\n") << c.name << ": whole files stay";

        await(CopyAllFiles::copyAll(connection, destination, server.secrets(), passphrase, {}));
        EXPECT_TRUE(readFile(largeCopy) == large) << c.name << ": the next copy completes it";
        EXPECT_EQ(readFile(destination + QStringLiteral("/notes.txt")), "hello\n") << c.name;
    }
}

TEST_F(CopyAllFilesEngineTest, FilesCutShortAreRemovedOnlyInsideTheDestination)
{
    QByteArray large(8'000'000, Qt::Uninitialized);
    QRandomGenerator(9).fillRange(reinterpret_cast<quint32 *>(large.data()), large.size() / 4);
    put(QStringLiteral("Linked/large.bin"), large);

    // A folder of the destination that is a link to one elsewhere: the engine writes through
    // it, but the clean-up never reaches out of the destination.
    const QString destination = target.filePath(QStringLiteral("copy"));
    const QString elsewhere = target.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(destination) && QDir().mkpath(elsewhere));
    ASSERT_TRUE(QFile::link(elsewhere, destination + QStringLiteral("/Linked")));

    DriveConnection slow = connection;
    slow.rclone = TestSupport::writeScript(target.filePath(QStringLiteral("slow-rclone")),
                                           QStringLiteral("RCLONE_BWLIMIT=1M exec '%1' \"$@\"\n").arg(rclone));
    CancelSource cancel;
    EXPECT_TRUE(TestSupport::failureOf<CancelledError>(CopyAllFiles::copyAll(
        slow, destination, server.secrets(), passphrase, [&](const CopyProgress &) { cancel.request_stop(); },
        cancel.get_token())));
    const QFileInfo outside(elsewhere + QStringLiteral("/large.bin"));
    EXPECT_TRUE(outside.exists()) << "left alone outside the destination";
    EXPECT_LT(outside.size(), large.size()) << "the engine wrote it through the link";
}

TEST_F(CopyAllFilesEngineTest, WrongKeysAreTheStoragesRefusalOfTheKeys)
{
    put(QStringLiteral("notes.txt"), "hello\n");
    StorageSecrets wrong = server.secrets();
    wrong.accessKeyID = QStringLiteral("WRONGKEYID");

    const auto copy = connectionFailure(
        CopyAllFiles::copyAll(connection, target.path(), wrong, passphrase, [](const CopyProgress &) {}));
    const auto size = connectionFailure(CopyAllFiles::driveSize(connection, wrong, passphrase));
    for (const auto &failure : {copy, size}) {
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->value, ConnectionError::badKeys) << failure->message().toStdString();
        EXPECT_EQ(failure->message(), ConnectionError::badKeysText);
    }
    EXPECT_FALSE(QFile::exists(target.filePath(QStringLiteral("notes.txt"))));
}

// A stand-in engine program for what the real one never does on request.
class CopyAllFilesScriptTest : public ::testing::Test {
protected:
    DriveConnection script(const QString &body)
    {
        return DriveConnection(TestSupport::writeScript(folder.filePath(QStringLiteral("rclone")), body));
    }
    // A program that writes `stderrText` to standard error and fails.
    DriveConnection failing(const QByteArray &stderrText)
    {
        const QString path = folder.filePath(QStringLiteral("stderr"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                    && file.write(stderrText) == stderrText.size());
        return script(QStringLiteral("cat '%1' >&2\nexit 1\n").arg(path));
    }

    const StorageSecrets secrets{QStringLiteral("https://example.invalid"), QStringLiteral("bucket"),
                                 QStringLiteral("AKID-1234"), QStringLiteral("s3cr3t/+key")};
    QTemporaryDir folder;
};

TEST_F(CopyAllFilesScriptTest, RunsTheDesignedCommandLinesWithTheDestinationUnchanged)
{
    const QString record = folder.filePath(QStringLiteral("arguments"));
    const DriveConnection program =
        script(QStringLiteral("for a in \"$@\"; do echo \"$a\" >> '%1'; done\n"
                              "[ \"$1\" = size ] && echo '{\"count\":2,\"bytes\":1234,\"sizeless\":0}'\n"
                              "exit 0\n")
                   .arg(record));
    const QString destination = QStringLiteral("/media/My Disk/Ovra files");
    await(CopyAllFiles::copyAll(program, destination, secrets, passphrase, {}));
    EXPECT_EQ(await(CopyAllFiles::driveSize(program, secrets, passphrase)), 1234);

    EXPECT_EQ(QString::fromUtf8(readFile(record)).split(u'\n', Qt::SkipEmptyParts),
              (QStringList{"copy", "drivecrypt:Drive", destination, "--ignore-existing", "--use-json-log", "--stats",
                           "1s", "--stats-log-level", "NOTICE", "size", "drivecrypt:Drive", "--json"}));
}

TEST_F(CopyAllFilesScriptTest, CommandsRunInTheConnectionsEnvironment)
{
    const QString record = folder.filePath(QStringLiteral("environment"));
    DriveConnection program = script(QStringLiteral("env >> '%1'\n"
                                                    "[ \"$1\" = size ] && echo '{\"bytes\":0}'\n"
                                                    "exit 0\n")
                                         .arg(record));
    // The base remote pointed elsewhere, as the connection allows.
    program.baseEnvironment = [](const StorageSecrets &) {
        return Environment{{QStringLiteral("RCLONE_CONFIG_DRIVE_TYPE"), QStringLiteral("local")}};
    };
    await(CopyAllFiles::copyAll(program, folder.path(), secrets, passphrase, {}));
    await(CopyAllFiles::driveSize(program, secrets, passphrase));

    const QStringList lines = QString::fromUtf8(readFile(record)).split(u'\n', Qt::SkipEmptyParts);
    for (const QString &entry :
         {QStringLiteral("RCLONE_CONFIG_DRIVE_TYPE=local"),
          QStringLiteral("RCLONE_CONFIG_DRIVECRYPT_PASSWORD=") + RcloneCommand::obscure(passphrase),
          QStringLiteral("RCLONE_CONFIG_DRIVECRYPT_REMOTE=drive:bucket")})
        EXPECT_EQ(lines.count(entry), 2) << entry.toStdString();
    EXPECT_FALSE(QString::fromUtf8(readFile(record)).contains(QLatin1String("RCLONE_CONFIG_DRIVE_ENDPOINT")));
}

TEST_F(CopyAllFilesScriptTest, FailuresAreClassifiedWithTheKeysRedacted)
{
    StorageSecrets bucketLikeKey = secrets;
    bucketLikeKey.accessKeyID = QStringLiteral("NoSuchBucket-AKID");
    const StorageSecrets anonymous{secrets.endpoint, secrets.bucket, QString(), QString()};
    const auto other = [](const char *detail) {
        return ConnectionError(ConnectionError::other, QString::fromUtf8(detail));
    };
    const struct {
        const char *name;
        QByteArray stderrText;
        StorageSecrets secrets;
        ConnectionError copy;
        ConnectionError size;
    } cases[] = {
        // The copy reads only the last five lines of standard error, the measurement all of it.
        {"keys in the last line",
         "ERROR : AccessDenied\nline 2\nline 3\nline 4\nline 5\nline 6\n"
         "ERROR : key AKID-1234 secret s3cr3t/+key s3cr3t/+key\n",
         secrets, other("ERROR : key <redacted> secret <redacted> <redacted>"),
         ConnectionError(ConnectionError::badKeys)},
        // Classified only once the key is gone: it is no missing bucket.
        {"a key that reads like a refusal", "ERROR : key NoSuchBucket-AKID refused\n", bucketLikeKey,
         other("ERROR : key <redacted> refused"), other("ERROR : key <redacted> refused")},
        {"no keys to redact", "Failed to copy: no keys\n", anonymous, other("Failed to copy: no keys"),
         other("Failed to copy: no keys")},
        {"no connection", "Failed to create file system: dial tcp: lookup example.invalid: no such host\n", secrets,
         ConnectionError(ConnectionError::offline), ConnectionError(ConnectionError::offline)},
    };
    for (const auto &c : cases) {
        const DriveConnection program = failing(c.stderrText);
        const auto copy = connectionFailure(CopyAllFiles::copyAll(program, folder.path(), c.secrets, passphrase, {}));
        const auto size = connectionFailure(CopyAllFiles::driveSize(program, c.secrets, passphrase));
        EXPECT_EQ(copy, c.copy) << c.name << ": " << (copy ? copy->message().toStdString() : "no failure");
        EXPECT_EQ(size, c.size) << c.name << ": " << (size ? size->message().toStdString() : "no failure");
    }
}

TEST_F(CopyAllFilesScriptTest, AnEngineEndedByASignalFailsWithThatSignal)
{
    // What a dying engine wrote is no answer from the storage.
    const DriveConnection program =
        script(QStringLiteral("ulimit -c 0\necho 'ERROR : directory not found' >&2\nkill -QUIT $$\nexit 0\n"));
    const std::string expected =
        "Something went wrong talking to the storage: The storage helper was stopped by signal 3 (SIGQUIT).";
    const auto copy = connectionFailure(CopyAllFiles::copyAll(program, folder.path(), secrets, passphrase, {}));
    const auto size = connectionFailure(CopyAllFiles::driveSize(program, secrets, passphrase));
    for (const auto &failure : {copy, size}) {
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->message().toStdString(), expected);
    }
}

TEST_F(CopyAllFilesScriptTest, ACancelledCopyFailsEvenWhenTheEngineSucceeded)
{
    const DriveConnection program =
        script(QStringLiteral("echo '{\"stats\":{\"bytes\":5,\"totalBytes\":5}}' >&2\nexit 0\n"));
    CancelSource cancel;
    std::vector<CopyProgress> reports;
    const auto failure = TestSupport::failureOf<CancelledError>(CopyAllFiles::copyAll(
        program, folder.path(), secrets, passphrase,
        [&](const CopyProgress &report) {
            reports.push_back(report);
            cancel.request_stop();
        },
        cancel.get_token()));
    EXPECT_TRUE(failure);
    EXPECT_EQ(reports, std::vector<CopyProgress>{(CopyProgress{5, 5})});
}

TEST_F(CopyAllFilesScriptTest, ACancelledMeasurementIsCancelledNotAStorageFailure)
{
    const DriveConnection program = script(QStringLiteral("exec sleep 30\n"));
    CancelSource cancel;
    QTimer::singleShot(200, [&] { cancel.request_stop(); });
    EXPECT_THROW(await(CopyAllFiles::driveSize(program, secrets, passphrase, cancel.get_token())), CancelledError);
}

TEST_F(CopyAllFilesScriptTest, ASizeReplyThatDoesNotDecodeFails)
{
    for (const char *reply : {"not json", R"({"count": 2})", R"({"bytes": "12"})", R"([12])"}) {
        const DriveConnection program = script(QStringLiteral("echo '%1'\nexit 0\n").arg(QString::fromUtf8(reply)));
        EXPECT_THROW(await(CopyAllFiles::driveSize(program, secrets, passphrase)), JsonDecodingError) << reply;
    }
}

TEST_F(CopyAllFilesScriptTest, AMissingProgramIsALaunchFailure)
{
    const DriveConnection missing(folder.filePath(QStringLiteral("no-such-rclone")));
    EXPECT_THROW(await(CopyAllFiles::copyAll(missing, folder.path(), secrets, passphrase, {})),
                 ProcessRunner::LaunchError);
    EXPECT_THROW(await(CopyAllFiles::driveSize(missing, secrets, passphrase)), ProcessRunner::LaunchError);
}

} // namespace
