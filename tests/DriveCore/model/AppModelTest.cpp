// The app model over a fake supervisor, fake hooks and manual sleeps: state and notification,
// derived values, launch, following the supervisor, the loops, the network and the stops.
#include "AppModelFixture.h"

#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/support/AppModelError.h"

#include <QThread>

#include <limits>

#include <gmock/gmock.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using Access = DriveCore::AppModelTestAccess;
using Phase = DriveCore::AppModelPhase;
using ::testing::ElementsAre;

namespace AppModelTest {

namespace {

Phase problem(const QString &text)
{
    return Phase::makeProblem(text);
}

Phase phase(Phase::Kind kind)
{
    return Phase{kind, {}};
}

} // namespace

// --- State and notification ---

TEST_F(ModelTest, AnEqualValueNotifiesNobodyAndADifferentOneNotifiesOnce)
{
    // Each field written by the model's own code, with a running drive to read from.
    AppModel &m = model();
    Access::setSettings(m, settings);
    supervisor->run(4001);
    const RCClient rc = *supervisor->client;
    const auto upload = [](qint64 size) {
        UploadSnapshot taken = snapshot(1, 0);
        taken.stats.transferring = {Transferring{.name = QStringLiteral("a.txt"),
                                                 .size = size,
                                                 .group = QStringLiteral("global_stats"),
                                                 .dstFs = QString::fromLatin1(RCClient::mountFs)}};
        return taken;
    };
    const auto listing = [](const QString &path) {
        return [path](RCClient, CancelToken) -> QCoro::Task<QList<DriveSearchEntry>> {
            co_return QList<DriveSearchEntry>{DriveSearchEntry{.path = path, .name = path}};
        };
    };
    const auto at = [](qint64 seconds) { return [seconds] { return QDateTime::fromSecsSinceEpoch(seconds); }; };
    const auto line = [](const char *name) {
        return QStringLiteral("%1 (conflict from Mac).txt").arg(QLatin1String(name));
    };
    struct Row {
        const char *field;
        void (AppModel::*signal)();
        std::function<void(bool differ)> set;
    };
    const std::vector<Row> table = {
        {"phase", &AppModel::phaseChanged,
         [&](bool differ) { Access::setPhase(m, differ ? problem("B") : problem("A")); }},
        {"statusLine", &AppModel::statusLineChanged,
         [&](bool differ) { Access::setPhase(m, differ ? problem("x") : problem("w")); }},
        {"pendingUploads", &AppModel::pendingUploadsChanged,
         [&](bool differ) { Access::apply(m, snapshot(0, differ ? 2 : 1)); }},
        {"queuedSummary", &AppModel::queuedSummaryChanged,
         [&](bool differ) { Access::apply(m, snapshot(0, differ ? 0 : 1)); }},
        {"hasUploadProblem", &AppModel::hasUploadProblemChanged,
         [&](bool differ) { Access::apply(m, snapshot(0, 0, differ ? 1 : 0)); }},
        {"uploads", &AppModel::uploadsChanged, [&](bool differ) { Access::apply(m, upload(differ ? 2 : 1)); }},
        {"online", &AppModel::onlineChanged, [&](bool differ) { Access::networkChanged(m, differ); }},
        {"settings", &AppModel::settingsChanged,
         [&](bool differ) {
             DriveSettings changed = settings;
             changed.cacheGB = differ ? 31 : 30;
             Access::save(m, changed);
         }},
        {"conflicts", &AppModel::conflictsChanged,
         [&](bool differ) { Access::takeConflictLines(m, {line(differ ? "b" : "a")}); }},
        {"deletedTrashStats", &AppModel::deletedTrashStatsChanged,
         [&](bool differ) {
             Access::hooks(m).trashStats = [differ](RCClient, CancelToken) -> QCoro::Task<TrashStats> {
                 co_return TrashStats{.pending = 1, .failing = differ ? 1 : 0};
             };
             finish(m.refreshDeleted(false));
         }},
        {"keptItems", &AppModel::keptItemsChanged,
         [&](bool differ) {
             pinsReply.pins = {PinStatus{.path = differ ? QStringLiteral("b") : QStringLiteral("a")}};
             finish(Access::refreshKept(m, rc));
         }},
        {"lastKeepState", &AppModel::lastKeepStateChanged,
         [&](bool differ) {
             pinsReply.pins = {PinStatus{.path = differ ? QStringLiteral("d") : QStringLiteral("c")}};
             finish(Access::refreshKept(m, rc));
         }},
        {"searchIndex", &AppModel::searchIndexChanged,
         [&](bool differ) {
             Access::hooks(m).searchListing = listing(differ ? QStringLiteral("b") : QStringLiteral("a"));
             finish(m.refreshSearchIndex());
         }},
        {"searchIndexedAt", &AppModel::searchIndexedAtChanged,
         [&](bool differ) {
             Access::hooks(m).now = at(differ ? 2 : 1);
             finish(m.refreshSearchIndex());
         }},
    };
    for (const Row &row : table) {
        row.set(false);
        const std::shared_ptr<int> notified = count(row.signal);
        row.set(false);
        EXPECT_EQ(*notified, 0) << row.field << ": the same value again";
        row.set(true);
        EXPECT_EQ(*notified, 1) << row.field << ": a different value";
    }
    settle();

    // Change sync notifies on every assignment, the window count on every open.
    const std::shared_ptr<int> changeSync = count(&AppModel::changeSyncChanged);
    Access::setChangeSync(m, nullptr);
    Access::setChangeSync(m, nullptr);
    EXPECT_EQ(*changeSync, 2);
    const std::shared_ptr<int> windows = count(&AppModel::openWindowsChanged);
    m.windowClosed();
    EXPECT_EQ(*windows, 0) << "closing at a count of 0 leaves it at 0";
    EXPECT_EQ(m.openWindows(), 0);
    m.windowOpened();
    m.windowOpened();
    EXPECT_EQ(*windows, 2);
    m.windowClosed();
    EXPECT_EQ(m.openWindows(), 1);
}

TEST_F(ModelTest, EachPhaseSetsItsStatusLine)
{
    struct Row {
        Phase phase;
        qint64 pending;
        QString expected;
    };
    const std::vector<Row> table = {
        {phase(Phase::needsSetup), 0, QStringLiteral("Not set up yet")},
        {phase(Phase::starting), 0, QStringLiteral("Connecting\u2026")},
        {phase(Phase::running), 0, QStringLiteral("earlier")},
        {phase(Phase::offline), 0, QStringLiteral("earlier")},
        {phase(Phase::offline), 2, QStringLiteral("Waiting for internet")},
        {problem(QStringLiteral("Broken")), 0, QStringLiteral("Broken")},
    };
    for (const Row &row : table) {
        Access::setPhase(model(), phase(Phase::needsSetup));
        Access::statusLine(model()) = QStringLiteral("earlier");
        Access::setPending(model(), row.pending);
        Access::setPhase(model(), row.phase);
        EXPECT_EQ(model().statusLine(), row.expected) << int(row.phase.kind);
        EXPECT_EQ(model().phase(), row.phase);
    }
    EXPECT_EQ(AppModel(supervisor, secrets, defaults, network, hooks, true, nullptr).statusLine(),
              QStringLiteral("Starting\u2026"));
}

TEST_F(ModelTest, DerivedValues)
{
    AppModel &m = model();
    // Cache room: 15 GB free leaves none beyond the current cache.
    hooks.freeDiskBytes = [] { return qint64(15'000'000'000); };
    AppModel tight(supervisor, secrets, defaults, network, hooks, true, nullptr);
    EXPECT_EQ(tight.maxCacheGB(), 1);
    EXPECT_FALSE(tight.canChangeCache());
    Access::setSettings(tight, settings);
    EXPECT_EQ(tight.maxCacheGB(), 30);
    EXPECT_TRUE(tight.canChangeCache());
    EXPECT_EQ(m.maxCacheGB(), 80);

    for (const auto &[bytes, text] : std::vector<std::pair<qint64, const char *>>{
             {0, "0"}, {9'500'000'000, "9.5"}, {9'960'000'000, "10.0"}, {12'400'000'000, "12"}})
        EXPECT_EQ(AppModel::trashFooter(bytes),
                  QStringLiteral("Recently Deleted is using %1 GB").arg(QLatin1String(text)));
    Access::setDeleted(m,
                       {DeletedItem{.id = QStringLiteral("a"), .size = 4'000'000'000},
                        DeletedItem{.id = QStringLiteral("b"), .size = 1'000'000'000}});
    EXPECT_EQ(m.trashFooter(), QStringLiteral("Recently Deleted is using 5.0 GB"));

    struct TrashRow {
        std::optional<TrashStats> stats;
        bool online;
        std::optional<QString> expected;
    };
    for (const TrashRow &row : std::vector<TrashRow>{
             {std::nullopt, true, QStringLiteral("Checking deleted files\u2026")},
             {TrashStats{.pending = 1}, true, QStringLiteral("Moving 1 file to Recently Deleted\u2026")},
             {TrashStats{.pending = 3}, true, QStringLiteral("Moving 3 files to Recently Deleted\u2026")},
             {TrashStats{.pending = 3}, false,
              QStringLiteral("Waiting for internet to move deleted files to Recently Deleted\u2026")},
             {TrashStats{.pending = 0, .failing = 2}, true,
              QStringLiteral("Some deleted files are still moving. Ovra will keep trying.")},
             {TrashStats{.pending = 0}, true, std::nullopt},
         }) {
        Access::setTrashStats(m, row.stats);
        Access::setOnline(m, row.online);
        EXPECT_EQ(m.trashMoveMessage(), row.expected);
    }
    Access::setOnline(m, true);

    const DriveConflict first{QStringLiteral("a.txt"), QStringLiteral("a (conflict from Mac).txt"),
                              QStringLiteral("Mac")};
    const DriveConflict second{QStringLiteral("b.txt"), QStringLiteral("b (conflict from Mac).txt"),
                               QStringLiteral("Mac")};
    EXPECT_EQ(m.conflictCounter(), std::nullopt);
    EXPECT_EQ(m.currentConflict(), std::nullopt);
    Access::setConflicts(m, {first});
    EXPECT_EQ(m.conflictCounter(), std::nullopt);
    Access::setConflicts(m, {first, second, second});
    EXPECT_EQ(m.conflictCounter(), QStringLiteral("1 of 3"));
    EXPECT_EQ(m.currentConflict(), first);

    Access::setSignOutStep(m, SignOutStep::waiting(4));
    EXPECT_EQ(m.signOutWaitingCount(), 4);

    defaults->set(QStringLiteral("driveEngine"), QStringLiteral("nfs"));
    EXPECT_EQ(m.driveEngineSetting(), DriveEngine::nfs);
    for (const char *other : {"fskit", "NFS", "anything"}) {
        defaults->set(QStringLiteral("driveEngine"), QString::fromLatin1(other));
        EXPECT_EQ(m.driveEngineSetting(), DriveEngine::fskit) << other;
    }
    EXPECT_FALSE(m.showsEngineChoice());
    defaults->set(QStringLiteral("OvraShowEngineChoice"), true);
    EXPECT_TRUE(m.showsEngineChoice());
    EXPECT_EQ(m.mountPath(), std::nullopt);
}

TEST_F(ModelTest, TotalsOfTheEnginesFiguresStopAtTheEdgeInsteadOfWrapping)
{
    constexpr qint64 most = std::numeric_limits<qint64>::max();
    Access::setDeleted(
        model(),
        {DeletedItem{.id = QStringLiteral("a"), .size = most}, DeletedItem{.id = QStringLiteral("b"), .size = 1}});
    EXPECT_EQ(model().trashFooter(), AppModel::trashFooter(most));

    supervisor->run(4001);
    Access::followSupervisor(model());
    Access::apply(model(), snapshot(most, 1));
    EXPECT_EQ(model().pendingUploads(), most);
    EXPECT_FALSE(model().canQuit());
    EXPECT_EQ(model().menuIcon(), QStringLiteral("icloud.and.arrow.up"));
}

TEST_F(ModelTest, MenuIconFollowsThePhaseAndTheUploads)
{
    struct Row {
        Phase phase;
        bool uploadProblem;
        qint64 pending;
        const char *icon;
    };
    for (const Row &row : std::vector<Row>{
             {phase(Phase::needsSetup), false, 0, "cloud"},
             {phase(Phase::starting), true, 3, "cloud"},
             {phase(Phase::running), true, 3, "exclamationmark.icloud"},
             {phase(Phase::running), false, 3, "icloud.and.arrow.up"},
             {phase(Phase::running), false, 0, "cloud"},
             {phase(Phase::offline), false, 0, "icloud.slash"},
             {problem(QStringLiteral("x")), false, 0, "exclamationmark.icloud"},
         }) {
        Access::setPhase(model(), row.phase);
        Access::setPending(model(), row.pending);
        Access::apply(model(), snapshot(0, row.pending, row.uploadProblem ? 1 : 0));
        EXPECT_EQ(model().menuIcon(), QLatin1String(row.icon)) << int(row.phase.kind);
    }
}

TEST_F(ModelTest, RetryAndTheRunningClientRule)
{
    struct Row {
        Phase phase;
        SupervisorState::Kind state;
        bool canRetry;
    };
    for (const Row &row : std::vector<Row>{
             {phase(Phase::needsSetup), SupervisorState::failed, false},
             {phase(Phase::starting), SupervisorState::failed, false},
             {phase(Phase::running), SupervisorState::failed, false},
             {phase(Phase::offline), SupervisorState::failed, false},
             {problem(AppModel::organiseProblemText), SupervisorState::stopped, true},
             {problem(AppModel::extensionOffText), SupervisorState::running, true},
             {problem(QStringLiteral("The drive keeps stopping unexpectedly.")), SupervisorState::failed, true},
             {problem(QStringLiteral("Settings couldn't be read")), SupervisorState::stopped, false},
             {problem(AppModel::passphraseMismatchText), SupervisorState::stopped, false},
         }) {
        supervisor->currentState.kind = row.state;
        Access::setPhase(model(), row.phase);
        EXPECT_EQ(model().canRetryLaunch(), row.canRetry) << row.phase.text.toStdString() << " " << int(row.phase.kind);
    }

    for (const auto kind : {SupervisorState::starting, SupervisorState::restarting, SupervisorState::stopped,
                            SupervisorState::failed, SupervisorState::running}) {
        supervisor->currentState.kind = kind;
        supervisor->client.reset();
        try {
            model().requireRC();
            ADD_FAILURE() << "no client in state " << int(kind);
        } catch (const AppModelError &error) {
            EXPECT_EQ(error.message, QStringLiteral("The drive isn't connected right now. Try again in a moment."));
        }
    }
    supervisor->run(4005);
    EXPECT_EQ(model().requireRC().port(), 4005);
}

TEST_F(ModelTest, ConflictLinesFromAnyThreadAddEachConflictOnce)
{
    const std::shared_ptr<ConflictLines> lines = model().conflictLines();
    const std::shared_ptr<int> notified = count(&AppModel::conflictsChanged);
    QThread *thread = QThread::create([lines] {
        lines->send(QStringLiteral("Docs/report (conflict from Studio).pdf"));
        lines->send(QStringLiteral("Docs/report.pdf"));
        lines->send(QStringLiteral("Docs/report (conflict from Studio).pdf"));
    });
    thread->start();
    thread->wait();
    delete thread;
    ASSERT_TRUE(waitFor([&] { return *notified > 0; }));
    settle();
    lines->send(QStringLiteral("Docs/report (conflict from Studio).pdf"));
    lines->send(QStringLiteral("b (conflict from Studio 2).txt"));
    ASSERT_TRUE(waitFor([&] { return model().conflicts().size() == 2; }));
    EXPECT_EQ(model().conflicts()[0].original, QStringLiteral("Docs/report.pdf"));
    EXPECT_EQ(model().conflicts()[1].copy, QStringLiteral("b (conflict from Studio 2).txt"));
}

// --- Launch ---

TEST_F(ModelTest, LaunchStopsAtWhatIsMissing)
{
    struct Row {
        const char *name;
        std::function<void()> prepare;
        Phase expected;
    };
    const std::vector<Row> table = {
        {"unreadable settings, keys present",
         [&] {
             secrets->keys = std::pair(keys, passphrase);
             defaults->set(QStringLiteral("driveSettings"), QByteArray("{\"driveName\":1}"));
         },
         problem(QStringLiteral("Settings couldn't be read"))},
        {"no settings, keys present", [&] { secrets->keys = std::pair(keys, passphrase); }, phase(Phase::needsSetup)},
        {"settings, no keys", [&] { settings.save(*defaults); }, phase(Phase::needsSetup)},
        {"unreadable keychain, no settings", [&] { secrets->failLoad = true; },
         problem(QStringLiteral("Your keys couldn't be read from your keyring"))},
        {"no engine program",
         [&] {
             setUpDrive();
             rcloneFound = false;
         },
         problem(QStringLiteral("Ovra is missing a part it needs. Please reinstall the app."))},
    };
    for (const Row &row : table) {
        defaults->remove(QStringLiteral("driveSettings"));
        secrets->keys.reset();
        secrets->failLoad = false;
        rcloneFound = true;
        row.prepare();
        AppModel m(supervisor, secrets, defaults, network, hooks, rcloneFound, connection);
        finish(m.launch());
        EXPECT_EQ(m.phase(), row.expected) << row.name;
        EXPECT_EQ(m.statusLine(), row.expected.isProblem() ? row.expected.text : QStringLiteral("Not set up yet"))
            << row.name;
        EXPECT_TRUE(supervisor->events.isEmpty()) << row.name;
        EXPECT_EQ(network->starts, 0) << row.name;
    }
    EXPECT_THAT(
        logs.messages(QStringLiteral("app")),
        ElementsAre(QStringLiteral("Keychain read failed: ") + KeychainError(Keychain::notAvailable).description()));
}

TEST_F(ModelTest, LaunchStartsTheNetworkTheDriveAndTheLoops)
{
    setUpDrive();
    cacheFolderNames = {"drivecrypt{old}"};
    finish(model().launch());
    EXPECT_EQ(model().phase(), phase(Phase::running));
    EXPECT_THAT(supervisor->events, ElementsAre(QStringLiteral("start nfs")));
    EXPECT_EQ(extensionQuestions, 0) << "the nfs engine needs no layer";
    EXPECT_EQ(network->starts, 1);
    EXPECT_EQ(model().settings(), settings);
    EXPECT_EQ(model().engineInUse(), DriveEngine::nfs);
    EXPECT_TRUE(Access::loopsRunning(model()));
    EXPECT_THAT(*changeSyncEvents, ElementsAre(QStringLiteral("make 4001"), QStringLiteral("start 4001")));
    EXPECT_THAT(rescues, ElementsAre(QStringLiteral("start 4001")));
    // The loop's first refresh ran at once and sleeps 10 s, as does the purge after its run.
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(10s) == 1; }));
    EXPECT_EQ(model().statusLine(), AppModel::allSafeText);
    EXPECT_EQ(purges, 1);
    EXPECT_EQ(sleeps.waiting(24h), 1);
}

TEST_F(ModelTest, OrganiseStep)
{
    struct Row {
        const char *name;
        const char *pending;
        std::function<void()> prepare;
        std::optional<Phase> stopsAt; // none: the drive starts
        QStringList calls;
        bool keyKept;
        bool canRetry = false;
    };
    const std::vector<Row> table = {
        {"a new drive whose bucket has the drive already",
         "newDrive",
         [&] { connection->check = PassphraseCheck::correct; },
         std::nullopt,
         {QStringLiteral("check")},
         false},
        {"a new drive on an empty bucket",
         "newDrive",
         [&] { connection->check = PassphraseCheck::newDrive; },
         std::nullopt,
         {QStringLiteral("check"), QStringLiteral("prepare")},
         false},
        {"an existing drive", "existingDrive", [] {}, std::nullopt, {QStringLiteral("migrate")}, false},
        {"a wrong passphrase",
         "newDrive",
         [&] { connection->check = PassphraseCheck::wrong; },
         problem(AppModel::passphraseMismatchText),
         {QStringLiteral("check")},
         true,
         false},
        {"a passphrase the move cannot confirm",
         "existingDrive",
         [&] { connection->migrateUnconfirmed = true; },
         problem(QStringLiteral("Your passphrase doesn't open the drive in that storage.")),
         {QStringLiteral("migrate")},
         true,
         false},
        {"no connection",
         "existingDrive",
         [&] { connection->offline = true; },
         problem(AppModel::organiseProblemText),
         {QStringLiteral("migrate")},
         true,
         true},
        {"an unknown step", "somethingElse", [] {}, std::nullopt, {}, true},
    };
    setUpDrive();
    for (const Row &row : table) {
        *connection = FakeConnection{};
        supervisor->events.clear();
        supervisor->currentState = {};
        supervisor->client.reset();
        defaults->set(QStringLiteral("organisePending"), QString::fromLatin1(row.pending));
        row.prepare();
        AppModel m(supervisor, secrets, defaults, network, hooks, true, connection);
        finish(m.launch());
        EXPECT_EQ(connection->calls, row.calls) << row.name;
        EXPECT_EQ(defaults->string(QStringLiteral("organisePending")).has_value(), row.keyKept) << row.name;
        if (row.stopsAt) {
            EXPECT_EQ(m.phase(), *row.stopsAt) << row.name;
            EXPECT_EQ(m.statusLine(), row.stopsAt->text) << row.name;
            EXPECT_EQ(m.canRetryLaunch(), row.canRetry) << row.name;
            EXPECT_TRUE(supervisor->events.isEmpty()) << row.name;
        } else {
            EXPECT_EQ(m.phase(), phase(Phase::running)) << row.name;
        }
    }
    for (const QString &line : logs.messages(QStringLiteral("app")))
        EXPECT_EQ(line, QStringLiteral("Organising failed: <private>"));
}

TEST_F(ModelTest, TheFileSystemLayerMustAnswerWithinFiveSeconds)
{
    setUpDrive(DriveEngine::fskit);
    extensionAnswer = std::nullopt;
    QCoro::Task<> launch = model().launch();
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(5s) == 1; }));
    EXPECT_EQ(extensionQuestions, 1);
    sleeps.releaseOldest(5s);
    finish(std::move(launch));
    EXPECT_EQ(model().phase(), problem(AppModel::extensionOffText));
    EXPECT_EQ(model().statusLine(), AppModel::extensionOffText);
    EXPECT_TRUE(model().needsExtensionSwitch());
    EXPECT_TRUE(supervisor->events.isEmpty());
    EXPECT_TRUE(Access::loopsRunning(model())) << "the refresh loop notices the layer coming back";

    // The loop's refresh asks again; once the layer answers, the drive restarts in the same call.
    ASSERT_TRUE(waitFor([&] { return extensionQuestions == 2 && sleeps.waiting(5s) == 1; }));
    extensionAnswer = true;
    sleeps.releaseOldest(5s);
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(10s) == 1; }));
    EXPECT_EQ(model().phase(), problem(AppModel::extensionOffText)) << "a late no changes nothing";
    sleeps.releaseOldest(10s);
    ASSERT_TRUE(waitFor([&] { return model().phase() == phase(Phase::running); }));
    EXPECT_THAT(supervisor->events, ElementsAre(QStringLiteral("stop"), QStringLiteral("start fskit")));
    EXPECT_FALSE(model().isChangingDrive());
    ASSERT_TRUE(waitFor([&] { return model().statusLine() == AppModel::allSafeText; }));
}

TEST_F(ModelTest, AFailedStartShowsTheSupervisorsOwnTextWhenItHasOne)
{
    setUpDrive();
    supervisor->failWith = SupervisorState::failure(QStringLiteral("The drive keeps stopping unexpectedly."));
    finish(model().launch());
    EXPECT_EQ(model().phase(), problem(QStringLiteral("The drive keeps stopping unexpectedly.")));
    EXPECT_TRUE(model().canRetryLaunch());
    EXPECT_TRUE(rescues.isEmpty()) << "no rescue without a running drive";

    AppModel other(supervisor, secrets, defaults, network, hooks, true, connection);
    supervisor->failWith = SupervisorState{};
    supervisor->currentState = {};
    finish(other.launch());
    EXPECT_EQ(other.phase(), problem(QStringLiteral("Could not start the drive: the engine exited at once")));
}

TEST_F(ModelTest, ASecondLaunchWaitsForTheFirstInsteadOfStartingTheDriveAgain)
{
    setUpDrive();
    supervisor->startGate = std::make_shared<Gate>();
    QCoro::Task<> first = model().launch();
    ASSERT_TRUE(waitFor([&] { return supervisor->startGate->waiting() == 1; }));
    QCoro::Task<> second = model().launch();
    settle();
    EXPECT_EQ(supervisor->events.size(), 1);
    supervisor->startGate->open();
    finish(std::move(second));
    EXPECT_EQ(model().phase(), phase(Phase::running)) << "the second ends with the first";
    finish(std::move(first));
    EXPECT_THAT(supervisor->events, ElementsAre(QStringLiteral("start nfs")));
    EXPECT_EQ(network->starts, 1);
    EXPECT_EQ(changeSyncs.size(), 1u);

    // Once it ended, a launch runs again.
    supervisor->startGate.reset();
    finish(model().launch());
    EXPECT_EQ(network->starts, 2);
}

// --- Following the supervisor and snapshots ---

TEST_F(ModelTest, ThePhaseFollowsTheSupervisorAndTheNetwork)
{
    struct Row {
        SupervisorState state;
        bool online;
        Phase expected;
    };
    for (const Row &row : std::vector<Row>{
             {{SupervisorState::starting, {}}, true, phase(Phase::starting)},
             {{SupervisorState::restarting, {}}, false, phase(Phase::offline)},
             {{SupervisorState::running, {}}, true, phase(Phase::running)},
             {{SupervisorState::running, {}}, false, phase(Phase::offline)},
             {SupervisorState::failure(QStringLiteral("gave up")), true, problem(QStringLiteral("gave up"))},
             {{SupervisorState::stopped, {}}, true, problem(QStringLiteral("old"))},
         }) {
        Access::setPhase(model(), problem(QStringLiteral("old")));
        supervisor->currentState = row.state;
        Access::setOnline(model(), row.online);
        Access::followSupervisor(model());
        EXPECT_EQ(model().phase(), row.expected) << int(row.state.kind) << row.online;
    }
    supervisor->run(4001);
    supervisor->ejected = true;
    Access::followSupervisor(model());
    EXPECT_TRUE(model().isEjected());
    supervisor->currentState = {SupervisorState::restarting, {}};
    Access::followSupervisor(model());
    EXPECT_FALSE(model().isEjected()) << "ejected only while running";
}

TEST_F(ModelTest, ApplyingASnapshot)
{
    Access::setOnline(model(), false);
    supervisor->run(4001);
    Access::followSupervisor(model());
    Access::apply(model(), snapshot(0, 2));
    EXPECT_EQ(model().phase(), phase(Phase::offline));
    EXPECT_EQ(model().statusLine(), QStringLiteral("Waiting for internet"));
    EXPECT_EQ(model().queuedSummary(), QStringLiteral("2 more files waiting for internet"));
    EXPECT_EQ(model().pendingUploads(), 2);

    Access::setOnline(model(), true);
    Access::followSupervisor(model());
    Access::apply(model(), snapshot(0, 1));
    EXPECT_EQ(model().queuedSummary(), QStringLiteral("1 more file waiting to upload"));
    Access::apply(model(), snapshot(0, 0, 1));
    EXPECT_EQ(model().statusLine(), AppModel::uploadProblemText);
    EXPECT_TRUE(model().hasUploadProblem());
    EXPECT_EQ(model().queuedSummary(), std::nullopt);
    supervisor->ejected = true;
    Access::followSupervisor(model());
    Access::apply(model(), snapshot(0, 0, 1));
    EXPECT_EQ(model().statusLine(), AppModel::ejectedText);

    // While starting, rows and counts move but the line stays.
    Access::setPhase(model(), phase(Phase::starting));
    Access::apply(model(), snapshot(1, 3));
    EXPECT_EQ(model().statusLine(), QStringLiteral("Connecting\u2026"));
    EXPECT_EQ(model().pendingUploads(), 4);
    EXPECT_EQ(model().queuedSummary(), QStringLiteral("3 more files waiting to upload"));
}

TEST_F(ModelTest, ACacheDiskOutOfSpaceIsNeverAllSafe)
{
    supervisor->run(4001);
    struct Row {
        const char *name;
        bool online;
        qint64 queued;
        std::optional<bool> outOfSpace;
        QString line;
        bool problem;
    };
    const QString uploading = QStringLiteral("Uploading 1 file \u2014 1 min left");
    const std::vector<Row> rows = {
        {.name = "room", .online = true, .queued = 0, .outOfSpace = false, .line = AppModel::allSafeText},
        {.name = "not said", .online = true, .queued = 0, .outOfSpace = std::nullopt, .line = AppModel::allSafeText},
        {.name = "full, nothing pending",
         .online = true,
         .queued = 0,
         .outOfSpace = true,
         .line = AppModel::uploadProblemText,
         .problem = true},
        {.name = "full, offline",
         .online = false,
         .queued = 0,
         .outOfSpace = true,
         .line = AppModel::uploadProblemText,
         .problem = true},
        {.name = "full, uploading",
         .online = true,
         .queued = 1,
         .outOfSpace = true,
         .line = uploading,
         .problem = true},
        {.name = "full, waiting",
         .online = false,
         .queued = 1,
         .outOfSpace = true,
         .line = QStringLiteral("Waiting for internet"),
         .problem = true},
        {.name = "room again", .online = true, .queued = 0, .outOfSpace = false, .line = AppModel::allSafeText},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Access::setOnline(model(), row.online);
        Access::followSupervisor(model());
        UploadSnapshot taken = snapshot(0, row.queued);
        taken.vfs.diskCache.outOfSpace = row.outOfSpace;
        Access::apply(model(), taken);
        EXPECT_EQ(model().statusLine(), row.line);
        EXPECT_EQ(model().hasUploadProblem(), row.problem);
        if (row.online)
            EXPECT_EQ(model().menuIcon(),
                      row.problem ? QStringLiteral("exclamationmark.icloud")
                                  : (row.queued ? QStringLiteral("icloud.and.arrow.up") : QStringLiteral("cloud")));
    }
    // Said once when it fills, once when it has room again.
    EXPECT_EQ(logs.messages(QStringLiteral("app")).filter(QStringLiteral("cache disk")),
              (QStringList{QStringLiteral("The cache disk is out of space: files being written may be cut short before "
                                          "they upload"),
                           QStringLiteral("The cache disk has room again")}));
}

TEST_F(ModelTest, OneChangeSyncPerEngineLaunch)
{
    Access::setSettings(model(), settings);
    supervisor->run(4001);
    Access::reconnectChangeSync(model());
    Access::reconnectChangeSync(model());
    supervisor->run(4002);
    Access::reconnectChangeSync(model());
    EXPECT_THAT(*changeSyncEvents,
                ElementsAre(QStringLiteral("make 4001"), QStringLiteral("start 4001"), QStringLiteral("stop 4001"),
                            QStringLiteral("make 4002"), QStringLiteral("start 4002")));
    Access::setStopping(model(), true);
    supervisor->run(4003);
    Access::reconnectChangeSync(model());
    EXPECT_EQ(changeSyncs.size(), 2u) << "nothing while the drive is stopping";
    Access::setStopping(model(), false);

    // The engine's callbacks: conflicts reach the list, refreshes re-scan the kept folders.
    changeSyncs.back()->conflict(QStringLiteral("x (conflict from Studio).txt"));
    changeSyncs.back()->refreshed();
    ASSERT_TRUE(waitFor([&] { return model().conflicts().size() == 1 && pinScans == 1; }));
}

// --- Refresh ---

TEST_F(ModelTest, ARefreshDoesNothingBeforeSetupDuringSignOutOrADriveChange)
{
    supervisor->run(4001);
    Access::setSettings(model(), settings);
    const std::vector<std::function<void(bool)>> guards = {
        [&](bool on) { Access::setPhase(model(), on ? phase(Phase::needsSetup) : phase(Phase::running)); },
        [&](bool on) {
            Access::setSignOutStep(model(), on ? std::optional(SignOutStep{SignOutStep::stopping}) : std::nullopt);
        },
        [&](bool on) { Access::setChangingDrive(model(), on); },
    };
    for (const auto &guard : guards) {
        guard(true);
        finish(model().refresh());
        guard(false);
    }
    EXPECT_EQ(snapshots, 0);
    EXPECT_TRUE(changeSyncs.empty());
    EXPECT_TRUE(badges.empty());
    finish(model().refresh());
    EXPECT_EQ(snapshots, 1);
}

TEST_F(ModelTest, AFailedSnapshotCountsOnePendingUpload)
{
    struct Row {
        Phase phase;
        SupervisorState::Kind state;
        bool online;
        QString line;
    };
    nextSnapshot = std::nullopt;
    for (const Row &row : std::vector<Row>{
             {phase(Phase::running), SupervisorState::running, true, QStringLiteral("Checking your files\u2026")},
             {phase(Phase::offline), SupervisorState::running, false, QStringLiteral("Waiting for internet")},
         }) {
        supervisor->run(4001);
        Access::setOnline(model(), row.online);
        Access::setPending(model(), 0);
        finish(model().refresh());
        EXPECT_EQ(model().phase(), row.phase);
        EXPECT_EQ(model().pendingUploads(), 1);
        EXPECT_EQ(model().statusLine(), row.line);
        EXPECT_FALSE(model().canQuit());
    }
}

TEST_F(ModelTest, AKeepReplyOfAnEndedLaunchIsDropped)
{
    Access::setSettings(model(), settings);
    supervisor->run(4001);
    pinsReply.pins = {PinStatus{.path = QStringLiteral("Photos"), .isDir = true, .state = QStringLiteral("done")}};
    pinsGate = std::make_shared<Gate>();
    QCoro::Task<> late = Access::refreshKept(model(), RCClient(4001, {}, {}));
    ASSERT_TRUE(waitFor([&] { return pinsGate->waiting() == 1; }));
    supervisor->run(4002);
    pinsGate->open();
    finish(std::move(late));
    EXPECT_TRUE(model().keptItems().isEmpty());
    EXPECT_TRUE(badges.empty());
    EXPECT_TRUE(keepStates.empty());

    // The current launch's reply is posted: badges every time, the keep state when it changed.
    finish(Access::refreshKept(model(), RCClient(4002, {}, {})));
    finish(Access::refreshKept(model(), RCClient(4002, {}, {})));
    EXPECT_EQ(model().keptItems().size(), 1);
    ASSERT_EQ(badges.size(), 2u);
    EXPECT_TRUE(badges[0].queueKnown());
    EXPECT_EQ(keepStates.size(), 1u);
    EXPECT_EQ(keepStates[0].pins.at(model().mountPath()->toStdString()), std::vector<std::string>{"Photos"});

    // Without pins the badges go out empty, with the queue unknown.
    pinsFail = true;
    finish(Access::refreshKept(model(), RCClient(4002, {}, {})));
    ASSERT_EQ(badges.size(), 3u);
    EXPECT_FALSE(badges[2].queueKnown());
    EXPECT_TRUE(badges[2].pins().empty());
    EXPECT_EQ(model().keptItems().size(), 1);
}

TEST_F(ModelTest, InterleavedRefreshesEachApplyTheirOwnSnapshot)
{
    Access::setSettings(model(), settings);
    supervisor->run(4001);
    snapshotGate = std::make_shared<Gate>();
    QCoro::Task<> first = model().refresh();
    QCoro::Task<> second = model().refresh();
    ASSERT_TRUE(waitFor([&] { return snapshotGate->waiting() == 2; }));
    nextSnapshot = snapshot(0, 5);
    snapshotGate->open();
    finish(std::move(first));
    finish(std::move(second));
    EXPECT_EQ(model().pendingUploads(), 5);
    EXPECT_EQ(changeSyncs.size(), 1u);
}

// --- Loops ---

TEST_F(ModelTest, TheRefreshLoopPollsFasterWhileAWindowIsOpen)
{
    setUpDrive();
    finish(model().launch());
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(10s) == 1; }));
    EXPECT_EQ(snapshots, 1);

    model().windowOpened();
    ASSERT_TRUE(waitFor([&] { return snapshots == 2; })) << "a window refreshes at once";
    sleeps.releaseOldest(10s);
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(2s) == 1; }));
    EXPECT_EQ(snapshots, 3);
    model().windowClosed();
    sleeps.releaseOldest(2s);
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(10s) == 1; }));
    EXPECT_EQ(snapshots, 4);

    // Shutting down ends both loops: their sleeps are cancelled.
    finish(model().shutdown());
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(10s) == 0 && sleeps.waiting(24h) == 0; }));
    EXPECT_FALSE(Access::loopsRunning(model()));
}

