// The share windows on the offscreen platform, driven with keyboard and mouse, against the real
// share model over Debian's rclone and the loopback S3 server, with the link page deployed into
// the Cloudflare stand-in. Each face is saved as a picture under the build folder.
#include "CorvaneDrive/Shares/LinkRow.h"
#include "CorvaneDrive/Shares/SharedLinksWindow.h"
#include "CorvaneDrive/Shares/ShareDone.h"
#include "CorvaneDrive/Shares/ShareFilesPanel.h"
#include "CorvaneDrive/Shares/ShareForm.h"
#include "CorvaneDrive/Shares/ShareSetupView.h"
#include "CorvaneDrive/Shares/ShareWindow.h"
#include "DriveCore/shares/RcloneShareStorage.h"
#include "DriveCore/shares/ShareRecords.h"
#include "DriveCore/shares/ShareWorkerConfig.h"
#include "ShareWindowRig.h"
#include "support/QtPrinters.h"
#include "support/Screenshots.h"
#include "support/TestSupport.h"
#include "support/WindowChecks.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using Face = ShareWindowPresenter::Face;
using TestSupport::await;
using TestSupport::button;
using TestSupport::saveScreenshot;
using TestSupport::spinUntil;

// Takes the URLs the windows ask the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

namespace {

// The visible labels' texts, to look for a line as a person would.
QStringList texts(const QWidget *in)
{
    QStringList shown;
    for (const QLabel *label : in->findChildren<QLabel *>()) {
        if (label->isVisibleTo(in->window()) && !label->text().isEmpty())
            shown.append(label->text());
    }
    return shown;
}

// The checks every face gets at the desktop's font (its texts fit, its controls have names),
// and its picture.
void checkFace(QWidget &window, const QString &picture)
{
    SCOPED_TRACE(picture.toStdString());
    // A new text settles over several turns of the event loop: its label's layout, then the
    // face's, then the window's height.
    for (int turn = 0; turn < 4; ++turn)
        QApplication::processEvents();
    TestSupport::expectTextsFit(window);
    TestSupport::expectAccessibleNames(window);
    saveScreenshot(window, picture);
}

// A name as screenshots get it: long and without a space.
const QString longName =
    QStringLiteral("Screenshot_2026-01-02_at_15.04.05_from_the_kitchen_camera_before_the_party.png");

class ShareWindowsTest : public TestSupport::ShareEngineTest {
protected:
    void SetUp() override
    {
        ShareEngineTest::SetUp();
        QGuiApplication::clipboard()->clear();
    }

    void TearDown() override
    {
        // The windows delete themselves when they close; those still open go here.
        for (const QPointer<QWidget> &window : std::as_const(windows))
            delete window.data();
        ShareEngineTest::TearDown();
    }

    // The share window as the shell opens it, counting the app model's window calls.
    QPointer<ShareWindow> openShareWindow(SharesModel &shares)
    {
        auto *window = new ShareWindow(
            shares,
            ShareWindow::Hooks{[this] { ++opened; }, [this] { ++closed; }, [this, &shares] { openList(shares); }});
        windows.append(window);
        window->show();
        return window;
    }

    void openList(SharesModel &shares)
    {
        if (!linksWindow) {
            linksWindow =
                new SharedLinksWindow(shares, SharedLinksWindow::Hooks{[this] { ++opened; }, [this] { ++closed; }});
            windows.append(linksWindow.data());
        }
        linksWindow->show();
    }

    // Closes the window with the keys and waits until it is gone.
    static bool closeWithKeys(QWidget &window, const QKeySequence &keys)
    {
        const QPointer<QWidget> watched(&window);
        if (!activate(window))
            return false;
        QTest::keySequence(&window, keys);
        return spinUntil([&] { return !watched; }, 10s);
    }

    // Brings the window to the front as a click on it would. The offscreen platform keeps a
    // hidden and shown again window as its focus window, so the widgets are told directly.
    static bool activate(QWidget &window)
    {
        window.activateWindow();
        QApplication::setActiveWindow(&window);
        return spinUntil([&] { return QApplication::activeWindow() == &window; }, 10s);
    }

    static bool showsFace(const ShareWindow &window, Face face) { return window.face() == face; }

    // A link page set up by an older build, which Shared Links offers to update.
    static QUrl olderLinkPage() { return QUrl(QStringLiteral("https://ovra-share-photos.alice.workers.dev")); }
    void saveAnOlderLinkPage()
    {
        await(ShareWorkerConfig{olderLinkPage(), QStringLiteral("old"), 100, rig.now}.save(engine->client(), metaFs));
    }

