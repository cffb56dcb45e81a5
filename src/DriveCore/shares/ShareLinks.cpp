#include "DriveCore/shares/ShareLinks.h"

namespace DriveCore {

namespace {

struct ExpiryEntry {
    ShareExpiry::Value value;
    QStringView text;
    std::optional<qint64> seconds;
};

constexpr ExpiryEntry expiries[] = {
    {ShareExpiry::oneHour, u"oneHour", 3600},       {ShareExpiry::oneDay, u"oneDay", 86400},
    {ShareExpiry::sevenDays, u"sevenDays", 604800}, {ShareExpiry::thirtyDays, u"thirtyDays", 2592000},
    {ShareExpiry::never, u"never", std::nullopt},
};

const ExpiryEntry &entry(ShareExpiry::Value value)
{
    return expiries[value];
}

} // namespace

std::optional<qint64> ShareExpiry::seconds() const
{
    return entry(value).seconds;
}

QString ShareExpiry::text() const
{
    return entry(value).text.toString();
}

std::optional<ShareExpiry> ShareExpiry::fromText(QStringView text)
{
    for (const ExpiryEntry &candidate : expiries) {
        if (candidate.text == text)
            return ShareExpiry(candidate.value);
    }
    return std::nullopt;
}

QUrl ShareRecord::link() const
{
    return ShareLink::url(workerURL, id, secret);
}

bool ShareRecord::isExpired(const QDateTime &now) const
{
    return expiresAt && now >= *expiresAt;
}

QString ShareLink::trimmedBase(const QUrl &workerURL)
{
    QString text = workerURL.toString(QUrl::FullyEncoded);
    while (text.endsWith(u'/'))
        text.chop(1);
    return text;
}

QUrl ShareLink::url(const QUrl &workerURL, const QString &id, const QString &secret)
{
    return QUrl(trimmedBase(workerURL) + QStringLiteral("/s/") + id + u'#' + secret, QUrl::StrictMode);
}

} // namespace DriveCore
