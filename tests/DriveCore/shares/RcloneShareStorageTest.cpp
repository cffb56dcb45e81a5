#include "DriveCore/shares/RcloneShareStorage.h"

#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/support/AppModelError.h"
#include "ShareBucket.h"
#include "support/ScopedEnvironment.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <system_error>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::failureOf;

namespace {

ShareStorage::Produce writing(QList<QByteArray> pieces)
{
    return [pieces](const ShareStorage::Write &write) {
        for (const QByteArray &piece : pieces)
            write(piece);
    };
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Waits on the producer's thread until `path` holds `text`.
void waitForText(const QString &path, const QString &text)
{
    for (int i = 0; i < 1000 && !readText(path).contains(text); ++i)
        QThread::msleep(10);
}

class RcloneShareStorageTest : public ::testing::Test {
protected:
    QString runLog() const { return bucket.callsLog(); }

    // A stand-in engine that logs "interrupted" on SIGINT and otherwise reads its input to the end.
    QString interruptibleEngine()
    {
        return bucket.script(QStringLiteral("interruptible"),
                             QStringLiteral(R"(trap 'echo interrupted >> "%1"; exit 130' INT
echo ready >> "%1"
dd of=/dev/null bs=65536 2>/dev/null
echo "read to the end" >> "%1"
)")
                                 .arg(runLog()));
    }

    TestSupport::ShareBucket bucket;
    const QString id = ShareFormat::newShareID();
};

TEST_F(RcloneShareStorageTest, ChecksIdsAndObjectNamesBeforeAnythingRuns)
{
    EXPECT_EQ(RcloneShareStorage::forDrive(QStringLiteral("rclone"), {}, QStringLiteral("photos")).sharesFs,
              QStringLiteral("drive:photos/ovra-shares"));
    const auto storage =
        bucket.storage(bucket.script(QStringLiteral("engine"), QStringLiteral("echo \"$*\" >> '%1'\n").arg(runLog())));
    EXPECT_EQ(storage->path(id, QStringLiteral("f/12")),
              QStringLiteral("drive:bucket/ovra-shares/") + id + QStringLiteral("/f/12"));
    EXPECT_EQ(storage->path(id, std::nullopt), QStringLiteral("drive:bucket/ovra-shares/") + id);
    for (const char *name : {"f/0", "f/+3", "f/007", "manifest", "meta.json"})
        EXPECT_NO_THROW(storage->path(id, QString::fromUtf8(name))) << name;

    for (const char *name : {"f/", "f/x", "f/-1", "f/1 ", " f/1", "f/1/2", "F/1", "f/99999999999999999999",
                             "manifest.json", "../meta.json", "meta.json/"}) {
        const auto failure = failureOf<RcloneShareStorage::Failure>(storage->deleteObject(id, QString::fromUtf8(name)));
        ASSERT_TRUE(failure) << name;
        EXPECT_EQ(failure->description, QStringLiteral("bad share object name"));
    }
    EXPECT_TRUE(failureOf<RcloneShareStorage::Failure>(storage->upload(id, QStringLiteral("f/a"), 0, writing({}))));
    EXPECT_TRUE(failureOf<RcloneShareStorage::Failure>(storage->put(id, QStringLiteral("f/a"), {})));

    const QStringList badIDs{id.left(21), id + u'A', id.left(21) + u'.', id.left(21) + u'é', id.left(21) + u'+'};
    for (const QString &badID : badIDs) {
        const auto failure = failureOf<ShareFormat::Failure>(storage->deleteAll(badID));
        ASSERT_TRUE(failure) << badID.toStdString();
        EXPECT_EQ(failure->code, ShareFormat::Failure::badShareID);
        EXPECT_TRUE(failureOf<ShareFormat::Failure>(storage->upload(badID, QStringLiteral("f/0"), 0, writing({}))));
        EXPECT_TRUE(failureOf<ShareFormat::Failure>(storage->put(badID, QStringLiteral("manifest"), {})));
        EXPECT_TRUE(failureOf<ShareFormat::Failure>(storage->deleteObject(badID, QStringLiteral("manifest"))));
    }
    EXPECT_FALSE(QFile::exists(runLog())) << "the engine ran";
}

TEST_F(RcloneShareStorageTest, RunsTheEngineWithItsArgumentsInputAndExactEnvironment)
{
    TestSupport::ScopedEnvironment ours;
    ours.set("CORVANE_TEST_LEAK", "ours");
    const auto storage = bucket.storage(bucket.script(
        QStringLiteral("engine"),
        QStringLiteral("{ echo \"$*\"; echo \"input $(wc -c)\"; echo \"leak ${CORVANE_TEST_LEAK:-none}\"; } >> '%1'\n")
            .arg(runLog())));
    const QString folder = QStringLiteral("drive:bucket/ovra-shares/") + id;

    await(storage->upload(id, QStringLiteral("f/3"), 5, writing({"he", "", "llo"})));
    await(storage->put(id, QStringLiteral("manifest"), {}));
    await(storage->deleteObject(id, QStringLiteral("meta.json")));
    await(storage->deleteAll(id));

    const QString rcat = QStringLiteral("rcat --size %1 --s3-chunk-size 64M --retries 1 --low-level-retries 5 ");
    EXPECT_EQ(readText(runLog()).split(u'\n', Qt::SkipEmptyParts),
              (QStringList{rcat.arg(5) + folder + QStringLiteral("/f/3"), "input 5", "leak none",
                           rcat.arg(0) + folder + QStringLiteral("/manifest"), "input 0", "leak none",
                           QStringLiteral("deletefile ") + folder + QStringLiteral("/meta.json"), "input 0",
                           "leak none", QStringLiteral("purge ") + folder, "input 0", "leak none"}));
}

TEST_F(RcloneShareStorageTest, AFailedRunShowsTheEndOfTheEngineError)
{
    const QByteArray stderrBytes = QByteArray(9600, 'x') + "END of the engine's error\n  ";
    const auto storage =
        bucket.storage(bucket.script(QStringLiteral("engine"),
                                     QStringLiteral("cat > /dev/null; head -c 9600 /dev/zero | tr '\\0' x >&2; printf "
                                                    "\"END of the engine's error\\n  \" >&2; exit 3\n")));
    const QString tail = QString::fromUtf8(stderrBytes.right(400)).trimmed();
    ASSERT_TRUE(tail.endsWith(u"error") && tail.size() == 400 - 3);

    const auto upload =
        failureOf<RcloneShareStorage::Failure>(storage->upload(id, QStringLiteral("f/0"), 3, writing({"abc"})));
    ASSERT_TRUE(upload);
    EXPECT_EQ(upload->description, QStringLiteral("upload failed: ") + tail);
    const auto put = failureOf<RcloneShareStorage::Failure>(storage->put(id, QStringLiteral("meta.json"), "{}"));
    ASSERT_TRUE(put);
    EXPECT_EQ(put->description, QStringLiteral("upload failed: ") + tail);
    const auto removal = failureOf<RcloneShareStorage::Failure>(storage->deleteAll(id));
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->description, QStringLiteral("delete failed: ") + tail);
}

TEST_F(RcloneShareStorageTest, WhatIsAlreadyGoneCountsAsRemoved)
{
    const std::vector<std::pair<QString, bool>> cases{
        {"Failed to deletefile: object NOT FOUND", true},
        {"open /x: no such file or directory", true},
        {"drive:bucket/ovra-shares/x/meta.json is a directory or doesn't exist", true},
        {"Failed to purge: directory not found", true},
        {"AccessDenied: permission denied", false},
    };
    int row = 0;
    for (const auto &[message, removed] : cases) {
        const auto storage = bucket.storage(bucket.script(
            QStringLiteral("engine%1").arg(row++), QStringLiteral("printf '%s\\n' \"%1\" >&2; exit 1\n").arg(message)));
        const auto one = failureOf<RcloneShareStorage::Failure>(storage->deleteObject(id, QStringLiteral("meta.json")));
        const auto all = failureOf<RcloneShareStorage::Failure>(storage->deleteAll(id));
        EXPECT_EQ(!one, removed) << message.toStdString();
        EXPECT_EQ(!all, removed) << message.toStdString();
        if (!removed && one)
            EXPECT_EQ(one->description, QStringLiteral("delete failed: ") + message);
    }
}

TEST_F(RcloneShareStorageTest, AnEngineEndedByASignalFailsWhateverItWrote)
{
    const auto storage = bucket.storage(bucket.script(
        QStringLiteral("engine"),
        QStringLiteral("ulimit -c 0; cat > /dev/null; echo 'object not found' >&2; kill -QUIT $$; exit 0\n")));
    const QString why = QStringLiteral("the engine was stopped by signal 3 (SIGQUIT)");
    const auto upload =
        failureOf<RcloneShareStorage::Failure>(storage->upload(id, QStringLiteral("f/0"), 3, writing({"abc"})));
    const auto put = failureOf<RcloneShareStorage::Failure>(storage->put(id, QStringLiteral("meta.json"), "{}"));
    const auto one = failureOf<RcloneShareStorage::Failure>(storage->deleteObject(id, QStringLiteral("meta.json")));
    const auto all = failureOf<RcloneShareStorage::Failure>(storage->deleteAll(id));
    for (const auto &[name, failure, text] : {std::tuple{"upload", upload, QStringLiteral("upload failed: ")},
                                              std::tuple{"put", put, QStringLiteral("upload failed: ")},
                                              std::tuple{"delete one", one, QStringLiteral("delete failed: ")},
                                              std::tuple{"delete all", all, QStringLiteral("delete failed: ")}}) {
        ASSERT_TRUE(failure) << name;
        EXPECT_EQ(failure->description.toStdString(), (text + why).toStdString()) << name;
    }
}

TEST_F(RcloneShareStorageTest, AFailingProducerInterruptsTheEngineAndFailsWithItsOwnError)
{
    const auto storage = bucket.storage(interruptibleEngine());
    const QString log = runLog();
    const auto failure = failureOf<std::runtime_error>(
        storage->upload(id, QStringLiteral("f/0"), 4 << 20, [log](const ShareStorage::Write &write) {
            write(QByteArray(1 << 20, 'a'));
            waitForText(log, QStringLiteral("ready"));
            throw std::runtime_error("the producer gave up");
        }));
    ASSERT_TRUE(failure);
    EXPECT_STREQ(failure->what(), "the producer gave up");
    EXPECT_EQ(readText(log), QStringLiteral("ready\ninterrupted\n"));
}

TEST_F(RcloneShareStorageTest, CancellingInterruptsTheEngineAndStopsAWaitingWrite)
{
    const auto storage = bucket.storage(interruptibleEngine());
    const QString log = runLog();
    CancelSource cancel;
    std::atomic<qint64> written = 0;
    const auto failure = failureOf<CancelledError>(storage->upload(
        id, QStringLiteral("f/0"), qint64(1) << 40,
        [&](const ShareStorage::Write &write) {
            waitForText(log, QStringLiteral("ready"));
            for (;;) {
                write(QByteArray(1 << 16, 'a'));
                if ((written += 1 << 16) == 1 << 20)
                    cancel.request_stop();
            }
        },
        cancel.get_token()));
    EXPECT_TRUE(failure);
    EXPECT_EQ(readText(log), QStringLiteral("ready\ninterrupted\n"));

    // Cancelled before it starts: nothing runs.
    QFile::remove(log);
    EXPECT_TRUE(
        failureOf<CancelledError>(storage->upload(id, QStringLiteral("f/0"), 1, writing({"a"}), cancel.get_token())));
    EXPECT_TRUE(failureOf<CancelledError>(storage->put(id, QStringLiteral("f/0"), "a", cancel.get_token())));
    EXPECT_FALSE(QFile::exists(log));
}

TEST_F(RcloneShareStorageTest, AnEngineThatStopsReadingIsReportedByItsOwnError)
{
    const QList<QByteArray> eightMegabytes(128, QByteArray(1 << 16, 'a'));
    const auto failing =
        bucket.storage(bucket.script(QStringLiteral("failing"), QStringLiteral("echo 'quota exceeded' >&2; exit 7\n")));
    const auto failure = failureOf<RcloneShareStorage::Failure>(
        failing->upload(id, QStringLiteral("f/0"), 8 << 20, writing(eightMegabytes)));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description, QStringLiteral("upload failed: quota exceeded"));

