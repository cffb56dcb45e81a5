#include "DriveCore/shares/ShareRecords.h"

#include "DriveCore/shares/ScratchFolder.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/support/Base64URL.h"
#include "ShareEngine.h"
#include "support/ScopedEnvironment.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <system_error>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::failureOf;

namespace {

class ShareRecordsTest : public TestSupport::ShareEngineTest {
protected:
    ShareRecords records() const { return ShareRecords(engine->client(), metaFs); }

    void put(const QString &path, const QByteArray &data) const { engine->put(metaFs, path, data); }

    static ShareRecord record(const QString &id, qint64 createdAt, const QString &title = QStringLiteral("t"))
    {
        ShareRecord record;
        record.id = id;
        record.secret = Base64URL::encode(QByteArray(32, 's'));
        record.password = QStringLiteral("pw");
        record.title = title;
        record.items = {QStringLiteral("Photos/2026")};
        record.fileCount = 3;
        record.totalBytes = 99;
        record.createdAt = QDateTime::fromSecsSinceEpoch(createdAt, Qt::UTC);
        record.expiresAt = QDateTime::fromSecsSinceEpoch(createdAt + 3600, Qt::UTC);
        record.workerURL = QUrl(QStringLiteral("https://ovra-share-bucket.alice.workers.dev"));
        record.createdBy = QStringLiteral("Kitchen Mac");
        return record;
    }
};

TEST_F(ShareRecordsTest, SavesListsNewestFirstAndRemoves)
{
    EXPECT_TRUE(await(records().all()).isEmpty()) << "a drive that never had a link";

    const QString a(22, u'A'), b(22, u'B'), c(22, u'C');
    await(records().save(record(b, 1'800'000'000)));
    await(records().save(record(c, 1'800'000'100)));
    await(records().save(record(a, 1'800'000'000)));
    ShareRecord withFraction = record(c, 1'800'000'100, QStringLiteral("renamed"));
    withFraction.createdAt = withFraction.createdAt.addMSecs(700);
    await(records().save(withFraction)); // replaces

    const QList<ShareRecord> all = await(records().all());
    EXPECT_EQ(all,
              (QList<ShareRecord>{record(c, 1'800'000'100, QStringLiteral("renamed")), record(a, 1'800'000'000),
                                  record(b, 1'800'000'000)}));
    for (const QString &name : engine->bucket().server().objectNames())
        EXPECT_FALSE(name.contains(a) || name.contains(u"shares")) << "stored encrypted: " << name.toStdString();

    await(records().remove(c));
    await(records().remove(c));
    EXPECT_EQ(await(records().all()), (QList<ShareRecord>{record(a, 1'800'000'000), record(b, 1'800'000'000)}));
}

TEST_F(ShareRecordsTest, LeavesOutWhatIsNotARecord)
{
    const QString good = ShareFormat::newShareID();
    await(records().save(record(good, 1'800'000'000)));
    ShareRecord wrongID = record(good, 1'800'000'500);
    wrongID.id = QStringLiteral("short");
    put(QStringLiteral("shares/readme.txt"), "hello");
    put(QStringLiteral("shares/folder.json/inside.json"), ShareRecords::encoded(record(ShareFormat::newShareID(), 1)));
    put(QStringLiteral("shares/broken.json"), "{");
    put(QStringLiteral("shares/missing-key.json"), R"({"id":"AAAAAAAAAAAAAAAAAAAAAA"})");
    put(QStringLiteral("shares/wrong-id.json"), ShareRecords::encoded(wrongID));

    EXPECT_EQ(await(records().all()), QList<ShareRecord>{record(good, 1'800'000'000)});
}

TEST_F(ShareRecordsTest, RefusesIdsThatAreNotShareIDsBeforeAskingTheEngine)
{
    const ShareRecords unreachable(RCClient(1, TestSupport::ShareEngine::user, TestSupport::ShareEngine::pass),
                                   metaFs); // nothing listens on port 1
    for (const QString &id :
         {QString(21, u'A'), QString(23, u'A'), QString(21, u'A') + u'+', QString(21, u'A') + u'/'}) {
        const auto saved = failureOf<ShareFormat::Failure>(unreachable.save(record(id, 1)));
        ASSERT_TRUE(saved) << id.toStdString();
        EXPECT_EQ(saved->code, ShareFormat::Failure::badShareID);
        EXPECT_TRUE(failureOf<ShareFormat::Failure>(unreachable.remove(id)));
    }
}

TEST_F(ShareRecordsTest, EngineFailuresPassOnAndLeaveNoScratchFolder)
{
    QTemporaryDir temporary;
    TestSupport::ScopedEnvironment environment;
    environment.set("TMPDIR", QFile::encodeName(temporary.path()));
    const auto left = [&] {
        return QDir(temporary.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
            .join(u' ')
            .toStdString();
    };

    const ShareRecords nowhere(engine->client(), QStringLiteral("noSuchRemote:"));
    EXPECT_TRUE(failureOf<RCError>(nowhere.save(record(ShareFormat::newShareID(), 1))));
    EXPECT_TRUE(failureOf<RCError>(nowhere.all()));
    EXPECT_EQ(left(), "") << "after the failures";

    // Nor do the operations that worked.
    await(records().save(record(ShareFormat::newShareID(), 1)));
    EXPECT_EQ(await(records().all()).size(), 1);
    EXPECT_EQ(left(), "") << "after a save and a listing";
}

TEST(ScratchFolder, IsPrivateAndGoesAwayWithItsFiles)
{
    QTemporaryDir temporary;
    TestSupport::ScopedEnvironment environment;
    environment.set("TMPDIR", QFile::encodeName(temporary.path()));
    QString path;
    {
        const ScratchFolder folder(QStringLiteral("CorvaneDrive-shares-"));
        path = folder.path();
        EXPECT_TRUE(QFileInfo(path).fileName().startsWith(u"CorvaneDrive-shares-"));
        EXPECT_EQ(QFileInfo(path).path(), temporary.path());
        EXPECT_EQ(QFileInfo(path).permissions() & 0x7777,
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser
                      | QFile::ExeUser);
        folder.write(QStringLiteral("a.json"), "secret");
        EXPECT_EQ(QFileInfo(path + QStringLiteral("/a.json")).permissions() & 0x7777,
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        EXPECT_THROW(folder.write(QStringLiteral("a.json"), "again"), std::system_error);
        folder.write(QStringLiteral("b.json"), "kept");
        EXPECT_EQ(folder.take(QStringLiteral("a.json")), "secret");
        EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("/a.json")));
        EXPECT_THROW(folder.take(QStringLiteral("a.json")), std::system_error);
    }
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(ScratchFolder, MakesTheMissingParentsOfTheTemporaryFolder)
{
    QTemporaryDir temporary;
    TestSupport::ScopedEnvironment environment;
    const QString missing = temporary.filePath(QStringLiteral("not yet/made"));
    environment.set("TMPDIR", QFile::encodeName(missing));
    const ScratchFolder folder(QStringLiteral("CorvaneDrive-shares-"));
    EXPECT_EQ(QFileInfo(folder.path()).path().toStdString(), missing.toStdString());
    folder.write(QStringLiteral("a.json"), "secret");
    EXPECT_EQ(folder.take(QStringLiteral("a.json")), "secret");
}

} // namespace
