#pragma once

#include <QString>

#include <optional>

namespace CorvaneDrive {

// The last setup screen: the drive is in the file manager and the app in the menu bar. "Open in
// Finder" opens the mount folder when the model has one, then closes the window like "Close".
class DonePresenter {
public:
    static inline const QString title = QStringLiteral("Your drive is ready");
    static inline const QString closeTitle = QStringLiteral("Close");
    static inline const QString openTitle = QStringLiteral("Open in Finder");
    static inline const QString loginPhrase = QStringLiteral(" and opens by itself when you log in");

    // “<name>” is now in Finder… The model's drive name when it has settings, else the
    // assistant's; the login phrase only when start at login was turned on.
    static QString text(const std::optional<QString> &settingsDriveName, const QString &setupDriveName,
                        const std::optional<QString> &loginNote);
};

} // namespace CorvaneDrive
