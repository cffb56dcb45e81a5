#include "support/FinishedSetup.h"

#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/UserDefaults.h"
#include "support/TestSupport.h"

namespace TestSupport {

QString storeFinishedSetup(const QString &configFile, const DriveCore::DriveSettings &settings,
                           std::optional<DriveCore::DriveEngine> engine, const DriveCore::StorageSecrets &secrets,
                           const QString &passphrase)
{
    DriveCore::UserDefaults defaults(configFile);
    settings.save(defaults);
    if (engine)
        engine->save(defaults);
    const QString service = DriveCore::DriveProfile::keychainService(std::nullopt);
    await(DriveCore::KeychainSecretStore(service).save(secrets, passphrase));
    return service;
}

void storeNewDrive(const DriveCore::DriveSettings &settings, const DriveCore::StorageSecrets &secrets,
                   const QString &passphrase)
{
    await(DriveCore::KeychainSecretStore(DriveCore::DriveProfile::keychainService(std::nullopt))
              .save(secrets, passphrase));
    const auto defaults = DriveCore::UserDefaults::standard();
    settings.save(*defaults);
    DriveCore::DriveEngine(DriveCore::DriveEngine::nfs).save(*defaults);
    DriveCore::OrganisePending::save(DriveCore::OrganiseKind::newDrive, *defaults);
}

} // namespace TestSupport
