#include "DriveCore/shares/ShareWorkerDeploy.h"

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/support/AppModelError.h"

#include "support/LoopbackHTTPServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <system_error>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::LoopbackHTTPServer;

namespace {

const QString account = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString endpoint = QStringLiteral("https://%1.r2.cloudflarestorage.com").arg(account);
const QByteArray accountPath = "/client/v4/accounts/0123456789abcdef0123456789abcdef";
const QString permission = QString::fromUtf8(ShareWorkerDeploy::permissionText);
const QString noSubdomain = QString::fromUtf8(ShareWorkerDeploy::noSubdomainText);

const QList<ShareWorkerDeploy::Module> smallModules{
    {QStringLiteral("worker.js"), QStringLiteral("export default {};\n")},
    {QStringLiteral("format.js"), QStringLiteral("// f\n")},
    {QStringLiteral("assets.js"), QStringLiteral("// é")},
};

// The text a call is refused with, or none when it passes.
template<typename Action>
std::optional<QString> refusalOf(Action &&action)
{
    try {
        action();
    } catch (const AppModelError &refused) {
        return refused.message;
    }
    return std::nullopt;
}

TEST(ShareWorkerDeployTest, AccountIDIsTheFirstLabelOfAnR2Host)
{
    const std::vector<std::pair<QString, QString>> cases{
        {"https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com", account},
        {"https://0123456789ABCDEF0123456789ABCDEF.R2.CloudflareStorage.com/", account},
        {"https://0123456789abcdef0123456789abcdef.eu.r2.cloudflarestorage.com/bucket?x=1", account},
        {"http://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com:8443", account},
    };
    for (const auto &[endpoint, expected] : cases)
        EXPECT_EQ(ShareWorkerDeploy::accountID(endpoint), expected) << endpoint.toStdString();
}

TEST(ShareWorkerDeployTest, AnythingElseHasNoAccountID)
{
    const QStringList endpoints{
        "",
        "not a url",
        "0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com", // no scheme, so no host
        "https://r2.cloudflarestorage.com",
        "https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com.evil.example",
        "https://0123456789abcdef0123456789abcdef.xr2.cloudflarestorage.com",
        "https://0123456789abcdef0123456789abcdef.s3.amazonaws.com",
        "https://0123456789abcdef0123456789abcde.r2.cloudflarestorage.com", // 31 digits
        "https://0123456789abcdef0123456789abcdef0.r2.cloudflarestorage.com", // 33 digits
        "https://0123456789abcdef0123456789abcdeg.r2.cloudflarestorage.com", // not hex
    };
    for (const QString &endpoint : endpoints) {
        SCOPED_TRACE(endpoint.toStdString());
        try {
            ShareWorkerDeploy::accountID(endpoint);
            ADD_FAILURE() << "no error";
        } catch (const ShareWorkerDeploy::Failure &failure) {
            EXPECT_EQ(failure, ShareWorkerDeploy::Failure::noAccountID);
        }
    }
}

// Hashes from Python's hashlib.
TEST(ShareWorkerDeployTest, ScriptNameFollowsTheBucketName)
{
    const QString letters44 = QStringLiteral("abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqr");
    const QString aThenB = QString(29, u'a') + u'.' + QString(20, u'b');
    const std::vector<std::pair<QString, QString>> cases{
        {"my-drive", "ovra-share-my-drive"},
        {"My_Bucket.2024", "ovra-share-my-bucket-2024"},
        {"a..b", "ovra-share-a--b"},
        {"--Ébucket--", "ovra-share-bucket"},
        {letters44.left(43), "ovra-share-" + letters44.left(43)},
        {letters44, "ovra-share-" + letters44.left(30) + "-7504363e5dff"},
        {"--..", "ovra-share-1c95b18ee18b"},
        {aThenB, "ovra-share-" + QString(29, u'a') + "-6e6fbf698f6e"}, // the cut stem ends in "-"
    };
    for (const auto &[bucket, expected] : cases) {
        EXPECT_EQ(ShareWorkerDeploy::scriptName(bucket), expected) << bucket.toStdString();
        EXPECT_LE(ShareWorkerDeploy::scriptName(bucket).size(), 54);
    }
}

TEST(ShareWorkerDeployTest, UploadIsTheMultipartFormByteForByte)
{
    const QUrl api(QStringLiteral("http://127.0.0.1:9/client/v4/"));
    const HTTPRequest upload = ShareWorkerDeploy::uploadRequest(
        account, QStringLiteral("tok"), QStringLiteral("Photos"), smallModules, QStringLiteral("ovra-B"), api);
    const QByteArray expected = "--ovra-B\r\n"
                                "Content-Disposition: form-data; name=\"metadata\"\r\n"
                                "Content-Type: application/json\r\n"
                                "\r\n"
                                R"({"bindings":[{"bucket_name":"Photos","name":"BUCKET","type":"r2_bucket"}],)"
                                R"("compatibility_date":"2026-10-01","main_module":"worker.js"})"
                                "\r\n"
                                "--ovra-B\r\n"
                                "Content-Disposition: form-data; name=\"worker.js\"; filename=\"worker.js\"\r\n"
                                "Content-Type: application/javascript+module\r\n"
                                "\r\n"
                                "export default {};\n\r\n"
                                "--ovra-B\r\n"
                                "Content-Disposition: form-data; name=\"format.js\"; filename=\"format.js\"\r\n"
                                "Content-Type: application/javascript+module\r\n"
                                "\r\n"
                                "// f\n\r\n"
                                "--ovra-B\r\n"
                                "Content-Disposition: form-data; name=\"assets.js\"; filename=\"assets.js\"\r\n"
                                "Content-Type: application/javascript+module\r\n"
                                "\r\n"
                                "// \xc3\xa9\r\n"
                                "--ovra-B--\r\n";
    EXPECT_EQ(upload.body, expected);
    EXPECT_EQ(upload.method, "PUT");
    EXPECT_EQ(
        upload.request.url().toString(),
        QStringLiteral("http://127.0.0.1:9/client/v4/accounts/%1/workers/scripts/ovra-share-photos").arg(account));
    EXPECT_EQ(upload.request.rawHeader("Content-Type"), "multipart/form-data; boundary=ovra-B");
    EXPECT_EQ(upload.request.rawHeader("Authorization"), "Bearer tok");
    EXPECT_EQ(upload.request.transferTimeout(), 30000);
}

TEST(ShareWorkerDeployTest, OtherRequestsHaveTheirPathMethodAndBody)
{
    const QUrl api(QStringLiteral("https://api.example/client/v4/"));
    const QString script =
        QStringLiteral("https://api.example/client/v4/accounts/%1/workers/scripts/ovra-share-b").arg(account);
    struct Case {
        HTTPRequest request;
        QByteArray method;
        QString url;
        QByteArray body;
        QByteArray contentType;
    };
    const std::vector<Case> cases{
        {ShareWorkerDeploy::accountSubdomainRequest(account, QStringLiteral("tok"), api), "GET",
         QStringLiteral("https://api.example/client/v4/accounts/%1/workers/subdomain").arg(account), "", ""},
        {ShareWorkerDeploy::scheduleRequest(account, QStringLiteral("tok"), QStringLiteral("b"), api), "PUT",
         script + "/schedules", R"([{"cron":"17 3 * * *"}])", "application/json"},
        {ShareWorkerDeploy::enableSubdomainRequest(account, QStringLiteral("tok"), QStringLiteral("b"), api), "POST",
         script + "/subdomain", R"({"enabled":true})", "application/json"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        EXPECT_EQ(c.request.method, c.method);
        EXPECT_EQ(c.request.request.url().toString(), c.url);
        EXPECT_EQ(c.request.body, c.body);
        EXPECT_EQ(c.request.request.rawHeader("Content-Type"), c.contentType);
        EXPECT_EQ(c.request.request.rawHeader("Authorization"), "Bearer tok");
        EXPECT_EQ(c.request.request.transferTimeout(), 30000);
    }
    EXPECT_EQ(ShareWorkerDeploy::scheduleRequest(account, {}, {}, api).body.size(), 23);
    EXPECT_EQ(ShareWorkerDeploy::enableSubdomainRequest(account, {}, {}, api).body.size(), 16);
    EXPECT_EQ(ShareWorkerDeploy::accountSubdomainRequest(account, {}).request.url().host(), "api.cloudflare.com");
}

TEST(ShareWorkerDeployTest, WorkerURLIsTheScriptUnderTheAccountsName)
{
    EXPECT_EQ(ShareWorkerDeploy::workerURL(R"({"success":true,"result":{"subdomain":"Alice-2"}})", "Photos"),
              QUrl(QStringLiteral("https://ovra-share-photos.alice-2.workers.dev")));

    for (const QByteArray body : {
             R"({"success":true,"result":{"subdomain":"a.b"}})",
             R"({"success":true,"result":{"subdomain":""}})",
             R"({"success":true,"result":{"subdomain":"älice"}})",
             R"({"success":true,"result":{"subdomain":"a b"}})",
             R"({"success":true,"result":{}})",
             R"({"success":true,"result":null})",
             R"({"success":true})",
             R"({"success":false,"result":{"subdomain":"alice"}})",
         }) {
        SCOPED_TRACE(body.toStdString());
        try {
            ShareWorkerDeploy::workerURL(body, "b");
            ADD_FAILURE() << "no error";
        } catch (const ShareWorkerDeploy::Failure &failure) {
            EXPECT_EQ(failure, ShareWorkerDeploy::Failure::noWorkersSubdomain);
        }
    }
    for (const QByteArray body : {R"({"result":{"subdomain":"alice"}})", R"({"success":"true"})", "<html>"})
        EXPECT_THROW(ShareWorkerDeploy::workerURL(body, "b"), JsonDecodingError) << body.toStdString();
}

TEST(ShareWorkerDeployTest, CheckTellsWhyCloudflareRefused)
{
    const QString saidNo = QString::fromUtf8(ShareWorkerDeploy::refusedPrefix);
    struct Case {
        int status;
        QByteArray body;
        std::optional<QString> refusal;
    };
    const std::vector<Case> cases{
        {200, R"({"success":true,"errors":[]})", std::nullopt},
        {204, "", std::nullopt},
        {200, "<html>not json</html>", std::nullopt},
        {200, R"({"result":{}})", std::nullopt},
        {200, R"({"success":"false"})", std::nullopt}, // not Cloudflare's JSON: no answer
        {200, R"({"success":false})", saidNo + "HTTP 200"},
        {200, R"({"success":false,"errors":[{"code":7003,"message":"No route"}]})", saidNo + "No route"},
        {400, R"({"errors":[{"code":1},{"message":"bad"},{"message":"worse"}]})", saidNo + "bad"},
        {400, R"({"errors":[{"code":1,"message":"bad"},{"code":10000}]})", permission},
        {400, R"({"success":false,"errors":[{"code":9109,"message":"Invalid access token"}]})", permission},
        {401, R"({"success":true})", permission},
        {403, "Forbidden", permission},
        {400, R"({"errors":[{"code":"10000","message":"m"}]})", saidNo + "HTTP 400"},
        {500, "oops", saidNo + "HTTP 500"},
        {302, "", saidNo + "HTTP 302"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.body.toStdString());
        EXPECT_EQ(refusalOf([&] { ShareWorkerDeploy::check(c.body, c.status); }), c.refusal);
    }
}

// A Cloudflare API on loopback that answers each path with what the test gives it and a plain
// success otherwise.
class Cloudflare {
public:
    explicit Cloudflare(QMap<QByteArray, LoopbackHTTPServer::Answer> answers = {})
        : m_server([answers](const LoopbackHTTPServer::Request &request) {
              return answers.value(request.path, LoopbackHTTPServer::Answer{200, R"({"success":true,"errors":[]})"});
          })
    {
    }

    QCoro::Task<QUrl> deploy(const QString &token = QStringLiteral("tok"), const QString &at = endpoint)
    {
        return ShareWorkerDeploy::deploy(token, at, QStringLiteral("Photos"), smallModules, liveHTTPSend,
                                         m_server.url(QStringLiteral("/client/v4/")));
    }

    std::optional<QString> refusal(const QString &token = QStringLiteral("tok"))
    {
        return refusalOf([&] { await(deploy(token)); });
    }

    QList<QByteArray> paths() const
    {
        QList<QByteArray> paths;
        for (const LoopbackHTTPServer::Request &request : m_server.requests())
            paths.append(request.method + ' ' + request.path.mid(accountPath.size()));
        return paths;
    }

    const std::vector<LoopbackHTTPServer::Request> &requests() const { return m_server.requests(); }

private:
    LoopbackHTTPServer m_server;
};

const QByteArray subdomainPath = accountPath + "/workers/subdomain";
const LoopbackHTTPServer::Answer alice{200, R"({"success":true,"errors":[],"result":{"subdomain":"alice"}})"};

TEST(ShareWorkerDeployTest, DeploysUploadsSchedulesAndRoutesInThatOrder)
{
    Cloudflare cloudflare({{subdomainPath, alice}});
    EXPECT_EQ(await(cloudflare.deploy(QStringLiteral(" tok\r\n"))),
              QUrl("https://ovra-share-photos.alice.workers.dev"));

    const QList<QByteArray> expected{
        "GET /workers/subdomain",
        "PUT /workers/scripts/ovra-share-photos",
        "PUT /workers/scripts/ovra-share-photos/schedules",
        "POST /workers/scripts/ovra-share-photos/subdomain",
    };
    EXPECT_EQ(cloudflare.paths(), expected);
    for (const LoopbackHTTPServer::Request &request : cloudflare.requests())
        EXPECT_EQ(request.header("Authorization"), "Bearer tok"); // trimmed

    const LoopbackHTTPServer::Request &upload = cloudflare.requests().at(1);
    const QRegularExpression form(QStringLiteral("^multipart/form-data; boundary=(ovra-[0-9A-F-]{36})$"));
    const QRegularExpressionMatch match = form.match(QString::fromUtf8(upload.header("Content-Type")));
    ASSERT_TRUE(match.hasMatch()) << upload.header("Content-Type").toStdString();
    EXPECT_EQ(match.captured(1).size(), 41);
    EXPECT_EQ(
        upload.body,
        ShareWorkerDeploy::uploadRequest(account, {}, QStringLiteral("Photos"), smallModules, match.captured(1)).body);
    EXPECT_EQ(cloudflare.requests().at(2).body, R"([{"cron":"17 3 * * *"}])");
    EXPECT_EQ(cloudflare.requests().at(3).body, R"({"enabled":true})");
}

TEST(ShareWorkerDeployTest, AnAccountWithoutAWorkersNameIsToldSoBeforeAnyUpload)
{
    const std::vector<LoopbackHTTPServer::Answer> answers{
        {404, R"({"success":true,"result":{"subdomain":"alice"}})"},
        {200, R"({"success":false,"errors":[{"code":10007,"message":"workers.api.error.not_found"}]})"},
        {400, R"({"success":false,"errors":[{"code":1},{"code":10007}]})"},
        {200, R"({"success":true,"result":{"subdomain":""}})"},
        {200, R"({"success":true,"result":null})"},
        {200, R"({"success":true,"result":{"subdomain":"a.b"}})"},
        {200, R"({"result":{"subdomain":"alice"}})"}, // does not read
        {200, "<html>"},
    };
    for (const LoopbackHTTPServer::Answer &answer : answers) {
        SCOPED_TRACE(answer.body.toStdString());
        Cloudflare cloudflare({{subdomainPath, answer}});
        EXPECT_EQ(cloudflare.refusal(), noSubdomain);
        EXPECT_EQ(cloudflare.requests().size(), 1u);
    }
}

TEST(ShareWorkerDeployTest, TheDigits10007ElsewhereInTheAnswerAreNoMissingName)
{
    Cloudflare cloudflare({{subdomainPath,
                            {200,
                             R"({"success":true,"errors":[],"messages":["request 10007"],)"
                             R"("result":{"subdomain":"alice","id":"a10007b"}})"}}});
    EXPECT_EQ(await(cloudflare.deploy()), QUrl("https://ovra-share-photos.alice.workers.dev"));
    EXPECT_EQ(cloudflare.requests().size(), 4u);
}

TEST(ShareWorkerDeployTest, ARefusalStopsTheSequenceWithItsText)
{
    const QString saidNo = QString::fromUtf8(ShareWorkerDeploy::refusedPrefix);
    const QByteArray script = accountPath + "/workers/scripts/ovra-share-photos";
    struct Case {
        QByteArray path;
        LoopbackHTTPServer::Answer answer;
        QString refusal;
        size_t requests;
    };
    const std::vector<Case> cases{
        {subdomainPath,
         {403, R"({"success":false,"errors":[{"code":10000,"message":"Authentication error"}]})"},
         permission,
         1},
        {subdomainPath,
         {400, R"({"success":false,"errors":[{"code":9109,"message":"Invalid access token"}]})"},
         permission,
         1},
        {subdomainPath, {200, R"({"success":false,"result":{"subdomain":"alice"}})"}, saidNo + "HTTP 200", 1},
        {script,
         {400, R"({"success":false,"errors":[{"code":10021,"message":"Uncaught SyntaxError"}]})"},
         saidNo + "Uncaught SyntaxError",
         2},
        {script, {403, "Forbidden"}, permission, 2},
        {script + "/schedules", {200, R"({"success":false,"errors":[{"code":10000}]})"}, permission, 3},
        {script + "/subdomain", {500, "upstream"}, saidNo + "HTTP 500", 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString() + " " + c.answer.body.toStdString());
        QMap<QByteArray, LoopbackHTTPServer::Answer> answers{{subdomainPath, alice}};
        answers.insert(c.path, c.answer);
        Cloudflare cloudflare(answers);
        EXPECT_EQ(cloudflare.refusal(), c.refusal);
        EXPECT_EQ(cloudflare.requests().size(), c.requests);
    }
}

TEST(ShareWorkerDeployTest, NoRequestIsSentForAnEndpointOutsideR2)
{
    Cloudflare cloudflare;
    const auto failure = TestSupport::failureOf<ShareWorkerDeploy::Failure>(
        cloudflare.deploy(QStringLiteral("tok"), QStringLiteral("https://s3.example.com")));
    ASSERT_TRUE(failure);
    EXPECT_EQ(*failure, ShareWorkerDeploy::Failure::noAccountID);
    EXPECT_TRUE(cloudflare.requests().empty());
}

TEST(ShareWorkerDeployTest, TransportErrorsPassThrough)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl api(QStringLiteral("http://127.0.0.1:%1/client/v4/").arg(closed.serverPort()));
    closed.close();
    EXPECT_THROW(await(ShareWorkerDeploy::deploy(QStringLiteral("tok"), endpoint, QStringLiteral("b"), smallModules,
                                                 liveHTTPSend, api)),
                 HTTPTransportError);
}

class ShareWorkerModulesTest : public ::testing::Test {
protected:
    void write(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    std::optional<std::system_error> failure()
    {
        try {
            ShareWorkerDeploy::modules(m_folder.path());
        } catch (const std::system_error &error) {
            return error;
        }
        return std::nullopt;
    }

    QTemporaryDir m_folder;
};

TEST_F(ShareWorkerModulesTest, ReadsTheThreeModulesInTheirOrderAndNothingElse)
{
    for (const ShareWorkerDeploy::Module &module : smallModules)
        write(module.name, module.source.toUtf8());
    write(QStringLiteral("README.md"), "not a module");
    EXPECT_EQ(ShareWorkerDeploy::modules(m_folder.path()), smallModules);
}

TEST_F(ShareWorkerModulesTest, AMissingOrUnreadableModuleFailsTheWhole)
{
    write(QStringLiteral("worker.js"), "w");
    write(QStringLiteral("format.js"), "f");
    ASSERT_TRUE(failure());
    EXPECT_EQ(failure()->code(), std::errc::no_such_file_or_directory);

    write(QStringLiteral("assets.js"), "\xff\xfe not UTF-8");
    ASSERT_TRUE(failure());
    EXPECT_EQ(failure()->code(), std::errc::illegal_byte_sequence);
}

TEST(ShareWorkerDeployTest, TheProjectsLinkPageReads)
{
    const QList<ShareWorkerDeploy::Module> modules = ShareWorkerDeploy::modules(QStringLiteral(SHARE_WORKER_FOLDER));
    ASSERT_EQ(modules.size(), 3);
    EXPECT_TRUE(modules.front().source.contains(QStringLiteral("export default")));
}

// The known answer is from Python's hashlib.
TEST(ShareWorkerDeployTest, VersionChangesWithAnyNameSourceOrOrder)
{
    const QString version = ShareWorkerDeploy::version(smallModules);
    EXPECT_EQ(version, QStringLiteral("cef64873a2035a3c"));

    QList<QList<ShareWorkerDeploy::Module>> changed(4, smallModules);
    changed[0][2].source += u' ';
    changed[1][1].name = QStringLiteral("Format.js");
    changed[2].swapItemsAt(0, 1);
    // The boundary between name and source counts: "a" + "b" is not "ab" + "".
    changed[3][0] = {QStringLiteral("worker.jsexport"), QStringLiteral(" default {};\n")};
    for (const auto &modules : changed) {
        EXPECT_NE(ShareWorkerDeploy::version(modules), version);
        EXPECT_TRUE(
            QRegularExpression(QStringLiteral("^[0-9a-f]{16}$")).match(ShareWorkerDeploy::version(modules)).hasMatch());
    }
}

} // namespace
