#include "DriveCore/services/ConflictResolver.h"

#include "DriveCore/engine/DriveLayout.h"
#include "support/fake-engine/FakeEngine.h"
#include "support/FakeHttpServer.h"
#include "support/FreePort.h"
#include "support/TestSupport.h"
#include "UpstreamDrive.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace DriveCore;
using ServicesTest::done;
using TestSupport::await;
using TestSupport::failureOf;

namespace {

QCoro::Task<QSet<QString>> queueOf(QSet<QString> paths)
{
    co_return paths;
}

} // namespace

TEST(DriveConflict, ReadsCopyNames)
{
    const struct {
        const char *copy;
        const char *original; // none: not a conflict copy
        const char *device;
    } cases[] = {
        {"Docs/report (conflict from Mac).txt", "Docs/report.txt", "Mac"},
        {"Docs/report (conflict from Mac 2).txt", "Docs/report.txt", "Mac"},
        {"Docs/report (conflict from Mac 1).txt", "Docs/report.txt", "Mac 1"},
        {"Docs/report (conflict from Mac 02).txt", "Docs/report.txt", "Mac 02"},
        {"Docs/report (conflict from Mac +3).txt", "Docs/report.txt", "Mac +3"},
        {"Docs/report (conflict from Ann's Mac 12).txt", "Docs/report.txt", "Ann's Mac"},
        {"Makefile (conflict from Mac)", "Makefile", "Mac"},
        {"archive.tar (conflict from Mac).gz", "archive.tar.gz", "Mac"},
        {".env (conflict from Mac)", ".env", "Mac"},
        {"Bob (conflict from Bob (Work)).txt", "Bob.txt", "Bob (Work)"},
        {"a (conflict from X) (conflict from Y).txt", "a (conflict from X).txt", "Y"},
        {"x/y/z (conflict from A B)", "x/y/z", "A B"},
        {" (conflict from Mac).txt", nullptr, nullptr},
        {"Docs/ (conflict from Mac).txt", nullptr, nullptr},
        {"report.txt", nullptr, nullptr},
        {"report (conflict from Mac).txt.bak", nullptr, nullptr},
        {"A (conflict from X)/b.txt", nullptr, nullptr},
        {"report (conflict from ).txt", nullptr, nullptr},
        {"report (conflict from Mac", nullptr, nullptr},
    };
    for (const auto &c : cases) {
        const QString copy = QString::fromUtf8(c.copy);
        const std::optional<DriveConflict> conflict = DriveConflict::fromCopyPath(copy);
        if (!c.original) {
            EXPECT_EQ(conflict, std::nullopt) << c.copy;
            continue;
        }
        EXPECT_EQ(conflict, (DriveConflict{QString::fromUtf8(c.original), copy, QString::fromUtf8(c.device)}))
            << c.copy;
    }
    const DriveConflict conflict = *DriveConflict::fromCopyPath(QStringLiteral("Docs/report (conflict from Mac).txt"));
    EXPECT_EQ(conflict.id(), conflict.copy);
    EXPECT_EQ(conflict.fileName(), QStringLiteral("report.txt"));
}

TEST(ConflictText, Texts)
{
    const DriveConflict conflict{QStringLiteral("Docs/report.txt"),
                                 QStringLiteral("Docs/report (conflict from Mac).txt"), QStringLiteral("Mac")};
    EXPECT_EQ(ConflictText::title(conflict), QStringLiteral("\u201Creport.txt\u201D was changed on two computers"));
    EXPECT_EQ(
        ConflictText::occupied(conflict.fileName()),
        QStringLiteral("\u201Creport.txt\u201D changed again while you were choosing, so both versions were kept."));
    EXPECT_EQ(ConflictText::counter(2), QStringLiteral("1 of 2"));
    EXPECT_STREQ(ConflictText::keepThisMac, "Keep This Computer's Version");
    EXPECT_STREQ(ConflictText::smallPrint, "The version you don't keep goes to Recently Deleted for 30 days.");
}

TEST(ConflictResolver, KeepBothSendsNothing)
{
    // Nothing listens there: any request would fail.
    const RCClient nobody(TestSupport::freePort(), QStringLiteral("u"), QStringLiteral("p"));
    const ConflictResolver resolver(nobody, QStringLiteral("drivecrypt:Drive"),
                                    QStringLiteral("drivecrypt:Recently Deleted"),
                                    [](QString, QString) { return done(); });
    const DriveConflict conflict{QStringLiteral("a.txt"), QStringLiteral("a (conflict from M).txt"),
                                 QStringLiteral("M")};
    EXPECT_EQ(await(resolver.resolve(conflict, ConflictChoice::keepBoth)), ConflictOutcome::keptBoth());
}

