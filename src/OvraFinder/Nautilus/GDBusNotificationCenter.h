#pragma once

#include "OvraFinder/NotificationCenter.h"

#include <gio/gio.h>

#include <vector>

namespace OvraFinder {

// The Keep bridge's notifications as session-bus signals (KeepShared/KeepBus.h), through GDBus.
// Handlers run on the main context that was the thread's default when they were added.
class GDBusNotificationCenter final : public NotificationCenter {
public:
    // Holds a reference to the connection.
    explicit GDBusNotificationCenter(GDBusConnection *connection);
    GDBusNotificationCenter(const GDBusNotificationCenter &) = delete;
    GDBusNotificationCenter &operator=(const GDBusNotificationCenter &) = delete;
    // Ends every subscription: no handler runs afterwards.
    ~GDBusNotificationCenter() override;

    void addObserver(std::string_view name, Handler handler) override;
    // A broadcast signal; a failure to send is logged, as nobody waits for an answer.
    void post(std::string_view name, std::optional<std::string_view> object) override;

private:
    GDBusConnection *m_connection;
    std::vector<guint> m_subscriptions;
};

} // namespace OvraFinder
