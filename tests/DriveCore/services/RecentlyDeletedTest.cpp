#include "DriveCore/services/RecentlyDeleted.h"

#include "DriveCore/engine/DriveLayout.h"
#include "support/fake-engine/FakeEngine.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"
#include "UpstreamDrive.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <utility>

using namespace DriveCore;
using ServicesTest::done;
using TestSupport::await;
using TestSupport::failureOf;

namespace {

QDateTime day(int year, int month, int dayOfMonth, int hour = 12)
{
    return QDateTime(QDate(year, month, dayOfMonth), QTime(hour, 0), QTimeZone::systemTimeZone());
}

} // namespace

TEST(RecentlyDeletedNames, ParsesOnlyRealDaysInAsciiDigits)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    EXPECT_EQ(RecentlyDeletedService::parseDateFolder(QStringLiteral("2026-03-04")),
              QDate(2026, 3, 4).startOfDay(zone));
    EXPECT_EQ(RecentlyDeletedService::parseDateFolder(QStringLiteral("2024-02-29")),
              QDate(2024, 2, 29).startOfDay(zone));
    for (const char16_t *name :
         {u"2026-02-30", u"2025-02-29", u"2026-13-01", u"2026-00-10", u"2026-2-03", u"2026-02-03b", u"02026-02-03",
          u"+026-02-03", u"2026-02--3", u"2026-02-03-", u"2026/02/03", u"",
          u"\u0662\u0660\u0662\u0666-\u0660\u0663-\u0660\u0664", u"\uFF12026-03-04", u"0000-01-01"}) {
        EXPECT_EQ(RecentlyDeletedService::parseDateFolder(QString::fromUtf16(name)), std::nullopt)
            << QString::fromUtf16(name).toStdString();
    }
}

TEST(RecentlyDeletedNames, DaysLeftCountCalendarDays)
{
    const DeletedItem item{QStringLiteral("2026-03-04/a"), QStringLiteral("a"), QDate(2026, 3, 4).startOfDay(), 1};
    const struct {
        QDateTime today;
        int left;
    } cases[] = {
        {day(2026, 3, 4, 0), 30}, {day(2026, 3, 4, 23), 30}, {day(2026, 4, 2), 1},
        {day(2026, 4, 3), 0},     {day(2026, 4, 18), 0},     {day(2026, 3, 1), 33},
    };
    for (const auto &c : cases)
        EXPECT_EQ(item.daysLeft(c.today), c.left) << c.today.toString(Qt::ISODate).toStdString();

    // Across a daylight-saving change, days are days whatever the hours between them.
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    const DeletedItem spring{QStringLiteral("2026-03-28/a"), QStringLiteral("a"), QDate(2026, 3, 28).startOfDay(berlin),
                             1};
    EXPECT_EQ(spring.daysLeft(QDateTime(QDate(2026, 3, 30), QTime(0, 30), berlin), berlin), 28);
    EXPECT_EQ(RecentlyDeletedService::daysBetween(QDateTime(QDate(2026, 3, 29), QTime(23, 30), berlin),
                                                  QDateTime(QDate(2026, 3, 30), QTime(0, 10), berlin), berlin),
              1);
}

TEST(RecentlyDeletedNames, RestoredNamesAndExtensions)
{
    const struct {
        const char *path;
        int attempt;
        const char *restored;
    } restored[] = {
        {"Docs/report.pdf", 1, "Docs/report (restored).pdf"},
        {"Docs/report.pdf", 2, "Docs/report (restored 2).pdf"},
        {"Docs/report.pdf", 3, "Docs/report (restored 3).pdf"},
        {"Notes", 1, "Notes (restored)"},
        {"a/.env", 1, "a/.env (restored)"},
        {"release.d/notes", 2, "release.d/notes (restored 2)"},
        {"archive.tar.gz", 1, "archive.tar (restored).gz"},
    };
    for (const auto &c : restored) {
        EXPECT_EQ(RecentlyDeletedService::restoredName(QString::fromUtf8(c.path), c.attempt),
                  QString::fromUtf8(c.restored));
    }

    const struct {
        const char *path, *stem, *extension;
    } split[] = {
        {"2026-03-04/a/report.final.pdf", "2026-03-04/a/report.final", ".pdf"},
        {"2026-03-04/a/.profile", "2026-03-04/a/.profile", ""},
        {"2026-03-04/release.d/notes", "2026-03-04/release.d/notes", ""},
        {"x.txt", "x", ".txt"},
        {"Makefile", "Makefile", ""},
    };
    for (const auto &c : split) {
        EXPECT_EQ(RecentlyDeletedService::splitExtension(QString::fromUtf8(c.path)),
                  std::pair(QString::fromUtf8(c.stem), QString::fromUtf8(c.extension)));
    }
}