    TestSupport::ShareWindowRig rig{*engine, metaFs};
    QList<QPointer<QWidget>> windows;
    QPointer<SharedLinksWindow> linksWindow;
    int opened = 0;
    int closed = 0;
};

TEST_F(ShareWindowsTest, SetsUpTheLinkPageMakesALinkListsItAndStopsIt)
{
    const auto shares = rig.makeModel();
    rig.file(QStringLiteral("a.bin"), QByteArray(400'000, 'a'));
    rig.file(QStringLiteral("b.txt"), QByteArray(1'200'000, 'b'));
    rig.file(QStringLiteral("c.txt"), "not picked");

    // Opening: the look-up runs while the window shows "Opening…".
    rig.holdContext = true;
    QPointer<ShareWindow> window = openShareWindow(*shares);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Share"));
    EXPECT_EQ(window->width(), 500);
    ASSERT_EQ(window->face(), Face::opening);
    EXPECT_TRUE(texts(window.get()).contains(QStringLiteral("Opening…")));
    saveScreenshot(*window, QStringLiteral("share-opening"));
    rig.holdContext = false;

    // No link page yet: the set-up face.
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::setup); }, 30s));
    auto *setup = qobject_cast<ShareSetupView *>(window->faceView());
    ASSERT_TRUE(setup);
    EXPECT_TRUE(texts(setup).contains(QStringLiteral("Set up share links (one time)")));
    saveScreenshot(*window, QStringLiteral("share-setup"));

    UrlCatcher urls;
    QTest::mouseClick(setup->openTokensButton(), Qt::LeftButton);
    EXPECT_EQ(urls.opened, QList<QUrl>{QUrl(QStringLiteral("https://dash.cloudflare.com/profile/api-tokens"))});

    setup->tokenField()->setFocus();
    QTest::keyClicks(setup->tokenField(), QStringLiteral("   "));
    EXPECT_FALSE(setup->setUpButton()->isEnabled()) << "only spaces";
    QTest::keyClick(setup->tokenField(), Qt::Key_Return);
    EXPECT_EQ(rig.cloudflare.apiRequests(), 0);
    setup->tokenField()->clear();
    QTest::keyClicks(setup->tokenField(), QStringLiteral("cf-token"));
    EXPECT_TRUE(setup->setUpButton()->isEnabled());
    QTest::keyClick(setup->tokenField(), Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::form); }, 30s)) << int(window->face());
    EXPECT_EQ(rig.cloudflare.apiRequests(), 4);
    EXPECT_EQ(rig.keptTokens, QStringList{QStringLiteral("cf-token")});

    // Nothing picked yet: the form cannot make a link.
    auto *form = qobject_cast<ShareForm *>(window->faceView());
    ASSERT_TRUE(form);
    EXPECT_TRUE(texts(form).contains(QStringLiteral("Share “Shared files”")));
    EXPECT_FALSE(form->createButton()->isEnabled());

    // "Share Files…": two files picked in the open panel.
    bool shareOpened = false;
    auto picking = ShareFilesPanel::pickAndShare(shares.get(), rig.mount.path(), nullptr, [&] { shareOpened = true; });
    auto *panel = TestSupport::topLevel<ShareFilesPanel>();
    ASSERT_TRUE(panel);
    EXPECT_EQ(QDir(panel->directory()).canonicalPath(), QDir(rig.mount.path()).canonicalPath());
    TestSupport::chooseInPanel(*panel, {QStringLiteral("a.bin"), QStringLiteral("b.txt")});
    ASSERT_TRUE(spinUntil([&] { return shareOpened; }, 30s));
    EXPECT_EQ(shares->picked().size(), 2);
    EXPECT_EQ(shares->pickedTitle(), QStringLiteral("a.bin and 1 more"));

    // The same form, now with the picked files, in front again as the shell brings it.
    ASSERT_TRUE(activate(*window));
    ASSERT_EQ(window->faceView(), form);
    EXPECT_TRUE(texts(form).contains(QStringLiteral("Share “a.bin and 1 more”")));
    EXPECT_TRUE(form->createButton()->isEnabled());
    saveScreenshot(*window, QStringLiteral("share-form"));

    // A custom limit of 4 and a password, all with the keyboard.
    form->limitPicker()->setFocus();
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(form->limitPicker(), Qt::Key_Down);
    EXPECT_EQ(form->limitPicker()->currentText(), QStringLiteral("Other…"));
    ASSERT_TRUE(form->customLimitBox()->isVisible());
    EXPECT_EQ(form->customLimitBox()->value(), 3);
    form->customLimitBox()->setFocus();
    QTest::keyClick(form->customLimitBox(), Qt::Key_Up);
    EXPECT_EQ(form->customLimitBox()->value(), 4);
    form->passwordToggle()->setFocus();
    QTest::keyClick(form->passwordToggle(), Qt::Key_Space);
    ASSERT_TRUE(form->passwordField()->isVisible());
    EXPECT_FALSE(form->createButton()->isEnabled()) << "a password is asked for, none typed";
    QTest::keyClicks(form->passwordField(), QStringLiteral("correct horse"));
    EXPECT_TRUE(form->createButton()->isEnabled());
    saveScreenshot(*window, QStringLiteral("share-form-options"));

    // Return makes the link; the second file waits, so the progress shows.
    rig.storage->holdName = QStringLiteral("f/1");
    rig.storage->held = true;
    QTest::keyClick(form->passwordField(), Qt::Key_Return);
    ASSERT_EQ(window->face(), Face::preparing);
    ASSERT_TRUE(spinUntil([&] { return rig.storage->waiting; }, 60s));
    auto *preparing = qobject_cast<SharePreparingFace *>(window->faceView());
    ASSERT_TRUE(preparing);
    const ShareProgress progress = shares->createState().progress;
    EXPECT_GT(progress.done, 0);
    EXPECT_EQ(preparing->progressLine()->text(), ShareWindowPresenter::progressLine(progress).value());
    EXPECT_EQ(preparing->bar()->value(), int(progress.fraction() * preparing->bar()->maximum()));
    saveScreenshot(*window, QStringLiteral("share-preparing"));

    // Closing the window goes on with the link; opening it again shows its progress.
    window->close();
    ASSERT_TRUE(spinUntil([&] { return !window; }, 10s)) << "the window goes when it closes";
    EXPECT_EQ(closed, 1);
    window = openShareWindow(*shares);
    ASSERT_TRUE(activate(*window));
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(window->face(), Face::preparing);
    rig.storage->held = false;

    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::done); }, 60s))
        << shares->createState().text.toStdString();
    const ShareRecord made = *shares->createState().record;
    EXPECT_EQ(made.maxDownloads, 4);
    EXPECT_EQ(made.password, QStringLiteral("correct horse"));
    auto *done = qobject_cast<ShareDone *>(window->faceView());
    ASSERT_TRUE(done);
    const QString link = made.link().toString(QUrl::FullyEncoded);
    EXPECT_TRUE(
        texts(done).contains(QStringLiteral("Password: correct horse — send it separately, not with the link.")));
    EXPECT_NE(done->linkField()->text(), link) << "the long link is shortened while it is only looked at";
    saveScreenshot(*window, QStringLiteral("share-done"));

    QTest::mouseClick(done->copyButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    EXPECT_EQ(done->copyButton()->text(), QStringLiteral("Copied ✓"));
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link) << "Return copies again";
    done->linkField()->setFocus();
    EXPECT_EQ(done->linkField()->text(), link) << "the whole link to select";
    saveScreenshot(*window, QStringLiteral("share-done-copied"));

    // The list of links, opened from the result.
    QTest::mouseClick(done->sharedLinksButton(), Qt::LeftButton);
    ASSERT_TRUE(linksWindow);
    EXPECT_EQ(linksWindow->windowTitle(), QStringLiteral("Shared Links"));
    EXPECT_EQ(linksWindow->size(), QSize(620, 420));
    ASSERT_TRUE(spinUntil([&] { return !shares->loading() && linksWindow->rows().size() == 1; }, 60s));
    LinkRow *row = linksWindow->rows().value(0);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->statusLabel()->text(), QStringLiteral("● Active · 0 of 4 downloads"));
    EXPECT_TRUE(texts(row).contains(QStringLiteral("a.bin and 1 more")));
    saveScreenshot(*linksWindow, QStringLiteral("shared-links"));

    QTest::mouseClick(row->copyPasswordButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("correct horse"));
    QTest::mouseClick(row->copyLinkButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), link);
    EXPECT_EQ(row->copyLinkButton()->text(), QStringLiteral("Copied ✓"));

    // Stopping asks first.
    QTest::mouseClick(row->stopButton(), Qt::LeftButton);
    QMessageBox *confirm = linksWindow->confirmation();
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->text(), QStringLiteral("Stop sharing “a.bin and 1 more”?"));
    EXPECT_EQ(confirm->informativeText(), SharedLinksPresenter::stopMessage);
    QPushButton *stop = button(confirm, QStringLiteral("Stop Sharing"));
    ASSERT_TRUE(stop);
    saveScreenshot(*confirm, QStringLiteral("shared-links-stop"));
    QTest::mouseClick(stop, Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return linksWindow->rows().isEmpty(); }, 60s));
    EXPECT_TRUE(linksWindow->findChildren<LinkRow *>().isEmpty()) << "no widget of a stopped link stays";
    EXPECT_FALSE(linksWindow->presenter().confirmStop);
    EXPECT_EQ(linksWindow->emptyText()->text(), QStringLiteral("No shared links yet."));
    EXPECT_TRUE(await(ShareRecords(engine->client(), metaFs).all()).isEmpty());
    for (const QString &name : engine->bucket().server().objectNames())
        EXPECT_FALSE(name.contains(made.id)) << name.toStdString();
    saveScreenshot(*linksWindow, QStringLiteral("shared-links-empty"));

    // The link just made was stopped: the share window starts again with nothing picked.
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::form); }, 10s));
    form = qobject_cast<ShareForm *>(window->faceView());
    EXPECT_TRUE(texts(form).contains(QStringLiteral("Share “Shared files”")));
    EXPECT_FALSE(form->createButton()->isEnabled());
}

