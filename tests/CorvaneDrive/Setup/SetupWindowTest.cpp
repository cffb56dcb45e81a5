// The setup window on the offscreen platform, driven by mouse and keyboard, over an assistant
// whose storage, layer switch and sleeps the test controls. SetupWindowS3Test goes the whole
// way against real peers. Every face is saved under <build>/screenshots.
#include "CorvaneDrive/Setup/SetupWindow.h"

#include "CorvaneDrive/Setup/DoneView.h"
#include "CorvaneDrive/Setup/NameAndCacheView.h"
#include "CorvaneDrive/Setup/PassphraseView.h"
#include "CorvaneDrive/Setup/RecoveryKitPresenter.h"
#include "CorvaneDrive/Setup/RecoveryKitView.h"
#include "CorvaneDrive/Setup/SetupFooter.h"
#include "CorvaneDrive/Setup/SetupStatusArea.h"
#include "CorvaneDrive/Setup/StorageView.h"
#include "CorvaneDrive/Setup/TurnOnDriveView.h"
#include "CorvaneDrive/Setup/WelcomeView.h"
#include "DriveCore/platform/HTTPSend.h"

#include "SetupFixture.h"
#include "SetupWindowDriver.h"
#include "support/Modal.h"
#include "support/Screenshots.h"
#include "support/TestSupport.h"
#include "support/WindowChecks.h"

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest/qtestspontaneevent.h>

#include <gtest/gtest.h>

using namespace CorvaneDrive;
using DriveCore::SetupState;
using DriveCore::SetupStep;
using TestSupport::saveScreenshot;
using TestSupport::spinUntil;
using Screen = SetupFlowPresenter::Screen;
using namespace SetupWindowDriver;

namespace {

// Making the Recovery Kit derives a key; sanitizer builds take their time over it.
constexpr std::chrono::seconds kitLimit(180);

// The storage screen's "Open Cloudflare" link shown in its explanation.
QPushButton *visibleLink(StorageView &storage)
{
    for (QPushButton *button : storage.findChildren<QPushButton *>())
        if (button->text() == StoragePresenter::openCloudflareTitle && button->isVisibleTo(storage.window()))
            return button;
    return nullptr;
}

// Fills the token form with an account's endpoint, a bucket and a token, and submits it.
void submitCloudflareToken(StorageView &storage)
{
    typeInto(storage.endpointField(),
             QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com"));
    typeInto(storage.bucketField(), QStringLiteral("photos"));
    typeInto(storage.cloudflareKeyField(), QStringLiteral("token"));
    click(storage.defaultButton());
}

QWidget *focused()
{
    return QApplication::focusWidget();
}

// A screen reader's name and description of `widget`.
QString accessibleText(QWidget *widget, QAccessible::Text kind)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(kind) : QString();
}

class SetupWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        context.makeSetupState = [this] {
            auto deps = SetupFixture::deps(connection, freeBytes);
            deps.driveSwitchOn = [this]() -> QCoro::Task<bool> {
                ++switchAsks;
                co_return switchOn;
            };
            deps.enableStartAtLogin = [this] { return loginItem; };
            deps.send = send;
            ++made;
            return std::make_unique<SetupState>(deps);
        };
        context.openUrl = [this](const QUrl &url) { opened << url; };
        context.fileSystemHelp = QUrl(QStringLiteral("file:///usr/share/corvane-drive/help/file-system-layer.html"));
        context.sleep = sleep.sleep();
        context.mountPath = [this] { return mountPath; };
        context.settingsDriveName = [this] { return settingsName; };
        context.trayShown = [this] { return trayShown; };
    }

    std::unique_ptr<SetupWindow> open()
    {
        auto window = std::make_unique<SetupWindow>(context);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return window;
    }

    // Through the new drive's road to `target`, pressing what a user would press.
    void walk(SetupWindow &window, Screen target)
    {
        click(screen<WelcomeView>(window)->defaultButton());
        if (target == Screen::storage)
            return;
        auto *storage = screen<StorageView>(window);
        click(storage->storageKeysSegment());
        typeInto(storage->endpointField(), QStringLiteral("http://127.0.0.1:9000"));
        typeInto(storage->bucketField(), QStringLiteral("photos"));
        typeInto(storage->accessKeyIDField(), QStringLiteral("AKID"));
        typeInto(storage->secretAccessKeyField(), QStringLiteral("SECRET"));
        click(storage->defaultButton());
        ASSERT_TRUE(spinUntil([&] { return window.shownScreen() == Screen::newPassphrase; }));
        if (target == Screen::newPassphrase)
            return;
        auto *passphrase = screen<PassphraseView>(window);
        click(passphrase->generateButton());
        click(passphrase->acknowledgedToggle());
        click(passphrase->defaultButton());
        ASSERT_TRUE(spinUntil([&] { return window.shownScreen() == Screen::turnOnDrive; }));
        if (target == Screen::turnOnDrive)
            return;
        switchOn = true;
        sleep.releaseAll();
        ASSERT_TRUE(spinUntil([&] { return window.shownScreen() == Screen::nameAndCache; }));
        if (target == Screen::nameAndCache)
            return;
        click(screen<NameAndCacheView>(window)->defaultButton());
        ASSERT_TRUE(spinUntil([&] { return window.shownScreen() == Screen::recoveryKit; }, kitLimit));
    }

    std::shared_ptr<SetupFixture::FakeConnection> connection = std::make_shared<SetupFixture::FakeConnection>();
    qint64 freeBytes = 100'000'000'000;
    bool switchOn = false;
    int switchAsks = 0;
    bool loginItem = true;
    int made = 0;
    DriveCore::HTTPSend send = [](DriveCore::HTTPRequest,
                                  DriveCore::CancelToken) -> QCoro::Task<DriveCore::HTTPResponse> {
        throw std::runtime_error("no network in this test");
        co_return {};
    };
    std::optional<QString> mountPath;
    std::optional<QString> settingsName;
    bool trayShown = true;
    QList<QUrl> opened;
    SetupFixture::ManualSleeps sleep;
    SetupContext context;
};

