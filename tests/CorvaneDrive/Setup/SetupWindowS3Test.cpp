// The setup window end to end as far as setup goes without the app model: Debian's rclone
// against an S3 server on loopback, the keys in a private keyring (runs under
// tests/support/keyring-session), the real file-system layer check, and a stand-in for the
// model's start of the drive. One computer sets up a new drive and saves its Recovery Kit; a
// second opens the same drive with that kit. Every face is saved under <build>/screenshots.
#include "CorvaneDrive/Setup/SetupWindow.h"

#include "CorvaneDrive/Setup/DoneView.h"
#include "CorvaneDrive/Setup/NameAndCacheView.h"
#include "CorvaneDrive/Setup/PassphraseView.h"
#include "CorvaneDrive/Setup/RecoveryKitPresenter.h"
#include "CorvaneDrive/Setup/RecoveryKitView.h"
#include "CorvaneDrive/Setup/SetupStatusArea.h"
#include "CorvaneDrive/Setup/StorageView.h"
#include "CorvaneDrive/Setup/TurnOnDriveView.h"
#include "CorvaneDrive/Setup/WelcomeView.h"
#include "DriveCore/keys/DriveConnection.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/mount/FSKitMount.h"
#include "DriveCore/platform/UserDefaults.h"

#include "SetupFixture.h"
#include "SetupWindowDriver.h"
#include "support/Modal.h"
#include "support/S3Server.h"
#include "support/Screenshots.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <gtest/gtest.h>

using namespace CorvaneDrive;
using DriveCore::SetupState;
using TestSupport::saveScreenshot;
using Screen = SetupFlowPresenter::Screen;
using namespace SetupWindowDriver;

namespace {

// The engine's one-shot commands and the Recovery Kit's key derivation take a while, longest
// in sanitizer builds.
constexpr std::chrono::seconds stepLimit(180);

// One computer: its own keyring item, settings file and file-system layer.
struct Computer {
    Computer(const QString &name, const QString &rclone, const QString &folder)
        : store(std::make_shared<DriveCore::KeychainSecretStore>(QStringLiteral("com.corvane.drive.setupwindow.")
                                                                 + name)),
          defaults(
              std::make_shared<DriveCore::UserDefaults>(folder + QStringLiteral("/") + name + QStringLiteral(".json")))
    {
        context.makeSetupState = [this, rclone, name] {
            DriveCore::SetupDeps deps;
            deps.connection = std::make_shared<DriveCore::DriveConnection>(rclone);
            deps.secrets = store;
            deps.saveSettings = [this](const DriveCore::DriveSettings &settings) { settings.save(*defaults); };
            // The app model starts the drive here; setup only needs to know it was asked.
            deps.startDrive = [this]() -> QCoro::Task<> {
                ++starts;
                co_return;
            };
            deps.enableStartAtLogin = [] { return true; };
            deps.setOrganisePending = [this](std::optional<DriveCore::OrganiseKind> kind) {
                DriveCore::OrganisePending::save(kind, *defaults);
            };
            deps.freeDiskBytes = [] { return qint64(100'000'000'000); };
            deps.deviceName = name;
            // As the model asks it: the layer's own check, answered within 5 s.
            deps.driveSwitchOn = [this] {
                const DriveCore::FSKitMount::Setup current = layer;
                return DriveCore::FSKitMount::answer(
                    std::chrono::seconds(5), [current] { return DriveCore::FSKitMount::extensionEnabled(current); });
            };
            return std::make_unique<SetupState>(deps);
        };
        context.openUrl = [this](const QUrl &url) { opened << url; };
        context.sleep = sleep.sleep();
        context.mountPath = [] { return std::optional<QString>(); };
    }

    std::shared_ptr<DriveCore::KeychainSecretStore> store;
    std::shared_ptr<DriveCore::UserDefaults> defaults;
    DriveCore::FSKitMount::Setup layer;
    SetupFixture::ManualSleeps sleep;
    SetupContext context;
    QList<QUrl> opened;
    int starts = 0;
};

class SetupWindowS3Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) << "run under keyring-session";
        rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
        ASSERT_FALSE(rclone.isEmpty());
        ASSERT_TRUE(server.start()) << server.output().toStdString();
    }