TEST_F(ShareWindowsTest, ShowsWhyShareLinksCouldNotOpenUntilALookUpSucceeds)
{
    const auto shares = rig.makeModel();
    rig.notConnected = true;
    const auto window = openShareWindow(*shares);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::error); }, 30s));
    auto *error = qobject_cast<ShareErrorFace *>(window->faceView());
    ASSERT_TRUE(error);
    EXPECT_TRUE(texts(error).contains(QStringLiteral("Couldn't open share links")));
    EXPECT_TRUE(texts(error).contains(TestSupport::ShareWindowRig::notConnectedText));
    saveScreenshot(*window, QStringLiteral("share-error"));

    rig.notConnected = false;
    QTest::mouseClick(error->tryAgainButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::setup); }, 30s));

    // A failure after a look-up succeeded changes nothing.
    rig.notConnected = true;
    await(shares->loadWorker());
    EXPECT_EQ(window->face(), Face::setup);
}

TEST_F(ShareWindowsTest, FormShowsTheBlockedReasonAndTheModelsRefusalOnAFreshForm)
{
    const auto shares = rig.makeModel();
    await(shares->setUpWorker(QStringLiteral("cf-token")));
    await(shares->pick({rig.file(QStringLiteral("a.txt"), "hello")}));
    rig.blockedReason = TestSupport::ShareWindowRig::notConnectedText;
    const auto window = openShareWindow(*shares);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::form); }, 30s));
    ASSERT_TRUE(activate(*window));
    auto *form = qobject_cast<ShareForm *>(window->faceView());
    EXPECT_TRUE(texts(form).contains(TestSupport::ShareWindowRig::notConnectedText));
    EXPECT_FALSE(form->createButton()->isEnabled());
    saveScreenshot(*window, QStringLiteral("share-form-blocked"));

    // Typed numbers are not held to the stepper's range; the model refuses them.
    rig.blockedReason.reset();
    window->render();
    EXPECT_TRUE(form->createButton()->isEnabled());
    form->expiryPicker()->setFocus();
    QTest::keyClick(form->expiryPicker(), Qt::Key_End);
    EXPECT_TRUE(texts(form).contains(ShareFormPresenter::neverNote));
    form->limitPicker()->setFocus();
    QTest::keyClick(form->limitPicker(), Qt::Key_End);
    form->customLimitBox()->setFocus();
    form->customLimitBox()->selectAll();
    QTest::keyClicks(form->customLimitBox(), QStringLiteral("20000"));
    QTest::keyClick(form->customLimitBox(), Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] { return shares->createState().kind == SharesModel::CreateState::failed; }, 30s));
    ASSERT_EQ(window->face(), Face::form);
    form = qobject_cast<ShareForm *>(window->faceView());
    EXPECT_TRUE(texts(form).contains(SharesModel::downloadLimitText));
    EXPECT_EQ(form->expiryPicker()->currentText(), QStringLiteral("7 days")) << "a fresh form after the progress face";
    EXPECT_FALSE(form->customLimitBox()->isVisibleTo(window.get()));
    saveScreenshot(*window, QStringLiteral("share-form-failed"));

    // Cancelling a link being made brings the form back with the same picked files.
    rig.storage->holdName = QStringLiteral("f/0");
    rig.storage->held = true;
    QTest::keyClick(window.get(), Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] { return rig.storage->waiting; }, 60s));
    auto *preparing = qobject_cast<SharePreparingFace *>(window->faceView());
    ASSERT_TRUE(preparing);
    QTest::mouseClick(preparing->cancelButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::form); }, 30s));
    EXPECT_EQ(shares->createState(), SharesModel::CreateState{});
    EXPECT_EQ(shares->picked().size(), 1);
    rig.storage->held = false;
}

