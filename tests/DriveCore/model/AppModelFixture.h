#pragma once

#include "DriveCore/model/AppModel.h"
#include "DriveCore/platform/UserDefaults.h"
#include "support/LogCapture.h"
#include "support/ManualSleeps.h"
#include "support/ScopedEnvironment.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <vector>

namespace DriveCore {

// Reaches the model's inner steps for tests.
class AppModelTestAccess {
public:
    template<typename T>
    static void assign(AppModel &model, T &field, T value, void (AppModel::*signal)())
    {
        model.assign(field, std::move(value), signal);
    }
    // The stored fields, for the notification rule.
    static AppModelPhase &phase(AppModel &model) { return model.m_phase; }
    static QString &statusLine(AppModel &model) { return model.m_statusLine; }
    static qint64 &pendingUploads(AppModel &model) { return model.m_pendingUploads; }
    static bool &online(AppModel &model) { return model.m_online; }
    static std::optional<QString> &queuedSummary(AppModel &model) { return model.m_queuedSummary; }
    static std::optional<DriveSettings> &settings(AppModel &model) { return model.m_settings; }
    static QList<DriveConflict> &conflicts(AppModel &model) { return model.m_conflicts; }
    static std::optional<SignOutStep> &signOutStep(AppModel &model) { return model.m_signOutStep; }
    static std::optional<TrashStats> &trashStats(AppModel &model) { return model.m_deletedTrashStats; }
    static std::optional<KeepShared::KeepState> &lastKeepState(AppModel &model) { return model.m_lastKeepState; }
    static QList<UploadRow> &uploads(AppModel &model) { return model.m_uploads; }
    static std::optional<QString> &keepAlert(AppModel &model) { return model.m_keepAlert; }
    static std::optional<QString> &keepProgress(AppModel &model) { return model.m_keepProgress; }
    static bool &isEjected(AppModel &model) { return model.m_isEjected; }
    static std::optional<QDateTime> &searchIndexedAt(AppModel &model) { return model.m_searchIndexedAt; }
    static void setPhase(AppModel &model, AppModelPhase phase) { model.setPhase(std::move(phase)); }
    static AppModelHooks &hooks(AppModel &model) { return model.m_hooks; }
    static void setSettings(AppModel &model, DriveSettings settings) { model.m_settings = std::move(settings); }
    static void setConflicts(AppModel &model, QList<DriveConflict> conflicts)
    {
        model.m_conflicts = std::move(conflicts);
    }
    static void setDeleted(AppModel &model, QList<DeletedItem> deleted) { model.m_deleted = std::move(deleted); }
    static void setTrashStats(AppModel &model, std::optional<TrashStats> stats) { model.m_deletedTrashStats = stats; }
    static void setOnline(AppModel &model, bool online) { model.m_online = online; }
    static void setPending(AppModel &model, qint64 count) { model.m_pendingUploads = count; }
    static void setEngineInUse(AppModel &model, DriveEngine engine) { model.m_engineInUse = engine; }
    static void setSignOutStep(AppModel &model, std::optional<SignOutStep> step) { model.m_signOutStep = step; }
    static void setChangingDrive(AppModel &model, bool changing) { model.m_isChangingDrive = changing; }
    static bool &changingDrive(AppModel &model) { return model.m_isChangingDrive; }
    static void setChangeSync(AppModel &model, std::shared_ptr<ChangeSyncing> changeSync)
    {
        model.m_changeSync = std::move(changeSync);
        emit model.changeSyncChanged();
    }
    static void apply(AppModel &model, const UploadSnapshot &snapshot) { model.apply(snapshot); }
    static void followSupervisor(AppModel &model) { model.followSupervisor(); }
    static void reconnectChangeSync(AppModel &model) { model.reconnectChangeSyncIfNeeded(); }
    static void setStopping(AppModel &model, bool stopping) { model.m_stopping = stopping ? 1 : 0; }
    static bool drained(const AppModel &model) { return model.m_drained; }
    static bool signingOut(const AppModel &model) { return model.m_signingOut; }
    static int deletedRevision(const AppModel &model) { return model.m_deletedRevision; }
    static void setKeptItems(AppModel &model, QList<PinStatus> items) { model.m_keptItems = std::move(items); }
    static void setKeepAlert(AppModel &model, std::optional<QString> alert) { model.m_keepAlert = std::move(alert); }
    static bool stopping(const AppModel &model) { return model.m_stopping > 0; }
    static bool loopsRunning(const AppModel &model)
    {
        return model.m_refreshTask.isStarted() && !model.m_refreshTask.isFinished() && model.m_purgeTask.isStarted();
    }
    static bool rescueHeld(const AppModel &model) { return model.m_recoveryTask.isStarted(); }
    static QCoro::Task<> stopDrive(AppModel &model, bool wait) { return model.stopDrive(wait); }
    static QCoro::Task<> restartDrive(AppModel &model) { return model.restartDrive(); }
    static QCoro::Task<> refreshKept(AppModel &model, RCClient rc) { return model.refreshKept(rc); }
    static QCoro::Task<> recoverOldCache(AppModel &model, DriveSettings settings, std::set<std::string> folders)
    {
        return model.recoverOldCache(std::move(settings), StorageSecrets{}, std::move(folders));
    }
    static QCoro::Task<> withTimeout(AppModel &model, std::chrono::milliseconds limit,
                                     std::function<QCoro::Task<>(CancelToken)> op)
    {
        return model.withTimeout(limit, std::move(op));
    }
    static void networkChanged(AppModel &model, bool online) { model.networkChanged(online); }
    static void save(AppModel &model, const DriveSettings &settings) { model.save(settings); }
    static void takeConflictLines(AppModel &model, const QStringList &lines) { model.takeConflictLines(lines); }
};

} // namespace DriveCore

