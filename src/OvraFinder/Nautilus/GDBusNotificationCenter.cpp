#include "OvraFinder/Nautilus/GDBusNotificationCenter.h"

#include "OvraFinder/Nautilus/FinderLog.h"

#include "KeepShared/KeepBus.h"

#include <string>

namespace OvraFinder {

namespace {

namespace KeepBus = KeepShared::KeepBus;

void deliver(GDBusConnection *, const gchar *, const gchar *, const gchar *, const gchar *, GVariant *parameters,
             gpointer data)
{
    const auto &handler = *static_cast<NotificationCenter::Handler *>(data);
    const std::string signature(KeepBus::payloadSignature);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE(signature.c_str()))) {
        handler(std::nullopt);
        return;
    }
    GVariant *text = g_variant_get_child_value(parameters, 0);
    gsize length = 0;
    const gchar *characters = g_variant_get_string(text, &length);
    handler(std::string_view(characters, length));
    g_variant_unref(text);
}

void release(gpointer data)
{
    delete static_cast<NotificationCenter::Handler *>(data);
}

} // namespace

GDBusNotificationCenter::GDBusNotificationCenter(GDBusConnection *connection)
    : m_connection(G_DBUS_CONNECTION(g_object_ref(connection)))
{
}

GDBusNotificationCenter::~GDBusNotificationCenter()
{
    for (guint subscription : m_subscriptions)
        g_dbus_connection_signal_unsubscribe(m_connection, subscription);
    g_object_unref(m_connection);
}

void GDBusNotificationCenter::addObserver(std::string_view name, Handler handler)
{
    const KeepBus::Signal signal = KeepBus::signal(name);
    const std::string interface(signal.interface);
    const std::string member(signal.member);
    const std::string path(KeepBus::objectPath);
    m_subscriptions.push_back(g_dbus_connection_signal_subscribe(
        m_connection, nullptr, interface.c_str(), member.c_str(), path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        deliver, new Handler(std::move(handler)), release));
}

void GDBusNotificationCenter::post(std::string_view name, std::optional<std::string_view> object)
{
    const KeepBus::Signal signal = KeepBus::signal(name);
    const std::string interface(signal.interface);
    const std::string member(signal.member);
    const std::string path(KeepBus::objectPath);
    GVariant *parameters = nullptr;
    if (object) {
        const std::string text(*object);
        if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
            FinderLog::warning("Not posted, the payload is not UTF-8: %s", std::string(name).c_str());
            return;
        }
        parameters = g_variant_new("(s)", text.c_str());
    }
    GError *error = nullptr;
    if (!g_dbus_connection_emit_signal(m_connection, nullptr, path.c_str(), interface.c_str(), member.c_str(),
                                       parameters, &error)) {
        FinderLog::warning("Could not post %s: %s", std::string(name).c_str(), error->message);
        g_error_free(error);
    }
}

} // namespace OvraFinder
