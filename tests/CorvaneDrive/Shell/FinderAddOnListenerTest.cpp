// The file-manager listener on a private bus: keep requests as signals of any sender, the size
// limit, and the hello throttle on a hand-moved clock.
#include "CorvaneDrive/Shell/FinderAddOnListener.h"
#include "DriveCore/support/Tasks.h"
#include "KeepShared/KeepBus.h"
#include "support/BusMock.h"
#include "support/TestSupport.h"

#include <QDBusMessage>

#include <gtest/gtest.h>

using namespace CorvaneDrive;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), qsizetype(view.size()));
}

class FinderAddOnListenerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus.start()) << bus.output().toStdString();
        listener = std::make_unique<FinderAddOnListener>(
            FinderAddOnListener::Target{
                .handle = [this](KeepShared::KeepRequest request) -> QCoro::Task<> {
                    requests.push_back(std::move(request));
                    co_return;
                },
                .saidHello = [this] { ++hellos; },
                .refresh = [this]() -> QCoro::Task<> {
                    ++refreshes;
                    // The refresh runs until the test lets it end.
                    while (!refreshMayEnd)
                        co_await DriveCore::sleep(5ms);
                },
            },
            [this] { return now; });
        ASSERT_TRUE(listener->listen(bus.connection()));
    }

    // Sends the plug-in's signal from another connection, as the plug-in does.
    void send(const KeepShared::KeepBus::Signal &signal, const QVariantList &arguments)
    {
        QDBusMessage message = QDBusMessage::createSignal(text(KeepShared::KeepBus::objectPath), text(signal.interface),
                                                          text(signal.member));
        message.setArguments(arguments);
        ASSERT_TRUE(sender().send(message));
    }

    QDBusConnection sender()
    {
        static int serial = 0;
        if (senderName.isEmpty()) {
            senderName = QStringLiteral("plug-in-%1").arg(++serial);
            QDBusConnection::connectToBus(bus.address(), senderName);
        }
        return QDBusConnection(senderName);
    }

    void TearDown() override
    {
        refreshMayEnd = true;
        TestSupport::spinUntil([&] { return !listener->refreshRunning(); }, 5s);
        if (!senderName.isEmpty())
            QDBusConnection::disconnectFromBus(senderName);
    }

    // Sends a hello and waits until it has arrived.
    void hello()
    {
        const int before = hellos;
        send(KeepShared::KeepBus::helloSignal, {});
        ASSERT_TRUE(TestSupport::spinUntil([&] { return hellos == before + 1; }, 10s)) << "the hello never arrived";
    }

    TestSupport::BusMock bus;
    QString senderName;
    Clock::time_point now = Clock::time_point(std::chrono::hours(1000));
    std::unique_ptr<FinderAddOnListener> listener;
    std::vector<KeepShared::KeepRequest> requests;
    int hellos = 0;
    int refreshes = 0;
    bool refreshMayEnd = false;
};

// A keep request whose JSON is exactly `bytes` long in UTF-8.
QString requestOfSize(qsizetype bytes)
{
    const QString head = QStringLiteral(R"({"action":"keep","paths":[")");
    const QString tail = QStringLiteral(R"("]})");
    // "é" is two bytes: fill with it, and with one "a" when the count is odd.
    const qsizetype fill = bytes - head.toUtf8().size() - tail.toUtf8().size() - 5; // "/tmp/"
    QString path =
        QStringLiteral("/tmp/") + QString(fill / 2, QChar(0xe9)) + (fill % 2 ? QStringLiteral("a") : QString());
    const QString json = head + path + tail;
    EXPECT_EQ(json.toUtf8().size(), bytes);
    return json;
}

} // namespace

TEST_F(FinderAddOnListenerTest, KeepRequestsUpToTheLimitReachTheModelAndOthersAreDropped)
{
    const struct {
        const char *name;
        QVariantList arguments;
        bool handled;
    } cases[] = {
        {"keep", {QStringLiteral(R"({"action":"keep","paths":["\/home\/u\/Mounts\/D\/a.txt"]})")}, true},
        {"remove", {QStringLiteral(R"({"action":"remove","paths":[]})")}, true},
        {"exactly 65,536 bytes", {requestOfSize(65536)}, true},
        {"65,537 bytes", {requestOfSize(65537)}, false},
        {"not JSON", {QStringLiteral("keep /tmp/a")}, false},
        {"an unknown action", {QStringLiteral(R"({"action":"pin","paths":[]})")}, false},
        {"no payload", {}, false},
        {"a number instead of a string", {42}, false},
        {"two strings", {QStringLiteral(R"({"action":"keep","paths":[]})"), QStringLiteral("x")}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        requests.clear();
        send(KeepShared::KeepBus::requestSignal, c.arguments);
        // A hello sent after it arrives after it: by then the request was taken or dropped.
        hello();
        EXPECT_EQ(requests.size(), c.handled ? 1u : 0u);
    }
    requests.clear();
    send(KeepShared::KeepBus::requestSignal, {QStringLiteral(R"({"action":"keep","paths":["\/a","\/b"]})")});
    ASSERT_TRUE(TestSupport::spinUntil([&] { return requests.size() == 1; }, 10s));
    EXPECT_EQ(requests[0].action, KeepShared::KeepRequest::Action::keep);
    EXPECT_EQ(requests[0].paths, (std::vector<std::string>{"/a", "/b"}));
}

TEST_F(FinderAddOnListenerTest, HellosAlwaysRepostButRefreshAtMostOnceASecondAndOneAtATime)
{
    const Clock::time_point start = now;
    // The first hello after launch refreshes at once.
    hello();
    EXPECT_EQ(refreshes, 1);
    // Nine more within the second, while it runs: each re-posts, none refreshes.
    for (int i = 0; i < 9; ++i) {
        now += 100ms;
        hello();
    }
    EXPECT_EQ(hellos, 10);
    EXPECT_EQ(refreshes, 1);
    refreshMayEnd = true;
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !listener->refreshRunning(); }, 10s));
    refreshMayEnd = false;
    // Finished, but less than a second since it started: no refresh, and none queued for later.
    now = start + 999ms;
    hello();
    EXPECT_EQ(refreshes, 1);
    // Exactly 1.0 s after the start of the last one: a new refresh.
    now = start + 1000ms;
    hello();
    EXPECT_EQ(refreshes, 2);
    // Long after, but while that one still runs: only the re-post.
    now = start + 5s;
    hello();
    EXPECT_EQ(refreshes, 2);
    EXPECT_EQ(hellos, 13);
    TestSupport::spinUntil([] { return false; }, 50ms);
    EXPECT_EQ(refreshes, 2);
}
