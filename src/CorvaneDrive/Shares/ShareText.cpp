#include "CorvaneDrive/Shares/ShareText.h"

#include "DriveCore/platform/DateTimeFormat.h"

#include <QStringList>

namespace ShareText {

QString rules(const DriveCore::ShareRecord &record, const QLocale &locale, const QTimeZone &zone)
{
    QStringList parts;
    if (record.expiresAt)
        parts.append(QStringLiteral("expires ")
                     + DriveCore::DateTimeFormat::abbreviated(*record.expiresAt, locale, zone));
    else
        parts.append(QStringLiteral("no expiry"));
    if (record.maxDownloads)
        parts.append(downloads(*record.maxDownloads));
    if (record.password)
        parts.append(QStringLiteral("password"));
    return parts.join(QStringLiteral(" · "));
}

QString link(const DriveCore::ShareRecord &record)
{
    return DriveCore::ShareLink::url(record.workerURL, record.id, record.secret).toString(QUrl::FullyEncoded);
}

QString downloads(qint64 count)
{
    return count == 1 ? QStringLiteral("1 download") : QString::number(count) + QStringLiteral(" downloads");
}

} // namespace ShareText
