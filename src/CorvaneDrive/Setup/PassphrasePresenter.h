#pragma once

#include "DriveCore/keys/SetupState.h"

#include <QString>

namespace CorvaneDrive {

// The two passphrase screens: create one for a new drive, or type the one that opens an
// existing drive. The checks themselves are the assistant's.
class PassphrasePresenter {
public:
    static inline const QString newTitle = QStringLiteral("Create your passphrase");
    static inline const QString passphrasePlaceholder = QStringLiteral("Passphrase");
    static inline const QString confirmPlaceholder = QStringLiteral("Type it again");
    static inline const QString generateTitle = QStringLiteral("Generate One for Me");
    static inline const QString showTitle = QStringLiteral("Show passphrase");
    static inline const QString copyTitle = QStringLiteral("Copy");
    static inline const QString writeItDownText =
        QStringLiteral("Write it down or save it in your password manager now.");

    static inline const QString existingTitle = QStringLiteral("Enter your passphrase");
    static inline const QString existingIntro = QStringLiteral("Type the passphrase that opens your drive.");

    // The new-passphrase screen's explanation, with the shortest length allowed.
    static QString newIntro();
    // "Copy" is offered only while the passphrase is shown and there is one to copy; the
    // second field does not count.
    static bool showsCopy(const DriveCore::SetupState &state, bool showPassphrase);
};

} // namespace CorvaneDrive