TEST_F(ModelTest, TheDailyJobWaitsFiveMinutesWhileTheDriveIsDownOrTheJobFails)
{
    setUpDrive();
    supervisor->failWith = SupervisorState::failure(QStringLiteral("down"));
    finish(model().launch());
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(5min) == 1; }));
    EXPECT_EQ(purges, 0);

    supervisor->run(4001);
    purgeFails = true;
    sleeps.releaseOldest(5min);
    ASSERT_TRUE(waitFor([&] { return purges == 1 && sleeps.waiting(5min) == 1; }));
    EXPECT_THAT(logs.messages(QStringLiteral("app")),
                ElementsAre(QStringLiteral("Scheduled job failed; retrying in 5 min: <private>")));
    purgeFails = false;
    sleeps.releaseOldest(5min);
    ASSERT_TRUE(waitFor([&] { return purges == 2 && sleeps.waiting(24h) == 1; }));
}

// --- Network ---

TEST_F(ModelTest, ANetworkDropShowsWaitingForInternetAndTheReturnChecksAndRefreshes)
{
    setUpDrive();
    nextSnapshot = snapshot(1, 2);
    finish(model().launch());
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(10s) == 1; }));
    EXPECT_EQ(model().phase(), phase(Phase::running));
    EXPECT_EQ(model().menuIcon(), QStringLiteral("icloud.and.arrow.up"));
    const int before = snapshots;

    const std::shared_ptr<int> onlineChanges = count(&AppModel::onlineChanged);
    network->report(false);
    ASSERT_TRUE(waitFor([&] { return snapshots == before + 1; }));
    EXPECT_FALSE(model().online());
    EXPECT_EQ(model().phase(), phase(Phase::offline));
    EXPECT_EQ(model().statusLine(), QStringLiteral("Waiting for internet"));
    EXPECT_EQ(model().menuIcon(), QStringLiteral("icloud.slash"));
    EXPECT_EQ(model().queuedSummary(), QStringLiteral("2 more files waiting for internet"));

    network->report(false);
    ASSERT_TRUE(waitFor([&] { return snapshots == before + 2; })) << "a repeated report still refreshes";
    EXPECT_EQ(*onlineChanges, 1);

    nextSnapshot = snapshot(0, 0);
    network->report(true);
    ASSERT_TRUE(waitFor([&] { return snapshots == before + 3; }));
    EXPECT_EQ(supervisor->events.count(QStringLiteral("health")), 3);
    EXPECT_EQ(model().phase(), phase(Phase::running));
    EXPECT_EQ(model().statusLine(), AppModel::allSafeText);
    EXPECT_EQ(*onlineChanges, 2);
}

