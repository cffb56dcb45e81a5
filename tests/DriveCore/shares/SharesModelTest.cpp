#include "DriveCore/shares/SharesModel.h"

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/shares/RcloneShareStorage.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/ShareRecords.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Tasks.h"
#include "ShareEngine.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace DriveCore {

// Readable rows and states in failure messages.
void PrintTo(const SharesModel::Row &row, std::ostream *out)
{
    *out << row.id().toStdString() << ": ";
    if (!row.status)
        *out << "not asked";
    else
        *out << (row.status->kind == ShareInfo::Status::live        ? "live"
                     : row.status->kind == ShareInfo::Status::ended ? "ended"
                                                                    : "unknown");
}

void PrintTo(const SharesModel::CreateState &state, std::ostream *out)
{
    const char *kinds[] = {"preparing", "done", "failed", "idle"};
    *out << kinds[state.kind] << " " << state.progress.done << "/" << state.progress.total << " "
         << (state.record ? state.record->id.toStdString() : std::string()) << " " << state.text.toStdString();
}

} // namespace DriveCore

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::failureOf;
using TestSupport::spinUntil;

namespace {

const QString notConnectedText =
    QStringLiteral("Your drive isn't connected right now. Try again when Ovra shows your drive.");
const QString endpoint = QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com");
const QUrl workerURL(QStringLiteral("https://ovra-share-photos.alice.workers.dev"));
const QDateTime start = QDateTime::fromSecsSinceEpoch(1'796'810'400, Qt::UTC);
const QList<ShareWorkerDeploy::Module> modules{
    {QStringLiteral("worker.js"), QStringLiteral("export default {};\n")},
    {QStringLiteral("format.js"), QStringLiteral("// f\n")},
    {QStringLiteral("assets.js"), QStringLiteral("// a\n")},
};

QCoro::Task<> nothing()
{
    co_return;
}

// Cloudflare's API and the link page's status route as the model reaches them through its HTTP
// sender: Cloudflare agrees to everything unless `cloudflare` says otherwise, and the link page
// answers each link's status from `statuses` (404 for a link it does not know). A missing
// answer is a transport failure. Status requests wait while `holdStatus` is set.
struct FakeWeb {
    std::vector<HTTPRequest> requests;
    std::function<std::optional<HTTPResponse>(const HTTPRequest &)> cloudflare = [](const HTTPRequest &request) {
        if (request.request.url().path().endsWith(u"/workers/subdomain"))
            return std::optional(HTTPResponse{R"({"success":true,"result":{"subdomain":"alice"}})", 200});
        return std::optional(HTTPResponse{R"({"success":true})", 200});
    };
    QHash<QString, std::optional<HTTPResponse>> statuses;
    bool holdStatus = false;
    bool statusWaiting = false;

    HTTPSend send()
    {
        return [this](HTTPRequest request, CancelToken token) { return respond(this, std::move(request), token); };
    }

    static QCoro::Task<HTTPResponse> respond(FakeWeb *web, HTTPRequest request, CancelToken token)
    {
        web->requests.push_back(request);
        const QString path = request.request.url().path();
        std::optional<HTTPResponse> answer;
        if (path.startsWith(u"/api/s/")) {
            web->statusWaiting = true;
            while (web->holdStatus)
                co_await DriveCore::sleep(10ms, token);
            web->statusWaiting = false;
            answer = web->statuses.value(path.section(u'/', 3, 3), HTTPResponse{"{}", 404});
        } else {
            answer = web->cloudflare(request);
        }
        if (!answer)
            throw HTTPTransportError(QNetworkReply::HostNotFoundError, QStringLiteral("Host not found"));
        co_return *answer;
    }

    qsizetype cloudflareRequests() const
    {
        return std::count_if(requests.begin(), requests.end(),
                             [](const HTTPRequest &r) { return r.request.url().path().startsWith(u"/client/v4/"); });
    }
    QStringList statusIDs() const
    {
        QStringList ids;
        for (const HTTPRequest &request : requests) {
            if (request.request.url().path().startsWith(u"/api/s/"))
                ids.append(request.request.url().path().section(u'/', 3, 3));
        }
        return ids;
    }
};

// The bucket's share storage with a step of the test's before each object is written, and the
// ids of the links it wrote and removed.
class SteppedStorage : public ShareStorage {
public:
    using Step = std::function<QCoro::Task<>(QString id, QString name, CancelToken token)>;

    SteppedStorage(std::shared_ptr<const ShareStorage> inner, Step step)
        : m_inner(std::move(inner)), m_step(std::move(step))
    {
    }

    QCoro::Task<> upload(QString id, QString name, qint64 size, Produce produce, CancelToken token = {}) const override
    {
        written.append(id);
        co_await m_step(id, name, token);
        co_await m_inner->upload(id, name, size, std::move(produce), token);
    }
    QCoro::Task<> put(QString id, QString name, QByteArray data, CancelToken token = {}) const override
    {
        written.append(id);
        co_await m_step(id, name, token);
        co_await m_inner->put(id, name, std::move(data), token);
    }
    QCoro::Task<> deleteObject(QString id, QString name, CancelToken token = {}) const override
    {
        return m_inner->deleteObject(std::move(id), std::move(name), std::move(token));
    }
    QCoro::Task<> deleteAll(QString id, CancelToken token = {}) const override
    {
        removed.append(id);
        return m_inner->deleteAll(std::move(id), std::move(token));
    }

    mutable QStringList written;
    mutable QStringList removed;

private:
    std::shared_ptr<const ShareStorage> m_inner;
    Step m_step;
};

// The model over Debian's rclone and the loopback S3 server: link records, the link page's
// record and share objects are real; the app model's side (context, blocked reason, key store)
// and the web (Cloudflare, the link page) are the test's. The drive's mount folder is a folder
// of the test's.
class SharesModelTest : public TestSupport::ShareEngineTest {
protected:
    std::unique_ptr<SharesModel> makeModel(qint64 appBuild = 200)
    {
        return std::make_unique<SharesModel>(SharesModel::Deps{
            .context = [this] { return context(); },
            .blocked = [this] { return blockedReason; },
            .appBuild = appBuild,
            .send = web.send(),
            .modules =
                [this] {
                    if (modulesMissing)
                        throw AppModelError(SharesModel::missingModulesText);
                    return modules;
                },
            .passwordRounds = 1000,
            .now = [this] { return now; },
            .metaFs = metaFs,
            .keepKey = [this](QString token) { return keep(std::move(token)); },
        });
    }

    QCoro::Task<ShareContext> context()
    {
        if (notConnected)
            throw AppModelError(notConnectedText);
        co_return ShareContext{engine->client(), storage,       QStringLiteral("Kitchen Mac"),
                               mount.path(),     driveEndpoint, QStringLiteral("photos"),
                               blockedReason,    keptKey};
    }

    QCoro::Task<> keep(QString token)
    {
        if (keepFailure)
            throw AppModelError(*keepFailure);
        keptTokens.append(token);
        return nothing();
    }

    // A file below the mount folder (or any folder), made with its parents.
    static QString file(const QString &folder, const QString &relative, const QByteArray &data = "hello")
    {
        const QString path = folder + u'/' + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // Waits until the model's creation has ended.
    static void finish(SharesModel &model)
    {
        ASSERT_TRUE(spinUntil([&] { return !model.isCreating(); }, 60s));
    }

    QList<ShareRecord> storedRecords() { return await(ShareRecords(engine->client(), metaFs).all()); }

    static ShareRecord record(const QString &id, qint64 createdAt)
    {
        ShareRecord record;
        record.id = id;
        record.secret = QString(43, u's');
        record.title = QStringLiteral("Photos");
        record.items = {QStringLiteral("Photos")};
        record.fileCount = 1;
        record.totalBytes = 5;
        record.createdAt = QDateTime::fromSecsSinceEpoch(createdAt, Qt::UTC);
        record.workerURL = workerURL;
        record.createdBy = QStringLiteral("Kitchen Mac");
        return record;
    }

    void saveWorkerRecord(const QString &version, std::optional<qint64> build)
    {
        await(ShareWorkerConfig{workerURL, version, build, start}.save(engine->client(), metaFs));
    }

    FakeWeb web;
    QTemporaryDir mount;
    QTemporaryDir outside;
    std::shared_ptr<const ShareStorage> storage = engine->bucket().storage();
    QString driveEndpoint = endpoint;
    bool notConnected = false;
    std::optional<QString> blockedReason;
    std::optional<QString> keptKey;
    std::optional<QString> keepFailure;
    QStringList keptTokens;
    bool modulesMissing = false;
    QDateTime now = start;
};

TEST_F(SharesModelTest, PicksOnlyWhatLiesInsideTheDrive)
{
    const QString a = file(mount.path(), QStringLiteral("a.txt"));
    const QString folder = QFileInfo(file(mount.path(), QStringLiteral("F/x.txt"))).path();
    const QString away = file(outside.path(), QStringLiteral("o.txt"));
    const QString linkOut = mount.filePath(QStringLiteral("out"));
    const QString linkIn = outside.filePath(QStringLiteral("in"));
    ASSERT_TRUE(QFile::link(away, linkOut) && QFile::link(a, linkIn));
    const QString escaping =
        mount.path() + QStringLiteral("/F/../../") + QFileInfo(outside.path()).fileName() + QStringLiteral("/o.txt");

    const std::vector<std::pair<QStringList, bool>> cases{
        {{a}, true},
        {{folder, a}, true},
        {{linkIn}, true}, // a link from elsewhere into the drive
        {{mount.path()}, false},
        {{mount.path() + u'/'}, false},
        {{away}, false},
        {{linkOut}, false}, // a link in the drive that leads out of it
        {{escaping}, false},
        {{a, away}, false},
    };
    const auto model = makeModel();
    const QStringList earlier{mount.filePath(QStringLiteral("a.txt"))};
    for (const auto &[paths, accepted] : cases) {
        SCOPED_TRACE(paths.join(u", ").toStdString());
        await(model->pick(earlier));
        const auto refused = failureOf<AppModelError>(model->pick(paths));
        EXPECT_EQ(refused.has_value(), !accepted);
        if (refused)
            EXPECT_EQ(refused->message, SharesModel::outsideDriveText);
        EXPECT_EQ(model->picked(), accepted ? paths : earlier);
    }
    EXPECT_EQ(model->pickedTitle(), QStringLiteral("a.txt"));

    notConnected = true;
    const auto refused = failureOf<AppModelError>(model->pick({a}));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->message, notConnectedText);
}

TEST_F(SharesModelTest, MakesALinkListedFirstWithItsProgress)
{
    const auto model = makeModel();
    await(model->setUpWorker(QStringLiteral("tok")));
    ASSERT_TRUE(model->worker());
    const QString notes = file(mount.path(), QStringLiteral("notes.txt"), QByteArray(10, 'n'));
    file(mount.path(), QStringLiteral("Holiday/one.bin"), QByteArray((1 << 20) + 5, 'o'));
    file(mount.path(), QStringLiteral("Holiday/two.txt"), "two");
    await(model->pick({notes, mount.filePath(QStringLiteral("Holiday"))}));
    EXPECT_EQ(model->pickedTitle(), QStringLiteral("notes.txt and 1 more"));

    QList<ShareProgress> progress;
    QObject::connect(model.get(), &SharesModel::changed, [&] {
        if (model->isCreating() && (progress.isEmpty() || progress.last() != model->createState().progress))
            progress.append(model->createState().progress);
    });
    model->create({ShareExpiry::sevenDays, 3, QStringLiteral("pw")});
    EXPECT_TRUE(model->isCreating());
    finish(*model);

    const qint64 total = 10 + (1 << 20) + 5 + 3;
    ASSERT_EQ(model->createState().kind, SharesModel::CreateState::done) << model->createState().text.toStdString();
    const ShareRecord made = *model->createState().record;
    EXPECT_EQ(made.title, QStringLiteral("notes.txt and 1 more"));
    EXPECT_EQ(made.items, (QStringList{QStringLiteral("notes.txt"), QStringLiteral("Holiday")}));
    EXPECT_EQ(made.fileCount, 3);
    EXPECT_EQ(made.totalBytes, total);
    EXPECT_EQ(made.password, QStringLiteral("pw"));
    EXPECT_EQ(made.maxDownloads, 3);
    EXPECT_EQ(made.createdAt, start);
    EXPECT_EQ(made.expiresAt, start.addDays(7));
    EXPECT_EQ(made.workerURL, model->worker()->url);
    EXPECT_EQ(made.createdBy, QStringLiteral("Kitchen Mac"));

    EXPECT_EQ(model->rows(), (QList<SharesModel::Row>{{made, std::nullopt}}));
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.first(), (ShareProgress{0, 0}));
    EXPECT_EQ(progress.last(), (ShareProgress{total, total}));
    for (qsizetype i = 1; i < progress.size(); ++i)
        EXPECT_LE(progress[i - 1].done, progress[i].done);
    EXPECT_EQ(model->picked().size(), 2) << "a made link keeps what was picked";

    const QList<ShareRecord> stored = storedRecords();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(stored[0].id, made.id);
    EXPECT_TRUE(
        engine->bucket().server().objectNames().contains(QStringLiteral("ovra-shares/%1/meta.json").arg(made.id)));
}

TEST_F(SharesModelTest, ALinkListedByALoadWhileItWasBeingFinishedIsListedOnce)
{
    // The link's record is saved before its "meta.json": a load in between lists it already.
    bool held = true;
    bool waiting = false;
    storage = std::make_shared<SteppedStorage>(engine->bucket().storage(),
                                               [&](QString, QString name, CancelToken token) -> QCoro::Task<> {
                                                   if (name != u"meta.json")
                                                       co_return;
                                                   waiting = true;
                                                   while (held)
                                                       co_await DriveCore::sleep(10ms, token);
                                               });
    const ShareRecord older = record(QString(22, u'O'), start.toSecsSinceEpoch() - 100);
    await(ShareRecords(engine->client(), metaFs).save(older));
    const auto model = makeModel();
    await(model->setUpWorker(QStringLiteral("tok")));
    await(model->pick({file(mount.path(), QStringLiteral("a.txt"))}));
    model->create({});
    ASSERT_TRUE(spinUntil([&] { return waiting; }, 30s));
    await(model->load());
    ASSERT_EQ(model->rows().size(), 2);
    const std::optional<ShareInfo::Status> listedStatus = model->rows()[0].status;

    held = false;
    finish(*model);
    ASSERT_EQ(model->createState().kind, SharesModel::CreateState::done) << model->createState().text.toStdString();
    const ShareRecord made = *model->createState().record;
    EXPECT_EQ(model->rows(), (QList<SharesModel::Row>{{made, listedStatus}, {older, model->rows()[1].status}}));
}

TEST_F(SharesModelTest, RefusesALinkItCannotMake)
{
    struct Case {
        const char *what;
        ShareOptions options;
        std::function<void()> arrange;
        QString text;
    };
    const std::vector<Case> cases{
        {"a blocked drive, before all else",
         {ShareExpiry::oneHour, 0, std::nullopt},
         [this] { blockedReason = notConnectedText; },
         notConnectedText},
        {"a limit of 0", {ShareExpiry::oneHour, 0, std::nullopt}, [] {}, SharesModel::downloadLimitText},
        {"a limit of 10,001", {ShareExpiry::oneHour, 10'001, std::nullopt}, [] {}, SharesModel::downloadLimitText},
        {"a limit of 1, but no link page", {ShareExpiry::oneHour, 1, std::nullopt}, [] {}, SharesModel::noLinkPageText},
        {"a limit of 10,000, but no link page",
         {ShareExpiry::oneHour, 10'000, std::nullopt},
         [] {},
         SharesModel::noLinkPageText},
        {"no limit, but no link page",
         {ShareExpiry::never, std::nullopt, std::nullopt},
         [] {},
         SharesModel::noLinkPageText},
        {"a drive that stopped", {}, [this] { notConnected = true; }, notConnectedText},
    };
    const QString a = file(mount.path(), QStringLiteral("a.txt"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        blockedReason.reset();
        notConnected = false;
        const auto model = makeModel();
        await(model->pick({a}));
        c.arrange();
        model->create(c.options);
        finish(*model);
        EXPECT_EQ(model->createState(), SharesModel::CreateState::makeFailed(c.text));
        EXPECT_TRUE(model->rows().isEmpty());
    }
    EXPECT_TRUE(storedRecords().isEmpty());
    EXPECT_TRUE(web.requests.empty());

    const auto model = makeModel();
    model->create({});
    EXPECT_EQ(model->createState(), SharesModel::CreateState{}) << "nothing picked";
}

TEST_F(SharesModelTest, NamesWhatCouldNotBeShared)
{
    const auto model = makeModel();
    await(model->setUpWorker(QStringLiteral("tok")));

    file(mount.path(), QStringLiteral("Empty/.hidden"));
    await(model->pick({mount.filePath(QStringLiteral("Empty"))}));
    model->create({});
    finish(*model);
    EXPECT_EQ(model->createState(), SharesModel::CreateState::makeFailed(SharesModel::nothingToShareText));

    // The file grows after it was collected, as a copy still under way would.
    const QString grows = file(mount.path(), QStringLiteral("grows.txt"), "12345");
    const auto stepped = std::make_shared<SteppedStorage>(storage, [grows](QString, QString, CancelToken) {
        QFile file(grows);
        if (!file.open(QIODevice::Append) || file.write("678") != 3)
            qFatal("cannot grow the file");
        return nothing();
    });
    storage = stepped;
    await(model->pick({grows}));
    model->create({});
    finish(*model);
    EXPECT_EQ(model->createState(),
              SharesModel::CreateState::makeFailed(SharesModel::fileChangedText(QStringLiteral("grows.txt"))));
    EXPECT_EQ(
        model->createState().text,
        QStringLiteral(
            "“grows.txt” changed while it was being shared. Wait until it has finished copying, then try again."));
    EXPECT_EQ(stepped->removed, stepped->written.mid(0, 1)) << "the link's folder is removed";
    EXPECT_TRUE(storedRecords().isEmpty());
    EXPECT_TRUE(model->rows().isEmpty());
}

TEST_F(SharesModelTest, AFailedLinkTakesItsRecordAlongUnlessItMayStillWork)
{
    const QString engineProgram = engine->bucket().failingEngine();
    const QString a = file(mount.path(), QStringLiteral("a.txt"));
    struct Case {
        QString failing;
        QString text;
        qsizetype recordsKept;
    };
    const std::vector<Case> cases{
        {QStringLiteral("rcat *meta.json"),
         SharesModel::storagePrefix + QStringLiteral("upload failed: injected failure: rcat"), 0},
        {QStringLiteral("rcat *meta.json\npurge *"), SharesModel::mayStillBeLiveText, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.failing.toStdString());
        const auto model = makeModel();
        await(model->setUpWorker(QStringLiteral("tok")));
        storage = engine->bucket().storage(engineProgram, c.failing);
        await(model->pick({a}));
        model->create({});
        finish(*model);
        EXPECT_EQ(model->createState(), SharesModel::CreateState::makeFailed(c.text));
        EXPECT_EQ(storedRecords().size(), c.recordsKept);
        for (const ShareRecord &kept : storedRecords())
            await(ShareRecords(engine->client(), metaFs).remove(kept.id));
        storage = engine->bucket().storage();
    }
}

TEST_F(SharesModelTest, ACancelledLinkEndsIdleAndLeavesNothing)
{
    const QString a = file(mount.path(), QStringLiteral("a.txt"));
    const QString b = file(mount.path(), QStringLiteral("b.txt"));
    bool waiting = false;
    for (const QString &held : {QStringLiteral("f/0"), QStringLiteral("meta.json")}) {
        SCOPED_TRACE(held.toStdString());
        waiting = false;
        const auto stepped = std::make_shared<SteppedStorage>(
            engine->bucket().storage(), [&waiting, held](QString, QString name, CancelToken token) -> QCoro::Task<> {
                if (name != held)
                    co_return;
                waiting = true;
                for (;;) // until cancelled
                    co_await DriveCore::sleep(10ms, token);
            });
        storage = stepped;
        const auto model = makeModel();
        await(model->setUpWorker(QStringLiteral("tok")));
        await(model->pick({a}));
        model->create({});
        ASSERT_TRUE(spinUntil([&] { return waiting; }, 30s));

        // While it runs, picking, starting again and resetting change nothing.
        await(model->pick({b}));
        model->create({});
        model->reset();
        EXPECT_EQ(model->picked(), QStringList{a});
        EXPECT_TRUE(model->isCreating());

        model->cancelCreate();
        finish(*model);
        EXPECT_EQ(model->createState(), SharesModel::CreateState{});
        EXPECT_EQ(stepped->removed, stepped->written.mid(0, 1));
        EXPECT_TRUE(storedRecords().isEmpty()) << "a record saved before the cancel goes again";
        EXPECT_TRUE(model->rows().isEmpty());
    }
}

TEST_F(SharesModelTest, ListsLinksNewestFirstAndAsksForEachStatusInTurn)
{
    ShareRecord live = record(QString(22, u'L'), start.toSecsSinceEpoch() - 100);
    ShareRecord expired = record(QString(22, u'E'), start.toSecsSinceEpoch() - 200);
    expired.expiresAt = start;
    ShareRecord unreachable = record(QString(22, u'U'), start.toSecsSinceEpoch() - 300);
    for (const ShareRecord &stored : {unreachable, live, expired})
        await(ShareRecords(engine->client(), metaFs).save(stored));
    web.statuses.insert(live.id, HTTPResponse{R"({"downloads":2,"expiresAt":null,"fileCount":1,"totalBytes":5})", 200});
    web.statuses.insert(unreachable.id, std::nullopt);

    const auto model = makeModel();
    bool sawLoading = false;
    QObject::connect(model.get(), &SharesModel::changed, [&] { sawLoading = sawLoading || model->loading(); });
    await(model->load());
    const ShareInfo::Status liveStatus = ShareInfo::Status::makeLive({std::nullopt, std::nullopt, 2, 1, 5});
    const ShareInfo::Status ended{ShareInfo::Status::ended, std::nullopt};
    const ShareInfo::Status unknown{ShareInfo::Status::unknown, std::nullopt};
    EXPECT_EQ(model->rows(), (QList<SharesModel::Row>{{live, liveStatus}, {expired, ended}, {unreachable, unknown}}));
    EXPECT_EQ(web.statusIDs(), (QStringList{live.id, unreachable.id})) << "an expired link costs no request";
    for (const HTTPRequest &request : web.requests)
        EXPECT_EQ(request.request.rawHeader("X-Ovra-Access").size(), 43);
    EXPECT_TRUE(sawLoading);
    EXPECT_FALSE(model->loading());
    EXPECT_EQ(model->listMessage(), std::nullopt);
    EXPECT_TRUE(model->workerChecked());
    EXPECT_EQ(model->worker(), std::nullopt);

    // Offline, a reloaded link keeps its last status until its new one arrives.
    web.statuses.insert(live.id, std::nullopt);
    web.holdStatus = true;
    QCoro::Task<> reload = model->load();
    ASSERT_TRUE(spinUntil([&] { return web.statusWaiting; }, 30s));
    EXPECT_EQ(model->rows()[0].status, liveStatus);
    web.holdStatus = false;
    await(std::move(reload));
    EXPECT_EQ(model->rows(), (QList<SharesModel::Row>{{live, unknown}, {expired, ended}, {unreachable, unknown}}));

    // Without the drive the list stays as it was, under the reason.
    notConnected = true;
    await(model->load());
    EXPECT_EQ(model->listMessage(), notConnectedText);
    EXPECT_EQ(model->rows().size(), 3);
    EXPECT_FALSE(model->loading());
}

TEST_F(SharesModelTest, ALinkStoppedDuringALoadStaysGone)
{
    const ShareRecord a = record(QString(22, u'A'), start.toSecsSinceEpoch() - 100);
    const ShareRecord b = record(QString(22, u'B'), start.toSecsSinceEpoch() - 200);
    for (const ShareRecord &stored : {a, b})
        await(ShareRecords(engine->client(), metaFs).save(stored));
    const auto model = makeModel();
    web.holdStatus = true;
    QCoro::Task<> loading = model->load();
    ASSERT_TRUE(spinUntil([&] { return web.statusWaiting; }, 30s));
    ASSERT_EQ(model->rows().size(), 2);
    await(model->stop(b));
    web.holdStatus = false;
    await(std::move(loading));
    ASSERT_EQ(model->rows().size(), 1);
    EXPECT_EQ(model->rows()[0].record, a);
    EXPECT_EQ(storedRecords(), QList<ShareRecord>{a});
}

TEST_F(SharesModelTest, StoppingEndsTheLinkFirstAndForgetsIt)
{
    const QString engineProgram = engine->bucket().failingEngine();
    storage = engine->bucket().storage(engineProgram);
    const auto model = makeModel();
    await(model->setUpWorker(QStringLiteral("tok")));
    const QString a = file(mount.path(), QStringLiteral("a.txt"));
    const auto make = [&] {
        await(model->pick({a}));
        model->create({});
        finish(*model);
        EXPECT_EQ(model->createState().kind, SharesModel::CreateState::done);
        return *model->createState().record;
    };

    const ShareRecord first = make();
    const qsizetype callsBefore = engine->bucket().calls().size();
    await(model->stop(first));
    const QStringList calls = engine->bucket().calls().mid(callsBefore);
    ASSERT_EQ(calls.size(), 2);
    EXPECT_TRUE(calls[0].startsWith(u"deletefile ") && calls[0].endsWith(first.id + QStringLiteral("/meta.json")));
    EXPECT_TRUE(calls[1].startsWith(u"purge ") && calls[1].endsWith(first.id));
    EXPECT_TRUE(model->rows().isEmpty());
    EXPECT_EQ(model->createState(), SharesModel::CreateState{}) << "the link just made was stopped";
    EXPECT_TRUE(model->picked().isEmpty());
    EXPECT_TRUE(storedRecords().isEmpty());
    for (const QString &name : engine->bucket().server().objectNames())
        EXPECT_FALSE(name.contains(first.id)) << name.toStdString();

    const ShareRecord second = make();
    storage = engine->bucket().storage(engineProgram, QStringLiteral("deletefile *"));
    const auto refused = failureOf<RcloneShareStorage::Failure>(model->stop(second));
    ASSERT_TRUE(refused);
    EXPECT_EQ(SharesModel::message(*refused),
              SharesModel::storagePrefix + QStringLiteral("delete failed: injected failure: deletefile"));
    EXPECT_EQ(model->rows().size(), 1);
    EXPECT_EQ(model->createState().kind, SharesModel::CreateState::done);
    EXPECT_EQ(storedRecords().size(), 1);
}

TEST_F(SharesModelTest, SetsUpTheLinkPageAndKeepsANewToken)
{
    const auto model = makeModel(200);
    bool sawSettingUp = false;
    QObject::connect(model.get(), &SharesModel::changed, [&] { sawSettingUp = sawSettingUp || model->settingUp(); });
    await(model->setUpWorker(QStringLiteral(" tok\n")));

    EXPECT_EQ(model->setupMessage(), std::nullopt);
    ASSERT_EQ(web.cloudflareRequests(), 4);
    for (const HTTPRequest &request : web.requests)
        EXPECT_EQ(request.request.rawHeader("Authorization"), "Bearer tok");
    const ShareWorkerConfig expected{workerURL, ShareWorkerDeploy::version(modules), 200, start};
    EXPECT_EQ(model->worker(), expected);
    EXPECT_EQ(await(ShareWorkerConfig::load(engine->client(), metaFs)), expected);
    EXPECT_EQ(keptTokens, QStringList{QStringLiteral("tok")});
    EXPECT_TRUE(model->workerChecked());
    EXPECT_FALSE(model->workerOutdated());
    EXPECT_TRUE(sawSettingUp);
    EXPECT_FALSE(model->settingUp());
}

TEST_F(SharesModelTest, KeepsTheTokenOnlyWhenItIsNew)
{
    keptKey = QStringLiteral("tok");
    for (const auto &[typed, kept] :
         std::vector<std::pair<QString, QStringList>>{{QStringLiteral("tok"), {}},
                                                      {QStringLiteral("tok "), {}},
                                                      {QStringLiteral("other"), {QStringLiteral("other")}}}) {
        keptTokens.clear();
        await(makeModel()->setUpWorker(typed));
        EXPECT_EQ(keptTokens, kept) << typed.toStdString();
    }

    keepFailure = QStringLiteral("Keyring error -25308: interaction not allowed.");
    const auto model = makeModel();
    await(model->setUpWorker(QStringLiteral("new")));
    EXPECT_EQ(model->setupMessage(), keepFailure);
    EXPECT_TRUE(model->worker()) << "the link page stays set up";
    EXPECT_TRUE(model->workerChecked());
}

TEST_F(SharesModelTest, RunsOneSetUpAtATime)
{
    const auto model = makeModel();
    QCoro::Task<> first = model->setUpWorker(QStringLiteral("tok"));
    ASSERT_TRUE(model->settingUp());
    await(model->setUpWorker(QStringLiteral("tok")));
    EXPECT_EQ(web.cloudflareRequests(), 0);
    await(std::move(first));
    EXPECT_EQ(web.cloudflareRequests(), 4);
}

TEST_F(SharesModelTest, LeavesALinkPageOfANewerBuildAlone)
{
    struct Case {
        std::optional<qint64> recordBuild;
        qint64 build;
        bool deploys;
    };
    for (const Case &c :
         std::vector<Case>{{130, 129, false}, {130, 130, true}, {130, 131, true}, {std::nullopt, 1, true}}) {
        SCOPED_TRACE(c.build);
        saveWorkerRecord(QStringLiteral("other"), c.recordBuild);
        web.requests.clear();
        const auto model = makeModel(c.build);
        await(model->setUpWorker(QStringLiteral("tok")));
        EXPECT_EQ(web.cloudflareRequests(), c.deploys ? 4 : 0);
        EXPECT_EQ(model->setupMessage(), c.deploys ? std::nullopt : std::optional(SharesModel::newerBuildText));
        EXPECT_EQ(model->worker().has_value(), c.deploys);
    }
}

TEST_F(SharesModelTest, ShowsWhyASetUpFailed)
{
    struct Case {
        const char *what;
        std::function<void()> arrange;
        QString text;
        qsizetype requests;
    };
    const std::vector<Case> cases{
        {"a token without the permission",
         [this] { web.cloudflare = [](const HTTPRequest &) { return std::optional(HTTPResponse{"{}", 403}); }; },
         QString::fromUtf8(ShareWorkerDeploy::permissionText), 1},
        {"offline", [this] { web.cloudflare = [](const HTTPRequest &) { return std::optional<HTTPResponse>(); }; },
         SharesModel::offlineText, 1},
        {"modules missing", [this] { modulesMissing = true; }, SharesModel::missingModulesText, 0},
        {"a drive that stopped", [this] { notConnected = true; }, notConnectedText, 0},
        {"storage that is not R2", [this] { driveEndpoint = QStringLiteral("https://s3.example.com"); },
         SharesModel::genericText + QStringLiteral(" (ShareWorkerDeploy::Failure::noAccountID)"), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        web = FakeWeb();
        modulesMissing = notConnected = false;
        driveEndpoint = endpoint;
        c.arrange();
        const auto model = makeModel();
        await(model->setUpWorker(QStringLiteral("tok")));
        EXPECT_EQ(model->setupMessage(), c.text);
        EXPECT_EQ(web.cloudflareRequests(), c.requests);
        EXPECT_EQ(model->worker(), std::nullopt);
        EXPECT_FALSE(model->workerChecked());
        EXPECT_FALSE(model->settingUp());
        EXPECT_TRUE(keptTokens.isEmpty());
    }
}

TEST_F(SharesModelTest, LooksUpTheLinkPageAndSetsItUpWithTheKeptToken)
{
    const auto stopped = makeModel();
    notConnected = true;
    await(stopped->loadWorker());
    EXPECT_EQ(stopped->workerLoadError(), notConnectedText);
    EXPECT_FALSE(stopped->workerChecked());
    notConnected = false;

    const auto model = makeModel();
    await(model->loadWorker());
    EXPECT_EQ(model->worker(), std::nullopt);
    EXPECT_FALSE(model->workerOutdated());
    EXPECT_EQ(model->workerLoadError(), std::nullopt);
    EXPECT_TRUE(model->workerChecked());
    EXPECT_EQ(web.cloudflareRequests(), 0) << "no kept token";

    keptKey = QStringLiteral("tok");
    const auto withKey = makeModel();
    bool setUpBeforeChecked = false;
    QObject::connect(withKey.get(), &SharesModel::changed, [&] {
        setUpBeforeChecked = setUpBeforeChecked || (withKey->worker() && !withKey->workerChecked());
    });
    await(withKey->loadWorker());
    EXPECT_EQ(web.cloudflareRequests(), 4);
    EXPECT_TRUE(withKey->worker());
    EXPECT_TRUE(withKey->workerChecked());
    EXPECT_TRUE(setUpBeforeChecked);
    EXPECT_TRUE(keptTokens.isEmpty()) << "the kept token is kept already";
}

TEST_F(SharesModelTest, ReplacesOnlyALinkPageThatIsOutdated)
{
    const QString current = ShareWorkerDeploy::version(modules);
    struct Case {
        const char *what;
        QString version;
        std::optional<qint64> build;
        bool modulesMissing;
        bool replaced;
    };
    const std::vector<Case> cases{
        {"other modules of an older build", QStringLiteral("other"), 100, false, true},
        {"other modules of no known build", QStringLiteral("other"), std::nullopt, false, true},
        {"this build's modules from an older build", current, 100, false, false},
        {"other modules of a newer build", QStringLiteral("other"), 300, false, false},
        {"modules that can't be read", QStringLiteral("other"), 100, true, false},
    };
    keptKey = QStringLiteral("tok");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        saveWorkerRecord(c.version, c.build);
        web.requests.clear();
        modulesMissing = c.modulesMissing;
        const auto model = makeModel(200);
        await(model->load());
        EXPECT_EQ(web.cloudflareRequests(), c.replaced ? 4 : 0);
        ASSERT_TRUE(model->worker());
        EXPECT_EQ(model->worker()->version, c.replaced ? current : c.version);
        EXPECT_FALSE(model->workerOutdated());
        EXPECT_TRUE(model->workerChecked());
    }
}

TEST(SharesModelMessage, WordsEveryFailure)
{
    const std::vector<std::pair<std::exception_ptr, QString>> cases{
        {std::make_exception_ptr(AppModelError(QStringLiteral("Share links aren't available."))),
         QStringLiteral("Share links aren't available.")},
        {std::make_exception_ptr(RcloneShareStorage::Failure(QStringLiteral("upload failed: no space"))),
         QStringLiteral("Couldn't reach your storage: upload failed: no space")},
        {std::make_exception_ptr(
             HTTPTransportError(QNetworkReply::HostNotFoundError, QStringLiteral("Host x not found"))),
         QStringLiteral("You're offline. Try again when you're back online.")},
        {std::make_exception_ptr(
             HTTPTransportError(QNetworkReply::ConnectionRefusedError, QStringLiteral("Connection refused"))),
         QStringLiteral("Connection refused")},
        {std::make_exception_ptr(RCError(QStringLiteral("operations/list"), 500, QStringLiteral("boom"))),
         QStringLiteral("rclone rc operations/list failed (HTTP 500): boom")},
        {std::make_exception_ptr(ShareFormat::Failure(ShareFormat::Failure::pbkdf2)),
         QStringLiteral("The operation couldn't be completed. (ShareFormat::Failure::pbkdf2)")},
        {std::make_exception_ptr(42), QStringLiteral("The operation couldn't be completed.")},
    };
    for (const auto &[error, text] : cases)
        EXPECT_EQ(SharesModel::message(error), text);
}

TEST(SharesModelModules, LoadsTheLinkPageOrSaysItIsMissing)
{
    const QList<ShareWorkerDeploy::Module> installed = SharesModel::modulesIn(QStringLiteral(SHARE_WORKER_FOLDER))();
    ASSERT_EQ(installed.size(), 3);
    EXPECT_EQ(installed[0].name, QStringLiteral("worker.js"));

    const QTemporaryDir empty;
    try {
        SharesModel::modulesIn(empty.filePath(QStringLiteral("share-worker")))();
        ADD_FAILURE() << "no error";
    } catch (const AppModelError &error) {
        EXPECT_EQ(error.message, QStringLiteral("This copy of Ovra is missing its link page files. Reinstall Ovra."));
    }
    EXPECT_THROW(SharesModel::modulesIn(empty.path())(), std::system_error) << "a folder without the modules";
}

} // namespace
