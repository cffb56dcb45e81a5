#include "CorvaneDrive/Setup/DonePresenter.h"

namespace CorvaneDrive {

QString DonePresenter::text(const std::optional<QString> &settingsDriveName, const QString &setupDriveName,
                            const std::optional<QString> &loginNote, bool trayShown)
{
    // One arg() call for both, so a "%2" inside the name stays as typed.
    const QString text = trayShown
        ? QStringLiteral("“%1” is now in your file manager. Ovra lives in the system tray%2.")
        : QStringLiteral("“%1” is now in your file manager. Ovra keeps its menu in its own window%2.");
    return text.arg(settingsDriveName.value_or(setupDriveName), loginNote ? QString() : loginPhrase);
}

} // namespace CorvaneDrive
