#include "DriveCore/shares/ShareCreator.h"

#include "DriveCore/platform/Crypto.h"
#include "DriveCore/shares/RcloneShareStorage.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/ShareManifest.h"
#include "DriveCore/support/Base64URL.h"
#include "ShareBucket.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <system_error>

#include <sys/stat.h>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::failureOf;

namespace {

constexpr uint32_t testRounds = 1000;
const QUrl workerURL(QStringLiteral("https://ovra-share-bucket.alice.workers.dev"));

QByteArray bytes(qsizetype size, int seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char(i * 131 + seed + (i >> 10));
    return data;
}

QJsonObject json(const QByteArray &data)
{
    return QJsonDocument::fromJson(data).object();
}

QList<qint64> integers(const QJsonValue &array)
{
    QList<qint64> values;
    for (const QJsonValue &value : array.toArray())
        values.append(value.toInteger(-1));
    return values;
}

// What a creation reported while it ran.
struct Reports {
    std::mutex lock;
    QList<ShareProgress> progress;
    std::optional<ShareRecord> saved;
    QStringList objectsWhenSaved;
};

class ShareCreatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bucket.rclone().isEmpty()) << "rclone is installed by scripts/bootstrap";
        ASSERT_TRUE(bucket.start()) << bucket.server().output().toStdString();
    }

    // A file in the test's folder, shared under `path`.
    ShareItem item(const QString &path, const QByteArray &data, std::optional<QDateTime> modified = std::nullopt)
    {
        const QString local = files.filePath(QString(path).replace(u'/', u'_'));
        QFile::remove(local); // a new file, never written through a link an earlier case left
        QFile file(local);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            qFatal("cannot write %s", qPrintable(local));
        struct stat status{};
        if (::stat(QFile::encodeName(local).constData(), &status) != 0)
            qFatal("cannot look at %s", qPrintable(local));
        return {path, local, data.size(), modified, FileIdentity{quint64(status.st_dev), quint64(status.st_ino)}};
    }

    QCoro::Task<ShareRecord> create(const std::shared_ptr<const ShareStorage> &storage, QList<ShareItem> items,
                                    ShareOptions options, QDateTime now, Reports &reports, CancelToken token = {},
                                    uint32_t rounds = testRounds, std::function<void()> whileSaving = {})
    {
        return ShareCreator(storage, rounds)
            .create(
                std::move(items), QStringLiteral("Holiday / photos"),
                {QStringLiteral("Photos"), QStringLiteral("a.txt")}, std::move(options), workerURL,
                QStringLiteral("Test machine"), std::move(now), ShareFormat::chunkSize,
                [&reports](const ShareProgress &progress) {
                    const std::lock_guard lock(reports.lock);
                    reports.progress.append(progress);
                },
                [this, &reports, whileSaving](ShareRecord record) -> QCoro::Task<> {
                    reports.saved = record;
                    reports.objectsWhenSaved = bucket.server().objectNames();
                    if (whileSaving)
                        whileSaving();
                    co_return;
                },
                std::move(token));
    }

    TestSupport::ShareBucket bucket;
    QTemporaryDir files;
};