TEST_F(ShareWindowsTest, SharedLinksOffersRemovalOfEndedLinksReportsAFailedStopAndUpdatesTheLinkPage)
{
    // A link page of an older build, and two links: one ended, one the storage will not delete.
    saveAnOlderLinkPage();
    ShareRecord ended;
    ended.id = QString(22, u'E');
    ended.secret = QString(43, u's');
    ended.title = QStringLiteral("Old photos");
    ended.fileCount = 1;
    ended.totalBytes = 0;
    ended.createdAt = rig.now.addDays(-10);
    ended.expiresAt = rig.now.addDays(-3);
    ended.workerURL = olderLinkPage();
    ended.createdBy = QStringLiteral("Study Mac");
    ShareRecord live = ended;
    live.id = QString(22, u'L');
    live.title = QStringLiteral("Report");
    live.expiresAt.reset();
    live.createdAt = rig.now.addDays(-1);
    for (const ShareRecord &record : {ended, live})
        await(ShareRecords(engine->client(), metaFs).save(record));
    rig.cloudflare.statusBody = R"({"downloads":1,"expiresAt":null,"fileCount":1,"totalBytes":0})";

    const auto shares = rig.makeModel();
    openList(*shares);
    ASSERT_TRUE(spinUntil([&] { return !shares->loading() && linksWindow->rows().size() == 2; }, 60s));
    ASSERT_TRUE(activate(*linksWindow));
    EXPECT_TRUE(linksWindow->updateBanner()->isVisible());
    const QList<LinkRow *> rows = linksWindow->rows();
    EXPECT_EQ(rows[0]->statusLabel()->text(), QStringLiteral("● Active · 1 download"));
    EXPECT_EQ(rows[1]->statusLabel()->text(), QStringLiteral("Ended (expired, used up or stopped)"));
    EXPECT_FALSE(rows[1]->copyLinkButton()->isVisibleTo(rows[1]));
    EXPECT_EQ(rows[1]->stopButton()->text(), QStringLiteral("Remove"));
    saveScreenshot(*linksWindow, QStringLiteral("shared-links-update"));

    // Removing the ended link asks in its own words.
    QTest::mouseClick(rows[1]->stopButton(), Qt::LeftButton);
    ASSERT_TRUE(linksWindow->confirmation());
    EXPECT_EQ(linksWindow->confirmation()->text(), QStringLiteral("Remove “Old photos” from the list?"));
    EXPECT_EQ(linksWindow->confirmation()->informativeText(), SharedLinksPresenter::removeMessage);
    QTest::keyClick(linksWindow->confirmation(), Qt::Key_Escape);
    ASSERT_TRUE(spinUntil([&] { return !linksWindow->confirmation(); }, 10s));
    EXPECT_FALSE(linksWindow->presenter().confirmStop) << "however the dialog closes";
    EXPECT_EQ(linksWindow->rows().size(), 2);

    // A stop the storage refuses leaves the row and says why.
    rig.storage = std::make_shared<TestSupport::HeldStorage>(
        engine->bucket().storage(engine->bucket().failingEngine(), QStringLiteral("deletefile *")));
    QTest::mouseClick(rows[0]->stopButton(), Qt::LeftButton);
    ASSERT_TRUE(linksWindow->confirmation());
    EXPECT_EQ(linksWindow->confirmation()->text(), QStringLiteral("Stop sharing “Report”?"));
    QTest::mouseClick(button(linksWindow->confirmation(), QStringLiteral("Stop Sharing")), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return linksWindow->failureAlert() != nullptr; }, 60s));
    QMessageBox *alert = linksWindow->failureAlert();
    EXPECT_EQ(alert->text(), QStringLiteral("Couldn't stop sharing"));
    EXPECT_TRUE(alert->informativeText().startsWith(SharesModel::storagePrefix))
        << alert->informativeText().toStdString();
    saveScreenshot(*alert, QStringLiteral("shared-links-stop-failed"));
    QTest::mouseClick(button(alert, QStringLiteral("OK")), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return !linksWindow->failureAlert(); }, 10s));
    EXPECT_FALSE(linksWindow->presenter().error);
    EXPECT_EQ(linksWindow->rows().size(), 2);

    // The update sheet deploys this build's link page; the banner goes, the sheet stays.
    QTest::mouseClick(linksWindow->updateButton(), Qt::LeftButton);
    QDialog *sheet = linksWindow->updateSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->width(), 500);
    auto *setup = sheet->findChild<ShareSetupView *>();
    ASSERT_TRUE(setup);
    EXPECT_TRUE(texts(setup).contains(QStringLiteral("Update your link page")));
    saveScreenshot(*sheet, QStringLiteral("shared-links-update-sheet"));
    QTest::keyClicks(setup->tokenField(), QStringLiteral("cf-token"));
    QTest::mouseClick(setup->setUpButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return !shares->settingUp() && !shares->workerOutdated(); }, 60s));
    EXPECT_EQ(rig.cloudflare.apiRequests(), 4);
    EXPECT_EQ(setup->tokenField()->text(), QString());
    EXPECT_FALSE(linksWindow->updateBanner()->isVisibleTo(linksWindow.get()));
    EXPECT_TRUE(sheet->isVisible());
    QTest::mouseClick(button(sheet, QStringLiteral("Close")), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return !linksWindow->updateSheet(); }, 10s));
    EXPECT_FALSE(linksWindow->presenter().showUpdate);
}