    // Waits for the window to leave a running step; false when it stays busy past the limit.
    static bool settled(SetupWindow &window)
    {
        return TestSupport::spinUntil([&] { return !window.setup()->isBusy(); }, stepLimit);
    }

    std::unique_ptr<SetupWindow> open(Computer &computer)
    {
        auto window = std::make_unique<SetupWindow>(computer.context);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return window;
    }

    void typeKeys(StorageView *storage, const QString &bucket, const QString &accessKeyID)
    {
        click(storage->storageKeysSegment());
        replaceText(storage->endpointField(), server.endpoint());
        replaceText(storage->bucketField(), bucket);
        replaceText(storage->accessKeyIDField(), accessKeyID);
        replaceText(storage->secretAccessKeyField(), TestSupport::S3Server::secretAccessKey);
    }

    TestSupport::S3Server server;
    QString rclone;
    QTemporaryDir folder;
};

TEST_F(SetupWindowS3Test, NewDriveThenASecondComputerOpensItWithTheRecoveryKit)
{
    Computer first(QStringLiteral("first"), rclone, folder.path());
    Computer second(QStringLiteral("second"), rclone, folder.path());
    TestSupport::await(first.store->deleteAll());
    TestSupport::await(second.store->deleteAll());
    first.layer.program = QStringLiteral("/nonexistent/bindfs");

    // The first computer: a new drive.
    auto window = open(first);
    click(screen<WelcomeView>(*window)->defaultButton());
    auto *storage = screen<StorageView>(*window);

    // Storage that refuses the keys, then a bucket that is not there; the fields stay.
    typeKeys(storage, server.bucket(), QStringLiteral("NOT-A-KEY"));
    click(storage->defaultButton());
    ASSERT_TRUE(settled(*window));
    EXPECT_EQ(shownError(*window),
              QStringLiteral("Those storage keys didn't work. Check the Access Key ID and Secret Access Key."));
    EXPECT_EQ(storage->accessKeyIDField()->text(), QStringLiteral("NOT-A-KEY"));
    saveScreenshot(*window, QStringLiteral("setup-s3-error-wrong-keys"));

    typeKeys(storage, QStringLiteral("no-such-bucket"), TestSupport::S3Server::accessKeyID);
    QTest::keyClick(storage->bucketField(), Qt::Key_Return);
    ASSERT_TRUE(settled(*window));
    EXPECT_EQ(shownError(*window), QStringLiteral("That bucket wasn't found. Check the bucket name."));
    saveScreenshot(*window, QStringLiteral("setup-s3-error-missing-bucket"));

    typeKeys(storage, server.bucket(), TestSupport::S3Server::accessKeyID);
    click(storage->defaultButton());
    ASSERT_TRUE(settled(*window));
    ASSERT_EQ(window->shownScreen(), Screen::newPassphrase) << shownError(*window).value_or(QString()).toStdString();

    auto *passphrase = screen<PassphraseView>(*window);
    click(passphrase->generateButton());
    const QString secret = passphrase->passphraseField()->text();
    click(passphrase->acknowledgedToggle());
    QTest::keyClick(passphrase->confirmField(), Qt::Key_Return);
    ASSERT_TRUE(settled(*window));
    ASSERT_EQ(window->shownScreen(), Screen::turnOnDrive) << shownError(*window).value_or(QString()).toStdString();

    // The layer is not usable: nothing moves until it is.
    auto *turnOn = screen<TurnOnDriveView>(*window);
    click(turnOn->defaultButton());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return shownError(*window).has_value(); }, stepLimit));
    EXPECT_EQ(shownError(*window), SetupState::driveSwitchOffText);
    saveScreenshot(*window, QStringLiteral("setup-s3-turn-on-drive-off"));
    click(turnOn->openSettingsButton());
    EXPECT_EQ(first.opened, QList<QUrl>{first.context.fileSystemHelp});
    first.layer = {};
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !first.sleep.asked().empty(); }, stepLimit));
    first.sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return window->shownScreen() == Screen::nameAndCache; }, stepLimit));

    auto *name = screen<NameAndCacheView>(*window);
    name->slider()->setFocus();
    QTest::keyClick(name->slider(), Qt::Key_PageDown);
    EXPECT_EQ(window->setup()->cacheGB(), 25);
    saveScreenshot(*window, QStringLiteral("setup-s3-name-and-cache"));
    click(name->defaultButton());
    ASSERT_TRUE(settled(*window));
    ASSERT_EQ(window->shownScreen(), Screen::recoveryKit) << shownError(*window).value_or(QString()).toStdString();
    EXPECT_EQ(first.starts, 1);
    EXPECT_EQ(server.objectNames().size(), 1) << "the drive's check object";
    const auto kept = TestSupport::await(first.store->load());
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->first, server.secrets());
    EXPECT_EQ(kept->second, secret);
    const std::optional<DriveCore::DriveSettings> settings = DriveCore::DriveSettings::load(*first.defaults);
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->cacheGB, 25);
    EXPECT_EQ(DriveCore::OrganisePending::load(*first.defaults), std::nullopt);

    // The Recovery Kit, saved through the save dialog.
    auto *kit = screen<RecoveryKitView>(*window);
    const QString code = window->setup()->step().code;
    saveScreenshot(*window, QStringLiteral("setup-s3-recovery-kit"));
    const QString kitPath = folder.filePath(QStringLiteral("kit/Ovra Recovery Kit.txt"));
    ASSERT_TRUE(QDir().mkpath(folder.filePath(QStringLiteral("kit"))));
    QString suggested;
    TestSupport::onNextModal<QFileDialog>([&](QFileDialog &dialog) {
        suggested = dialog.selectedFiles().value(0);
        saveScreenshot(dialog, QStringLiteral("setup-s3-recovery-kit-save-dialog"));
        dialog.selectFile(kitPath);
        static_cast<QDialog &>(dialog).accept(); // the dialog's own accept checks the name
    });
    click(kit->saveButton());
    EXPECT_TRUE(suggested.endsWith(QStringLiteral("/Ovra Recovery Kit.txt"))) << suggested.toStdString();
    QFile saved(kitPath);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), RecoveryKitPresenter::fileBytes(code));

    // A place that cannot be written: the alert, and the screen stays.
    QString alertText;
    TestSupport::onNextModal<QFileDialog>([&](QFileDialog &dialog) {
        dialog.selectFile(kitPath + QStringLiteral("/inside-a-file.txt"));
        static_cast<QDialog &>(dialog).accept(); // the dialog's own accept checks the name
    });
    TestSupport::onNextModal<QMessageBox>([&](QMessageBox &alert) {
        alertText = alert.text();
        saveScreenshot(alert, QStringLiteral("setup-s3-recovery-kit-save-failed"));
        alert.accept();
    });
    click(kit->saveButton());
    // The dialog may settle the odd name its own way; the alert's exact words are the presenter's.
    EXPECT_TRUE(alertText.startsWith(QStringLiteral("The file \u201C"))) << alertText.toStdString();
    EXPECT_TRUE(alertText.contains(QStringLiteral("couldn't be saved in the folder"))) << alertText.toStdString();
    ASSERT_TRUE(saved.seek(0));
    EXPECT_EQ(saved.readAll(), RecoveryKitPresenter::fileBytes(code)) << "the saved kit stays as it was";
    EXPECT_EQ(window->shownScreen(), Screen::recoveryKit);

    click(kit->defaultButton());
    ASSERT_EQ(window->shownScreen(), Screen::done);
    saveScreenshot(*window, QStringLiteral("setup-s3-done"));
    click(screen<DoneView>(*window)->closeButton());
    EXPECT_FALSE(window->isVisible());

    // The second computer opens the same drive with the saved kit and the passphrase.
    const QList<QByteArray> lines = RecoveryKitPresenter::fileBytes(code).split('\n');
    ASSERT_EQ(lines.size(), 7);
    auto other = open(second);
    click(screen<WelcomeView>(*other)->existingDriveButton());
    storage = screen<StorageView>(*other);
    typeInto(storage->codeField(), QString::fromUtf8(lines[4]));
    typeInto(storage->kitPassphraseField(), secret + QStringLiteral("x"));
    click(storage->defaultButton());
    ASSERT_TRUE(settled(*other));
    EXPECT_EQ(shownError(*other),
              QStringLiteral("That passphrase doesn't open this Recovery Kit (or the code is damaged)."));
    saveScreenshot(*other, QStringLiteral("setup-s3-error-kit-passphrase"));
    replaceText(storage->kitPassphraseField(), secret);
    saveScreenshot(*other, QStringLiteral("setup-s3-storage-existing-kit-filled"));
    click(storage->defaultButton());
    ASSERT_TRUE(settled(*other));
    EXPECT_TRUE(storage->manualSegment()->isChecked());
    EXPECT_TRUE(storage->storageKeysSegment()->isChecked());
    EXPECT_EQ(storage->endpointField()->text(), server.endpoint());
    EXPECT_EQ(storage->bucketField()->text(), server.bucket());
    EXPECT_EQ(storage->accessKeyIDField()->text(), TestSupport::S3Server::accessKeyID);
    EXPECT_EQ(storage->secretAccessKeyField()->text(), TestSupport::S3Server::secretAccessKey);
    saveScreenshot(*other, QStringLiteral("setup-s3-storage-existing-opened"));
    click(storage->defaultButton());
    ASSERT_TRUE(settled(*other));
    ASSERT_EQ(other->shownScreen(), Screen::existingPassphrase) << shownError(*other).value_or(QString()).toStdString();

    // A wrong passphrase first.
    auto *existing = screen<PassphraseView>(*other);
    EXPECT_EQ(existing->passphraseField()->text(), secret);
    replaceText(existing->passphraseField(), QStringLiteral("not the passphrase"));
    click(existing->defaultButton());
    ASSERT_TRUE(settled(*other));
    EXPECT_EQ(shownError(*other), QStringLiteral("That passphrase doesn't open this drive."));
    saveScreenshot(*other, QStringLiteral("setup-s3-error-wrong-passphrase"));
    replaceText(existing->passphraseField(), secret);
    QTest::keyClick(existing->passphraseField(), Qt::Key_Return);
    ASSERT_TRUE(settled(*other));

    // The layer is usable on this one: the turn-on screen moves on by itself.
    ASSERT_TRUE(TestSupport::spinUntil([&] { return other->shownScreen() == Screen::nameAndCache; }, stepLimit))
        << shownError(*other).value_or(QString()).toStdString();
    click(screen<NameAndCacheView>(*other)->defaultButton());
    ASSERT_TRUE(settled(*other));
    ASSERT_EQ(other->shownScreen(), Screen::recoveryKit) << shownError(*other).value_or(QString()).toStdString();
    EXPECT_EQ(second.starts, 1);
    const auto joined = TestSupport::await(second.store->load());
    ASSERT_TRUE(joined);
    EXPECT_EQ(joined->first, server.secrets());
    EXPECT_EQ(joined->second, secret);
    click(screen<RecoveryKitView>(*other)->defaultButton());
    EXPECT_EQ(other->shownScreen(), Screen::done);

    TestSupport::await(first.store->deleteAll());
    TestSupport::await(second.store->deleteAll());
}

} // namespace
