#include "DriveCore/keys/CloudflareKey.h"

#include "support/LoopbackHTTPServer.h"
#include "support/TestSupport.h"

#include <QTcpServer>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::LoopbackHTTPServer;
using Failure = CloudflareKey::Failure;

namespace {

const QString account = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString endpoint = QStringLiteral("https://%1.r2.cloudflarestorage.com").arg(account);
const QByteArray accountPath = "/client/v4/accounts/0123456789abcdef0123456789abcdef/tokens/verify";
const QByteArray userPath = "/client/v4/user/tokens/verify";

LoopbackHTTPServer::Answer verified(const QByteArray &id, const QByteArray &status = "active")
{
    return {200, R"({"success":true,"errors":[],"result":{"id":")" + id + R"(","status":")" + status + R"("}})"};
}

// Answers each verification path with its own answer.
LoopbackHTTPServer::Handler byPath(LoopbackHTTPServer::Answer onAccount, LoopbackHTTPServer::Answer onUser)
{
    return [=](const LoopbackHTTPServer::Request &request) { return request.path == accountPath ? onAccount : onUser; };
}

Failure::Case failureOf(QCoro::Task<StorageSecrets> &&task)
{
    try {
        await(std::move(task));
    } catch (const Failure &failure) {
        return failure.value;
    }
    ADD_FAILURE() << "no failure";
    return Failure::notCloudflare;
}

class CloudflareKeyTest : public ::testing::Test {
protected:
    QCoro::Task<StorageSecrets> check(LoopbackHTTPServer &server, const QString &token)
    {
        return CloudflareKey::storageSecrets(token, endpoint, QStringLiteral("photos"), liveHTTPSend,
                                             server.url(QStringLiteral("/client/v4/")));
    }
};

TEST_F(CloudflareKeyTest, AccountTokenIsAcceptedOnTheFirstPath)
{
    LoopbackHTTPServer server(byPath(verified("ABCdef0123"), {500, ""}));
    const StorageSecrets secrets = await(check(server, QStringLiteral("  the-token\r\n")));

    EXPECT_EQ(secrets,
              (StorageSecrets{endpoint, QStringLiteral("photos"), QStringLiteral("ABCdef0123"),
                              CloudflareKey::storageKeys({}, QStringLiteral("the-token")).secretAccessKey}));
    ASSERT_EQ(server.requests().size(), 1u);
    const LoopbackHTTPServer::Request &request = server.requests().front();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, accountPath);
    EXPECT_EQ(request.headers.value("authorization"), "Bearer the-token");
}

TEST_F(CloudflareKeyTest, UserTokenIsAcceptedOnTheSecondPath)
{
    for (const LoopbackHTTPServer::Answer &onAccount : {
             LoopbackHTTPServer::Answer{401, R"({"success":false,"errors":[{"code":1000}]})"},
             LoopbackHTTPServer::Answer{200, R"({"success":false,"result":null})"},
         }) {
        SCOPED_TRACE(onAccount.body.toStdString());
        LoopbackHTTPServer server(byPath(onAccount, verified("0a1b")));
        EXPECT_EQ(await(check(server, QStringLiteral("t"))).accessKeyID, QStringLiteral("0a1b"));
        ASSERT_EQ(server.requests().size(), 2u);
        EXPECT_EQ(server.requests()[1].path, userPath);
        EXPECT_EQ(server.requests()[1].headers.value("authorization"), "Bearer t");
    }
}

TEST_F(CloudflareKeyTest, TokensCloudflareDoesNotConfirmAreNotValid)
{
    const std::vector<LoopbackHTTPServer::Answer> answers{
        verified("abc123", "disabled"),
        verified("abc12g"),
        verified("abc-12"),
        verified(""),
        {200, R"({"success":true,"result":{"status":"active"}})"},
        {200, R"({"success":true,"result":{"id":12,"status":"active"}})"},
        {200, R"({"success":true})"},
        {200, R"({"result":{"id":"abc","status":"active"}})"},
        {200, R"({"success":"true","result":{"id":"abc","status":"active"}})"},
        {200, "<html>not json</html>"},
        {403, verified("abc").body},
    };
    for (const LoopbackHTTPServer::Answer &answer : answers) {
        SCOPED_TRACE(answer.body.toStdString());
        LoopbackHTTPServer server(byPath(answer, answer));
        EXPECT_EQ(failureOf(check(server, QStringLiteral("t"))), Failure::notAValidKey);
        EXPECT_EQ(server.requests().size(), 2u);
    }
}

TEST_F(CloudflareKeyTest, EachVerificationGoesOutWithThirtySeconds)
{
    LoopbackHTTPServer server(byPath({500, ""}, verified("abc")));
    std::vector<int> timeouts;
    const HTTPSend recording = [&timeouts](HTTPRequest request, CancelToken token) {
        timeouts.push_back(request.request.transferTimeout());
        return liveHTTPSend(std::move(request), token);
    };
    await(CloudflareKey::storageSecrets(QStringLiteral("t"), endpoint, QStringLiteral("photos"), recording,
                                        server.url(QStringLiteral("/client/v4/"))));
    EXPECT_EQ(timeouts, (std::vector<int>{30'000, 30'000}));
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(CloudflareKeyTest, TransportErrorIsThrownWithoutTryingTheSecondPath)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl base(QStringLiteral("http://127.0.0.1:%1/client/v4/").arg(closed.serverPort()));
    closed.close();
    int sent = 0;
    const HTTPSend counting = [&sent](HTTPRequest request, CancelToken token) {
        ++sent;
        return liveHTTPSend(std::move(request), token);
    };
    EXPECT_THROW(
        await(CloudflareKey::storageSecrets(QStringLiteral("t"), endpoint, QStringLiteral("photos"), counting, base)),
        HTTPTransportError);
    EXPECT_EQ(sent, 1);
}

TEST_F(CloudflareKeyTest, EndpointIsCheckedBeforeTheTokenAndNothingIsSentForEither)
{
    LoopbackHTTPServer server(byPath(verified("abc"), verified("abc")));
    const QUrl base = server.url(QStringLiteral("/client/v4/"));
    const auto secretsFor = [&](const QString &token, const QString &endpoint) {
        return CloudflareKey::storageSecrets(token, endpoint, QStringLiteral("photos"), liveHTTPSend, base);
    };
    const QString s3 = QStringLiteral("https://s3.eu-west-1.amazonaws.com");
    EXPECT_EQ(failureOf(secretsFor(QStringLiteral("t"), s3)), Failure::notCloudflare);
    EXPECT_EQ(failureOf(secretsFor(QString(), s3)), Failure::notCloudflare);
    EXPECT_EQ(failureOf(secretsFor(QStringLiteral(" \n\t"), endpoint)), Failure::notAValidKey);
    EXPECT_TRUE(server.requests().empty());
}

TEST(CloudflareKeyStorageKeysTest, SecretIsTheLowerCaseHexSHA256OfTheToken)
{
    const CloudflareKey::StorageKeys keys = CloudflareKey::storageKeys(QStringLiteral("AbC123"), QStringLiteral("abc"));
    EXPECT_EQ(keys.accessKeyID, QStringLiteral("AbC123"));
    EXPECT_EQ(keys.secretAccessKey, QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

} // namespace