TEST_F(ShareWindowsTest, SharedLinksShowsASpinnerThenWhyTheListIsEmpty)
{
    const auto shares = rig.makeModel();
    rig.holdContext = true;
    openList(*shares);
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(linksWindow->refreshButton()->isEnabled());
    EXPECT_FALSE(linksWindow->emptyText()->isVisibleTo(linksWindow.get()));
    saveScreenshot(*linksWindow, QStringLiteral("shared-links-loading"));
    rig.notConnected = true;
    rig.holdContext = false;
    ASSERT_TRUE(spinUntil([&] { return !shares->loading(); }, 30s));
    EXPECT_EQ(linksWindow->emptyText()->text(), TestSupport::ShareWindowRig::notConnectedText);
    EXPECT_TRUE(linksWindow->refreshButton()->isEnabled());
    linksWindow->close();
    EXPECT_EQ(closed, 1);
}

TEST_F(ShareWindowsTest, OpenPanelRefusesFilesOutsideTheDrive)
{
    const auto shares = rig.makeModel();
    QTemporaryDir outside;
    QFile(outside.filePath(QStringLiteral("away.txt"))).open(QIODevice::WriteOnly);
    bool shareOpened = false;
    auto picking = ShareFilesPanel::pickAndShare(shares.get(), outside.path(), nullptr, [&] { shareOpened = true; });
    auto *panel = TestSupport::topLevel<ShareFilesPanel>();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(texts(panel).contains(ShareFilesPanel::message));
    saveScreenshot(*panel, QStringLiteral("share-files-panel"));
    TestSupport::chooseInPanel(*panel, {QStringLiteral("away.txt")});
    auto *alert = TestSupport::topLevel<QMessageBox>();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->text(), QStringLiteral("Couldn't share these"));
    EXPECT_EQ(alert->informativeText(), SharesModel::outsideDriveText);
    alert->close();
    EXPECT_FALSE(shareOpened);
    EXPECT_TRUE(shares->picked().isEmpty());
}