TEST_F(SetupWindowTest, OpensOnWelcomeAndReturnTakesTheNewDriveRoad)
{
    SetupWindow window(context);
    EXPECT_EQ(window.shownScreen(), std::nullopt) << "nothing before it is shown";
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Set up Ovra"));
    EXPECT_EQ(window.width(), 540);
    EXPECT_EQ(window.shownScreen(), Screen::welcome);
    saveScreenshot(window, QStringLiteral("setup-welcome"));

    pressReturn(window);
    EXPECT_EQ(window.setup()->step(), SetupStep::storageStep(false));

    // Back returns to welcome with nothing in the status area; the other road then shows its screen.
    click(screen<StorageView>(window)->defaultButton());
    EXPECT_TRUE(shownError(window));
    click(screen<StorageView>(window)->footer()->backButton());
    EXPECT_EQ(window.shownScreen(), Screen::welcome);
    EXPECT_EQ(shownError(window), std::nullopt);
    click(screen<WelcomeView>(window)->existingDriveButton());
    EXPECT_EQ(window.setup()->step(), SetupStep::storageStep(true));
}

TEST_F(SetupWindowTest, StorageScreenShowsTheBodyOfEachChoice)
{
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::storage));
    auto *storage = screen<StorageView>(*window);
    EXPECT_FALSE(storage->pasteKitSegment()->isVisibleTo(window.get()));
    EXPECT_TRUE(storage->cloudflareKeySegment()->isChecked());
    EXPECT_EQ(storage->shownExplanation(), StoragePresenter::Explanation::cloudflareKeyInstructions);
    EXPECT_EQ(storage->endpointField()->placeholderText(),
              QStringLiteral("https://<account id>.r2.cloudflarestorage.com"));
    saveScreenshot(*window, QStringLiteral("setup-storage-new-token"));

    // A typed token survives a switch to the keys and back.
    typeInto(storage->cloudflareKeyField(), QStringLiteral("token-123"));
    click(storage->storageKeysSegment());
    EXPECT_FALSE(storage->cloudflareKeyField()->isVisibleTo(window.get()));
    EXPECT_EQ(storage->shownExplanation(), StoragePresenter::Explanation::r2Instructions);
    saveScreenshot(*window, QStringLiteral("setup-storage-new-keys"));
    click(storage->cloudflareKeySegment());
    EXPECT_EQ(storage->cloudflareKeyField()->text(), QStringLiteral("token-123"));
    EXPECT_EQ(window->setup()->cloudflareKey(), QStringLiteral("token-123"));

    // The link opens the browser and leaves the fields alone.
    QPushButton *link = visibleLink(*storage);
    ASSERT_TRUE(link);
    click(link);
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://dash.cloudflare.com"))});
    EXPECT_EQ(window->setup()->cloudflareKey(), QStringLiteral("token-123"));

    // Empty fields: the check runs on the press and says what is missing, without the storage.
    storage->cloudflareKeyField()->clear();
    window->setup()->setCloudflareKey({});
    click(storage->defaultButton());
    EXPECT_EQ(shownError(*window), QStringLiteral("Fill in the endpoint, the bucket and your Cloudflare API token."));
    saveScreenshot(*window, QStringLiteral("setup-storage-error-token-missing"));
    click(storage->storageKeysSegment());
    pressReturn(*window);
    EXPECT_EQ(shownError(*window), QStringLiteral("Fill in all four storage boxes."));
    saveScreenshot(*window, QStringLiteral("setup-storage-error-keys-missing"));
}

