#include "DriveCore/services/CloudflareBill.h"

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/keys/CloudflareKey.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace DriveCore {

namespace {

// Whole billable units beyond the free ones, priced.
double billed(double units, double free, double price)
{
    return std::max(0.0, std::ceil(units - 1e-9) - free) * price;
}

// Rounded half away from zero; out-of-range values end at the range's edge.
qint64 roundedCount(double value)
{
    constexpr double limit = 9'223'372'036'854'775'808.0; // 2^63
    if (!(value < limit))
        return std::numeric_limits<qint64>::max();
    if (value <= -limit)
        return std::numeric_limits<qint64>::min();
    return qint64(std::llround(value));
}

QString internetDate(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODate);
}

// Sums of figures Cloudflare sends; a sum beyond 64 bits is no figure of a real account.
qint64 added(qint64 a, qint64 b)
{
    qint64 sum;
    if (__builtin_add_overflow(a, b, &sum))
        throw JsonDecodingError(QStringLiteral("The usage figures are out of range"));
    return sum;
}

// The reply's keys that are read; all others are ignored.
struct StorageGroup {
    struct Max {
        std::optional<qint64> payloadSize;
        std::optional<qint64> metadataSize;
        static Max decode(const JsonReader &reader)
        {
            return {reader.optional<qint64>(u"payloadSize"), reader.optional<qint64>(u"metadataSize")};
        }
    };
    struct Dimensions {
        QString date;
        std::optional<QString> bucketName;
        static Dimensions decode(const JsonReader &reader)
        {
            return {reader.value<QString>(u"date"), reader.optional<QString>(u"bucketName")};
        }
    };
    Max max;
    Dimensions dimensions;
    static StorageGroup decode(const JsonReader &reader)
    {
        return {reader.value<Max>(u"max"), reader.value<Dimensions>(u"dimensions")};
    }
};

struct OperationGroup {
    struct Sum {
        qint64 requests = 0;
        static Sum decode(const JsonReader &reader) { return {reader.value<qint64>(u"requests")}; }
    };
    struct Dimensions {
        QString actionType;
        std::optional<qint64> responseStatusCode;
        static Dimensions decode(const JsonReader &reader)
        {
            return {reader.value<QString>(u"actionType"), reader.optional<qint64>(u"responseStatusCode")};
        }
    };
    Sum sum;
    Dimensions dimensions;
    static OperationGroup decode(const JsonReader &reader)
    {
        return {reader.value<Sum>(u"sum"), reader.value<Dimensions>(u"dimensions")};
    }
};

struct Account {
    QList<StorageGroup> storage;
    QList<OperationGroup> operations;
    static Account decode(const JsonReader &reader)
    {
        return {reader.listOrEmpty<StorageGroup>(u"storage"), reader.listOrEmpty<OperationGroup>(u"operations")};
    }
};

struct Viewer {
    QList<Account> accounts;
    static Viewer decode(const JsonReader &reader) { return {reader.value<QList<Account>>(u"accounts")}; }
};

struct Data {
    std::optional<Viewer> viewer;
    static Data decode(const JsonReader &reader) { return {reader.optional<Viewer>(u"viewer")}; }
};

struct GraphQLError {
    struct Extensions {
        std::optional<QString> code;
        static Extensions decode(const JsonReader &reader) { return {reader.optional<QString>(u"code")}; }
    };
    QString message;
    std::optional<Extensions> extensions;
    static GraphQLError decode(const JsonReader &reader)
    {
        return {reader.value<QString>(u"message"), reader.optional<Extensions>(u"extensions")};
    }
};

struct Reply {
    std::optional<Data> data;
    QList<GraphQLError> errors;
    static Reply decode(const JsonReader &reader)
    {
        return {reader.optional<Data>(u"data"), reader.listOrEmpty<GraphQLError>(u"errors")};
    }
};

} // namespace