TEST_F(ShareWindowsTest, EveryShareFaceFitsAnElevenPointFontAndNamesItsControls)
{
    const TestSupport::ScopedAppFont font(11);
    const auto shares = rig.makeModel();
    rig.notConnected = true;
    const QPointer<ShareWindow> window = openShareWindow(*shares);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::error); }, 30s));
    checkFace(*window, QStringLiteral("share-error-11pt"));

    rig.notConnected = false;
    QTest::mouseClick(qobject_cast<ShareErrorFace *>(window->faceView())->tryAgainButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::setup); }, 30s));
    checkFace(*window, QStringLiteral("share-setup-11pt"));
    auto *setup = qobject_cast<ShareSetupView *>(window->faceView());
    QTest::keyClicks(setup->tokenField(), QStringLiteral("cf-token"));
    QTest::mouseClick(setup->setUpButton(), Qt::LeftButton);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::form); }, 30s));

    // A long name without spaces: the heading takes two lines at most and ends with "…".
    await(shares->pick({rig.file(longName, "a photo")}));
    ASSERT_TRUE(activate(*window));
    auto *form = qobject_cast<ShareForm *>(window->faceView());
    ASSERT_TRUE(form);
    const QStringList headings = texts(form).filter(QRegularExpression(QStringLiteral("^Share “")));
    EXPECT_EQ(headings.size(), 1) << texts(form).join(u'|').toStdString();
    const QString heading = headings.value(0);
    EXPECT_LE(heading.count(u'\n'), 1) << heading.toStdString();
    EXPECT_TRUE(heading.endsWith(u'…')) << heading.toStdString();
    checkFace(*window, QStringLiteral("share-form-11pt"));

    // Every row of the form showing.
    form->expiryPicker()->setFocus();
    QTest::keyClick(form->expiryPicker(), Qt::Key_End);
    form->limitPicker()->setFocus();
    QTest::keyClick(form->limitPicker(), Qt::Key_End);
    form->passwordToggle()->setFocus();
    QTest::keyClick(form->passwordToggle(), Qt::Key_Space);
    QTest::keyClicks(form->passwordField(), QStringLiteral("correct horse"));
    checkFace(*window, QStringLiteral("share-form-options-11pt"));

    rig.storage->holdName = QStringLiteral("f/0");
    rig.storage->held = true;
    QTest::keyClick(form->passwordField(), Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] { return rig.storage->waiting; }, 60s));
    ASSERT_EQ(window->face(), Face::preparing);
    checkFace(*window, QStringLiteral("share-preparing-11pt"));
    rig.storage->held = false;

    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::done); }, 60s))
        << shares->createState().text.toStdString();
    checkFace(*window, QStringLiteral("share-done-11pt"));
}