// --- Quit and stop ---

TEST_F(ModelTest, QuitQuestions)
{
    supervisor->run(4001);
    pendingCount = 0;
    int asked = 0;
    const auto confirm = [&] {
        ++asked;
        return false;
    };
    EXPECT_TRUE(finish(model().shouldRelaunchForUpdate(confirm)));
    EXPECT_EQ(asked, 0);
    pendingCount = std::nullopt;
    EXPECT_FALSE(finish(model().shouldRelaunchForUpdate(confirm)));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(model().pendingUploads(), 1) << "an unreadable count is one upload";

    // Stopped, or while a stop runs, the stored count answers.
    pendingCount = 0;
    Access::setStopping(model(), true);
    EXPECT_FALSE(finish(model().freshCanQuit()));
    Access::setStopping(model(), false);
    supervisor->currentState = {};
    EXPECT_FALSE(finish(model().freshCanQuit()));
}

TEST_F(ModelTest, StoppingTheDriveFlushesChangeSyncWithinFiveSecondsAndNotAtAllOffline)
{
    Access::setSettings(model(), settings);
    changeSyncFlushHangs = true;
    supervisor->run(4001);
    Access::reconnectChangeSync(model());
    QCoro::Task<> stop = Access::stopDrive(model(), false);
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(5s) == 1; }));
    EXPECT_TRUE(Access::stopping(model()));
    EXPECT_TRUE(supervisor->events.isEmpty()) << "the engine runs while the note is written";
    sleeps.releaseOldest(5s);
    finish(std::move(stop));
    EXPECT_THAT(supervisor->events, ElementsAre(QStringLiteral("stop")));
    EXPECT_EQ(model().changeSync(), nullptr);
    EXPECT_FALSE(Access::stopping(model()));
    EXPECT_FALSE(Access::drained(model()));

    // Offline there is no flush to wait for.
    supervisor->run(4002);
    Access::reconnectChangeSync(model());
    Access::setOnline(model(), false);
    pendingCount = 0;
    finish(Access::stopDrive(model(), true));
    EXPECT_EQ(changeSyncEvents->filter(QStringLiteral("flushed")).size(), 0);
    EXPECT_EQ(changeSyncEvents->last(), QStringLiteral("stop 4002"));
    EXPECT_TRUE(Access::drained(model())) << "nothing was pending before the stop that waited";
    EXPECT_EQ(sleeps.waiting(5s), 0);

    // A flush that ends in time ends the wait at once.
    changeSyncFlushHangs = false;
    Access::setOnline(model(), true);
    supervisor->run(4003);
    Access::reconnectChangeSync(model());
    finish(Access::stopDrive(model(), false));
    EXPECT_EQ(changeSyncEvents->last(), QStringLiteral("flushed 4003"));
    EXPECT_EQ(sleeps.waiting(5s), 0);
}

