// The windows' presenters as tables, over closures standing in for the app model.
#include "CorvaneDrive/Windows/ConflictPresenter.h"
#include "CorvaneDrive/Windows/CopyAllPresenter.h"
#include "CorvaneDrive/Windows/RecentlyDeletedPresenter.h"
#include "CorvaneDrive/Windows/SearchPresenter.h"
#include "CorvaneDrive/Windows/UploadsPresenter.h"
#include "DriveCore/support/AppModelError.h"

#include "support/TestSupport.h"
#include "WindowsFixture.h"

#include <gtest/gtest.h>

using namespace CorvaneDrive;
using namespace std::chrono_literals;
using DriveCore::AppModelError;
using DriveCore::DeletedItem;
using WindowsFixture::Door;
using WindowsFixture::ManualSleeps;
using WindowsFixture::settle;

namespace {

const QString notConnected = QStringLiteral("The drive isn't connected right now. Try again in a moment.");
const QString fallback = QStringLiteral("Something went wrong. Try again in a moment.");

DeletedItem item(const QString &path, int day = 4)
{
    return {QStringLiteral("2026-03-%1/").arg(day, 2, 10, QLatin1Char('0')) + path, path,
            QDateTime(QDate(2026, 3, day), QTime(0, 0)), 10};
}

// --- Recently Deleted ---

class RecentlyDeletedTest : public ::testing::Test {
protected:
    RecentlyDeletedContext context()
    {
        RecentlyDeletedContext c;
        c.deleted = [this] { return deleted; };
        c.trashStats = [this] { return stats; };
        c.trashMoveMessage = [] { return std::optional<QString>(); };
        c.trashFooter = [] { return QStringLiteral("footer"); };
        c.driveName = [] { return std::optional(QStringLiteral("My Drive")); };
        c.refreshDeleted = [this](bool force) -> QCoro::Task<> {
            refreshes << force;
            if (refreshDoor)
                co_await refreshDoor->pass();
            if (refreshFailure)
                throw AppModelError(*refreshFailure);
        };
        c.restore = [this](DeletedItem it) -> QCoro::Task<> {
            calls << QStringLiteral("restore ") + it.originalPath;
            if (actionDoor)
                co_await actionDoor->pass();
            if (failing.contains(it.originalPath))
                throw AppModelError(QStringLiteral("no ") + it.originalPath);
            if (it.originalPath == QStringLiteral("odd"))
                throw std::runtime_error("odd");
        };
        c.deleteNow = [this](DeletedItem it) -> QCoro::Task<> {
            calls << QStringLiteral("delete ") + it.originalPath;
            if (failing.contains(it.originalPath))
                throw AppModelError(QStringLiteral("no ") + it.originalPath);
            co_return;
        };
        c.emptyRecentlyDeleted = [this]() -> QCoro::Task<> {
            calls << QStringLiteral("empty");
            co_return;
        };
        c.windowOpened = [this] { calls << QStringLiteral("opened"); };
        c.windowClosed = [this] { calls << QStringLiteral("closed"); };
        c.now = [] { return QDateTime(QDate(2026, 3, 10), QTime(12, 0)); };
        c.sleep = sleep.sleep();
        return c;
    }
    void selectAll(RecentlyDeletedPresenter &presenter)
    {
        QSet<QString> ids;
        for (const DeletedItem &it : deleted)
            ids.insert(it.id);
        presenter.setSelection(ids);
    }

