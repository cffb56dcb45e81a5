// The whole application under a private X server (Xvfb), a private session bus with a keyring
// (keyring-session), logind from python3-dbusmock on a bus of its own and the fake engine:
// the tray item seen from a StatusNotifier host's side, the home window without a tray, one
// instance per user, quitting with uploads pending, power-off, and the file-manager plug-in's
// requests. Then a real drive, the file-system layer over Debian's rclone (tools/upstream-engine)
// and the loopback S3 service: set up through the setup window with X input (xdotool) as a user
// does, each screen read back as a screen reader reads it (the desktop's accessibility bus).
#include "../../DriveCore/model/AppModelFixture.h"

#include "CorvaneDrive/Setup/DonePresenter.h"
#include "CorvaneDrive/Setup/NameAndCachePresenter.h"
#include "CorvaneDrive/Setup/PassphrasePresenter.h"
#include "CorvaneDrive/Setup/RecoveryKitPresenter.h"
#include "CorvaneDrive/Setup/SetupFlowPresenter.h"
#include "CorvaneDrive/Setup/StoragePresenter.h"
#include "CorvaneDrive/Setup/WelcomePresenter.h"

#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/keys/SetupState.h"
#include "DriveCore/platform/MountTable.h"
#include "DriveCore/platform/ProcessListing.h"
#include "DriveCore/platform/UserDefaults.h"
#include "KeepShared/KeepBus.h"
#include "support/AccessibilityBus.h"
#include "support/BusMock.h"
#include "support/fake-engine/FakeEngine.h"
#include "support/FinishedSetup.h"
#include "support/FuseMount.h"
#include "support/S3Server.h"
#include "support/ScopedEnvironment.h"
#include "support/StatusNotifierStandIn.h"
#include "support/StopProcess.h"
#include "support/TestSupport.h"
#include "support/UpstreamEngine.h"
#include "support/XvfbDisplay.h"

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
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace CorvaneDrive;
using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::Accessible;
using TestSupport::StatusNotifierStandIn;

namespace {

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

const QString safeToolTip = QStringLiteral("Ovra — All files safe in cloud ✓");

// A setup step runs the engine's one-shot commands or the Recovery Kit's key derivation:
// slowest in sanitizer builds on a loaded machine.
constexpr std::chrono::seconds setupStepLimit(180);

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the storage holds for a file of `size` bytes: the encrypted object, a header of 32 bytes
// and 16 more for every block of 64 KiB.
qint64 sealedSize(qint64 size)
{
    return 32 + size + (size + 65535) / 65536 * 16;
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
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
        // Setup, when it got that far, chose the drive's name and device.
        followSavedSettings();
        for (QProcess *app : {&first, &second})
            TestSupport::stopProcess(*app, 0ms);
        for (const pid_t pid : engines())
            TestSupport::stopProcess(pid);
        TestSupport::FuseMount(mountFolder).unmount();
        // The engine's own mount below the layer, left behind when the engine was killed.
        TestSupport::FuseMount(DriveLayout::backingPath(settings.deviceID)).unmount();
        if (!keyService.isEmpty())
            TestSupport::await(KeychainSecretStore(keyService).deleteAll());
    }

    QString configFile() const { return home.filePath(QStringLiteral("config/com.corvane.drive.json")); }

    // The drive's folders follow the settings the application saved.
    void followSavedSettings()
    {
        const std::optional<DriveSettings> saved = DriveSettings::load(UserDefaults(configFile()));
        if (!saved)
            return;
        settings = *saved;
        mountFolder = DriveLayout::mountPath(settings.driveName);
        cacheDir = DriveLayout::cacheDir(settings.deviceID);
    }

    // Stores settings and keys as setup leaves them, and the fake engine as the engine.
    void setUpDrive(int pendingUploads = 0)
    {
        const QString bucket = home.filePath(QStringLiteral("bucket"));
        ASSERT_TRUE(QDir().mkpath(bucket + QStringLiteral("/Drive")));
        const QString scenario = home.filePath(QStringLiteral("scenario.json"));
        TestSupport::FakeEngine::writeScenario(scenario,
                                               {{QStringLiteral("mount"), true},
                                                {QStringLiteral("bucket"), bucket},
                                                {QStringLiteral("pendingUploads"), QJsonArray{pendingUploads}}});
        engine = TestSupport::FakeEngine::writeWrapper(home.filePath(QStringLiteral("engine")), scenario);
        keyService =
            TestSupport::storeFinishedSetup(configFile(), settings, DriveEngine::nfs,
                                            StorageSecrets{.endpoint = QStringLiteral("http://127.0.0.1:9"),
                                                           .bucket = QStringLiteral("bucket"),
                                                           .accessKeyID = QStringLiteral("AKIAFAKEKEYID"),
                                                           .secretAccessKey = QStringLiteral("fakeSecret/123")},
                                            QStringLiteral("correct horse battery staple"));
    }