namespace AppModelTest {

using Milliseconds = std::chrono::milliseconds;

// A door a fake's call waits at until the test opens it.
class Gate {
public:
    QCoro::Task<> wait();
    void open();
    bool isOpen() const { return m_open; }
    int waiting() const { return m_waiting; }

private:
    bool m_open = false;
    int m_waiting = 0;
    DriveCore::detail::Waker m_waker;
};

class FakeSupervisor : public DriveCore::DriveSupervising {
public:
    DriveCore::SupervisorState state() const override { return currentState; }
    std::optional<DriveCore::RCClient> rc() const override { return client; }
    QCoro::Task<> start(DriveCore::DriveSettings settings, DriveCore::StorageSecrets secrets, QString passphrase,
                        bool readOnly, DriveCore::DriveEngine engine) override;
    QCoro::Task<> stop(bool waitForUploads, DriveCore::CancelToken token = {}) override;
    QCoro::Task<> checkHealthNow() override;
    bool fskitEjected() const override { return ejected; }
    bool fskitFailed() const override { return layerFailed; }
    QCoro::Task<> reconnectFSKit() override;

    // Puts the drive into running with a client on `port`.
    void run(int port);

    DriveCore::SupervisorState currentState;
    std::optional<DriveCore::RCClient> client;
    bool ejected = false;
    bool layerFailed = false;
    // What start does: the port it runs on, or a failure (the state it leaves and the error).
    int nextPort = 4001;
    std::optional<DriveCore::SupervisorState> failWith;
    std::shared_ptr<Gate> startGate; // start waits here when set
    std::shared_ptr<Gate> stopGate; // stop waits here when set
    QStringList events; // "start nfs", "stop wait", "stop", "health", "reconnect"
};

class FakeNetwork : public DriveCore::NetworkMonitoring {
public:
    void start(std::function<void(bool)> onChange) override
    {
        ++starts;
        callback = std::move(onChange);
    }
    void stop() override
    {
        ++stops;
        callback = nullptr;
    }
    void report(bool online)
    {
        if (callback)
            callback(online);
    }
    int starts = 0;
    int stops = 0;
    std::function<void(bool)> callback;
};

class FakeSecrets : public DriveCore::SecretStoring {
public:
    QCoro::Task<> save(DriveCore::StorageSecrets secrets, QString passphrase) override;
    QCoro::Task<std::optional<std::pair<DriveCore::StorageSecrets, QString>>> load() override;
    QCoro::Task<> deleteAll() override;
    QCoro::Task<> saveCloudflareKey(std::optional<QString> key) override;
    QCoro::Task<std::optional<QString>> loadCloudflareKey() override;

    std::optional<std::pair<DriveCore::StorageSecrets, QString>> keys;
    bool failLoad = false;
    int loads = 0;
    std::optional<QString> cloudflareKey;
    bool failCloudflareLoad = false;
    bool failDeleteAll = false;
    int saves = 0;
};

class FakeConnection : public DriveCore::SetupConnecting {
public:
    QCoro::Task<std::optional<DriveCore::ConnectionError>> testStorage(DriveCore::StorageSecrets,
                                                                       DriveCore::CancelToken) override;
    QCoro::Task<DriveCore::PassphraseCheck> checkPassphrase(QString, DriveCore::StorageSecrets,
                                                            DriveCore::CancelToken) override;
    QCoro::Task<> prepareNewDrive(QString, DriveCore::StorageSecrets, DriveCore::CancelToken) override;
    QCoro::Task<qint64> migrateRootIntoDrive(QString, DriveCore::StorageSecrets, DriveCore::CancelToken) override;

    DriveCore::PassphraseCheck check = DriveCore::PassphraseCheck::correct;
    bool migrateUnconfirmed = false;
    bool offline = false; // every command fails as without a connection
    QStringList calls;
};

// A change-sync engine that notes what is done to it in a shared list.
class FakeChangeSync : public DriveCore::ChangeSyncing {
public:
    FakeChangeSync(int port, std::shared_ptr<QStringList> events) : port(port), events(std::move(events)) {}
    void start() override { events->append(QStringLiteral("start %1").arg(port)); }
    void stop() override { events->append(QStringLiteral("stop %1").arg(port)); }
    QCoro::Task<> stopAndFlush(DriveCore::CancelToken token) override;
    void noteLocalChange(const QStringList &) override {}
    void onConflictSaved(std::function<void(const QString &)> handler) override { conflict = std::move(handler); }
    void onRefreshed(std::function<void()> handler) override { refreshed = std::move(handler); }

