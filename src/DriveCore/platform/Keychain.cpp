#include "DriveCore/platform/Keychain.h"

#include "DriveCore/support/Log.h"

// GLib names struct members "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <QHash>

#include <mutex>

namespace DriveCore {

std::optional<QString> Keychain::message(Status status)
{
    static const QHash<Status, QString> messages{
        {success, QStringLiteral("No error.")},
        {userCanceled, QStringLiteral("User canceled the operation.")},
        {internalComponent, QStringLiteral("An internal component failed.")},
        {notAvailable, QStringLiteral("No keyring is available. You may need to restart your computer.")},
        {duplicateItem, QStringLiteral("The specified item already exists in your keyring.")},
        {itemNotFound, QStringLiteral("The specified item could not be found in your keyring.")},
        {interactionNotAllowed, QStringLiteral("User interaction is not allowed.")},
    };
    const auto found = messages.constFind(status);
    if (found == messages.constEnd())
        return std::nullopt;
    return *found;
}

namespace {

const Log log("keychain");

// Items carry the schema's name besides service and account, so another program's items with
// the same two attributes are never touched.
const SecretSchema *schema()
{
    static const SecretSchema value = {
        "com.corvane.drive.GenericPassword",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SecretSchemaAttributeType(0)},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &value;
}

struct GErrorFree {
    void operator()(GError *error) const { g_error_free(error); }
};
struct GHashTableUnref {
    void operator()(GHashTable *table) const { g_hash_table_unref(table); }
};
struct SecretValueUnref {
    void operator()(SecretValue *value) const { secret_value_unref(value); }
};
struct ItemListFree {
    void operator()(GList *items) const { g_list_free_full(items, g_object_unref); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using AttributesPtr = std::unique_ptr<GHashTable, GHashTableUnref>;
using ValuePtr = std::unique_ptr<SecretValue, SecretValueUnref>;
using ItemsPtr = std::unique_ptr<GList, ItemListFree>;

// Keychain codes for libsecret's failures. libsecret's own message is logged, as the code
// alone hides what went wrong.
Keychain::Status statusFor(GError *raw)
{
    const ErrorPtr error(raw);
    log.error("Secret Service call failed: %{public}s", error->message);
    if (error->domain == SECRET_ERROR) {
        switch (error->code) {
        case SECRET_ERROR_NO_SUCH_OBJECT:
            return Keychain::itemNotFound;
        case SECRET_ERROR_ALREADY_EXISTS:
            return Keychain::duplicateItem;
        case SECRET_ERROR_IS_LOCKED:
            return Keychain::interactionNotAllowed;
        default:
            return Keychain::internalComponent;
        }
    }
    if (g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED))
        return Keychain::userCanceled;
    // No session bus, no Secret Service on it, or a service that does not answer.
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR)
        return Keychain::notAvailable;
    return Keychain::internalComponent;
}

AttributesPtr attributes(const QString &service, const QString &account)
{
    const QByteArray serviceText = service.toUtf8();
    const QByteArray accountText = account.toUtf8();
    return AttributesPtr(secret_attributes_build(schema(), "service", serviceText.constData(), "account",
                                                 accountText.constData(), nullptr));
}

ValuePtr secretValue(const QByteArray &data)
{
    return ValuePtr(secret_value_new(data.constData(), data.size(), "text/plain"));
}

class SecretServiceKeychain final : public Keychain {
public:
    Status copy(const QString &service, const QString &account, QByteArray &data) override
    {
        const std::lock_guard lock(m_mutex);
        ItemsPtr items;
        const auto flags = SecretSearchFlags(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS);
        if (const Status status = find(service, account, flags, items))
            return status;
        const ValuePtr value(secret_item_get_secret(SECRET_ITEM(items->data)));
        // Found but still locked: the keyring stayed shut.
        if (!value)
            return interactionNotAllowed;
        gsize length = 0;
        const gchar *bytes = secret_value_get(value.get(), &length);
        data = QByteArray(bytes, qsizetype(length));
        return success;
    }

    Status update(const QString &service, const QString &account, const QByteArray &data) override
    {
        const std::lock_guard lock(m_mutex);
        ItemsPtr items;
        const auto flags = SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK);
        if (const Status status = find(service, account, flags, items))
            return status;
        const ValuePtr value = secretValue(data);
        for (GList *item = items.get(); item; item = item->next) {
            GError *error = nullptr;
            if (!secret_item_set_secret_sync(SECRET_ITEM(item->data), value.get(), nullptr, &error))
                return statusFor(error);
        }
        return success;
    }

    Status add(const QString &service, const QString &account, const QByteArray &data) override
    {
        const std::lock_guard lock(m_mutex);
        ItemsPtr items;
        if (const Status status = find(service, account, SECRET_SEARCH_NONE, items); status != itemNotFound)
            return status == success ? duplicateItem : status;
        const QByteArray label = QStringLiteral("%1 (%2)").arg(service, account).toUtf8();
        GError *error = nullptr;
        // The default collection is made when the keyring has none yet.
        if (!secret_password_storev_binary_sync(schema(), attributes(service, account).get(), SECRET_COLLECTION_DEFAULT,
                                                label.constData(), secretValue(data).get(), nullptr, &error))
            return statusFor(error);
        return success;
    }

    Status remove(const QString &service, const QString &account) override
    {
        const std::lock_guard lock(m_mutex);
        GError *error = nullptr;
        const bool removed = secret_password_clearv_sync(schema(), attributes(service, account).get(), nullptr, &error);
        if (error)
            return statusFor(error);
        return removed ? success : itemNotFound;
    }

private:
    // The matching items, or itemNotFound.
    Status find(const QString &service, const QString &account, SecretSearchFlags flags, ItemsPtr &items)
    {
        GError *error = nullptr;
        SecretService *secretService = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
        if (!secretService)
            return statusFor(error);
        GList *found = secret_service_search_sync(secretService, schema(), attributes(service, account).get(), flags,
                                                  nullptr, &error);
        g_object_unref(secretService);
        if (error)
            return statusFor(error);
        items.reset(found);
        return items ? success : itemNotFound;
    }

    // One call at a time: each sync call runs its own main loop on the calling thread.
    std::mutex m_mutex;
};

} // namespace

std::shared_ptr<Keychain> Keychain::live()
{
    static const auto instance = std::make_shared<SecretServiceKeychain>();
    return instance;
}

} // namespace DriveCore
