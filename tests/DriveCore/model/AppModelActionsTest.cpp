// The app model's user actions over a fake supervisor, fake hooks and manual sleeps, each
// called as its window calls it: Keep on this machine and the plug-in's requests, Recently
// Deleted and conflicts, usage figures, copy-all, settings, storage keys and setup, sign-out.
#include "AppModelFixture.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/keys/SetupState.h"
#include "DriveCore/mount/MountFolder.h"
#include "DriveCore/support/AppModelError.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gmock/gmock.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using Access = DriveCore::AppModelTestAccess;
using Phase = DriveCore::AppModelPhase;
using ::testing::ElementsAre;

namespace AppModelTest {

namespace {

// The text of what an action threw; "" when it did not throw.
template<typename T>
QString thrown(const std::function<T()> &action)
{
    try {
        action();
    } catch (const AppModelError &error) {
        return error.message;
    } catch (const std::exception &error) {
        return QStringLiteral("other: ") + QString::fromUtf8(error.what());
    }
    return {};
}

PinStatus pin(const QString &path, bool isDir = false)
{
    return PinStatus{.path = path,
                     .isDir = isDir,
                     .files = 1,
                     .filesDone = 1,
                     .bytes = 10,
                     .bytesDone = 10,
                     .state = QStringLiteral("done")};
}

DeletedItem item(const QString &id, qint64 size = 10)
{
    return DeletedItem{.id = id,
                       .originalPath = id.section(u'/', 1),
                       .deletedOn = QDateTime(QDate(2026, 3, 1), QTime()),
                       .size = size};
}

// A change-sync engine that keeps the folders it was told of.
class NotingChangeSync : public FakeChangeSync {
public:
    NotingChangeSync() : FakeChangeSync(0, std::make_shared<QStringList>()) {}
    void noteLocalChange(const QStringList &dirs) override { noted.append(dirs); }
    QStringList noted;
};

// The model over fakes with the action hooks scripted and noted.
class ActionsTest : public ModelTest {
protected:
    ActionsTest()
    {
        hooks.now = [this] { return clock; };
        hooks.pendingUploads = [this](RCClient, CancelToken) -> QCoro::Task<qint64> {
            ++pendingAsks;
            if (const std::shared_ptr<Gate> gate = pendingGate)
                co_await gate->wait();
            if (pendingCounts.empty())
                throw RCError(QStringLiteral("vfs/stats"), 500, QStringLiteral("failed"));
            const qint64 count = pendingCounts.front();
            if (pendingCounts.size() > 1)
                pendingCounts.pop_front();
            co_return count;
        };
        hooks.trashStats = [this](RCClient, CancelToken) -> QCoro::Task<TrashStats> {
            ++statsAsks;
            if (!trash)
                throw RCError(QStringLiteral("vfs/stats"), 500, QStringLiteral("failed"));
            co_return TrashStats(*trash);
        };
        hooks.listDeleted = [this](RCClient, QString mount, CancelToken token) -> QCoro::Task<QList<DeletedItem>> {
            ++listings;
            listedMount = mount;
            if (const std::shared_ptr<Gate> gate = listGate)
                co_await gate->wait();
            checkCancelled(token);
            if (listFails)
                throw RCError(QStringLiteral("operations/list"), 500, QStringLiteral("failed"));
            co_return QList<DeletedItem>(listing);
        };
        hooks.restore = [this](RCClient, QString, DeletedItem restored, CancelToken) -> QCoro::Task<QString> {
            calls.append(QStringLiteral("restore ") + restored.id);
            co_return restored.originalPath;
        };
        hooks.deleteNow = [this](RCClient, DeletedItem gone, CancelToken) -> QCoro::Task<> {
            calls.append(QStringLiteral("delete ") + gone.id);
            co_return;
        };
        hooks.emptyTrash = [this](RCClient, CancelToken) -> QCoro::Task<> {
            calls.append(QStringLiteral("empty"));
            co_return;
        };
        hooks.resolveConflict = [this](RCClient, std::optional<QString>, DriveConflict conflict, ConflictChoice,
                                       CancelToken) -> QCoro::Task<ConflictOutcome> {
            calls.append(QStringLiteral("resolve ") + conflict.copy);
            if (!outcome)
                throw RCError(QStringLiteral("operations/movefile"), 500, QStringLiteral("failed"));
            co_return ConflictOutcome(*outcome);
        };
        hooks.pin = [this](RCClient, QStringList paths, CancelToken) -> QCoro::Task<PinResult> {
            calls.append(QStringLiteral("pin ") + paths.join(u','));
            if (!pinResult)
                throw RCError(QStringLiteral("vfs/pin"), 500, QStringLiteral("failed"));
            co_return PinResult(*pinResult);
        };
        hooks.unpin = [this](RCClient, QStringList paths, CancelToken) -> QCoro::Task<> {
            calls.append(QStringLiteral("unpin ") + paths.join(u','));
            if (unpinFails)
                throw RCError(QStringLiteral("vfs/unpin"), 500, QStringLiteral("failed"));
            co_return;
        };
        hooks.setLoginItem = [this](bool on) {
            calls.append(on ? QStringLiteral("login on") : QStringLiteral("login off"));
            if (loginFails)
                throw std::runtime_error("autostart folder not writable");
        };
        hooks.freeDiskBytes = [this] { return freeBytes; };
        hooks.checkMountDestination = [this](QString name, CancelToken) -> QCoro::Task<> {
            calls.append(QStringLiteral("check ") + name);
            co_return;
        };
        hooks.waitForMount = [this](QString name, CancelToken) -> QCoro::Task<> {
            calls.append(QStringLiteral("wait ") + name);
            if (mountNeverComes.contains(name))
                throw MountFolder::Problem(
                    QStringLiteral("The drive didn't appear in the file manager. Try reconnecting it."));
            co_return;
        };
        hooks.verifyStorage = [this](StorageSecrets, QString, CancelToken) -> QCoro::Task<> {
            calls.append(QStringLiteral("verify"));
            if (!verifies)
                throw AppModelError(QStringLiteral("Your passphrase doesn't open the drive in that storage."));
            co_return;
        };
        hooks.localData = [this](const DriveSettings &settings) {
            return DriveLocalData{
                .cache = home.filePath(QStringLiteral("data/CorvaneDrive/Cache/")
                                       + settings.deviceID.toString(QUuid::WithoutBraces)),
                .logs = home.filePath(QStringLiteral("state/CorvaneDrive")),
                .keep = home.filePath(QStringLiteral("data/CorvaneDrive/Keep")),
                .mountFolder = DriveLayout::mountPath(settings.driveName),
                .backing = home.filePath(QStringLiteral("data/CorvaneDrive/Backing/")
                                         + settings.deviceID.toString(QUuid::WithoutBraces)),
            };
        };
        hooks.copyAll = [this](StorageSecrets, QString, QString target,
                               std::function<void(const CopyProgress &)> progress, CancelToken token) -> QCoro::Task<> {
            calls.append(QStringLiteral("copy ") + target);
            progress(CopyProgress{.bytesDone = 5, .bytesTotal = 20});
            if (const std::shared_ptr<Gate> gate = copyGate)
                co_await gate->wait();
            checkCancelled(token);
            if (copyFails)
                throw ConnectionError(ConnectionError::offline);
        };
        hooks.driveSize = [](StorageSecrets, QString, CancelToken) -> QCoro::Task<qint64> { co_return 1234; };
    }

