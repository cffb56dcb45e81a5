// The settings window on the offscreen platform over the real app model: a fake supervisor
// whose engine is the fake engine program (the kept items, the storage figures), manual sleeps,
// a phone store in memory, and a loopback stand-in for Cloudflare's API. Every face is saved
// under <build>/screenshots.
#include "CorvaneDrive/Settings/SettingsWindow.h"
#include "CorvaneDrive/CodeView.h"
#include "CorvaneDrive/Settings/ChangeKeysSheet.h"
#include "CorvaneDrive/Settings/GeneralTab.h"
#include "CorvaneDrive/Settings/KeptFilesSettings.h"
#include "CorvaneDrive/Settings/PhoneSheets.h"
#include "CorvaneDrive/Settings/RecoveryKitSheet.h"
#include "CorvaneDrive/Settings/SignOutSheet.h"
#include "CorvaneDrive/Settings/StorageTab.h"
#include "DriveCore/keys/PhonePairing.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/keys/SignOut.h"
#include "DriveCore/model/AppModelIPhone.h"
#include "DriveCore/services/KeepOnMac.h"
#include "DriveCore/support/AppModelError.h"

#include "../../DriveCore/model/AppModelFixture.h"
#include "SettingsDriver.h"
#include "support/fake-engine/FakeEngine.h"
#include "support/InMemoryKeychain.h"
#include "support/LoopbackHTTPServer.h"
#include "support/Screenshots.h"
#include "support/WindowChecks.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace CorvaneDrive;
using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::saveScreenshot;
using namespace SettingsDriver;

namespace {

class MemoryPhoneSync final : public PhoneSyncStoring {
public:
    std::optional<PhoneSyncItem> item;
    std::shared_ptr<AppModelTest::Gate> writeGate; // when set, a write waits for it

    bool isAvailable() const override { return true; }
    QCoro::Task<> write(PhoneSyncItem written) override
    {
        if (const std::shared_ptr<AppModelTest::Gate> gate = writeGate)
            co_await gate->wait();
        item = written;
        co_return;
    }
    QCoro::Task<> remove() override
    {
        item.reset();
        co_return;
    }
};

// Whether a sheet has grown to its new face: as tall as its layout needs, `last` placed inside.
bool laidOut(QDialog &sheet, QWidget *last)
{
    QLayout *layout = sheet.layout();
    return layout->totalHeightForWidth(sheet.width()) <= sheet.height() && last->geometry().top() > 0
        && sheet.rect().contains(last->geometry());
}

class SettingsWindowTest : public AppModelTest::ModelTest {
protected:
    SettingsWindowTest()
    {
        // The engine's own pins and queue, through the fake engine.
        hooks.pins = AppModelHooks::defaultPins;
        hooks.unpin = AppModelHooks::defaultUnpin;
        hooks.pinScan = AppModelHooks::defaultPinScan;
        hooks.badgeQueue = AppModelHooks::defaultBadgeQueue;
        hooks.setLoginItem = [this](bool on) {
            if (loginItemFails)
                throw std::runtime_error("read-only folder");
            loginItem = on;
        };
        context.openUrl = [this](const QUrl &url) { opened << url; };
        context.reveal = [this](const QList<QUrl> &items) { revealed << items; };
        context.info = QVariantMap{{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("2.0")}};
        context.now = [] { return QDateTime(QDate(2026, 3, 4), QTime(12, 0), Qt::UTC); };
    }

    // The drive set up and running on the fake engine.
    void launch()
    {
        ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();
        setUpDrive();
        finish(model().launch());
        ASSERT_EQ(model().phase(), AppModelPhase{AppModelPhase::running}) << model().statusLine().toStdString();
        supervisor->client = engine.client();
    }

    std::unique_ptr<SettingsWindow> open()
    {
        auto window = std::make_unique<SettingsWindow>(model(), context);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return window;
    }

    template<typename Sheet>
    Sheet *sheet(SettingsWindow &window)
    {
        auto *shownSheet = qobject_cast<Sheet *>(window.sheetDialog());
        EXPECT_TRUE(shownSheet) << "no sheet of that kind";
        if (shownSheet)
            EXPECT_TRUE(QTest::qWaitForWindowExposed(shownSheet));
        return shownSheet;
    }

    void pin(const QStringList &paths)
    {
        finish(DriveCore::pin(engine.client(), paths, QString::fromLatin1(RCClient::mountFs)));
    }