TEST_F(ModelTest, ShutdownStopsEverythingAndClearsTheBadges)
{
    setUpDrive();
    finish(model().launch());
    ASSERT_TRUE(waitFor([&] { return sleeps.waiting(10s) == 1; }));
    Access::setOnline(model(), false);
    badges.clear();
    finish(model().shutdown());
    EXPECT_EQ(network->stops, 1);
    EXPECT_THAT(rescues, ElementsAre(QStringLiteral("start 4001"), QStringLiteral("cancelled 4001")));
    EXPECT_EQ(changeSyncEvents->last(), QStringLiteral("stop 4001")) << "offline: no flush";
    EXPECT_EQ(supervisor->events.last(), QStringLiteral("stop"));
    ASSERT_EQ(badges.size(), 1u);
    EXPECT_EQ(badges[0].mount(), model().mountPath()->toStdString());
    EXPECT_TRUE(badges[0].pins().empty());
    EXPECT_FALSE(badges[0].queueKnown());
    EXPECT_FALSE(badges[0].online());
    EXPECT_EQ(model().phase(), phase(Phase::running)) << "the phase stays";

    // Before setup there is no mount to clear.
    AppModel fresh(supervisor, secrets, defaults, network, hooks, true, connection);
    finish(fresh.shutdown());
    EXPECT_EQ(badges.size(), 1u);
}