TEST_F(SetupWindowTest, ExistingDriveOpensOnTheRecoveryKit)
{
    auto window = open();
    click(screen<WelcomeView>(*window)->existingDriveButton());
    auto *storage = screen<StorageView>(*window);
    EXPECT_TRUE(storage->pasteKitSegment()->isChecked());
    EXPECT_TRUE(storage->codeField()->isVisibleTo(window.get()));
    EXPECT_FALSE(storage->endpointField()->isVisibleTo(window.get()));
    QPushButton *openKit = storage->defaultButton();
    EXPECT_EQ(openKit->text(), QStringLiteral("Open Recovery Kit"));
    EXPECT_FALSE(openKit->isEnabled());
    saveScreenshot(*window, QStringLiteral("setup-storage-existing-kit"));

    typeInto(storage->codeField(), QStringLiteral("   "));
    EXPECT_FALSE(openKit->isEnabled());
    typeInto(storage->kitPassphraseField(), QStringLiteral(" "));
    EXPECT_TRUE(openKit->isEnabled()) << "spaces count";
    click(openKit);
    ASSERT_TRUE(spinUntil([&] { return !window->setup()->isBusy(); }));
    EXPECT_EQ(shownError(*window), QStringLiteral("That doesn't look like a Recovery Kit code."));
    saveScreenshot(*window, QStringLiteral("setup-storage-error-not-a-kit"));

    click(storage->manualSegment());
    click(storage->storageKeysSegment());
    EXPECT_EQ(storage->shownExplanation(), StoragePresenter::Explanation::existingDriveLine);
    saveScreenshot(*window, QStringLiteral("setup-storage-existing-keys"));
}

TEST_F(SetupWindowTest, AnErrorWithDetailsKeepsThemClosedAtFirst)
{
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::storage));
    auto *storage = screen<StorageView>(*window);
    submitCloudflareToken(*storage);
    ASSERT_TRUE(spinUntil([&] { return shownError(*window).has_value(); }));
    EXPECT_EQ(shownError(*window), QStringLiteral("Something went wrong connecting to your storage. Try again."));
    SetupStatusArea *status = window->statusArea();
    EXPECT_TRUE(status->detailsButton()->isVisibleTo(window.get()));
    EXPECT_FALSE(status->detailsLabel()->isVisibleTo(window.get()));
    saveScreenshot(*window, QStringLiteral("setup-storage-error-details-closed"));

    click(status->detailsButton());
    EXPECT_TRUE(status->detailsLabel()->isVisibleTo(window.get()));
    EXPECT_EQ(status->detailsLabel()->text(), QStringLiteral("no network in this test"));
    saveScreenshot(*window, QStringLiteral("setup-storage-error-details-open"));

    // Without details the orange line stands alone.
    click(storage->storageKeysSegment());
    click(storage->defaultButton());
    EXPECT_FALSE(status->detailsButton()->isVisibleTo(window.get()));
}

