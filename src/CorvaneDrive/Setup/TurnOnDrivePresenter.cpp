#include "CorvaneDrive/Setup/TurnOnDrivePresenter.h"

#include <QCoreApplication>
#include <QDir>

namespace CorvaneDrive {

using DriveCore::SetupStep;

QString TurnOnDrivePresenter::emphasised(const QString &marked)
{
    const QStringList pieces = marked.split(QStringLiteral("**"));
    QString html;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        // Odd pieces sat between a pair of markers; a marker left open is shown as it is.
        const bool bold = i % 2 == 1 && i + 1 < pieces.size();
        const QString escaped = pieces[i].toHtmlEscaped();
        if (bold)
            html += QStringLiteral("<b>") + escaped + QStringLiteral("</b>");
        else
            html += (i % 2 == 1 ? QStringLiteral("**") : QString()) + escaped;
    }
    return html;
}

QString TurnOnDrivePresenter::installedHelpPage()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/corvane-drive/help/")
                           + helpPageName);
}

QCoro::Task<> TurnOnDrivePresenter::poll(QPointer<DriveCore::SetupState> state, Sleep sleep,
                                         DriveCore::CancelToken token)
{
    while (!token.stop_requested()) {
        if (!state || state->step().kind != SetupStep::turnOnDrive)
            co_return;
        // The assistant keeps itself alive across the check; it asks nothing while busy.
        co_await state->checkDriveSwitch();
        try {
            co_await sleep(pollInterval, token);
        } catch (const DriveCore::CancelledError &) {
            // The screen went away; the loop's test ends it.
        }
    }
}

} // namespace CorvaneDrive
