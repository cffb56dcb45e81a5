#include "CorvaneDrive/Setup/PassphrasePresenter.h"

namespace CorvaneDrive {

QString PassphrasePresenter::newIntro()
{
    return QStringLiteral("Your passphrase locks your files. Nobody can open them without it — not even Corvane, who "
                          "make Ovra. Use at least %1 characters, or let the app make one.")
        .arg(DriveCore::SetupState::minPassphraseLength);
}

bool PassphrasePresenter::showsCopy(const DriveCore::SetupState &state, bool showPassphrase)
{
    return showPassphrase && !state.passphrase().isEmpty();
}

} // namespace CorvaneDrive
