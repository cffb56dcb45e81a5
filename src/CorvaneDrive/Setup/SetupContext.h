#pragma once

#include "CorvaneDrive/Setup/TurnOnDrivePresenter.h"
#include "DriveCore/keys/SetupState.h"
#include "DriveCore/support/Tasks.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace CorvaneDrive {

// What the setup window and its screens need from the app model and the desktop. The app model
// supplies the first three; the rest have the desktop's own defaults, which tests replace.
struct SetupContext {
    // A new assistant wired to the model (AppModel::makeSetupState).
    std::function<std::unique_ptr<DriveCore::SetupState>()> makeSetupState;
    // The drive name of the model's settings, when it has any.
    std::function<std::optional<QString>()> settingsDriveName = [] { return std::optional<QString>(); };
    // The drive's mount folder, when the model has settings.
    std::function<std::optional<QString>()> mountPath = [] { return std::optional<QString>(); };
    // Whether the tray icon is in place (else the home window stands in for its menu).
    std::function<bool()> trayShown = [] { return true; };

    // Hands an address to the desktop (browser, file manager); the outcome is not looked at.
    std::function<void(const QUrl &)> openUrl = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    // The page that tells how to make the file-system layer usable.
    QUrl fileSystemHelp = QUrl::fromLocalFile(TurnOnDrivePresenter::installedHelpPage());
    // The turn-on screen's wait between checks.
    TurnOnDrivePresenter::Sleep sleep = [](std::chrono::milliseconds duration, DriveCore::CancelToken token) {
        return DriveCore::sleep(duration, token);
    };
};

} // namespace CorvaneDrive
