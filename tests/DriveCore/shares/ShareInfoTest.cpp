#include "DriveCore/shares/ShareInfo.h"

#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/support/Base64URL.h"
#include "support/FreePort.h"
#include "support/LoopbackHTTPServer.h"
#include "support/TestSupport.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;

namespace {

ShareRecord record(const QString &id, const QUrl &workerURL)
{
    ShareRecord record;
    record.id = id;
    record.secret = Base64URL::encode(QByteArray(32, '\x07'));
    record.workerURL = workerURL;
    return record;
}

QString idFor(char letter)
{
    return QString(22, QChar::fromLatin1(letter));
}

TEST(ShareInfo, TheRequestProvesTheLinkWithItsAccessToken)
{
    const QString id = ShareFormat::newShareID();
    const QString expectedURL = QStringLiteral("https://x.workers.dev/api/s/") + id + QStringLiteral("/info");
    QByteArray header;
    for (const char *base : {"https://x.workers.dev", "https://x.workers.dev/", "https://x.workers.dev///"}) {
        const HTTPRequest request = ShareInfo::request(record(id, QUrl(QString::fromUtf8(base))));
        EXPECT_EQ(request.request.url().toString(), expectedURL) << base;
        EXPECT_EQ(request.method, "GET");
        EXPECT_TRUE(request.body.isEmpty());
        EXPECT_EQ(request.request.transferTimeout(), 15000);
        header = request.request.rawHeader("X-Ovra-Access");
    }
    const ShareFormat::Keys keys =
        ShareFormat::deriveKeys(id, QByteArray(32, '\x07'), std::nullopt, ShareFormat::passwordRounds);
    EXPECT_EQ(header, Base64URL::encode(keys.accessToken).toLatin1());
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("\\A[A-Za-z0-9_-]{43}\\z")).match(QString::fromLatin1(header)).hasMatch());

    ShareRecord withPassword = record(id, QUrl(QStringLiteral("https://x.workers.dev")));
    withPassword.password = QStringLiteral("pw");
    EXPECT_NE(ShareInfo::request(withPassword).request.rawHeader("X-Ovra-Access"), header);

    // A damaged secret still asks; an id that is not one does not make an address.
    ShareRecord damaged = record(id, QUrl(QStringLiteral("https://x.workers.dev")));
    damaged.secret = QStringLiteral("not base64url!");
    EXPECT_EQ(ShareInfo::request(damaged).request.rawHeader("X-Ovra-Access").size(), 43);
    EXPECT_THROW(ShareInfo::request(record(QStringLiteral("x/../y"), QUrl(QStringLiteral("https://x.workers.dev")))),
                 ShareFormat::Failure);
}

TEST(ShareInfo, TheAnswerDecidesTheStatus)
{
    using Status = ShareInfo::Status;
    const ShareInfo figures{1'800'000'000, 10, 3, 2, 12345};
    const std::vector<std::tuple<int, QByteArray, Status>> cases{
        {404, "{}", {Status::ended, std::nullopt}},
        {410, "gone", {Status::ended, std::nullopt}},
        {200, R"({"expiresAt":1800000000,"maxDownloads":10,"downloads":3,"fileCount":2,"totalBytes":12345,"other":1})",
         Status::makeLive(figures)},
        {200, R"({"expiresAt":null,"downloads":0,"fileCount":1,"totalBytes":5})",
         Status::makeLive({std::nullopt, std::nullopt, 0, 1, 5})},
        {200, R"({"fileCount":1,"totalBytes":5})", {Status::unknown, std::nullopt}},
        {200, R"({"downloads":1.5,"fileCount":1,"totalBytes":5})", {Status::unknown, std::nullopt}},
        {200, "<html>oops</html>", {Status::unknown, std::nullopt}},
        {200, "[]", {Status::unknown, std::nullopt}},
        {403, "{}", {Status::unknown, std::nullopt}},
        {500, "", {Status::unknown, std::nullopt}},
        {0, "", {Status::unknown, std::nullopt}},
    };
    for (const auto &[status, body, expected] : cases)
        EXPECT_EQ(ShareInfo::status(status, body), expected) << status << " " << body.toStdString();
}

TEST(ShareInfo, FetchesTheStatusFromTheLinkPage)
{
    using Status = ShareInfo::Status;
    TestSupport::LoopbackHTTPServer page([](const TestSupport::LoopbackHTTPServer::Request &request)
                                             -> std::optional<TestSupport::LoopbackHTTPServer::Answer> {
        const QByteArray id = request.path.split('/').value(3);
        if (id == QByteArray(22, 'A'))
            return TestSupport::LoopbackHTTPServer::Answer{404, R"({"error":"not found"})"};
        if (id == QByteArray(22, 'B'))
            return TestSupport::LoopbackHTTPServer::Answer{410, "gone"};
        if (id == QByteArray(22, 'C'))
            return TestSupport::LoopbackHTTPServer::Answer{200, R"({"downloads":1,"fileCount":2,"totalBytes":3})"};
        if (id == QByteArray(22, 'D'))
            return TestSupport::LoopbackHTTPServer::Answer{200, "garbage", "text/plain"};
        return std::nullopt; // silent
    });
    // The real time-out is 15 s; a silent page must not hold the test that long.
    const HTTPSend send = [](HTTPRequest request, CancelToken token) {
        request.request.setTransferTimeout(300);
        return liveHTTPSend(std::move(request), std::move(token));
    };
    const QUrl base = page.url(QStringLiteral("/"));
    const QUrl nobody(QStringLiteral("http://127.0.0.1:%1").arg(TestSupport::freePort()));
    const std::vector<std::tuple<char, QUrl, Status>> cases{
        {'A', base, {Status::ended, std::nullopt}},
        {'B', base, {Status::ended, std::nullopt}},
        {'C', base, Status::makeLive({std::nullopt, std::nullopt, 1, 2, 3})},
        {'D', base, {Status::unknown, std::nullopt}},
        {'E', base, {Status::unknown, std::nullopt}},
        {'F', nobody, {Status::unknown, std::nullopt}},
    };
    for (const auto &[letter, url, expected] : cases)
        EXPECT_EQ(await(ShareInfo::fetch(record(idFor(letter), url), send)), expected) << letter;

    ASSERT_GE(page.requests().size(), 5u);
    const auto &first = page.requests().front();
    EXPECT_EQ(first.method, "GET");
    EXPECT_EQ(first.path, "/api/s/" + QByteArray(22, 'A') + "/info");
    EXPECT_EQ(first.header("X-Ovra-Access").size(), 43);

    // A request that cannot be built is unknown, without asking.
    const qsizetype asked = page.requests().size();
    EXPECT_EQ(await(ShareInfo::fetch(record(QStringLiteral("short"), base), send)),
              (Status{Status::unknown, std::nullopt}));
    EXPECT_EQ(page.requests().size(), asked);
}

} // namespace
