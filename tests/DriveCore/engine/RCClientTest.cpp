#include "DriveCore/engine/RCClient.h"

#include "support/fake-engine/RCServerProcess.h"
#include "support/FakeHttpServer.h"
#include "support/FreePort.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QtConcurrent/QtConcurrentRun>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::failureOf;
using TestSupport::FakeHttpRequest;
using TestSupport::FakeHttpResponse;
using TestSupport::FakeHttpServer;

namespace {

// The call's task without its value.
template<typename T>
QCoro::Task<> ignore(QCoro::Task<T> task)
{
    co_await std::move(task);
}

QJsonObject json(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

// A loopback server that records every request and gives the reply the test set.
class RCClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.listen()); }

    void reply(int status, const QByteArray &body) { response = {status, body, "application/json", {}}; }
    RCClient client() const { return RCClient(server.port(), QStringLiteral("corvane"), QStringLiteral("pa:ss")); }

    // The time-out Qt was given for the unfinished request to `path`, and the thread it went
    // out from, as seen while the server holds it.
    struct InFlight {
        int transferTimeout = -1;
        QThread *thread = nullptr;
    };
    static InFlight inFlight(const QByteArray &path)
    {
        for (const QNetworkReply *sent : QCoreApplication::instance()->findChildren<QNetworkReply *>()) {
            if (!sent->isFinished() && sent->url().path().toUtf8() == path)
                return {sent->request().transferTimeout(), sent->thread()};
        }
        return {};
    }

    std::vector<FakeHttpRequest> requests;
    std::vector<InFlight> sent;
    FakeHttpResponse response{200, "{}", "application/json", {}};
    bool hang = false;
    FakeHttpServer server{[this](const FakeHttpRequest &request, const FakeHttpServer::Respond &respond) {
        requests.push_back(request);
        sent.push_back(inFlight(request.path));
        if (!hang)
            respond(response);
    }};
};

TEST_F(RCClientTest, PostsJsonWithBasicAuthentication)
{
    reply(200, R"({"list": []})");
    await(client().list(QStringLiteral("drivecrypt:Drive"), QStringLiteral("a b"), false));

    ASSERT_EQ(requests.size(), 1u);
    const FakeHttpRequest &request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/operations/list");
    EXPECT_EQ(request.header("content-type"), "application/json");
    // The password's own ":" is sent as it is.
    EXPECT_EQ(request.header("authorization"), "Basic " + QByteArray("corvane:pa:ss").toBase64());
    EXPECT_EQ(json(request.body), json(R"({"fs": "drivecrypt:Drive", "remote": "a b", "opt": {"recurse": false}})"));
}