TEST_F(ShareWindowsTest, SharedLinksAndItsUpdateSheetFitAnElevenPointFontAndNameTheirControls)
{
    const TestSupport::ScopedAppFont font(11);
    saveAnOlderLinkPage();
    ShareRecord live;
    live.id = QString(22, u'L');
    live.secret = QString(43, u's');
    live.password = QStringLiteral("pw");
    live.title = longName;
    live.fileCount = 1;
    live.totalBytes = 2'500'000;
    live.createdAt = rig.now.addDays(-1);
    live.expiresAt = rig.now.addDays(6);
    live.maxDownloads = 5;
    live.workerURL = olderLinkPage();
    live.createdBy = QStringLiteral("Kitchen Mac");
    ShareRecord ended = live;
    ended.id = QString(22, u'E');
    ended.title = QStringLiteral("Old photos");
    ended.password.reset();
    ended.createdAt = rig.now.addDays(-10);
    ended.expiresAt = rig.now.addDays(-3);
    for (const ShareRecord &record : {ended, live})
        await(ShareRecords(engine->client(), metaFs).save(record));

    const auto shares = rig.makeModel();
    openList(*shares);
    ASSERT_TRUE(spinUntil([&] { return !shares->loading() && linksWindow->rows().size() == 2; }, 60s));
    ASSERT_TRUE(activate(*linksWindow));
    EXPECT_TRUE(linksWindow->updateBanner()->isVisible());
    checkFace(*linksWindow, QStringLiteral("shared-links-11pt"));

    QTest::mouseClick(linksWindow->rows()[0]->stopButton(), Qt::LeftButton);
    QMessageBox *confirm = linksWindow->confirmation();
    ASSERT_TRUE(confirm);
    TestSupport::expectTextsFit(*confirm);
    saveScreenshot(*confirm, QStringLiteral("shared-links-stop-11pt"));
    QTest::keyClick(confirm, Qt::Key_Escape);
    ASSERT_TRUE(spinUntil([&] { return !linksWindow->confirmation(); }, 10s));

    // In the update sheet only "Set Up" answers Return, and not while the token is empty, also
    // after the focus has passed the button that opens Cloudflare.
    UrlCatcher urls;
    QTest::mouseClick(linksWindow->updateButton(), Qt::LeftButton);
    QDialog *sheet = linksWindow->updateSheet();
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(activate(*sheet));
    checkFace(*sheet, QStringLiteral("shared-links-update-sheet-11pt"));
    auto *setup = sheet->findChild<ShareSetupView *>();
    ASSERT_TRUE(setup);
    EXPECT_FALSE(setup->setUpButton()->isEnabled());
    setup->openTokensButton()->setFocus();
    setup->tokenField()->setFocus();
    QTest::keyClick(setup->tokenField(), Qt::Key_Return);
    setup->openTokensButton()->setFocus();
    QTest::keyClick(setup->openTokensButton(), Qt::Key_Return);
    EXPECT_TRUE(urls.opened.isEmpty());
    EXPECT_EQ(rig.cloudflare.apiRequests(), 0);
    EXPECT_TRUE(setup->setUpButton()->isDefault());
    EXPECT_TRUE(sheet->isVisible());
    QTest::keyClick(setup->tokenField(), Qt::Key_Escape);
    ASSERT_TRUE(spinUntil([&] { return !linksWindow->updateSheet(); }, 10s)) << "Escape closes the sheet";
}

