// Every window on the offscreen platform, opened through the real app model with its production
// hooks against the fake engine, clicked through its main road by mouse and keyboard, with a
// picture of each face under <build>/screenshots. Runs on a private session bus
// (keyring-session), where a stand-in file manager answers "Show in File Manager".
#include "CorvaneDrive/TopLevelWindow.h"
#include "CorvaneDrive/Windows/ConflictWindow.h"
#include "CorvaneDrive/Windows/CopyAllWindow.h"
#include "CorvaneDrive/Windows/EmptyPanel.h"
#include "CorvaneDrive/Windows/RecentlyDeletedWindow.h"
#include "CorvaneDrive/Windows/SearchWindow.h"
#include "CorvaneDrive/Windows/UploadsWindow.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/model/AppModel.h"
#include "DriveCore/platform/ByteCountFormat.h"
#include "DriveCore/platform/UserDefaults.h"

#include "support/fake-engine/FakeEngine.h"
#include "support/fake-engine/FakeEngineModel.h"
#include "support/FileManagerStandIn.h"
#include "support/Modal.h"
#include "support/ScopedEnvironment.h"
#include "support/Screenshots.h"
#include "support/TestSupport.h"
#include "support/WindowChecks.h"

#include <QAccessible>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace CorvaneDrive;
using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::saveScreenshot;
using TestSupport::spinUntil;

namespace {

void click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

void pressDelete(QMessageBox &box)
{
    for (QAbstractButton *button : box.buttons())
        if (button->text() == QStringLiteral("Delete"))
            return click(button);
    ADD_FAILURE() << "no Delete button";
}

bool shown(QWidget *widget)
{
    return widget->isVisibleTo(widget->window());
}

QJsonObject fault(const QString &method)
{
    return {{method, QJsonObject{{"status", 500}, {"error", "the bucket said no"}}}};
}

// One face of a window at the desktop's font: its picture, every text whole, every control named.
void checkFace(QWidget &window, const QString &name)
{
    SCOPED_TRACE(name.toStdString());
    QApplication::processEvents();
    saveScreenshot(window, name);
    TestSupport::expectTextsFit(window);
    TestSupport::expectAccessibleNames(window);
}

// A button drawn no wider than its title needs.
bool asWideAsItsTitle(const QAbstractButton *button)
{
    return button->width() <= button->sizeHint().width() + 1;
}

// Notes the URLs the desktop was asked to open.
class UrlEar : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        env.set("HOME", home.path().toUtf8());
        env.set("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
        env.set("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
        env.set("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toUtf8());
        setScenario();
        ASSERT_TRUE(engine.start()) << engine.server().output().toStdString();
        const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        for (const auto &[path, text] : std::initializer_list<std::pair<QString, QByteArray>>{
                 {"Drive/Photos/beach.jpg", "sand"},
                 {"Drive/Photos/Beach party.mov", "music"},
                 {"Drive/notes.txt", "notes"},
                 {"Drive/Docs/plan.txt", "theirs"},
                 {"Drive/Docs/plan (conflict from Desk).txt", "mine"},
                 {"Drive/Docs/budget.xlsx", "numbers"},
                 {"Drive/Docs/budget (conflict from Desk).xlsx", "my numbers"},
                 {"Recently Deleted/" + today + "/Photos/old.jpg", "old"},
                 {"Recently Deleted/" + today + "/draft.txt", "draft"},
                 {"Recently Deleted/" + today + "/Docs/Letters/letter to the bank.docx", "letter"},
             })
            ASSERT_TRUE(engine.writeFile(path, text));

        auto defaults = UserDefaults::standard();
        DriveSettings{.driveName = "My Drive", .deviceID = QUuid::createUuid(), .deviceName = "Laptop"}.save(*defaults);
        DriveEngine(DriveEngine::nfs).save(*defaults);
        AppModelHooks hooks = AppModelHooks::live(QStringLiteral("/nonexistent/rclone"));
        hooks.makeChangeSync = [](RCClient, DriveSettings) { return std::make_shared<TestSupport::NoChangeSync>(); };
        hooks.cacheFolders = [](const DriveSettings &) { return std::set<std::string>{}; };
        // The copy itself is a one-shot engine command against real storage (tested with the
        // model); here it reports what the test tells it to, until stopped or let finish.
        hooks.copyAll = [this](StorageSecrets, QString, QString destination,
                               std::function<void(const CopyProgress &)> progress, CancelToken token) -> QCoro::Task<> {
            copiedTo << destination;
            progress({1'200'000'000, 4'800'000'000});
            while (!copyMayFinish)
                co_await DriveCore::sleep(10ms, token);
        };
        hooks.driveSize = [](StorageSecrets, QString, CancelToken) -> QCoro::Task<qint64> {
            co_return 900'000'000'000'000'000; // more than any disk here has free
        };
        model = std::make_unique<AppModel>(std::make_shared<TestSupport::RunningSupervisor>(engine.client()),
                                           std::make_shared<TestSupport::FixedKeys>(), defaults,
                                           std::make_shared<TestSupport::QuietNetwork>(), hooks, true, nullptr);
        bool launched = false;
        [](AppModel &model, bool &done) -> QCoro::Task<> {
            co_await model.launch();
            done = true;
        }(*model, launched);
        ASSERT_TRUE(spinUntil([&] { return launched; }, 30s));
        ASSERT_EQ(model->phase().kind, AppModelPhase::running) << model->statusLine().toStdString();
    }

    void TearDown() override
    {
        if (model) {
            bool ended = false;
            [](AppModel &model, bool &done) -> QCoro::Task<> {
                co_await model.shutdown();
                done = true;
            }(*model, ended);
            spinUntil([&] { return ended; }, 30s);
        }
        model.reset();
    }

    void setScenario(QJsonObject methods = {}, QJsonObject extra = {})
    {
        QJsonObject scenario{
            {"bucket", engine.bucket()},
            {"diskCache", QJsonObject{{"uploadsInProgress", 0}, {"uploadsQueued", 0}, {"erroredFiles", 0}}},
            {"trash", QJsonObject{{"pending", 0}}},
            {"methods", methods}};
        for (auto it = extra.begin(); it != extra.end(); ++it)
            scenario.insert(it.key(), it.value());
        engine.setScenario(scenario);
    }

    template<typename W>
    QPointer<W> open()
    {
        QPointer<W> window = new W(*model);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.data()));
        return window;
    }

