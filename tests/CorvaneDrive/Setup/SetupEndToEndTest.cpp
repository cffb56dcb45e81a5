// From an empty machine to a working drive, as the application does it: the delegate with the
// production model (AppModel::live), its launch opening the setup window by itself, the engine
// being Debian's rclone mounting over FUSE under the bindfs file-system layer, an S3 server on
// loopback and the keys in a private keyring (keyring-session). A second machine (another home and configuration) then
// opens the same drive with the first one's Recovery Kit file. Every screen passed is saved under <build>/screenshots.
#include "CorvaneDrive/Setup/SetupWindow.h"

#include "CorvaneDrive/Setup/DoneView.h"
#include "CorvaneDrive/Setup/NameAndCacheView.h"
#include "CorvaneDrive/Setup/PassphraseView.h"
#include "CorvaneDrive/Setup/RecoveryKitPresenter.h"
#include "CorvaneDrive/Setup/RecoveryKitView.h"
#include "CorvaneDrive/Setup/StorageView.h"
#include "CorvaneDrive/Setup/WelcomeView.h"
#include "CorvaneDrive/Shell/AppDelegate.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/mount/LeftoverDrive.h"
#include "DriveCore/platform/MountTable.h"
#include "DriveCore/platform/ProcessRunner.h"

#include "../../DriveCore/model/AppModelFixture.h"
#include "SetupWindowDriver.h"
#include "support/FuseMount.h"
#include "support/Modal.h"
#include "support/S3Server.h"
#include "support/Screenshots.h"
#include "support/UpstreamEngine.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>

#include <csignal>

using namespace CorvaneDrive;
using namespace DriveCore;
using namespace std::chrono_literals;
using namespace SetupWindowDriver;
using AppModelTest::finishWithin;
using TestSupport::saveScreenshot;
using Screen = SetupFlowPresenter::Screen;

namespace {

// The engine's one-shot commands, the organise step and the mount take a while.
constexpr std::chrono::seconds stepLimit(180);

// One machine: its own home and configuration folders, and the application's delegate over the
// production model, started as the program starts it.
struct Machine {
    Machine(TestSupport::ScopedEnvironment &env, const QString &program)
    {
        AppModelTest::useHome(env, home);
        // No logind here: the power-off watch stays idle.
        delegate = std::make_unique<AppDelegate>(AppModel::live(program), QDBusConnection::sessionBus(),
                                                 QDBusConnection(QStringLiteral("no system bus")));
        // The file-system layer's help page is not what this test is about.
        delegate->desktop().openUrl = [](const QUrl &) {};
        delegate->applicationDidFinishLaunching();
    }

    ~Machine()
    {
        if (delegate)
            finishWithin(delegate->model().shutdown(), 60s);
        delegate.reset();
        for (const QString &cache : caches)
            for (const ProcessHandle &engine : LeftoverDrive::find(cache))
                engine.signal(SIGKILL);
        for (const QString &mount : mounts)
            TestSupport::FuseMount(mount).unmount();
    }

    // The setup window that the launch opened by itself.
    SetupWindow *setupWindow()
    {
        SetupWindow *window = nullptr;
        TestSupport::spinUntil(
            [&] {
                window = qobject_cast<SetupWindow *>(delegate->windows().window(MenuContent::setupWindow));
                return window && window->isVisible() && window->shownScreen() == Screen::welcome;
            },
            stepLimit);
        return window;
    }

    // Remembers what the drive leaves behind, for the clean-up.
    void follow()
    {
        const std::optional<DriveSettings> &settings = delegate->model().settings();
        if (!settings)
            return;
        caches << DriveLayout::cacheDir(settings->deviceID);
        mounts << DriveLayout::mountPath(settings->driveName) << DriveLayout::backingPath(settings->deviceID);
    }

    bool running() const { return delegate->model().phase() == AppModelPhase{AppModelPhase::running}; }
    // The drive shows at its mount folder (through the file-system layer over the engine's mount).
    bool mounted() const
    {
        const std::optional<QString> mount = delegate->model().mountPath();
        return mount && !MountTable::typesMountedAt(*mount).isEmpty();
    }