    TestSupport::FakeEngine engine;
    SettingsContext context;
    QList<QUrl> opened;
    QList<QList<QUrl>> revealed;
    bool loginItemFails = false;
    std::optional<bool> loginItem;
};

TEST_F(SettingsWindowTest, WithoutADriveItOnlyAsksForSetupAndCountsAsOpen)
{
    auto window = open();
    EXPECT_TRUE(window->notSetUpLabel()->isVisible());
    EXPECT_EQ(window->notSetUpLabel()->text(), QStringLiteral("Set up Ovra first."));
    EXPECT_FALSE(window->tabBar()->isVisible());
    EXPECT_EQ(window->size(), QSize(460, 160));
    EXPECT_EQ(model().openWindows(), 1);
    saveScreenshot(*window, QStringLiteral("settings-not-set-up"));
    window->hide();
    EXPECT_EQ(model().openWindows(), 0);
}

TEST_F(SettingsWindowTest, GeneralTabAndTheErrorLineBothFormsShare)
{
    launch();
    auto window = open();
    EXPECT_EQ(window->size(), QSize(700, 660));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Ovra Settings"));
    GeneralTab *general = window->generalTab();
    ASSERT_TRUE(general->isVisible());
    EXPECT_EQ(general->versionValue()->text(), QStringLiteral("Ovra 2.0"));
    EXPECT_EQ(general->driveValue()->text(), QStringLiteral("My Drive"));
    EXPECT_TRUE(general->startAtLoginSwitch()->isChecked()) << "copied from the settings";
    // No phone store here: the switch stays off and disabled; adding a phone still works.
    EXPECT_FALSE(general->phoneSwitch()->isEnabled());
    EXPECT_EQ(general->phoneFooter()->text(), SettingsPresenter::phoneFooter(false));
    EXPECT_TRUE(general->addPhoneButton()->isEnabled());
    EXPECT_FALSE(general->engineSection()->isVisible());
    saveScreenshot(*window, QStringLiteral("settings-general"));

    click(general->addOnButton());
    EXPECT_EQ(opened, QList<QUrl>{context.addOnHelp});

    // A login item that cannot be written: the switch springs back, the text shows on both forms.
    loginItemFails = true;
    general->startAtLoginSwitch()->click();
    EXPECT_TRUE(general->startAtLoginSwitch()->isChecked()) << "the switch sprang back";
    const QString failure = AppModel::startAtLoginFailedText;
    EXPECT_EQ(shown(general->errorLine()), failure);
    saveScreenshot(*window, QStringLiteral("settings-general-error"));
    window->tabBar()->setCurrentIndex(2);
    EXPECT_EQ(window->tab(), SettingsWindow::Tab::storage);
    EXPECT_EQ(shown(window->storageTab()->errorLine()), failure);
    window->tabBar()->setCurrentIndex(0);
    loginItemFails = false;
    general->startAtLoginSwitch()->click();
    EXPECT_FALSE(general->startAtLoginSwitch()->isChecked());
    EXPECT_EQ(loginItem, false);
    EXPECT_EQ(shown(general->errorLine()), std::nullopt);
    EXPECT_FALSE(DriveSettings::load(*defaults)->startAtLogin);

    // The engine choice, once switched on, shows the stored engine; the same one changes nothing.
    defaults->set(QString::fromLatin1(AppModel::engineChoiceKey), true);
    window->tabBar()->setCurrentIndex(1);
    window->tabBar()->setCurrentIndex(0);
    ASSERT_TRUE(general->engineSection()->isVisible());
    EXPECT_EQ(general->enginePicker()->currentText(), QStringLiteral("Classic"));
    const QStringList before = supervisor->events;
    finish(window->changeEngine(DriveEngine::nfs));
    EXPECT_EQ(supervisor->events, before);

    // A drive change greys the forms, never the segments or the kept list.
    AppModelTestAccess::assign(model(), AppModelTestAccess::changingDrive(model()), true,
                               &AppModel::isChangingDriveChanged);
    EXPECT_FALSE(general->isEnabled());
    EXPECT_FALSE(window->storageTab()->isEnabled());
    EXPECT_TRUE(window->keptTab()->isEnabled());
    EXPECT_TRUE(window->tabBar()->isEnabled());
    AppModelTestAccess::assign(model(), AppModelTestAccess::changingDrive(model()), false,
                               &AppModel::isChangingDriveChanged);
    EXPECT_TRUE(general->isEnabled());
}

TEST_F(SettingsWindowTest, PhoneSheetsAskForThePassphraseAndShowTheCodeOrTurnSyncOn)
{
    const auto phone = std::make_shared<MemoryPhoneSync>();
    hooks.phoneSync = phone;
    launch();
    auto window = open();
    GeneralTab *general = window->generalTab();
    EXPECT_TRUE(general->phoneSwitch()->isEnabled());
    EXPECT_EQ(general->phoneFooter()->text(), SettingsPresenter::phoneAvailableFooter);

    click(general->addPhoneButton());
    EXPECT_EQ(window->sheet(), SettingsWindow::SheetKind::addIPhone);
    auto *add = sheet<AddIPhoneSheet>(*window);
    ASSERT_TRUE(add);
    EXPECT_EQ(add->width(), 440);
    EXPECT_FALSE(add->confirmButton()->isEnabled());
    saveScreenshot(*add, QStringLiteral("settings-add-iphone-asking"));
    typeInto(add->passphraseField(), QStringLiteral("not it"));
    QTest::keyClick(add->passphraseField(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return shown(add->failureLine()).has_value(); }, std::chrono::seconds(60)));
    EXPECT_EQ(add->failureLine()->text(), QStringLiteral("That passphrase doesn't match this drive."));
    EXPECT_EQ(add->passphraseField()->text(), QStringLiteral("not it"));
    saveScreenshot(*add, QStringLiteral("settings-add-iphone-wrong"));
    typeInto(add->passphraseField(), passphrase);
    EXPECT_EQ(add->state().passphrase, passphrase);
    click(add->confirmButton());
    ASSERT_TRUE(waitFor([&] { return add->code().has_value(); }, std::chrono::seconds(60)))
        << add->failureLine()->text().toStdString();
    EXPECT_TRUE(add->state().passphrase.isEmpty());
    EXPECT_FALSE(add->failureLine()->isVisible());
    ASSERT_TRUE(add->qrLabel());
    EXPECT_EQ(add->qrLabel()->size(), QSize(240, 240));
    EXPECT_EQ(add->qrLabel()->pixmap().deviceIndependentSize(),
              AddIPhoneSheet::qrImage(*add->code(), add->devicePixelRatioF())->deviceIndependentSize())
        << "drawn as made, never scaled";
    // The sheet grows to its new face once its layout has run.
    ASSERT_TRUE(waitFor([&] { return laidOut(*add, add->doneButton()); }));
    EXPECT_GT(add->height(), AddIPhoneSheet::qrSide);
    saveScreenshot(*add, QStringLiteral("settings-add-iphone-code"));
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    click(add->copyButton());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), *add->code());
    EXPECT_TRUE(add->code()->startsWith(QStringLiteral("CDKIT1.")));
    QTest::keyClick(add, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return !window->sheet(); }));
    // Made afresh: it asks again.
    click(general->addPhoneButton());
    auto *again = sheet<AddIPhoneSheet>(*window);
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->code());
    EXPECT_TRUE(again->passphraseField()->isVisible());
    QTest::keyClick(again, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return !window->sheet(); }));

    // The switch opens the sheet and stays off until sync is on.
    general->phoneSwitch()->click();
    EXPECT_FALSE(general->phoneSwitch()->isChecked());
    auto *sync = sheet<IPhoneSyncSheet>(*window);
    ASSERT_TRUE(sync);
    saveScreenshot(*sync, QStringLiteral("settings-iphone-sync"));
    typeInto(sync->passphraseField(), passphrase);
    click(sync->confirmButton());
    ASSERT_TRUE(waitFor([&] { return !window->sheet(); }));
    EXPECT_TRUE(general->phoneSwitch()->isChecked());
    ASSERT_TRUE(phone->item);
    general->phoneSwitch()->click();
    ASSERT_TRUE(waitFor([&] { return !general->phoneSwitch()->isChecked(); }));
    EXPECT_FALSE(phone->item);
}

