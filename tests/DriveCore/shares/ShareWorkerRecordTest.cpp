#include "DriveCore/shares/ShareWorkerConfig.h"

#include "DriveCore/platform/ProcessRunner.h"
#include "ShareEngine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::failureOf;

namespace {

// The link page's record in the drive's metadata folder, through Debian's rclone.
class ShareWorkerRecordTest : public TestSupport::ShareEngineTest {
protected:
    std::optional<ShareWorkerConfig> load() { return await(ShareWorkerConfig::load(engine->client(), metaFs)); }

    // The stored object's plain bytes.
    QByteArray stored()
    {
        const RcloneResult result = await(ProcessRunner::run(
            TestSupport::ShareBucket::rclone(), {QStringLiteral("cat"), metaFs + QStringLiteral("/share-worker.json")},
            engine->bucket().environment()));
        EXPECT_EQ(result.status, 0) << result.stderrText().toStdString();
        return result.stdoutBytes;
    }

    static ShareWorkerConfig record(std::optional<qint64> build)
    {
        return {QUrl(QStringLiteral("https://ovra-share-bucket.alice.workers.dev")), QStringLiteral("0123456789abcdef"),
                build, QDateTime::fromSecsSinceEpoch(1'796'810'400, Qt::UTC).addMSecs(750)};
    }
};

TEST_F(ShareWorkerRecordTest, ADriveWithoutALinkPageHasNoRecord)
{
    EXPECT_EQ(load(), std::nullopt);
}

TEST_F(ShareWorkerRecordTest, SavesAndReadsBackToTheSecond)
{
    await(record(120).save(engine->client(), metaFs));
    EXPECT_EQ(
        stored(),
        R"({"appBuild":120,"deployedAt":"2026-12-09T10:00:00Z","url":"https:\/\/ovra-share-bucket.alice.workers.dev","version":"0123456789abcdef"})");
    ShareWorkerConfig expected = record(120);
    expected.deployedAt = expected.deployedAt.addMSecs(-750);
    EXPECT_EQ(load(), expected);

    await(record(std::nullopt).save(engine->client(), metaFs)); // replaces
    EXPECT_FALSE(stored().contains("appBuild"));
    EXPECT_EQ(load()->appBuild, std::nullopt);
}

TEST_F(ShareWorkerRecordTest, AnObjectThatIsNoRecordFailsToLoad)
{
    for (const QByteArray &json :
         {QByteArray("{"), QByteArray(R"({"url":"https://x.example","version":"a"})"),
          QByteArray(R"({"url":"not absolute","version":"a","deployedAt":"2026-12-09T10:00:00Z"})")}) {
        engine->put(metaFs, QStringLiteral("share-worker.json"), json);
        EXPECT_TRUE(failureOf<JsonDecodingError>(ShareWorkerConfig::load(engine->client(), metaFs)))
            << json.toStdString();
    }
}

TEST_F(ShareWorkerRecordTest, EngineFailuresPassOn)
{
    const RCClient stopped(1, TestSupport::ShareEngine::user,
                           TestSupport::ShareEngine::pass); // nothing listens on port 1
    EXPECT_TRUE(failureOf<HTTPTransportError>(ShareWorkerConfig::load(stopped, metaFs)));
    EXPECT_TRUE(failureOf<HTTPTransportError>(record(1).save(stopped, metaFs)));
    EXPECT_TRUE(failureOf<RCError>(ShareWorkerConfig::load(engine->client(), QStringLiteral("noSuchRemote:"))));
}

} // namespace
