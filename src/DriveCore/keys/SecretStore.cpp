#include "DriveCore/keys/SecretStore.h"

#include "DriveCore/support/JsonReader.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Threads.h"
#include "DriveCore/support/UserError.h"

#include <QStringDecoder>
#include <QThreadPool>

#include <array>
#include <type_traits>

namespace DriveCore {

namespace {

QString keychainErrorText(Keychain::Status status)
{
    return QStringLiteral("Keyring error %1: %2")
        .arg(status)
        .arg(Keychain::message(status).value_or(QStringLiteral("unknown error")));
}

} // namespace

KeychainError::KeychainError(Keychain::Status status)
    : std::runtime_error(keychainErrorText(status).toStdString()), status(status)
{
}

QString KeychainError::description() const
{
    return keychainErrorText(status);
}

namespace {

const QString driveAccount = QStringLiteral("drive");

// The older layout: one item per value, read and deleted in this order.
const std::array<QString, 5> legacyAccounts{
    QStringLiteral("endpoint"),        QStringLiteral("bucket"),     QStringLiteral("accessKeyID"),
    QStringLiteral("secretAccessKey"), QStringLiteral("passphrase"),
};

// The record inside the "drive" item.
struct Stored {
    StorageSecrets secrets;
    QString passphrase;
    std::optional<QString> cloudflareKey;
};

void appendJSONString(QByteArray &out, const QString &text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '/':
            out += "\\/";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (uchar(c) < 0x20)
                out += "\\u00" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    out += '"';
}

// Compact, keys in this fixed order and slashes escaped, as the record has always been written.
QByteArray encode(const Stored &record)
{
    QByteArray out = "{";
    const auto field = [&out](const char *key, const QString &value) {
        if (out.size() > 1)
            out += ',';
        out += '"';
        out += key;
        out += "\":";
        appendJSONString(out, value);
    };
    field("endpoint", record.secrets.endpoint);
    field("bucket", record.secrets.bucket);
    field("accessKeyID", record.secrets.accessKeyID);
    field("secretAccessKey", record.secrets.secretAccessKey);
    field("passphrase", record.passphrase);
    if (record.cloudflareKey)
        field("cloudflareKey", *record.cloudflareKey);
    out += '}';
    return out;
}

std::optional<Stored> decode(const QByteArray &data)
{
    try {
        const JsonReader reader = JsonReader::parse(data, u"The keychain record");
        const std::optional<StorageSecrets> secrets = StorageSecrets::fromJson(reader.object());
        if (!secrets)
            return std::nullopt;
        return Stored{*secrets, reader.value<QString>(u"passphrase"), reader.optional<QString>(u"cloudflareKey")};
    } catch (const JsonDecodingError &) {
        return std::nullopt;
    }
}

std::optional<QString> utf8Text(const QByteArray &data)
{
    // A leading byte-order mark is part of the stored value, not a marker to drop.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder(data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// The store's operations as blocking keychain sequences, run on the thread pool.
class Items {
public:
    Items(QString service, std::shared_ptr<Keychain> keychain)
        : m_service(std::move(service)), m_keychain(std::move(keychain))
    {
    }

    void save(const StorageSecrets &secrets, const QString &passphrase) const
    {
        std::optional<Stored> old;
        if (const std::optional<QByteArray> data = get(driveAccount))
            old = decode(*data); // an unreadable record is overwritten
        Stored record{secrets, passphrase, std::nullopt};
        // A token belongs to one bucket: it survives new keys or a new passphrase only.
        if (old && old->secrets.endpoint == secrets.endpoint && old->secrets.bucket == secrets.bucket)
            record.cloudflareKey = old->cloudflareKey;
        set(driveAccount, encode(record));
    }

    std::optional<std::pair<StorageSecrets, QString>> load() const
    {
        if (const std::optional<Stored> record = stored())
            return std::pair{record->secrets, record->passphrase};
        const auto legacy = loadLegacy();
        if (!legacy)
            return std::nullopt;
        save(legacy->first, legacy->second);
        // Drop the old items only once the new one reads back with the same secrets.
        const std::optional<QByteArray> data = get(driveAccount);
        const std::optional<Stored> written = data ? decode(*data) : std::nullopt;
        if (written && written->passphrase == legacy->second
            && written->secrets.secretAccessKey == legacy->first.secretAccessKey) {
            try {
                deleteLegacy();
            } catch (const KeychainError &error) {
                // Left in place; the next load tries again.
                Log("keychain").info("Removing the older keychain items failed: %{public}s", error.description());
            }
        }
        return legacy;
    }

    void deleteAll() const
    {
        remove(driveAccount);
        deleteLegacy();
    }

    void saveCloudflareKey(const std::optional<QString> &key) const
    {
        std::optional<Stored> record = stored();
        if (!record)
            throw KeychainError(Keychain::itemNotFound); // never a token without keys
        record->cloudflareKey = key;
        set(driveAccount, encode(*record));
    }

    std::optional<QString> loadCloudflareKey() const
    {
        const std::optional<Stored> record = stored();
        return record ? record->cloudflareKey : std::nullopt;
    }

private:
    std::optional<QByteArray> get(const QString &account) const
    {
        QByteArray data;
        const Keychain::Status status = m_keychain->copy(m_service, account, data);
        if (status == Keychain::itemNotFound)
            return std::nullopt;
        if (status != Keychain::success)
            throw KeychainError(status);
        return data;
    }

    // Updates first, so an existing item keeps the attributes it was made with.
    void set(const QString &account, const QByteArray &data) const
    {
        Keychain::Status status = m_keychain->update(m_service, account, data);
        if (status == Keychain::itemNotFound)
            status = m_keychain->add(m_service, account, data);
        if (status != Keychain::success)
            throw KeychainError(status);
    }

    void remove(const QString &account) const
    {
        const Keychain::Status status = m_keychain->remove(m_service, account);
        if (status != Keychain::success && status != Keychain::itemNotFound)
            throw KeychainError(status);
    }

    std::optional<Stored> stored() const
    {
        const std::optional<QByteArray> data = get(driveAccount);
        if (!data)
            return std::nullopt;
        std::optional<Stored> record = decode(*data);
        if (!record)
            throw KeychainSecretStore::UnreadableRecord();
        return record;
    }

    std::optional<std::pair<StorageSecrets, QString>> loadLegacy() const
    {
        std::array<QString, legacyAccounts.size()> values;
        for (size_t i = 0; i < legacyAccounts.size(); ++i) {
            const std::optional<QByteArray> data = get(legacyAccounts[i]);
            const std::optional<QString> text = data ? utf8Text(*data) : std::nullopt;
            if (!text)
                return std::nullopt;
            values[i] = *text;
        }
        return std::pair{StorageSecrets{values[0], values[1], values[2], values[3]}, values[4]};
    }

    void deleteLegacy() const
    {
        for (const QString &account : legacyAccounts)
            remove(account);
    }

    QString m_service;
    std::shared_ptr<Keychain> m_keychain;
};

// Keychain sequences run off the main thread one at a time, in the order they were started:
// a save and a token change must not interleave their reads and writes.
QThreadPool &keychainQueue()
{
    static QThreadPool *const queue = [] {
        auto *pool = new QThreadPool; // lives for the whole process
        pool->setMaxThreadCount(1);
        return pool;
    }();
    return *queue;
}

// Runs op(items) on the keychain queue.
template<typename Op>
auto runSequence(Items items, Op op) -> QCoro::Task<std::invoke_result_t<Op &, const Items &>>
{
    co_return co_await runInPool(keychainQueue(), [items = std::move(items), op = std::move(op)] { return op(items); });
}

} // namespace

KeychainSecretStore::KeychainSecretStore(QString service, std::shared_ptr<Keychain> keychain)
    : m_service(std::move(service)), m_keychain(std::move(keychain))
{
}

QCoro::Task<> KeychainSecretStore::save(StorageSecrets secrets, QString passphrase)
{
    auto op = [secrets = std::move(secrets), passphrase = std::move(passphrase)](const Items &items) {
        items.save(secrets, passphrase);
    };
    return runSequence(Items(m_service, m_keychain), std::move(op));
}

QCoro::Task<std::optional<std::pair<StorageSecrets, QString>>> KeychainSecretStore::load()
{
    return runSequence(Items(m_service, m_keychain), [](const Items &items) { return items.load(); });
}

QCoro::Task<> KeychainSecretStore::deleteAll()
{
    return runSequence(Items(m_service, m_keychain), [](const Items &items) { items.deleteAll(); });
}

QCoro::Task<> KeychainSecretStore::saveCloudflareKey(std::optional<QString> key)
{
    return runSequence(Items(m_service, m_keychain),
                       [key = std::move(key)](const Items &items) { items.saveCloudflareKey(key); });
}

QCoro::Task<std::optional<QString>> KeychainSecretStore::loadCloudflareKey()
{
    return runSequence(Items(m_service, m_keychain), [](const Items &items) { return items.loadCloudflareKey(); });
}

} // namespace DriveCore