TEST_F(SettingsWindowTest, KeptTabListsSearchesChecksAndStopsKeepingOnTheEngine)
{
    launch();
    ASSERT_TRUE(engine.writeFile(QStringLiteral("Drive/Photos/beach.jpg"), QByteArray(3000, 'p')));
    ASSERT_TRUE(engine.writeFile(QStringLiteral("Drive/Docs/report.pdf"), QByteArray(1200, 'r')));
    ASSERT_TRUE(engine.writeFile(QStringLiteral("Drive/Docs/notes.txt"), QByteArray(10, 'n')));
    auto window = open();
    window->tabBar()->setCurrentIndex(1);
    KeptFilesSettings *kept = window->keptTab();
    ASSERT_TRUE(kept->isVisible());
    EXPECT_EQ(kept->summaryLine()->text(), QStringLiteral("0 items · 0 bytes downloaded"));
    ASSERT_TRUE(kept->emptyView()->isVisible());
    EXPECT_EQ(kept->emptyTitle()->text(), QStringLiteral("Nothing kept yet"));
    EXPECT_FALSE(kept->selectAll()->isEnabled());
    saveScreenshot(*window, QStringLiteral("settings-kept-empty"));

    pin({QStringLiteral("Photos"), QStringLiteral("Docs/report.pdf"), QStringLiteral("Docs/notes.txt")});
    finish(model().refresh());
    ASSERT_EQ(kept->list()->topLevelItemCount(), 3);
    EXPECT_FALSE(kept->emptyView()->isVisible());
    EXPECT_EQ(kept->summaryLine()->text(), QStringLiteral("3 items · 4 kB downloaded"));
    QStringList names;
    for (int i = 0; i < 3; ++i)
        names << kept->list()->topLevelItem(i)->text(0);
    EXPECT_EQ(names, (QStringList{"notes.txt", "Photos", "report.pdf"}));
    EXPECT_EQ(kept->row("Docs/report.pdf")->toolTip(0), QStringLiteral("Docs/report.pdf"));
    EXPECT_EQ(kept->row("Docs/report.pdf")->text(2), QStringLiteral("1 kB"));
    EXPECT_EQ(kept->footerLine()->text(), QStringLiteral("Right-click a file for actions"));
    EXPECT_FALSE(kept->actionsButton()->isEnabled());

    // Check two rows; a search hides one and unchecks it.
    kept->row("Docs/report.pdf")->setCheckState(0, Qt::Checked);
    kept->row("Photos")->setCheckState(0, Qt::Checked);
    EXPECT_EQ(kept->footerLine()->text(), QStringLiteral("2 selected"));
    EXPECT_TRUE(kept->actionsButton()->isEnabled());
    saveScreenshot(*window, QStringLiteral("settings-kept-checked"));
    typeInto(kept->searchField(), QStringLiteral("Docs"));
    ASSERT_EQ(kept->list()->topLevelItemCount(), 2);
    EXPECT_EQ(kept->state().selection(), (QSet<QString>{"Docs/report.pdf"}));
    typeInto(kept->searchField(), QStringLiteral("nothing like it"));
    EXPECT_EQ(kept->emptyTitle()->text(), QStringLiteral("No matching items"));
    EXPECT_FALSE(kept->selectAll()->isChecked());
    EXPECT_FALSE(kept->selectAll()->isEnabled());
    saveScreenshot(*window, QStringLiteral("settings-kept-no-match"));
    kept->searchField()->clear();
    kept->selectAll()->click();
    EXPECT_EQ(kept->state().selectedPaths().size(), 3);

    // Show in the file manager: all at once, inside the mount.
    std::unique_ptr<QMenu> menu(kept->actionsMenu(kept->state().selectedPaths(), nullptr));
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Show in File Manager"));
    menu->actions()[0]->trigger();
    ASSERT_EQ(revealed.size(), 1);
    EXPECT_EQ(revealed[0].size(), 3);
    EXPECT_EQ(revealed[0][0], QUrl::fromLocalFile(*model().mountPath() + QStringLiteral("/Docs/notes.txt")));

    // Stop keeping two of them: the engine forgets them and the list follows.
    kept->selectAll()->click();
    kept->row("Photos")->setCheckState(0, Qt::Checked);
    const QStringList context = kept->state().contextPaths(QStringLiteral("Docs/notes.txt"));
    EXPECT_EQ(context, QStringList{"Docs/notes.txt"}) << "an unchecked row acts alone";
    menu.reset(kept->actionsMenu(QStringList{"Docs/notes.txt", "Photos"}, nullptr));
    EXPECT_EQ(menu->actions()[1]->text(), QStringLiteral("Stop Keeping on This Computer"));
    menu->actions()[1]->trigger();
    EXPECT_TRUE(kept->indicator()->isVisible());
    ASSERT_TRUE(waitFor([&] { return !kept->state().working(); }));
    ASSERT_EQ(kept->list()->topLevelItemCount(), 1);
    EXPECT_EQ(kept->list()->topLevelItem(0)->text(0), QStringLiteral("report.pdf"));
    EXPECT_TRUE(kept->state().selection().isEmpty()) << "the removed paths leave the checks";
    const PinsReply pins = finish(DriveCore::pins(engine.client(), QString::fromLatin1(RCClient::mountFs)));
    ASSERT_EQ(pins.pins.size(), 1);
    EXPECT_EQ(pins.pins[0].path, QStringLiteral("Docs/report.pdf"));
}