    TestSupport::ScopedEnvironment env;
    QTemporaryDir home;
    TestSupport::FakeEngine engine;
    std::unique_ptr<AppModel> model;
    QStringList copiedTo;
    bool copyMayFinish = false;
};

TEST_F(WindowsTest, RecentlyDeletedListsRestoresDeletesAndEmpties)
{
    // The first listing takes a while: the spinner shows meanwhile.
    setScenario({{"operations/list", QJsonObject{{"delay", 1}}}});
    QPointer<RecentlyDeletedWindow> window = open<RecentlyDeletedWindow>();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Recently Deleted"));
    EXPECT_GE(window->width(), 560);
    EXPECT_EQ(model->openWindows(), 1);
    ASSERT_TRUE(spinUntil([&] { return shown(window->emptyPanel()) && shown(window->emptyPanel()->spinner()); }));
    saveScreenshot(*window, QStringLiteral("recently-deleted-loading"));
    setScenario();
    QTableWidget *table = window->table();
    ASSERT_TRUE(spinUntil([&] { return table->rowCount() == 3 && !window->presenter().loading(); }, 20s))
        << model->deleted().size() << " " << window->errorLabel()->text().toStdString();
    EXPECT_FALSE(shown(window->emptyPanel()));
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), QStringLiteral("Original folder"));
    QStringList names;
    for (int r = 0; r < 3; ++r)
        names << table->item(r, 0)->text() + u'|' + table->item(r, 1)->text() + u'|' + table->item(r, 3)->text();
    names.sort();
    EXPECT_EQ(names,
              (QStringList{"draft.txt|My Drive|30", "letter to the bank.docx|Docs/Letters|30", "old.jpg|Photos|30"}));
    EXPECT_FALSE(window->restoreButton()->isEnabled());
    EXPECT_TRUE(window->emptyButton()->isEnabled());
    saveScreenshot(*window, QStringLiteral("recently-deleted-full"));

    // Two chosen with the keyboard; the bucket refuses both moves: one line says so.
    setScenario(fault(QStringLiteral("operations/movefile")));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Home);
    QTest::keyClick(table, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(window->presenter().selection().size(), 2);
    ASSERT_TRUE(window->restoreButton()->isEnabled());
    click(window->restoreButton());
    ASSERT_TRUE(spinUntil([&] { return !window->presenter().working(); }));
    EXPECT_EQ(window->errorLabel()->text(),
              QStringLiteral("2 of 2 couldn't be restored: Something went wrong. Try again in a moment."));
    EXPECT_TRUE(shown(window->errorLabel()));
    EXPECT_TRUE(window->presenter().selection().isEmpty());
    saveScreenshot(*window, QStringLiteral("recently-deleted-error"));

    // Restored for real: it leaves the list and is back in the drive.
    setScenario();
    const int restoreRow = int(table->findItems(QStringLiteral("old.jpg"), Qt::MatchExactly).front()->row());
    table->selectRow(restoreRow);
    click(window->restoreButton());
    ASSERT_TRUE(spinUntil([&] { return table->rowCount() == 2 && !window->presenter().working(); }, 20s));
    EXPECT_TRUE(QFile::exists(engine.bucket() + QStringLiteral("/Drive/Photos/old.jpg")));
    EXPECT_FALSE(shown(window->errorLabel()));

    // Delete Now asks; Escape keeps everything, "Delete" deletes.
    table->selectRow(0);
    click(window->deleteNowButton());
    ASSERT_TRUE(spinUntil([&] { return window->confirmation() != nullptr; }));
    EXPECT_EQ(window->confirmation()->text(), QStringLiteral("Delete permanently? This can't be undone."));
    saveScreenshot(*window->confirmation(), QStringLiteral("recently-deleted-confirm"));
    QTest::keyClick(window->confirmation(), Qt::Key_Escape);
    ASSERT_TRUE(spinUntil([&] { return !window->presenter().confirming(); }));
    EXPECT_EQ(table->rowCount(), 2);
    click(window->deleteNowButton());
    ASSERT_TRUE(spinUntil([&] { return window->confirmation() != nullptr; }));
    pressDelete(*window->confirmation());
    ASSERT_TRUE(spinUntil([&] { return table->rowCount() == 1 && !window->presenter().working(); }, 20s));

    click(window->emptyButton());
    ASSERT_TRUE(spinUntil([&] { return window->confirmation() != nullptr; }));
    pressDelete(*window->confirmation());
    ASSERT_TRUE(spinUntil([&] { return table->rowCount() == 0 && shown(window->emptyPanel()); }, 20s));
    EXPECT_EQ(window->emptyPanel()->titleLabel()->text(), QStringLiteral("Nothing in Recently Deleted"));
    EXPECT_FALSE(window->emptyButton()->isEnabled());
    saveScreenshot(*window, QStringLiteral("recently-deleted-empty"));

    window->close();
    ASSERT_TRUE(spinUntil([&] { return window.isNull(); }));
    EXPECT_EQ(model->openWindows(), 0);
}