TEST_F(ModelTest, ARefreshDuringShutdownStartsNoChangeSyncForTheStoppingEngine)
{
    setUpDrive();
    finish(model().launch());
    ASSERT_EQ(changeSyncs.size(), 1u);
    supervisor->stopGate = std::make_shared<Gate>();
    QCoro::Task<> shutdown = model().shutdown();
    ASSERT_TRUE(waitFor([&] { return supervisor->stopGate->waiting() == 1; }));
    // Change sync is gone, the engine still runs: a window opening now refreshes.
    ASSERT_EQ(model().changeSync(), nullptr);
    model().windowOpened();
    finish(model().refresh());
    EXPECT_EQ(changeSyncs.size(), 1u) << changeSyncEvents->join(u',').toStdString();
    EXPECT_EQ(model().changeSync(), nullptr);
    supervisor->stopGate->open();
    finish(std::move(shutdown));
    EXPECT_EQ(changeSyncs.size(), 1u);
    EXPECT_EQ(model().changeSync(), nullptr);
}

TEST_F(ModelTest, TheTimeLimitEndsWithTheOperationWhenItIsQuicker)
{
    bool ran = false;
    finish(Access::withTimeout(model(), 5s, [&](CancelToken) -> QCoro::Task<> {
        ran = true;
        co_return;
    }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(sleeps.waiting(5s), 0);
}

// --- Rescue ---

TEST_F(ModelTest, TwoStartsLeaveOneRescue)
{
    setUpDrive();
    cacheFolderNames = {"drivecrypt{a}"};
    finish(model().launch());
    supervisor->nextPort = 4002;
    finish(Access::restartDrive(model()));
    EXPECT_THAT(
        rescues,
        ElementsAre(QStringLiteral("start 4001"), QStringLiteral("cancelled 4001"), QStringLiteral("start 4002")));
    // restartDrive without settings throws the Keychain text without reading the Keychain.
    AppModel fresh(supervisor, secrets, defaults, network, hooks, true, connection);
    const int loads = secrets->loads;
    try {
        finish(Access::restartDrive(fresh));
        ADD_FAILURE() << "no settings";
    } catch (const AppModelError &error) {
        EXPECT_EQ(error.message, AppModel::keysUnreadableText);
    }
    EXPECT_EQ(secrets->loads, loads);
}

TEST_F(ModelTest, ReconnectOnlyAfterAnEject)
{
    supervisor->run(4001);
    finish(model().reconnect());
    EXPECT_TRUE(supervisor->events.isEmpty());
    EXPECT_EQ(snapshots, 0);
    supervisor->ejected = true;
    Access::followSupervisor(model());
    finish(model().reconnect());
    EXPECT_THAT(supervisor->events, ElementsAre(QStringLiteral("reconnect")));
    EXPECT_EQ(snapshots, 1);
    EXPECT_FALSE(model().isEjected());
}

} // namespace AppModelTest