TEST_F(SettingsWindowTest, StorageTabMeasuresTheDriveAndChangesTheCache)
{
    ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();
    setUpDrive();
    // Before the drive runs there is nothing to measure with.
    AppModelTestAccess::setSettings(model(), settings);
    auto early = open();
    ASSERT_TRUE(waitFor([&] { return !early->measuringUsage(); }));
    EXPECT_EQ(early->usageError(), AppModel::notConnectedText);
    early.reset();

    finish(model().launch());
    supervisor->client = engine.client();
    ASSERT_TRUE(engine.writeFile(QStringLiteral("Drive/a.bin"), QByteArray(2'000'000, 'a')));
    ASSERT_TRUE(engine.writeFile(QStringLiteral("Recently Deleted/2026-03-01/b.bin"), QByteArray(500'000, 'b')));
    auto window = open();
    StorageTab *storage = window->storageTab();
    window->tabBar()->setCurrentIndex(2);
    ASSERT_TRUE(waitFor([&] { return !window->measuringUsage(); }));
    EXPECT_EQ(shown(storage->usedLine()), QStringLiteral("Used: 2 MB · Recently Deleted: 500 kB"));
    EXPECT_EQ(shown(storage->costLine()), QStringLiteral("About $0.00 this month (the first 10 GB are free)"));
    // No Cloudflare token is kept.
    EXPECT_EQ(shown(storage->cloudflareLine()), DriveCore::CloudflareBill::noKeyText);
    EXPECT_FALSE(storage->soFarValue()->isVisible());
    EXPECT_TRUE(storage->refreshButton()->isEnabled());
    EXPECT_FALSE(storage->usageIndicator()->isVisible());

    // 100 GB free leaves 80 for the cache; the stored 30 keeps Apply off.
    EXPECT_EQ(storage->sliderLower()->text(), QStringLiteral("5 GB"));
    EXPECT_EQ(storage->sliderUpper()->text(), QStringLiteral("80 GB"));
    EXPECT_EQ(storage->cacheSlider()->value(), 30);
    EXPECT_FALSE(storage->applyButton()->isEnabled());
    EXPECT_FALSE(storage->lowDiskLine()->isVisible());
    saveScreenshot(*window, QStringLiteral("settings-storage"));
    storage->cacheSlider()->setFocus();
    QTest::keyClick(storage->cacheSlider(), Qt::Key_Right);
    EXPECT_EQ(storage->cacheValue()->text(), QStringLiteral("31 GB"));
    ASSERT_TRUE(storage->applyButton()->isEnabled());
    supervisor->nextPort = engine.client().port();
    click(storage->applyButton());
    ASSERT_TRUE(waitFor([&] { return !window->applyingCache(); }));
    EXPECT_EQ(DriveSettings::load(*defaults)->cacheGB, 31);
    EXPECT_FALSE(storage->applyButton()->isEnabled()) << "the settings carry the new size";
    EXPECT_EQ(shown(storage->errorLine()), std::nullopt);
}

// Cloudflare's API as a loopback server: the model's requests go there instead.
class CloudflareStandIn {
public:
    explicit CloudflareStandIn(TestSupport::LoopbackHTTPServer::Handler handler) : m_server(std::move(handler)) {}

    HTTPSend send()
    {
        return [this](HTTPRequest request, CancelToken token) {
            QUrl address = m_server.url(request.request.url().path());
            address.setQuery(request.request.url().query());
            request.request.setUrl(address);
            return liveHTTPSend(std::move(request), token);
        };
    }
    qsizetype requests() const { return qsizetype(m_server.requests().size()); }

private:
    TestSupport::LoopbackHTTPServer m_server;
};

TEST_F(SettingsWindowTest, CloudflareSectionShowsTheFiguresARefusalAndAnError)
{
    // Keys of an R2 bucket and a kept token, in a key store in memory.
    const auto store = std::make_shared<KeychainSecretStore>(QStringLiteral("com.corvane.drive.settings"),
                                                             std::make_shared<TestSupport::InMemoryKeychain>());
    finish(
        store->save(StorageSecrets{QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com"),
                                   QStringLiteral("photos"), QStringLiteral("AK"), QStringLiteral("SK")},
                    passphrase));
    finish(store->saveCloudflareKey(QStringLiteral("the-token")));
    settings.save(*defaults);
    AppModel r2(supervisor, store, defaults, network, hooks, true, connection);
    AppModelTestAccess::setSettings(r2, settings);

    QList<TestSupport::LoopbackHTTPServer::Answer> answers = {
        {200,
         R"({"data": {"viewer": {"accounts": [{"storage": [{"max": {"payloadSize": 2000000000000}, "dimensions": {"date": "2026-03-01"}}],
                  "operations": [{"sum": {"requests": 3000000}, "dimensions": {"actionType": "PutObject"}}]}]}}, "errors": null})"},
        {403, "{}"},
        {200, R"({"data": null, "errors": [{"message": "Query Too Complex", "extensions": {"code": "x"}}]})"},
    };
    CloudflareStandIn cloudflare([&](const TestSupport::LoopbackHTTPServer::Request &) {
        return std::optional(answers.isEmpty() ? TestSupport::LoopbackHTTPServer::Answer{500, ""}
                                               : answers.takeFirst());
    });
    context.send = cloudflare.send();
    SettingsWindow window(r2, context);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.tabBar()->setCurrentIndex(2);
    StorageTab *storage = window.storageTab();
    EXPECT_EQ(shown(storage->cloudflareLine()), QStringLiteral("Asking Cloudflare…"));
    ASSERT_TRUE(waitFor([&] { return !window.measuringUsage(); }));
    EXPECT_EQ(cloudflare.requests(), 1);
    EXPECT_EQ(shown(storage->soFarLabel()), QStringLiteral("So far in March"));
    EXPECT_EQ(shown(storage->wholeLabel()), QStringLiteral("Likely for all of March"));
    EXPECT_TRUE(storage->wholeValue()->text().startsWith(QStringLiteral("about $")));
    EXPECT_TRUE(storage->cloudflareLine()->text().startsWith(QStringLiteral("Storage $")));
    // The drive is not running: the storage figures fail on their own.
    EXPECT_EQ(shown(storage->usedLine()), AppModel::notConnectedText);
    saveScreenshot(window, QStringLiteral("settings-storage-cloudflare"));

    click(storage->refreshButton());
    EXPECT_FALSE(storage->refreshButton()->isEnabled());
    ASSERT_TRUE(waitFor([&] { return !window.measuringUsage(); }));
    EXPECT_EQ(shown(storage->cloudflareLine()), DriveCore::CloudflareBill::notAllowedText);
    EXPECT_FALSE(storage->soFarValue()->isVisible());
    saveScreenshot(window, QStringLiteral("settings-storage-cloudflare-not-allowed"));

    click(storage->refreshButton());
    ASSERT_TRUE(waitFor([&] { return !window.measuringUsage(); }));
    EXPECT_EQ(shown(storage->cloudflareLine()),
              QStringLiteral("Cloudflare didn't give the usage figures: Query Too Complex"));
}