TEST_F(ShareCreatorTest, MakesALinkWhoseObjectsOpenWithItsKeys)
{
    const QDateTime modified = QDateTime::fromSecsSinceEpoch(1'772'600'767, Qt::UTC).addMSecs(250);
    const QList<QByteArray> data{{}, bytes(1, 1), bytes((1 << 20) + 1, 2), bytes((3 << 20) + 5, 3)};
    const QList<ShareItem> items{
        item(QStringLiteral("empty.txt"), data[0], modified),
        item(QStringLiteral("one.bin"), data[1]),
        item(QStringLiteral("Photos/chunk and one.bin"), data[2], modified),
        item(QStringLiteral("Photos/sub/three.bin"), data[3], modified),
    };
    const qint64 total = 1 + (1 << 20) + 1 + (3 << 20) + 5;
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC).addMSecs(900);
    Reports reports;
    const ShareRecord record =
        await(create(bucket.storage(), items, {ShareExpiry::never, 5, QStringLiteral("pässword")}, now, reports));

    const QString folder = QStringLiteral("ovra-shares/") + record.id;
    EXPECT_EQ(bucket.server().objectNames(),
              (QStringList{folder + QStringLiteral("/f/0"), folder + QStringLiteral("/f/1"),
                           folder + QStringLiteral("/f/2"), folder + QStringLiteral("/f/3"),
                           folder + QStringLiteral("/manifest"), folder + QStringLiteral("/meta.json")}));
    ASSERT_TRUE(reports.saved);
    EXPECT_EQ(*reports.saved, record);
    EXPECT_FALSE(reports.objectsWhenSaved.contains(folder + QStringLiteral("/meta.json")))
        << "meta.json is written last";
    EXPECT_TRUE(reports.objectsWhenSaved.contains(folder + QStringLiteral("/manifest")));

    const ShareFormat::Keys keys =
        ShareFormat::deriveKeys(record.id, *Base64URL::decode(record.secret), QStringLiteral("pässword"), testRounds);
    QList<qint64> sealedSizes;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const QByteArray sealed = bucket.object(folder + QStringLiteral("/f/") + QString::number(i));
        EXPECT_EQ(sealed.size(), ShareFormat::encryptedSize(data[i].size(), ShareFormat::chunkSize));
        EXPECT_EQ(ShareFormat::decryptFile(sealed, keys.contentKey, i, data[i].size(), ShareFormat::chunkSize), data[i])
            << "file " << i;
        sealedSizes.append(sealed.size());
    }
    EXPECT_EQ(sealedSizes, (QList<qint64>{16, 17, 1048609, 3145797}));

    const ShareManifest manifest =
        ShareFormat::decryptManifest(bucket.object(folder + QStringLiteral("/manifest")), keys.contentKey);
    const QString modifiedText = QStringLiteral("2026-03-04T05:06:07Z");
    EXPECT_EQ(manifest,
              ShareManifest(QStringLiteral("Holiday / photos"), ShareFormat::chunkSize,
                            {{QStringLiteral("empty.txt"), 0, modifiedText},
                             {QStringLiteral("one.bin"), 1, std::nullopt},
                             {QStringLiteral("Photos/chunk and one.bin"), (1 << 20) + 1, modifiedText},
                             {QStringLiteral("Photos/sub/three.bin"), (3 << 20) + 5, modifiedText}}));

    const QJsonObject meta = json(bucket.object(folder + QStringLiteral("/meta.json")));
    EXPECT_EQ(meta.value(u"accessHash").toString(), keys.accessHash);
    EXPECT_TRUE(meta.value(u"needsPassword").toBool());
    EXPECT_EQ(meta.value(u"pwRounds").toInteger(), testRounds);
    EXPECT_EQ(meta.value(u"createdAt").toInteger(), 1'800'000'000);
    EXPECT_TRUE(meta.value(u"expiresAt").isNull());
    EXPECT_EQ(meta.value(u"maxDownloads").toInteger(), 5);
    EXPECT_EQ(meta.value(u"downloads").toInteger(), 0);
    EXPECT_EQ(meta.value(u"fileCount").toInteger(), 4);
    EXPECT_EQ(meta.value(u"totalBytes").toInteger(), total);
    EXPECT_EQ(integers(meta.value(u"encryptedSizes")), sealedSizes);

    EXPECT_TRUE(ShareFormat::isShareID(record.id));
    EXPECT_EQ(Base64URL::decode(record.secret)->size(), 32);
    EXPECT_EQ(record.password, QStringLiteral("pässword"));
    EXPECT_EQ(record.title, QStringLiteral("Holiday / photos"));
    EXPECT_EQ(record.items, (QStringList{QStringLiteral("Photos"), QStringLiteral("a.txt")}));
    EXPECT_EQ(record.fileCount, 4);
    EXPECT_EQ(record.totalBytes, total);
    EXPECT_EQ(record.createdAt, now);
    EXPECT_FALSE(record.expiresAt);
    EXPECT_EQ(record.maxDownloads, 5);
    EXPECT_EQ(record.workerURL, workerURL);
    EXPECT_EQ(record.createdBy, QStringLiteral("Test machine"));

    // The empty file adds nothing; the total is reached once everything is sealed.
    ASSERT_FALSE(reports.progress.isEmpty());
    EXPECT_EQ(reports.progress.first(), (ShareProgress{0, total}));
    EXPECT_EQ(reports.progress.last(), (ShareProgress{total, total}));
    for (qsizetype i = 1; i < reports.progress.size(); ++i)
        EXPECT_LE(reports.progress[i - 1].done, reports.progress[i].done);
}

