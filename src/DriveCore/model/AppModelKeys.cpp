// The key store and first-run setup as the model fronts them: replacing the storage keys (typed,
// or derived from a Cloudflare API token), keeping a token for the share windows, the Recovery
// Kit code, and the setup state with the closures it needs.
#include "DriveCore/model/AppModel.h"

#include "DriveCore/keys/CloudflareKey.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/keys/SetupState.h"
#include "DriveCore/model/AppModelIPhone.h"
#include "DriveCore/platform/SystemNames.h"
#include "DriveCore/platform/UserDefaults.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Threads.h"

namespace DriveCore {

QCoro::Task<> AppModel::replaceStorageKeys(QString cloudflareKey, QString endpoint, QString bucket, HTTPSend send)
{
    const QString token = cloudflareKey.trimmed();
    StorageSecrets derived;
    try {
        derived = co_await guarded(CloudflareKey::storageSecrets(
            token, endpoint, bucket, std::move(send), QUrl(QLatin1String(CloudflareKey::apiBase)), lifetime()));
    } catch (const CloudflareKey::Failure &failure) {
        throw AppModelError(failure.value == CloudflareKey::Failure::notAValidKey ? SetupState::unknownCloudflareKeyText
                                                                                  : SetupState::notCloudflareText);
    }
    co_await replaceStorageKeys(derived, token);
}

QCoro::Task<> AppModel::replaceStorageKeys(StorageSecrets secrets, std::optional<QString> cloudflareKey)
{
    if (!driveChangeAllowed())
        throw AppModelError(driveChangeBusyText);
    const DriveChange change(*this);
    // Only the passphrase carries over: it must open the drive in the new storage.
    const QString passphrase = (co_await storedKeys()).second;
    const std::shared_ptr<SecretStoring> store = m_secrets;
    const auto verifyStorage = m_hooks.verifyStorage;
    co_await guarded(verifyStorage(secrets, passphrase, lifetime()));
    co_await guarded(store->save(secrets, passphrase));
    if (cloudflareKey)
        co_await guarded(store->saveCloudflareKey(*cloudflareKey));
    co_await guarded(m_iPhone->refreshIPhoneSync());
    co_await restartDrive();
}

QCoro::Task<> AppModel::keepCloudflareKey(QString token)
{
    const std::shared_ptr<SecretStoring> store = m_secrets;
    co_await guarded(store->saveCloudflareKey(token));
}

QCoro::Task<QString> AppModel::showRecoveryKit(QString passphrase)
{
    if (!m_settings)
        throw AppModelError(keysUnreadableText);
    const std::optional<std::pair<StorageSecrets, QString>> stored = co_await storedKeys();
    if (!m_settings)
        throw AppModelError(keysUnreadableText);
    if (passphrase != stored->second)
        throw AppModelError(recoveryKitMismatchText);
    const RecoveryKitPayload payload = RecoveryKitPayload::make(stored->first, m_settings->driveName);
    // The key derivation takes a noticeable moment.
    co_return co_await guarded(runInPool([payload, passphrase] { return RecoveryKit::encode(payload, passphrase); }));
}

std::unique_ptr<SetupState> AppModel::makeSetupState()
{
    QPointer<AppModel> self(this);
    const std::shared_ptr<UserDefaults> defaults = m_defaults;
    std::shared_ptr<SetupConnecting> connection = m_setupConnection;
    if (!connection) {
        // Every command fails rather than running some other program.
        connection = std::make_shared<DriveConnection>(QStringLiteral("/nonexistent/rclone"));
    }
    SetupDeps deps{
        .connection = std::move(connection),
        .secrets = m_secrets,
        .saveSettings = [defaults](const DriveSettings &settings) { settings.save(*defaults); },
        .startDrive = [self]() -> QCoro::Task<> {
            if (self)
                co_await self->completeSetup();
        },
        .enableStartAtLogin = [self] { return self ? self->enableStartAtLoginAfterSetup() : false; },
        .setOrganisePending = [defaults](std::optional<OrganiseKind> kind) { OrganisePending::save(kind, *defaults); },
        .freeDiskBytes = m_hooks.freeDiskBytes,
        .fullUserName = SystemNames::fullUserName(),
        .deviceName = SystemNames::computerName().value_or(QStringLiteral("Mac")),
        .existingSettings = DriveSettings::load(*m_defaults),
    };
    if (DriveEngine::load(*m_defaults) == DriveEngine::fskit) {
        // A file-system layer that does not answer within 5 s counts as off.
        deps.driveSwitchOn = [hooks = m_hooks] { return extensionAnswer(hooks, setupExtensionLimit); };
    }
    return std::make_unique<SetupState>(std::move(deps));
}

QCoro::Task<> AppModel::completeSetup()
{
    co_await launch();
    switch (m_phase.kind) {
    case Phase::starting:
    case Phase::running:
    case Phase::offline:
        co_return;
    case Phase::needsSetup:
        throw AppModelError(settingsNotSavedText);
    case Phase::problem:
        // The drive is set up; turning the layer on is the one step left to the user.
        if (m_phase.text == extensionOffText)
            co_return;
        throw AppModelError(m_phase.text);
    }
}

} // namespace DriveCore
