// The network monitor against python3-dbusmock's NetworkManager on a private bus, and its
// fallback to the routing table when NetworkManager is not there.
#include "DriveCore/model/PathMonitor.h"
#include "support/BusMock.h"
#include "support/OwnNamespaces.h"
#include "support/TestSupport.h"

#include <QDBusMessage>
#include <QProcess>

#include <gtest/gtest.h>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

using namespace DriveCore;
using namespace std::chrono_literals;

namespace DriveCore {

void PrintTo(const Route &route, std::ostream *out)
{
    *out << "{family " << route.family << ", /" << route.destinationLength << ", type " << route.type << ", table "
         << route.table << ", device " << route.device << (route.linkDown ? ", linkdown}" : "}");
}

} // namespace DriveCore

namespace {

Route defaultRoute(int device, bool linkDown = false)
{
    return Route{
        .family = AF_INET, .type = RTN_UNICAST, .table = RT_TABLE_MAIN, .device = device, .linkDown = linkDown};
}

TEST(PathMonitorRoutes, ADefaultRouteMustBeUnicastOffLoopbackAndOnADeviceWithCarrier)
{
    const Route v6Default{.family = AF_INET6, .type = RTN_UNICAST, .table = RT_TABLE_MAIN, .device = 2};
    const Route v6Reject{.family = AF_INET6, .type = RTN_UNREACHABLE, .table = RT_TABLE_MAIN, .device = 1};
    Route localNetwork = defaultRoute(2);
    localNetwork.destinationLength = 24;
    Route inLocalTable = defaultRoute(2);
    inLocalTable.table = RT_TABLE_LOCAL;
    struct Row {
        const char *name;
        std::vector<Route> routes;
        bool online;
    };
    for (const Row &row : std::vector<Row>{
             {"an IPv4 default route", {defaultRoute(2)}, true},
             {"only a local network", {localNetwork}, false},
             {"a default route whose device lost its carrier", {defaultRoute(2, true)}, false},
             {"a default route on loopback", {defaultRoute(RouteTable::loopbackDevice)}, false},
             {"a default route in the local table", {inLocalTable}, false},
             {"an IPv6 default route", {v6Default}, true},
             {"only the IPv6 reject route", {v6Reject}, false},
             {"one of two next hops without carrier", {defaultRoute(2, true), defaultRoute(3)}, true},
             {"no routes", {}, false},
         })
        EXPECT_EQ(PathMonitor::hasDefaultRoute(row.routes), row.online) << row.name;
    EXPECT_FALSE(PathMonitor::isOnline(50)) << "local only";
    EXPECT_TRUE(PathMonitor::isOnline(60));
    EXPECT_TRUE(PathMonitor::isOnline(70));
    EXPECT_FALSE(PathMonitor::isOnline(20));
}

// The kernel's route messages, built as the kernel lays them out.
class RouteMessages {
public:
    // A route with `hops` (device, flags) as its next hops; one hop is written as the kernel
    // writes a single-path route, with the hop's flags on the route itself.
    RouteMessages &route(unsigned char family, unsigned char type, std::vector<std::pair<int, unsigned>> hops)
    {
        QByteArray body = bytesOf(rtmsg{.rtm_family = family,
                                        .rtm_table = RT_TABLE_MAIN,
                                        .rtm_type = type,
                                        .rtm_flags = hops.size() == 1 ? hops[0].second : 0});
        body += attribute(RTA_TABLE, bytesOf(quint32(RT_TABLE_MAIN)));
        if (hops.size() == 1) {
            body += attribute(RTA_OIF, bytesOf(qint32(hops[0].first)));
        } else {
            QByteArray multipath;
            for (const auto &[device, flags] : hops)
                multipath += bytesOf(rtnexthop{.rtnh_len = sizeof(rtnexthop),
                                               .rtnh_flags = static_cast<unsigned char>(flags),
                                               .rtnh_ifindex = device});
            body += attribute(RTA_MULTIPATH, multipath);
        }
        return message(RTM_NEWROUTE, body);
    }

    RouteMessages &message(unsigned short type, const QByteArray &body)
    {
        m_bytes += bytesOf(nlmsghdr{.nlmsg_len = quint32(NLMSG_HDRLEN + body.size()), .nlmsg_type = type});
        m_bytes += body;
        m_bytes += QByteArray(NLMSG_ALIGN(body.size()) - body.size(), '\0');
        return *this;
    }