TEST(RecentlyDeletedNames, ForgetTargetIsTheShallowestMissingFolder)
{
    QStringList asked;
    QStringList existing;
    std::optional<QString> failing;
    const auto exists = [&](QString path) -> QCoro::Task<bool> {
        asked.append(path);
        if (failing == path)
            throw std::runtime_error("stat failed");
        const bool found = existing.contains(path);
        return [](bool value) -> QCoro::Task<bool> { co_return value; }(found);
    };

    existing = {QStringLiteral("a")};
    EXPECT_EQ(await(RecentlyDeletedService::forgetTarget(QStringLiteral("a/b/c/d.txt"), exists)),
              QStringLiteral("a/b"));
    EXPECT_EQ(asked, (QStringList{QStringLiteral("a"), QStringLiteral("a/b")}));

    existing = {QStringLiteral("a"), QStringLiteral("a/b")};
    EXPECT_EQ(await(RecentlyDeletedService::forgetTarget(QStringLiteral("a/b/d.txt"), exists)),
              QStringLiteral("a/b/d.txt"));
    asked.clear();
    EXPECT_EQ(await(RecentlyDeletedService::forgetTarget(QStringLiteral("top.txt"), exists)),
              QStringLiteral("top.txt"));
    EXPECT_TRUE(asked.isEmpty());

    failing = QStringLiteral("a/b");
    EXPECT_THROW(await(RecentlyDeletedService::forgetTarget(QStringLiteral("a/b/d.txt"), exists)), std::runtime_error);
}

// The service on the drive's real folders in a bucket, through Debian's rclone.
class RecentlyDeletedTest : public ServicesTest::UpstreamDriveTest {
protected:
    // A service whose forgets and nudges are recorded; no mount folder unless given.
    RecentlyDeletedService service(std::optional<QString> mount = std::nullopt, bool recordingForgets = true)
    {
        return RecentlyDeletedService(
            drive->client(), trashFs, filesFs, std::move(mount), recordNudges(), [this] { return now; },
            recordingForgets ? recordForgets() : nullptr);
    }

    QString todayFolder() const { return DriveLayout::dateFolder(now); }
};

TEST_F(RecentlyDeletedTest, WithoutATrashFolderTheTrashIsEmpty)
{
    drive->put(filesFs, QStringLiteral("a.txt"));
    // In a bucket the missing folder lists as empty; in a local folder rclone says "directory
    // not found".
    const QString local = QString::fromLatin1(ServicesTest::UpstreamDrive::localRemote);
    const auto missing =
        failureOf<RCError>(drive->client().list(local + QStringLiteral(":Recently Deleted"), {}, false));
    ASSERT_TRUE(missing && missing->message.contains(u"directory not found"));
    for (const QString &trash : {trashFs, local + QStringLiteral(":Recently Deleted")}) {
        const RecentlyDeletedService service(drive->client(), trash, filesFs, std::nullopt,
                                             [](QString, QString) { return done(); });
        EXPECT_TRUE(await(service.list()).isEmpty());
        EXPECT_EQ(await(service.totalSize()), 0);
        EXPECT_EQ(await(service.purgeExpired()), 0);
        await(service.empty());
    }
    EXPECT_EQ(drive->files(filesFs), QStringList{QStringLiteral("a.txt")});
}

TEST_F(RecentlyDeletedTest, ListsOnlyFilesInsideDateFolders)
{
    drive->put(trashFs, QStringLiteral("2026-03-04/Photos/beach.jpg"), "12345");
    drive->put(trashFs, QStringLiteral("2026-03-05/a.txt"), "xy");
    for (const char *skipped : {"2026-02-30/x.txt", "2026-2-03/x.txt", "2026-02-03b/x.txt", "loose.txt", "Misc/y.txt"})
        drive->put(trashFs, QString::fromLatin1(skipped));

    QList<DeletedItem> items = await(service().list());
    std::sort(items.begin(), items.end(), [](const DeletedItem &a, const DeletedItem &b) { return a.id < b.id; });
    EXPECT_EQ(items,
              (QList<DeletedItem>{
                  {QStringLiteral("2026-03-04/Photos/beach.jpg"), QStringLiteral("Photos/beach.jpg"),
                   QDate(2026, 3, 4).startOfDay(), 5},
                  {QStringLiteral("2026-03-05/a.txt"), QStringLiteral("a.txt"), QDate(2026, 3, 5).startOfDay(), 2},
              }));
    EXPECT_EQ(await(service().totalSize()), 7);
}