    // A drive set up and running on port 4001.
    void launched()
    {
        setUpDrive();
        finish(model().launch());
        ASSERT_EQ(model().phase(), Phase{Phase::running});
    }

    QDateTime clock = QDateTime(QDate(2026, 3, 4), QTime(12, 0));
    std::deque<qint64> pendingCounts{0};
    std::shared_ptr<Gate> pendingGate;
    int pendingAsks = 0;
    std::optional<TrashStats> trash = TrashStats{.pending = 0, .failing = 0};
    int statsAsks = 0;
    QList<DeletedItem> listing;
    std::shared_ptr<Gate> listGate;
    bool listFails = false;
    int listings = 0;
    QString listedMount;
    std::optional<ConflictOutcome> outcome = ConflictOutcome::keptBoth();
    std::optional<PinResult> pinResult = PinResult{};
    bool unpinFails = false;
    bool loginFails = false;
    qint64 freeBytes = 100'000'000'000;
    QStringList mountNeverComes;
    bool verifies = true;
    std::shared_ptr<Gate> copyGate;
    bool copyFails = false;
    QStringList calls;
};

} // namespace

// --- Keep on this machine ---

TEST_F(ActionsTest, AKeepRequestPinsWhatLiesInsideTheDriveAndPostsTheNewKeepStateOnce)
{
    launched();
    const QString mount = *model().mountPath();
    pinsReply.pins = {pin(QStringLiteral("a.txt")), pin(QStringLiteral("Docs"), true)};
    keepStates.clear();
    badges.clear();
    finish(model().handle(KeepShared::KeepRequest{KeepShared::KeepRequest::Action::keep,
                                                  {(mount + QStringLiteral("/a.txt")).toStdString(),
                                                   (mount + QStringLiteral("/Docs")).toStdString(),
                                                   home.filePath(QStringLiteral("elsewhere.txt")).toStdString()}}));
    EXPECT_EQ(calls, QStringList{QStringLiteral("pin a.txt,Docs")});
    ASSERT_EQ(keepStates.size(), 1u);
    EXPECT_EQ(keepStates[0].mounts, std::vector<std::string>{mount.toStdString()});
    EXPECT_EQ(keepStates[0].pins.at(mount.toStdString()), (std::vector<std::string>{"a.txt", "Docs"}));
    EXPECT_EQ(model().keptItems(), pinsReply.pins);
    EXPECT_EQ(badges.size(), 1u);

    // The same pins again: badges renewed, the keep state not posted again.
    finish(model().refresh());
    EXPECT_EQ(keepStates.size(), 1u);
    EXPECT_EQ(badges.size(), 2u);

    // The plug-in says hello: it gets the state it may have missed.
    model().keepAddOnSaidHello();
    ASSERT_EQ(keepStates.size(), 2u);
    EXPECT_EQ(keepStates[1], keepStates[0]);
}

TEST_F(ActionsTest, FailedKeepsAndRemovesAlertAndStillReReadThePins)
{
    launched();
    const QString mount = *model().mountPath();
    struct Row {
        const char *name;
        std::optional<PinResult> pinResult;
        bool unpinFails;
        bool remove;
        std::optional<QString> alert;
    };
    const std::vector<Row> table = {
        {.name = "pin fails",
         .pinResult = std::nullopt,
         .unpinFails = false,
         .remove = false,
         .alert = AppModel::keepFailedText},
        {.name = "no room",
         .pinResult =
             PinResult{.kind = PinResult::Kind::notEnoughSpace, .needed = 5'000'000'000, .free = 1'000'000'000},
         .unpinFails = false,
         .remove = false,
         .alert = KeepOnMac::notEnoughSpaceText(5'000'000'000, 1'000'000'000)},
        {.name = "added", .pinResult = PinResult{}, .unpinFails = false, .remove = false, .alert = std::nullopt},
        {.name = "unpin fails",
         .pinResult = PinResult{},
         .unpinFails = true,
         .remove = true,
         .alert = AppModel::removeKeptFailedText},
    };
    for (const Row &row : table) {
        pinResult = row.pinResult;
        unpinFails = row.unpinFails;
        model().dismissKeepAlert();
        const size_t before = badges.size();
        if (row.remove)
            finish(model().removeKept({QStringLiteral("a.txt")}));
        else
            finish(model().keep({mount + QStringLiteral("/a.txt")}));
        EXPECT_EQ(model().keepAlert(), row.alert) << row.name;
        EXPECT_EQ(badges.size(), before + 1) << row.name << ": the pins are read again";
    }
    const auto notified = count(&AppModel::keepAlertChanged);
    model().dismissKeepAlert();
    model().dismissKeepAlert();
    EXPECT_EQ(*notified, 1) << "a second dismissal notifies nobody";
}

TEST_F(ActionsTest, KeepAndRemoveDoNothingWhileTheDriveIsDownOrBeforeSetup)
{
    // Before setup: no mount.
    finish(model().handle(KeepShared::KeepRequest{KeepShared::KeepRequest::Action::remove, {"/x/Mounts/D/a.txt"}}));
    launched();
    supervisor->currentState = SupervisorState{SupervisorState::restarting, {}};
    finish(model().handle(KeepShared::KeepRequest{KeepShared::KeepRequest::Action::keep,
                                                  {(*model().mountPath() + QStringLiteral("/a.txt")).toStdString()}}));
    finish(model().removeKept({QStringLiteral("a.txt")}));
    EXPECT_TRUE(calls.isEmpty()) << calls.join(u',').toStdString();
    EXPECT_EQ(model().keepAlert(), std::nullopt);
}

TEST_F(ActionsTest, APinsReplyIsDroppedWhenTheLaunchTheDriveOrTheSignOutChangedMeanwhile)
{
    struct Row {
        const char *change;
        std::function<void()> apply;
    };
    const std::vector<Row> table = {
        {"engine restarted", [this] { this->supervisor->run(4002); }},
        {"another drive",
         [this] {
             DriveSettings other = this->settings;
             other.deviceID = QUuid::createUuid();
             Access::setSettings(this->model(), other);
         }},
        {"sign-out under way", [this] { Access::setSignOutStep(this->model(), SignOutStep::waiting(1)); }},
    };
    for (const Row &row : table) {
        SCOPED_TRACE(row.change);
        *supervisor = FakeSupervisor();
        Access::setSignOutStep(model(), std::nullopt);
        pinsReply.pins.clear();
        launched();
        const PinStatus late = pin(QStringLiteral("late for ") + QString::fromLatin1(row.change));
        pinsReply.pins = {late};
        pinsGate = std::make_shared<Gate>();
        keepStates.clear();
        QCoro::Task<> refreshing = model().refreshKept(*supervisor->client);
        row.apply();
        pinsGate->open();
        finish(std::move(refreshing));
        pinsGate.reset();
        EXPECT_FALSE(model().keptItems().contains(late));
        EXPECT_TRUE(keepStates.empty());
    }
}

// --- Recently Deleted ---

TEST_F(ActionsTest, TheListingIsReadWhenOwedStaleOrFromAnotherLaunchAndOtherwiseOnlyTheStatistics)
{
    launched();
    listing = {item(QStringLiteral("2026-03-01/a.txt"))};
    finish(model().refreshDeleted(false));
    EXPECT_EQ(listings, 1) << "nothing shown yet";
    EXPECT_EQ(listedMount, *model().mountPath());
    EXPECT_EQ(model().deleted(), listing);

    struct Step {
        const char *what;
        std::function<void()> before;
        bool reloads;
    };
    const std::vector<Step> steps = {
        {"60 s later", [this] { this->clock = this->clock.addSecs(60); }, false},
        {"120 s after the listing", [this] { this->clock = this->clock.addSecs(60); }, true},
        {"the engine on a new port", [this] { this->supervisor->run(4002); }, true},
        {"moves landed", [this] { this->trash = TrashStats{.pending = 3}; }, false},
        {"pending from 3 to 1", [this] { this->trash = TrashStats{.pending = 1}; }, true},
        {"nothing new", [] {}, false},
    };
    for (const Step &step : steps) {
        step.before();
        const int before = listings;
        const int statsBefore = statsAsks;
        finish(model().refreshDeleted(false));
        EXPECT_EQ(listings - before, step.reloads ? 1 : 0) << step.what;
        EXPECT_EQ(statsAsks - statsBefore, 1) << step.what;
    }
    EXPECT_EQ(model().deletedTrashStats(), (TrashStats{.pending = 1}));
}

TEST_F(ActionsTest, AFailedListingWaitsTenSecondsUnlessForced)
{
    launched();
    listFails = true;
    EXPECT_TRUE(thrown<void>([&] { finish(model().refreshDeleted(false)); }).startsWith(QStringLiteral("other: ")));
    listFails = false;
    clock = clock.addSecs(5);
    finish(model().refreshDeleted(false));
    EXPECT_EQ(listings, 1) << "5 s later only the statistics";
    finish(model().refreshDeleted(true));
    EXPECT_EQ(listings, 2) << "forced";
    listFails = true;
    EXPECT_FALSE(thrown<void>([&] { finish(model().refreshDeleted(true)); }).isEmpty());
    listFails = false;
    clock = clock.addSecs(11);
    finish(model().refreshDeleted(false));
    EXPECT_EQ(listings, 4) << "11 s later it reloads";

    // A failing statistics read is no error: the message says it is still checking.
    trash.reset();
    finish(model().refreshDeleted(false));
    EXPECT_EQ(model().trashMoveMessage(), QStringLiteral("Checking deleted files\u2026"));
}

TEST_F(ActionsTest, AListingBegunBeforeADeleteIsDroppedAndTheListStaysOwed)
{
    launched();
    const DeletedItem a = item(QStringLiteral("2026-03-01/a.txt"));
    const DeletedItem b = item(QStringLiteral("2026-03-01/b.txt"));
    listing = {a, b};
    finish(model().refreshDeleted(true));
    listGate = std::make_shared<Gate>();
    QCoro::Task<> refreshing = model().refreshDeleted(true);
    ASSERT_TRUE(waitFor([&] { return listGate->waiting() == 1; }));
    // A second refresh while one runs returns at once, asking nothing.
    const int asked = statsAsks;
    finish(model().refreshDeleted(true));
    EXPECT_EQ(statsAsks, asked);

    finish(model().deleteNow(a));
    listGate->open();
    finish(std::move(refreshing));
    EXPECT_EQ(model().deleted(), QList<DeletedItem>{b}) << "the deleted item stays gone";
    listGate.reset();
    finish(model().refreshDeleted(false));
    EXPECT_EQ(listings, 3) << "still owed";
    EXPECT_EQ(calls, QStringList{QStringLiteral("delete 2026-03-01/a.txt")});
}

TEST_F(ActionsTest, RestoreDeleteAndEmptyChangeTheListAndTellOtherMachines)
{
    launched();
    const auto changeSync = std::make_shared<NotingChangeSync>();
    Access::setChangeSync(model(), changeSync);
    const DeletedItem top = item(QStringLiteral("2026-03-01/a.txt"));
    const DeletedItem deep = item(QStringLiteral("2026-03-01/Docs/Old/b.txt"));
    Access::setDeleted(model(), {top, deep, item(QStringLiteral("2026-03-01/c.txt"))});
    const int revision = Access::deletedRevision(model());
    finish(model().restore(top));
    finish(model().restore(deep));
    EXPECT_EQ(changeSync->noted, (QStringList{QString(), QStringLiteral("Docs/Old")}));
    EXPECT_EQ(model().deleted().size(), 1);
    finish(model().emptyRecentlyDeleted());
    EXPECT_TRUE(model().deleted().isEmpty());
    EXPECT_EQ(Access::deletedRevision(model()), revision + 3);
    EXPECT_EQ(model().trashFooter(), QStringLiteral("Recently Deleted is using 0 GB"));

    supervisor->currentState = SupervisorState{SupervisorState::starting, {}};
    EXPECT_EQ(thrown<void>([&] { finish(model().deleteNow(top)); }), AppModel::notConnectedText);
    EXPECT_EQ(thrown<void>([&] { finish(model().refreshDeleted(false)); }), AppModel::notConnectedText);
}

TEST_F(ActionsTest, ResolvingAConflictTurnsTheOutcomeIntoTheWindowsNotice)
{
    launched();
    const auto changeSync = std::make_shared<NotingChangeSync>();
    Access::setChangeSync(model(), changeSync);
    const DriveConflict conflict{QStringLiteral("Docs/plan.txt"), QStringLiteral("Docs/plan (conflict from Mac).txt"),
                                 QStringLiteral("Mac")};
    EXPECT_EQ(finish(model().resolveConflict(ConflictChoice::keepThisMac)), std::nullopt) << "none waits";

    struct Row {
        std::optional<ConflictOutcome> outcome;
        std::optional<QString> notice;
    };
    const std::vector<Row> table = {
        {ConflictOutcome::alreadySortedOut(), QStringLiteral("This was already sorted out.")},
        {ConflictOutcome::occupied(),
         QStringLiteral("\u201Cplan.txt\u201D changed again while you were choosing, so both versions were kept.")},
        {ConflictOutcome::resolved(QStringLiteral("Docs")), std::nullopt},
    };
    for (const Row &row : table) {
        Access::setConflicts(model(), {conflict});
        outcome = row.outcome;
        EXPECT_EQ(finish(model().resolveConflict(ConflictChoice::keepOther)), row.notice);
        EXPECT_TRUE(model().conflicts().isEmpty());
    }
    EXPECT_EQ(changeSync->noted, QStringList{QStringLiteral("Docs")});

    // A failed resolve keeps the conflict; keeping both needs no connection.
    Access::setConflicts(model(), {conflict});
    outcome.reset();
    EXPECT_FALSE(thrown<std::optional<QString>>([&] {
                     return finish(model().resolveConflict(ConflictChoice::keepOther));
                 }).isEmpty());
    EXPECT_EQ(model().conflicts().size(), 1);
    supervisor->currentState = SupervisorState{SupervisorState::stopped, {}};
    supervisor->client.reset();
    calls.clear();
    EXPECT_EQ(finish(model().resolveConflict(ConflictChoice::keepBoth)), std::nullopt);
    EXPECT_TRUE(model().conflicts().isEmpty());
    EXPECT_TRUE(calls.isEmpty());
}

// --- Usage figures ---

TEST_F(ActionsTest, CloudflareFiguresNeedKeysATokenAndR2StorageButNoRunningDrive)
{
    setUpDrive();
    int sent = 0;
    int status = 403;
    const HTTPSend send = [&](HTTPRequest, CancelToken) -> QCoro::Task<HTTPResponse> {
        ++sent;
        co_return HTTPResponse{.body = "{}", .status = status};
    };
    EXPECT_EQ(thrown<StorageUsage>([&] { return finish(model().loadStorageUsage()); }), AppModel::notConnectedText);
    EXPECT_EQ(finish(model().loadCloudflareUsage(send)), std::nullopt) << "no token";
    secrets->cloudflareKey = QStringLiteral("token");
    EXPECT_EQ(finish(model().loadCloudflareUsage(send)), std::nullopt) << "not R2";
    EXPECT_EQ(sent, 0);

    secrets->keys->first.endpoint = QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com");
    EXPECT_EQ(
        thrown<std::optional<R2MonthUsage>>([&] { return finish(model().loadCloudflareUsage(send)); }),
        QStringLiteral("Your Cloudflare API token can't read usage yet. In Cloudflare \u2192 Manage Account \u2192 "
                       "Account API Tokens, edit the token, add the permission Account \u00B7 Account Analytics "
                       "\u00B7 Read, and save. Then press Refresh."));
    status = 500;
    EXPECT_EQ(thrown<std::optional<R2MonthUsage>>([&] { return finish(model().loadCloudflareUsage(send)); }),
              QStringLiteral("Cloudflare didn't give the usage figures: Internal Server Error"));
    secrets->keys.reset();
    EXPECT_EQ(finish(model().loadCloudflareUsage(send)), std::nullopt) << "no keys";
}

// --- Copy-all, drive size, share context ---

TEST_F(ActionsTest, ACopyIntoAnyPartOfTheDriveIsRefused)
{
    launched();
    const QString mount = *model().mountPath();
    const DriveLocalData local = hooks.localData(settings);
    QDir().mkpath(mount + QStringLiteral("/Docs"));
    QDir().mkpath(local.backing);
    QDir().mkpath(local.cache);
    QDir().mkpath(home.filePath(QStringLiteral("out")));
    QDir().mkpath(home.filePath(QStringLiteral("linked")));
    QFile::link(home.filePath(QStringLiteral("out")), home.filePath(QStringLiteral("linked/Ovra files")));
    QFile::link(mount, home.filePath(QStringLiteral("to-drive")));
    struct Row {
        QString folder;
        bool refused;
    };
    const std::vector<Row> table = {
        {mount, true},
        {mount + QStringLiteral("/Docs"), true},
        {mount + QStringLiteral("/not yet made"), true},
        {home.filePath(QStringLiteral("to-drive")), true}, // a link to the mount
        {local.backing, true},
        {local.cache + QStringLiteral("/vfs"), true},
        {home.filePath(QStringLiteral("linked")), true}, // its "Ovra files" is a link
        {home.filePath(QStringLiteral("Mounts")), false}, // the folder holding the mount
        {home.filePath(QStringLiteral("out")), false},
    };
    for (const Row &row : table) {
        calls.clear();
        const QString text =
            thrown<void>([&] { finish(model().copyAllFiles(row.folder, [](const CopyProgress &) {})); });
        EXPECT_EQ(text, row.refused ? AppModel::copyInsideDriveText : QString()) << row.folder.toStdString();
        EXPECT_EQ(calls.isEmpty(), row.refused) << row.folder.toStdString();
    }
    EXPECT_EQ(calls, QStringList{QStringLiteral("copy ") + home.filePath(QStringLiteral("out/Ovra files"))});
    EXPECT_EQ(finish(model().driveSize()), 1234);

    secrets->keys.reset();
    EXPECT_EQ(thrown<qint64>([&] { return finish(model().driveSize()); }), AppModel::keysUnreadableText);
    EXPECT_EQ(thrown<void>([&] { finish(model().copyAllFiles(home.filePath(QStringLiteral("out")), {})); }),
              AppModel::keysUnreadableText);
}

TEST_F(ActionsTest, TheCopyAllRunOutlivesItsWindowAndCanBeStoppedAndStartedAgain)
{
    launched();
    supervisor->currentState = SupervisorState{SupervisorState::stopped, {}}; // copying needs no drive
    supervisor->client.reset();
    CopyAllRun &run = model().copyAllRun();
    const auto changes = std::make_shared<int>(0);
    QObject::connect(&run, &CopyAllRun::changed, [changes] { ++*changes; });
    copyGate = std::make_shared<Gate>();
    const QString folder = home.filePath(QStringLiteral("out"));
    ASSERT_TRUE(run.start(folder));
    EXPECT_FALSE(run.start(folder)) << "one at a time";
    ASSERT_TRUE(waitFor([&] { return copyGate->waiting() == 1; }));
    // A window that opens now finds the copy running with its progress.
    EXPECT_TRUE(run.isRunning());
    EXPECT_EQ(run.folder(), folder);
    EXPECT_EQ(run.progress(), (CopyProgress{.bytesDone = 5, .bytesTotal = 20}));
    run.stop();
    copyGate->open();
    finish(run.ended());
    EXPECT_FALSE(run.isRunning());
    EXPECT_EQ(run.outcome(), CopyAllRun::Outcome::stopped);
    EXPECT_EQ(run.message(), QStringLiteral("Stopped. Choose Start Copying to continue where it left off."));
    EXPECT_EQ(run.progress(), (CopyProgress{.bytesDone = 5, .bytesTotal = 20})) << "the last figure stays";

    copyGate.reset();
    ASSERT_TRUE(run.start(folder));
    finish(run.ended());
    EXPECT_EQ(run.outcome(), CopyAllRun::Outcome::finished);
    EXPECT_EQ(run.message(), std::nullopt);

    struct Row {
        QString folder;
        bool copyFails;
        QString message;
    };
    for (const Row &row : {Row{*model().mountPath(), false, AppModel::copyInsideDriveText},
                           Row{folder, true, CopyAllRun::genericFailureText}}) {
        copyFails = row.copyFails;
        ASSERT_TRUE(run.start(row.folder));
        finish(run.ended());
        EXPECT_EQ(run.outcome(), CopyAllRun::Outcome::failed);
        EXPECT_EQ(run.message(), row.message);
    }
    EXPECT_GT(*changes, 6);
}

TEST_F(ActionsTest, ShutdownStopsARunningCopyAndAwaitsItsEndForAtMostFiveSeconds)
{
    launched();
    Access::setOnline(model(), false); // no flush, whose limit would be a second 5 s wait
    CopyAllRun &run = model().copyAllRun();
    const QString folder = home.filePath(QStringLiteral("out"));
    for (const bool copyEnds : {true, false}) {
        copyGate = std::make_shared<Gate>();
        supervisor->events.clear();
        ASSERT_TRUE(run.start(folder));
        ASSERT_TRUE(waitFor([&] { return copyGate->waiting() == 1; }));
        bool shutDown = false;
        QCoro::Task<> shutdown = [](AppModel &model, bool &done) -> QCoro::Task<> {
            co_await model.shutdown();
            done = true;
        }(model(), shutDown);
        ASSERT_TRUE(waitFor([&] { return sleeps.waiting(5s) == 1; })) << copyEnds;
        settle();
        EXPECT_FALSE(shutDown) << copyEnds << ": the copy's end is awaited";
        EXPECT_TRUE(supervisor->events.isEmpty()) << copyEnds << ": the engine is stopped after the copy";
        if (copyEnds)
            copyGate->open();
        else
            sleeps.release(5s);
        finish(std::move(shutdown));
        EXPECT_EQ(run.isRunning(), !copyEnds) << copyEnds << ": a copy that never ends holds the quit for 5 s only";
        EXPECT_EQ(supervisor->events.last(), QStringLiteral("stop")) << copyEnds;
        copyGate->open();
        finish(run.ended());
        EXPECT_EQ(run.outcome(), CopyAllRun::Outcome::stopped) << copyEnds;
    }
}

TEST_F(ActionsTest, TheShareContextNeedsARunningDrive)
{
    setUpDrive();
    supervisor->startGate = std::make_shared<Gate>();
    QCoro::Task<> launching = model().launch();
    ASSERT_TRUE(waitFor([&] { return supervisor->startGate->waiting() == 1; }));
    supervisor->client = RCClient(4001, QStringLiteral("u"), QStringLiteral("p"));
    EXPECT_EQ(thrown<ShareContext>([&] { return finish(model().shareContext()); }), AppModel::shareNotConnectedText)
        << "starting, even with a client";
    EXPECT_EQ(model().shareBlockedReason(), AppModel::shareNotConnectedText);
    supervisor->startGate->open();
    finish(std::move(launching));

    secrets->cloudflareKey = QStringLiteral("token");
    secrets->failCloudflareLoad = true;
    const ShareContext context = finish(model().shareContext());
    EXPECT_EQ(context.rc.port(), 4001);
    EXPECT_EQ(context.deviceName, QStringLiteral("Laptop"));
    EXPECT_EQ(context.mountPath, *model().mountPath());
    EXPECT_EQ(context.bucket, QStringLiteral("bucket"));
    EXPECT_EQ(context.blockedReason, std::nullopt);
    EXPECT_EQ(context.cloudflareKey, std::nullopt) << "an unreadable token counts as none";
    ASSERT_NE(context.storage, nullptr);
}

// --- Settings ---

TEST_F(ActionsTest, RenameRefusesBadNamesSameNamesAndABusyDrive)
{
    launched();
    const QString longest = QString(85, QChar(0x20AC)); // 255 bytes of UTF-8
    struct Row {
        QString name;
        QString text;
    };
    const std::vector<Row> table = {
        {QStringLiteral("  My Drive \n"), QString()}, // the same name, nothing happens
        {QStringLiteral("   "), AppModel::badNameText},
        {QStringLiteral(".."), AppModel::badNameText},
        {QStringLiteral("a/b"), AppModel::badNameText},
        {QStringLiteral("a:b"), AppModel::badNameText},
        {QStringLiteral("a\tb"), AppModel::badNameText},
        {QStringLiteral("a\u200Db"), AppModel::badNameText}, // zero-width joiner: Cf
        {longest + QStringLiteral("e"), AppModel::badNameText},
        {QStringLiteral("MY DRIVE"), AppModel::sameNameText},
        {QStringLiteral("My Dr\u00EFve"), AppModel::sameNameText},
        {QStringLiteral("My Dri\u0308ve").normalized(QString::NormalizationForm_D), AppModel::sameNameText},
    };
    for (const Row &row : table)
        EXPECT_EQ(thrown<void>([&] { finish(model().renameDrive(row.name)); }), row.text) << row.name.toStdString();
    EXPECT_TRUE(calls.isEmpty()) << calls.join(u',').toStdString();
    EXPECT_FALSE(supervisor->events.contains(QStringLiteral("stop wait")));

    struct Busy {
        const char *why;
        std::function<void(bool)> set;
    };
    const std::vector<Busy> busy = {
        {"offline", [this](bool on) { Access::setOnline(this->model(), !on); }},
        {"changing", [this](bool on) { Access::setChangingDrive(this->model(), on); }},
        {"signing out",
         [this](bool on) {
             Access::setSignOutStep(this->model(), on ? std::optional(SignOutStep::waiting(1)) : std::nullopt);
         }},
        {"stopping", [this](bool on) { Access::setStopping(this->model(), on); }},
    };
    for (const Busy &row : busy) {
        row.set(true);
        EXPECT_EQ(thrown<void>([&] { finish(model().renameDrive(QStringLiteral("Other"))); }), AppModel::renameBusyText)
            << row.why;
        row.set(false);
    }
    for (const auto &[pending, stats] : {std::pair(qint64(1), qint64(0)), std::pair(qint64(0), qint64(1))}) {
        pendingCounts = {pending};
        trash = TrashStats{.pending = stats};
        EXPECT_EQ(thrown<void>([&] { finish(model().renameDrive(QStringLiteral("Other"))); }),
                  AppModel::renameUploadsText);
        EXPECT_FALSE(model().isChangingDrive());
    }
    EXPECT_FALSE(supervisor->events.contains(QStringLiteral("stop wait"))) << "the drive was never stopped";
    pendingCounts = {0};
    trash = TrashStats{};
    EXPECT_EQ(thrown<void>([&] { finish(model().renameDrive(longest)); }), QString()) << "255 bytes are allowed";
}

TEST_F(ActionsTest, ARenameSavesTheNewNameOnlyOnceTheDriveCameUpUnderIt)
{
    launched();
    finish(model().renameDrive(QStringLiteral("  Work ")));
    EXPECT_EQ(calls, (QStringList{QStringLiteral("check Work"), QStringLiteral("wait Work")}));
    EXPECT_EQ(model().settings()->driveName, QStringLiteral("Work"));
    EXPECT_EQ(DriveSettings::load(*defaults)->driveName, QStringLiteral("Work"));
    EXPECT_THAT(supervisor->events, ElementsAre("start nfs", "stop wait", "start nfs"));
    EXPECT_TRUE(Access::loopsRunning(model()));
    EXPECT_FALSE(model().isChangingDrive());

    // A new mount that never comes up: back to the old name, which the text names.
    calls.clear();
    mountNeverComes = {QStringLiteral("Play")};
    EXPECT_EQ(thrown<void>([&] { finish(model().renameDrive(QStringLiteral("Play"))); }),
              QStringLiteral("The new name couldn't be used. Your drive is still connected as \u201CWork\u201D."));
    EXPECT_EQ(calls,
              (QStringList{QStringLiteral("check Play"), QStringLiteral("wait Play"), QStringLiteral("wait Work")}));
    EXPECT_EQ(model().settings()->driveName, QStringLiteral("Work"));
    EXPECT_EQ(DriveSettings::load(*defaults)->driveName, QStringLiteral("Work"));
    EXPECT_FALSE(model().isChangingDrive());

    mountNeverComes = {QStringLiteral("Play"), QStringLiteral("Work")};
    EXPECT_EQ(thrown<void>([&] { finish(model().renameDrive(QStringLiteral("Play"))); }),
              AppModel::renameFailedOldNameText);
}

TEST_F(ActionsTest, EngineAndCacheChangesPersistAndRestartOneAtATime)
{
    launched();
    finish(model().setDriveEngine(DriveEngine::nfs));
    EXPECT_THAT(supervisor->events, ElementsAre("start nfs", "stop", "start nfs")) << "the same engine restarts too";

    struct Row {
        qint64 free;
        qint64 gb;
        QString text;
    };
    // 100 GB free leaves 80 GB for the cache.
    const std::vector<Row> table = {
        {100'000'000'000, 4, QStringLiteral("The cache must be between 5 and 80 GB.")},
        {100'000'000'000, 81, QStringLiteral("The cache must be between 5 and 80 GB.")},
        {100'000'000'000, 5, QString()},
        {24'000'000'000, 5, AppModel::lowDiskText}, // 4 GB of room and a 3 GB cache: low
    };
    for (const Row &row : table) {
        freeBytes = row.free;
        if (row.text == AppModel::lowDiskText) {
            DriveSettings small = *model().settings();
            small.cacheGB = 3;
            Access::setSettings(model(), small);
        }
        EXPECT_EQ(thrown<void>([&] { finish(model().changeCache(row.gb)); }), row.text) << row.gb;
        EXPECT_FALSE(model().isChangingDrive());
    }
    EXPECT_EQ(DriveSettings::load(*defaults)->cacheGB, 5) << "the accepted size is stored";

    Access::setChangingDrive(model(), true);
    EXPECT_EQ(thrown<void>([&] { finish(model().changeCache(10)); }), AppModel::driveChangeBusyText);
    EXPECT_EQ(thrown<void>([&] { finish(model().setDriveEngine(DriveEngine::fskit)); }), AppModel::driveChangeBusyText);
    EXPECT_TRUE(model().isChangingDrive()) << "a refused change leaves the running one's flag";
}

TEST_F(ActionsTest, StartAtLoginFollowsTheLoginItem)
{
    launched();
    model().setStartAtLogin(false);
    EXPECT_FALSE(DriveSettings::load(*defaults)->startAtLogin);
    loginFails = true;
    EXPECT_FALSE(thrown<void>([&] { model().setStartAtLogin(true); }).isEmpty());
    EXPECT_FALSE(model().settings()->startAtLogin) << "settings untouched";
    EXPECT_EQ(calls, (QStringList{QStringLiteral("login off"), QStringLiteral("login on")}));
}

TEST_F(ActionsTest, StartAtLoginAfterSetupReportsAndStoresAFailure)
{
    launched();
    loginFails = true;
    EXPECT_FALSE(model().enableStartAtLoginAfterSetup());
    EXPECT_FALSE(DriveSettings::load(*defaults)->startAtLogin);
    EXPECT_EQ(logs.messages(QStringLiteral("app")),
              QStringList{QStringLiteral("Start at login failed: autostart folder not writable")});
    loginFails = false;
    EXPECT_TRUE(model().enableStartAtLoginAfterSetup());
    EXPECT_TRUE(model().settings()->startAtLogin);
}

// --- Storage keys, Recovery Kit, setup ---

TEST_F(ActionsTest, ReplacingKeysVerifiesFirstAndKeepsAnEarlierToken)
{
    launched();
    secrets->cloudflareKey = QStringLiteral("old token");
    const StorageSecrets fresh{
        .endpoint = "http://127.0.0.1:9", .bucket = "new", .accessKeyID = "AK2", .secretAccessKey = "S2"};
    verifies = false;
    EXPECT_EQ(thrown<void>([&] { finish(model().replaceStorageKeys(fresh, std::nullopt)); }),
              QStringLiteral("Your passphrase doesn't open the drive in that storage."));
    EXPECT_EQ(secrets->keys->first, keys) << "nothing stored";
    EXPECT_EQ(supervisor->events.size(), 1) << "no restart";
    EXPECT_FALSE(model().isChangingDrive());

    verifies = true;
    finish(model().replaceStorageKeys(fresh, std::nullopt));
    EXPECT_EQ(secrets->keys, std::pair(fresh, passphrase));
    EXPECT_EQ(secrets->cloudflareKey, QStringLiteral("old token"));
    EXPECT_THAT(supervisor->events, ElementsAre("start nfs", "stop", "start nfs"));

    // From a token: trimmed before it is checked and stored.
    QStringList asked;
    const HTTPSend cloudflare = [&](HTTPRequest request, CancelToken) -> QCoro::Task<HTTPResponse> {
        asked.append(QString::fromUtf8(request.request.rawHeader("Authorization")));
        co_return HTTPResponse{.body = R"({"success":false,"errors":[{"code":1000,"message":"Invalid API Token"}]})",
                               .status = 401};
    };
    EXPECT_EQ(thrown<void>([&] {
                  finish(model().replaceStorageKeys(
                      QStringLiteral("  tok\n"),
                      QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com"),
                      QStringLiteral("b"), cloudflare));
              }),
              SetupState::unknownCloudflareKeyText);
    ASSERT_FALSE(asked.isEmpty());
    EXPECT_EQ(asked.first(), QStringLiteral("Bearer tok"));
    EXPECT_EQ(thrown<void>([&] {
                  finish(model().replaceStorageKeys(QStringLiteral("tok"), QStringLiteral("https://s3.example.com"),
                                                    QStringLiteral("b"), cloudflare));
              }),
              SetupState::notCloudflareText);
}

TEST_F(ActionsTest, TheRecoveryKitOpensOnlyForTheExactPassphraseAndCarriesNoToken)
{
    launched();
    secrets->cloudflareKey = QStringLiteral("token");
    for (const QString &typed : {passphrase.toUpper(), passphrase + u' '})
        EXPECT_EQ(thrown<QString>([&] { return finish(model().showRecoveryKit(typed)); }),
                  AppModel::recoveryKitMismatchText);
    const QString code = finish(model().showRecoveryKit(passphrase), 60s);
    const RecoveryKitPayload payload = RecoveryKit::decode(code, passphrase);
    EXPECT_EQ(payload, RecoveryKitPayload::make(keys, QStringLiteral("My Drive")));
    EXPECT_EQ(payload.cloudflareKey, std::nullopt);
}

TEST_F(ActionsTest, TheSetupStateIsWiredToTheModel)
{
    settings.save(*defaults);
    DriveEngine(DriveEngine::nfs).save(*defaults);
    std::unique_ptr<SetupState> setup = model().makeSetupState();
    const SetupDeps &deps = setup->deps();
    EXPECT_EQ(deps.connection, connection);
    EXPECT_EQ(deps.existingSettings, settings);
    EXPECT_FALSE(deps.deviceName.isEmpty());
    EXPECT_FALSE(deps.fullUserName.isEmpty());
    EXPECT_EQ(deps.freeDiskBytes(), freeBytes);
    EXPECT_TRUE(finish(deps.driveSwitchOn())) << "nfs needs no layer";
    EXPECT_EQ(extensionQuestions, 0);
    DriveSettings saved = settings;
    saved.driveName = QStringLiteral("Saved");
    deps.saveSettings(saved);
    EXPECT_EQ(DriveSettings::load(*defaults)->driveName, QStringLiteral("Saved"));
    EXPECT_EQ(model().settings(), std::nullopt) << "the model's settings wait for the launch";
    deps.setOrganisePending(OrganiseKind::newDrive);
    EXPECT_EQ(OrganisePending::load(*defaults), OrganiseKind::newDrive);
    deps.setOrganisePending(std::nullopt);
    EXPECT_FALSE(defaults->contains(QStringLiteral("organisePending")));

    // With the layer engine, a layer that does not answer within 5 s counts as off.
    DriveEngine(DriveEngine::fskit).save(*defaults);
    extensionAnswer.reset();
    AppModel bare(supervisor, secrets, defaults, network, hooks, rcloneFound, nullptr);
    std::unique_ptr<SetupState> other = bare.makeSetupState();
    const auto connectionUsed = std::dynamic_pointer_cast<DriveConnection>(other->deps().connection);
    ASSERT_TRUE(connectionUsed) << "a model without a connection gives one that runs nothing";
    EXPECT_EQ(connectionUsed->rclone, QStringLiteral("/nonexistent/rclone"));
    QCoro::Task<bool> asking = other->deps().driveSwitchOn();
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(5s) == 1; }));
    sleeps.releaseOldest(5s);
    EXPECT_FALSE(finish(std::move(asking)));
    EXPECT_EQ(extensionQuestions, 1);
}

TEST_F(ActionsTest, CompletingSetupLaunchesAndAcceptsTheLayerBeingOff)
{
    EXPECT_EQ(thrown<void>([&] { finish(model().completeSetup()); }), AppModel::settingsNotSavedText);
    setUpDrive(DriveEngine::fskit);
    extensionAnswer = false;
    EXPECT_EQ(thrown<void>([&] { finish(model().completeSetup()); }), QString());
    EXPECT_EQ(model().phase(), Phase::makeProblem(AppModel::extensionOffText));
}

// --- Sign-out ---

TEST_F(ActionsTest, ASignOutWaitsForUploadsThenRemovesEverythingAndResetsTheModel)
{
    launched();
    const DriveLocalData local = hooks.localData(settings);
    for (const QString &folder : {local.cache, local.logs, local.keep, local.mountFolder, local.backing})
        QDir().mkpath(folder);
    OrganisePending::save(OrganiseKind::existingDrive, *defaults);
    pinsReply.pins = {pin(QStringLiteral("a.txt"))};
    finish(model().refresh());
    ASSERT_EQ(model().keptItems().size(), 1);
    Access::setDeleted(model(), {item(QStringLiteral("2026-03-01/a.txt"))});
    Access::setConflicts(
        model(), {DriveConflict{QStringLiteral("a"), QStringLiteral("a (conflict from M)"), QStringLiteral("M")}});
    const int revision = Access::deletedRevision(model());

    std::vector<SignOutStep> steps;
    QObject::connect(&model(), &AppModel::signOutStepChanged, [&] {
        if (model().signOutStep())
            steps.push_back(*model().signOutStep());
    });
    pendingCounts = {3, 3, 2, 0};
    QCoro::Task<std::optional<SignOutStep>> signingOut = model().signOut(false);
    EXPECT_EQ(finish(model().signOut(false)), std::nullopt) << "a second one is refused";
    for (int pause = 0; pause < 3; ++pause) {
        ASSERT_TRUE(waitFor([&] { return sleeps.waiting(2s) == 1; }));
        sleeps.releaseOldest(2s);
    }
    keepStates.clear();
    badges.clear();
    EXPECT_EQ(finish(std::move(signingOut)), SignOutStep{SignOutStep::done});
    EXPECT_THAT(steps,
                ElementsAre(SignOutStep::waiting(3), SignOutStep::waiting(2), SignOutStep{SignOutStep::stopping},
                            SignOutStep{SignOutStep::removingKeys}, SignOutStep{SignOutStep::removingLocalFiles},
                            SignOutStep{SignOutStep::done}));
    EXPECT_EQ(model().signOutStep(), std::nullopt);
    EXPECT_FALSE(model().signOutDiscardedFiles());
    EXPECT_EQ(model().phase(), Phase{Phase::needsSetup});
    EXPECT_EQ(model().statusLine(), QStringLiteral("Not set up yet"));
    EXPECT_EQ(model().settings(), std::nullopt);
    EXPECT_TRUE(model().deleted().isEmpty());
    EXPECT_TRUE(model().conflicts().isEmpty());
    EXPECT_EQ(Access::deletedRevision(model()), revision + 1);
    EXPECT_EQ(secrets->keys, std::nullopt);
    EXPECT_FALSE(defaults->contains(QStringLiteral("driveSettings")));
    EXPECT_FALSE(defaults->contains(QStringLiteral("organisePending")));
    for (const QString &folder : {local.cache, local.logs, local.keep, local.mountFolder, local.backing})
        EXPECT_FALSE(QFileInfo::exists(folder)) << folder.toStdString();
    EXPECT_EQ(SignOutStep{SignOutStep::done}.text(), QStringLiteral("Signed out. Your files are safe in the cloud."));

    // Nothing of the old drive's keeping lingers: the plug-in is told, and a hello posts nothing.
    EXPECT_TRUE(model().keptItems().isEmpty());
    EXPECT_EQ(model().lastKeepState(), std::nullopt);
    ASSERT_EQ(keepStates.size(), 1u);
    EXPECT_EQ(keepStates[0], KeepShared::KeepState{});
    ASSERT_EQ(badges.size(), 1u);
    EXPECT_TRUE(badges[0].pins().empty());
    model().keepAddOnSaidHello();
    EXPECT_EQ(keepStates.size(), 1u);
}

TEST_F(ActionsTest, CancellingOrForcingASignOutWhileItWaits)
{
    launched();
    pendingCounts = {4};
    QCoro::Task<std::optional<SignOutStep>> cancelled = model().signOut(false);
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(2s) == 1; }));
    EXPECT_EQ(model().signOutStep(), SignOutStep::waiting(4));
    EXPECT_EQ(model().signOutWaitingCount(), 4);
    model().cancelSignOut();
    sleeps.releaseOldest(2s);
    EXPECT_EQ(finish(std::move(cancelled)), SignOutStep{SignOutStep::cancelled});
    EXPECT_EQ(model().supervisor().state().kind, SupervisorState::running) << "never stopped";
    EXPECT_TRUE(secrets->keys.has_value());

    QCoro::Task<std::optional<SignOutStep>> forced = model().signOut(false);
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(2s) == 1; }));
    model().requestForceSignOut();
    sleeps.releaseOldest(2s);
    EXPECT_EQ(finish(std::move(forced)), SignOutStep{SignOutStep::done});
    EXPECT_TRUE(model().signOutDiscardedFiles());
    EXPECT_EQ(SignOutStep{SignOutStep::done}.text(model().signOutDiscardedFiles()),
              QStringLiteral("Signed out. Files that hadn't uploaded were removed from this computer."));
    EXPECT_THAT(supervisor->events, ::testing::Contains(QStringLiteral("stop")));
    model().cancelSignOut(); // nothing runs: nothing happens
    model().requestForceSignOut();
}

