#include "DriveCore/services/CopyAllFiles.h"

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "support/S3Server.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;

namespace {

// What the storage connection's classification received, as the error it made.
struct Classified {
    QString text;
};

const QString passphrase = QStringLiteral("correct horse");

CopyAllFiles::Connection connectionTo(const QString &rclone, Environment extra = {})
{
    return {rclone,
            [extra](const StorageSecrets &secrets, const QString &obscured) {
                Environment environment = RcloneCommand::environment(secrets, obscured);
                environment.insert(extra);
                return environment;
            },
            [](const QString &text) { return std::make_exception_ptr(Classified{text}); }};
}

template<typename T>
std::optional<Classified> classifiedFailure(QCoro::Task<T> &&task)
{
    return TestSupport::failureOf<Classified>(std::move(task));
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
        const Environment environment = RcloneCommand::environment(server.secrets(), RcloneCommand::obscure(passphrase));
        const RcloneResult result = await(ProcessRunner::run(
            rclone, {QStringLiteral("rcat"), QStringLiteral("drivecrypt:Drive/") + path}, environment, contents));
        ASSERT_EQ(result.status, 0) << result.stderrText().toStdString();
    }

    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    TestSupport::S3Server server;
    QTemporaryDir target;
};

TEST_F(CopyAllFilesEngineTest, CopiesEveryFileDecryptedAndReportsProgressUpToTheTotal)
{
    const QByteArray photo = QByteArray(300'000, 'p');
    put(QStringLiteral("notes.txt"), "hello\n");
    put(QStringLiteral("Photos 2026/Caf\u00e9 \u00fcber.jpg"), photo);
    put(QStringLiteral("mine.txt"), "theirs");
    const qint64 total = 6 + photo.size() + 6;
    EXPECT_EQ(await(CopyAllFiles::driveSize(connectionTo(rclone), server.secrets(), passphrase)), total);

    const QString destination = target.filePath(QStringLiteral("Ovra files"));
    QDir().mkpath(destination);
    QFile existing(destination + QStringLiteral("/mine.txt"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("kept");
    existing.close();

    std::vector<CopyProgress> reports;
    await(CopyAllFiles::copyAll(connectionTo(rclone), destination, server.secrets(), passphrase,
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
    EXPECT_EQ(await(CopyAllFiles::driveSize(connectionTo(rclone), server.secrets(), passphrase)), 0);
}

TEST_F(CopyAllFilesEngineTest, CancellingInTheMiddleInterruptsTheCopy)
{
    QByteArray large(8'000'000, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(large.data()), large.size() / 4);
    put(QStringLiteral("large.bin"), large);

    // Slowed to 1 MB/s through the engine's own environment setting, so the copy is still
    // running when its first report arrives.
    const CopyAllFiles::Connection slow = connectionTo(rclone, {{QStringLiteral("RCLONE_BWLIMIT"), QStringLiteral("1M")}});
    CancelSource cancel;
    std::vector<CopyProgress> reports;
    const auto failure = TestSupport::failureOf<CancelledError>(CopyAllFiles::copyAll(
        slow, target.path(), server.secrets(), passphrase,
        [&](const CopyProgress &report) {
            reports.push_back(report);
            cancel.request_stop();
        },
        cancel.get_token()));

    EXPECT_TRUE(failure.has_value());
    ASSERT_FALSE(reports.empty());
    EXPECT_LT(reports.front().bytesDone, large.size());
    EXPECT_NE(readFile(target.filePath(QStringLiteral("large.bin"))), large);
}

TEST_F(CopyAllFilesEngineTest, WrongKeysReachTheClassificationAsTheStoragesRefusal)
{
    put(QStringLiteral("notes.txt"), "hello\n");
    StorageSecrets wrong = server.secrets();
    wrong.accessKeyID = QStringLiteral("WRONGKEYID");

    const auto copy = classifiedFailure(
        CopyAllFiles::copyAll(connectionTo(rclone), target.path(), wrong, passphrase, [](const CopyProgress &) {}));
    const auto size = classifiedFailure(CopyAllFiles::driveSize(connectionTo(rclone), wrong, passphrase));
    for (const auto &failure : {copy, size}) {
        ASSERT_TRUE(failure.has_value());
        // The storage's bad-keys answer, which the shared classification reads as bad keys.
        EXPECT_TRUE(failure->text.contains(QLatin1String("InvalidAccessKeyId"))) << failure->text.toStdString();
        EXPECT_FALSE(failure->text.contains(QLatin1String("WRONGKEYID")));
    }
    EXPECT_LE(copy->text.count(u'\n'), 4) << "only the last five lines of standard error";
}

// A stand-in engine program for what the real one never does on request.
class CopyAllFilesScriptTest : public ::testing::Test {
protected:
    QString script(const QString &body) { return TestSupport::writeScript(folder.filePath(QStringLiteral("rclone")), body); }

    const StorageSecrets secrets{QStringLiteral("https://example.invalid"), QStringLiteral("bucket"),
                                 QStringLiteral("AKID-1234"), QStringLiteral("s3cr3t/+key")};
    QTemporaryDir folder;
};

TEST_F(CopyAllFilesScriptTest, RunsTheDesignedCommandLinesWithTheDestinationUnchanged)
{
    const QString record = folder.filePath(QStringLiteral("arguments"));
    const QString program = script(QStringLiteral("for a in \"$@\"; do echo \"$a\" >> '%1'; done\n"
                                                  "[ \"$1\" = size ] && echo '{\"count\":2,\"bytes\":1234,\"sizeless\":0}'\n"
                                                  "exit 0\n")
                                       .arg(record));
    const QString destination = QStringLiteral("/media/My Disk/Ovra files");
    await(CopyAllFiles::copyAll(connectionTo(program), destination, secrets, passphrase, {}));
    EXPECT_EQ(await(CopyAllFiles::driveSize(connectionTo(program), secrets, passphrase)), 1234);

    EXPECT_EQ(QString::fromUtf8(readFile(record)).split(u'\n', Qt::SkipEmptyParts),
              (QStringList{"copy", "drivecrypt:Drive", destination, "--ignore-existing", "--use-json-log", "--stats",
                           "1s", "--stats-log-level", "NOTICE", "size", "drivecrypt:Drive", "--json"}));
}

TEST_F(CopyAllFilesScriptTest, FailuresAreClassifiedFromTheLastFiveLinesWithTheKeysRedacted)
{
    const QString program = script(QStringLiteral("for i in 1 2 3 4 5 6; do echo \"line $i\" >&2; done\n"
                                                  "echo 'ERROR : key AKID-1234 secret s3cr3t/+key s3cr3t/+key' >&2\n"
                                                  "exit 1\n"));
    const QString expected = QStringLiteral("line 3\nline 4\nline 5\nline 6\n"
                                            "ERROR : key <redacted> secret <redacted> <redacted>");

    const auto copy = classifiedFailure(CopyAllFiles::copyAll(connectionTo(program), folder.path(), secrets, passphrase, {}));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->text, expected);

    const auto size = classifiedFailure(CopyAllFiles::driveSize(connectionTo(program), secrets, passphrase));
    ASSERT_TRUE(size);
    EXPECT_EQ(size->text, QStringLiteral("line 1\nline 2\n") + expected + u'\n');
}

TEST_F(CopyAllFilesScriptTest, EmptyKeysAreNotRedacted)
{
    const QString program = script(QStringLiteral("echo 'Failed to copy: no keys' >&2\nexit 3\n"));
    const StorageSecrets anonymous{secrets.endpoint, secrets.bucket, QString(), QString()};
    const auto copy = classifiedFailure(CopyAllFiles::copyAll(connectionTo(program), folder.path(), anonymous, passphrase, {}));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->text, QStringLiteral("Failed to copy: no keys"));
}

TEST_F(CopyAllFilesScriptTest, ACancelledCopyFailsEvenWhenTheEngineSucceeded)
{
    const QString program = script(QStringLiteral("echo '{\"stats\":{\"bytes\":5,\"totalBytes\":5}}' >&2\nexit 0\n"));
    CancelSource cancel;
    std::vector<CopyProgress> reports;
    const auto failure = TestSupport::failureOf<CancelledError>(CopyAllFiles::copyAll(
        connectionTo(program), folder.path(), secrets, passphrase,
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
    const QString program = script(QStringLiteral("exec sleep 30\n"));
    CancelSource cancel;
    QTimer::singleShot(200, [&] { cancel.request_stop(); });
    EXPECT_THROW(await(CopyAllFiles::driveSize(connectionTo(program), secrets, passphrase, cancel.get_token())),
                 CancelledError);
}

TEST_F(CopyAllFilesScriptTest, ASizeReplyThatDoesNotDecodeFails)
{
    for (const char *reply : {"not json", R"({"count": 2})", R"({"bytes": "12"})", R"([12])"}) {
        const QString program = script(QStringLiteral("echo '%1'\nexit 0\n").arg(QString::fromUtf8(reply)));
        EXPECT_THROW(await(CopyAllFiles::driveSize(connectionTo(program), secrets, passphrase)), RCDecodingError) << reply;
    }
}

TEST_F(CopyAllFilesScriptTest, AMissingProgramIsALaunchFailure)
{
    const CopyAllFiles::Connection missing = connectionTo(folder.filePath(QStringLiteral("no-such-rclone")));
    EXPECT_THROW(await(CopyAllFiles::copyAll(missing, folder.path(), secrets, passphrase, {})), ProcessRunner::LaunchError);
    EXPECT_THROW(await(CopyAllFiles::driveSize(missing, secrets, passphrase)), ProcessRunner::LaunchError);
}

} // namespace
