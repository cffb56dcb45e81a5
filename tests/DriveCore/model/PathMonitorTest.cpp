// The network monitor against python3-dbusmock's NetworkManager on a private bus, and its
// fallback to the routing table when NetworkManager is not there.
#include "DriveCore/model/PathMonitor.h"
#include "support/BusMock.h"
#include "support/TestSupport.h"

#include <QDBusMessage>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;
using namespace std::chrono_literals;

namespace {

const QByteArray ipv4Header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(PathMonitorRoutes, ADefaultRouteMustBeUpUsableAndOffLoopback)
{
    const QByteArray v6Default = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                                 "fd000000000000000000000000000001 00000400 00000008 00000000 00000003     eth0\n";
    const QByteArray v6Reject = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                                "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n";
    struct Row {
        const char *name;
        QByteArray ipv4;
        QByteArray ipv6;
        bool online;
    };
    for (const Row &row : std::vector<Row>{
             {"an IPv4 default route",
              ipv4Header + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n",
              {},
              true},
             {"only a local network",
              ipv4Header + "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n",
              {},
              false},
             {"a default route that is down",
              ipv4Header + "eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n",
              {},
              false},
             {"a default route on loopback",
              ipv4Header + "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n",
              {},
              false},
             {"an IPv6 default route", ipv4Header, v6Default, true},
             {"only the IPv6 reject route", ipv4Header, v6Reject, false},
             {"nothing readable", {}, {}, false},
         })
        EXPECT_EQ(PathMonitor::hasDefaultRoute(row.ipv4, row.ipv6), row.online) << row.name;
    EXPECT_FALSE(PathMonitor::isOnline(50)) << "local only";
    EXPECT_TRUE(PathMonitor::isOnline(60));
    EXPECT_TRUE(PathMonitor::isOnline(70));
    EXPECT_FALSE(PathMonitor::isOnline(20));
}

class PathMonitorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.start()) << bus.output().toStdString(); }

    PathMonitor::Setup setup()
    {
        return PathMonitor::Setup{.bus = bus.connection(),
                                  .ipv4Routes = routes.filePath(QStringLiteral("route")),
                                  .ipv6Routes = routes.filePath(QStringLiteral("ipv6_route"))};
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
    QTemporaryDir routes;
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
    for (const auto &[table, online] : std::vector<std::pair<QByteArray, bool>>{
             {ipv4Header + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n", true},
             {ipv4Header, false},
         }) {
        QFile file(routes.filePath(QStringLiteral("route")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(table);
        file.close();
        reports.clear();
        PathMonitor monitor(setup());
        monitor.start(record());
        ASSERT_TRUE(reportsReach(1));
        EXPECT_EQ(monitor.source(), PathMonitor::Source::netlink);
        EXPECT_EQ(reports, std::vector<bool>{online});
    }
}

} // namespace