TEST_F(RCClientTest, SendsEachOperationsParameters)
{
    struct Case {
        const char *name;
        std::function<QCoro::Task<>(const RCClient &)> call;
        QByteArray path;
        QByteArray params;
    };
    const QString fs = QStringLiteral("drivecrypt:Drive");
    const std::vector<Case> cases = {
        {"recursive list", [&](const RCClient &rc) { return ignore(rc.list(fs, {}, true)); }, "/operations/list",
         R"({"fs": "drivecrypt:Drive", "remote": "", "opt": {"recurse": true}})"},
        {"queue", [&](const RCClient &rc) { return ignore(rc.queuedUploads(fs)); }, "/vfs/queue",
         R"({"fs": "drivecrypt:Drive"})"},
        {"core stats", [&](const RCClient &rc) { return ignore(rc.coreStats()); }, "/core/stats", "{}"},
        {"transferred", [&](const RCClient &rc) { return ignore(rc.transferred()); }, "/core/transferred", "{}"},
        {"vfs stats", [&](const RCClient &rc) { return ignore(rc.vfsStats(fs)); }, "/vfs/stats",
         R"({"fs": "drivecrypt:Drive"})"},
        {"vfs list", [&](const RCClient &rc) { return ignore(rc.vfsList()); }, "/vfs/list", "{}"},
        {"stat", [&](const RCClient &rc) { return ignore(rc.stat(fs, QStringLiteral("a"), false)); },
         "/operations/stat", R"({"fs": "drivecrypt:Drive", "remote": "a"})"},
        {"stat of files only", [&](const RCClient &rc) { return ignore(rc.stat(fs, QStringLiteral("a"), true)); },
         "/operations/stat", R"({"fs": "drivecrypt:Drive", "remote": "a", "opt": {"filesOnly": true}})"},
        {"forget folders",
         [&](const RCClient &rc) { return rc.forgetDirs({QStringLiteral("x/y"), QStringLiteral("z")}, fs); },
         "/vfs/forget", R"({"fs": "drivecrypt:Drive", "dir0": "x/y", "dir1": "z"})"},
        {"forget the whole cache", [&](const RCClient &rc) { return rc.forgetDirs({}, fs); }, "/vfs/forget",
         R"({"fs": "drivecrypt:Drive"})"},
        {"forget files", [&](const RCClient &rc) { return rc.forgetFiles({QStringLiteral("f")}, fs); }, "/vfs/forget",
         R"({"fs": "drivecrypt:Drive", "file0": "f"})"},
        {"copy",
         [&](const RCClient &rc) {
             return rc.copyFile(fs, QStringLiteral("a"), QStringLiteral("b:"), QStringLiteral("c"));
         },
         "/operations/copyfile", R"({"srcFs": "drivecrypt:Drive", "srcRemote": "a", "dstFs": "b:", "dstRemote": "c"})"},
        {"move",
         [&](const RCClient &rc) {
             return rc.moveFile(fs, QStringLiteral("a"), QStringLiteral("b:"), QStringLiteral("c"));
         },
         "/operations/movefile", R"({"srcFs": "drivecrypt:Drive", "srcRemote": "a", "dstFs": "b:", "dstRemote": "c"})"},
        {"delete", [&](const RCClient &rc) { return rc.deleteFile(fs, QStringLiteral("a")); }, "/operations/deletefile",
         R"({"fs": "drivecrypt:Drive", "remote": "a"})"},
        {"purge", [&](const RCClient &rc) { return rc.purge(fs, QStringLiteral("d")); }, "/operations/purge",
         R"({"fs": "drivecrypt:Drive", "remote": "d"})"},
        {"move folder", [&](const RCClient &rc) { return rc.moveDir(QStringLiteral("a:"), fs); }, "/sync/move",
         R"({"srcFs": "a:", "dstFs": "drivecrypt:Drive", "deleteEmptySrcDirs": true})"},
    };
    reply(200, R"({"list": [], "item": null,
                   "diskCache": {"uploadsInProgress": 0, "uploadsQueued": 0, "erroredFiles": 0}})");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        requests.clear();
        await(c.call(client()));
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].path, c.path);
        EXPECT_EQ(json(requests[0].body), json(c.params));
    }
}

TEST_F(RCClientTest, ForgettingNoFilesSendsNothing)
{
    await(client().forgetFiles({}, QString::fromLatin1(RCClient::mountFs)));
    EXPECT_TRUE(requests.empty());
}

TEST_F(RCClientTest, FailedRepliesCarryTheEnginesMessage)
{
    struct Case {
        int status;
        QByteArray body;
        QString message;
    };
    const std::vector<Case> cases = {
        {500, R"({"error": "object not found", "input": {"fs": "x"}, "path": "operations/stat", "status": 500})",
         QStringLiteral("object not found")},
        {500, R"({"error": "  kept as sent\n"})", QStringLiteral("  kept as sent\n")},
        {500, R"({"error": ""})", QString()},
        {500, R"({"error": 42})", QStringLiteral(R"({"error": 42})")},
        {502, "  upstream went away\n", QStringLiteral("upstream went away")},
        {503, "\xff broken", QStringLiteral("\uFFFD broken")},
        {401, "", QStringLiteral("Unauthorized")},
        {404, " \n", QStringLiteral("Not Found")},
        {599, "", QStringLiteral("Server Error")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        reply(c.status, c.body);
        const auto error = failureOf<RCError>(client().call(QStringLiteral("operations/stat"), {}));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->method, QStringLiteral("operations/stat"));
        EXPECT_EQ(error->status, c.status);
        EXPECT_EQ(error->message, c.message);
        EXPECT_EQ(error->description(),
                  QStringLiteral("rclone rc operations/stat failed (HTTP %1): ").arg(c.status) + c.message);
        EXPECT_EQ(QString::fromUtf8(error->what()), error->description());
    }
}

TEST_F(RCClientTest, RedirectsAreNotFollowed)
{
    // Following one would send the password to wherever it points.
    int elsewhereRequests = 0;
    FakeHttpServer elsewhere([&](const FakeHttpRequest &, const FakeHttpServer::Respond &respond) {
        ++elsewhereRequests;
        respond({200, "{}", "application/json", {}});
    });
    ASSERT_TRUE(elsewhere.listen());
    response = {
        302, "", "text/plain", {{"Location", "http://127.0.0.1:" + QByteArray::number(elsewhere.port()) + "/x"}}};

    const auto error = failureOf<RCError>(client().call(QStringLiteral("core/stats"), {}));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->status, 302);
    EXPECT_EQ(error->message, QStringLiteral("Found"));
    EXPECT_EQ(elsewhereRequests, 0);
}

