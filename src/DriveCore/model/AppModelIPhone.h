#pragma once

#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/keys/PhoneSync.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/support/Clock.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace DriveCore {

class UserDefaults;

// The app model's phone members: the pairing code and the sync switch with its synced copy.
// The model holds one and forwards to it. Main-thread object; its thrown texts are
// AppModelError messages.
class AppModelIPhone : public QObject {
    Q_OBJECT
public:
    static inline const QString defaultsKey = QStringLiteral("iPhoneSync");
    static inline const QString keysUnreadableText = QStringLiteral("Your keys couldn't be read from your keyring");
    static inline const QString passphraseMismatchText = QStringLiteral("That passphrase doesn't match this drive.");

    // What the members need of the model.
    struct Deps {
        std::function<std::optional<DriveSettings>()> settings; // none before setup
        std::shared_ptr<SecretStoring> secrets;
        std::shared_ptr<UserDefaults> defaults;
        Clock now;
        std::shared_ptr<PhoneSyncStoring> phoneSync;
    };

    // Reads the switch from the defaults (absent is off).
    explicit AppModelIPhone(Deps deps, QObject *parent = nullptr);

    bool iPhoneSyncOn() const { return m_on; }
    bool iPhoneSyncAvailable() const { return m_deps.phoneSync->isAvailable(); }

    // The pairing code of the stored keys, for the typed passphrase, which must be the stored
    // one. Sealed off the main thread.
    QCoro::Task<QString> iPhonePairingCode(QString passphrase);
    // Writes (on) or removes (off) the synced item, then stores the switch. A throw leaves the
    // switch as it was. Turning it on needs the stored passphrase.
    QCoro::Task<> setIPhoneSync(bool on, std::optional<QString> passphrase);
    // Writes the synced item again after the keys changed, when sync is on. Never throws: a
    // failed write is logged and the switch stays on.
    QCoro::Task<> refreshIPhoneSync();
    // Removes the synced item (errors ignored) and switches sync off. Never throws.
    QCoro::Task<> removeIPhoneSyncForSignOut();

signals:
    void iPhoneSyncOnChanged(bool on);

private:
    struct Stored {
        DriveSettings settings;
        StorageSecrets secrets;
        QString passphrase;
    };

    // The settings and the stored keys; throws AppModelError when either is missing, or what
    // the store threw.
    QCoro::Task<Stored> stored();
    PhoneSyncItem item(const Stored &stored) const;
    void store(bool on);

    Deps m_deps;
    bool m_on = false;
};

} // namespace DriveCore