namespace R2Pricing {

const QSet<QString> &classA()
{
    static const QSet<QString> names{
        QStringLiteral("ListBuckets"),
        QStringLiteral("PutBucket"),
        QStringLiteral("ListObjects"),
        QStringLiteral("PutObject"),
        QStringLiteral("CopyObject"),
        QStringLiteral("CompleteMultipartUpload"),
        QStringLiteral("CreateMultipartUpload"),
        QStringLiteral("ListMultipartUploads"),
        QStringLiteral("UploadPart"),
        QStringLiteral("UploadPartCopy"),
        QStringLiteral("ListParts"),
        QStringLiteral("LifecycleStorageTierTransition"),
        QStringLiteral("PutBucketEncryption"),
        QStringLiteral("PutBucketCors"),
        QStringLiteral("PutBucketLifecycleConfiguration"),
    };
    return names;
}

const QSet<QString> &classB()
{
    static const QSet<QString> names{
        QStringLiteral("HeadBucket"),          QStringLiteral("HeadObject"),
        QStringLiteral("GetObject"),           QStringLiteral("UsageSummary"),
        QStringLiteral("GetBucketEncryption"), QStringLiteral("GetBucketLocation"),
        QStringLiteral("GetBucketCors"),       QStringLiteral("GetBucketLifecycleConfiguration"),
    };
    return names;
}

std::optional<OperationClass> operationClass(const QString &actionType)
{
    if (classA().contains(actionType))
        return OperationClass::a;
    if (classB().contains(actionType))
        return OperationClass::b;
    return std::nullopt;
}

R2Bill bill(double gbMonths, qint64 classA, qint64 classB)
{
    return {billed(gbMonths, freeGBMonths, storagePerGBMonth),
            billed(double(classA) / 1'000'000, freeClassAMillions, classAPerMillion),
            billed(double(classB) / 1'000'000, freeClassBMillions, classBPerMillion)};
}

} // namespace R2Pricing

BillingMonth::BillingMonth(const QDateTime &now)
{
    static const std::array<QString, 12> names{
        QStringLiteral("January"),   QStringLiteral("February"), QStringLiteral("March"),    QStringLiteral("April"),
        QStringLiteral("May"),       QStringLiteral("June"),     QStringLiteral("July"),     QStringLiteral("August"),
        QStringLiteral("September"), QStringLiteral("October"),  QStringLiteral("November"), QStringLiteral("December"),
    };
    const QDate day = now.toUTC().date();
    // No instant, no month: everything stays empty.
    if (!day.isValid())
        return;
    start = QDateTime(QDate(day.year(), day.month(), 1), QTime(0, 0), Qt::UTC);
    daysInMonth = day.daysInMonth();
    daysSoFar = day.day();
    name = names.at(size_t(day.month() - 1));
}

double R2MonthUsage::gbMonthsSoFar() const
{
    // Wider than 64 bits, so that no set of peaks overflows; equal to the 64-bit sum otherwise.
    __int128 sum = 0;
    for (const qint64 peak : dailyPeakBytes)
        sum += peak;
    return double(sum) / R2Pricing::bytesPerGB / 30;
}

R2Bill R2MonthUsage::billSoFar() const
{
    return R2Pricing::bill(gbMonthsSoFar(), classA, classB);
}

R2Bill R2MonthUsage::forecast(const BillingMonth &month) const
{
    const double latestPeak = dailyPeakBytes.isEmpty() ? 0 : double(dailyPeakBytes.last());
    const int remainingDays = std::max(0, month.daysInMonth - month.daysSoFar);
    const double scale = double(month.daysInMonth) / double(std::max(month.daysSoFar, 1));
    const double gbMonths = latestPeak * remainingDays / R2Pricing::bytesPerGB / 30 + gbMonthsSoFar();
    return R2Pricing::bill(gbMonths, roundedCount(scale * double(classA)), roundedCount(scale * double(classB)));
}