TEST_F(RCClientTest, DecodesRepliesWithTheirDefaults)
{
    const RCClient rc = client();
    const QString fs = QString::fromLatin1(RCClient::mountFs);

    reply(200, R"({"bytes": 0})");
    EXPECT_TRUE(await(rc.coreStats()).transferring.isEmpty());

    reply(200, R"({"transferring": [{"name": "a.txt", "size": 10, "bytes": 4, "percentage": 40, "eta": null,
                                     "group": "global_stats", "dstFs": "drivecrypt:Drive", "speed": 1.5}]})");
    const Transferring expected{
        QStringLiteral("a.txt"),           10, 4, 40, std::nullopt, QStringLiteral("global_stats"),
        QStringLiteral("drivecrypt:Drive")};
    EXPECT_EQ(await(rc.coreStats()).transferring, QList<Transferring>{expected});

    reply(200, R"({"diskCache": {"uploadsInProgress": 1, "uploadsQueued": 2, "erroredFiles": 3}})");
    VFSStats stats = await(rc.vfsStats(fs));
    EXPECT_EQ(stats.diskCache, (DiskCache{1, 2, 3}));
    EXPECT_FALSE(stats.trash);

    reply(200, R"({"diskCache": {"uploadsInProgress": 0, "uploadsQueued": 0, "erroredFiles": 0, "outOfSpace": true}})");
    EXPECT_EQ(await(rc.vfsStats(fs)).diskCache, (DiskCache{0, 0, 0, true}));

    reply(200,
          R"({"diskCache": {"uploadsInProgress": 0, "uploadsQueued": 0, "erroredFiles": 0}, "trash": {"pending": 3}})");
    stats = await(rc.vfsStats(fs));
    EXPECT_EQ(stats.trash, (TrashStats{3, std::nullopt}));

    reply(200, "{}");
    EXPECT_TRUE(await(rc.queuedUploads(fs)).isEmpty());
    EXPECT_TRUE(await(rc.transferred()).isEmpty());
    EXPECT_TRUE(await(rc.vfsList()).isEmpty());
    EXPECT_FALSE(await(rc.stat(fs, QStringLiteral("a"), false)));

    reply(200, R"({"item": null})");
    EXPECT_FALSE(await(rc.stat(fs, QStringLiteral("a"), false)));

    reply(200,
          R"({"item": {"Path": "d/a", "Name": "a", "Size": 5, "ModTime": "2026-01-02T03:04:05Z", "IsDir": false}})");
    EXPECT_EQ(await(rc.stat(fs, QStringLiteral("d/a"), false)),
              (ListItem{QStringLiteral("d/a"), QStringLiteral("a"), 5, QStringLiteral("2026-01-02T03:04:05Z"), false}));

    reply(200, R"({"queue": [{"name": "b"}, {"name": "a", "size": 1}]})");
    EXPECT_EQ(await(rc.queuedUploads(fs)), (QStringList{QStringLiteral("b"), QStringLiteral("a")}));

    reply(200, R"({"transferred": [{"name": "a", "size": 9007199254740993, "error": "", "completed_at": "t",
                                    "checked": false}]})");
    EXPECT_EQ(await(rc.transferred()),
              QList<Transferred>{(Transferred{QStringLiteral("a"), 9007199254740993, QString(), QStringLiteral("t"),
                                              false, std::nullopt, std::nullopt})});

    // An answer that is not read may be any well-formed JSON.
    for (const QByteArray body :
         {"{}", "[]", "5", "-1.5e3", "true", "null", R"("done")", " \n[1, {\"a\": null}]\r\n"}) {
        SCOPED_TRACE(body.toStdString());
        reply(200, body);
        EXPECT_NO_THROW(await(rc.call<RCClient::Empty>(QStringLiteral("vfs/pin-scan"), {})));
    }
}

