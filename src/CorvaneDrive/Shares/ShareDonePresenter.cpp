#include "CorvaneDrive/Shares/ShareDonePresenter.h"

#include "CorvaneDrive/Shares/ShareText.h"

QString ShareDonePresenter::summary(const QLocale &locale, const QTimeZone &zone) const
{
    return QStringLiteral("“") + m_record.title + QStringLiteral("” · ") + ShareText::rules(m_record, locale, zone);
}

QString ShareDonePresenter::link() const
{
    return ShareText::link(m_record);
}

std::optional<QString> ShareDonePresenter::passwordLine() const
{
    if (!m_record.password)
        return std::nullopt;
    return QStringLiteral("Password: ") + *m_record.password
        + QStringLiteral(" — send it separately, not with the link.");
}

QString ShareDonePresenter::copy()
{
    m_copied = true;
    return link();
}