    // The same for a real drive as setup leaves it (the file-system layer over the engine's
    // mount), with Debian's rclone as the engine, over the loopback S3 service.
    void setUpRealDrive(const TestSupport::S3Server &server)
    {
        engine = TestSupport::UpstreamEngine::program();
        keyService = TestSupport::storeFinishedSetup(configFile(), settings, std::nullopt, server.secrets(),
                                                     QStringLiteral("correct horse battery staple"));
    }

    // The storage service, the tray and the real drive on it, and the first start until safe.
    void startRealDrive(TestSupport::S3Server &server, StatusNotifierStandIn &tray, QString &item)
    {
        ASSERT_TRUE(server.start()) << server.output().toStdString();
        ASSERT_TRUE(tray.publish(QDBusConnection::sessionBus()));
        setUpRealDrive(server);
        startUntilSafe(tray, first, item);
    }

    // Input through the X server, as a person gives it: to the window that has the keyboard.
    void focusWindow(const QString &id)
    {
        ASSERT_TRUE(display.xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), id}));
    }
    void type(const QString &text)
    {
        ASSERT_TRUE(display.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), text}))
            << text.toStdString();
    }
    void key(const QString &name) { ASSERT_TRUE(display.xdotool({QStringLiteral("key"), name})) << name.toStdString(); }
    // A click with the pointer in the middle of where `object` shows.
    void clickOn(const Accessible &object)
    {
        const QRect box = accessibility->extents(object);
        ASSERT_FALSE(box.isEmpty()) << object.name.toStdString() << " has no place on the screen";
        ASSERT_TRUE(
            display.xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(box.center().x()),
                             QString::number(box.center().y()), QStringLiteral("click"), QStringLiteral("1")}))
            << object.name.toStdString();
    }

    // Reads the window `name` of `app` until `shows` holds for it; the window then, or none
    // (with a failure naming what the window showed) when it did not within `limit`.
    std::optional<Accessible> awaitAccessible(QProcess &app, const QString &name,
                                              const std::function<bool(const Accessible &)> &shows,
                                              std::chrono::milliseconds limit = setupStepLimit)
    {
        std::optional<Accessible> window;
        const bool done = TestSupport::spinUntil(
            [&] {
                window = accessibility->window(app.processId(), name);
                if (window && shows(*window))
                    return true;
                // Each reading asks the application a few hundred questions: a pause between readings.
                TestSupport::spinUntil([] { return false; }, 100ms);
                return false;
            },
            limit);
        if (done)
            return window;
        ADD_FAILURE() << name.toStdString() << " shows: "
                      << (window ? window->names().join(u", ").toStdString() : std::string("no such window")) << "\n"
                      << app.readAll().toStdString();
        return std::nullopt;
    }

    // The setup window, once it shows the screen titled `title`, has the keyboard and `button`
    // takes input: the window takes none while a step runs.
    std::optional<Accessible> awaitSetupScreen(QProcess &app, const QString &title, const QString &button)
    {
        return awaitAccessible(app, SetupFlowPresenter::windowTitle, [&](const Accessible &window) {
            const Accessible *pressable = window.find(QStringLiteral("push button"), button);
            return window.has(Accessible::active) && window.find(QStringLiteral("label"), title) && pressable
                && pressable->usable();
        });
    }

    // The window `name` of `app`, once it has the keyboard; key presses sent before would meet
    // the window that had it (and be lost there while a dialog blocks it).
    std::optional<Accessible> awaitKeyboard(QProcess &app, const QString &name, const QString &id)
    {
        focusWindow(id);
        return awaitAccessible(app, name, [](const Accessible &window) { return window.has(Accessible::active); });
    }

    static const Accessible *focusedField(const Accessible &window)
    {
        return window.find([](const Accessible &object) {
            return object.role == QStringLiteral("text") && object.has(Accessible::focused);
        });
    }

    // The window `window` of `app`, once its field `name` (the focused one when `name` is
    // empty) holds `text`.
    bool awaitField(QProcess &app, const QString &window, const QString &name, const QString &text)
    {
        QString shown;
        const bool held = awaitAccessible(app, window, [&](const Accessible &shownWindow) {
                              const Accessible *field = name.isEmpty() ? focusedField(shownWindow)
                                                                       : shownWindow.find(QStringLiteral("text"), name);
                              shown = field ? accessibility->text(*field) : QString();
                              return shown == text;
                          }).has_value();
        EXPECT_TRUE(held) << name.toStdString() << " holds \"" << shown.toStdString() << '"';
        return held;
    }

    // First-run setup through the setup window of `app`, as a user goes through it: a new drive
    // in the loopback S3 service with its storage keys, `passphrase`, the Recovery Kit saved as
    // `kitPath` through the save dialog. Every screen is saved as a screenshot.
    void setUpThroughTheWindows(QProcess &app, const TestSupport::S3Server &server, const QString &passphrase,
                                const QString &kitPath)
    {
        const QString windowPattern = u'^' + SetupFlowPresenter::windowTitle + u'$';
        const QString setup = display.awaitWindow(windowPattern, {}, 60s);
        ASSERT_FALSE(setup.isEmpty()) << "no setup window: " << app.readAll().toStdString();
        ASSERT_TRUE(awaitKeyboard(app, SetupFlowPresenter::windowTitle, setup));

        // Return takes the new-drive road. A screen reader announces the window as one.
        const std::optional<Accessible> welcome =
            awaitSetupScreen(app, WelcomePresenter::title, WelcomePresenter::newDriveTitle);
        ASSERT_TRUE(welcome);
        EXPECT_EQ(welcome->role, QStringLiteral("frame"));
        display.saveScreenshot(QStringLiteral("whole-app-setup-1-welcome"));
        ASSERT_NO_FATAL_FAILURE(key(QStringLiteral("Return")));

        // The storage: its own keys rather than a Cloudflare token; the fields in tab order.
        std::optional<Accessible> window = awaitSetupScreen(app, StoragePresenter::title, StoragePresenter::testTitle);
        ASSERT_TRUE(window);
        const Accessible *storageKeys =
            window->find(QStringLiteral("radio button"), StoragePresenter::storageKeysSegment);
        ASSERT_TRUE(storageKeys) << window->names().join(u", ").toStdString();
        ASSERT_NO_FATAL_FAILURE(clickOn(*storageKeys));
        window = awaitAccessible(app, SetupFlowPresenter::windowTitle, [](const Accessible &shown) {
            return shown.find(QStringLiteral("text"), StoragePresenter::accessKeyIDTitle) != nullptr;
        });
        ASSERT_TRUE(window);
        const Accessible *endpoint = window->find(QStringLiteral("text"), StoragePresenter::endpointTitle);
        ASSERT_TRUE(endpoint) << window->names().join(u", ").toStdString();
        ASSERT_NO_FATAL_FAILURE(clickOn(*endpoint));
        ASSERT_NO_FATAL_FAILURE(type(server.endpoint()));
        ASSERT_NO_FATAL_FAILURE(key(QStringLiteral("Tab")));
        ASSERT_NO_FATAL_FAILURE(type(server.bucket()));
        ASSERT_NO_FATAL_FAILURE(key(QStringLiteral("Tab")));
        ASSERT_NO_FATAL_FAILURE(type(TestSupport::S3Server::accessKeyID));
        ASSERT_NO_FATAL_FAILURE(key(QStringLiteral("Tab")));
        ASSERT_NO_FATAL_FAILURE(type(TestSupport::S3Server::secretAccessKey));
        const QString &setupTitle = SetupFlowPresenter::windowTitle;
        ASSERT_TRUE(awaitField(app, setupTitle, StoragePresenter::endpointTitle, server.endpoint()));
        ASSERT_TRUE(awaitField(app, setupTitle, StoragePresenter::bucketTitle, server.bucket()));
        ASSERT_TRUE(
            awaitField(app, setupTitle, StoragePresenter::accessKeyIDTitle, TestSupport::S3Server::accessKeyID));
        display.saveScreenshot(QStringLiteral("whole-app-setup-2-storage-keys"));
        ASSERT_NO_FATAL_FAILURE(key(QStringLiteral("Return")));

        // The passphrase, typed twice (the first field has the keyboard), and the box that says
        // it cannot be recovered.
        window = awaitSetupScreen(app, PassphrasePresenter::newTitle, SetupFlowPresenter::continueTitle);
        ASSERT_TRUE(window);
        ASSERT_TRUE(focusedField(*window)) << "no field has the keyboard";
        ASSERT_NO_FATAL_FAILURE(type(passphrase));
        ASSERT_NO_FATAL_FAILURE(key(QStringLiteral("Tab")));
        ASSERT_NO_FATAL_FAILURE(type(passphrase));
        const Accessible *understood = window->find(QStringLiteral("check box"), SetupState::mustTickText);
        ASSERT_TRUE(understood) << window->names().join(u", ").toStdString();
        ASSERT_NO_FATAL_FAILURE(clickOn(*understood));
        window = awaitAccessible(app, SetupFlowPresenter::windowTitle, [](const Accessible &shown) {
            const Accessible *box = shown.find(QStringLiteral("check box"), SetupState::mustTickText);
            return box && box->has(Accessible::checked);
        });
        ASSERT_TRUE(window);
        display.saveScreenshot(QStringLiteral("whole-app-setup-3-passphrase"));
        ASSERT_NO_FATAL_FAILURE(key(QStringLiteral("Return")));

        // The file-system layer is usable here: the screen that asks to switch it on moves on
        // by itself, to the drive's name and cache.
        ASSERT_TRUE(awaitSetupScreen(app, NameAndCachePresenter::title, NameAndCachePresenter::finishTitle));
        display.saveScreenshot(QStringLiteral("whole-app-setup-4-name-and-cache"));
        ASSERT_NO_FATAL_FAILURE(key(QStringLiteral("Return")));

        // The drive starts; the Recovery Kit, saved through the save dialog.
        window = awaitSetupScreen(app, RecoveryKitPresenter::title, RecoveryKitPresenter::savedTitle);
        ASSERT_TRUE(window);
        display.saveScreenshot(QStringLiteral("whole-app-setup-5-recovery-kit"));
        const Accessible *save = window->find(QStringLiteral("push button"), RecoveryKitPresenter::saveTitle);
        ASSERT_TRUE(save) << window->names().join(u", ").toStdString();
        ASSERT_NO_FATAL_FAILURE(clickOn(*save));
        const QString saveAs = QStringLiteral("Save As");
        const QString dialog = display.awaitWindow(u'^' + saveAs + u'$', {}, 60s);
        ASSERT_FALSE(dialog.isEmpty()) << "no save dialog";
        // The name field has the keyboard, holding the suggested name once the dialog has
        // read its folder.
        ASSERT_TRUE(awaitKeyboard(app, saveAs, dialog));
        ASSERT_TRUE(awaitField(app, saveAs, {}, RecoveryKitPresenter::fileName));
        ASSERT_NO_FATAL_FAILURE(key(QStringLiteral("ctrl+a")));
        ASSERT_NO_FATAL_FAILURE(type(kitPath));
        ASSERT_TRUE(awaitField(app, saveAs, {}, kitPath));
        display.saveScreenshot(QStringLiteral("whole-app-setup-6-save-recovery-kit"));
        ASSERT_NO_FATAL_FAILURE(key(QStringLiteral("Return")));
        ASSERT_TRUE(TestSupport::spinUntil(
            [&] { return QFile::exists(kitPath) && display.windows(u'^' + saveAs + u'$').isEmpty(); }, 60s))
            << "the kit was not saved";
        ASSERT_TRUE(awaitKeyboard(app, setupTitle, setup));
        ASSERT_NO_FATAL_FAILURE(key(QStringLiteral("Return")));

        window = awaitSetupScreen(app, DonePresenter::title, DonePresenter::closeTitle);
        ASSERT_TRUE(window);
        display.saveScreenshot(QStringLiteral("whole-app-setup-7-done"));
        const Accessible *close = window->find(QStringLiteral("push button"), DonePresenter::closeTitle);
        ASSERT_TRUE(close);
        ASSERT_NO_FATAL_FAILURE(clickOn(*close));
        ASSERT_TRUE(TestSupport::spinUntil([&] { return display.windows(windowPattern).isEmpty(); }, 60s))
            << "the setup window stayed";
    }

    void start(QProcess &app)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display.display());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), system.address());
        environment.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        // An X11 session: the search hot key is grabbed.
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
        if (!engine.isEmpty())
            environment.insert(QStringLiteral("CORVANE_DRIVE_RCLONE"), engine);
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.start(QStringLiteral(CORVANE_APP_PROGRAM), {});
        ASSERT_TRUE(app.waitForStarted(10000));
    }

    // Starts `app` on the drive and waits until its tray item says that every file is safe and
    // the drive is mounted; `item` is that tray item.
    void startUntilSafe(StatusNotifierStandIn &tray, QProcess &app, QString &item)
    {
        tray.forget();
        start(app);
        item = awaitItem(tray);
        ASSERT_FALSE(item.isEmpty()) << app.readAll().toStdString();
        ASSERT_TRUE(TestSupport::spinUntil([&] { return toolTip(item) == safeToolTip && mounted(); }, 90s))
            << toolTip(item).toStdString() << app.readAll().toStdString();
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
        TestSupport::spinUntil([&] { return !tray.items().isEmpty(); }, 60s);
        return tray.items().value(0);
    }

    QVariant itemProperty(const QString &item, const QString &name)
    {
        QDBusMessage get =
            QDBusMessage::createMethodCall(item, QStringLiteral("/StatusNotifierItem"),
                                           QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
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
    // Only for the tests that read windows as a screen reader does.
    std::optional<TestSupport::AccessibilityBus> accessibility;
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

TEST_F(AppShellTest, TrayItemShowsTheStatusAndItsMenuAndHotKeyOpenWindowsAndQuits)
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
    EXPECT_EQ(labels.mid(2),
              (QStringList{"Search drive…", "Open in File Manager", "Uploads…", "Recently Deleted…",
                           "Copy all my files to this computer…", "Share Files…", "Shared Links…", "Check for Updates…",
                           "Settings…", "Quit Ovra"}));
    EXPECT_TRUE(display.windows(QStringLiteral(".")).isEmpty()) << "no window opens at launch with a tray";

    // The search hot key, pressed anywhere, opens search once the drive is set up.
    ASSERT_TRUE(display.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+o")}));
    const QString search = display.awaitWindow(QStringLiteral("^Search Ovra$"));
    EXPECT_FALSE(search.isEmpty()) << "the hot key opened no search window";
    TestSupport::spinUntil([] { return false; }, 300ms);
    display.saveScreenshot(QStringLiteral("shell-search-from-hot-key"));

    // Each window entry opens its window; a second click brings the same window forward.
    const struct {
        const char *entry;
        const char *title;
        const char *screenshot;
    } windows[] = {
        {"Uploads…", "^Uploads$", "shell-uploads-from-menu"},
        {"Recently Deleted…", "^Recently Deleted$", "shell-recently-deleted-from-menu"},
        {"Copy all my files to this computer…", "^Copy All My Files$", "shell-copy-all-from-menu"},
        {"Shared Links…", "^Shared Links$", "shell-shared-links-from-menu"},
        {"Settings…", "^Ovra Settings$", "shell-settings-from-menu"},
        {"Search drive…", "^Search Ovra$", "shell-search-from-menu"},
    };
    for (const auto &[entry, title, screenshot] : windows) {
        ASSERT_TRUE(click(item, QString::fromUtf8(entry))) << entry;
        EXPECT_FALSE(display.awaitWindow(QString::fromUtf8(title)).isEmpty()) << entry << " opened no window";
        TestSupport::spinUntil([] { return false; }, 300ms);
        display.saveScreenshot(QString::fromUtf8(screenshot));
        ASSERT_TRUE(click(item, QString::fromUtf8(entry))) << entry;
        TestSupport::spinUntil([] { return false; }, 300ms);
        EXPECT_EQ(display.windows(QString::fromUtf8(title)).size(), 1) << entry << " opened a second window";
    }

    // "Share Files…": Qt's own open panel, which picks files and folders together.
    ASSERT_TRUE(click(item, QStringLiteral("Share Files…")));
    const QString panel = display.awaitWindow(QStringLiteral("^Share$"));
    ASSERT_FALSE(panel.isEmpty()) << "Share Files… opened no panel";
    TestSupport::spinUntil([] { return false; }, 300ms);
    display.saveScreenshot(QStringLiteral("shell-share-files-panel"));
    press(panel, {QStringLiteral("Escape")});
    EXPECT_TRUE(TestSupport::spinUntil([&] { return display.windows(QStringLiteral("^Share$")).isEmpty(); }, 60s));

    // The update check says that this build does not update itself.
    ASSERT_TRUE(click(item, QStringLiteral("Check for Updates…")));
    const QString alert = display.awaitWindow(QStringLiteral("^Ovra$"));
    ASSERT_FALSE(alert.isEmpty()) << "the menu entry opened no window";
    display.saveScreenshot(QStringLiteral("shell-no-updates-alert"));
    press(alert, {QStringLiteral("Return")});
    EXPECT_TRUE(TestSupport::spinUntil([&] { return display.windows(QStringLiteral("^Ovra$")).isEmpty(); }, 60s));

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
    ASSERT_TRUE(TestSupport::spinUntil([&] { return above(setup, home); }, 60s))
        << display.stacking().join(u' ').toStdString() << " home " << home.toStdString() << " setup "
        << setup.toStdString();
    start(second);
    EXPECT_TRUE(endsCleanly(second, 30s)) << second.readAll().toStdString();
    EXPECT_TRUE(TestSupport::spinUntil([&] { return above(home, setup); }, 60s))
        << "the first instance did not bring its home window forward: " << display.stacking().join(u' ').toStdString()
        << " home " << home.toStdString() << " setup " << setup.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);

    // A tray comes now: the home window the user brought forward stays.
    StatusNotifierStandIn tray;
    ASSERT_TRUE(tray.publish(QDBusConnection::sessionBus()));
    emit tray.StatusNotifierHostRegistered();
    EXPECT_FALSE(awaitItem(tray).isEmpty()) << "no tray item once the tray came";
    TestSupport::spinUntil([] { return false; }, 500ms);
    EXPECT_EQ(display.windows(QStringLiteral("^Ovra$")), QStringList{home});

    ::kill(pid_t(first.processId()), SIGTERM);
    EXPECT_TRUE(endsCleanly(first)) << first.readAll().toStdString();
}

// Started before the panel (at login): the home window stands in only until the tray comes.
TEST_F(AppShellTest, TheHomeWindowStandingInForTheTrayGoesWhenATrayComes)
{
    start(first);
    ASSERT_FALSE(display.awaitWindow(QStringLiteral("^Ovra$")).isEmpty()) << first.readAll().toStdString();
    StatusNotifierStandIn tray;
    ASSERT_TRUE(tray.publish(QDBusConnection::sessionBus()));
    emit tray.StatusNotifierHostRegistered();
    EXPECT_FALSE(awaitItem(tray).isEmpty()) << "no tray item once the tray came";
    EXPECT_TRUE(TestSupport::spinUntil([&] { return display.windows(QStringLiteral("^Ovra$")).isEmpty(); }, 60s))
        << "the home window stayed after the tray came";
    display.saveScreenshot(QStringLiteral("shell-tray-came-after-start"));

    ::kill(pid_t(first.processId()), SIGTERM);
    EXPECT_TRUE(endsCleanly(first)) << first.readAll().toStdString();
}

TEST_F(AppShellTest, QuitWithUploadsPendingAsksAndWaitKeepsTheDriveRunningButSigtermAsksNothing)
{
    StatusNotifierStandIn tray;
    ASSERT_TRUE(tray.publish(QDBusConnection::sessionBus()));
    setUpDrive(2);
    start(first);
    const QString item = awaitItem(tray);
    ASSERT_FALSE(item.isEmpty()) << first.readAll().toStdString();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return mounted(); }, 60s));
    // The question depends on the pending count the application has read from the engine.
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return toolTip(item).startsWith(QStringLiteral("Ovra \u2014 Uploading 2 files")); }, 60s))
        << toolTip(item).toStdString();

    // From the menu: the question; "Wait" keeps everything running.
    ASSERT_TRUE(click(item, QStringLiteral("Quit Ovra")));
    QString question = display.awaitWindow(QStringLiteral("^Ovra$"));
    ASSERT_FALSE(question.isEmpty()) << "no question while uploads are pending";
    display.saveScreenshot(QStringLiteral("shell-quit-question"));
    press(question, {QStringLiteral("Return")});
    ASSERT_TRUE(TestSupport::spinUntil([&] { return display.windows(QStringLiteral("^Ovra$")).isEmpty(); }, 60s));
    TestSupport::spinUntil([] { return false; }, 1s);
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_TRUE(mounted());
    EXPECT_TRUE(engineRunning());

    // SIGTERM asks nothing, as nobody may be there to answer (a session ending): the drive
    // stops and the process ends.
    ::kill(pid_t(first.processId()), SIGTERM);
    bool asked = false;
    TestSupport::spinUntil(
        [&] {
            asked = asked || !display.windows(QStringLiteral("^Ovra$")).isEmpty();
            return first.state() == QProcess::NotRunning;
        },
        60s);
    EXPECT_FALSE(asked) << "a question on SIGTERM";
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
    EXPECT_TRUE(TestSupport::spinUntil([&] { return inhibitors().isEmpty(); }, 60s)) << "the inhibitor is still held";
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
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !states.isEmpty() && states.last().contains("notes.txt"); }, 60s))
        << states.join(u'\n').toStdString();

    // A hello: the same state again, although nothing changed.
    const qsizetype before = states.size();
    ASSERT_TRUE(post(KeepShared::KeepBus::helloSignal, {}));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return states.size() > before; }, 60s));
    EXPECT_EQ(states.last(), states.at(before - 1));

    ::kill(pid_t(first.processId()), SIGTERM);
    EXPECT_TRUE(endsCleanly(first)) << first.readAll().toStdString();
    EXPECT_FALSE(engineRunning());
}