TEST_F(WindowsTest, ConflictWindowTakesEachChoiceAndClosesAfterTheLast)
{
    model->conflictLines()->send(QStringLiteral("Docs/plan (conflict from Desk).txt"));
    model->conflictLines()->send(QStringLiteral("Docs/budget (conflict from Desk).xlsx"));
    ASSERT_TRUE(spinUntil([&] { return model->conflicts().size() == 2; }));
    QPointer<ConflictWindow> window = open<ConflictWindow>();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Ovra"));
    EXPECT_EQ(window->width(), 520);
    EXPECT_EQ(window->titleLabel()->text(), QStringLiteral("\u201cplan.txt\u201d was changed on two computers"));
    EXPECT_EQ(window->counterLabel()->text(), QStringLiteral("1 of 2"));
    saveScreenshot(*window, QStringLiteral("conflict-full"));
    const int plainHeight = window->height();

    // The bucket refuses the move into Recently Deleted: the orange line, the conflict stays.
    setScenario(fault(QStringLiteral("operations/movefile")));
    click(window->keepThisMacButton());
    ASSERT_TRUE(spinUntil([&] { return !window->presenter().working(); }, 20s));
    EXPECT_EQ(window->errorLabel()->text(), QStringLiteral("Something went wrong. Try again in a moment."));
    EXPECT_TRUE(shown(window->errorLabel()));
    saveScreenshot(*window, QStringLiteral("conflict-error"));
    ASSERT_TRUE(spinUntil([&] { return window->height() > plainHeight; })) << "the error line takes room";

    // Return keeps both; the next one shows without a counter.
    setScenario();
    QTest::keyClick(window, Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] { return model->conflicts().size() == 1 && !window->presenter().working(); }, 20s));
    EXPECT_EQ(window->titleLabel()->text(), QStringLiteral("\u201cbudget.xlsx\u201d was changed on two computers"));
    EXPECT_FALSE(shown(window->counterLabel()));
    EXPECT_FALSE(shown(window->errorLabel()));
    saveScreenshot(*window, QStringLiteral("conflict-last"));
    // The error's room goes with it: no blank band under the title.
    EXPECT_TRUE(spinUntil([&] { return window->height() == plainHeight; }))
        << window->height() << " px tall, " << plainHeight << " without the error before";

    // This machine's version wins: the copy takes the original's place, and the window goes.
    click(window->keepThisMacButton());
    ASSERT_TRUE(spinUntil([&] { return window.isNull(); }, 20s));
    EXPECT_TRUE(model->conflicts().isEmpty());
    QFile budget(engine.bucket() + QStringLiteral("/Drive/Docs/budget.xlsx"));
    ASSERT_TRUE(budget.open(QIODevice::ReadOnly));
    EXPECT_EQ(budget.readAll(), QByteArray("my numbers"));

    // Opened with nothing to decide, it closes at once.
    QPointer<ConflictWindow> empty = new ConflictWindow(*model);
    empty->show();
    ASSERT_TRUE(spinUntil([&] { return empty.isNull(); }));
}

