#include "DriveCore/services/CloudflareBill.h"

#include "DriveCore/engine/RCClient.h"
#include "support/LoopbackHTTPServer.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::LoopbackHTTPServer;
using Failure = CloudflareBill::Failure;

namespace {

QDateTime utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
}

void expectBill(const R2Bill &bill, double storage, double classA, double classB)
{
    EXPECT_DOUBLE_EQ(bill.storage, storage);
    EXPECT_DOUBLE_EQ(bill.classA, classA);
    EXPECT_DOUBLE_EQ(bill.classB, classB);
}

TEST(R2Pricing, BillsWholeUnitsBeyondTheFreeOnes)
{
    const struct {
        double gbMonths;
        qint64 classA, classB;
        double storage, a, b;
    } cases[] = {
        {10.0000000005, 0, 0, 0, 0, 0}, {10.5, 0, 0, 0.015, 0, 0},
        {11, 0, 0, 0.015, 0, 0},        {0, 1'000'000, 0, 0, 0, 0},
        {0, 1'000'001, 0, 0, 4.5, 0},   {0, 0, 10'000'000, 0, 0, 0},
        {0, 0, 10'000'001, 0, 0, 0.36}, {22.5, 1'550'000, 12'400'000, 0.195, 4.5, 1.08},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.gbMonths << " " << c.classA << " " << c.classB);
        expectBill(R2Pricing::bill(c.gbMonths, c.classA, c.classB), c.storage, c.a, c.b);
    }
}

TEST(R2Pricing, ClassifiesActionTypesExactly)
{
    EXPECT_EQ(R2Pricing::classA().size(), 15);
    EXPECT_EQ(R2Pricing::classB().size(), 8);
    EXPECT_EQ(R2Pricing::operationClass(QStringLiteral("PutObject")), R2Pricing::OperationClass::a);
    EXPECT_EQ(R2Pricing::operationClass(QStringLiteral("PutBucketLifecycleConfiguration")),
              R2Pricing::OperationClass::a);
    EXPECT_EQ(R2Pricing::operationClass(QStringLiteral("GetObject")), R2Pricing::OperationClass::b);
    EXPECT_EQ(R2Pricing::operationClass(QStringLiteral("UsageSummary")), R2Pricing::OperationClass::b);
    EXPECT_EQ(R2Pricing::operationClass(QStringLiteral("putobject")), std::nullopt);
    EXPECT_EQ(R2Pricing::operationClass(QStringLiteral("DeleteObject")), std::nullopt);
}

TEST(R2MonthUsage, ForecastsTheWholeMonth)
{
    const R2MonthUsage usage{
        {{QStringLiteral("2026-12-09"), 15'000'000'000}, {QStringLiteral("2026-12-10"), 30'000'000'000}},
        500'000,
        4'000'000};
    const BillingMonth month(utc(2026, 12, 10, 18));
    ASSERT_EQ(month.daysInMonth, 31);
    ASSERT_EQ(month.daysSoFar, 10);

    EXPECT_DOUBLE_EQ(usage.gbMonthsSoFar(), 1.5);
    EXPECT_EQ(usage.billSoFar(), R2Bill{});
    const R2Bill forecast = usage.forecast(month);
    // 22.5 GB-months, 1,550,000 class A and 12,400,000 class B requests.
    EXPECT_EQ(forecast, R2Pricing::bill(22.5, 1'550'000, 12'400'000));
    expectBill(forecast, 0.195, 4.5, 1.08);
    EXPECT_DOUBLE_EQ(forecast.total(), 5.775);
    EXPECT_EQ(CloudflareBill::amount(forecast.total()), QStringLiteral("$5.78"));

    EXPECT_EQ(R2MonthUsage{}.billSoFar(), R2Bill{});
    EXPECT_EQ(R2MonthUsage{}.forecast(month), R2Bill{});
}

