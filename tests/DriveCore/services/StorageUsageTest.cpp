#include "DriveCore/services/StorageUsage.h"

#include "support/FakeHttpServer.h"
#include "support/TestSupport.h"
#include "UpstreamDrive.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::failureOf;
using TestSupport::FakeHttpRequest;
using TestSupport::FakeHttpResponse;
using TestSupport::FakeHttpServer;

TEST(StorageUsage, TextsAndPriceRule)
{
    const struct {
        qint64 drive, trash;
        const char *used, *cost;
        double monthly;
    } cases[] = {
        {0, 0, "Used: 0 GB · Recently Deleted: 0 GB", "About $0.00 this month (the first 10 GB are free)", 0},
        {4'000'000'000, 0, "Used: 4 GB · Recently Deleted: 0 GB", "About $0.00 this month (the first 10 GB are free)",
         0},
        {9'000'000'000, 1'000'000'000, "Used: 9 GB · Recently Deleted: 1 GB",
         "About $0.00 this month (the first 10 GB are free)", 0},
        {10'000'000'000, 300'000'000, "Used: 10 GB · Recently Deleted: 300 MB", "Less than $0.01 this month", 0.0045},
        {100'000'000'000, 10'000'000'000, "Used: 100 GB · Recently Deleted: 10 GB", "About $1.50 this month", 1.5},
        {1, 999, "Used: 1 byte · Recently Deleted: 999 bytes", "About $0.00 this month (the first 10 GB are free)", 0},
    };
    for (const auto &c : cases) {
        const StorageUsage usage{c.drive, c.trash};
        EXPECT_EQ(usage.usedText(), QString::fromUtf8(c.used));
        EXPECT_EQ(usage.costText(), QString::fromUtf8(c.cost)) << c.drive + c.trash;
        EXPECT_NEAR(usage.estimatedMonthlyCost(), c.monthly, 1e-12);
    }
    EXPECT_EQ(StorageUsage::monthlyCost(110'000'000'000), (StorageUsage{110'000'000'000, 0}.estimatedMonthlyCost()));
    EXPECT_EQ(QString::fromUtf8(StorageUsage::estimateNote),
              QStringLiteral(
                  "An estimate at Cloudflare R2 Standard prices ($0.015 per GB a month, first 10 GB free). "
                  "Storage only: uploads and downloads can add a little. Your Cloudflare bill is the real figure."));
}

// The two folders of a real bucket, through the drive's encrypting remote.
TEST(StorageUsage, MeasuresTheBucketWithAndWithoutRecentlyDeleted)
{
    ServicesTest::UpstreamDrive drive;
    QString failure;
    ASSERT_TRUE(drive.start(&failure)) << failure.toStdString();
    const QString files = QString::fromLatin1(ServicesTest::UpstreamDrive::filesFs);
    const QString trash = QString::fromLatin1(ServicesTest::UpstreamDrive::trashFs);
    drive.put(files, QStringLiteral("a.bin"), QByteArray(1000, 'a'));
    drive.put(files, QStringLiteral("Docs/b.bin"), QByteArray(500, 'b'));

    EXPECT_EQ(await(StorageUsage::measure(drive.client(), QStringLiteral("drivecrypt"))), (StorageUsage{1500, 0}));

    drive.put(trash, QStringLiteral("2026-03-04/c.bin"), QByteArray(300, 'c'));
    EXPECT_EQ(await(StorageUsage::measure(drive.client(), QStringLiteral("drivecrypt"))), (StorageUsage{1500, 300}));

    // A local folder answers "directory not found" for the missing trash, and for a missing drive.
    const QString local = QString::fromLatin1(ServicesTest::UpstreamDrive::localRemote);
    EXPECT_EQ(await(StorageUsage::measure(drive.client(), local)), (StorageUsage{0, 0}));
    drive.put(local + QStringLiteral(":Drive"), QStringLiteral("d.bin"), QByteArray(20, 'd'));
    EXPECT_EQ(await(StorageUsage::measure(drive.client(), local)), (StorageUsage{20, 0}));
}

namespace {

// An engine that holds every "operations/size" request until the test answers it, by fs.
class SizeServer {
public:
    SizeServer()
    {
        if (!m_server.listen())
            qFatal("cannot listen");
    }

    RCClient client() const { return RCClient(m_server.port(), QStringLiteral("u"), QStringLiteral("p")); }
    // Requests seen, by fs.
    const std::map<QString, FakeHttpServer::Respond> &waiting() const { return m_waiting; }