TEST_F(WindowsTest, CopyAllChoosesAFolderWarnsCopiesStopsAndFinishes)
{
    QPointer<CopyAllWindow> window = open<CopyAllWindow>();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Copy All My Files"));
    EXPECT_EQ(window->width(), 520);
    EXPECT_FALSE(window->startButton()->isEnabled());
    EXPECT_FALSE(shown(window->pathLabel()));
    saveScreenshot(*window, QStringLiteral("copy-all-empty"));

    const QString target = home.filePath(QStringLiteral("Backup"));
    ASSERT_TRUE(QDir().mkpath(target));
    TestSupport::onNextModal<QFileDialog>([&](QFileDialog &panel) {
        EXPECT_EQ(panel.labelText(QFileDialog::Accept), QStringLiteral("Choose"));
        EXPECT_EQ(panel.fileMode(), QFileDialog::Directory);
        panel.setDirectory(home.path());
        panel.selectFile(target);
        QMetaObject::invokeMethod(&panel, "accept");
    });
    click(window->chooseButton());
    ASSERT_TRUE(spinUntil([&] { return shown(window->warningLabel()); }, 20s))
        << window->presenter().destination().value_or("none").toStdString() << " "
        << window->presenter().driveBytes().value_or(-1);
    EXPECT_TRUE(window->warningLabel()->text().startsWith(QStringLiteral("Your drive holds ")
                                                          + ByteCountFormat::fileSize(900'000'000'000'000'000)
                                                          + QStringLiteral(" but this folder's disk has only ")))
        << window->warningLabel()->text().toStdString();
    EXPECT_EQ(window->pathLabel()->toolTip(), target);
    EXPECT_TRUE(window->startButton()->isEnabled());
    saveScreenshot(*window, QStringLiteral("copy-all-chosen"));

    // Return starts; progress shows; the window closes and the copy goes on.
    QTest::keyClick(window, Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] { return shown(window->progressBar()); }));
    EXPECT_EQ(window->progressLabel()->text(), QStringLiteral("1.2 GB of 4.8 GB"));
    EXPECT_TRUE(shown(window->stopButton()));
    EXPECT_FALSE(window->chooseButton()->isEnabled());
    saveScreenshot(*window, QStringLiteral("copy-all-copying"));
    window->close();
    ASSERT_TRUE(spinUntil([&] { return window.isNull(); }));
    EXPECT_TRUE(model->copyAllRun().isRunning());

    QPointer<CopyAllWindow> reopened = open<CopyAllWindow>();
    EXPECT_TRUE(shown(reopened->stopButton()));
    EXPECT_EQ(reopened->pathLabel()->toolTip(), target);
    click(reopened->stopButton());
    ASSERT_TRUE(spinUntil([&] { return shown(reopened->messageLabel()); }));
    EXPECT_EQ(reopened->messageLabel()->text(),
              QStringLiteral("Stopped. Choose Start Copying to continue where it left off."));
    EXPECT_TRUE(shown(reopened->startButton()));
    saveScreenshot(*reopened, QStringLiteral("copy-all-stopped"));

    copyMayFinish = true;
    click(reopened->startButton());
    ASSERT_TRUE(spinUntil([&] { return shown(reopened->doneLabel()); }));
    EXPECT_EQ(copiedTo, (QStringList{AppModel::copyFolder(target), AppModel::copyFolder(target)}));
    saveScreenshot(*reopened, QStringLiteral("copy-all-done"));
    reopened->close();
}

