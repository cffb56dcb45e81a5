#include "DriveCore/services/DriveSearch.h"

#include "UpstreamDrive.h"

#include "support/fake-engine/FakeEngine.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;

namespace {

// The production listing over the engine's listing and upload queue (the queue is the drive's
// own engine's, so the fake engine serves both).
class DriveSearchListingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(engine.writeFile(QStringLiteral("Drive/Work/Q1 report.pdf"), "12345"));
        ASSERT_TRUE(engine.writeFile(QStringLiteral("Drive/Work/Cafe\u0301.txt"), "ab"));
        ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();
    }

    void answerQueue(const char *answer)
    {
        engine.setScenario(QJsonDocument::fromJson(QByteArrayLiteral(R"({"methods": {"vfs/queue": )") + answer
                                                   + QByteArrayLiteral("}}"))
                               .object());
    }

    TestSupport::FakeEngine engine;
};

TEST_F(DriveSearchListingTest, ListsTheDriveAndItsWaitingUploads)
{
    answerQueue(R"({"reply": {"queue": [{"name": "Work/Q1 report.pdf", "size": 5}, {"name": "New/scan.png"}]}})");
    QList<DriveSearchEntry> entries = await(DriveSearch::searchListing(engine.client()));
    std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) { return a.path < b.path; });

    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries[0], (DriveSearchEntry{"New/scan.png", "scan.png", false, std::nullopt, std::nullopt, true}));
    EXPECT_EQ(entries[1].path, QStringLiteral("Work"));
    EXPECT_TRUE(entries[1].isDirectory);
    EXPECT_EQ(entries[1].size, std::nullopt);
    EXPECT_TRUE(entries[1].modified.has_value());
    EXPECT_EQ(entries[2].path, QStringLiteral("Work/Caf\u00e9.txt")) << "paths are composed";
    EXPECT_EQ(entries[2].size, 2);
    EXPECT_EQ(entries[3],
              (DriveSearchEntry{"Work/Q1 report.pdf", "Q1 report.pdf", false, std::nullopt, std::nullopt, true}));
}

TEST_F(DriveSearchListingTest, FailsWithTheErrorOfEitherRequest)
{
    answerQueue(R"({"status": 500, "error": "queue broken"})");
    const auto queueFailure = TestSupport::failureOf<RCError>(DriveSearch::searchListing(engine.client()));
    ASSERT_TRUE(queueFailure);
    EXPECT_EQ(queueFailure->method, QStringLiteral("vfs/queue"));
    EXPECT_EQ(queueFailure->message, QStringLiteral("queue broken"));

    answerQueue(R"({"reply": {"queue": []}})");
    QDir(engine.bucket() + QStringLiteral("/Drive")).removeRecursively();
    const auto listingFailure = TestSupport::failureOf<RCError>(DriveSearch::searchListing(engine.client()));
    ASSERT_TRUE(listingFailure);
    EXPECT_EQ(listingFailure->method, QStringLiteral("operations/list"));
    EXPECT_TRUE(listingFailure->message.contains(QLatin1String("directory not found")));
}

// Debian's rclone has no upload queue ("vfs/queue"): the listing alone makes the entries, with
// nothing waiting, and the refused queue call does not cut the listing short.
TEST(DriveSearchListingUpstreamTest, AnEngineWithoutAnUploadQueueHasNothingWaiting)
{
    ServicesTest::UpstreamDrive drive;
    QString failure;
    ASSERT_TRUE(drive.start(&failure)) << failure.toStdString();
    const QString fs = QString::fromLatin1(ServicesTest::UpstreamDrive::filesFs);
    drive.put(fs, QStringLiteral("Trips/Lisbon/tram ticket.pdf"), "12345");
    drive.put(fs, QStringLiteral("notes.txt"), "ab");

    QList<DriveSearchEntry> entries = await(DriveSearch::searchListing(drive.client()));
    std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) { return a.path < b.path; });
    QStringList paths;
    for (const DriveSearchEntry &entry : entries) {
        paths.append(entry.path);
        EXPECT_FALSE(entry.pendingUpload) << entry.path.toStdString();
        EXPECT_TRUE(entry.modified.has_value()) << entry.path.toStdString();
    }
    EXPECT_EQ(paths,
              (QStringList{QStringLiteral("Trips"), QStringLiteral("Trips/Lisbon"),
                           QStringLiteral("Trips/Lisbon/tram ticket.pdf"), QStringLiteral("notes.txt")}));
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(entries[2].size, 5);
    EXPECT_EQ(entries[3].size, 2);
}

} // namespace
