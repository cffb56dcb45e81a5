// The settings window over the production model and a real drive: AppModel::live with Debian's
// rclone as the engine (mounting over FUSE), an S3 server on loopback and the keys in a private
// keyring (keyring-session). The storage keys sheet, the Recovery Kit sheet and a sign-out, as a
// user goes through them.
#include "CorvaneDrive/CodeView.h"
#include "CorvaneDrive/Settings/ChangeKeysSheet.h"
#include "CorvaneDrive/Settings/GeneralTab.h"
#include "CorvaneDrive/Settings/RecoveryKitSheet.h"
#include "CorvaneDrive/Settings/SettingsWindow.h"
#include "CorvaneDrive/Settings/SignOutSheet.h"
#include "CorvaneDrive/Settings/StorageTab.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/mount/LeftoverDrive.h"

#include "../../DriveCore/model/AppModelFixture.h"
#include "SettingsDriver.h"
#include "support/FinishedSetup.h"
#include "support/FuseMount.h"
#include "support/S3Server.h"
#include "support/Screenshots.h"
#include "support/StopProcess.h"
#include "support/UpstreamEngine.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>

#include <csignal>

using namespace CorvaneDrive;
using namespace DriveCore;
using namespace std::chrono_literals;
using AppModelTest::finishWithin;
using TestSupport::saveScreenshot;
using namespace SettingsDriver;

namespace {

// The engine's commands against the S3 server take a while.
constexpr std::chrono::seconds stepLimit(90);

class SettingsWindowS3Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) << "run under keyring-session";
        AppModelTest::useHome(env, home);
        ASSERT_TRUE(server.start()) << server.output().toStdString();
        program = TestSupport::UpstreamEngine::program();
        settings = DriveSettings{.driveName = QStringLiteral("My Drive"),
                                 .cacheGB = 5,
                                 .deviceID = QUuid::createUuid(),
                                 .deviceName = QStringLiteral("Laptop")};
        mountFolder = DriveLayout::mountPath(settings.driveName);
        cacheDir = DriveLayout::cacheDir(settings.deviceID);
    }

    void TearDown() override
    {
        window.reset();
        if (model)
            finishWithin(model->shutdown(), 60s);
        model.reset();
        TestSupport::stopLeftoverEngines(cacheDir);
        TestSupport::FuseMount(mountFolder).unmount();
    }

    // A new drive as setup leaves it, launched.
    void launch()
    {
        TestSupport::storeNewDrive(settings, server.secrets(), passphrase);
        model = AppModel::live(program);
        finishWithin(model->launch(), stepLimit);
        ASSERT_EQ(model->phase(), AppModelPhase{AppModelPhase::running}) << model->statusLine().toStdString();
        window = std::make_unique<SettingsWindow>(*model);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    template<typename Sheet>
    Sheet *sheet()
    {
        auto *shownSheet = qobject_cast<Sheet *>(window->sheetDialog());
        EXPECT_TRUE(shownSheet) << "no sheet of that kind";
        return shownSheet;
    }

    TestSupport::LogCapture logs;
    QTemporaryDir home;
    TestSupport::ScopedEnvironment env;
    TestSupport::S3Server server;
    QString program;
    DriveSettings settings;
    QString mountFolder;
    QString cacheDir;
    QString passphrase = QStringLiteral("correct horse battery staple");
    KeychainSecretStore store{DriveProfile::keychainService(std::nullopt)};
    std::unique_ptr<AppModel> model;
    std::unique_ptr<SettingsWindow> window;
};