TEST_F(WindowsTest, SearchLoadsTheListingFindsByNameAndShowsInTheFileManager)
{
    TestSupport::FileManagerStandIn fileManager(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"));
    ASSERT_TRUE(fileManager.start()) << "runs under keyring-session";

    setScenario({{"operations/list", QJsonObject{{"delay", 1}}}});
    QPointer<SearchWindow> window = open<SearchWindow>();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Search Ovra"));
    EXPECT_EQ(window->size(), QSize(760, 520));
    EXPECT_EQ(QApplication::focusWidget(), window->searchField());
    EXPECT_TRUE(shown(window->cancelButton())) << "no listing yet: it loads";
    EXPECT_EQ(window->emptyPanel()->descriptionLabel()->text(), QStringLiteral("Reading file names and folders\u2026"));
    saveScreenshot(*window, QStringLiteral("search-loading"));
    ASSERT_TRUE(spinUntil([&] { return model->searchIndexedAt().has_value(); }, 20s));
    setScenario();
    EXPECT_EQ(window->emptyPanel()->titleLabel()->text(), QStringLiteral("Search your Ovra drive"));
    EXPECT_TRUE(window->updatedLabel()->text().startsWith(QStringLiteral("Updated ")));
    saveScreenshot(*window, QStringLiteral("search-empty"));

    QTest::keyClicks(window->searchField(), QStringLiteral("beach"));
    QTableView *table = window->table();
    ASSERT_TRUE(spinUntil([&] { return table->model()->rowCount() == 2; }));
    EXPECT_EQ(window->countLabel()->text(), QStringLiteral("2 matches"));
    QTest::keyClicks(window->searchField(), QStringLiteral(".jpg"));
    ASSERT_TRUE(spinUntil([&] { return table->model()->rowCount() == 1; }));
    EXPECT_EQ(table->model()->index(0, 0).data().toString(), QStringLiteral("beach.jpg"));
    EXPECT_EQ(table->model()->index(0, 1).data().toString(), QStringLiteral("Photos"));
    EXPECT_EQ(table->model()->index(0, 3).data().toString(), QStringLiteral("4 bytes"));
    EXPECT_FALSE(window->showButton()->isEnabled());
    // Down from the field picks the first row; "Show in File Manager" asks the file manager for it.
    QTest::keyClick(window->searchField(), Qt::Key_Down);
    EXPECT_EQ(window->presenter().selection(), QStringLiteral("Photos/beach.jpg"));
    ASSERT_TRUE(window->showButton()->isEnabled());
    saveScreenshot(*window, QStringLiteral("search-full"));
    click(window->showButton());
    ASSERT_TRUE(spinUntil([&] { return !fileManager.calls().isEmpty(); }));
    EXPECT_EQ(fileManager.calls().front().uris,
              QStringList{QUrl::fromLocalFile(home.filePath(QStringLiteral("Mounts/My Drive/Photos/beach.jpg")))
                              .toString(QUrl::FullyEncoded)});

    QTest::keyClicks(window->searchField(), QStringLiteral(" zebra"));
    ASSERT_TRUE(spinUntil([&] { return table->model()->rowCount() == 0 && shown(window->emptyPanel()); }));
    EXPECT_EQ(window->emptyPanel()->titleLabel()->text(), QStringLiteral("No matches"));
    EXPECT_EQ(window->countLabel()->text(), QStringLiteral("0 matches"));
    EXPECT_FALSE(window->showButton()->isEnabled());

    // A listing that fails shows its line; the rows already found stay searchable.
    setScenario(fault(QStringLiteral("operations/list")));
    click(window->refreshButton());
    ASSERT_TRUE(spinUntil([&] { return shown(window->errorLabel()); }, 20s));
    EXPECT_EQ(window->errorLabel()->text(), QStringLiteral("Something went wrong. Try again in a moment."));
    QTest::keyClick(window->searchField(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window->searchField(), Qt::Key_Backspace);
    QTest::keyClicks(window->searchField(), QStringLiteral("notes"));
    ASSERT_TRUE(spinUntil([&] {
        return table->model()->rowCount() == 1
            && table->model()->index(0, 0).data().toString() == QStringLiteral("notes.txt");
    }));
    saveScreenshot(*window, QStringLiteral("search-error"));
    window->close();
    ASSERT_TRUE(spinUntil([&] { return window.isNull(); }));
}

TEST_F(WindowsTest, UploadsShowsTheStatusLineRowsAndTheQueuedLine)
{
    QPointer<UploadsWindow> window = open<UploadsWindow>();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Uploads"));
    EXPECT_EQ(window->size(), QSize(480, 360));
    ASSERT_TRUE(spinUntil([&] { return window->statusLabel()->text() == AppModel::allSafeText; }, 20s));
    EXPECT_EQ(window->emptyPanel()->titleLabel()->text(), QStringLiteral("Nothing uploading"));
    EXPECT_TRUE(shown(window->emptyPanel()));
    saveScreenshot(*window, QStringLiteral("uploads-empty"));

    const QJsonArray transferring{
        QJsonObject{{"name", "Videos/Holiday in the mountains with the whole family, day one.mov"},
                    {"size", 734'000'000},
                    {"bytes", 308'280'000},
                    {"percentage", 42},
                    {"eta", 61},
                    {"group", "global_stats"},
                    {"dstFs", "drivecrypt:Drive"}},
        QJsonObject{{"name", "Docs/plan.txt"},
                    {"size", 12'000},
                    {"bytes", 0},
                    {"percentage", 0},
                    {"group", "global_stats"},
                    {"dstFs", "drivecrypt:Drive"}},
    };
    const QJsonArray transferred{
        QJsonObject{{"name", "Photos/beach.jpg"},
                    {"size", 2'400'000},
                    {"error", ""},
                    {"completed_at", "2026-03-04T12:00:00Z"},
                    {"group", "global_stats"},
                    {"dstFs", "drivecrypt:Drive"}},
        QJsonObject{{"name", "Photos/broken.jpg"},
                    {"size", 1'000},
                    {"error", "connection reset"},
                    {"completed_at", "2026-03-04T12:00:01Z"},
                    {"group", "global_stats"},
                    {"dstFs", "drivecrypt:Drive"}},
    };
    setScenario({{"core/stats", QJsonObject{{"reply", QJsonObject{{"transferring", transferring}}}}},
                 {"core/transferred", QJsonObject{{"reply", QJsonObject{{"transferred", transferred}}}}}},
                {{"diskCache", QJsonObject{{"uploadsInProgress", 2}, {"uploadsQueued", 40}, {"erroredFiles", 1}}}});
    ASSERT_TRUE(spinUntil([&] { return window->list()->count() >= 4; }, 20s));
    EXPECT_FALSE(shown(window->emptyPanel()));
    EXPECT_TRUE(window->statusLabel()->text().startsWith(QStringLiteral("Uploading 42 files")))
        << window->statusLabel()->text().toStdString();
    QStringList details;
    for (int i = 0; i < window->list()->count(); ++i)
        details << window->rowView(i)->detailLabel()->text();
    EXPECT_TRUE(details.contains(QStringLiteral("42% \u2014 2 min left"))) << details.join(u'|').toStdString();
    EXPECT_TRUE(details.contains(QStringLiteral("Safe in cloud \u2713"))) << details.join(u'|').toStdString();
    saveScreenshot(*window, QStringLiteral("uploads-full"));
    EXPECT_EQ(window->rowView(window->list()->count() - 1)->nameLabel()->text(),
              model->queuedSummary().value_or(QString()));
    window->close();
    ASSERT_TRUE(spinUntil([&] { return window.isNull(); }));
}

TEST_F(WindowsTest, SearchOpensCentredFitsALargeFontAndOpensARowOnce)
{
    TestSupport::ScopedAppFont font(11);
    TopLevelWindow::announceRoles();
    QList<QUrl> opened;
    SearchContext context = SearchContext::live(*model);
    context.open = [&](const QUrl &url) { opened << url; };
    QPointer<SearchWindow> window = new SearchWindow(std::move(context));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.data()));
    const QPoint middle = window->screen()->availableGeometry().center();
    EXPECT_LE((window->frameGeometry().center() - middle).manhattanLength(), 2)
        << "opened at " << window->pos().x() << "," << window->pos().y();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.data())->role(), QAccessible::Window);
    ASSERT_TRUE(spinUntil([&] { return model->searchIndexedAt().has_value() && !window->presenter().loading(); }, 20s));
    checkFace(*window, QStringLiteral("search-empty-11pt"));

    QTest::keyClicks(window->searchField(), QStringLiteral("beach"));
    QTableView *table = window->table();
    ASSERT_TRUE(spinUntil([&] { return table->model()->rowCount() == 2; }));
    QTest::keyClick(window->searchField(), Qt::Key_Down);
    checkFace(*window, QStringLiteral("search-full-11pt"));

    // One double click opens the file once; Return on the row opens it again, once.
    const QRect row = table->visualRect(table->model()->index(0, 0));
    // As a mouse gives it: a click, then the second press as a double click.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, row.center());
    QApplication::processEvents();
    ASSERT_EQ(opened.size(), 1);
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(opened.size(), 2);

    // No file manager answers on the bus: the file's folder opens instead.
    UrlEar desktop;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
    click(window->showButton());
    EXPECT_TRUE(spinUntil([&] { return !desktop.urls.isEmpty(); }, 20s)) << "nothing was shown";
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(desktop.urls.size(), 1);
    EXPECT_EQ(desktop.urls.front(), QUrl::fromLocalFile(QFileInfo(opened.front().toLocalFile()).path()));

    setScenario(fault(QStringLiteral("operations/list")));
    click(window->refreshButton());
    ASSERT_TRUE(spinUntil([&] { return shown(window->errorLabel()); }, 20s));
    checkFace(*window, QStringLiteral("search-error-11pt"));
    window->close();
}