    int port;
    std::shared_ptr<QStringList> events;
    bool flushHangs = false; // the flush waits until cancelled
    std::function<void(const QString &)> conflict;
    std::function<void()> refreshed;
};

// Points HOME and the XDG folders into `home`, for one test.
void useHome(TestSupport::ScopedEnvironment &env, const QTemporaryDir &home);

// An upload snapshot: `inProgress` and `queued` in the disk cache, `errored` files.
DriveCore::UploadSnapshot snapshot(qint64 inProgress, qint64 queued, qint64 errored = 0);

// A model over fakes, in a home folder of its own, built on first use.
class ModelTest : public ::testing::Test {
protected:
    ModelTest();
    void TearDown() override;

    DriveCore::AppModel &model();
    // Stores settings and keys, as setup leaves them.
    void setUpDrive(DriveCore::DriveEngine engine = DriveCore::DriveEngine::nfs);

    // Awaits `task`, failing the test when it has not ended within `limit`.
    template<typename T>
    T finish(QCoro::Task<T> task, Milliseconds limit = std::chrono::seconds(10));
    bool waitFor(const std::function<bool()> &done, Milliseconds limit = std::chrono::seconds(10))
    {
        return TestSupport::spinUntil(done, limit);
    }
    // Lets queued events run.
    void settle() { TestSupport::settle(); }
    // Counts a signal's emissions from now on.
    std::shared_ptr<int> count(void (DriveCore::AppModel::*signal)());

    TestSupport::LogCapture logs;
    QTemporaryDir home;
    TestSupport::ScopedEnvironment env;
    DriveCore::DriveSettings settings;
    DriveCore::StorageSecrets keys;
    QString passphrase = QStringLiteral("correct horse battery staple");

    TestSupport::ManualSleeps sleeps;
    std::shared_ptr<FakeSupervisor> supervisor = std::make_shared<FakeSupervisor>();
    std::shared_ptr<FakeSecrets> secrets = std::make_shared<FakeSecrets>();
    std::shared_ptr<DriveCore::UserDefaults> defaults;
    std::shared_ptr<FakeNetwork> network = std::make_shared<FakeNetwork>();
    std::shared_ptr<FakeConnection> connection = std::make_shared<FakeConnection>();
    DriveCore::AppModelHooks hooks;
    bool rcloneFound = true;

    // What the hooks answer and note.
    std::optional<DriveCore::UploadSnapshot> nextSnapshot = snapshot(0, 0);
    std::shared_ptr<Gate> snapshotGate;
    int snapshots = 0;
    std::optional<qint64> pendingCount = 0; // none: the count fails
    DriveCore::PinsReply pinsReply;
    std::shared_ptr<Gate> pinsGate;
    bool pinsFail = false;
    std::optional<QStringList> queue = QStringList{};
    std::optional<bool> extensionAnswer = true; // none: answers only when the test ends
    std::shared_ptr<Gate> hang = std::make_shared<Gate>();
    int extensionQuestions = 0;
    int purges = 0;
    bool purgeFails = false;
    int pinScans = 0;
    std::set<std::string> cacheFolderNames;
    QStringList rescues; // "start <port>", "end <port>", "cancelled <port>"
    std::vector<KeepShared::FinderBadgeSnapshot> badges;
    std::vector<KeepShared::KeepState> keepStates;
    std::shared_ptr<QStringList> changeSyncEvents = std::make_shared<QStringList>();
    std::vector<std::shared_ptr<FakeChangeSync>> changeSyncs;
    bool changeSyncFlushHangs = false;

private:
    std::unique_ptr<DriveCore::AppModel> m_model;
};

// Awaits `task` on the event loop, throwing (with the test's name) when it has not ended
// within `limit`.
template<typename T>
T finishWithin(QCoro::Task<T> task, Milliseconds limit)
{
    struct State {
        bool done = false;
        std::exception_ptr error;
        std::conditional_t<std::is_void_v<T>, int, std::optional<T>> value;
    };
    const auto state = std::make_shared<State>();
    [](QCoro::Task<T> task, std::shared_ptr<State> state) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>)
                co_await task;
            else
                state->value.emplace(co_await task);
        } catch (...) {
            state->error = std::current_exception();
        }
        state->done = true;
    }(std::move(task), state);
    if (!TestSupport::spinUntil([&] { return state->done; }, limit)) {
        const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
        throw std::runtime_error(std::string("an await of ") + test->name() + " ran out of time");
    }
    if (state->error)
        std::rethrow_exception(state->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*state->value);
}

template<typename T>
T ModelTest::finish(QCoro::Task<T> task, Milliseconds limit)
{
    return finishWithin(std::move(task), limit);
}

} // namespace AppModelTest