    QList<DeletedItem> deleted{item(QStringLiteral("a")), item(QStringLiteral("Photos/b")), item(QStringLiteral("c"))};
    std::optional<DriveCore::TrashStats> stats = DriveCore::TrashStats{};
    QSet<QString> failing;
    QStringList calls;
    QList<bool> refreshes;
    std::optional<QString> refreshFailure;
    std::shared_ptr<Door> refreshDoor;
    std::shared_ptr<Door> actionDoor;
    ManualSleeps sleep;
};

TEST_F(RecentlyDeletedTest, EmptyPanelFollowsTheTrashStatistics)
{
    using Panel = RecentlyDeletedPresenter::Panel;
    const struct {
        std::optional<DriveCore::TrashStats> stats;
        std::optional<Panel> panel;
    } cases[] = {
        {std::nullopt,
         Panel{"Checking Recently Deleted", "view-refresh", "The list will update when the drive responds."}},
        {DriveCore::TrashStats{.pending = 3},
         Panel{"Moving files to Recently Deleted", "view-refresh", "They\u2019ll appear here when the move finishes."}},
        {DriveCore::TrashStats{.pending = 0},
         Panel{"Nothing in Recently Deleted", "user-trash", "Deleted files stay here for 30 days."}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RecentlyDeletedPresenter::emptyPanel(c.stats), c.panel);

    // A list with items never shows a panel, whatever the statistics say.
    stats = DriveCore::TrashStats{.pending = 3};
    RecentlyDeletedPresenter presenter(context());
    EXPECT_EQ(presenter.panel(), std::nullopt);
    deleted.clear();
    EXPECT_EQ(presenter.panel()->title, QStringLiteral("Moving files to Recently Deleted"));
}

TEST_F(RecentlyDeletedTest, RowsShowTheOriginalFolderOrTheDrive)
{
    const struct {
        QString path;
        std::optional<QString> driveName;
        QString folder;
    } cases[] = {
        {"Photos/beach.jpg", "My Drive", "Photos"},
        {"A/B/c.txt", "My Drive", "A/B"},
        {"top.txt", "My Drive", "My Drive"},
        {"top.txt", std::nullopt, "Drive"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(RecentlyDeletedPresenter::folder(c.path, c.driveName), c.folder) << c.path.toStdString();

    RecentlyDeletedPresenter presenter(context());
    const auto rows = presenter.rows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[1].name, QStringLiteral("b"));
    EXPECT_EQ(rows[1].folder, QStringLiteral("Photos"));
    EXPECT_EQ(rows[1].daysLeft, QStringLiteral("24")); // deleted on the 4th, today the 10th
    EXPECT_FALSE(rows[1].deleted.isEmpty());
}

TEST_F(RecentlyDeletedTest, SeveralItemsReportEveryFailureNotOnlyTheLast)
{
    const struct {
        QSet<QString> failing;
        std::optional<QString> error;
    } cases[] = {
        {{}, std::nullopt},
        {{"a"}, "1 of 3 couldn't be restored: no a"},
        {{"c"}, "1 of 3 couldn't be restored: no c"},
        {{"a", "Photos/b"}, "2 of 3 couldn't be restored: no a"},
    };
    for (const auto &c : cases) {
        failing = c.failing;
        calls.clear();
        RecentlyDeletedPresenter presenter(context());
        selectAll(presenter);
        presenter.restoreSelected();
        ASSERT_TRUE(TestSupport::spinUntil([&] { return !presenter.working(); }));
        EXPECT_EQ(calls, (QStringList{"restore a", "restore Photos/b", "restore c"}));
        EXPECT_EQ(presenter.error(), c.error);
        EXPECT_TRUE(presenter.selection().isEmpty());
    }

    // One item: its own words; an error of no known kind: the fallback.
    for (const auto &[path, text] :
         {std::pair(QStringLiteral("a"), QStringLiteral("no a")), std::pair(QStringLiteral("odd"), fallback)}) {
        failing = {QStringLiteral("a")};
        deleted = {item(path)};
        RecentlyDeletedPresenter presenter(context());
        selectAll(presenter);
        presenter.restoreSelected();
        ASSERT_TRUE(TestSupport::spinUntil([&] { return !presenter.working(); }));
        EXPECT_EQ(presenter.error(), text);
    }
}

TEST_F(RecentlyDeletedTest, DeleteNowAsksFirstAndCancelDeletesNothing)
{
    RecentlyDeletedPresenter presenter(context());
    EXPECT_FALSE(presenter.canDeleteNow()) << "nothing selected";
    presenter.setSelection({deleted[0].id});
    presenter.askDeleteNow();
    EXPECT_EQ(presenter.confirming(), RecentlyDeletedPresenter::PermanentAction::deleteSelected);
    presenter.dismissConfirmation();
    EXPECT_EQ(presenter.confirming(), std::nullopt);
    EXPECT_EQ(presenter.selection(), QSet<QString>{deleted[0].id});
    EXPECT_TRUE(calls.isEmpty());

    // Both actions ask with the same title; "Delete" clears the question before the work starts.
    EXPECT_EQ(RecentlyDeletedPresenter::confirmTitle(), QStringLiteral("Delete permanently? This can't be undone."));
    failing = {QStringLiteral("c")};
    selectAll(presenter);
    presenter.askDeleteNow();
    std::optional<RecentlyDeletedPresenter::PermanentAction> whenWorkStarted;
    QObject::connect(&presenter, &RecentlyDeletedPresenter::changed, [&] {
        if (presenter.working() && !whenWorkStarted)
            whenWorkStarted = presenter.confirming();
    });
    presenter.confirm();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !presenter.working(); }));
    EXPECT_EQ(whenWorkStarted, std::nullopt);
    EXPECT_EQ(calls, (QStringList{"delete a", "delete Photos/b", "delete c"}));
    EXPECT_EQ(presenter.error(), QStringLiteral("1 of 3 couldn't be deleted: no c"));