TEST_F(SetupWindowTest, WhileAStepRunsNothingTakesInput)
{
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::storage));
    auto *storage = screen<StorageView>(*window);
    click(storage->storageKeysSegment());
    SetupFixture::fillKeys(*window->setup());
    connection->hold = true;
    click(storage->defaultButton());
    ASSERT_TRUE(window->setup()->isBusy());
    EXPECT_EQ(window->statusArea()->busyLabel()->text(), QStringLiteral("Testing connection…"));
    EXPECT_FALSE(storage->footer()->backButton()->isVisibleTo(window.get()));
    EXPECT_FALSE(storage->endpointField()->isEnabled());
    saveScreenshot(*window, QStringLiteral("setup-storage-busy"));

    pressReturn(*window);
    click(storage->storageKeysSegment());
    EXPECT_FALSE(window->setup()->useCloudflareKey()) << "a disabled control does not react";
    connection->release();
    ASSERT_TRUE(spinUntil([&] { return window->shownScreen() == Screen::newPassphrase; }));
    EXPECT_TRUE(window->screen()->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), screen<PassphraseView>(*window)->passphraseField());
}

TEST_F(SetupWindowTest, PassphraseScreens)
{
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::newPassphrase));
    auto *passphrase = screen<PassphraseView>(*window);
    EXPECT_EQ(passphrase->passphraseField()->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(passphrase->copyButton()->isVisibleTo(window.get()));
    pressReturn(*window);
    EXPECT_EQ(shownError(*window), QStringLiteral("Your passphrase must be at least 20 characters."));
    saveScreenshot(*window, QStringLiteral("setup-passphrase-new-error-short"));

    click(passphrase->showToggle());
    typeInto(passphrase->confirmField(), QStringLiteral("only here"));
    EXPECT_FALSE(passphrase->copyButton()->isVisibleTo(window.get())) << "the second field does not bring Copy";

    click(passphrase->generateButton());
    const QString generated = window->setup()->passphrase();
    EXPECT_EQ(generated.size(), 24);
    EXPECT_EQ(passphrase->passphraseField()->text(), generated);
    EXPECT_EQ(passphrase->confirmField()->text(), generated);
    EXPECT_EQ(passphrase->confirmField()->echoMode(), QLineEdit::Normal);
    ASSERT_TRUE(passphrase->copyButton()->isVisibleTo(window.get()));
    EXPECT_GT(passphrase->copyButton()->x(), passphrase->showToggle()->x());
    click(passphrase->copyButton());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), generated);
    pressReturn(*window);
    EXPECT_EQ(shownError(*window), QStringLiteral("Tick the box to show you understand."));
    saveScreenshot(*window, QStringLiteral("setup-passphrase-new-generated"));

    typeInto(passphrase->confirmField(), QStringLiteral("x"));
    pressReturn(*window);
    EXPECT_EQ(shownError(*window), QStringLiteral("The two passphrases don't match."));

    // The existing drive's screen wants something typed, a blank included.
    click(passphrase->footer()->backButton());
    click(screen<StorageView>(*window)->footer()->backButton());
    click(screen<WelcomeView>(*window)->existingDriveButton());
    auto *storage = screen<StorageView>(*window);
    click(storage->manualSegment());
    click(storage->storageKeysSegment());
    click(storage->defaultButton());
    ASSERT_TRUE(spinUntil([&] { return window->shownScreen() == Screen::existingPassphrase; }));
    auto *existing = screen<PassphraseView>(*window);
    EXPECT_EQ(existing->passphraseField()->echoMode(), QLineEdit::Password);
    window->setup()->setPassphrase({});
    EXPECT_FALSE(existing->defaultButton()->isEnabled());
    saveScreenshot(*window, QStringLiteral("setup-passphrase-existing"));
    typeInto(existing->passphraseField(), QStringLiteral(" "));
    EXPECT_TRUE(existing->defaultButton()->isEnabled());
}