TEST_F(WindowsTest, RecentlyDeletedKeepsItsFooterButtonsAndErrorWholeAtALargeFont)
{
    TestSupport::ScopedAppFont font(11);
    TopLevelWindow::announceRoles();
    QPointer<RecentlyDeletedWindow> window = open<RecentlyDeletedWindow>();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.data())->role(), QAccessible::Window);
    QTableWidget *table = window->table();
    ASSERT_TRUE(spinUntil([&] { return table->rowCount() == 3 && !window->presenter().loading(); }, 20s));
    checkFace(*window, QStringLiteral("recently-deleted-full-11pt"));
    // The bar has room to spare: the buttons keep their own widths.
    for (QPushButton *button : {window->restoreButton(), window->deleteNowButton(), window->emptyButton()})
        EXPECT_TRUE(asWideAsItsTitle(button)) << button->text().toStdString() << " stretched to " << button->width();

    setScenario(fault(QStringLiteral("operations/movefile")));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Home);
    QTest::keyClick(table, Qt::Key_Down, Qt::ShiftModifier);
    click(window->restoreButton());
    ASSERT_TRUE(spinUntil([&] { return !window->presenter().working() && shown(window->errorLabel()); }, 20s));
    checkFace(*window, QStringLiteral("recently-deleted-error-11pt"));
    // The error covers nothing: it lies wholly above the buttons.
    const QRect error(window->errorLabel()->mapTo(window, QPoint()), window->errorLabel()->size());
    const QRect restore(window->restoreButton()->mapTo(window, QPoint()), window->restoreButton()->size());
    EXPECT_FALSE(error.intersects(restore));
    window->close();
}