// The sheet's own rules over a real sign-out run whose pending count the test sets.
TEST_F(SettingsWindowTest, SignOutSheetWaitsForcesAndDropsAStaleQuestion)
{
    launch();
    pendingCount = 2;
    auto window = open();
    click(window->generalTab()->signOutButton());
    auto *signOut = sheet<SignOutSheet>(*window);
    ASSERT_TRUE(signOut);
    EXPECT_EQ(signOut->width(), 420);
    using B = SignOutPresenter::Button;
    EXPECT_EQ(signOut->shownButtons(), (QList<QPushButton *>{signOut->button(B::cancel), signOut->button(B::signOut)}));
    saveScreenshot(*signOut, QStringLiteral("settings-sign-out"));

    click(signOut->button(B::signOut));
    ASSERT_TRUE(waitFor(
        [&] { return shown(signOut->stepLine()) == QStringLiteral("Waiting for 2 files to finish uploading…"); }));
    EXPECT_EQ(signOut->shownButtons(),
              (QList<QPushButton *>{signOut->button(B::cancelSignOut), signOut->button(B::signOutAnyway)}));
    QTest::keyClick(signOut, Qt::Key_Escape);
    EXPECT_TRUE(signOut->isVisible()) << "no closing while the run goes on";
    saveScreenshot(*signOut, QStringLiteral("settings-sign-out-waiting"));

    // Asked while waiting, answered after the run was cancelled: nothing is forced.
    click(signOut->button(B::signOutAnyway));
    ASSERT_TRUE(waitFor([&] { return signOut->forceQuestion() && signOut->forceQuestion()->isVisible(); }));
    QMessageBox *question = signOut->forceQuestion();
    EXPECT_EQ(question->text(), QStringLiteral("2 files haven't uploaded yet."));
    saveScreenshot(*question, QStringLiteral("settings-sign-out-force-question"));
    model().cancelSignOut();
    ASSERT_TRUE(waitFor([&] {
        sleeps.release(AppModel::signOutPause);
        return !signOut->state().running();
    }));
    EXPECT_EQ(shown(signOut->stepLine()), QStringLiteral("Sign out cancelled. Nothing was changed."));
    QPushButton *confirm = nullptr;
    for (QAbstractButton *button : question->buttons())
        if (button->text() == QStringLiteral("Delete Them and Sign Out"))
            confirm = qobject_cast<QPushButton *>(button);
    click(confirm);
    QTest::qWait(50);
    EXPECT_FALSE(signOut->state().running()) << "no forced run started";
    EXPECT_TRUE(model().settings().has_value());
    EXPECT_TRUE(secrets->keys.has_value());

    // Asked and answered while it waits: the run goes on as forced and discards the files.
    click(signOut->button(B::signOut));
    ASSERT_TRUE(waitFor([&] { return signOut->state().lastStep() == SignOutStep::waiting(2); }));
    click(signOut->button(B::signOutAnyway));
    ASSERT_TRUE(waitFor([&] { return signOut->forceQuestion() && signOut->forceQuestion()->isVisible(); }));
    for (QAbstractButton *button : signOut->forceQuestion()->buttons())
        if (button->text() == QStringLiteral("Delete Them and Sign Out"))
            confirm = qobject_cast<QPushButton *>(button);
    click(confirm);
    ASSERT_TRUE(waitFor([&] {
        sleeps.release(AppModel::signOutPause);
        return !signOut->state().running();
    }));
    EXPECT_EQ(shown(signOut->stepLine()),
              QStringLiteral("Signed out. Files that hadn't uploaded were removed from this computer."));
    EXPECT_EQ(signOut->shownButtons(), QList<QPushButton *>{signOut->button(B::close)});
    EXPECT_FALSE(secrets->keys.has_value());
    saveScreenshot(*signOut, QStringLiteral("settings-sign-out-done"));
    QTest::keyClick(signOut, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return !window->sheet(); }));
    EXPECT_TRUE(window->notSetUpLabel()->isVisible()) << "the window follows the model to not set up";
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Ovra Settings"));
}

