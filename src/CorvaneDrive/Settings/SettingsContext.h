#pragma once

#include "CorvaneDrive/Settings/SettingsPresenter.h"
#include "DriveCore/platform/AppInfo.h"
#include "DriveCore/platform/HTTPSend.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QFileInfo>
#include <QList>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace CorvaneDrive {

// What the settings window needs besides the app model: the desktop's defaults, which tests
// and the shell may replace.
struct SettingsContext {
    // Hands an address to the desktop (browser, file manager); the outcome is not looked at.
    std::function<void(const QUrl &)> openUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    // Shows items of the drive in the file manager, selected. The default opens the folder of
    // the first; the shell passes the file manager's ShowItems.
    std::function<void(const QList<QUrl> &)> reveal = [](const QList<QUrl> &items) {
        if (!items.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(items.first().toLocalFile()).path()));
    };
    // The help page on the file-manager plug-in, which "Turn on Keep on This Computer in Files…" opens.
    QUrl addOnHelp = QUrl::fromLocalFile(SettingsPresenter::installedHelpPage(SettingsPresenter::addOnHelpPageName));
    // The HTTP sender of the Cloudflare requests.
    DriveCore::HTTPSend send = [](DriveCore::HTTPRequest request, DriveCore::CancelToken token) {
        return DriveCore::liveHTTPSend(std::move(request), token);
    };
    // The application's information list, for the version row.
    std::optional<QVariantMap> info = DriveCore::AppInfo::dictionary();
    // Now, for the month of the Cloudflare figures.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
};

} // namespace CorvaneDrive
