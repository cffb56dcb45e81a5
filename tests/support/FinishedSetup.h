#pragma once

#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/StorageSecrets.h"

#include <QString>

#include <optional>

namespace TestSupport {

// Stores what a finished setup leaves for the application's next start: the drive's settings
// and engine in the settings file `configFile`, the storage keys and passphrase in the keyring
// (the default profile's service, which is returned). No engine given leaves the default: the
// file-system layer.
QString storeFinishedSetup(const QString &configFile, const DriveCore::DriveSettings &settings,
                           std::optional<DriveCore::DriveEngine> engine, const DriveCore::StorageSecrets &secrets,
                           const QString &passphrase);

// Stores, for this process, what setup leaves for a new drive: the keys and passphrase in the
// keyring (the default profile's service), the drive's settings and the engine in the user
// defaults, and the organising of the new drive still owed.
void storeNewDrive(const DriveCore::DriveSettings &settings, const DriveCore::StorageSecrets &secrets,
                   const QString &passphrase);

} // namespace TestSupport