TEST_F(ShareWindowsTest, ClosedShareWindowsForgetWhatWasTypedAndOpenOnASensibleControl)
{
    const auto shares = rig.makeModel();
    QPointer<ShareWindow> window = openShareWindow(*shares);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::setup); }, 30s));
    ASSERT_TRUE(activate(*window));
    auto *setup = qobject_cast<ShareSetupView *>(window->faceView());
    EXPECT_EQ(window->focusWidget(), setup->tokenField());
    QTest::keyClicks(setup->tokenField(), QStringLiteral("half a tok"));
    ASSERT_TRUE(closeWithKeys(*window, QKeySequence(Qt::Key_Escape))) << "Escape closes the window";
    EXPECT_EQ(closed, 1);

    window = openShareWindow(*shares);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::setup); }, 30s));
    setup = qobject_cast<ShareSetupView *>(window->faceView());
    EXPECT_EQ(setup->tokenField()->text(), QString());

    // The form's choices and password go with the window.
    await(shares->setUpWorker(QStringLiteral("cf-token")));
    await(shares->pick({rig.file(QStringLiteral("a.txt"), "hello")}));
    ASSERT_TRUE(showsFace(*window, Face::form));
    ASSERT_TRUE(activate(*window));
    auto *form = qobject_cast<ShareForm *>(window->faceView());
    EXPECT_EQ(window->focusWidget(), form->expiryPicker());
    QTest::keyClick(form->expiryPicker(), Qt::Key_End);
    form->passwordToggle()->setFocus();
    QTest::keyClick(form->passwordToggle(), Qt::Key_Space);
    QTest::keyClicks(form->passwordField(), QStringLiteral("secret"));
    ASSERT_TRUE(closeWithKeys(*window, QKeySequence(Qt::CTRL | Qt::Key_W))) << "Ctrl+W closes the window";

    window = openShareWindow(*shares);
    ASSERT_TRUE(showsFace(*window, Face::form));
    ASSERT_TRUE(activate(*window));
    form = qobject_cast<ShareForm *>(window->faceView());
    EXPECT_EQ(form->expiryPicker()->currentText(), QStringLiteral("7 days"));
    EXPECT_FALSE(form->passwordToggle()->isChecked());
    EXPECT_EQ(form->passwordField()->text(), QString());

    // "Copied ✓" goes too; the link stays.
    QTest::keyClick(window.get(), Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::done); }, 60s))
        << shares->createState().text.toStdString();
    auto *done = qobject_cast<ShareDone *>(window->faceView());
    EXPECT_EQ(window->focusWidget(), done->copyButton());
    QTest::mouseClick(done->copyButton(), Qt::LeftButton);
    EXPECT_EQ(done->copyButton()->text(), QStringLiteral("Copied ✓"));
    ASSERT_TRUE(closeWithKeys(*window, QKeySequence(Qt::Key_Escape)));
    window = openShareWindow(*shares);
    ASSERT_TRUE(showsFace(*window, Face::done));
    done = qobject_cast<ShareDone *>(window->faceView());
    EXPECT_EQ(done->copyButton()->text(), QStringLiteral("Copy Link"));

    // Shared Links: the same, and it opens on the first link.
    QTest::mouseClick(done->sharedLinksButton(), Qt::LeftButton);
    ASSERT_TRUE(linksWindow);
    ASSERT_TRUE(spinUntil([&] { return !shares->loading() && linksWindow->rows().size() == 1; }, 60s));
    QTest::mouseClick(linksWindow->rows()[0]->copyLinkButton(), Qt::LeftButton);
    EXPECT_EQ(linksWindow->rows()[0]->copyLinkButton()->text(), QStringLiteral("Copied ✓"));
    ASSERT_TRUE(closeWithKeys(*linksWindow, QKeySequence(Qt::Key_Escape))) << "Escape closes Shared Links";
    openList(*shares);
    ASSERT_EQ(linksWindow->rows().size(), 1) << "the list shows at once";
    EXPECT_EQ(linksWindow->rows()[0]->copyLinkButton()->text(), QStringLiteral("Copy Link"));
    EXPECT_EQ(linksWindow->focusWidget(), linksWindow->rows()[0]->copyLinkButton());
    ASSERT_TRUE(spinUntil([&] { return !shares->loading(); }, 60s));
    ASSERT_TRUE(closeWithKeys(*linksWindow, QKeySequence(Qt::CTRL | Qt::Key_W))) << "Ctrl+W closes Shared Links";
}

TEST_F(ShareWindowsTest, ALinkFinishedWhileTheListLoadsShowsOnce)
{
    const auto shares = rig.makeModel();
    await(shares->setUpWorker(QStringLiteral("cf-token")));
    await(shares->pick({rig.file(QStringLiteral("a.txt"), "hello")}));
    // The link's record is saved before its last object, so a load in between lists it.
    rig.storage->holdName = QStringLiteral("meta.json");
    rig.storage->held = true;
    const QPointer<ShareWindow> window = openShareWindow(*shares);
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::form); }, 30s));
    ASSERT_TRUE(activate(*window));
    QTest::keyClick(window.get(), Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] { return rig.storage->waiting; }, 60s));
    openList(*shares);
    ASSERT_TRUE(spinUntil([&] { return !shares->loading() && linksWindow->rows().size() == 1; }, 60s));

    rig.storage->held = false;
    ASSERT_TRUE(spinUntil([&] { return showsFace(*window, Face::done); }, 60s))
        << shares->createState().text.toStdString();
    EXPECT_EQ(shares->rows().size(), 1);
    EXPECT_EQ(linksWindow->rows().size(), 1);
    EXPECT_EQ(linksWindow->findChildren<LinkRow *>().size(), 1) << "no stray row widget";
    saveScreenshot(*linksWindow, QStringLiteral("shared-links-finished-while-loading"));
}

TEST_F(ShareWindowsTest, OpenPanelSharesAFolderWithItsShareButton)
{
    const TestSupport::ScopedAppFont font(11);
    const auto shares = rig.makeModel();
    rig.file(QStringLiteral("Holiday/one.txt"), "one");
    bool shareOpened = false;
    auto picking = ShareFilesPanel::pickAndShare(shares.get(), rig.mountPath, nullptr, [&] { shareOpened = true; });
    auto *panel = TestSupport::topLevel<ShareFilesPanel>();
    ASSERT_TRUE(panel);
    checkFace(*panel, QStringLiteral("share-files-panel-11pt"));
    TestSupport::chooseInPanel(*panel, {QStringLiteral("Holiday")});
    ASSERT_TRUE(spinUntil([&] { return shareOpened; }, 30s));
    ASSERT_EQ(shares->picked().size(), 1);
    EXPECT_EQ(QFileInfo(shares->picked()[0]).fileName(), QStringLiteral("Holiday"));
}

} // namespace

#include "ShareWindowsTest.moc"