    const QByteArray &bytes() const { return m_bytes; }

private:
    template<typename T>
    static QByteArray bytesOf(const T &value)
    {
        return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
    }

    static QByteArray attribute(unsigned short type, const QByteArray &payload)
    {
        QByteArray bytes =
            bytesOf(rtattr{.rta_len = static_cast<unsigned short>(RTA_LENGTH(payload.size())), .rta_type = type})
            + payload;
        return bytes + QByteArray(RTA_ALIGN(bytes.size()) - bytes.size(), '\0');
    }

    QByteArray m_bytes;
};

TEST(RouteTable, ReadsTheKernelsRouteMessages)
{
    const QByteArray dump = RouteMessages()
                                .route(AF_INET, RTN_UNICAST, {{2, RTNH_F_LINKDOWN}})
                                .message(RTM_NEWLINK, QByteArray(32, '\1'))
                                .route(AF_INET6, RTN_UNREACHABLE, {{1, 0}})
                                .route(AF_INET, RTN_UNICAST, {{3, RTNH_F_DEAD}, {4, 0}})
                                .route(AF_MPLS, RTN_UNICAST, {{5, 0}})
                                .message(NLMSG_DONE, QByteArray(4, '\0'))
                                .bytes();
    const std::vector<Route> routes = RouteTable::parse(dump);
    ASSERT_EQ(routes.size(), 4u);
    EXPECT_EQ(routes[0], defaultRoute(2, true));
    EXPECT_EQ(routes[1], (Route{.family = AF_INET6, .type = RTN_UNREACHABLE, .table = RT_TABLE_MAIN, .device = 1}));
    EXPECT_EQ(routes[2], defaultRoute(3, true));
    EXPECT_EQ(routes[3], defaultRoute(4));

    // A message cut short ends the reading; what came before it stands.
    EXPECT_EQ(RouteTable::parse(dump.left(dump.size() - 5)).size(), 4u);
    EXPECT_EQ(RouteTable::parse(dump.left(20)).size(), 0u);
    EXPECT_TRUE(RouteTable::parse({}).empty());
}

class PathMonitorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.start()) << bus.output().toStdString(); }

    PathMonitor::Setup setup()
    {
        return PathMonitor::Setup{.bus = bus.connection(), .routes = [this] { return routes; }};
    }

    void setNetworkState(uint state)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("/org/freedesktop"),
            QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("SetGlobalConnectionState"));
        call << state;
        const QDBusMessage reply = bus.connection().call(call, QDBus::Block, 10000);
        ASSERT_NE(reply.type(), QDBusMessage::ErrorMessage) << reply.errorMessage().toStdString();
    }

    bool reportsReach(size_t count)
    {
        return TestSupport::spinUntil([&] { return reports.size() >= count; }, 10s);
    }

    std::function<void(bool)> record()
    {
        return [this](bool online) { reports.push_back(online); };
    }

    TestSupport::BusMock bus;
    std::vector<Route> routes;
    std::vector<bool> reports;
};

TEST_F(PathMonitorTest, NetworkManagersStateOnlineOfflineAndBackOnline)
{
    ASSERT_TRUE(bus.startTemplate(QStringLiteral("networkmanager"), QStringLiteral("org.freedesktop.NetworkManager")))
        << bus.output().toStdString();
    PathMonitor monitor(setup());
    // Started twice: the first watch is dropped, so each change is reported once.
    monitor.start([](bool) { ADD_FAILURE() << "the first watch reported"; });
    monitor.start(record());
    ASSERT_TRUE(reportsReach(1));
    EXPECT_EQ(monitor.source(), PathMonitor::Source::networkManager);
    EXPECT_EQ(reports, std::vector<bool>{true}) << "the first report states the condition at the start";

    setNetworkState(20); // disconnected
    ASSERT_TRUE(reportsReach(2));
    setNetworkState(50); // local only: no way out
    ASSERT_TRUE(reportsReach(3));
    setNetworkState(70);
    ASSERT_TRUE(reportsReach(4));
    setNetworkState(70); // the same again is still reported
    ASSERT_TRUE(reportsReach(5));
    TestSupport::spinUntil([] { return false; }, 100ms);
    EXPECT_EQ(reports, (std::vector<bool>{true, false, false, true, true}));

    monitor.stop();
    setNetworkState(20);
    TestSupport::spinUntil([] { return false; }, 300ms);
    EXPECT_EQ(reports.size(), 5u) << "nothing after stop";
    EXPECT_EQ(monitor.source(), std::nullopt);
}

