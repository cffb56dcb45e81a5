#pragma once

#include "DriveCore/engine/StorageSecrets.h"
#include "DriveCore/platform/Keychain.h"

#include <QCoroTask>
#include <QJsonObject>
#include <QString>

#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

namespace DriveCore {

// A keychain call failed with `status`.
class KeychainError : public std::runtime_error {
public:
    explicit KeychainError(Keychain::Status status);

    // "Keyring error <status>: <message>", the message "unknown error" for codes we do not know.
    QString description() const;

    bool operator==(const KeychainError &other) const { return status == other.status; }

    Keychain::Status status;
};

// Where the drive's storage keys and passphrase are kept. Operations run off the main thread
// and are awaited; each throws on failure.
class SecretStoring {
public:
    virtual ~SecretStoring() = default;

    virtual QCoro::Task<> save(StorageSecrets secrets, QString passphrase) = 0;
    // The keys and the passphrase, or none when nothing is stored.
    virtual QCoro::Task<std::optional<std::pair<StorageSecrets, QString>>> load() = 0;
    // Removes everything the store keeps.
    virtual QCoro::Task<> deleteAll() = 0;
    // Sets, or with none removes, the kept Cloudflare API token.
    virtual QCoro::Task<> saveCloudflareKey(std::optional<QString> key) = 0;
    virtual QCoro::Task<std::optional<QString>> loadCloudflareKey() = 0;
};

// The store on the keychain: one item (account "drive") under the profile's service, holding
// the keys, the passphrase and the optional Cloudflare token as JSON. It also reads, moves over
// and removes the older layout of one item per value.
class KeychainSecretStore final : public SecretStoring {
public:
    // The "drive" item holds something that is not a readable record.
    class UnreadableRecord : public std::runtime_error {
    public:
        UnreadableRecord() : std::runtime_error("The keychain item holds no readable drive record.") {}
    };

    explicit KeychainSecretStore(QString service, std::shared_ptr<Keychain> keychain = Keychain::live());

    const QString &service() const { return m_service; }

    QCoro::Task<> save(StorageSecrets secrets, QString passphrase) override;
    QCoro::Task<std::optional<std::pair<StorageSecrets, QString>>> load() override;
    QCoro::Task<> deleteAll() override;
    QCoro::Task<> saveCloudflareKey(std::optional<QString> key) override;
    QCoro::Task<std::optional<QString>> loadCloudflareKey() override;

private:
    QString m_service;
    std::shared_ptr<Keychain> m_keychain;
};

} // namespace DriveCore