// The modules of the pairing code are whole device pixels, all of one size, as large as fit
// the code's side at the screen's pixel ratio.
TEST(AddIPhoneSheet, QRModulesAreWholePixelsThatFitTheSide)
{
    const QString code = QStringLiteral("CDKIT1.") + QString(300, u'A');
    const int modules = DriveCore::PairingQR::image(code, 1)->width;
    for (const qreal ratio : {1.0, 1.25, 2.0, 3.0}) {
        const std::optional<QImage> image = AddIPhoneSheet::qrImage(code, ratio);
        ASSERT_TRUE(image) << ratio;
        const int scale = image->width() / modules;
        EXPECT_EQ(image->width(), modules * scale) << ratio;
        EXPECT_EQ(image->height(), image->width()) << ratio;
        EXPECT_LE(image->width(), AddIPhoneSheet::qrSide * ratio) << ratio;
        EXPECT_GT((scale + 1) * modules, AddIPhoneSheet::qrSide * ratio) << "the largest that fits, at " << ratio;
        EXPECT_EQ(image->devicePixelRatio(), ratio);
    }
}

// Every tab and sheet at the 11-pt font a desktop may use: every text fits, and every control
// a screen reader reaches has a name. Saved as settings-11pt-*.
TEST_F(SettingsWindowTest, EveryFaceFitsAtElevenPointsAndNamesItsControls)
{
    TestSupport::ScopedAppFont font(11);
    const auto check = [](QWidget &window, const char *face) {
        SCOPED_TRACE(face);
        TestSupport::expectTextsFit(window);
        TestSupport::expectAccessibleNames(window);
        saveScreenshot(window, QStringLiteral("settings-11pt-") + QLatin1String(face));
    };
    {
        SettingsWindow notSetUp(model(), context);
        notSetUp.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&notSetUp));
        check(notSetUp, "not-set-up");
    }

    hooks.phoneSync = std::make_shared<MemoryPhoneSync>();
    launch();
    ASSERT_TRUE(engine.writeFile(QStringLiteral("Drive/Docs/report.pdf"), QByteArray(1200, 'r')));
    pin({QStringLiteral("Docs/report.pdf")});
    finish(model().refresh());
    auto window = open();
    ASSERT_TRUE(waitFor([&] { return !window->measuringUsage(); }));
    check(*window, "general");
    window->tabBar()->setCurrentIndex(1);
    check(*window, "kept");
    window->tabBar()->setCurrentIndex(2);
    check(*window, "storage");

    const auto sheetFace = [&](SettingsWindow::SheetKind kind, const char *face) -> QDialog * {
        window->setSheet(kind);
        QDialog *shown = window->sheetDialog();
        EXPECT_TRUE(shown && QTest::qWaitForWindowExposed(shown));
        if (shown)
            check(*shown, face);
        return shown;
    };
    sheetFace(SettingsWindow::SheetKind::keys, "change-keys");
    sheetFace(SettingsWindow::SheetKind::signOut, "sign-out");
    sheetFace(SettingsWindow::SheetKind::iPhoneSync, "iphone-sync");
    auto *kit = qobject_cast<RecoveryKitSheet *>(sheetFace(SettingsWindow::SheetKind::recoveryKit, "recovery-kit"));
    ASSERT_TRUE(kit);
    typeInto(kit->passphraseField(), passphrase);
    click(kit->confirmButton());
    ASSERT_TRUE(waitFor([&] { return kit->code() && laidOut(*kit, kit->doneButton()); }, std::chrono::seconds(60)));
    check(*kit, "recovery-kit-code");
    // The code comes before the buttons that act on it.
    kit->codeView()->setFocus();
    QTest::keyClick(kit->codeView(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), kit->copyButton());
    auto *add = qobject_cast<AddIPhoneSheet *>(sheetFace(SettingsWindow::SheetKind::addIPhone, "add-iphone"));
    ASSERT_TRUE(add);
    typeInto(add->passphraseField(), passphrase);
    click(add->confirmButton());
    ASSERT_TRUE(waitFor([&] { return add->code() && laidOut(*add, add->doneButton()); }, std::chrono::seconds(60)));
    check(*add, "add-iphone-code");
    window->setSheet(std::nullopt);
}