namespace CloudflareBill {

QString amount(double dollars)
{
    if (dollars > 0 && dollars < 0.005)
        return QStringLiteral("less than $0.01");
    return QString::asprintf("$%.2f", dollars);
}

Failure::Failure(Case value, QString text)
    : std::runtime_error(value == notAllowed ? std::string("notAllowed") : "cloudflare: " + text.toStdString()),
      value(value), text(std::move(text))
{
}

QUrl endpoint()
{
    static const QUrl address = QUrl(QLatin1String(CloudflareKey::apiBase)).resolved(QUrl(QStringLiteral("graphql")));
    return address;
}

const QString query = QStringLiteral(
    "query OvraR2Bill($account: string!, $start: Time!, $end: Time!) {\n"
    "  viewer {\n"
    "    accounts(filter: {accountTag: $account}) {\n"
    "      storage: r2StorageAdaptiveGroups(limit: 10000, filter: {datetime_geq: $start, datetime_leq: $end}) {\n"
    "        max { payloadSize metadataSize }\n"
    "        dimensions { date bucketName storageClass }\n"
    "      }\n"
    "      operations: r2OperationsAdaptiveGroups(limit: 10000, filter: {datetime_geq: $start, datetime_leq: $end}) {\n"
    "        sum { requests }\n"
    "        dimensions { actionType responseStatusCode }\n"
    "      }\n"
    "    }\n"
    "  }\n"
    "}");

HTTPRequest request(const QString &accountID, const QString &token, const BillingMonth &month, const QDateTime &now,
                    const QUrl &address)
{
    HTTPRequest made;
    made.request.setUrl(address);
    made.request.setTransferTimeout(30'000);
    made.request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    made.request.setRawHeader("Content-Type", "application/json");
    made.method = "POST";
    const QJsonObject variables{{QStringLiteral("account"), accountID},
                                {QStringLiteral("start"), internetDate(month.start)},
                                {QStringLiteral("end"), internetDate(now)}};
    made.body = QJsonDocument(QJsonObject{{QStringLiteral("query"), query}, {QStringLiteral("variables"), variables}})
                    .toJson(QJsonDocument::Compact);
    return made;
}

R2MonthUsage parse(const QByteArray &body)
{
    const Reply reply = Reply::decode(JsonReader::parse(body));

    if (!reply.errors.isEmpty()) {
        const GraphQLError &first = reply.errors.first();
        if (first.extensions && first.extensions->code == QLatin1String("authz"))
            throw Failure(Failure::notAllowed);
        const QString lowered = first.message.toLower();
        for (const char *fragment : {"not authorized", "permission", "unauthorized"}) {
            if (lowered.contains(QLatin1String(fragment)))
                throw Failure(Failure::notAllowed);
        }
        throw Failure(Failure::cloudflare, first.message);
    }
    if (!reply.data || !reply.data->viewer || reply.data->viewer->accounts.isEmpty())
        throw Failure(Failure::notAllowed);

    const Account &account = reply.data->viewer->accounts.first();
    R2MonthUsage usage;
    for (const StorageGroup &group : account.storage) {
        qint64 &peak = usage.dailyPeakBytes[group.dimensions.date];
        peak = added(peak, added(group.max.payloadSize.value_or(0), group.max.metadataSize.value_or(0)));
    }
    for (const OperationGroup &group : account.operations) {
        const std::optional<qint64> status = group.dimensions.responseStatusCode;
        if (status == 401 || status == 403)
            continue;
        const std::optional<R2Pricing::OperationClass> kind = R2Pricing::operationClass(group.dimensions.actionType);
        if (kind == R2Pricing::OperationClass::a)
            usage.classA = added(usage.classA, group.sum.requests);
        else if (kind == R2Pricing::OperationClass::b)
            usage.classB = added(usage.classB, group.sum.requests);
    }
    return usage;
}

QCoro::Task<R2MonthUsage> fetch(QString accountID, QString token, QDateTime now, HTTPSend send, QUrl address,
                                CancelToken cancel)
{
    const HTTPResponse response = co_await send(request(accountID, token, BillingMonth(now), now, address), cancel);
    if (response.status == 401 || response.status == 403)
        throw Failure(Failure::notAllowed);
    if (response.status < 200 || response.status > 299)
        throw Failure(Failure::cloudflare, httpReasonPhrase(response.status));
    co_return parse(response.body);
}

} // namespace CloudflareBill

} // namespace DriveCore