TEST_F(RecentlyDeletedTest, PurgesDateFoldersFrom31DaysOn)
{
    const auto folder = [&](int daysAgo) { return DriveLayout::dateFolder(now.addDays(-daysAgo)); };
    drive->put(trashFs, folder(30) + QStringLiteral("/kept.txt"));
    drive->put(trashFs, folder(31) + QStringLiteral("/a.txt"));
    drive->put(trashFs, folder(31) + QStringLiteral("/deep/b.txt"));
    drive->put(trashFs, folder(45) + QStringLiteral("/c.txt"));
    drive->put(trashFs, QStringLiteral("Misc/old.txt"));
    drive->put(trashFs, QStringLiteral("loose.txt"));

    EXPECT_EQ(await(service().purgeExpired()), 3);
    EXPECT_EQ(drive->files(trashFs),
              (QStringList{folder(30) + QStringLiteral("/kept.txt"), QStringLiteral("Misc/old.txt"),
                           QStringLiteral("loose.txt")}));

    // Emptying takes everything at the top level, date folder or not.
    await(service().empty());
    EXPECT_TRUE(drive->files(trashFs).isEmpty());
}

TEST_F(RecentlyDeletedTest, DeleteNowRemovesOneFile)
{
    drive->put(trashFs, QStringLiteral("2026-03-04/a.txt"));
    drive->put(trashFs, QStringLiteral("2026-03-04/b.txt"));
    const QList<DeletedItem> items = await(service().list());
    ASSERT_EQ(items.size(), 2);
    await(service().deleteNow(items[0]));
    EXPECT_EQ(drive->files(trashFs), QStringList{items[1].id});
    EXPECT_TRUE(forgotten.isEmpty());
    EXPECT_TRUE(nudged.isEmpty());
}

TEST_F(RecentlyDeletedTest, RestoresToTheFirstFreeName)
{
    QTemporaryDir mount;
    drive->put(filesFs, QStringLiteral("Docs/report.pdf"), "current");
    drive->put(trashFs, QStringLiteral("2026-03-04/Docs/report.pdf"), "first");
    const DeletedItem item = await(service().list()).at(0);

    EXPECT_EQ(await(service(mount.path()).restore(item)), QStringLiteral("Docs/report (restored).pdf"));
    // Only in the mount folder so far (not uploaded yet): the name is taken all the same.
    QDir(mount.path()).mkpath(QStringLiteral("Docs"));
    QFile(mount.filePath(QStringLiteral("Docs/report (restored 2).pdf"))).open(QIODevice::WriteOnly);
    drive->put(trashFs, QStringLiteral("2026-03-04/Docs/report.pdf"), "second");
    EXPECT_EQ(await(service(mount.path()).restore(item)), QStringLiteral("Docs/report (restored 3).pdf"));

    EXPECT_EQ(drive->files(filesFs),
              (QStringList{QStringLiteral("Docs/report (restored 3).pdf"), QStringLiteral("Docs/report (restored).pdf"),
                           QStringLiteral("Docs/report.pdf")}));
    EXPECT_TRUE(drive->files(trashFs).isEmpty());
    // Every folder was there: the file itself is forgotten and its folder nudged.
    EXPECT_EQ(
        forgotten,
        (QStringList{QStringLiteral("Docs/report (restored).pdf"), QStringLiteral("Docs/report (restored 3).pdf")}));
    const std::pair<QString, QString> docs{mount.path(), QStringLiteral("Docs")};
    EXPECT_EQ(nudged, (QList<std::pair<QString, QString>>{docs, docs}));
}

TEST_F(RecentlyDeletedTest, RestoringIntoMissingFoldersForgetsTheShallowest)
{
    QTemporaryDir mount;
    drive->put(filesFs, QStringLiteral("other.txt"));
    drive->put(trashFs, QStringLiteral("2026-03-04/a/b/c.txt"));
    const DeletedItem item = await(service().list()).at(0);

    EXPECT_EQ(await(service(mount.path()).restore(item)), QStringLiteral("a/b/c.txt"));
    EXPECT_TRUE(drive->isFile(filesFs, QStringLiteral("a/b/c.txt")));
    EXPECT_EQ(forgotten, QStringList{QStringLiteral("a")});
    EXPECT_EQ(nudged, (QList<std::pair<QString, QString>>{{mount.path(), QString()}}));
}