TEST(R2MonthUsage, OnTheLastDayNothingIsProjected)
{
    const BillingMonth month(utc(2026, 11, 30, 23, 59, 59));
    ASSERT_EQ(month.daysSoFar, month.daysInMonth);
    const R2MonthUsage usage{{{QStringLiteral("2026-11-30"), 600'000'000'000}}, 1'000'001, 10'000'001};
    EXPECT_EQ(usage.forecast(month), usage.billSoFar());
    expectBill(usage.billSoFar(), 10 * 0.015, 4.5, 0.36);
}

TEST(BillingMonth, IsTheCalendarMonthInUTC)
{
    // Still 31 January where the user is.
    const QDateTime instant = utc(2026, 2, 1, 4, 30).toTimeZone(QTimeZone(-5 * 3600));
    ASSERT_EQ(instant.date(), QDate(2026, 1, 31));
    const BillingMonth february(instant);
    EXPECT_EQ(february.start, utc(2026, 2, 1));
    EXPECT_EQ(february.daysInMonth, 28);
    EXPECT_EQ(february.daysSoFar, 1);
    EXPECT_EQ(february.name, QStringLiteral("February"));

    EXPECT_EQ(BillingMonth(utc(2028, 2, 29, 12)).daysInMonth, 29);
    EXPECT_EQ(BillingMonth(QDateTime()).daysInMonth, 0);
    const BillingMonth december(utc(2026, 12, 31, 23, 59, 59));
    EXPECT_EQ(december.start, utc(2026, 12, 1));
    EXPECT_EQ(december.name, QStringLiteral("December"));
}

TEST(CloudflareBill, ShowsAmountsInDollarsAndCents)
{
    const struct {
        double dollars;
        const char *text;
    } cases[] = {
        {0, "$0.00"},     {0.004, "less than $0.01"}, {0.0049, "less than $0.01"},
        {0.005, "$0.01"}, {1.234, "$1.23"},           {1234.5, "$1234.50"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CloudflareBill::amount(c.dollars), QString::fromUtf8(c.text)) << c.dollars;
}

TEST(CloudflareBill, TextsAreAsWritten)
{
    EXPECT_EQ(
        CloudflareBill::noKeyText,
        QStringLiteral("To see what Cloudflare measured, use Change storage keys\u2026 \u2192 Cloudflare API token."));
    EXPECT_TRUE(CloudflareBill::note.startsWith(QLatin1String("From Cloudflare's own usage figures for all R2")));
    EXPECT_TRUE(CloudflareBill::notAllowedText.contains(
        QStringLiteral("Account \u00b7 Account Analytics \u00b7 Read, and save. Then press Refresh.")));
    EXPECT_EQ(CloudflareBill::endpoint(), QUrl(QStringLiteral("https://api.cloudflare.com/client/v4/graphql")));
}

// The query exactly: 14 lines, 542 bytes.
const char *const expectedQuery = R"(query OvraR2Bill($account: string!, $start: Time!, $end: Time!) {
  viewer {
    accounts(filter: {accountTag: $account}) {
      storage: r2StorageAdaptiveGroups(limit: 10000, filter: {datetime_geq: $start, datetime_leq: $end}) {
        max { payloadSize metadataSize }
        dimensions { date bucketName storageClass }
      }
      operations: r2OperationsAdaptiveGroups(limit: 10000, filter: {datetime_geq: $start, datetime_leq: $end}) {
        sum { requests }
        dimensions { actionType responseStatusCode }
      }
    }
  }
})";

// A reply as Cloudflare gives it: two buckets and two storage classes on one day.
const QByteArray recordedReply = R"({
  "data": {"viewer": {"accounts": [{
    "storage": [
      {"max": {"payloadSize": 100, "metadataSize": 1}, "dimensions": {"date": "2026-12-05", "bucketName": "photos", "storageClass": "Standard"}},
      {"max": {"payloadSize": 50, "metadataSize": 1}, "dimensions": {"date": "2026-12-05", "bucketName": "docs", "storageClass": "InfrequentAccess"}},
      {"max": {"payloadSize": null}, "dimensions": {"date": "2026-12-06", "bucketName": "photos", "storageClass": "Standard"}},
      {"max": {"payloadSize": 7000}, "dimensions": {"date": "2026-12-07"}}
    ],
    "operations": [
      {"sum": {"requests": 1000}, "dimensions": {"actionType": "PutObject", "responseStatusCode": 403}},
      {"sum": {"requests": 1000}, "dimensions": {"actionType": "PutObject", "responseStatusCode": 401}},
      {"sum": {"requests": 1000}, "dimensions": {"actionType": "PutObject", "responseStatusCode": 404}},
      {"sum": {"requests": 1000}, "dimensions": {"actionType": "PutObject"}},
      {"sum": {"requests": 20}, "dimensions": {"actionType": "ListObjects", "responseStatusCode": 200}},
      {"sum": {"requests": 300}, "dimensions": {"actionType": "GetObject", "responseStatusCode": 200}},
      {"sum": {"requests": 5000}, "dimensions": {"actionType": "DeleteObject", "responseStatusCode": 204}}
    ]
  }, {
    "storage": [{"max": {"payloadSize": 999}, "dimensions": {"date": "2026-12-05"}}]
  }]}},
  "errors": null
})";