    void answer(const QString &fs, int status, const char *body)
    {
        m_waiting.at(fs)({status, body, "application/json", {}});
    }

private:
    std::map<QString, FakeHttpServer::Respond> m_waiting;
    FakeHttpServer m_server{[this](const FakeHttpRequest &request, FakeHttpServer::Respond respond) {
        const QString fs = QJsonDocument::fromJson(request.body).object().value(u"fs").toString();
        m_waiting[fs] = std::move(respond);
    }};
};

const QString driveFs = QStringLiteral("drivecrypt:Drive");
const QString trashFs = QStringLiteral("drivecrypt:Recently Deleted");

} // namespace

TEST(StorageUsage, AsksForBothSizesAtOnce)
{
    SizeServer engine;
    auto measuring = StorageUsage::measure(engine.client(), QStringLiteral("drivecrypt"));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return engine.waiting().size() == 2; }));
    engine.answer(trashFs, 200, R"({"count": 1, "bytes": -5, "sizeless": 0})");
    engine.answer(driveFs, 200, R"({"count": 2, "bytes": 42, "sizeless": 0})");
    EXPECT_EQ(await(std::move(measuring)), (StorageUsage{42, 0}));
}

TEST(StorageUsage, AMissingFolderIsEmptyAndOtherFailuresFail)
{
    const struct {
        const char *name;
        int driveStatus;
        const char *driveBody;
        int trashStatus;
        const char *trashBody;
        std::optional<StorageUsage> usage;
        QString failingMethodMessage;
    } cases[] = {
        {"no trash yet",
         200,
         R"({"bytes": 7})",
         404,
         R"({"error": "error in ListJSON: directory not found"})",
         StorageUsage{7, 0},
         {}},
        {"the drive fails, the trash does not", 500, R"({"error": "AccessDenied"})", 200, R"({"bytes": 1})",
         std::nullopt, QStringLiteral("AccessDenied")},
        {"both fail: the drive's error", 500, R"({"error": "first"})", 500, R"({"error": "second"})", std::nullopt,
         QStringLiteral("first")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SizeServer engine;
        auto measuring = StorageUsage::measure(engine.client(), QStringLiteral("drivecrypt"));
        ASSERT_TRUE(TestSupport::spinUntil([&] { return engine.waiting().size() == 2; }));
        engine.answer(driveFs, c.driveStatus, c.driveBody);
        engine.answer(trashFs, c.trashStatus, c.trashBody);
        if (c.usage) {
            EXPECT_EQ(await(std::move(measuring)), *c.usage);
        } else {
            const auto error = failureOf<RCError>(std::move(measuring));
            ASSERT_TRUE(error);
            EXPECT_EQ(error->message, c.failingMethodMessage);
        }
    }

    SizeServer engine;
    auto measuring = StorageUsage::measure(engine.client(), QStringLiteral("drivecrypt"));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return engine.waiting().size() == 2; }));
    engine.answer(driveFs, 200, R"({"count": 0})");
    engine.answer(trashFs, 200, R"({"bytes": 0})");
    EXPECT_TRUE(failureOf<JsonDecodingError>(std::move(measuring)));
}

TEST(StorageUsage, AFailureCancelsTheOtherRequest)
{
    for (const bool trashFails : {true, false}) {
        SCOPED_TRACE(trashFails ? "the trash fails" : "the drive fails");
        SizeServer engine;
        auto measuring = StorageUsage::measure(engine.client(), QStringLiteral("drivecrypt"));
        ASSERT_TRUE(TestSupport::spinUntil([&] { return engine.waiting().size() == 2; }));
        // The other request is never answered: only cancelling it ends the measurement.
        engine.answer(trashFails ? trashFs : driveFs, 500, R"({"error": "broken"})");
        ASSERT_TRUE(TestSupport::spinUntil([&] { return measuring.isReady(); }));
        const auto error = failureOf<RCError>(std::move(measuring));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->message, QStringLiteral("broken"));
    }
}

TEST(StorageUsage, CancellingTheCallCancelsBothRequests)
{
    SizeServer engine;
    CancelSource cancel;
    auto measuring = StorageUsage::measure(engine.client(), QStringLiteral("drivecrypt"), cancel.get_token());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return engine.waiting().size() == 2; }));
    cancel.request_stop();
    EXPECT_THROW(await(std::move(measuring)), CancelledError);
}