TEST_F(ShareCreatorTest, TimesPasswordAndLimitsComeFromTheOptions)
{
    const qint64 created = 1'800'000'000;
    const QDateTime now = QDateTime::fromSecsSinceEpoch(created, Qt::UTC).addMSecs(900);
    Reports reports;
    const ShareRecord record =
        await(create(bucket.storage(), {}, {ShareExpiry::oneHour, std::nullopt, QString()}, now, reports));

    const QString folder = QStringLiteral("ovra-shares/") + record.id;
    EXPECT_EQ(bucket.server().objectNames(),
              (QStringList{folder + QStringLiteral("/manifest"), folder + QStringLiteral("/meta.json")}));
    const ShareFormat::Keys keys =
        ShareFormat::deriveKeys(record.id, *Base64URL::decode(record.secret), std::nullopt, testRounds);
    EXPECT_TRUE(ShareFormat::decryptManifest(bucket.object(folder + QStringLiteral("/manifest")), keys.contentKey)
                    .files.isEmpty());

    const QJsonObject meta = json(bucket.object(folder + QStringLiteral("/meta.json")));
    EXPECT_EQ(meta.value(u"accessHash").toString(), keys.accessHash) << "an empty password is none";
    EXPECT_FALSE(meta.value(u"needsPassword").toBool());
    EXPECT_EQ(meta.value(u"pwRounds").toInteger(), testRounds);
    EXPECT_EQ(meta.value(u"createdAt").toInteger(), created);
    EXPECT_EQ(meta.value(QStringLiteral("expiresAt")).toInteger(), created + 3600);
    EXPECT_TRUE(meta.value(u"maxDownloads").isNull());
    EXPECT_EQ(meta.value(u"fileCount").toInteger(), 0);
    EXPECT_EQ(meta.value(u"totalBytes").toInteger(), 0);
    EXPECT_EQ(meta.value(u"encryptedSizes").toArray(), QJsonArray());

    EXPECT_FALSE(record.password);
    EXPECT_EQ(record.createdAt, now) << "the record keeps the fraction";
    EXPECT_EQ(record.expiresAt, QDateTime::fromSecsSinceEpoch(created + 3600, Qt::UTC));
    EXPECT_FALSE(record.maxDownloads);
    EXPECT_EQ(reports.progress, QList<ShareProgress>());
}

TEST_F(ShareCreatorTest, StoppingDeletesMetaFirstAndNothingMoreWhenThatFails)
{
    const QString engine = bucket.failingEngine();
    const QList<ShareItem> items{item(QStringLiteral("a.txt"), "hello")};
    Reports reports;
    const ShareRecord first =
        await(create(bucket.storage(engine), items, {}, QDateTime::currentDateTimeUtc(), reports));
    const ShareRecord second =
        await(create(bucket.storage(engine), items, {}, QDateTime::currentDateTimeUtc(), reports));
    const QString firstFolder = QStringLiteral("drive:bucket/ovra-shares/") + first.id;
    QFile::remove(bucket.callsLog());

    await(ShareCreator::stop(first.id, bucket.storage(engine)));
    EXPECT_EQ(bucket.calls(),
              (QStringList{QStringLiteral("deletefile ") + firstFolder + QStringLiteral("/meta.json"),
                           QStringLiteral("purge ") + firstFolder}));
    for (const QString &name : bucket.server().objectNames())
        EXPECT_FALSE(name.contains(first.id)) << name.toStdString();

    const QStringList before = bucket.server().objectNames();
    const auto failure = failureOf<RcloneShareStorage::Failure>(
        ShareCreator::stop(second.id, bucket.storage(engine, QStringLiteral("deletefile *"))));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description, QStringLiteral("delete failed: injected failure: deletefile"));
    EXPECT_EQ(bucket.server().objectNames(), before);
    EXPECT_EQ(bucket.calls().size(), 3) << "no purge after the failed delete";
}

// What a failure says, in a form a table can hold.
std::string outcome(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const RcloneShareStorage::Failure &failure) {
        return "storage: " + failure.description.toStdString();
    } catch (const ShareCreator::Failure &failure) {
        return failure.value == ShareCreator::Failure::fileChanged ? "fileChanged: " + failure.text.toStdString()
                                                                   : "mayStillBeLive";
    } catch (const ShareFormat::Failure &failure) {
        return failure.code == ShareFormat::Failure::pbkdf2 ? "pbkdf2" : "badShareID";
    } catch (const CancelledError &) {
        return "cancelled";
    } catch (const std::system_error &) {
        return "system error";
    } catch (const std::exception &other) {
        return other.what();
    }
}

