#include "DriveCore/model/AppModelIPhone.h"

#include "DriveCore/keys/PhonePairing.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/UserDefaults.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Threads.h"
#include "DriveCore/support/UserError.h"

#include <QPointer>

namespace DriveCore {

namespace {

const Log log("iphone-sync");

} // namespace

AppModelIPhone::AppModelIPhone(Deps deps, QObject *parent)
    : QObject(parent), m_deps(std::move(deps)), m_on(m_deps.defaults->boolean(defaultsKey).value_or(false))
{
}

QCoro::Task<AppModelIPhone::Stored> AppModelIPhone::stored()
{
    const std::optional<DriveSettings> settings = m_deps.settings();
    if (!settings)
        throw AppModelError(keysUnreadableText);
    const std::shared_ptr<SecretStoring> secrets = m_deps.secrets;
    const auto keys = co_await secrets->load();
    if (!keys)
        throw AppModelError(keysUnreadableText);
    co_return Stored{*settings, keys->first, keys->second};
}

PhoneSyncItem AppModelIPhone::item(const Stored &stored) const
{
    return PhoneSyncItem{
        .v = 1,
        .endpoint = stored.secrets.endpoint,
        .bucket = stored.secrets.bucket,
        .accessKeyID = stored.secrets.accessKeyID,
        .secretAccessKey = stored.secrets.secretAccessKey,
        .passphrase = stored.passphrase,
        .driveName = stored.settings.driveName,
        .macName = stored.settings.deviceName,
        .savedAt = m_deps.now(),
    };
}

void AppModelIPhone::store(bool on)
{
    m_deps.defaults->set(defaultsKey, on);
    if (std::exchange(m_on, on) != on)
        emit iPhoneSyncOnChanged(on);
}

QCoro::Task<QString> AppModelIPhone::iPhonePairingCode(QString passphrase)
{
    const std::shared_ptr<SecretStoring> secrets = m_deps.secrets;
    const Stored keys = co_await stored();
    if (passphrase != keys.passphrase)
        throw AppModelError(passphraseMismatchText);
    std::optional<QString> token;
    try {
        token = co_await secrets->loadCloudflareKey();
    } catch (const std::exception &) {
        // The code is still useful without the token.
        log.info("The Cloudflare token could not be read for the pairing code: %{public}s",
                 errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
    }
    co_return co_await runInPool([keys, passphrase, token] {
        return PhonePairing::code(keys.secrets, keys.settings.driveName, passphrase, token);
    });
}

QCoro::Task<> AppModelIPhone::setIPhoneSync(bool on, std::optional<QString> passphrase)
{
    QPointer<AppModelIPhone> self(this);
    const std::shared_ptr<PhoneSyncStoring> phoneSync = m_deps.phoneSync;
    if (on) {
        if (!phoneSync->isAvailable())
            throw AppModelError(PhoneSyncStoring::notAvailableText);
        const Stored keys = co_await stored();
        if (!self)
            co_return;
        if (!passphrase || *passphrase != keys.passphrase)
            throw AppModelError(passphraseMismatchText);
        co_await phoneSync->write(item(keys));
    } else {
        co_await phoneSync->remove();
    }
    if (self)
        self->store(on);
}

QCoro::Task<> AppModelIPhone::refreshIPhoneSync()
{
    QPointer<AppModelIPhone> self(this);
    if (!m_on)
        co_return;
    std::optional<Stored> keys;
    try {
        keys = co_await stored();
    } catch (const std::exception &) {
        co_return;
    }
    if (!self)
        co_return;
    const std::shared_ptr<PhoneSyncStoring> phoneSync = m_deps.phoneSync;
    try {
        co_await phoneSync->write(item(*keys));
    } catch (const std::exception &) {
        log.error("Couldn't update the iPhone copy: %{public}s",
                  errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
    }
}

QCoro::Task<> AppModelIPhone::removeIPhoneSyncForSignOut()
{
    QPointer<AppModelIPhone> self(this);
    const std::shared_ptr<PhoneSyncStoring> phoneSync = m_deps.phoneSync;
    try {
        co_await phoneSync->remove();
    } catch (const std::exception &) {
        // Signing out goes on; the item is the phone's to forget.
        log.info("Removing the iPhone copy failed: %{public}s",
                 errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
    }
    if (!self)
        co_return;
    m_deps.defaults->remove(defaultsKey);
    if (std::exchange(m_on, false))
        emit iPhoneSyncOnChanged(false);
}

} // namespace DriveCore