namespace {

// Passes every request on to the engine and, once a request has been answered there, lets the
// test act before the answer goes back: another machine's change landing between two steps.
class EngineProxy {
public:
    using After = std::function<void(const QString &method, const QJsonObject &params)>;

    explicit EngineProxy(RCClient engine) : m_engine(std::move(engine))
    {
        if (!m_server.listen())
            qFatal("cannot listen");
    }

    RCClient client() const { return RCClient(m_server.port(), QStringLiteral("u"), QStringLiteral("p")); }
    After after;

private:
    static QCoro::Task<> forward(EngineProxy *self, QString method, QJsonObject params,
                                 TestSupport::FakeHttpServer::Respond respond)
    {
        TestSupport::FakeHttpResponse response;
        try {
            const QJsonObject reply = co_await self->m_engine.call(method, params);
            response.body = QJsonDocument(reply).toJson();
        } catch (const RCError &error) {
            response = {
                error.status, QJsonDocument(QJsonObject{{"error", error.message}}).toJson(), "application/json", {}};
        }
        if (self->after)
            self->after(method, params);
        respond(response);
    }

    RCClient m_engine;
    TestSupport::FakeHttpServer m_server{
        [this](const TestSupport::FakeHttpRequest &request, TestSupport::FakeHttpServer::Respond respond) {
            forward(this, QString::fromUtf8(request.path.mid(1)), QJsonDocument::fromJson(request.body).object(),
                    std::move(respond));
        }};
};

} // namespace

// The resolver on a real bucket through Debian's rclone, with the drive's remotes.
class ConflictResolverTest : public ServicesTest::UpstreamDriveTest {
protected:
    void SetUp() override
    {
        UpstreamDriveTest::SetUp();
        drive->put(filesFs, conflict.original, "theirs");
        drive->put(filesFs, conflict.copy, "mine!");
    }

    ConflictResolver resolver(QSet<QString> queued = {}, std::optional<RCClient> rc = std::nullopt)
    {
        return ConflictResolver(
            rc.value_or(drive->client()), filesFs, trashFs, recordNudges(), mount.path(), [this] { return now; },
            [queued](CancelToken) { return queueOf(queued); }, recordForgets());
    }

    QString trashed(const QString &path) const { return DriveLayout::dateFolder(now) + u'/' + path; }

    const DriveConflict conflict{QStringLiteral("Docs/report.txt"),
                                 QStringLiteral("Docs/report (conflict from Mac).txt"), QStringLiteral("Mac")};
    QTemporaryDir mount;
};

TEST_F(ConflictResolverTest, KeepOtherSendsTheCopyToRecentlyDeleted)
{
    EXPECT_EQ(await(resolver().resolve(conflict, ConflictChoice::keepOther)),
              ConflictOutcome::resolved(QStringLiteral("Docs")));
    EXPECT_EQ(drive->files(filesFs), QStringList{conflict.original});
    EXPECT_EQ(drive->contents(filesFs, conflict.original), "theirs");
    EXPECT_EQ(drive->contents(trashFs, trashed(conflict.copy)), "mine!");
    EXPECT_EQ(forgotten, QStringList{conflict.original});
    EXPECT_EQ(nudged, (QList<std::pair<QString, QString>>{{mount.path(), QStringLiteral("Docs")}}));
}

TEST_F(ConflictResolverTest, KeepThisMacPutsTheCopyInPlace)
{
    EXPECT_EQ(await(resolver().resolve(conflict, ConflictChoice::keepThisMac)),
              ConflictOutcome::resolved(QStringLiteral("Docs")));
    EXPECT_EQ(drive->files(filesFs), QStringList{conflict.original});
    EXPECT_EQ(drive->contents(filesFs, conflict.original), "mine!");
    EXPECT_EQ(drive->contents(trashFs, trashed(conflict.original)), "theirs");
    EXPECT_EQ(forgotten, QStringList{conflict.original});

    // Done already: a second resolve finds the copy gone.
    EXPECT_EQ(await(resolver().resolve(conflict, ConflictChoice::keepThisMac)), ConflictOutcome::alreadySortedOut());
}

TEST_F(ConflictResolverTest, ATopLevelFileResolvesToTheTopFolder)
{
    const DriveConflict top = *DriveConflict::fromCopyPath(QStringLiteral("a (conflict from Mac).txt"));
    drive->put(filesFs, top.original);
    drive->put(filesFs, top.copy);
    EXPECT_EQ(await(resolver().resolve(top, ConflictChoice::keepOther)), ConflictOutcome::resolved(QString()));
    EXPECT_EQ(nudged, (QList<std::pair<QString, QString>>{{mount.path(), QString()}}));
}