TEST_F(WindowsTest, ConflictFitsALargeFontWithAndWithoutItsError)
{
    TestSupport::ScopedAppFont font(11);
    TopLevelWindow::announceRoles();
    model->conflictLines()->send(QStringLiteral("Docs/plan (conflict from Desk).txt"));
    model->conflictLines()->send(QStringLiteral("Docs/budget (conflict from Desk).xlsx"));
    ASSERT_TRUE(spinUntil([&] { return model->conflicts().size() == 2; }));
    QPointer<ConflictWindow> window = open<ConflictWindow>();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.data())->role(), QAccessible::Window);
    checkFace(*window, QStringLiteral("conflict-full-11pt"));
    setScenario(fault(QStringLiteral("operations/movefile")));
    click(window->keepThisMacButton());
    ASSERT_TRUE(spinUntil([&] { return !window->presenter().working() && shown(window->errorLabel()); }, 20s));
    checkFace(*window, QStringLiteral("conflict-error-11pt"));
    window->close();
}

TEST_F(WindowsTest, CopyAllFitsALargeFontAndKeepsTheLastProgressUntilTheNextStart)
{
    TestSupport::ScopedAppFont font(11);
    TopLevelWindow::announceRoles();
    QPointer<CopyAllWindow> window = open<CopyAllWindow>();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.data())->role(), QAccessible::Window);
    EXPECT_TRUE(asWideAsItsTitle(window->chooseButton())) << "stretched to " << window->chooseButton()->width();
    checkFace(*window, QStringLiteral("copy-all-empty-11pt"));

    const auto choose = [&](const QString &folder) {
        ASSERT_TRUE(QDir().mkpath(folder));
        // "Choose" inside the folder itself, with nothing selected in it.
        TestSupport::onNextModal<QFileDialog>([&](QFileDialog &panel) {
            panel.setDirectory(folder);
            QMetaObject::invokeMethod(&panel, "accept");
        });
        click(window->chooseButton());
        ASSERT_TRUE(spinUntil([&] { return window->presenter().destination() == folder; }))
            << window->presenter().destination().value_or("none").toStdString();
    };
    ASSERT_NO_FATAL_FAILURE(choose(home.filePath(QStringLiteral("Backup"))));
    ASSERT_TRUE(spinUntil([&] { return shown(window->warningLabel()); }, 20s));
    checkFace(*window, QStringLiteral("copy-all-chosen-11pt"));
    click(window->startButton());
    ASSERT_TRUE(spinUntil([&] { return shown(window->progressBar()); }));
    checkFace(*window, QStringLiteral("copy-all-copying-11pt"));
    click(window->stopButton());
    ASSERT_TRUE(spinUntil([&] { return shown(window->messageLabel()); }));
    checkFace(*window, QStringLiteral("copy-all-stopped-11pt"));

    // Another folder: the message goes, the last run's progress stays until Start.
    ASSERT_NO_FATAL_FAILURE(choose(home.filePath(QStringLiteral("Backup/Other"))));
    EXPECT_FALSE(shown(window->messageLabel()));
    EXPECT_TRUE(shown(window->progressBar()));
    EXPECT_EQ(window->progressLabel()->text(), QStringLiteral("1.2 GB of 4.8 GB"));
    checkFace(*window, QStringLiteral("copy-all-chosen-again-11pt"));
    window->close();
}