const R2MonthUsage recordedUsage{
    {{QStringLiteral("2026-12-05"), 152}, {QStringLiteral("2026-12-06"), 0}, {QStringLiteral("2026-12-07"), 7000}},
    2020,
    300};

// The parse outcome as a comparable value.
struct Outcome {
    std::optional<R2MonthUsage> usage;
    std::optional<Failure> failure;
    bool undecodable = false;

    static Outcome of(const std::function<R2MonthUsage()> &action)
    {
        try {
            return {action(), std::nullopt, false};
        } catch (const Failure &failure) {
            return {std::nullopt, failure, false};
        } catch (const JsonDecodingError &) {
            return {std::nullopt, std::nullopt, true};
        }
    }
};

TEST(CloudflareBill, ParsesTheFirstAccountsFiguresAndErrors)
{
    const auto withErrors = [](const char *errors) {
        return QByteArray(R"({"data": {"viewer": {"accounts": [{"storage": []}]}}, "errors": )") + errors + "}";
    };
    const struct {
        const char *name;
        QByteArray body;
        std::optional<R2MonthUsage> usage;
        std::optional<Failure> failure;
    } cases[] = {
        {"recorded", recordedReply, recordedUsage, std::nullopt},
        {"empty errors", withErrors("[]"), R2MonthUsage{}, std::nullopt},
        {"no lists", R"({"data": {"viewer": {"accounts": [{}]}}})", R2MonthUsage{}, std::nullopt},
        {"authz code", withErrors(R"([{"message": "rate limited", "extensions": {"code": "authz"}}])"), std::nullopt,
         Failure(Failure::notAllowed)},
        {"permission", withErrors(R"([{"message": "Missing Permission for account", "extensions": {"code": "x"}}])"),
         std::nullopt, Failure(Failure::notAllowed)},
        {"not authorized", withErrors(R"([{"message": "NOT AUTHORIZED"}])"), std::nullopt,
         Failure(Failure::notAllowed)},
        {"unauthorized", withErrors(R"([{"message": "Unauthorized access"}])"), std::nullopt,
         Failure(Failure::notAllowed)},
        {"plain",
         withErrors(
             R"([{"message": "Query Too Complex", "extensions": {"code": "AUTHZ"}}, {"message": "x", "extensions": {"code": "authz"}}])"),
         std::nullopt, Failure(Failure::cloudflare, QStringLiteral("Query Too Complex"))},
        {"no data", R"({"errors": []})", std::nullopt, Failure(Failure::notAllowed)},
        {"no viewer", R"({"data": {"viewer": null}})", std::nullopt, Failure(Failure::notAllowed)},
        {"no accounts", R"({"data": {"viewer": {"accounts": []}}})", std::nullopt, Failure(Failure::notAllowed)},
    };
    for (const auto &c : cases) {
        const Outcome outcome = Outcome::of([&] { return CloudflareBill::parse(c.body); });
        EXPECT_EQ(outcome.usage, c.usage) << c.name;
        EXPECT_EQ(outcome.failure, c.failure) << c.name;
        EXPECT_FALSE(outcome.undecodable) << c.name;
    }
}

TEST(CloudflareBill, RepliesThatDoNotFitAreNotRead)
{
    const char *bodies[] = {
        "not json",
        "[]",
        R"({"data": {"viewer": {}}})",
        R"({"data": {"viewer": {"accounts": [{"storage": [{"dimensions": {"date": "2026-12-05"}}]}]}}})",
        R"({"data": {"viewer": {"accounts": [{"storage": [{"max": {}, "dimensions": {}}]}]}}})",
        R"({"data": {"viewer": {"accounts": [{"storage": [{"max": {"payloadSize": "1"}, "dimensions": {"date": "d"}}]}]}}})",
        R"({"data": {"viewer": {"accounts": [{"operations": [{"sum": {}, "dimensions": {"actionType": "GetObject"}}]}]}}})",
        R"({"data": {"viewer": {"accounts": [{"operations": [{"sum": {"requests": 1.5}, "dimensions": {"actionType": "GetObject"}}]}]}}})",
        R"({"data": {"viewer": {"accounts": [{"operations": [{"sum": {"requests": 1}, "dimensions": {"actionType": "GetObject", "responseStatusCode": "403"}}]}]}}})",
        R"({"errors": [{"extensions": {"code": "authz"}}]})",
        R"({"data": {"viewer": {"accounts": [{"operations": [{"sum": {"requests": 9223372036854775807}, "dimensions": {"actionType": "GetObject"}}, {"sum": {"requests": 1}, "dimensions": {"actionType": "GetObject"}}]}]}}})",
    };
    for (const char *body : bodies)
        EXPECT_TRUE(Outcome::of([&] { return CloudflareBill::parse(body); }).undecodable) << body;
}