// As a user meets it: the first start with nothing set up opens setup; the user goes through
// it with keyboard and pointer to a running drive, files written through the mount reach the
// storage, quitting from the menu stops the drive, and the next start brings the drive and its
// files back without setup.
TEST_F(AppShellTest, SetUpThroughTheWindowsThenTheDriveKeepsItsFilesAcrossQuitAndStart)
{
    TestSupport::S3Server server(QStringLiteral("my-drive"));
    ASSERT_TRUE(server.start()) << server.output().toStdString();
    StatusNotifierStandIn tray;
    ASSERT_TRUE(tray.publish(QDBusConnection::sessionBus()));
    accessibility.emplace(display.display());
    ASSERT_TRUE(accessibility->start()) << accessibility->output().toStdString();
    engine = TestSupport::UpstreamEngine::program();
    keyService = DriveProfile::keychainService(std::nullopt);
    ASSERT_FALSE(QFile::exists(configFile()));

    start(first);
    QString item = awaitItem(tray);
    ASSERT_FALSE(item.isEmpty()) << first.readAll().toStdString();
    const QString passphrase = QStringLiteral("a slow boat along the quiet river");
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("Documents")));
    const QString kitPath = home.filePath(QStringLiteral("Documents/My Ovra Recovery Kit.txt"));
    ASSERT_NO_FATAL_FAILURE(setUpThroughTheWindows(first, server, passphrase, kitPath));

    // What setup left: the keys in the keyring, and a kit that opens the drive's storage with
    // the passphrase.
    followSavedSettings();
    const auto stored = TestSupport::await(KeychainSecretStore(keyService).load());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->first, server.secrets());
    EXPECT_EQ(stored->second, passphrase);
    const QList<QByteArray> kitLines = readFile(kitPath).split('\n');
    const auto codeLine =
        std::ranges::find_if(kitLines, [](const QByteArray &line) { return line.startsWith(RecoveryKit::prefix); });
    ASSERT_NE(codeLine, kitLines.end()) << "no code in the saved kit: " << kitLines.join('\n').toStdString();
    EXPECT_EQ(RecoveryKit::decode(QString::fromUtf8(*codeLine), passphrase),
              RecoveryKitPayload::make(server.secrets(), settings.driveName));

    ASSERT_TRUE(TestSupport::spinUntil([&] { return toolTip(item) == safeToolTip && mounted(); }, 90s))
        << toolTip(item).toStdString() << first.readAll().toStdString();
    display.saveScreenshot(QStringLiteral("whole-app-1-drive-running"));

    const qint64 storedBefore = server.bytesStored();
    const QByteArray notes = "Milk, eggs, a new bike chain.\n";
    const QByteArray photo = randomBytes(3 << 20);
    ASSERT_TRUE(QDir(mountFolder).mkpath(QStringLiteral("Photos")));
    ASSERT_TRUE(writeFile(mountFolder + QStringLiteral("/notes.txt"), notes));
    ASSERT_TRUE(writeFile(mountFolder + QStringLiteral("/Photos/bike.raw"), photo));
    // The tray may say "safe" before the engine starts uploading: the storage tells when they are there.
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] {
            return server.bytesStored() - storedBefore >= sealedSize(notes.size()) + sealedSize(photo.size())
                && toolTip(item) == safeToolTip;
        },
        120s))
        << toolTip(item).toStdString() << server.objectNames().join(u' ').toStdString();
    display.saveScreenshot(QStringLiteral("whole-app-2-files-safe"));

    ASSERT_TRUE(click(item, QStringLiteral("Quit Ovra")));
    EXPECT_TRUE(endsCleanly(first)) << first.readAll().toStdString();
    EXPECT_FALSE(engineRunning());
    EXPECT_FALSE(mounted());

    ASSERT_NO_FATAL_FAILURE(startUntilSafe(tray, second, item));
    EXPECT_TRUE(display.windows(QStringLiteral("^Set up")).isEmpty()) << "setup opened again";
    EXPECT_EQ(readFile(mountFolder + QStringLiteral("/notes.txt")), notes);
    EXPECT_TRUE(readFile(mountFolder + QStringLiteral("/Photos/bike.raw")) == photo);
    display.saveScreenshot(QStringLiteral("whole-app-3-after-restart"));

    ASSERT_TRUE(click(item, QStringLiteral("Quit Ovra")));
    EXPECT_TRUE(endsCleanly(second)) << second.readAll().toStdString();
}

