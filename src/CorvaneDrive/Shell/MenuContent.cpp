#include "CorvaneDrive/Shell/MenuContent.h"

#include "DriveCore/engine/AppVersion.h"
#include "DriveCore/platform/AppInfo.h"
#include "DriveCore/shares/SharesModel.h"

namespace CorvaneDrive::MenuContent {

using DriveCore::AppModel;
using DriveCore::AppModelPhase;

namespace {

Row text(QString title)
{
    return {.kind = Row::text, .title = std::move(title), .enabled = false};
}

Row button(QString title, Action action, bool enabled = true, QKeySequence shortcut = {})
{
    return {.kind = Row::button, .title = std::move(title), .action = action, .enabled = enabled, .shortcut = shortcut};
}

Row separator()
{
    return {};
}

} // namespace

Input input(const AppModel &model, const DriveCore::SharesModel *shares)
{
    return {
        .versionLine = DriveCore::AppVersion::menuLine(DriveCore::AppInfo::dictionary()),
        .phase = model.phase(),
        .statusLine = model.statusLine(),
        .keepProgress = model.keepProgress(),
        .canRetryLaunch = model.canRetryLaunch(),
        .isEjected = model.isEjected(),
        .needsExtensionSwitch = model.needsExtensionSwitch(),
        .hasSettings = model.settings().has_value(),
        .conflicts = model.conflicts().size(),
        .creatingShare = shares && shares->isCreating(),
    };
}

QList<Row> rows(const Input &in)
{
    QList<Row> rows;
    rows << text(in.versionLine.value_or(QStringLiteral("Ovra"))) << text(tagline) << separator();

    const AppModelPhase::Kind phase = in.phase.kind;
    if (phase == AppModelPhase::needsSetup) {
        rows << button(QStringLiteral("Set up Ovra\u2026"), Action::setUp);
    } else {
        const bool allSafe = in.statusLine == AppModel::allSafeText;
        const bool offline = phase == AppModelPhase::offline;
        if (!allSafe || offline || in.keepProgress || in.canRetryLaunch) {
            if (!allSafe)
                rows << text(in.statusLine);
            else if (offline)
                rows << text(offlineText);
            if (in.keepProgress)
                rows << text(*in.keepProgress);
            if (in.canRetryLaunch)
                rows << button(QStringLiteral("Try Again"), Action::tryAgain);
            if (in.isEjected)
                rows << button(QStringLiteral("Reconnect"), Action::reconnect);
            rows << separator();
        }
        if (in.needsExtensionSwitch)
            rows << button(QStringLiteral("Show How\u2026"), Action::openExtensionSettings) << separator();
        const bool mounted = (phase == AppModelPhase::running || offline) && !in.isEjected;
        rows << button(QStringLiteral("Search drive\u2026"), Action::search, in.hasSettings,
                       QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_O))
             << button(QStringLiteral("Open in File Manager"), Action::openInFinder, mounted)
             << button(QStringLiteral("Uploads\u2026"), Action::uploads)
             << button(QStringLiteral("Recently Deleted\u2026"), Action::recentlyDeleted)
             << button(QStringLiteral("Copy all my files to this computer\u2026"), Action::copyAll) << separator()
             << button(QStringLiteral("Share Files\u2026"), Action::shareFiles,
                       phase == AppModelPhase::running && !in.creatingShare)
             << button(QStringLiteral("Shared Links\u2026"), Action::sharedLinks) << separator();
        if (in.conflicts > 0)
            rows << button(QStringLiteral("Resolve conflicts\u2026 (%1)").arg(in.conflicts), Action::resolveConflicts);
        rows << button(QStringLiteral("Check for Updates\u2026"), Action::checkForUpdates)
             << button(QStringLiteral("Settings\u2026"), Action::settings, true,
                       QKeySequence(Qt::CTRL | Qt::Key_Comma));
    }
    rows << separator() << button(QStringLiteral("Quit Ovra"), Action::quit, true, QKeySequence(Qt::CTRL | Qt::Key_Q));
    return rows;
}

} // namespace CorvaneDrive::MenuContent