TEST_F(ConflictResolverTest, AlreadySortedOutWhenEitherFileIsGone)
{
    for (const QString &gone : {conflict.copy, conflict.original}) {
        for (const ConflictChoice choice : {ConflictChoice::keepThisMac, ConflictChoice::keepOther}) {
            SetUp();
            await(drive->client().deleteFile(filesFs, gone));
            EXPECT_EQ(await(resolver().resolve(conflict, choice)), ConflictOutcome::alreadySortedOut())
                << gone.toStdString();
            EXPECT_TRUE(drive->files(trashFs).isEmpty());
        }
    }
    EXPECT_TRUE(forgotten.isEmpty());
}

TEST_F(ConflictResolverTest, OccupiedWhileAFileInvolvedWaitsToUpload)
{
    const struct {
        ConflictChoice choice;
        QSet<QString> queued;
        ConflictOutcome outcome;
    } cases[] = {
        {ConflictChoice::keepOther, {conflict.copy}, ConflictOutcome::occupied()},
        {ConflictChoice::keepThisMac, {conflict.original}, ConflictOutcome::occupied()},
        {ConflictChoice::keepThisMac, {conflict.copy}, ConflictOutcome::occupied()},
        // Only the copy is dropped: a queued original does not matter.
        {ConflictChoice::keepOther, {conflict.original}, ConflictOutcome::resolved(QStringLiteral("Docs"))},
    };
    for (const auto &c : cases) {
        SetUp();
        EXPECT_EQ(await(resolver(c.queued).resolve(conflict, c.choice)), c.outcome);
        const bool resolved = c.outcome.kind == ConflictOutcome::Kind::resolved;
        EXPECT_EQ(drive->files(filesFs).size(), resolved ? 1 : 2);
    }
}

TEST_F(ConflictResolverTest, KeepThisMacStaysOccupiedWhenANewOriginalArrives)
{
    EngineProxy proxy(drive->client());
    proxy.after = [&](const QString &method, const QJsonObject &params) {
        // Another machine saves the file right after this one moved the old one away.
        if (method == u"operations/movefile" && params.value(u"srcRemote").toString() == conflict.original)
            drive->put(filesFs, conflict.original, "newest");
    };
    EXPECT_EQ(await(resolver({}, proxy.client()).resolve(conflict, ConflictChoice::keepThisMac)),
              ConflictOutcome::occupied());
    EXPECT_EQ(drive->contents(filesFs, conflict.original), "newest");
    EXPECT_EQ(drive->contents(filesFs, conflict.copy), "mine!");
    EXPECT_EQ(drive->contents(trashFs, trashed(conflict.original)), "theirs");
    EXPECT_EQ(forgotten, QStringList{conflict.original});
    EXPECT_EQ(nudged.size(), 1);
}

TEST_F(ConflictResolverTest, WithoutAQueueTheEnginesOwnIsReadAndItsAbsenceIsNoQueue)
{
    // Upstream rclone has no "vfs/queue": nothing counts as waiting.
    const ConflictResolver resolver(drive->client(), filesFs, trashFs, [](QString, QString) { return done(); });
    EXPECT_EQ(await(resolver.resolve(conflict, ConflictChoice::keepOther)),
              ConflictOutcome::resolved(QStringLiteral("Docs")));
}

// The drive's own engine reports its upload queue.
TEST(ConflictResolverEngine, ReadsTheEnginesUploadQueue)
{
    TestSupport::FakeEngine engine;
    for (const char *file : {"Drive/a.txt", "Drive/a (conflict from Mac).txt"}) {
        QFile out(engine.bucket() + u'/' + QLatin1String(file));
        QDir().mkpath(QFileInfo(out).path());
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();
    engine.setScenario(QJsonDocument::fromJson(R"({"methods": {"vfs/queue": {"reply": {"queue": [
        {"name": "a (conflict from Mac).txt", "size": 1}]}}}})")
                           .object());

    const DriveConflict conflict = *DriveConflict::fromCopyPath(QStringLiteral("a (conflict from Mac).txt"));
    const ConflictResolver resolver(engine.client(), QString::fromLatin1(RCClient::mountFs),
                                    QStringLiteral("drivecrypt:Recently Deleted"),
                                    [](QString, QString) { return done(); });
    EXPECT_EQ(await(resolver.resolve(conflict, ConflictChoice::keepOther)), ConflictOutcome::occupied());

    // A failing stat fails the resolve before anything moves.
    engine.setScenario(
        QJsonDocument::fromJson(R"({"methods": {"operations/stat": {"status": 500, "error": "boom"}}})").object());
    const auto error = failureOf<RCError>(resolver.resolve(conflict, ConflictChoice::keepThisMac));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, QStringLiteral("boom"));
    EXPECT_TRUE(QFile::exists(engine.bucket() + QStringLiteral("/Drive/a.txt")));
}