TEST_F(RCClientTest, RejectsRepliesThatDoNotFit)
{
    struct Case {
        const char *name;
        QByteArray body;
        std::function<QCoro::Task<>(const RCClient &)> call;
    };
    const QString fs = QString::fromLatin1(RCClient::mountFs);
    const auto coreStats = [&](const RCClient &rc) { return ignore(rc.coreStats()); };
    const auto vfsStats = [&](const RCClient &rc) { return ignore(rc.vfsStats(fs)); };
    const auto empty = [](const RCClient &rc) { return ignore(rc.call<RCClient::Empty>(QStringLiteral("x"), {})); };
    const std::vector<Case> cases = {
        {"empty body", "", empty},
        {"blank body", " \n", empty},
        {"two values", "1, 2", empty},
        {"bracket left over", "[1]]", empty},
        {"unclosed", R"({"a": 1)", empty},
        {"not JSON either", "ok", empty},
        {"not JSON", "ok", [](const RCClient &rc) { return ignore(rc.call(QStringLiteral("x"), {})); }},
        {"not an object", "[1]", [](const RCClient &rc) { return ignore(rc.call(QStringLiteral("x"), {})); }},
        {"transfer without size", R"({"transferring": [{"name": "a", "bytes": 0, "percentage": 0}]})", coreStats},
        {"fractional percentage", R"({"transferring": [{"name": "a", "size": 1, "bytes": 0, "percentage": 0.5}]})",
         coreStats},
        {"size as text", R"({"transferring": [{"name": "a", "size": "1", "bytes": 0, "percentage": 0}]})", coreStats},
        {"transferring not a list", R"({"transferring": {}})", coreStats},
        {"no disk cache", R"({"trash": {"pending": 1}})", vfsStats},
        {"null figure", R"({"diskCache": {"uploadsInProgress": null, "uploadsQueued": 0, "erroredFiles": 0}})",
         vfsStats},
        {"trash without pending",
         R"({"diskCache": {"uploadsInProgress": 0, "uploadsQueued": 0, "erroredFiles": 0}, "trash": {}})", vfsStats},
        {"out of space as text",
         R"({"diskCache": {"uploadsInProgress": 0, "uploadsQueued": 0, "erroredFiles": 0, "outOfSpace": "yes"}})",
         vfsStats},
        {"no listing", "{}", [&](const RCClient &rc) { return ignore(rc.list(fs, {}, false)); }},
        {"queue entry without name", R"({"queue": [{}]})",
         [&](const RCClient &rc) { return ignore(rc.queuedUploads(fs)); }},
        {"directory flag as number", R"({"item": {"Path": "a", "Name": "a", "Size": 1, "ModTime": "t", "IsDir": 0}})",
         [&](const RCClient &rc) { return ignore(rc.stat(fs, QStringLiteral("a"), false)); }},
        {"transfer without completion time", R"({"transferred": [{"name": "a", "size": 1, "error": ""}]})",
         [](const RCClient &rc) { return ignore(rc.transferred()); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        reply(200, c.body);
        EXPECT_TRUE(failureOf<JsonDecodingError>(c.call(client())));
    }
}

TEST_F(RCClientTest, DecodingErrorsNameWhereTheReplyWentWrong)
{
    reply(200, R"({"transferring": [{"name": "a", "size": 1, "bytes": 0, "percentage": 0},
                                     {"name": "b", "bytes": 0, "percentage": 0}]})");
    const auto error = failureOf<JsonDecodingError>(client().coreStats());
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->description.contains(QStringLiteral("transferring[1].size")))
        << error->description.toStdString();
}

TEST(RCClientTimeouts, FollowTheTableByWholeName)
{
    const std::vector<std::pair<const char *, int>> cases = {
        {"core/version", 5},
        {"core/stats", 10},
        {"core/transferred", 10},
        {"vfs/stats", 10},
        {"vfs/forget", 10},
        {"vfs/list", 10},
        {"operations/stat", 10},
        {"vfs/pins", 10},
        {"vfs/pin-scan", 10},
        {"vfs/queue", 10},
        {"vfs/unpin", 60},
        {"vfs/pin", 120},
        {"operations/list", 60},
        {"operations/deletefile", 60},
        {"VFS/PIN", 3600},
        {"vfs/pin/", 3600},
        {"operations/copyfile", 3600},
        {"operations/size", 3600},
        {"sync/move", 3600},
        {"", 3600},
    };
    for (const auto &[method, seconds] : cases) {
        SCOPED_TRACE(method);
        EXPECT_EQ(RCClient::timeout(QString::fromLatin1(method)), std::chrono::seconds(seconds));
    }
}

