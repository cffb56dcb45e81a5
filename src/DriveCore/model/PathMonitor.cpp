#include "DriveCore/model/PathMonitor.h"

#include "DriveCore/support/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QList>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace DriveCore {

namespace {

const Log log("network");

} // namespace

// Receives NetworkManager's StateChanged signal for a watch (QtDBus delivers to slots only).
class NetworkStateSlot : public QObject {
    Q_OBJECT
public:
    explicit NetworkStateSlot(std::function<void(uint)> onState, QObject *parent)
        : QObject(parent), m_onState(std::move(onState))
    {
    }

public slots:
    void stateChanged(uint state) { m_onState(state); }

private:
    std::function<void(uint)> m_onState;
};

bool PathMonitor::hasDefaultRoute(const std::vector<Route> &routes)
{
    return std::any_of(routes.begin(), routes.end(), [](const Route &route) {
        return route.destinationLength == 0 && route.type == RTN_UNICAST && route.table != RT_TABLE_LOCAL
            && route.device != RouteTable::loopbackDevice && !route.linkDown;
    });
}

// One running watch; destroying it drops every report still on its way.
class PathMonitor::Watch : public QObject {
public:
    explicit Watch(std::function<void(bool)> onChange) : m_onChange(std::move(onChange)) {}
    virtual Source source() const = 0;

protected:
    // Hands the report to the main thread's event loop.
    void report(bool online)
    {
        QMetaObject::invokeMethod(this, [this, online] { m_onChange(online); }, Qt::QueuedConnection);
    }

private:
    std::function<void(bool)> m_onChange;
};

// The routing table, read again whenever the kernel announces a change of routes or links.
class PathMonitor::NetlinkWatch final : public Watch {
public:
    NetlinkWatch(std::function<void(bool)> onChange, std::function<std::vector<Route>()> routes)
        : Watch(std::move(onChange)), m_routes(std::move(routes))
    {
        m_socket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
        if (m_socket >= 0) {
            sockaddr_nl address{};
            address.nl_family = AF_NETLINK;
            address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
            if (::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
                log.error("Route watch unavailable (errno %d); the network counts as it was at start", errno);
                ::close(m_socket);
                m_socket = -1;
            }
        }
        if (m_socket >= 0) {
            m_notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
            connect(m_notifier, &QSocketNotifier::activated, this, [this] { changed(); });
        }
        report(online());
    }

    ~NetlinkWatch() override
    {
        delete m_notifier;
        if (m_socket >= 0)
            ::close(m_socket);
    }

    Source source() const override { return Source::netlink; }

private:
    bool online() const { return hasDefaultRoute(m_routes()); }

    void changed()
    {
        // One report for a burst of messages: what they are does not matter, only the table after.
        char buffer[8192];
        while (::recv(m_socket, buffer, sizeof buffer, 0) > 0) {
        }
        report(online());
    }

    std::function<std::vector<Route>()> m_routes;
    int m_socket = -1;
    QSocketNotifier *m_notifier = nullptr;
};

// NetworkManager's own state: the "State" property at start, then every StateChanged signal.
// When NetworkManager does not answer the first question, the routing table takes over.
class PathMonitor::NetworkManagerWatch final : public Watch {
public:
    NetworkManagerWatch(std::function<void(bool)> onChange, QDBusConnection bus, std::function<void()> absent)
        : Watch(std::move(onChange)), m_bus(std::move(bus)), m_absent(std::move(absent))
    {
        // Matching NetworkManager's bus name: nobody else on the bus can fake a state.
        m_slot = new NetworkStateSlot([this](uint state) { report(isOnline(state)); }, this);
        m_bus.connect(QString::fromLatin1(nmService), QString(), QString::fromLatin1(nmInterface),
                      QStringLiteral("StateChanged"), m_slot, SLOT(stateChanged(uint)));
        QDBusMessage get =
            QDBusMessage::createMethodCall(QString::fromLatin1(nmService), QString::fromLatin1(nmPath),
                                           QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QString::fromLatin1(nmInterface) << QStringLiteral("State");
        auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get, 5000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
            watcher->deleteLater();
            const QDBusPendingReply<QDBusVariant> reply = *watcher;
            if (reply.isError()) {
                // Calls the owner, which replaces this watch: nothing may follow here.
                m_absent();
                return;
            }
            bool ok = false;
            const unsigned state = reply.value().variant().toUInt(&ok);
            report(ok && isOnline(state));
        });
    }

    ~NetworkManagerWatch() override
    {
        m_bus.disconnect(QString::fromLatin1(nmService), QString(), QString::fromLatin1(nmInterface),
                         QStringLiteral("StateChanged"), m_slot, SLOT(stateChanged(uint)));
    }

    Source source() const override { return Source::networkManager; }

private:
    QDBusConnection m_bus;
    NetworkStateSlot *m_slot = nullptr;
    std::function<void()> m_absent;
};

PathMonitor::PathMonitor() : PathMonitor(Setup{}) {}

PathMonitor::PathMonitor(Setup setup) : m_setup(std::move(setup)) {}

PathMonitor::~PathMonitor() = default;

void PathMonitor::start(std::function<void(bool online)> onChange)
{
    stop();
    const QDBusConnection bus = m_setup.bus.value_or(QDBusConnection::systemBus());
    if (!bus.isConnected()) {
        m_monitor = std::make_unique<NetlinkWatch>(std::move(onChange), m_setup.routes);
        return;
    }
    auto absent = [this, onChange] {
        // Replaced from the watch's own callback: let it finish before it goes.
        Watch *old = m_monitor.release();
        old->deleteLater();
        m_monitor = std::make_unique<NetlinkWatch>(onChange, m_setup.routes);
    };
    m_monitor = std::make_unique<NetworkManagerWatch>(onChange, bus, absent);
}

void PathMonitor::stop()
{
    m_monitor.reset();
}

std::optional<PathMonitor::Source> PathMonitor::source() const
{
    if (!m_monitor)
        return std::nullopt;
    return m_monitor->source();
}

} // namespace DriveCore

#include "PathMonitor.moc"