TEST_F(RecentlyDeletedTest, WithoutAMountFolderTheBucketDecidesAndNothingIsNudged)
{
    drive->put(filesFs, QStringLiteral("x.txt"));
    drive->put(trashFs, QStringLiteral("2026-03-04/x.txt"));
    EXPECT_EQ(await(service().restore(await(service().list()).at(0))), QStringLiteral("x (restored).txt"));
    EXPECT_EQ(forgotten, QStringList{QStringLiteral("x (restored).txt")});
    EXPECT_TRUE(nudged.isEmpty());
}

TEST_F(RecentlyDeletedTest, AFailingForgetIsLoggedAndTheRestoreStands)
{
    // Upstream rclone serves no file-system cache here, so its "vfs/forget" fails.
    QTemporaryDir mount;
    drive->put(trashFs, QStringLiteral("2026-03-04/a.txt"));
    const DeletedItem item = await(service().list()).at(0);
    TestSupport::LogCapture log;
    EXPECT_EQ(await(service(mount.path(), false).restore(item)), QStringLiteral("a.txt"));
    EXPECT_TRUE(drive->isFile(filesFs, QStringLiteral("a.txt")));
    EXPECT_EQ(log.messages(QStringLiteral("recently-deleted")),
              QStringList{QStringLiteral("Could not refresh folder listing: <private>")});
    EXPECT_TRUE(nudged.isEmpty());
}

TEST_F(RecentlyDeletedTest, MovesIntoTodaysFolderNumberingNamesTaken)
{
    const struct {
        const char *path;
        QStringList trashed;
    } cases[] = {
        {"Docs/report.pdf", {"/Docs/report.pdf", "/Docs/report (2).pdf", "/Docs/report (3).pdf"}},
        {".env", {"/.env", "/.env (2)"}},
        {"release.d/notes", {"/release.d/notes", "/release.d/notes (2)"}},
    };
    for (const auto &c : cases) {
        const QString path = QString::fromUtf8(c.path);
        for (const QString &expected : c.trashed) {
            drive->put(filesFs, path);
            EXPECT_EQ(await(service().moveToTrash(path)), todayFolder() + expected);
            EXPECT_FALSE(drive->isFile(filesFs, path));
        }
    }
    EXPECT_TRUE(forgotten.isEmpty());
    EXPECT_TRUE(nudged.isEmpty());
    EXPECT_EQ(drive->files(trashFs).size(), 7);
}

TEST_F(RecentlyDeletedTest, FailuresPassThroughUnchanged)
{
    const auto missing = failureOf<RCError>(service().moveToTrash(QStringLiteral("nothing-here.txt")));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->method, QStringLiteral("operations/movefile"));

    const DeletedItem gone{QStringLiteral("2026-03-04/gone.txt"), QStringLiteral("gone.txt"), day(2026, 3, 4), 1};
    const auto notFound = failureOf<RCError>(service().deleteNow(gone));
    ASSERT_TRUE(notFound);
    EXPECT_TRUE(notFound->message.contains(u"not found")) << notFound->message.toStdString();
    // A failed restore leaves nothing behind.
    EXPECT_TRUE(failureOf<RCError>(service().restore(gone)));
    EXPECT_TRUE(drive->files(filesFs).isEmpty());
    EXPECT_TRUE(forgotten.isEmpty());
}

// The default forget against the drive's own engine, which serves "vfs/forget".
TEST(RecentlyDeletedEngine, ForgetsThroughTheEngineThenNudges)
{
    TestSupport::FakeEngine engine;
    QTemporaryDir mount;
    QDir(engine.bucket()).mkpath(QStringLiteral("Recently Deleted/2026-03-04/Docs"));
    QFile(engine.bucket() + QStringLiteral("/Recently Deleted/2026-03-04/Docs/a.txt")).open(QIODevice::WriteOnly);
    ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();

    QList<std::pair<QString, QString>> nudged;
    const RecentlyDeletedService service(engine.client(), QStringLiteral("drivecrypt:Recently Deleted"),
                                         QString::fromLatin1(RCClient::mountFs), mount.path(),
                                         [&](QString mount, QString folder) {
                                             nudged.append({mount, folder});
                                             return done();
                                         });
    const QList<DeletedItem> items = await(service.list());
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(await(service.restore(items[0])), QStringLiteral("Docs/a.txt"));
    EXPECT_TRUE(QFile::exists(engine.bucket() + QStringLiteral("/Drive/Docs/a.txt")));
    EXPECT_EQ(nudged, (QList<std::pair<QString, QString>>{{mount.path(), QString()}}));
}
