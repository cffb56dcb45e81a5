#include "CorvaneDrive/Shares/ShareSetupPresenter.h"

bool ShareSetupPresenter::canSetUp(bool settingUp) const
{
    if (settingUp)
        return false;
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    qsizetype start = 0;
    qsizetype end = token.size();
    while (start < end && blank(token[start]))
        ++start;
    while (end > start && blank(token[end - 1]))
        --end;
    return end > start;
}

void ShareSetupPresenter::setUpEnded(const std::optional<QString> &message)
{
    if (!message)
        token.clear();
}

QString ShareSetupPresenter::emphasised(const QString &text)
{
    QString html;
    bool bold = false;
    const QStringList pieces = text.split(QStringLiteral("**"));
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            html += bold ? QStringLiteral("</b>") : QStringLiteral("<b>");
            bold = !bold;
        }
        html += pieces[i].toHtmlEscaped();
    }
    if (bold)
        html += QStringLiteral("</b>");
    return html;
}