TEST_F(SettingsWindowTest, ThePhoneSheetStaysWhileTurnOnRuns)
{
    const auto phone = std::make_shared<MemoryPhoneSync>();
    hooks.phoneSync = phone;
    launch();
    auto window = open();
    window->generalTab()->phoneSwitch()->click();
    auto *sync = sheet<IPhoneSyncSheet>(*window);
    ASSERT_TRUE(sync);
    phone->writeGate = std::make_shared<AppModelTest::Gate>();
    typeInto(sync->passphraseField(), passphrase);
    click(sync->confirmButton());
    ASSERT_TRUE(waitFor([&] { return phone->writeGate->waiting() > 0; }, std::chrono::seconds(60)));
    ASSERT_TRUE(sync->state().working);
    EXPECT_FALSE(sync->cancelButton()->isEnabled());
    QTest::keyClick(sync, Qt::Key_Escape);
    sync->close();
    EXPECT_EQ(window->sheet(), SettingsWindow::SheetKind::iPhoneSync) << "the sheet waits for the run";
    EXPECT_TRUE(sync->isVisible());
    phone->writeGate->open();
    ASSERT_TRUE(waitFor([&] { return !window->sheet(); }, std::chrono::seconds(60)));
    EXPECT_TRUE(phone->item.has_value());
    EXPECT_TRUE(window->generalTab()->phoneSwitch()->isChecked());
}