// The table above, as it reaches the request that is sent.
TEST_F(RCClientTest, EachRequestGoesOutWithItsMethodsTimeout)
{
    struct Case {
        const char *name;
        std::function<QCoro::Task<>(const RCClient &)> call;
        int milliseconds;
    };
    const QString fs = QString::fromLatin1(RCClient::mountFs);
    const std::vector<Case> cases = {
        {"recursive listing", [&](const RCClient &rc) { return ignore(rc.list(fs, {}, true)); }, 3'600'000},
        {"listing", [&](const RCClient &rc) { return ignore(rc.list(fs, {}, false)); }, 60'000},
        {"stats", [](const RCClient &rc) { return ignore(rc.coreStats()); }, 10'000},
        {"ping", [](const RCClient &rc) { return ignore(rc.ping()); }, 5'000},
        {"purge", [&](const RCClient &rc) { return rc.purge(fs, QStringLiteral("d")); }, 3'600'000},
        {"own limit", [](const RCClient &rc) { return ignore(rc.call(QStringLiteral("vfs/pin"), {}, 1500ms)); }, 1'500},
    };
    reply(200, R"({"list": []})");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sent.clear();
        await(c.call(client()));
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].transferTimeout, c.milliseconds);
    }
}

// A call made on a pool thread is sent from the main thread, where the session lives, and its
// caller goes on on the pool thread with the answer or the error.
TEST_F(RCClientTest, CallsFromAnotherThreadAreSentFromTheMainThread)
{
    reply(200, R"({"list": [{"Path": "a", "Name": "a", "Size": 1, "ModTime": "t", "IsDir": false}]})");
    const RCClient rc = client();
    const auto listing = [rc]() -> QCoro::Task<std::pair<QList<ListItem>, QThread *>> {
        QList<ListItem> list = co_await rc.list(QString::fromLatin1(RCClient::mountFs), {}, false);
        co_return std::pair(list, QThread::currentThread());
    };
    // The pool thread runs its own event loop while it waits, as await() does.
    QFuture<std::pair<QList<ListItem>, QThread *>> future = QtConcurrent::run([&] { return await(listing()); });
    ASSERT_TRUE(TestSupport::spinUntil([&] { return future.isFinished(); }));
    const auto [list, resumedOn] = future.result();
    EXPECT_EQ(list.size(), 1);
    EXPECT_NE(resumedOn, QThread::currentThread());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].thread, QThread::currentThread());

    reply(500, R"({"error": "busy"})");
    QFuture<int> failed = QtConcurrent::run([&] {
        const auto error = failureOf<RCError>(rc.coreStats());
        return error ? error->status : 0;
    });
    ASSERT_TRUE(TestSupport::spinUntil([&] { return failed.isFinished(); }));
    EXPECT_EQ(failed.result(), 500);
}

TEST_F(RCClientTest, AnEngineThatStaysSilentTimesOut)
{
    hang = true;
    const auto error = failureOf<HTTPTransportError>(client().call(QStringLiteral("vfs/stats"), {}, 200ms));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, QNetworkReply::TimeoutError);
}

TEST_F(RCClientTest, CancellingAbortsTheRequest)
{
    hang = true;
    CancelSource source;
    QTimer::singleShot(50ms, [&] { source.request_stop(); });
    // The engine never answers: only the cancellation can end the call before the await's limit.
    EXPECT_TRUE(
        failureOf<CancelledError>(client().call(QStringLiteral("operations/purge"), {}, 24h, source.get_token())));
    EXPECT_EQ(requests.size(), 1u);

    // Already cancelled: nothing is sent.
    EXPECT_TRUE(failureOf<CancelledError>(client().coreStats(source.get_token())));
    EXPECT_EQ(requests.size(), 1u);
}

TEST_F(RCClientTest, PingTellsWhetherTheEngineAnswers)
{
    EXPECT_TRUE(await(client().ping()));
    EXPECT_EQ(requests.back().path, "/core/version");

    reply(500, R"({"error": "busy"})");
    EXPECT_FALSE(await(client().ping()));

    const RCClient gone(TestSupport::freePort(), QStringLiteral("corvane"), QStringLiteral("x"));
    EXPECT_FALSE(await(gone.ping()));
    const auto error = failureOf<HTTPTransportError>(gone.coreStats());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, QNetworkReply::ConnectionRefusedError);
}

TEST_F(RCClientTest, SequentialCallsReuseOneConnection)
{
    const RCClient rc = client();
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(await(rc.ping()));
    // A copy of the client shares the same connection.
    EXPECT_TRUE(await(RCClient(rc).ping()));
    EXPECT_EQ(server.connectionsAccepted(), 1);
}

} // namespace
