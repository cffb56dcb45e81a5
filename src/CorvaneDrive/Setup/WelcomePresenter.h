#pragma once

#include <QString>

namespace CorvaneDrive {

// The first setup screen: a new drive in empty storage, or this computer joins a drive that
// exists. Its buttons call SetupState::chooseExistingDrive() and chooseNewDrive(); Return
// always takes the new-drive road.
struct WelcomePresenter {
    static inline const QString title = QStringLiteral("Welcome to Ovra");
    static inline const QString tagline = QStringLiteral("Your files. Your space.");
    static inline const QString body = QStringLiteral(
        "Ovra keeps your files in your own cloud storage and shows them in your file manager like a drive. They "
        "take almost no space on your computer and open when you need them.");
    static inline const QString existingDriveTitle = QStringLiteral("I already have a drive");
    static inline const QString newDriveTitle = QStringLiteral("Set up a new drive");
};

} // namespace CorvaneDrive