TEST_F(SetupWindowTest, TurnOnDriveWaitsForTheLayerAndMovesOnByItself)
{
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::turnOnDrive));
    auto *turnOn = screen<TurnOnDriveView>(*window);
    ASSERT_TRUE(spinUntil([&] { return sleep.asked().size() == 1; }));
    EXPECT_EQ(switchAsks, 1) << "asked as soon as the screen is shown";
    EXPECT_EQ(shownError(*window), std::nullopt);
    saveScreenshot(*window, QStringLiteral("setup-turn-on-drive"));

    click(turnOn->openSettingsButton());
    EXPECT_EQ(opened, QList<QUrl>{context.fileSystemHelp});
    EXPECT_EQ(switchAsks, 1) << "opening the help page asks nothing";
    EXPECT_EQ(window->shownScreen(), Screen::turnOnDrive);

    click(turnOn->defaultButton());
    ASSERT_TRUE(spinUntil([&] { return shownError(*window).has_value(); }));
    EXPECT_EQ(shownError(*window), SetupState::driveSwitchOffText);
    saveScreenshot(*window, QStringLiteral("setup-turn-on-drive-error-off"));

    // Back ends the polling at once; coming back asks again at once.
    click(turnOn->footer()->backButton());
    ASSERT_TRUE(spinUntil([&] { return window->shownScreen() == Screen::newPassphrase; }));
    const int asked = switchAsks;
    sleep.releaseAll();
    QTest::qWait(50);
    EXPECT_EQ(switchAsks, asked);
    click(screen<PassphraseView>(*window)->defaultButton());
    ASSERT_TRUE(spinUntil([&] { return window->shownScreen() == Screen::turnOnDrive && switchAsks == asked + 1; }));

    switchOn = true;
    sleep.releaseAll();
    ASSERT_TRUE(spinUntil([&] { return window->shownScreen() == Screen::nameAndCache; }));
    EXPECT_EQ(shownError(*window), std::nullopt);
}

TEST_F(SetupWindowTest, NameAndCacheSlider)
{
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::nameAndCache));
    auto *name = screen<NameAndCacheView>(*window);
    ASSERT_TRUE(name->slider());
    EXPECT_EQ(name->slider()->minimum(), 5);
    EXPECT_EQ(name->slider()->maximum(), 80);
    EXPECT_EQ(name->slider()->value(), 30);
    EXPECT_EQ(name->cacheLabel()->text(), QStringLiteral("Space on this computer for recently opened files: 30 GB"));
    saveScreenshot(*window, QStringLiteral("setup-name-and-cache"));

    name->slider()->setFocus();
    QTest::keyClick(name->slider(), Qt::Key_End);
    EXPECT_EQ(window->setup()->cacheGB(), 80);
    EXPECT_EQ(name->cacheLabel()->text(), QStringLiteral("Space on this computer for recently opened files: 80 GB"));
    QTest::keyClick(name->slider(), Qt::Key_Left);
    EXPECT_EQ(window->setup()->cacheGB(), 79);

    // No room to choose: no slider, and 5 GB.
    freeBytes = 25'999'999'999;
    window->close();
    auto small = open();
    ASSERT_NO_FATAL_FAILURE(walk(*small, Screen::nameAndCache));
    EXPECT_EQ(screen<NameAndCacheView>(*small)->slider(), nullptr);
    EXPECT_EQ(screen<NameAndCacheView>(*small)->cacheLabel()->text(),
              QStringLiteral("Space on this computer for recently opened files: 5 GB"));
    saveScreenshot(*small, QStringLiteral("setup-name-and-cache-no-room"));
}