TEST_F(SettingsWindowS3Test, StorageKeysRecoveryKitAndSigningOut)
{
    launch();
    window->tabBar()->setCurrentIndex(2);

    // The Recovery Kit: refused for a wrong passphrase, then a code the passphrase opens.
    click(window->storageTab()->recoveryKitButton());
    auto *kit = sheet<RecoveryKitSheet>();
    ASSERT_TRUE(kit);
    saveScreenshot(*kit, QStringLiteral("settings-recovery-kit-asking"));
    typeInto(kit->passphraseField(), QStringLiteral("correct horse battery stapler"));
    click(kit->confirmButton());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !kit->state().working; }, stepLimit));
    EXPECT_EQ(shown(kit->failureLine()), QStringLiteral("That passphrase doesn't match this drive."));
    typeInto(kit->passphraseField(), passphrase);
    QTest::keyClick(kit->passphraseField(), Qt::Key_Return);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return kit->code().has_value(); }, stepLimit));
    // A widget added to a shown layout shows on the next turn of the event loop.
    EXPECT_TRUE(TestSupport::spinUntil([&] { return kit->codeView()->isVisible(); }));
    EXPECT_FALSE(kit->failureLine()->isVisible());
    const RecoveryKitPayload opened = RecoveryKit::decode(*kit->code(), passphrase);
    EXPECT_EQ(opened.endpoint, server.endpoint());
    EXPECT_EQ(opened.bucket, server.bucket());
    EXPECT_EQ(opened.secretAccessKey, server.secrets().secretAccessKey);
    saveScreenshot(*kit, QStringLiteral("settings-recovery-kit-code"));
    click(kit->doneButton());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !window->sheet(); }, 10s));

    // New storage keys: wrong ones are refused and change nothing; the same drive under another
    // address is kept, and the drive restarts with it.
    click(window->storageTab()->changeKeysButton());
    auto *keys = sheet<ChangeKeysSheet>();
    ASSERT_TRUE(keys);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(keys));
    EXPECT_TRUE(keys->tokenSegment()->isChecked());
    EXPECT_FALSE(keys->saveButton()->isEnabled());
    saveScreenshot(*keys, QStringLiteral("settings-change-keys-token"));
    click(keys->keysSegment());
    const QString otherAddress = server.endpoint().replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
    typeInto(keys->endpointField(), otherAddress);
    typeInto(keys->bucketField(), server.bucket());
    typeInto(keys->accessKeyIDField(), QStringLiteral("NOT-A-KEY"));
    typeInto(keys->secretAccessKeyField(), server.secrets().secretAccessKey);
    click(keys->saveButton());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !keys->state().working; }, stepLimit));
    ASSERT_EQ(window->sheetDialog(), keys) << "the sheet stays open";
    EXPECT_EQ(shown(keys->failureLine()),
              QStringLiteral("Those storage keys didn't work. Check the Access Key ID and Secret Access Key."));
    EXPECT_EQ(finishWithin(store.load(), 30s)->first, server.secrets()) << "nothing changed";
    saveScreenshot(*keys, QStringLiteral("settings-change-keys-refused"));
    typeInto(keys->accessKeyIDField(), QStringLiteral(" ") + server.secrets().accessKeyID + QStringLiteral(" "));
    click(keys->saveButton());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !window->sheet(); }, stepLimit))
        << shown(keys->failureLine()).value_or(QString()).toStdString();
    StorageSecrets moved = server.secrets();
    moved.endpoint = otherAddress;
    EXPECT_EQ(finishWithin(store.load(), 30s), std::pair(moved, passphrase));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !model->isChangingDrive(); }, stepLimit));
    EXPECT_EQ(model->phase(), AppModelPhase{AppModelPhase::running}) << model->statusLine().toStdString();

    // Signing out: the keys leave the keyring and the window asks for setup again.
    window->tabBar()->setCurrentIndex(0);
    click(window->generalTab()->signOutButton());
    auto *signOut = sheet<SignOutSheet>();
    ASSERT_TRUE(signOut);
    click(signOut->button(SignOutPresenter::Button::signOut));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !signOut->state().running(); }, stepLimit));
    EXPECT_EQ(shown(signOut->stepLine()), QStringLiteral("Signed out. Your files are safe in the cloud."))
        << shown(signOut->failureLine()).value_or(QString()).toStdString();
    EXPECT_EQ(finishWithin(store.load(), 30s), std::nullopt);
    saveScreenshot(*signOut, QStringLiteral("settings-sign-out-done-s3"));
    click(signOut->button(SignOutPresenter::Button::close));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !window->sheet(); }, 10s));
    EXPECT_TRUE(window->notSetUpLabel()->isVisible());
}

} // namespace
