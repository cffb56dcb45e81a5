// The whole application under a private X server (Xvfb), a private session bus with a keyring
// (keyring-session), logind from python3-dbusmock on a bus of its own and the fake engine:
// the tray item seen from a StatusNotifier host's side, the home window without a tray, one
// instance per user, quitting with uploads pending, power-off, and the file-manager plug-in's
// requests.
#include "../../DriveCore/model/AppModelFixture.h"

#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/MountTable.h"
#include "DriveCore/platform/ProcessListing.h"
#include "DriveCore/platform/UserDefaults.h"
#include "KeepShared/KeepBus.h"
#include "support/BusMock.h"
#include "support/FuseMount.h"
#include "support/ScopedEnvironment.h"
#include "support/StopProcess.h"
#include "support/TestSupport.h"
#include "support/XvfbDisplay.h"
#include "support/fake-engine/FakeEngine.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace DriveCore;
using namespace std::chrono_literals;

namespace {

// A tray, as the desktop's panel offers it: the watcher service with a host registered. It
// keeps the items that register.
class StatusNotifierStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    bool publish(QDBusConnection bus)
    {
        return bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                  QDBusConnection::ExportScriptableContents | QDBusConnection::ExportAllProperties)
            && bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    QStringList items() const { return m_items; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString &service, const QDBusMessage &message)
    {
        // A path alone names an object of the caller.
        m_items << (service.startsWith(u'/') ? message.service() : service);
        emit StatusNotifierItemRegistered(m_items.last());
    }
    Q_SCRIPTABLE void RegisterStatusNotifierHost(const QString &) {}

signals:
    Q_SCRIPTABLE void StatusNotifierItemRegistered(const QString &service);
    Q_SCRIPTABLE void StatusNotifierHostRegistered();

private:
    QStringList m_items;
};

// The keep states the application posts, as the plug-in hears them.
class KeepStateEar : public QObject {
    Q_OBJECT
public:
    QStringList states;
public slots:
    void heard(const QString &json) { states << json; }
};

// One entry of a com.canonical.dbusmenu layout.
struct MenuItem {
    int id = 0;
    QString label;
    bool enabled = true;
    QString type;
};

void readLayout(const QDBusArgument &argument, std::vector<MenuItem> &items)
{
    argument.beginStructure();
    MenuItem item;
    QVariantMap properties;
    argument >> item.id >> properties;
    item.label = properties.value(QStringLiteral("label")).toString();
    item.enabled = properties.value(QStringLiteral("enabled"), true).toBool();
    item.type = properties.value(QStringLiteral("type")).toString();
    if (item.id != 0)
        items.push_back(item);
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        readLayout(child.variant().value<QDBusArgument>(), items);
    }
    argument.endArray();
    argument.endStructure();
}

class AppShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) << "run under keyring-session";
        AppModelTest::useHome(env, home);
        ASSERT_TRUE(display.start()) << display.output().toStdString();
        ASSERT_TRUE(system.start()) << system.output().toStdString();
        settings = DriveSettings{.driveName = QStringLiteral("My Drive"),
                                 .cacheGB = 5,
                                 .deviceID = QUuid::createUuid(),
                                 .deviceName = QStringLiteral("Laptop")};
        mountFolder = DriveLayout::mountPath(settings.driveName);
        cacheDir = DriveLayout::cacheDir(settings.deviceID);
    }

    void TearDown() override
    {
        for (QProcess *app : {&first, &second})
            TestSupport::stopProcess(*app, 0ms);
        for (const pid_t pid : engines())
            TestSupport::stopProcess(pid);
        TestSupport::FuseMount(mountFolder).unmount();
        if (!keyService.isEmpty())
            TestSupport::await(KeychainSecretStore(keyService).deleteAll());
    }

    // Stores settings and keys as setup leaves them, and the fake engine as the engine.
    void setUpDrive(int pendingUploads = 0)
    {
        const QString bucket = home.filePath(QStringLiteral("bucket"));
        ASSERT_TRUE(QDir().mkpath(bucket + QStringLiteral("/Drive")));
        const QString scenario = home.filePath(QStringLiteral("scenario.json"));
        TestSupport::FakeEngine::writeScenario(scenario, {{QStringLiteral("mount"), true},
                                                          {QStringLiteral("bucket"), bucket},
                                                          {QStringLiteral("pendingUploads"), QJsonArray{pendingUploads}}});
        engine = TestSupport::FakeEngine::writeWrapper(home.filePath(QStringLiteral("engine")), scenario);
        UserDefaults defaults(home.filePath(QStringLiteral("config/com.corvane.drive.json")));
        settings.save(defaults);
        DriveEngine(DriveEngine::nfs).save(defaults);
        keyService = DriveProfile::keychainService(std::nullopt);
        TestSupport::await(KeychainSecretStore(keyService)
                               .save(StorageSecrets{.endpoint = QStringLiteral("http://127.0.0.1:9"),
                                                    .bucket = QStringLiteral("bucket"),
                                                    .accessKeyID = QStringLiteral("AKIAFAKEKEYID"),
                                                    .secretAccessKey = QStringLiteral("fakeSecret/123")},
                                     QStringLiteral("correct horse battery staple")));
    }

    void start(QProcess &app)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display.display());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), system.address());
        environment.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        if (!engine.isEmpty())
            environment.insert(QStringLiteral("CORVANE_DRIVE_RCLONE"), engine);
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(QStringLiteral(CORVANE_APP_PROGRAM), {});
        ASSERT_TRUE(app.waitForStarted(10000));
    }

    // Whether `app` ended with status 0 within `limit`.
    bool endsCleanly(QProcess &app, std::chrono::milliseconds limit = 60s)
    {
        TestSupport::spinUntil([&] { return app.state() == QProcess::NotRunning; }, limit);
        return app.state() == QProcess::NotRunning && app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0;
    }

    bool mounted() const { return !MountTable::typesMountedAt(mountFolder).isEmpty(); }
    // Any process of the drive's engine, whoever its parent is.
    std::vector<pid_t> engines() const
    {
        std::vector<pid_t> found;
        for (const pid_t pid : ProcessListing::all())
            if (ProcessListing::arguments(pid).join(u' ').contains(cacheDir) && !ProcessListing::hasEnded(pid))
                found.push_back(pid);
        return found;
    }
    bool engineRunning() const { return !engines().empty(); }

    // Presses keys in the window `id` through the X server, as a person would.
    void press(const QString &id, const QStringList &keys)
    {
        ASSERT_TRUE(display.xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), id}));
        for (const QString &key : keys)
            ASSERT_TRUE(display.xdotool({QStringLiteral("key"), key})) << key.toStdString();
    }

    // The item the tray got, once it registered.
    QString awaitItem(StatusNotifierStandIn &tray)
    {
        TestSupport::spinUntil([&] { return !tray.items().isEmpty(); }, 30s);
        return tray.items().value(0);
    }

    QVariant itemProperty(const QString &item, const QString &name)
    {
        QDBusMessage get = QDBusMessage::createMethodCall(item, QStringLiteral("/StatusNotifierItem"),
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
        get << QStringLiteral("org.kde.StatusNotifierItem") << name;
        const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 10000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }

    // The tooltip's title and text.
    QString toolTip(const QString &item)
    {
        const QDBusArgument argument = itemProperty(item, QStringLiteral("ToolTip")).value<QDBusArgument>();
        QString icon, title, text;
        argument.beginStructure();
        argument >> icon;
        argument.beginArray();
        while (!argument.atEnd()) {
            int width = 0, height = 0;
            QByteArray pixels;
            argument.beginStructure();
            argument >> width >> height >> pixels;
            argument.endStructure();
        }
        argument.endArray();
        argument >> title >> text;
        argument.endStructure();
        return title + text;
    }

    std::vector<MenuItem> menu(const QString &item)
    {
        const QString path = itemProperty(item, QStringLiteral("Menu")).value<QDBusObjectPath>().path();
        QDBusMessage get = QDBusMessage::createMethodCall(item, path, QStringLiteral("com.canonical.dbusmenu"),
                                                          QStringLiteral("GetLayout"));
        get << 0 << -1 << QStringList();
        const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 10000);
        std::vector<MenuItem> items;
        if (reply.arguments().size() == 2)
            readLayout(reply.arguments().at(1).value<QDBusArgument>(), items);
        return items;
    }

    // Clicks the entry `label` of the item's menu, as the panel does.
    bool click(const QString &item, const QString &label)
    {
        for (const MenuItem &entry : menu(item)) {
            if (entry.label != label)
                continue;
            const QString path = itemProperty(item, QStringLiteral("Menu")).value<QDBusObjectPath>().path();
            QDBusMessage event = QDBusMessage::createMethodCall(item, path, QStringLiteral("com.canonical.dbusmenu"),
                                                                QStringLiteral("Event"));
            event << entry.id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
            return QDBusConnection::sessionBus().call(event, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage;
        }
        return false;
    }

    QTemporaryDir home;
    TestSupport::ScopedEnvironment env;
    TestSupport::XvfbDisplay display;
    TestSupport::BusMock system;
    DriveSettings settings;
    QString mountFolder;
    QString cacheDir;
    QString engine;
    QString keyService;
    QProcess first;
    QProcess second;
};

} // namespace