TEST_F(SetupWindowTest, RecoveryKitThenDoneThenAFreshAssistant)
{
    loginItem = false;
    mountPath = QStringLiteral("/home/ada/Mounts/Ovra");
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::recoveryKit));
    auto *kit = screen<RecoveryKitView>(*window);
    const QString code = window->setup()->step().code;
    EXPECT_TRUE(code.startsWith(QStringLiteral("CDKIT1.")));
    EXPECT_EQ(kit->codeView()->toPlainText(), code);
    EXPECT_TRUE(kit->loginNote()->isVisibleTo(window.get()));
    EXPECT_EQ(kit->loginNote()->text(), SetupState::loginFailedText);
    QStringList details;
    for (const QLabel *value : kit->detailValues())
        details << (value->isVisibleTo(window.get()) ? value->text() : QString());
    EXPECT_EQ(details, (QStringList{"http://127.0.0.1:9000", "photos", "AKID", "SECRET"}));
    saveScreenshot(*window, QStringLiteral("setup-recovery-kit-login-failed"));

    // The code is read before the buttons that act on it.
    kit->codeView()->setFocus();
    QTest::keyClick(kit->codeView(), Qt::Key_Tab);
    EXPECT_EQ(focused(), kit->copyButton());
    QTest::keyClick(focused(), Qt::Key_Tab);
    EXPECT_EQ(focused(), kit->saveButton());
    EXPECT_EQ(accessibleText(kit->codeView(), QAccessible::Name), QStringLiteral("Recovery Kit code"));

    // The save dialog opens in the documents folder (else home), never the working folder.
    QString dialogFolder;
    TestSupport::onNextModal<QFileDialog>([&](QFileDialog &dialog) {
        dialogFolder = dialog.directory().absolutePath();
        dialog.reject();
    });
    click(kit->saveButton());
    EXPECT_EQ(dialogFolder, QDir(RecoveryKitPresenter::saveFolder()).absolutePath());
    EXPECT_NE(dialogFolder, QDir::currentPath());

    click(kit->copyButton());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), code);
    pressReturn(*window);
    ASSERT_EQ(window->shownScreen(), Screen::done);
    EXPECT_TRUE(window->setup()->passphrase().isEmpty());
    auto *done = screen<DoneView>(*window);
    EXPECT_EQ(done->textLabel()->text(),
              QStringLiteral("\u201COvra\u201D is now in your file manager. Ovra lives in the system tray."));
    saveScreenshot(*window, QStringLiteral("setup-done-login-failed"));

    pressReturn(*window);
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(*mountPath)});
    EXPECT_FALSE(window->isVisible());

    // Shown again after the end: a new assistant at welcome with empty fields.
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(made, 2);
    EXPECT_EQ(window->shownScreen(), Screen::welcome);
    EXPECT_TRUE(window->setup()->endpoint().isEmpty());
}

TEST_F(SetupWindowTest, APartWayAssistantStaysWhenTheWindowIsShownAgain)
{
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::storage));
    typeInto(screen<StorageView>(*window)->bucketField(), QStringLiteral("photos"));
    window->close();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(made, 1);
    EXPECT_EQ(window->shownScreen(), Screen::storage);
    EXPECT_EQ(screen<StorageView>(*window)->bucketField()->text(), QStringLiteral("photos"));
}

TEST_F(SetupWindowTest, DoneWithTheModelsNameAndTheLoginItemOn)
{
    settingsName = QStringLiteral("Photos");
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::recoveryKit));
    EXPECT_FALSE(screen<RecoveryKitView>(*window)->loginNote()->isVisibleTo(window.get()));
    saveScreenshot(*window, QStringLiteral("setup-recovery-kit"));
    click(screen<RecoveryKitView>(*window)->defaultButton());
    auto *done = screen<DoneView>(*window);
    EXPECT_EQ(
        done->textLabel()->text(),
        QStringLiteral(
            "\u201CPhotos\u201D is now in your file manager. Ovra lives in the system tray and opens by itself when "
            "you log in."));
    saveScreenshot(*window, QStringLiteral("setup-done"));
    // Without a mount folder, "Open in File Manager" only closes.
    click(done->defaultButton());
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(SetupWindowTest, DoneWithoutATrayPromisesNoTray)
{
    trayShown = false;
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::recoveryKit));
    click(screen<RecoveryKitView>(*window)->defaultButton());
    EXPECT_EQ(screen<DoneView>(*window)->textLabel()->text(),
              QStringLiteral("\u201COvra\u201D is now in your file manager. Ovra keeps its menu in its own window and "
                             "opens by itself when you log in."));
    saveScreenshot(*window, QStringLiteral("setup-done-no-tray"));
}