    calls.clear();
    presenter.askEmpty();
    EXPECT_EQ(presenter.confirming(), RecentlyDeletedPresenter::PermanentAction::emptyAll);
    presenter.confirm();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !presenter.working(); }));
    EXPECT_EQ(calls, QStringList{"empty"});
    EXPECT_EQ(presenter.error(), std::nullopt) << "a success clears the last failure";
}

TEST_F(RecentlyDeletedTest, RefreshesWhileShownOnlyTheFirstForcedAndWithTheSpinner)
{
    refreshDoor = std::make_shared<Door>();
    RecentlyDeletedPresenter presenter(context());
    presenter.shown();
    EXPECT_EQ(calls, QStringList{"opened"});
    EXPECT_TRUE(presenter.loading());
    EXPECT_EQ(presenter.panel(), std::nullopt) << "the spinner, not a panel";
    refreshDoor->open();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return sleep.waiting() == 1; }));
    EXPECT_FALSE(presenter.loading());
    EXPECT_EQ(sleep.asked().front(), 2s);

    // A refresh that fails shows its text; a later good one takes it back.
    refreshFailure = notConnected;
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return sleep.waiting() == 1 && refreshes.size() == 2; }));
    EXPECT_EQ(presenter.error(), notConnected);
    EXPECT_FALSE(presenter.loading()) << "only the first refresh shows the spinner";
    refreshFailure.reset();
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return refreshes.size() == 3 && sleep.waiting() == 1; }));
    EXPECT_EQ(presenter.error(), std::nullopt);
    EXPECT_EQ(refreshes, (QList<bool>{true, false, false}));

    // While a restore runs the loop only sleeps; an action's failure outlives later refreshes.
    actionDoor = std::make_shared<Door>();
    failing = {QStringLiteral("a")};
    presenter.setSelection({deleted[0].id});
    presenter.restoreSelected();
    EXPECT_FALSE(presenter.canRestore());
    EXPECT_FALSE(presenter.canDeleteNow());
    EXPECT_FALSE(presenter.canEmpty());
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return sleep.waiting() == 1; }));
    EXPECT_EQ(refreshes.size(), 3) << "no refresh while working";
    actionDoor->open();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !presenter.working(); }));
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return refreshes.size() == 4 && sleep.waiting() == 1; }));
    EXPECT_EQ(presenter.error(), QStringLiteral("no a"));

    // Leaving the screen ends the loop; a refresh that fails after that shows nothing.
    refreshDoor = std::make_shared<Door>();
    refreshFailure = notConnected;
    presenter.setSelection({});
    presenter.restoreSelected();
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return refreshDoor->waiting() == 1; }));
    presenter.hidden();
    EXPECT_EQ(calls.last(), QStringLiteral("closed"));
    refreshDoor->open();
    settle();
    EXPECT_EQ(presenter.error(), QStringLiteral("no a"));
    EXPECT_EQ(sleep.waiting(), 0);
}

TEST_F(RecentlyDeletedTest, ARestoreGoesOnAfterTheWindowIsGone)
{
    actionDoor = std::make_shared<Door>();
    auto presenter = std::make_unique<RecentlyDeletedPresenter>(context());
    selectAll(*presenter);
    presenter->restoreSelected();
    presenter.reset();
    actionDoor->open();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return calls.size() == 3; }));
    EXPECT_EQ(calls.last(), QStringLiteral("restore c"));
}

// --- Conflicts ---