TEST_F(ShareCreatorTest, AFailedCreationRemovesTheShareOnceAndSaysWhy)
{
    enum Fault {
        none,
        failedSave,
        cancelInSecondFile,
        cancelWhileSaving,
        grown,
        shrunk,
        gone,
        linked,
        replaced,
        pipe,
        noPasswordKey
    };
    struct Case {
        const char *name;
        QString failPattern;
        Fault fault;
        std::string expected;
        bool saved; // the record was saved (and stays: the share model removes it)
        int purges; // clean-ups started
        QStringList left; // objects that remain, by name inside the share's folder
    };
    const QString rcatFailed = QStringLiteral("storage: upload failed: injected failure: rcat");
    const std::vector<Case> cases{
        {"the second file's upload", "rcat*/f/1", none, rcatFailed.toStdString(), false, 1, {}},
        {"the manifest", "rcat*/manifest", none, rcatFailed.toStdString(), false, 1, {}},
        {"saving the record", "", failedSave, "record not saved", false, 1, {}},
        {"meta.json, cleaned up", "rcat*/meta.json", none, rcatFailed.toStdString(), true, 1, {}},
        {"meta.json and the clean-up",
         "rcat*/meta.json\npurge *",
         none,
         "mayStillBeLive",
         true,
         1,
         {"f/0", "f/1", "manifest"}},
        {"a file that grew", "", grown, "fileChanged: Photos/b.bin", false, 1, {}},
        {"a file that shrank", "", shrunk, "fileChanged: Photos/b.bin", false, 1, {}},
        {"a file that is gone", "", gone, "system error", false, 1, {}},
        // The same size elsewhere: only which file it is tells them apart.
        {"a file replaced by a link", "", linked, "fileChanged: Photos/b.bin", false, 1, {}},
        {"a file replaced by another", "", replaced, "fileChanged: Photos/b.bin", false, 1, {}},
        // Without a writer a pipe would hold the upload forever.
        {"a file replaced by a pipe", "", pipe, "fileChanged: Photos/b.bin", false, 1, {}},
        {"cancelled in the second file", "", cancelInSecondFile, "cancelled", false, 1, {}},
        {"cancelled while saving", "", cancelWhileSaving, "cancelled", true, 1, {}},
        {"the password key", "", noPasswordKey, "pbkdf2", false, 0, {}},
    };
    const QString engine = bucket.failingEngine();
    const QByteArray first = bytes((1 << 20) + 300, 1);
    const QByteArray second = bytes((2 << 20) + 17, 2);
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        QFile::remove(bucket.callsLog());
        QList<ShareItem> items{item(QStringLiteral("a.bin"), first), item(QStringLiteral("Photos/b.bin"), second)};
        if (row.fault == grown)
            items[1].size -= 1;
        if (row.fault == shrunk)
            items[1].size += 1;
        if (row.fault == gone)
            items[1].url += QStringLiteral(".gone");
        if (row.fault == linked || row.fault == replaced) {
            const QString other = files.filePath(QStringLiteral("other.bin"));
            QFile::remove(other);
            QFile file(other);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes(second.size(), 9)) == second.size());
            file.close();
            if (row.fault == linked)
                ASSERT_TRUE(QFile::remove(items[1].url) && QFile::link(other, items[1].url));
            else
                ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(items[1].url).constData()),
                          0);
        }
        if (row.fault == pipe)
            ASSERT_TRUE(QFile::remove(items[1].url)
                        && ::mkfifo(QFile::encodeName(items[1].url).constData(), 0600) == 0);
        CancelSource cancel;
        Reports reports;
        const auto storage = bucket.storage(engine, row.failPattern);
        ShareCreator::Progress progress = [&](const ShareProgress &report) {
            if (row.fault == cancelInSecondFile && report.done > first.size())
                cancel.request_stop();
        };
        auto task =
            ShareCreator(storage, row.fault == noPasswordKey ? 0 : testRounds)
                .create(
                    items, QStringLiteral("t"), {}, {ShareExpiry::oneDay, std::nullopt, QStringLiteral("pw")},
                    workerURL, QStringLiteral("m"), QDateTime::currentDateTimeUtc(), ShareFormat::chunkSize, progress,
                    [&](ShareRecord record) -> QCoro::Task<> {
                        if (row.fault == failedSave)
                            throw std::runtime_error("record not saved");
                        reports.saved = record;
                        if (row.fault == cancelWhileSaving)
                            cancel.request_stop();
                        co_return;
                    },
                    cancel.get_token());
        std::exception_ptr error;
        try {
            await(std::move(task));
        } catch (...) {
            error = std::current_exception();
        }
        ASSERT_TRUE(error);
        EXPECT_EQ(outcome(error), row.expected);
        EXPECT_EQ(bool(reports.saved), row.saved);
        EXPECT_EQ(bucket.calls().filter(QRegularExpression(QStringLiteral("^purge "))).size(), row.purges);
        QStringList left;
        for (const QString &name : bucket.server().objectNames())
            left.append(name.section(u'/', 2));
        EXPECT_EQ(left, row.left);
        if (row.expected == "mayStillBeLive") {
            try {
                std::rethrow_exception(error);
            } catch (const ShareCreator::Failure &failure) {
                EXPECT_EQ(QStringLiteral("ovra-shares/") + failure.text + QStringLiteral("/manifest"),
                          bucket.server().objectNames().last());
            }
            await(bucket.storage()->deleteAll(bucket.server().objectNames().first().section(u'/', 1, 1)));
        }
        if (row.fault == noPasswordKey)
            EXPECT_TRUE(bucket.calls().isEmpty()) << "nothing ran";
    }
}

} // namespace
