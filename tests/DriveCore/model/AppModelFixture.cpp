#include "AppModelFixture.h"

#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/support/Tasks.h"

#include <QCoroSignal>

using namespace DriveCore;
using namespace std::chrono_literals;

namespace AppModelTest {

QCoro::Task<> Gate::wait()
{
    ++m_waiting;
    while (!m_open)
        co_await qCoro(&m_waker, &detail::Waker::fired);
    --m_waiting;
}

void Gate::open()
{
    m_open = true;
    m_waker.fire();
}

QCoro::Task<> FakeSupervisor::start(DriveSettings, StorageSecrets, QString, bool readOnly, DriveEngine engine)
{
    events.append(QStringLiteral("start ") + engine.rawValue() + (readOnly ? QStringLiteral(" read-only") : QString()));
    currentState = SupervisorState{SupervisorState::starting, {}};
    if (const std::shared_ptr<Gate> gate = startGate)
        co_await gate->wait();
    if (failWith) {
        currentState = *failWith;
        throw std::runtime_error("the engine exited at once");
    }
    run(nextPort);
}

void FakeSupervisor::run(int port)
{
    currentState = SupervisorState{SupervisorState::running, {}};
    client = RCClient(port, QStringLiteral("corvane"), QStringLiteral("secret"));
}

QCoro::Task<> FakeSupervisor::stop(bool waitForUploads, CancelToken)
{
    events.append(waitForUploads ? QStringLiteral("stop wait") : QStringLiteral("stop"));
    if (const std::shared_ptr<Gate> gate = stopGate)
        co_await gate->wait();
    currentState = SupervisorState{};
    client.reset();
}

QCoro::Task<> FakeSupervisor::checkHealthNow()
{
    events.append(QStringLiteral("health"));
    co_return;
}

QCoro::Task<> FakeSupervisor::reconnectFSKit()
{
    events.append(QStringLiteral("reconnect"));
    ejected = false;
    co_return;
}

QCoro::Task<> FakeSecrets::save(StorageSecrets secrets, QString passphrase)
{
    ++saves;
    keys = std::pair(secrets, passphrase);
    co_return;
}

QCoro::Task<std::optional<std::pair<StorageSecrets, QString>>> FakeSecrets::load()
{
    ++loads;
    if (failLoad)
        throw KeychainError(Keychain::notAvailable);
    co_return std::optional(keys); // a copy: QCoro moves from what co_return names
}

QCoro::Task<> FakeSecrets::deleteAll()
{
    if (failDeleteAll)
        throw KeychainError(Keychain::notAvailable);
    keys.reset();
    cloudflareKey.reset();
    co_return;
}

QCoro::Task<> FakeSecrets::saveCloudflareKey(std::optional<QString> key)
{
    cloudflareKey = key;
    co_return;
}

QCoro::Task<std::optional<QString>> FakeSecrets::loadCloudflareKey()
{
    if (failCloudflareLoad)
        throw KeychainError(Keychain::notAvailable);
    co_return std::optional(cloudflareKey);
}

QCoro::Task<std::optional<ConnectionError>> FakeConnection::testStorage(StorageSecrets, CancelToken)
{
    co_return std::nullopt;
}

QCoro::Task<PassphraseCheck> FakeConnection::checkPassphrase(QString, StorageSecrets, CancelToken)
{
    calls.append(QStringLiteral("check"));
    if (offline)
        throw ConnectionError(ConnectionError::offline);
    co_return check;
}

QCoro::Task<> FakeConnection::prepareNewDrive(QString, StorageSecrets, CancelToken)
{
    calls.append(QStringLiteral("prepare"));
    co_return;
}

QCoro::Task<qint64> FakeConnection::migrateRootIntoDrive(QString, StorageSecrets, CancelToken)
{
    calls.append(QStringLiteral("migrate"));
    if (offline)
        throw ConnectionError(ConnectionError::offline);
    if (migrateUnconfirmed)
        throw PassphraseNotConfirmed();
    co_return 3;
}

QCoro::Task<> FakeChangeSync::stopAndFlush(CancelToken token)
{
    stop();
    if (flushHangs) {
        // Publishing the note waits on a storage that does not answer.
        co_await DriveCore::sleep(std::chrono::hours(1), token);
    }
    events->append(QStringLiteral("flushed %1").arg(port));
}

void useHome(TestSupport::ScopedEnvironment &env, const QTemporaryDir &home)
{
    env.set("HOME", home.path().toUtf8());
    env.set("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    env.set("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    env.set("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toUtf8());
}

UploadSnapshot snapshot(qint64 inProgress, qint64 queued, qint64 errored)
{
    UploadSnapshot taken;
    taken.vfs.diskCache = DiskCache{.uploadsInProgress = inProgress, .uploadsQueued = queued, .erroredFiles = errored};
    return taken;
}

ModelTest::ModelTest()
{
    useHome(env, home);
    defaults = std::make_shared<UserDefaults>(home.filePath(QStringLiteral("config/com.corvane.drive.json")));
    settings = DriveSettings{.driveName = QStringLiteral("My Drive"),
                             .cacheGB = 30,
                             .deviceID = QUuid::createUuid(),
                             .deviceName = QStringLiteral("Laptop")};
    keys = StorageSecrets{.endpoint = QStringLiteral("http://127.0.0.1:9"),
                          .bucket = QStringLiteral("bucket"),
                          .accessKeyID = QStringLiteral("AKIAFAKEKEYID"),
                          .secretAccessKey = QStringLiteral("fakeSecret/123")};

    hooks = AppModelHooks{
        .snapshot = [this](RCClient, CancelToken) -> QCoro::Task<UploadSnapshot> {
            ++snapshots;
            if (const std::shared_ptr<Gate> gate = snapshotGate)
                co_await gate->wait();
            if (!nextSnapshot)
                throw RCError(QStringLiteral("core/stats"), 500, QStringLiteral("failed"));
            co_return UploadSnapshot(*nextSnapshot); // QCoro moves from what co_return names
        },
        .pendingUploads = [this](RCClient, CancelToken) -> QCoro::Task<qint64> {
            if (!pendingCount)
                throw RCError(QStringLiteral("vfs/stats"), 500, QStringLiteral("failed"));
            co_return *pendingCount;
        },
        .trashStats = [](RCClient, CancelToken) -> QCoro::Task<TrashStats> { co_return TrashStats{}; },
        .listDeleted = [](RCClient, QString, CancelToken) -> QCoro::Task<QList<DeletedItem>> { co_return {}; },
        .restore = [](RCClient, QString, DeletedItem, CancelToken) -> QCoro::Task<QString> { co_return {}; },
        .deleteNow = [](RCClient, DeletedItem, CancelToken) -> QCoro::Task<> { co_return; },
        .emptyTrash = [](RCClient, CancelToken) -> QCoro::Task<> { co_return; },
        .purgeExpired = [this](RCClient, CancelToken) -> QCoro::Task<int> {
            ++purges;
            if (purgeFails)
                throw RCError(QStringLiteral("operations/purge"), 500, QStringLiteral("failed"));
            co_return 0;
        },
        .resolveConflict = [](RCClient, std::optional<QString>, DriveConflict, ConflictChoice,
                              CancelToken) -> QCoro::Task<ConflictOutcome> { co_return ConflictOutcome::keptBoth(); },
        .makeChangeSync = [this](RCClient rc, DriveSettings) -> std::shared_ptr<ChangeSyncing> {
            auto changeSync = std::make_shared<FakeChangeSync>(rc.port(), changeSyncEvents);
            changeSync->flushHangs = changeSyncFlushHangs;
            changeSyncEvents->append(QStringLiteral("make %1").arg(rc.port()));
            changeSyncs.push_back(changeSync);
            return changeSync;
        },
        .verifyStorage = [](StorageSecrets, QString, CancelToken) -> QCoro::Task<> { co_return; },
        .setLoginItem = [](bool) {},
        .freeDiskBytes = [] { return qint64(100'000'000'000); },
        .localData = [](const DriveSettings &) { return DriveLocalData{}; },
        .cacheFolders = [this](const DriveSettings &) { return cacheFolderNames; },
        .recoverCache = [this](RCClient rc, DriveSettings, StorageSecrets, std::set<std::string>,
                               CancelToken token) -> QCoro::Task<> {
            rescues.append(QStringLiteral("start %1").arg(rc.port()));
            try {
                co_await DriveCore::sleep(std::chrono::hours(1), token);
            } catch (const CancelledError &) {
                rescues.append(QStringLiteral("cancelled %1").arg(rc.port()));
                co_return;
            }
            rescues.append(QStringLiteral("end %1").arg(rc.port()));
        },
        .sleep = sleeps.sleep(),
        .now = [] { return QDateTime(QDate(2026, 3, 4), QTime(12, 0)); },
        .fskitAvailable = [this]() -> QCoro::Task<bool> {
            ++extensionQuestions;
            if (!extensionAnswer) {
                const std::shared_ptr<Gate> gate = hang;
                co_await gate->wait();
            }
            co_return extensionAnswer.value_or(false);
        },
        .pins = [this](RCClient, CancelToken) -> QCoro::Task<PinsReply> {
            if (const std::shared_ptr<Gate> gate = pinsGate)
                co_await gate->wait();
            if (pinsFail)
                throw RCError(QStringLiteral("vfs/pins"), 500, QStringLiteral("failed"));
            co_return PinsReply(pinsReply);
        },
        .pinScan = [this](RCClient, CancelToken) -> QCoro::Task<> {
            ++pinScans;
            co_return;
        },
        .badgeQueue = [this](RCClient, CancelToken) -> QCoro::Task<QStringList> {
            if (!queue)
                throw RCError(QStringLiteral("vfs/queue"), 500, QStringLiteral("failed"));
            co_return QStringList(*queue);
        },
        .postFinderBadges = [this](const KeepShared::FinderBadgeSnapshot &snapshot) { badges.push_back(snapshot); },
        .postKeepState = [this](const KeepShared::KeepState &state) { keepStates.push_back(state); },
        .shareStorage = [](const StorageSecrets &) -> std::shared_ptr<ShareStorage> {
            return std::make_shared<UnavailableShareStorage>();
        },
    };
}

void ModelTest::TearDown()
{
    m_model.reset();
    hang->open();
    // Lets the cancelled tasks of the model end.
    settle();
}

AppModel &ModelTest::model()
{
    if (!m_model)
        m_model = std::make_unique<AppModel>(supervisor, secrets, defaults, network, hooks, rcloneFound, connection);
    return *m_model;
}

void ModelTest::setUpDrive(DriveEngine engine)
{
    settings.save(*defaults);
    engine.save(*defaults);
    secrets->keys = std::pair(keys, passphrase);
}

std::shared_ptr<int> ModelTest::count(void (AppModel::*signal)())
{
    auto counter = std::make_shared<int>(0);
    QObject::connect(&model(), signal, &model(), [counter] { ++*counter; });
    return counter;
}

} // namespace AppModelTest