    QTemporaryDir home;
    std::unique_ptr<AppDelegate> delegate;
    QStringList caches;
    QStringList mounts;
};

class SetupEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) << "run under keyring-session";
        ASSERT_TRUE(server.start()) << server.output().toStdString();
        program = TestSupport::UpstreamEngine::program();
        clearKeyring();
    }

    void TearDown() override { clearKeyring(); }

    static void clearKeyring()
    {
        finishWithin(KeychainSecretStore(DriveProfile::keychainService(std::nullopt)).deleteAll(), 30s);
    }

    // Waits for the window to leave a running step; false when it stays busy past the limit.
    static bool settled(SetupWindow &window)
    {
        return TestSupport::spinUntil([&] { return !window.setup()->isBusy(); }, stepLimit);
    }

    static bool shows(SetupWindow &window, Screen wanted)
    {
        return TestSupport::spinUntil([&] { return window.shownScreen() == wanted; }, stepLimit);
    }

    // Runs rclone by hand on the drive's remotes, as a third party with the keys would.
    RcloneResult rclone(const QStringList &arguments, const QString &passphrase)
    {
        Environment environment = RcloneCommand::environment(server.secrets(), RcloneCommand::obscure(passphrase));
        environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        environment.insert(QStringLiteral("HOME"), tools.path());
        return finishWithin(ProcessRunner::run(QStringLiteral("/usr/bin/rclone"), arguments, environment), 60s);
    }

    TestSupport::ScopedEnvironment env;
    TestSupport::S3Server server;
    QTemporaryDir tools;
    QString program;
};

