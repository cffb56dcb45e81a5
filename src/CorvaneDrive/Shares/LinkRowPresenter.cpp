#include "CorvaneDrive/Shares/LinkRowPresenter.h"

#include "CorvaneDrive/Shares/ShareText.h"
#include "DriveCore/platform/ByteCountFormat.h"
#include "DriveCore/platform/DateTimeFormat.h"

using DriveCore::ShareInfo;

QString LinkRowPresenter::infoLine(const QLocale &locale, const QTimeZone &zone) const
{
    const DriveCore::ShareRecord &record = m_row.record;
    return files(record.fileCount) + QStringLiteral(" · ") + DriveCore::ByteCountFormat::fileSize(record.totalBytes)
        + QStringLiteral(" · ") + ShareText::rules(record, locale, zone);
}

QString LinkRowPresenter::madeLine(const QLocale &locale, const QTimeZone &zone) const
{
    return QStringLiteral("Made ") + DriveCore::DateTimeFormat::abbreviated(m_row.record.createdAt, locale, zone)
        + QStringLiteral(" on ") + m_row.record.createdBy;
}

LinkRowPresenter::StatusLine LinkRowPresenter::statusLine() const
{
    if (!m_row.status)
        return {checkingText, StatusLine::secondary};
    switch (m_row.status->kind) {
    case ShareInfo::Status::live: {
        const ShareInfo info = m_row.status->info.value_or(ShareInfo());
        const QString count = info.maxDownloads ? QString::number(info.downloads) + QStringLiteral(" of ")
                + QString::number(*info.maxDownloads) + QStringLiteral(" downloads")
                                                : ShareText::downloads(info.downloads);
        return {QStringLiteral("● Active · ") + count, StatusLine::green};
    }
    case ShareInfo::Status::ended:
        return {endedText, StatusLine::secondary};
    case ShareInfo::Status::unknown:
        break;
    }
    return {unknownText, StatusLine::secondary};
}

bool LinkRowPresenter::isEnded() const
{
    return m_row.status && m_row.status->kind == ShareInfo::Status::ended;
}

QString LinkRowPresenter::copyLink()
{
    m_copied = true;
    return ShareText::link(m_row.record);
}

QString LinkRowPresenter::files(qint64 count)
{
    return count == 1 ? QStringLiteral("1 file") : QString::number(count) + QStringLiteral(" files");
}