TEST_F(PathMonitorTest, WithoutNetworkManagerTheRoutingTableDecides)
{
    for (const auto &[table, online] : std::vector<std::pair<std::vector<Route>, bool>>{
             {{defaultRoute(2)}, true},
             {{defaultRoute(2, true)}, false},
             {{}, false},
         }) {
        routes = table;
        reports.clear();
        PathMonitor monitor(setup());
        monitor.start(record());
        ASSERT_TRUE(reportsReach(1));
        EXPECT_EQ(monitor.source(), PathMonitor::Source::netlink);
        EXPECT_EQ(reports, std::vector<bool>{online});
    }
}

} // namespace

namespace {

// Runs `ip` with the arguments; its output when it fails.
std::optional<QString> ip(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), arguments);
    if (!process.waitForFinished(10'000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("ip %1: %2").arg(arguments.join(u' '), QString::fromLocal8Bit(process.readAll()));
    return std::nullopt;
}

// The default routes the kernel lists now.
std::vector<Route> defaultRoutes()
{
    std::vector<Route> routes;
    for (const Route &route : RouteTable::read()) {
        if (route.family == AF_INET && route.destinationLength == 0)
            routes.push_back(route);
    }
    return routes;
}

} // namespace

// A real routing table in a network namespace of the test's own: a default route over a veth
// pair, whose carrier goes when the other end goes down, as when a cable is pulled. The kernel
// keeps the route then, marked "linkdown".
TEST(PathMonitorCarrier, ARouteWhoseDeviceLostItsCarrierIsOffline)
{
    CORVANE_TEST_IN_OWN_NAMESPACES(false, true);
    for (const QStringList &command : std::vector<QStringList>{
             {"link", "set", "lo", "up"},
             {"link", "add", "v0", "type", "veth", "peer", "name", "v1"},
             {"link", "add", "w0", "type", "veth", "peer", "name", "w1"},
             {"link", "set", "v0", "up"},
             {"link", "set", "v1", "up"},
             {"link", "set", "w0", "up"},
             {"link", "set", "w1", "up"},
             {"address", "add", "10.9.0.1/24", "dev", "v0"},
             {"address", "add", "10.8.0.1/24", "dev", "w0"},
             {"route", "add", "default", "via", "10.9.0.2", "dev", "v0"},
         }) {
        if (const auto failure = ip(command))
            GTEST_SKIP() << "no CAP_NET_ADMIN or no veth devices in a network namespace here: "
                         << failure->toStdString();
    }
    const int v0 = int(if_nametoindex("v0"));
    const int w0 = int(if_nametoindex("w0"));
    ASSERT_EQ(defaultRoutes(), std::vector<Route>{defaultRoute(v0)});

    std::vector<bool> reports;
    PathMonitor monitor(PathMonitor::Setup{.bus = QDBusConnection(QStringLiteral("no bus"))});
    monitor.start([&](bool online) { reports.push_back(online); });
    EXPECT_EQ(monitor.source(), PathMonitor::Source::netlink);
    const auto reportsNow = [&](bool online) {
        return TestSupport::spinUntil([&] { return !reports.empty() && reports.back() == online; }, 10s);
    };
    ASSERT_TRUE(reportsNow(true));

    ASSERT_EQ(ip({"link", "set", "v1", "down"}), std::nullopt);
    EXPECT_EQ(defaultRoutes(), std::vector<Route>{defaultRoute(v0, true)}) << "the kernel keeps the route";
    EXPECT_TRUE(reportsNow(false)) << "a pulled cable is offline";
    ASSERT_EQ(ip({"link", "set", "v1", "up"}), std::nullopt);
    EXPECT_TRUE(reportsNow(true));

    // Two ways out: online while either has its carrier.
    ASSERT_EQ(ip({"route", "replace", "default", "nexthop", "via", "10.9.0.2", "dev", "v0", "nexthop", "via",
                  "10.8.0.2", "dev", "w0"}),
              std::nullopt);
    ASSERT_EQ(ip({"link", "set", "w1", "down"}), std::nullopt);
    EXPECT_EQ(defaultRoutes(), (std::vector<Route>{defaultRoute(v0), defaultRoute(w0, true)}));
    ASSERT_EQ(ip({"link", "set", "v1", "down"}), std::nullopt);
    EXPECT_TRUE(reportsNow(false));
    ASSERT_EQ(ip({"link", "set", "w1", "up"}), std::nullopt);
    EXPECT_TRUE(reportsNow(true));
    monitor.stop();
}
