#pragma once

#include "DriveCore/platform/HTTPSend.h"
#include "DriveCore/support/Cancellation.h"

#include <QByteArray>
#include <QCoroTask>
#include <QDateTime>
#include <QMap>
#include <QSet>
#include <QString>
#include <QUrl>

#include <optional>
#include <stdexcept>

namespace DriveCore {

// Dollars per billed item of one month.
struct R2Bill {
    double storage = 0;
    double classA = 0; // uploads and listings
    double classB = 0; // downloads

    double total() const { return storage + classA + classB; }
    bool operator==(const R2Bill &) const = default;
};

// R2 Standard prices. Each item is billed in whole units: a quantity at most 1e-9 above a whole
// number counts as that number, anything more rounds up; the free units come off afterwards.
namespace R2Pricing {

inline constexpr double storagePerGBMonth = 0.015;
inline constexpr double freeGBMonths = 10;
inline constexpr double classAPerMillion = 4.5;
inline constexpr double freeClassAMillions = 1;
inline constexpr double classBPerMillion = 0.36;
inline constexpr double freeClassBMillions = 10;
inline constexpr double bytesPerGB = 1'000'000'000;

enum class OperationClass { a, b };

// Cloudflare's action-type names billed as class A (15) and class B (8), compared exactly.
const QSet<QString> &classA();
const QSet<QString> &classB();

// None for an action that is free.
std::optional<OperationClass> operationClass(const QString &actionType);

R2Bill bill(double gbMonths, qint64 classA, qint64 classB);

} // namespace R2Pricing

// The calendar month, in UTC, that contains an instant.
struct BillingMonth {
    explicit BillingMonth(const QDateTime &now);

    QDateTime start; // 00:00:00 UTC on its first day
    int daysInMonth = 0;
    int daysSoFar = 0; // the day of the month of the instant: 1 on the first day
    QString name; // the full English month name, "December"

    bool operator==(const BillingMonth &) const = default;
};

// What Cloudflare measured for the month so far, over the whole account.
struct R2MonthUsage {
    QMap<QString, qint64> dailyPeakBytes; // by the day's date text, "2026-12-01"
    qint64 classA = 0;
    qint64 classB = 0;

    // Each day's peak counts as a thirtieth of a GB-month per GB.
    double gbMonthsSoFar() const;
    R2Bill billSoFar() const;
    // The whole month's likely bill: the latest day's peak kept for the remaining days, the
    // requests scaled to the whole month.
    R2Bill forecast(const BillingMonth &month) const;

    bool operator==(const R2MonthUsage &) const = default;
};

// Cloudflare's own usage figures of the month, fetched from its GraphQL analytics interface,
// and the texts the settings window shows around the bill.
namespace CloudflareBill {

inline const QString noKeyText =
    QStringLiteral("To see what Cloudflare measured, use Change storage keys… → Cloudflare API token.");
inline const QString note = QStringLiteral(
    "From Cloudflare's own usage figures for all R2 in your account, priced at R2 Standard rates (storage, "
    "uploads/listings, downloads). Counted by calendar month in UTC; your Cloudflare invoice is the final word.");
inline const QString notAllowedText = QStringLiteral(
    "Your Cloudflare API token can't read usage yet. In Cloudflare → Manage Account → Account API Tokens, edit "
    "the token, add the permission Account · Account Analytics · Read, and save. Then press Refresh.");

// "$1.23", or "less than $0.01" for an amount above 0 that would show as $0.00.
QString amount(double dollars);

// Cloudflare refused or failed (`text` is its own message, or the HTTP status text), or the
// token may not read the account's analytics.
class Failure : public std::runtime_error {
public:
    enum Case {
        cloudflare,
        notAllowed,
    };

    explicit Failure(Case value, QString text = {});

    bool operator==(const Failure &other) const
    {
        return value == other.value && (value != cloudflare || text == other.text);
    }

    Case value;
    QString text; // only for cloudflare
};

// https://api.cloudflare.com/client/v4/graphql
QUrl endpoint();

// The GraphQL query, 14 lines, 542 bytes.
extern const QString query;

// The POST of the query for the account's figures from the month's start to `now`.
HTTPRequest request(const QString &accountID, const QString &token, const BillingMonth &month, const QDateTime &now,
                    const QUrl &address = endpoint());

// The first account's daily peaks and billed requests (requests refused with 401 or 403 are not
// counted). Throws JsonDecodingError for a reply that does not decode, Failure for Cloudflare's
// errors or a reply without an account.
R2MonthUsage parse(const QByteArray &body);

// Sends one request for the month that contains `now` and reads the reply. Throws Failure
// (notAllowed for 401 and 403 whatever the body, cloudflare with the status text for another
// status outside 200-299), what `parse` throws, or what `send` throws.
QCoro::Task<R2MonthUsage> fetch(QString accountID, QString token, QDateTime now, HTTPSend send,
                                QUrl address = endpoint(), CancelToken cancel = {});

} // namespace CloudflareBill

} // namespace DriveCore