class ConflictTest : public ::testing::Test {
protected:
    ConflictContext context()
    {
        return {
            .currentConflict = [this] { return conflicts.isEmpty() ? std::nullopt : std::optional(conflicts.front()); },
            .counter =
                [this] {
                    return conflicts.size() >= 2
                        ? std::optional(DriveCore::ConflictText::counter(int(conflicts.size())))
                        : std::nullopt;
                },
            .resolve = [this](DriveCore::ConflictChoice choice) -> QCoro::Task<std::optional<QString>> {
                choices << choice;
                if (door)
                    co_await door->pass();
                if (failure)
                    std::rethrow_exception(failure);
                conflicts.removeFirst();
                co_return std::optional<QString>(notice);
            },
        };
    }

    QList<DriveCore::DriveConflict> conflicts{
        {"Docs/plan.txt", "Docs/plan (conflict from Desk).txt", "Desk"},
        {"b.txt", "b (conflict from Desk).txt", "Desk"},
        {"c.txt", "c (conflict from Desk).txt", "Desk"},
    };
    QList<DriveCore::ConflictChoice> choices;
    std::exception_ptr failure;
    std::optional<QString> notice;
    std::shared_ptr<Door> door;
};

TEST_F(ConflictTest, CountsDownAndClosesAfterTheLastWithoutANotice)
{
    ConflictPresenter presenter(context());
    EXPECT_EQ(presenter.title(), QStringLiteral("\u201cplan.txt\u201d was changed on two computers"));
    EXPECT_EQ(presenter.counter(), QStringLiteral("1 of 3"));
    door = std::make_shared<Door>();
    presenter.choose(DriveCore::ConflictChoice::keepBoth);
    EXPECT_TRUE(presenter.working());
    presenter.choose(DriveCore::ConflictChoice::keepOther);
    door->open();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !presenter.working(); }));
    EXPECT_EQ(choices, QList{DriveCore::ConflictChoice::keepBoth}) << "one choice at a time";
    EXPECT_EQ(presenter.counter(), QStringLiteral("1 of 2"));
    door.reset();
    presenter.choose(DriveCore::ConflictChoice::keepThisMac);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !presenter.working(); }));
    EXPECT_EQ(presenter.counter(), std::nullopt);
    EXPECT_FALSE(presenter.shouldClose());
    presenter.choose(DriveCore::ConflictChoice::keepThisMac);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !presenter.working(); }));
    EXPECT_TRUE(presenter.shouldClose());
}

TEST_F(ConflictTest, FailuresShowInlineAndANoticeHoldsTheWindowOpen)
{
    const struct {
        std::exception_ptr failure;
        QString error;
    } cases[] = {
        {std::make_exception_ptr(AppModelError(notConnected)), notConnected},
        {std::make_exception_ptr(std::runtime_error("socket")), fallback},
    };
    for (const auto &c : cases) {
        ConflictPresenter presenter(context());
        failure = c.failure;
        presenter.choose(DriveCore::ConflictChoice::keepOther);
        ASSERT_TRUE(TestSupport::spinUntil([&] { return !presenter.working(); }));
        EXPECT_EQ(presenter.error(), c.error);
        EXPECT_EQ(conflicts.size(), 3) << "the conflict stays";
    }

    failure = nullptr;
    conflicts = {conflicts.front()};
    notice = QStringLiteral("This was already sorted out.");
    ConflictPresenter presenter(context());
    presenter.choose(DriveCore::ConflictChoice::keepOther);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !presenter.working(); }));
    EXPECT_EQ(presenter.notice(), notice);
    EXPECT_EQ(presenter.error(), std::nullopt);
    EXPECT_EQ(presenter.conflict(), std::nullopt);
    EXPECT_FALSE(presenter.shouldClose()) << "the notice shows first";
    presenter.dismissNotice();
    EXPECT_TRUE(presenter.shouldClose());
}

// --- Uploads ---

