#pragma once

#include <QString>

#include <optional>

namespace CorvaneDrive {

// The last setup screen: the drive is in the file manager and the app in the system tray, or in
// the home window where the desktop has no tray. "Open in File Manager" opens the mount folder
// when the model has one, then closes the window like "Close".
class DonePresenter {
public:
    static inline const QString title = QStringLiteral("Your drive is ready");
    static inline const QString closeTitle = QStringLiteral("Close");
    static inline const QString openTitle = QStringLiteral("Open in File Manager");
    static inline const QString loginPhrase = QStringLiteral(" and opens by itself when you log in");

    // “<name>” is now in your file manager… The model's drive name when it has settings, else the
    // assistant's; the login phrase only when start at login was turned on. Without a tray the
    // home window stands in for the menu, so the text promises no tray.
    static QString text(const std::optional<QString> &settingsDriveName, const QString &setupDriveName,
                        const std::optional<QString> &loginNote, bool trayShown = true);
};

} // namespace CorvaneDrive