// Fetches against a loopback server that plays Cloudflare's recorded answers.
class CloudflareBillFetchTest : public ::testing::Test {
protected:
    QCoro::Task<R2MonthUsage> fetch(LoopbackHTTPServer &server)
    {
        return CloudflareBill::fetch(QStringLiteral("0123456789abcdef0123456789abcdef"), QStringLiteral("cf-token"),
                                     now, liveHTTPSend, server.url(QStringLiteral("/client/v4/graphql")));
    }
    Outcome outcome(LoopbackHTTPServer &server)
    {
        return Outcome::of([&] { return await(fetch(server)); });
    }
    static LoopbackHTTPServer::Handler answering(int status, QByteArray body)
    {
        return [=](const LoopbackHTTPServer::Request &) { return LoopbackHTTPServer::Answer{status, body}; };
    }

    const QDateTime now = utc(2026, 12, 9, 10, 8, 29).addMSecs(640);
};

TEST_F(CloudflareBillFetchTest, PostsTheQueryForTheMonthSoFarAndReadsTheReply)
{
    LoopbackHTTPServer server(answering(200, recordedReply));
    EXPECT_EQ(await(fetch(server)), recordedUsage);

    ASSERT_EQ(server.requests().size(), 1u);
    const LoopbackHTTPServer::Request &request = server.requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/client/v4/graphql");
    EXPECT_EQ(request.header("Authorization"), "Bearer cf-token");
    EXPECT_EQ(request.header("Content-Type"), "application/json");
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    EXPECT_EQ(body.keys(), (QStringList{"query", "variables"}));
    const QByteArray query = body.value(u"query").toString().toUtf8();
    EXPECT_EQ(query, expectedQuery);
    EXPECT_EQ(query.size(), 542);
    EXPECT_EQ(query.count('\n'), 13);
    EXPECT_EQ(body.value(u"variables").toObject(),
              (QJsonObject{{"account", "0123456789abcdef0123456789abcdef"},
                           {"start", "2026-12-01T00:00:00Z"},
                           {"end", "2026-12-09T10:08:29Z"}}));
}

TEST_F(CloudflareBillFetchTest, StatusesAndErrorsDecideTheFailure)
{
    const struct {
        const char *name;
        int status;
        QByteArray body;
        std::optional<Failure> failure;
        bool undecodable;
    } cases[] = {
        {"403 with figures", 403, recordedReply, Failure(Failure::notAllowed), false},
        {"401", 401, "", Failure(Failure::notAllowed), false},
        {"500", 500, recordedReply, Failure(Failure::cloudflare, QStringLiteral("Internal Server Error")), false},
        {"429", 429, "{}", Failure(Failure::cloudflare, QStringLiteral("Too Many Requests")), false},
        {"authz error", 200,
         R"({"data": null, "errors": [{"message": "not authorized for that account", "path": ["viewer"], "extensions": {"code": "authz", "timestamp": "2026-12-09T10:08:29Z"}}]})",
         Failure(Failure::notAllowed), false},
        {"not JSON", 200, "<html>Bad gateway</html>", std::nullopt, true},
    };
    for (const auto &c : cases) {
        LoopbackHTTPServer server(answering(c.status, c.body));
        const Outcome result = outcome(server);
        EXPECT_FALSE(result.usage) << c.name;
        EXPECT_EQ(result.failure, c.failure) << c.name;
        EXPECT_EQ(result.undecodable, c.undecodable) << c.name;
        EXPECT_EQ(server.requests().size(), 1u) << c.name;
    }
}

TEST_F(CloudflareBillFetchTest, TransportFailuresPassUnchanged)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl address(QStringLiteral("http://127.0.0.1:%1/client/v4/graphql").arg(closed.serverPort()));
    closed.close();
    EXPECT_THROW(await(CloudflareBill::fetch(QStringLiteral("a"), QStringLiteral("t"), now, liveHTTPSend, address)),
                 HTTPTransportError);
}

} // namespace