TEST(UploadsPresenter, TimeLeftRoundsUpToWholeMinutes)
{
    const struct {
        std::optional<qint64> seconds;
        QString text;
    } cases[] = {
        {std::nullopt, "working out time left"},
        {-5, "less than a minute left"},
        {0, "less than a minute left"},
        {59, "less than a minute left"},
        {60, "1 min left"},
        {61, "2 min left"},
        {3599, "60 min left"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UploadsPresenter::timeLeft(c.seconds), c.text) << c.seconds.value_or(-1);
}

TEST(UploadsPresenter, EachStateHasItsIconDetailAndSize)
{
    using DriveCore::UploadRow;
    using Tint = UploadsPresenter::Tint;
    const struct {
        UploadRow::State state;
        UploadsPresenter::RowLook look;
    } cases[] = {
        {UploadRow::Uploading{42, 61},
         {"document-send", Tint::accent, 42, "42% \u2014 2 min left", Tint::secondary, "1.5 MB"}},
        {UploadRow::Uploading{7, std::nullopt},
         {"document-send", Tint::accent, 7, "7% \u2014 working out time left", Tint::secondary, "1.5 MB"}},
        {UploadRow::Waiting{"Waiting for internet"},
         {"appointment-soon", Tint::secondary, std::nullopt, "Waiting for internet", Tint::secondary, "1.5 MB"}},
        {UploadRow::Problem{"Couldn't upload"},
         {"dialog-warning", Tint::orange, std::nullopt, "Couldn't upload", Tint::orange, "1.5 MB"}},
        {UploadRow::Safe{},
         {"emblem-default", Tint::green, std::nullopt, "Safe in cloud \u2713", Tint::green, "1.5 MB"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UploadsPresenter::look(UploadRow{"a/b.mov", "b.mov", 1'500'000, c.state}), c.look)
            << c.look.detail.toStdString();

    EXPECT_FALSE(UploadsPresenter::showsList({}, std::nullopt));
    EXPECT_TRUE(UploadsPresenter::showsList({}, QStringLiteral("3 more files waiting")));
}

// --- Copy all ---

class CopyAllTest : public ::testing::Test {
protected:
    CopyAllTest()
        : run([this](QString folder, std::function<void(const DriveCore::CopyProgress &)> progress,
                     DriveCore::CancelToken token) -> QCoro::Task<> {
              copies << folder;
              reportProgress = progress;
              while (!copyDone) {
                  co_await DriveCore::sleep(5ms, token);
              }
              if (copyFailure)
                  throw AppModelError(*copyFailure);
          })
    {
    }

    CopyAllContext context()
    {
        CopyAllContext c;
        c.run = &run;
        c.driveSize = [this]() -> QCoro::Task<qint64> {
            ++sizeAsks;
            if (sizeDoor)
                co_await sizeDoor->pass();
            if (!driveBytes)
                throw std::runtime_error("no size");
            co_return *driveBytes;
        };
        c.freeSpace = [this](const QString &) { return freeBytes; };
        return c;
    }

    DriveCore::CopyAllRun run;
    QStringList copies;
    std::function<void(const DriveCore::CopyProgress &)> reportProgress;
    bool copyDone = false;
    std::optional<QString> copyFailure;
    std::optional<qint64> driveBytes = 5'000'000'000;
    std::optional<qint64> freeBytes = 2'000'000'000;
    int sizeAsks = 0;
    std::shared_ptr<Door> sizeDoor;
};

TEST_F(CopyAllTest, WarnsOnlyWhenTheDriveIsLargerThanTheFreeSpace)
{
    const struct {
        std::optional<qint64> drive;
        std::optional<qint64> free;
        std::optional<QString> warning;
    } cases[] = {
        {5'000'000'000, 2'000'000'000,
         "Your drive holds 5 GB but this folder's disk has only 2 GB free. Choose a bigger disk, or the copy will stop "
         "when it's full."},
        {5'000'000'000, 5'000'000'000, std::nullopt},
        {5'000'000'000, std::nullopt, std::nullopt},
        {std::nullopt, 2'000'000'000, std::nullopt},
    };
    for (const auto &c : cases) {
        driveBytes = c.drive;
        freeBytes = c.free;
        CopyAllPresenter presenter(context());
        EXPECT_FALSE(presenter.canStart()) << "no folder yet";
        EXPECT_EQ(presenter.spaceWarning(), std::nullopt);
        presenter.choose(QStringLiteral("/media/backup"));
        ASSERT_TRUE(TestSupport::spinUntil([&] { return presenter.driveBytes() == c.drive; }));
        settle();
        EXPECT_EQ(presenter.spaceWarning(), c.warning);
        EXPECT_TRUE(presenter.canStart()) << "a warning does not block the start";
    }

    // A bar against a total of 0 is drawn against 1.
    EXPECT_EQ(CopyAllPresenter::bar({0, 0}), (std::pair<qint64, qint64>(0, 1)));
    EXPECT_EQ(CopyAllPresenter::progressText({0, 0}), QStringLiteral("0 bytes of 0 bytes"));
    EXPECT_EQ(CopyAllPresenter::progressText({1'500'000, 3'000'000}), QStringLiteral("1.5 MB of 3 MB"));
}

TEST_F(CopyAllTest, OnlyTheLatestChoiceGetsItsSize)
{
    CopyAllPresenter presenter(context());
    auto first = std::make_shared<Door>();
    sizeDoor = first;
    driveBytes = 1;
    presenter.choose(QStringLiteral("/a"));
    auto second = std::make_shared<Door>();
    sizeDoor = second;
    presenter.choose(QStringLiteral("/b"));
    driveBytes = 7;
    second->open();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return presenter.driveBytes() == 7; }));
    EXPECT_EQ(presenter.destination(), QStringLiteral("/b"));
    // The superseded measurement ends too, and changes nothing.
    first->open();
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(presenter.driveBytes(), 7);
}

TEST_F(CopyAllTest, TheCopyOutlivesTheWindowAndAReopenedOneCanStopIt)
{
    auto first = std::make_unique<CopyAllPresenter>(context());
    first->choose(QStringLiteral("/media/backup"));
    first->start();
    EXPECT_TRUE(first->running());
    EXPECT_FALSE(first->canChoose());
    reportProgress({100, 0});
    ASSERT_TRUE(TestSupport::spinUntil([&] { return first->progress().has_value(); }));
    first.reset();

    // The window is gone; the copy is not, and another one cannot start into the same folder.
    EXPECT_TRUE(run.isRunning());
    CopyAllPresenter reopened(context());
    EXPECT_TRUE(reopened.running());
    EXPECT_EQ(reopened.destination(), QStringLiteral("/media/backup"));
    EXPECT_EQ(reopened.progress(), (DriveCore::CopyProgress{100, 0}));
    reopened.start();
    EXPECT_EQ(copies.size(), 1);
    reopened.stop();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !reopened.running(); }));
    EXPECT_EQ(reopened.message(), QStringLiteral("Stopped. Choose Start Copying to continue where it left off."));
    EXPECT_EQ(reopened.progress(), (DriveCore::CopyProgress{100, 0})) << "the last progress stays";
    // Choosing a folder takes the message away, not the progress: that goes at the next start.
    reopened.choose(QStringLiteral("/media/backup"));
    EXPECT_EQ(reopened.message(), std::nullopt);
    EXPECT_EQ(reopened.progress(), (DriveCore::CopyProgress{100, 0}));

    // Again into the same folder: finished; choosing a folder then takes the Done text away.
    copyDone = true;
    reopened.start();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return reopened.finished(); }));
    EXPECT_EQ(reopened.message(), std::nullopt);
    EXPECT_EQ(copies, (QStringList{"/media/backup", "/media/backup"}));
    reopened.choose(QStringLiteral("/media/other"));
    EXPECT_FALSE(reopened.finished());

    copyFailure = QStringLiteral("The disk is full.");
    reopened.start();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !reopened.running(); }));
    EXPECT_EQ(reopened.message(), copyFailure);
}