TEST_F(WindowsTest, UploadsFitsALargeFontAndNamesItsList)
{
    TestSupport::ScopedAppFont font(11);
    TopLevelWindow::announceRoles();
    QPointer<UploadsWindow> window = open<UploadsWindow>();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.data())->role(), QAccessible::Window);
    ASSERT_TRUE(spinUntil([&] { return window->statusLabel()->text() == AppModel::allSafeText; }, 20s));
    checkFace(*window, QStringLiteral("uploads-empty-11pt"));
    const QJsonArray transferring{
        QJsonObject{{"name", "Videos/Holiday in the mountains with the whole family, day one.mov"},
                    {"size", 734'000'000},
                    {"bytes", 308'280'000},
                    {"percentage", 42},
                    {"eta", 61},
                    {"group", "global_stats"},
                    {"dstFs", "drivecrypt:Drive"}},
    };
    const QJsonArray transferred{
        QJsonObject{{"name", "Photos/broken.jpg"},
                    {"size", 1'000},
                    {"error", "connection reset"},
                    {"completed_at", "2026-03-04T12:00:01Z"},
                    {"group", "global_stats"},
                    {"dstFs", "drivecrypt:Drive"}},
    };
    setScenario({{"core/stats", QJsonObject{{"reply", QJsonObject{{"transferring", transferring}}}}},
                 {"core/transferred", QJsonObject{{"reply", QJsonObject{{"transferred", transferred}}}}}},
                {{"diskCache", QJsonObject{{"uploadsInProgress", 1}, {"uploadsQueued", 40}, {"erroredFiles", 1}}}});
    ASSERT_TRUE(spinUntil([&] { return window->list()->count() >= 3; }, 20s));
    checkFace(*window, QStringLiteral("uploads-full-11pt"));
    window->close();
}

} // namespace

#include "WindowsTest.moc"