TEST_F(SetupEndToEndTest, ANewDriveSetUpRunsAndASecondMachineOpensItWithTheRecoveryKit)
{
    const QString kitPath = tools.filePath(QStringLiteral("Ovra Recovery Kit.txt"));
    const QByteArray text = "Minutes of the meeting, in confidence.\n";
    QString passphrase;
    QString code;
    {
        // The first machine: nothing set up, so the launch opens the setup window.
        Machine first(env, program);
        SetupWindow *window = first.setupWindow();
        ASSERT_TRUE(window) << "the launch opened no setup window";
        EXPECT_EQ(first.delegate->model().phase(), AppModelPhase{AppModelPhase::needsSetup});
        saveScreenshot(*window, QStringLiteral("setup-e2e-welcome"));
        click(screen<WelcomeView>(*window)->defaultButton());

        auto *storage = screen<StorageView>(*window);
        click(storage->storageKeysSegment());
        typeInto(storage->endpointField(), server.endpoint());
        typeInto(storage->bucketField(), server.bucket());
        typeInto(storage->accessKeyIDField(), TestSupport::S3Server::accessKeyID);
        typeInto(storage->secretAccessKeyField(), TestSupport::S3Server::secretAccessKey);
        saveScreenshot(*window, QStringLiteral("setup-e2e-storage-keys"));
        click(storage->defaultButton());
        ASSERT_TRUE(settled(*window));
        ASSERT_EQ(window->shownScreen(), Screen::newPassphrase)
            << shownError(*window).value_or(QString()).toStdString();

        auto *chosen = screen<PassphraseView>(*window);
        click(chosen->generateButton());
        passphrase = chosen->passphraseField()->text();
        ASSERT_FALSE(passphrase.isEmpty());
        click(chosen->acknowledgedToggle());
        saveScreenshot(*window, QStringLiteral("setup-e2e-passphrase-generated"));
        QTest::keyClick(chosen->confirmField(), Qt::Key_Return);
        ASSERT_TRUE(settled(*window));

        // The drive engine's layer needs no switch: the turn-on step passes by itself.
        ASSERT_TRUE(shows(*window, Screen::nameAndCache)) << shownError(*window).value_or(QString()).toStdString();
        auto *name = screen<NameAndCacheView>(*window);
        ASSERT_TRUE(name->slider()) << "no room for a cache on this disk";
        // As much as this disk allows (its free space is real, so the figure varies).
        name->slider()->setFocus();
        QTest::keyClick(name->slider(), Qt::Key_End);
        const qint64 cacheGB = window->setup()->cacheGB();
        saveScreenshot(*window, QStringLiteral("setup-e2e-name-and-cache"));
        click(name->defaultButton());
        ASSERT_TRUE(settled(*window));
        ASSERT_EQ(window->shownScreen(), Screen::recoveryKit) << shownError(*window).value_or(QString()).toStdString();
        first.follow();

        // Setup ends with the drive running and mounted, as chosen.
        ASSERT_TRUE(TestSupport::spinUntil([&] { return first.running(); }, stepLimit))
            << first.delegate->model().statusLine().toStdString();
        const std::optional<QString> mount = first.delegate->model().mountPath();
        ASSERT_TRUE(mount);
        ASSERT_TRUE(TestSupport::spinUntil([&] { return first.mounted(); }, 60s));
        EXPECT_EQ(first.delegate->model().settings()->cacheGB, cacheGB);

        // The Recovery Kit, saved where the user picks.
        code = window->setup()->step().code;
        saveScreenshot(*window, QStringLiteral("setup-e2e-recovery-kit"));
        TestSupport::onNextModal<QFileDialog>([&](QFileDialog &dialog) {
            dialog.selectFile(kitPath);
            static_cast<QDialog &>(dialog).accept(); // the dialog's own accept checks the name
        });
        click(screen<RecoveryKitView>(*window)->saveButton());
        QFile kit(kitPath);
        ASSERT_TRUE(kit.open(QIODevice::ReadOnly));
        EXPECT_EQ(kit.readAll(), RecoveryKitPresenter::fileBytes(code));
        click(screen<RecoveryKitView>(*window)->defaultButton());
        ASSERT_EQ(window->shownScreen(), Screen::done);
        saveScreenshot(*window, QStringLiteral("setup-e2e-done"));
        click(screen<DoneView>(*window)->closeButton());

        // A file saved in the drive arrives in the bucket, its name and contents encrypted.
        {
            QFile notes(*mount + QStringLiteral("/notes.txt"));
            ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
            ASSERT_EQ(notes.write(text), text.size());
        }
        ASSERT_TRUE(TestSupport::spinUntil(
            [&] {
                return rclone({QStringLiteral("lsf"), QStringLiteral("drivecrypt:Drive")}, passphrase).stdoutBytes
                    == "notes.txt\n";
            },
            60s))
            << server.objectNames().join(u',').toStdString();
        const QStringList objects = server.objectNames();
        EXPECT_GE(objects.size(), 2) << "the drive's check object and the file";
        for (const QString &object : objects) {
            EXPECT_FALSE(object.contains(QStringLiteral("notes"))) << "names are encrypted";
            const RcloneResult raw =
                rclone({QStringLiteral("cat"), QStringLiteral("drive:bucket/") + object}, passphrase);
            ASSERT_EQ(raw.status, 0) << raw.stderrText().toStdString();
            EXPECT_FALSE(raw.stdoutBytes.contains(text)) << "contents are encrypted";
        }
        ASSERT_TRUE(TestSupport::spinUntil([&] { return first.delegate->model().pendingUploads() == 0; }, 60s));
    }
    EXPECT_FALSE(server.objectNames().isEmpty());

    // The second machine: its own home and configuration, and a keyring without the keys.
    clearKeyring();
    QFile kit(kitPath);
    ASSERT_TRUE(kit.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = kit.readAll().split('\n');
    ASSERT_EQ(lines.size(), 7);
    Machine second(env, program);
    SetupWindow *window = second.setupWindow();
    ASSERT_TRUE(window) << "the launch opened no setup window";
    click(screen<WelcomeView>(*window)->existingDriveButton());
    auto *storage = screen<StorageView>(*window);
    typeInto(storage->codeField(), QString::fromUtf8(lines[4]));
    typeInto(storage->kitPassphraseField(), passphrase);
    click(storage->defaultButton());
    ASSERT_TRUE(settled(*window));
    EXPECT_EQ(storage->endpointField()->text(), server.endpoint()) << "the kit fills in the storage";
    saveScreenshot(*window, QStringLiteral("setup-e2e-existing-storage-from-kit"));
    click(storage->defaultButton());
    ASSERT_TRUE(settled(*window));
    ASSERT_EQ(window->shownScreen(), Screen::existingPassphrase)
        << shownError(*window).value_or(QString()).toStdString();
    QTest::keyClick(screen<PassphraseView>(*window)->passphraseField(), Qt::Key_Return);
    ASSERT_TRUE(settled(*window));
    ASSERT_TRUE(shows(*window, Screen::nameAndCache)) << shownError(*window).value_or(QString()).toStdString();
    click(screen<NameAndCacheView>(*window)->defaultButton());
    ASSERT_TRUE(settled(*window));
    ASSERT_EQ(window->shownScreen(), Screen::recoveryKit) << shownError(*window).value_or(QString()).toStdString();
    second.follow();
    EXPECT_FALSE(window->setup()->step().code.isEmpty());
    click(screen<RecoveryKitView>(*window)->defaultButton());
    ASSERT_EQ(window->shownScreen(), Screen::done);
    saveScreenshot(*window, QStringLiteral("setup-e2e-existing-done"));

    // The same drive, with the first machine's file in it.
    ASSERT_TRUE(TestSupport::spinUntil([&] { return second.running(); }, stepLimit))
        << second.delegate->model().statusLine().toStdString();
    const std::optional<QString> mount = second.delegate->model().mountPath();
    ASSERT_TRUE(mount);
    EXPECT_TRUE(mount->startsWith(second.home.path())) << mount->toStdString();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return second.mounted(); }, 60s));
    EXPECT_EQ(QDir(*mount).entryList(QDir::Files), QStringList{QStringLiteral("notes.txt")});
    QFile notes(*mount + QStringLiteral("/notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
    EXPECT_EQ(notes.readAll(), text);
    notes.close();
}

} // namespace