// --- Search ---

DriveCore::DriveSearchEntry entry(const QString &path, bool pending = false)
{
    return {path,
            path.mid(path.lastIndexOf(u'/') + 1),
            false,
            pending ? std::nullopt : std::optional<qint64>(2000),
            pending ? std::nullopt : std::optional(QDateTime(QDate(2026, 1, 2), QTime(3, 4))),
            pending};
}

class SearchTest : public ::testing::Test {
protected:
    SearchContext context()
    {
        SearchContext c;
        c.searchIndex = [this] { return index; };
        c.searchIndexedAt = [this] { return indexedAt; };
        c.deviceID = [this] { return device; };
        c.online = [this] { return online; };
        c.mountPath = [this] { return mount; };
        c.refreshSearchIndex = [this](DriveCore::CancelToken token) -> QCoro::Task<> {
            ++loads;
            if (loadDoor)
                co_await loadDoor->pass();
            DriveCore::checkCancelled(token);
            if (loadFailure)
                throw AppModelError(*loadFailure);
        };
        c.observeIndexedAt = [this](QObject *receiver, std::function<void()> changed) {
            QObject::connect(&indexedAtChanged, &DriveCore::detail::Waker::fired, receiver, changed);
        };
        c.observeSettings = [this](QObject *receiver, std::function<void()> changed) {
            QObject::connect(&settingsChanged, &DriveCore::detail::Waker::fired, receiver, changed);
        };
        c.reveal = [this](const QList<QUrl> &urls) { revealed << urls; };
        c.open = [this](const QUrl &url) { opened << url; };
        c.sleep = sleep.sleep();
        return c;
    }
    void listing(QList<DriveCore::DriveSearchEntry> entries)
    {
        index = DriveCore::DriveSearch::Index(std::move(entries));
        indexedAt = indexedAt ? indexedAt->addSecs(60) : QDateTime(QDate(2026, 1, 2), QTime(9, 0));
        indexedAtChanged.fire();
    }