    // One that ends well without taking everything leaves the writer's error: never a success.
    const auto quitting = bucket.storage(bucket.script(QStringLiteral("quitting"), QStringLiteral("exit 0\n")));
    const auto broken =
        failureOf<std::system_error>(quitting->upload(id, QStringLiteral("f/0"), 8 << 20, writing(eightMegabytes)));
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->code(), std::errc::broken_pipe);
}

TEST_F(RcloneShareStorageTest, AnEngineThatCannotStartIsALaunchError)
{
    const auto storage = bucket.storage(QStringLiteral("/nonexistent/rclone"));
    bool produced = false;
    EXPECT_TRUE(failureOf<ProcessRunner::LaunchError>(
        storage->upload(id, QStringLiteral("f/0"), 1, [&](const ShareStorage::Write &) { produced = true; })));
    EXPECT_FALSE(produced);
    EXPECT_TRUE(failureOf<ProcessRunner::LaunchError>(storage->put(id, QStringLiteral("manifest"), "a")));
    EXPECT_TRUE(failureOf<ProcessRunner::LaunchError>(storage->deleteAll(id)));
}

TEST_F(RcloneShareStorageTest, StreamsPutsAndRemovesObjectsInTheBucket)
{
    ASSERT_FALSE(bucket.rclone().isEmpty()) << "rclone is installed by scripts/bootstrap";
    ASSERT_TRUE(bucket.start()) << bucket.server().output().toStdString();
    const auto storage = bucket.storage();
    QByteArray data((3 << 20) + 7, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char(i * 131 + (i >> 9));
    const QString folder = QStringLiteral("ovra-shares/") + id;

    await(storage->upload(id, QStringLiteral("f/0"), data.size(),
                          writing({data.left(1), data.mid(1, 65536), data.mid(65537)})));
    await(storage->put(id, QStringLiteral("manifest"), "sealed"));
    EXPECT_EQ(bucket.server().objectNames(),
              (QStringList{folder + QStringLiteral("/f/0"), folder + QStringLiteral("/manifest")}));
    EXPECT_EQ(bucket.object(folder + QStringLiteral("/f/0")), data);

    await(storage->deleteObject(id, QStringLiteral("meta.json"))); // not there
    await(storage->deleteObject(id, QStringLiteral("manifest")));
    EXPECT_EQ(bucket.server().objectNames(), QStringList{folder + QStringLiteral("/f/0")});
    await(storage->deleteAll(id));
    EXPECT_TRUE(bucket.server().objectNames().isEmpty());
    await(storage->deleteAll(id));
}

TEST_F(RcloneShareStorageTest, TheEngineStopsWhenAnUploadIntoTheBucketIsCancelled)
{
    ASSERT_TRUE(bucket.start()) << bucket.server().output().toStdString();
    CancelSource cancel;
    qint64 written = 0;
    EXPECT_TRUE(failureOf<CancelledError>(bucket.storage()->upload(
        id, QStringLiteral("f/0"), qint64(64) << 20,
        [&](const ShareStorage::Write &write) {
            for (;;) {
                write(QByteArray(1 << 16, 'a'));
                if ((written += 1 << 16) == 2 << 20)
                    cancel.request_stop();
            }
        },
        cancel.get_token())));
}

TEST(UnavailableShareStorage, EveryOperationFailsWithItsText)
{
    const UnavailableShareStorage storage;
    const QString id = ShareFormat::newShareID();
    const std::vector<std::optional<AppModelError>> failures{
        failureOf<AppModelError>(storage.upload(id, QStringLiteral("f/0"), 1, writing({"a"}))),
        failureOf<AppModelError>(storage.put(id, QStringLiteral("manifest"), "a")),
        failureOf<AppModelError>(storage.deleteObject(id, QStringLiteral("meta.json"))),
        failureOf<AppModelError>(storage.deleteAll(id)),
    };
    for (const auto &failure : failures) {
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->message, QStringLiteral("Share links aren't available."));
    }
}

} // namespace