// The engine killed outright in the middle of an upload: the drive starts it again, and the
// file reaches the storage whole (read back on a later start with the local cache emptied).
TEST_F(AppShellTest, AnEngineKilledDuringALargeUploadIsRestartedAndTheFileArrivesWhole)
{
    TestSupport::S3Server server(QStringLiteral("my-drive"));
    StatusNotifierStandIn tray;
    QString item;
    ASSERT_NO_FATAL_FAILURE(startRealDrive(server, tray, item));

    const qint64 storedBefore = server.bytesStored();
    const QByteArray large = randomBytes(96 << 20);
    ASSERT_TRUE(writeFile(mountFolder + QStringLiteral("/large.bin"), large));
    // Killed while the storage holds part of the file.
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] {
            const qint64 stored = server.bytesStored() - storedBefore;
            return stored > 0 && stored < large.size();
        },
        60s))
        << "no upload seen under way: " << server.bytesStored() - storedBefore << " bytes stored";
    display.saveScreenshot(QStringLiteral("whole-app-4-uploading"));
    const std::vector<pid_t> killed = engines();
    ASSERT_FALSE(killed.empty());
    for (const pid_t pid : killed)
        ::kill(pid, SIGKILL);

    EXPECT_TRUE(TestSupport::spinUntil(
        [&] {
            const std::vector<pid_t> now = engines();
            return !now.empty()
                && std::ranges::none_of(now, [&](pid_t pid) { return std::ranges::count(killed, pid) > 0; });
        },
        60s))
        << "the engine was not started again: " << first.readAll().toStdString();
    // With no window open the tray looks every 10 s, so it may still say "safe" from before the
    // restart: the storage tells when the file is there.
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] {
            return server.bytesStored() - storedBefore >= sealedSize(large.size()) && toolTip(item) == safeToolTip
                && mounted();
        },
        300s))
        << toolTip(item).toStdString() << first.readAll().toStdString();
    display.saveScreenshot(QStringLiteral("whole-app-5-safe-after-engine-restart"));
    ASSERT_TRUE(click(item, QStringLiteral("Quit Ovra")));
    const bool ended = endsCleanly(first);
    display.saveScreenshot(QStringLiteral("whole-app-6-quit-after-engine-restart"));
    ASSERT_TRUE(ended) << first.readAll().toStdString();

    // Read back from the storage alone.
    ASSERT_TRUE(QDir(cacheDir).removeRecursively());
    ASSERT_NO_FATAL_FAILURE(startUntilSafe(tray, second, item));
    EXPECT_TRUE(readFile(mountFolder + QStringLiteral("/large.bin")) == large);
    ASSERT_TRUE(click(item, QStringLiteral("Quit Ovra")));
    EXPECT_TRUE(endsCleanly(second)) << second.readAll().toStdString();
}

#include "AppShellTest.moc"
