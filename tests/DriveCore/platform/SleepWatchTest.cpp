#include "DriveCore/platform/SleepWatch.h"
#include "support/StopProcess.h"
#include "support/TestSupport.h"

#include <QDBusMessage>
#include <QProcess>

#include <gtest/gtest.h>

using namespace DriveCore;
using namespace std::chrono_literals;

namespace {

// A bus daemon of the test's own standing in for the system bus, and named connections to it,
// all gone with this object.
class PrivateBus {
public:
    ~PrivateBus()
    {
        for (const QString &name : m_connections)
            QDBusConnection::disconnectFromBus(name);
        TestSupport::stopProcess(m_daemon);
    }

    bool start()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!m_daemon.waitForReadyRead(10'000))
            return false;
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        return !m_address.isEmpty();
    }

    QDBusConnection connect(const QString &name)
    {
        m_connections.append(name);
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};

void announce(QDBusConnection &bus, bool goingToSleep)
{
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(SleepWatch::path), QString::fromLatin1(SleepWatch::interface),
                                   QString::fromLatin1(SleepWatch::signal));
    signal << goingToSleep;
    bus.send(signal);
}

} // namespace

TEST(SleepWatch, TellsTheWakeThatLogindAnnouncesAndNothingElse)
{
    PrivateBus bus;
    ASSERT_TRUE(bus.start());
    SleepWatch watch(bus.connect(QStringLiteral("watch")));
    EXPECT_TRUE(watch.isWatching());
    int wakes = 0;
    QObject::connect(&watch, &SleepWatch::woke, [&] { ++wakes; });

    // Someone else on the bus cannot fake it.
    QDBusConnection impostor = bus.connect(QStringLiteral("impostor"));
    announce(impostor, false);
    TestSupport::spinUntil([] { return false; }, 200ms);
    EXPECT_EQ(wakes, 0);

    QDBusConnection logind = bus.connect(QStringLiteral("logind"));
    ASSERT_TRUE(logind.registerService(QString::fromLatin1(SleepWatch::service)));
    announce(logind, true); // going to sleep
    announce(logind, false);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return wakes == 1; }));
    TestSupport::spinUntil([] { return false; }, 100ms);
    EXPECT_EQ(wakes, 1);
}

TEST(SleepWatch, WithoutABusThereIsNothingToWatch)
{
    const QDBusConnection none =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none"));
    const SleepWatch watch(none);
    EXPECT_FALSE(watch.isWatching());
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}