    DriveCore::detail::Waker indexedAtChanged;
    DriveCore::detail::Waker settingsChanged;
    DriveCore::DriveSearch::Index index{{entry("Photos/beach.jpg"), entry("Photos/cat.jpg"), entry("notes.txt", true)}};
    std::optional<QDateTime> indexedAt = QDateTime(QDate(2026, 1, 2), QTime(9, 0));
    std::optional<QUuid> device = QUuid::createUuid();
    bool online = true;
    std::optional<QString> mount = QStringLiteral("/home/ada/Mounts/My Drive");
    int loads = 0;
    std::shared_ptr<Door> loadDoor;
    std::optional<QString> loadFailure;
    QList<QUrl> revealed;
    QList<QUrl> opened;
    ManualSleeps sleep;
};

TEST_F(SearchTest, TextsOfTheCountPlaceholderAndCells)
{
    EXPECT_EQ(SearchPresenter::countText(0), QStringLiteral("0 matches"));
    EXPECT_EQ(SearchPresenter::countText(500), QStringLiteral("500 matches"));
    EXPECT_EQ(SearchPresenter::countText(501), QStringLiteral("Showing 500 of 501 matches \u2014 narrow your search"));
    using Placeholder = SearchPresenter::Placeholder;
    EXPECT_EQ(
        SearchPresenter::placeholderFor(QStringLiteral(" \n"), false),
        (Placeholder{"Search your Ovra drive", "Search names and folder paths without downloading file contents."}));
    EXPECT_EQ(SearchPresenter::placeholderFor(QStringLiteral("x"), true),
              (Placeholder{"No matches", "Reading file names and folders\u2026"}));
    EXPECT_EQ(SearchPresenter::modifiedText(entry("notes.txt", true)), QStringLiteral("Upload pending"));
    auto dated = entry("a/b.txt");
    dated.pendingUpload = true;
    EXPECT_EQ(SearchPresenter::modifiedText(dated), QStringLiteral("Upload pending")) << "even with a date";
    EXPECT_EQ(SearchPresenter::folderText(entry("top.txt")), QString());
    EXPECT_EQ(SearchPresenter::folderText(entry("a/b/c.txt")), QStringLiteral("a/b"));
    EXPECT_EQ(SearchPresenter::sizeText(entry("notes.txt", true)), QString());

    // Unusable paths and paths outside the mount give no URL.
    const QStringList paths{"Photos/beach.jpg", "a//b", "./x", "../y", "/etc/passwd", "ok/.."};
    EXPECT_EQ(SearchPresenter::urls(paths, mount),
              QList{QUrl::fromLocalFile(QStringLiteral("/home/ada/Mounts/My Drive/Photos/beach.jpg"))});
    EXPECT_TRUE(SearchPresenter::urls(paths, std::nullopt).isEmpty());
}