TEST_F(ActionsTest, AFailedKeyRemovalLeavesTheProblemAndTheSettings)
{
    launched();
    secrets->failDeleteAll = true;
    EXPECT_FALSE(thrown<std::optional<SignOutStep>>([&] { return finish(model().signOut(true)); }).isEmpty());
    EXPECT_EQ(model().phase(), Phase::makeProblem(AppModel::signOutFailedText));
    EXPECT_EQ(model().statusLine(), AppModel::signOutFailedText);
    EXPECT_EQ(model().signOutStep(), std::nullopt);
    EXPECT_TRUE(model().settings().has_value());
    EXPECT_FALSE(Access::signingOut(model()));
}

TEST_F(ActionsTest, ASignOutCountsAsRunningBeforeItsFirstReport)
{
    // The first upload count can take the engine's full time-out; until it answers, the run
    // has reported nothing, and still no drive change, refresh or listing may start.
    launched();
    pendingGate = std::make_shared<Gate>();
    QCoro::Task<std::optional<SignOutStep>> signingOut = model().signOut(false);
    ASSERT_TRUE(waitFor([&] { return pendingGate->waiting() == 1; }));
    ASSERT_EQ(model().signOutStep(), std::nullopt);
    EXPECT_EQ(thrown<void>([&] { finish(model().changeCache(10)); }), AppModel::driveChangeBusyText);
    EXPECT_EQ(thrown<void>([&] { finish(model().setDriveEngine(DriveEngine::nfs)); }), AppModel::driveChangeBusyText);
    EXPECT_EQ(thrown<void>([&] { finish(model().replaceStorageKeys(keys, std::nullopt)); }),
              AppModel::driveChangeBusyText);
    EXPECT_EQ(thrown<void>([&] { finish(model().renameDrive(QStringLiteral("Other"))); }), AppModel::renameBusyText);
    const int before = snapshots;
    finish(model().refresh());
    EXPECT_EQ(snapshots, before) << "the refresh does nothing";
    finish(model().refreshDeleted(true));
    EXPECT_EQ(listings, 0);
    EXPECT_EQ(finish(model().signOut(false)), std::nullopt);

    model().cancelSignOut();
    pendingGate->open();
    EXPECT_EQ(finish(std::move(signingOut)), SignOutStep{SignOutStep::cancelled});
}