// Each face at the 11-pt font a desktop may use: every text fits, and every control a screen
// reader reaches has a name. Saved as setup-11pt-*.
TEST_F(SetupWindowTest, EveryFaceFitsAtElevenPointsAndNamesItsControls)
{
    TestSupport::ScopedAppFont font(11);
    const auto check = [](SetupWindow &window, const char *face) {
        SCOPED_TRACE(face);
        TestSupport::expectTextsFit(window);
        TestSupport::expectAccessibleNames(window);
        saveScreenshot(window, QStringLiteral("setup-11pt-") + QLatin1String(face));
    };

    // The existing drive's road.
    auto existing = open();
    check(*existing, "welcome");
    click(screen<WelcomeView>(*existing)->existingDriveButton());
    auto *storage = screen<StorageView>(*existing);
    check(*existing, "storage-existing-kit");
    typeInto(storage->codeField(), QStringLiteral("not a kit"));
    typeInto(storage->kitPassphraseField(), QStringLiteral("x"));
    click(storage->defaultButton());
    ASSERT_TRUE(spinUntil([&] { return shownError(*existing).has_value(); }));
    check(*existing, "storage-existing-kit-error");
    click(storage->manualSegment());
    click(storage->storageKeysSegment());
    SetupFixture::fillKeys(*existing->setup());
    check(*existing, "storage-existing-keys");
    click(storage->defaultButton());
    ASSERT_TRUE(spinUntil([&] { return existing->shownScreen() == Screen::existingPassphrase; }));
    check(*existing, "passphrase-existing");
    existing.reset();

    // The new drive's road, with its errors.
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::storage));
    storage = screen<StorageView>(*window);
    check(*window, "storage-new-token");
    click(storage->storageKeysSegment());
    check(*window, "storage-new-keys");
    click(storage->cloudflareKeySegment());
    submitCloudflareToken(*storage);
    ASSERT_TRUE(spinUntil([&] { return shownError(*window).has_value(); }));
    click(window->statusArea()->detailsButton());
    check(*window, "storage-error-details");
    window.reset();

    window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::newPassphrase));
    auto *passphrase = screen<PassphraseView>(*window);
    check(*window, "passphrase-new");
    click(passphrase->generateButton());
    pressReturn(*window);
    ASSERT_EQ(shownError(*window), SetupState::mustTickMissingText);
    check(*window, "passphrase-new-generated-error");
    click(passphrase->acknowledgedToggle());
    click(passphrase->defaultButton());
    ASSERT_TRUE(spinUntil([&] { return window->shownScreen() == Screen::turnOnDrive; }));
    check(*window, "turn-on-drive");
    click(screen<TurnOnDriveView>(*window)->defaultButton());
    ASSERT_TRUE(spinUntil([&] { return shownError(*window).has_value(); }));
    check(*window, "turn-on-drive-error-off");
    switchOn = true;
    sleep.releaseAll();
    ASSERT_TRUE(spinUntil([&] { return window->shownScreen() == Screen::nameAndCache; }));
    check(*window, "name-and-cache");
    loginItem = false;
    click(screen<NameAndCacheView>(*window)->defaultButton());
    ASSERT_TRUE(spinUntil([&] { return window->shownScreen() == Screen::recoveryKit; }, kitLimit));
    check(*window, "recovery-kit-login-failed");
    click(screen<RecoveryKitView>(*window)->defaultButton());
    check(*window, "done");
}

TEST_F(SetupWindowTest, ARestoredWindowKeepsItsScreen)
{
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::recoveryKit));
    click(screen<RecoveryKitView>(*window)->defaultButton());
    ASSERT_EQ(window->shownScreen(), Screen::done);
    // Minimised and restored: the desktop hides and shows the window by itself.
    QHideEvent hidden;
    QSpontaneKeyEvent::setSpontaneous(&hidden);
    // Sent as the platform sends them: sendEvent would clear the spontaneous mark.
    QApplication::instance()->notify(window.get(), &hidden);
    QShowEvent shown;
    QSpontaneKeyEvent::setSpontaneous(&shown);
    QApplication::instance()->notify(window.get(), &shown);
    EXPECT_EQ(made, 1);
    EXPECT_EQ(window->shownScreen(), Screen::done);
}

