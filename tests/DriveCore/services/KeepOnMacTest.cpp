#include "DriveCore/services/KeepOnMac.h"

#include "support/fake-engine/FakeEngine.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::failureOf;

namespace {

constexpr qint64 GB = 1'000'000'000;

PinStatus pinOf(const QString &path, bool isDir, qint64 bytes, qint64 bytesDone,
                const QString &state = QStringLiteral("keeping"))
{
    return {path, isDir, 1, 0, bytes, bytesDone, state};
}

QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

} // namespace

TEST(KeepOnMac, ProgressLine)
{
    const QList<PinStatus> complete{pinOf(QStringLiteral("a"), false, 3 * GB, 3 * GB)};
    const QList<PinStatus> keeping{pinOf(QStringLiteral("a"), false, 3 * GB, 1 * GB),
                                   pinOf(QStringLiteral("b"), true, 2 * GB, 2 * GB)};
    const struct {
        const char *name;
        PinsReply reply;
        std::optional<QString> line;
    } cases[] = {
        {"paused for space, even when complete",
         {complete, QStringLiteral("lowSpace")},
         QStringLiteral("Keeping on this computer paused: this computer is almost full")},
        {"done, even when the sums differ", {keeping, QStringLiteral("done")}, std::nullopt},
        {"keeping", {keeping, QStringLiteral("keeping")}, QStringLiteral("Keeping on this computer: 3 GB of 5 GB")},
        {"any other state is keeping",
         {keeping, QStringLiteral("offline")},
         QStringLiteral("Keeping on this computer: 3 GB of 5 GB")},
        {"every pin complete", {complete, QStringLiteral("keeping")}, std::nullopt},
        {"no pins", {{}, QStringLiteral("keeping")}, std::nullopt},
        // A file kept on its own inside a kept folder is counted once, through the folder.
        {"a file inside a kept folder",
         {{pinOf(QStringLiteral("Docs"), true, 4 * GB, 1 * GB),
           pinOf(QStringLiteral("Docs/big.mov"), false, 2 * GB, 1 * GB)},
          QStringLiteral("keeping")},
         QStringLiteral("Keeping on this computer: 1 GB of 4 GB")},
        {"decimal file sizes",
         {{pinOf(QStringLiteral("x"), false, 1'500'000, 250'000)}, QStringLiteral("keeping")},
         QStringLiteral("Keeping on this computer: 250 kB of 1.5 MB")},
        // Sizes from the engine whose sum leaves 64 bits stop at the largest count.
        {"sums beyond 64 bits",
         {{pinOf(QStringLiteral("a"), false, 9'000'000'000'000'000'000, 0),
           pinOf(QStringLiteral("b"), false, 9'000'000'000'000'000'000, 1 * GB)},
          QStringLiteral("keeping")},
         QStringLiteral("Keeping on this computer: 1 GB of 9.22 EB")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(KeepOnMac::progressLine(c.reply), c.line) << c.name;
}

TEST(KeepOnMac, NotEnoughSpaceTextNamesNeededThenFree)
{
    EXPECT_EQ(
        KeepOnMac::notEnoughSpaceText(12'300'000'000, 800'000'000),
        QStringLiteral(
            "Not enough space to keep these on this computer. They need 12.3 GB; this computer has 800 MB free."));
}

TEST(KeepOnMac, DrivePathOfALocationInTheMount)
{
    EXPECT_EQ(
        KeepOnMac::drivePath(QStringLiteral("/home/u/Mounts/Drive/Docs/a.txt"), QStringLiteral("/home/u/Mounts/Drive")),
        QStringLiteral("Docs/a.txt"));
    EXPECT_EQ(KeepOnMac::drivePath(QStringLiteral("/home/u/Mounts/Drive2/a"), QStringLiteral("/home/u/Mounts/Drive")),
              std::nullopt);
}

// The pin methods exist only in the drive's own engine: against the fake engine.
class KeepOnMacEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *file : {"Drive/Docs/a.txt", "Drive/Docs/b.txt", "Drive/top.bin"}) {
            const QString path = engine.bucket() + u'/' + QLatin1String(file);
            QDir().mkpath(QFileInfo(path).path());
            QFile out(path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write("12345");
        }
        ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();
    }

    // Scripts one method's reply.
    void reply(const char *method, const char *replyJSON)
    {
        engine.setScenario(
            {{"methods", QJsonObject{{QLatin1String(method), QJsonObject{{"reply", json(replyJSON)}}}}}});
    }

    RCClient rc() const { return engine.client(); }

    const QString fs = QString::fromLatin1(RCClient::mountFs);
    TestSupport::FakeEngine engine;
};

TEST_F(KeepOnMacEngineTest, PinsListsAndUnpinsInTheCallersOrder)
{
    EXPECT_EQ(await(pin(rc(), {QStringLiteral("top.bin"), QStringLiteral("Docs")}, fs)), PinResult::added());
    await(pinScan(rc(), fs));

    const PinsReply kept = await(pins(rc(), fs));
    EXPECT_EQ(kept.state, QStringLiteral("done"));
    EXPECT_EQ(kept.pins,
              (QList<PinStatus>{{QStringLiteral("top.bin"), false, 1, 1, 5, 5, QStringLiteral("done")},
                                {QStringLiteral("Docs"), true, 2, 2, 10, 10, QStringLiteral("done")}}));

    EXPECT_EQ(await(unpin(rc(), {QStringLiteral("Docs")}, fs)), 0);
    EXPECT_EQ(await(pins(rc(), fs)).pins.size(), 1);
}

TEST_F(KeepOnMacEngineTest, PinReportsNotEnoughSpaceOnlyWhenTheEngineSaysSo)
{
    reply("vfs/pin", R"({"needed": 5000000000, "free": 1000000000, "notEnoughSpace": true})");
    EXPECT_EQ(await(pin(rc(), {QStringLiteral("Docs")}, fs)), PinResult::notEnoughSpace(5 * GB, 1 * GB));

    reply("vfs/pin", R"({"needed": 5000000000, "free": 1000000000, "notEnoughSpace": false})");
    EXPECT_EQ(await(pin(rc(), {QStringLiteral("Docs")}, fs)), PinResult::added());
}

TEST_F(KeepOnMacEngineTest, RepliesMissingARequiredKeyFail)
{
    reply("vfs/unpin", R"({})");
    EXPECT_TRUE(failureOf<JsonDecodingError>(unpin(rc(), {QStringLiteral("Docs")}, fs)));

    reply("vfs/pins", R"({"state": "keeping", "pins": [
        {"path": "a", "isDir": false, "files": 1, "filesDone": 0, "bytes": 5, "state": "keeping"}]})");
    EXPECT_TRUE(failureOf<JsonDecodingError>(pins(rc(), fs)));

    reply("vfs/pin", R"({"needed": 1, "free": 2})");
    EXPECT_TRUE(failureOf<JsonDecodingError>(pin(rc(), {QStringLiteral("Docs")}, fs)));
}

TEST_F(KeepOnMacEngineTest, RefusalsPassThrough)
{
    const auto error = failureOf<RCError>(pins(rc(), QStringLiteral("drivecrypt:Other")));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->method, QStringLiteral("vfs/pins"));
    EXPECT_EQ(error->status, 500);
}