TEST_F(AppShellTest, TrayItemShowsTheStatusAndItsMenuOpensWindowsAndQuits)
{
    StatusNotifierStandIn tray;
    ASSERT_TRUE(tray.publish(QDBusConnection::sessionBus()));
    setUpDrive();
    start(first);

    const QString item = awaitItem(tray);
    ASSERT_FALSE(item.isEmpty()) << "the application registered no tray item: " << first.readAll().toStdString();
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] { return toolTip(item) == QStringLiteral("Ovra — All files safe in cloud ✓"); }, 60s))
        << toolTip(item).toStdString();
    EXPECT_EQ(itemProperty(item, QStringLiteral("IconName")).toString(), QStringLiteral("corvane-drive-symbolic"));
    EXPECT_TRUE(mounted());

    std::vector<MenuItem> entries = menu(item);
    QStringList labels;
    for (const MenuItem &entry : entries)
        if (entry.type != QStringLiteral("separator"))
            labels << entry.label;
    EXPECT_EQ(labels.mid(2), (QStringList{"Search drive…", "Open in Finder", "Uploads…", "Recently Deleted…",
                                          "Copy all my files to this Mac…", "Share Files…", "Shared Links…",
                                          "Check for Updates…", "Settings…", "Quit Ovra"}));
    EXPECT_TRUE(display.windows(QStringLiteral(".")).isEmpty()) << "no window opens at launch with a tray";

    // The update check says that this build does not update itself.
    ASSERT_TRUE(click(item, QStringLiteral("Check for Updates…")));
    const QString alert = display.awaitWindow(QStringLiteral("^Ovra$"));
    ASSERT_FALSE(alert.isEmpty()) << "the menu entry opened no window";
    display.saveScreenshot(QStringLiteral("shell-no-updates-alert"));
    press(alert, {QStringLiteral("Return")});
    EXPECT_TRUE(TestSupport::spinUntil([&] { return display.windows(QStringLiteral("^Ovra$")).isEmpty(); }, 20s));

    // Nothing waits to upload: quitting asks nothing and leaves nothing behind.
    ASSERT_TRUE(click(item, QStringLiteral("Quit Ovra")));
    EXPECT_TRUE(endsCleanly(first)) << first.readAll().toStdString();
    EXPECT_FALSE(mounted());
    EXPECT_FALSE(engineRunning());
}

TEST_F(AppShellTest, WithoutATrayTheHomeWindowShowsAndASecondStartRaisesIt)
{
    // Not set up: the setup window opens by itself, and the home window stands in for the tray.
    start(first);
    const QString home = display.awaitWindow(QStringLiteral("^Ovra$"));
    ASSERT_FALSE(home.isEmpty()) << first.readAll().toStdString();
    const QString setup = display.awaitWindow(QStringLiteral("^Set up Ovra$"));
    ASSERT_FALSE(setup.isEmpty());
    TestSupport::spinUntil([] { return false; }, 500ms);
    display.saveScreenshot(QStringLiteral("shell-home-and-setup-without-tray"));

    // The setup window goes on top; the second start must bring the home window above it.
    const auto above = [&](const QString &upper, const QString &lower) {
        const QStringList stack = display.stacking();
        return stack.indexOf(upper) > stack.indexOf(lower) && stack.indexOf(lower) >= 0;
    };
    ASSERT_TRUE(display.xdotool({QStringLiteral("windowraise"), setup}));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return above(setup, home); }, 10s))
        << display.stacking().join(u' ').toStdString() << " home " << home.toStdString() << " setup "
        << setup.toStdString();
    start(second);
    EXPECT_TRUE(endsCleanly(second, 30s)) << second.readAll().toStdString();
    EXPECT_TRUE(TestSupport::spinUntil([&] { return above(home, setup); }, 20s))
        << "the first instance did not bring its home window forward: " << display.stacking().join(u' ').toStdString()
        << " home " << home.toStdString() << " setup " << setup.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);

    ::kill(pid_t(first.processId()), SIGTERM);
    EXPECT_TRUE(endsCleanly(first)) << first.readAll().toStdString();
}

