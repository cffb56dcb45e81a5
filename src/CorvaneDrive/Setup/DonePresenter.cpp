#include "CorvaneDrive/Setup/DonePresenter.h"

namespace CorvaneDrive {

QString DonePresenter::text(const std::optional<QString> &settingsDriveName, const QString &setupDriveName,
                            const std::optional<QString> &loginNote)
{
    // One arg() call for both, so a "%2" inside the name stays as typed.
    return QStringLiteral("“%1” is now in Finder. Ovra lives in the menu bar%2.")
        .arg(settingsDriveName.value_or(setupDriveName), loginNote ? QString() : loginPhrase);
}

} // namespace CorvaneDrive