TEST_F(ActionsTest, UploadsLeftInTheCacheStartTheDriveAgain)
{
    launched();
    const DriveLocalData local = hooks.localData(settings);
    // A dirty file in the engine's cache metadata.
    QDir().mkpath(local.cache + QStringLiteral("/vfsMeta/drivecrypt/Drive"));
    QFile meta(local.cache + QStringLiteral("/vfsMeta/drivecrypt/Drive/a.txt"));
    ASSERT_TRUE(meta.open(QIODevice::WriteOnly));
    meta.write(
        R"({"ModTime":"2026-03-04T12:00:00Z","ATime":"2026-03-04T12:00:00Z","Size":3,"Rs":[],"Fingerprint":"","Dirty":true})");
    meta.close();
    EXPECT_EQ(
        thrown<std::optional<SignOutStep>>([&] { return finish(model().signOut(false)); }),
        QStringLiteral("other: Some files haven't uploaded yet. Open Ovra again to let them finish, then sign out."));
    EXPECT_EQ(model().phase(), Phase{Phase::running}) << "launched again";
    EXPECT_TRUE(secrets->keys.has_value());
    EXPECT_EQ(model().signOutStep(), std::nullopt);
    EXPECT_FALSE(Access::signingOut(model()));
}

} // namespace AppModelTest