TEST_F(AppShellTest, QuitWithUploadsPendingAsksAndWaitKeepsTheDriveRunning)
{
    StatusNotifierStandIn tray;
    ASSERT_TRUE(tray.publish(QDBusConnection::sessionBus()));
    setUpDrive(2);
    start(first);
    const QString item = awaitItem(tray);
    ASSERT_FALSE(item.isEmpty()) << first.readAll().toStdString();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return mounted(); }, 60s));

    // From the menu: the question; "Wait" keeps everything running.
    ASSERT_TRUE(click(item, QStringLiteral("Quit Ovra")));
    QString question = display.awaitWindow(QStringLiteral("^Ovra$"));
    ASSERT_FALSE(question.isEmpty()) << "no question while uploads are pending";
    display.saveScreenshot(QStringLiteral("shell-quit-question"));
    press(question, {QStringLiteral("Return")});
    ASSERT_TRUE(TestSupport::spinUntil([&] { return display.windows(QStringLiteral("^Ovra$")).isEmpty(); }, 20s));
    TestSupport::spinUntil([] { return false; }, 1s);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(mounted());
    EXPECT_TRUE(engineRunning());

    // SIGTERM asks the same question afresh; "Quit Anyway" stops the drive and ends.
    ::kill(pid_t(first.processId()), SIGTERM);
    question = display.awaitWindow(QStringLiteral("^Ovra$"));
    ASSERT_FALSE(question.isEmpty()) << "no question on SIGTERM";
    press(question, {QStringLiteral("Tab"), QStringLiteral("space")});
    EXPECT_TRUE(endsCleanly(first)) << first.readAll().toStdString();
    EXPECT_FALSE(mounted());
    EXPECT_FALSE(engineRunning());
}

TEST_F(AppShellTest, PowerOffStopsTheDriveWithoutAQuestionAndReleasesTheInhibitor)
{
    ASSERT_TRUE(system.startTemplate(QStringLiteral("logind"), QStringLiteral("org.freedesktop.login1")));
    setUpDrive(2);
    start(first);
    const auto inhibitors = [&] {
        QDBusMessage list = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("ListInhibitors"));
        const QDBusMessage reply = system.connection().call(list, QDBus::Block, 10000);
        QStringList found;
        if (reply.arguments().isEmpty())
            return found;
        const QDBusArgument argument = reply.arguments().first().value<QDBusArgument>();
        argument.beginArray();
        while (!argument.atEnd()) {
            QString what, who, why, mode;
            uint uid = 0, pid = 0;
            argument.beginStructure();
            argument >> what >> who >> why >> mode >> uid >> pid;
            argument.endStructure();
            found << what + u' ' + who + u' ' + mode;
        }
        argument.endArray();
        return found;
    };
    ASSERT_TRUE(TestSupport::spinUntil([&] { return inhibitors() == QStringList{"shutdown Ovra delay"}; }, 60s))
        << inhibitors().join(u',').toStdString() << first.readAll().toStdString();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return mounted(); }, 60s));

    QDBusMessage emitSignal = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("EmitSignal"));
    emitSignal << QStringLiteral("org.freedesktop.login1.Manager") << QStringLiteral("PrepareForShutdown")
               << QStringLiteral("b") << QVariantList{true};
    ASSERT_EQ(system.connection().call(emitSignal, QDBus::Block, 10000).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(endsCleanly(first)) << first.readAll().toStdString();
    EXPECT_FALSE(mounted());
    EXPECT_FALSE(engineRunning());
    EXPECT_TRUE(TestSupport::spinUntil([&] { return inhibitors().isEmpty(); }, 10s)) << "the inhibitor is still held";
}

TEST_F(AppShellTest, KeepRequestsAndHellosFromTheFileManagerReachTheModel)
{
    setUpDrive();
    start(first);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return mounted(); }, 60s)) << first.readAll().toStdString();

    // The keep state the application posts, as the plug-in hears it.
    KeepStateEar ear;
    QStringList &states = ear.states;
    const auto text = [](std::string_view view) { return QString::fromUtf8(view.data(), qsizetype(view.size())); };
    ASSERT_TRUE(QDBusConnection::sessionBus().connect(
        QString(), text(KeepShared::KeepBus::objectPath), text(KeepShared::KeepBus::stateSignal.interface),
        text(KeepShared::KeepBus::stateSignal.member), &ear, SLOT(heard(QString))));
    const auto post = [&](const KeepShared::KeepBus::Signal &signal, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createSignal(text(KeepShared::KeepBus::objectPath), text(signal.interface),
                                                          text(signal.member));
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().send(message);
    };

    // A keep request for a file inside the drive: the engine pins it, and the new keep state
    // names it.
    QJsonObject request{{QStringLiteral("action"), QStringLiteral("keep")},
                        {QStringLiteral("paths"), QJsonArray{mountFolder + QStringLiteral("/notes.txt")}}};
    ASSERT_TRUE(post(KeepShared::KeepBus::requestSignal,
                     {QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact))}));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !states.isEmpty() && states.last().contains("notes.txt"); }, 30s))
        << states.join(u'\n').toStdString();

    // A hello: the same state again, although nothing changed.
    const qsizetype before = states.size();
    ASSERT_TRUE(post(KeepShared::KeepBus::helloSignal, {}));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return states.size() > before; }, 30s));
    EXPECT_EQ(states.last(), states.at(before - 1));

    ::kill(pid_t(first.processId()), SIGTERM);
    EXPECT_TRUE(endsCleanly(first)) << first.readAll().toStdString();
    EXPECT_FALSE(engineRunning());
}

#include "AppShellTest.moc"