TEST_F(SearchTest, TypingQuicklyMatchesOnlyTheFinalTextAndKeepsOrDropsTheSelection)
{
    SearchPresenter presenter(context());
    presenter.shown();
    EXPECT_EQ(loads, 0) << "a listing is there already";
    int applied = 0;
    QObject::connect(&presenter, &SearchPresenter::resultsApplied, [&] { ++applied; });
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return applied == 1; }));
    EXPECT_EQ(presenter.countText(), QStringLiteral("0 matches"));
    EXPECT_EQ(presenter.placeholder()->title, QStringLiteral("Search your Ovra drive"));

    for (const QString &typed : {QStringLiteral("p"), QStringLiteral("ph"), QStringLiteral("pho")})
        presenter.setQuery(typed);
    settle();
    EXPECT_EQ(sleep.waiting(), 1) << "earlier runs were cancelled in their wait";
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return applied == 2; }));
    settle();
    EXPECT_EQ(applied, 2);
    EXPECT_EQ(presenter.results().total, 2);
    EXPECT_EQ(sleep.asked().back(), 120ms);

    presenter.setSelection(QStringLiteral("Photos/cat.jpg"));
    EXPECT_TRUE(presenter.canReveal());
    presenter.reveal({QStringLiteral("Photos/cat.jpg")});
    EXPECT_EQ(revealed, QList{QUrl::fromLocalFile(QStringLiteral("/home/ada/Mounts/My Drive/Photos/cat.jpg"))});
    presenter.setQuery(QStringLiteral("cat"));
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return applied == 3; }));
    EXPECT_EQ(presenter.selection(), QStringLiteral("Photos/cat.jpg")) << "still among the results";
    presenter.setQuery(QStringLiteral("beach"));
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return applied == 4; }));
    EXPECT_EQ(presenter.selection(), std::nullopt);
    EXPECT_FALSE(presenter.canReveal());
}

TEST_F(SearchTest, ARunWhoseListingChangedIsDroppedForTheRunOfTheNewListing)
{
    SearchPresenter presenter(context());
    presenter.shown();
    presenter.setQuery(QStringLiteral("jpg"));
    settle();
    ASSERT_EQ(sleep.waiting(), 1);
    // A new listing arrives while the query's run waits; its own run applies instead.
    listing({entry("Photos/dog.jpg")});
    ASSERT_EQ(sleep.waiting(), 2);
    int applied = 0;
    QObject::connect(&presenter, &SearchPresenter::resultsApplied, [&] { ++applied; });
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return applied >= 1; }));
    settle();
    EXPECT_EQ(presenter.results().items.size(), 1);
    EXPECT_EQ(presenter.results().items.front().path, QStringLiteral("Photos/dog.jpg"));
}

TEST_F(SearchTest, ListingLoadsShowTheirErrorUnlessCancelledOrSuperseded)
{
    indexedAt.reset();
    loadFailure =
        QStringLiteral("Connect to the internet to refresh search. Your previous results are still available.");
    online = false;
    {
        SearchPresenter presenter(context());
        presenter.shown();
        EXPECT_EQ(loads, 1) << "no listing yet: one is loaded";
        ASSERT_TRUE(TestSupport::spinUntil([&] { return !presenter.loading(); }));
        EXPECT_EQ(presenter.error(), loadFailure);
        EXPECT_TRUE(presenter.offline());
        EXPECT_FALSE(presenter.canRefresh());
        presenter.hidden();
    }

    // Cancel, and closing the window, end a load without a word.
    online = true;
    loadDoor = std::make_shared<Door>();
    SearchPresenter presenter(context());
    presenter.shown();
    EXPECT_TRUE(presenter.loading());
    EXPECT_EQ(presenter.placeholder()->description, QStringLiteral("Reading file names and folders\u2026"));
    presenter.cancelLoad();
    EXPECT_FALSE(presenter.loading());
    loadDoor->open();
    settle();
    EXPECT_EQ(presenter.error(), std::nullopt);

    loadDoor = std::make_shared<Door>();
    presenter.refresh();
    presenter.hidden();
    loadDoor->open();
    settle();
    EXPECT_EQ(presenter.error(), std::nullopt);
    EXPECT_FALSE(presenter.loading());
}

TEST_F(SearchTest, AnotherDriveEmptiesTheTableAndLoadsItsListing)
{
    SearchPresenter presenter(context());
    presenter.shown();
    presenter.setQuery(QStringLiteral("jpg"));
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return presenter.results().total == 2; }));
    presenter.setSelection(QStringLiteral("Photos/cat.jpg"));

    device = QUuid::createUuid();
    settingsChanged.fire();
    EXPECT_EQ(presenter.results().total, 0);
    EXPECT_EQ(presenter.selection(), std::nullopt);
    EXPECT_EQ(loads, 1);

    // Signing out: emptied, and nothing to load.
    presenter.setSelection(QStringLiteral("x"));
    device.reset();
    settingsChanged.fire();
    EXPECT_EQ(presenter.selection(), std::nullopt);
    EXPECT_EQ(loads, 1);
    EXPECT_FALSE(presenter.canRefresh());
}

} // namespace