TEST_F(SettingsWindowTest, TheKeyboardClosesTheWindowAndGoesThroughTheTabs)
{
    launch();
    auto window = open();
    // Centred the first time it opens (its top on the screen when the screen is smaller).
    const QRect area = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    EXPECT_LE(std::abs(frame.center().x() - area.center().x()), 1) << frame.x();
    if (frame.height() < area.height())
        EXPECT_LE(std::abs(frame.center().y() - area.center().y()), 1) << frame.y();
    else
        EXPECT_EQ(frame.top(), area.top());

    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(window->tab(), SettingsWindow::Tab::general);
    QTest::keyClick(window.get(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(window->tab(), SettingsWindow::Tab::kept);
    EXPECT_EQ(window->tabBar()->currentIndex(), 1);
    QTest::keyClick(window.get(), Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(window.get(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(window->tab(), SettingsWindow::Tab::general) << "round again";
    QTest::keyClick(window.get(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(window->tab(), SettingsWindow::Tab::storage);

    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible()) << "Escape closes it";
    // Shown again where the user left it, not centred again.
    window->move(window->pos() + QPoint(30, 20));
    const QPoint moved = window->pos();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(window->pos(), moved);
    QTest::keyClick(window.get(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible()) << "Ctrl+W closes it";
}

TEST_F(SettingsWindowTest, WithoutRoomTheCacheSliderOffersNothing)
{
    settings.cacheGB = 5;
    hooks.freeDiskBytes = [] { return qint64(25'000'000'000); };
    launch();
    ASSERT_EQ(model().maxCacheGB(), 5);
    auto window = open();
    window->tabBar()->setCurrentIndex(2);
    StorageTab *storage = window->storageTab();
    EXPECT_EQ(storage->sliderLower()->text(), QStringLiteral("5 GB"));
    EXPECT_EQ(storage->sliderUpper()->text(), QStringLiteral("5 GB"));
    EXPECT_FALSE(storage->cacheSlider()->isEnabled());
    storage->cacheSlider()->setFocus();
    QTest::keyClick(storage->cacheSlider(), Qt::Key_End);
    EXPECT_EQ(window->cacheGB(), 5);
    // Even a value set from elsewhere is not offered to Apply.
    window->setCacheGB(6);
    EXPECT_FALSE(storage->applyButton()->isEnabled());
    saveScreenshot(*window, QStringLiteral("settings-storage-no-room"));
}

// A sign-out refused because files are left only in the cache: the sheet says so and offers
// "Sign Out Anyway", which asks first and then signs out, deleting them.
TEST_F(SettingsWindowTest, ARefusedSignOutOffersSignOutAnyway)
{
    hooks.localData = [this](const DriveSettings &) {
        return DriveLocalData{.cache = home.filePath(QStringLiteral("data/Cache")),
                              .logs = home.filePath(QStringLiteral("state/logs")),
                              .keep = home.filePath(QStringLiteral("data/Keep")),
                              .mountFolder = home.filePath(QStringLiteral("Mounts/My Drive")),
                              .backing = home.filePath(QStringLiteral("data/Backing"))};
    };
    launch();
    supervisor->nextPort = engine.client().port();
    const QString meta = home.filePath(QStringLiteral("data/Cache/vfsMeta/drivecrypt/Drive"));
    ASSERT_TRUE(QDir().mkpath(meta));
    QFile dirty(meta + QStringLiteral("/a.txt"));
    ASSERT_TRUE(dirty.open(QIODevice::WriteOnly));
    dirty.write(R"({"ModTime":"2026-03-04T12:00:00Z","ATime":"2026-03-04T12:00:00Z","Size":3,"Rs":[],)"
                R"("Fingerprint":"","Dirty":true})");
    dirty.close();

    auto window = open();
    click(window->generalTab()->signOutButton());
    auto *signOut = sheet<SignOutSheet>(*window);
    ASSERT_TRUE(signOut);
    using B = SignOutPresenter::Button;
    click(signOut->button(B::signOut));
    ASSERT_TRUE(waitFor([&] {
        sleeps.release(AppModel::signOutPause);
        return !signOut->state().running();
    }));
    EXPECT_EQ(shown(signOut->failureLine()), DriveCore::SignOut::UnuploadedFiles::messageText);
    EXPECT_EQ(signOut->shownButtons(),
              (QList<QPushButton *>{signOut->button(B::cancel), signOut->button(B::signOutAnyway),
                                    signOut->button(B::signOut)}));
    EXPECT_TRUE(secrets->keys.has_value()) << "nothing removed";
    ASSERT_TRUE(waitFor([&] { return laidOut(*signOut, signOut->button(B::signOut)); }));
    saveScreenshot(*signOut, QStringLiteral("settings-sign-out-refused"));

    // The restarted engine queues the files it found in its cache again.
    pendingCount = 1;
    click(signOut->button(B::signOutAnyway));
    ASSERT_TRUE(waitFor([&] { return signOut->forceQuestion() && signOut->forceQuestion()->isVisible(); }));
    saveScreenshot(*signOut->forceQuestion(), QStringLiteral("settings-sign-out-refused-force-question"));
    QPushButton *confirm = nullptr;
    for (QAbstractButton *button : signOut->forceQuestion()->buttons())
        if (button->text() == DriveCore::SignOut::forceConfirmButton)
            confirm = qobject_cast<QPushButton *>(button);
    const int runs = signOut->state().run();
    click(confirm);
    EXPECT_EQ(signOut->state().run(), runs + 1) << "a forced run started";
    ASSERT_TRUE(waitFor([&] {
        sleeps.release(AppModel::signOutPause);
        return signOut->state().lastStep() && signOut->state().lastStep()->kind == SignOutStep::done
            && !signOut->state().running();
    })) << signOut->state().running()
        << " " << signOut->state().error().value_or("-").toStdString() << " "
        << (signOut->state().lastStep() ? int(signOut->state().lastStep()->kind) : -1) << " "
        << model().statusLine().toStdString();
    EXPECT_EQ(shown(signOut->stepLine()), DriveCore::SignOut::doneDiscardedText);
    EXPECT_FALSE(secrets->keys.has_value());
    EXPECT_FALSE(QFileInfo::exists(meta + QStringLiteral("/a.txt"))) << "the cache went with the sign-out";
}

} // namespace