TEST_F(SetupWindowTest, TheAcknowledgementWrapsTicksFromItsTextAndLeavesReturnToContinue)
{
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::newPassphrase));
    auto *passphrase = screen<PassphraseView>(*window);
    click(passphrase->generateButton());
    QCheckBox *box = passphrase->acknowledgedToggle();
    QLabel *text = passphrase->acknowledgedLabel();
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->wordWrap());
    EXPECT_EQ(text->text(), SetupState::mustTickText);
    EXPECT_EQ(accessibleText(box, QAccessible::Name), SetupState::mustTickText);

    QTest::mouseClick(text, Qt::LeftButton);
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(window->setup()->acknowledged());
    QTest::mouseClick(text, Qt::LeftButton);
    EXPECT_FALSE(window->setup()->acknowledged());
    QTest::mouseClick(text, Qt::LeftButton);
    ASSERT_TRUE(window->setup()->acknowledged());

    // Return on the ticked box presses Continue; the box stays ticked.
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_TRUE(window->setup()->acknowledged());
    EXPECT_TRUE(spinUntil([&] { return window->shownScreen() == Screen::turnOnDrive; }));
}

TEST_F(SetupWindowTest, TheCloudflareLinkIsOneTabStopLeftBothWays)
{
    auto window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::storage));
    QPushButton *link = visibleLink(*screen<StorageView>(*window));
    ASSERT_TRUE(link);
    link->setFocus();
    ASSERT_EQ(focused(), link);
    QTest::keyClick(link, Qt::Key_Tab);
    QWidget *after = focused();
    EXPECT_NE(after, link) << "Tab leaves the link";
    QTest::keyClick(after, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(focused(), link);
    QTest::keyClick(link, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_NE(focused(), link) << "Shift+Tab leaves the link";
    EXPECT_TRUE(window->isAncestorOf(focused()));
}

TEST_F(SetupWindowTest, ErrorsAreAlertsReadWithTheirField)
{
    auto window = open();
    click(screen<WelcomeView>(*window)->existingDriveButton());
    auto *storage = screen<StorageView>(*window);
    typeInto(storage->codeField(), QStringLiteral("not a kit"));
    typeInto(storage->kitPassphraseField(), QStringLiteral("x"));
    click(storage->defaultButton());
    ASSERT_TRUE(spinUntil([&] { return shownError(*window).has_value(); }));
    QAccessibleInterface *error = QAccessible::queryAccessibleInterface(window->statusArea()->errorLabel());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->role(), QAccessible::AlertMessage);
    EXPECT_EQ(error->text(QAccessible::Name), SetupState::kitBadFormatText);
    EXPECT_EQ(accessibleText(storage->codeField(), QAccessible::Description), SetupState::kitBadFormatText);

    // The kit's error goes with the kit's fields.
    click(storage->manualSegment());
    EXPECT_EQ(shownError(*window), std::nullopt);
    EXPECT_NE(accessibleText(storage->codeField(), QAccessible::Description), SetupState::kitBadFormatText);
    click(storage->pasteKitSegment());
    EXPECT_EQ(shownError(*window), SetupState::kitBadFormatText);
    window.reset();

    // On the new passphrase screen each error goes with the field it is about.
    window = open();
    ASSERT_NO_FATAL_FAILURE(walk(*window, Screen::newPassphrase));
    auto *passphrase = screen<PassphraseView>(*window);
    pressReturn(*window);
    ASSERT_EQ(shownError(*window), SetupState::shortPassphraseText);
    EXPECT_EQ(accessibleText(passphrase->passphraseField(), QAccessible::Description), SetupState::shortPassphraseText);
    typeInto(passphrase->passphraseField(), QStringLiteral("a passphrase long enough"));
    typeInto(passphrase->confirmField(), QStringLiteral("another one"));
    click(passphrase->defaultButton());
    ASSERT_EQ(shownError(*window), SetupState::mismatchText);
    EXPECT_EQ(accessibleText(passphrase->confirmField(), QAccessible::Description), SetupState::mismatchText);
    EXPECT_NE(accessibleText(passphrase->passphraseField(), QAccessible::Description), SetupState::shortPassphraseText);
}

} // namespace
