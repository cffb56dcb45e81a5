#pragma once

#include "DriveCore/platform/RouteTable.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace DriveCore {

// Tells the app model whether the network can be used. Main-thread object.
class NetworkMonitoring {
public:
    virtual ~NetworkMonitoring() = default;

    // Starts watching (a running watch is dropped first). `onChange` runs on the main thread,
    // from the event loop, for every report, also one that repeats the last state; the first
    // report states the condition at the start.
    virtual void start(std::function<void(bool online)> onChange) = 0;
    // Stops watching; no report arrives afterwards. Harmless when not started.
    virtual void stop() = 0;
};

// The live network monitor: NetworkManager's state over the system bus when NetworkManager
// runs there, else a netlink watch of the routing table. Online means a usable default route:
// for NetworkManager the states "connected (site)" and "connected (global)".
class PathMonitor final : public NetworkMonitoring {
public:
    static constexpr const char *nmService = "org.freedesktop.NetworkManager";
    static constexpr const char *nmPath = "/org/freedesktop/NetworkManager";
    static constexpr const char *nmInterface = "org.freedesktop.NetworkManager";
    static constexpr unsigned nmConnectedSite = 60;

    // Where the watch looks. Tests point these at their own bus and routes.
    struct Setup {
        // None: the system bus.
        std::optional<QDBusConnection> bus;
        // Read again at the start and whenever the kernel announces a change of routes or links.
        std::function<std::vector<Route>()> routes = RouteTable::read;
    };

    PathMonitor();
    explicit PathMonitor(Setup setup);
    ~PathMonitor() override;

    void start(std::function<void(bool online)> onChange) override;
    void stop() override;

    // Which watch runs; none when stopped.
    enum class Source { networkManager, netlink };
    std::optional<Source> source() const;

    // Whether NetworkManager's state number means a usable network.
    static bool isOnline(unsigned nmState) { return nmState >= nmConnectedSite; }
    // Whether the routes hold a usable default route: a unicast one, not on the loopback device
    // and not on a device that lost its carrier (the kernel keeps such a route, marked).
    static bool hasDefaultRoute(const std::vector<Route> &routes);

private:
    class Watch;
    class NetworkManagerWatch;
    class NetlinkWatch;

    Setup m_setup;
    std::unique_ptr<Watch> m_monitor;
};

} // namespace DriveCore
