#include "DriveCore/model/AppModel.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/model/AppModelIPhone.h"
#include "DriveCore/platform/RealLauncher.h"
#include "DriveCore/platform/StandardFolders.h"
#include "DriveCore/platform/SystemNames.h"
#include "DriveCore/platform/UserDefaults.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Saturating.h"

#include <QCoreApplication>
#include <QDir>

#include <cmath>

namespace DriveCore {

namespace {

// Two tasks side by side on the main thread: the first to end decides.
struct Race {
    bool decided = false;
    bool firstEnded = false;
    bool secondEnded = false;
    bool answer = false;
    detail::Waker waker;

    void decide(bool value)
    {
        if (!decided) {
            decided = true;
            answer = value;
        }
        waker.fire();
    }
};

QCoro::Task<> waitUntil(std::shared_ptr<Race> race, std::function<bool(const Race &)> done)
{
    while (!done(*race))
        co_await qCoro(&race->waker, &detail::Waker::fired);
}

// Sleeps for `limit` and then decides false; a cancelled sleep decides nothing.
QCoro::Task<> timeLimit(std::shared_ptr<Race> race, AppModelHooks::Milliseconds limit,
                        std::function<QCoro::Task<>(AppModelHooks::Milliseconds, CancelToken)> sleep, CancelToken token)
{
    bool slept = false;
    try {
        co_await sleep(limit, token);
        slept = true;
    } catch (const std::exception &) {
        // Cancelled: the other side ended first.
    }
    race->secondEnded = true;
    if (slept)
        race->decide(false);
    else
        race->waker.fire();
}

// Kept folders pick up files another machine added; a failed scan waits for the next change.
QCoro::Task<> scanPins(std::function<QCoro::Task<>(RCClient, CancelToken)> pinScan, RCClient rc, CancelToken token)
{
    try {
        co_await pinScan(rc, token);
    } catch (const std::exception &) {
        // Nothing to show for it: the kept folders stay as they were until the next scan.
    }
}

} // namespace

struct AppModel::LaunchRun {
    bool ended = false;
    detail::Waker waker;
};

AppModel::AppModel(std::shared_ptr<DriveSupervising> supervisor, std::shared_ptr<SecretStoring> secrets,
                   std::shared_ptr<UserDefaults> defaults, std::shared_ptr<NetworkMonitoring> network,
                   AppModelHooks hooks, bool rcloneFound, std::shared_ptr<SetupConnecting> setupConnection,
                   QObject *parent)
    : QObject(parent), m_supervisor(std::move(supervisor)), m_secrets(std::move(secrets)),
      m_defaults(std::move(defaults)), m_network(std::move(network)), m_hooks(std::move(hooks)),
      m_rcloneFound(rcloneFound), m_setupConnection(std::move(setupConnection))
{
    if (!m_hooks.phoneSync)
        m_hooks.phoneSync = std::make_shared<NoPhoneSync>();
    m_iPhone = new AppModelIPhone(
        AppModelIPhone::Deps{
            .settings = [this] { return m_settings; },
            .secrets = m_secrets,
            .defaults = m_defaults,
            .now = m_hooks.now,
            .phoneSync = m_hooks.phoneSync,
        },
        this);
    connect(m_iPhone, &AppModelIPhone::iPhoneSyncOnChanged, this, &AppModel::iPhoneSyncOnChanged);
    m_conflictLines = ConflictLines::make(this, [this](const QStringList &lines) { takeConflictLines(lines); });
    m_copyAllRun = new CopyAllRun(
        [this](QString folder, std::function<void(const CopyProgress &)> progress, CancelToken token) {
            return copyAllFiles(std::move(folder), std::move(progress), std::move(token));
        },
        this);
}

AppModel::~AppModel()
{
    m_lifetime.request_stop();
    m_conflictLines->close();
    // The loops and the rescue end at their next wait; the engine is left as it is.
    m_refreshTask.cancel();
    m_purgeTask.cancel();
    m_recoveryTask.cancel();
    if (m_changeSync)
        m_changeSync->stop();
}

std::unique_ptr<AppModel> AppModel::live(const std::optional<QString> &rcloneURL)
{
    const QString rclone = rcloneURL.value_or(QStringLiteral("/nonexistent/rclone"));
    const std::optional<QString> &profile = DriveProfile::current();
    auto supervisor = std::make_shared<RcloneSupervisor>(RcloneCommand(rclone), std::make_shared<RealLauncher>(),
                                                         SupervisorHooks::live());
    auto secrets = std::make_shared<KeychainSecretStore>(DriveProfile::keychainService(profile));
    std::shared_ptr<UserDefaults> defaults;
    if (const std::optional<QString> suite = DriveProfile::defaultsSuite(profile))
        defaults = UserDefaults::suite(*suite);
    if (!defaults)
        defaults = UserDefaults::standard();
    return std::make_unique<AppModel>(std::move(supervisor), std::move(secrets), std::move(defaults),
                                      std::make_shared<PathMonitor>(), AppModelHooks::live(rclone),
                                      rcloneURL.has_value(), std::make_shared<DriveConnection>(rclone));
}

bool AppModel::iPhoneSyncOn() const
{
    return m_iPhone->iPhoneSyncOn();
}

QUrl AppModel::extensionSettingsURL()
{
    // <prefix>/bin/<program> beside <prefix>/share/corvane-drive/help.
    const QString prefix = QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/..")).absolutePath();
    return QUrl::fromLocalFile(prefix + QStringLiteral("/share/corvane-drive/help/") + extensionHelpPageName);
}

// --- Phase and derived values ---

void AppModel::setPhase(Phase phase)
{
    const Phase::Kind kind = phase.kind;
    const QString text = phase.text;
    assign(m_phase, std::move(phase), &AppModel::phaseChanged);
    switch (kind) {
    case Phase::needsSetup:
        assign(m_statusLine, notSetUpText, &AppModel::statusLineChanged);
        break;
    case Phase::starting:
        assign(m_statusLine, connectingText, &AppModel::statusLineChanged);
        break;
    case Phase::running:
        // The next uploads snapshot sets the line.
        break;
    case Phase::offline:
        if (m_pendingUploads >= 1)
            assign(m_statusLine, waitingText, &AppModel::statusLineChanged);
        break;
    case Phase::problem:
        assign(m_statusLine, text, &AppModel::statusLineChanged);
        break;
    }
}

void AppModel::setProblem(const QString &text)
{
    setPhase(Phase::makeProblem(text));
}

std::optional<QString> AppModel::mountPath() const
{
    if (!m_settings)
        return std::nullopt;
    return DriveLayout::mountPath(m_settings->driveName);
}

QString AppModel::menuIcon() const
{
    switch (m_phase.kind) {
    case Phase::needsSetup:
    case Phase::starting:
        return QStringLiteral("cloud");
    case Phase::running:
        if (m_hasUploadProblem)
            return QStringLiteral("exclamationmark.icloud");
        if (m_pendingUploads >= 1)
            return QStringLiteral("icloud.and.arrow.up");
        return QStringLiteral("cloud");
    case Phase::offline:
        return QStringLiteral("icloud.slash");
    case Phase::problem:
        break;
    }
    return QStringLiteral("exclamationmark.icloud");
}

bool AppModel::needsExtensionSwitch() const
{
    if (!m_phase.isProblem())
        return false;
    if (m_phase.text == extensionOffText)
        return true;
    return m_engineInUse == DriveEngine::fskit && m_supervisor->fskitFailed();
}

DriveEngine AppModel::driveEngineSetting() const
{
    return DriveEngine::load(*m_defaults);
}

bool AppModel::showsEngineChoice() const
{
    return m_defaults->boolean(QString::fromLatin1(engineChoiceKey)).value_or(false);
}

namespace {

// Whole gigabytes that leave 20 GB free, or the current cache when that is more.
qint64 cacheRoom(qint64 freeBytes, const std::optional<DriveSettings> &settings)
{
    const qint64 room = (freeBytes - 20'000'000'000) / 1'000'000'000;
    return std::max(room, settings ? settings->cacheGB : 0);
}

} // namespace

qint64 AppModel::maxCacheGB() const
{
    return std::max<qint64>(cacheRoom(m_hooks.freeDiskBytes(), m_settings), 1);
}

bool AppModel::canChangeCache() const
{
    return cacheRoom(m_hooks.freeDiskBytes(), m_settings) > 4;
}

bool AppModel::canRetryLaunch() const
{
    if (!m_phase.isProblem())
        return false;
    return m_phase.text == organiseProblemText || m_phase.text == extensionOffText
        || m_supervisor->state().kind == SupervisorState::failed;
}

QString AppModel::trashFooter() const
{
    qint64 bytes = 0;
    for (const DeletedItem &item : m_deleted)
        bytes = saturatingSum(bytes, item.size);
    return trashFooter(bytes);
}

QString AppModel::trashFooter(qint64 bytes)
{
    QString amount;
    if (bytes == 0) {
        amount = QStringLiteral("0");
    } else {
        const double gigabytes = double(bytes) / 1e9;
        amount = QString::asprintf(gigabytes < 10 ? "%.1f" : "%.0f", gigabytes);
    }
    return QStringLiteral("Recently Deleted is using ") + amount + QStringLiteral(" GB");
}

std::optional<QString> AppModel::trashMoveMessage() const
{
    if (!m_deletedTrashStats)
        return QStringLiteral("Checking deleted files\u2026");
    const TrashStats &stats = *m_deletedTrashStats;
    if (stats.failing && *stats.failing > 0)
        return QStringLiteral("Some deleted files are still moving. Ovra will keep trying.");
    if (stats.pending < 1)
        return std::nullopt;
    if (!m_online)
        return QStringLiteral("Waiting for internet to move deleted files to Recently Deleted\u2026");
    return QStringLiteral("Moving %1 %2 to Recently Deleted\u2026")
        .arg(stats.pending)
        .arg(stats.pending == 1 ? QStringLiteral("file") : QStringLiteral("files"));
}

std::optional<qint64> AppModel::signOutWaitingCount() const
{
    if (m_signOutStep && m_signOutStep->kind == SignOutStep::waitingForUploads && m_signOutPendingKnown)
        return m_signOutStep->count;
    return std::nullopt;
}

std::optional<DriveConflict> AppModel::currentConflict() const
{
    if (m_conflicts.isEmpty())
        return std::nullopt;
    return m_conflicts.first();
}

std::optional<QString> AppModel::conflictCounter() const
{
    if (m_conflicts.size() < 2)
        return std::nullopt;
    return QStringLiteral("1 of ") + QString::number(m_conflicts.size());
}

std::optional<RCClient> AppModel::runningClient() const
{
    if (m_supervisor->state().kind != SupervisorState::running)
        return std::nullopt;
    return m_supervisor->rc();
}

RCClient AppModel::requireRC() const
{
    if (const std::optional<RCClient> rc = runningClient())
        return *rc;
    throw AppModelError(notConnectedText);
}

QCoro::Task<std::pair<StorageSecrets, QString>> AppModel::storedKeys()
{
    const std::shared_ptr<SecretStoring> secrets = m_secrets;
    std::optional<std::pair<StorageSecrets, QString>> keys = co_await guarded(secrets->load());
    if (!keys)
        throw AppModelError(keysUnreadableText);
    co_return std::pair(std::move(*keys));
}

std::optional<QUuid> AppModel::currentDeviceID() const
{
    if (!m_settings)
        return std::nullopt;
    return m_settings->deviceID;
}

bool AppModel::stillCurrent(int port, const std::optional<QUuid> &deviceID) const
{
    const std::optional<RCClient> rc = m_supervisor->rc();
    return rc && rc->port() == port && currentDeviceID() == deviceID && !signOutRunning();
}

AppModel::ActionToken::ActionToken(const CancelToken &caller, const CancelToken &lifetime)
    : m_source(caller), m_lifetime(lifetime, std::function<void()>([this] { m_source.cancel(); }))
{
}

void AppModel::takeConflictLines(const QStringList &lines)
{
    QList<DriveConflict> conflicts = m_conflicts;
    for (const QString &line : lines) {
        const std::optional<DriveConflict> conflict = DriveConflict::fromCopyPath(line);
        if (conflict && !conflicts.contains(*conflict))
            conflicts.append(*conflict);
    }
    assign(m_conflicts, std::move(conflicts), &AppModel::conflictsChanged);
}

// --- Launch and start ---

QCoro::Task<> AppModel::launch()
{
    // Try Again and a refresh may ask at the same moment: the second waits for the first.
    if (const std::shared_ptr<LaunchRun> running = m_launchRun) {
        while (!running->ended)
            co_await qCoro(&running->waker, &detail::Waker::fired);
        co_return;
    }
    const auto run = std::make_shared<LaunchRun>();
    m_launchRun = run;
    QPointer<AppModel> self(this);
    std::exception_ptr gone;
    try {
        co_await launching();
    } catch (...) {
        gone = std::current_exception();
    }
    if (self && m_launchRun == run)
        m_launchRun.reset();
    run->ended = true;
    run->waker.fire();
    if (gone)
        std::rethrow_exception(gone);
}

QCoro::Task<> AppModel::launching()
{
    // First-run setup proposes this computer's name; hostnamed may take a moment to answer.
    SystemNames::prefetch();
    const QString settingsKey = QString::fromLatin1(DriveSettings::defaultsKey);
    if (m_defaults->data(settingsKey) && !DriveSettings::load(*m_defaults)) {
        setProblem(settingsUnreadableText);
        co_return;
    }

    std::optional<std::pair<StorageSecrets, QString>> keys;
    try {
        const std::shared_ptr<SecretStoring> secrets = m_secrets;
        keys = co_await guarded(secrets->load());
    } catch (const std::exception &) {
        m_log.error("Keychain read failed: %{public}s",
                    errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
        setProblem(keysUnreadableText);
        co_return;
    }

    const std::optional<DriveSettings> settings = DriveSettings::load(*m_defaults);
    if (!settings || !keys) {
        // The setup window takes over and launches again when it is done.
        setPhase(Phase{Phase::needsSetup, {}});
        co_return;
    }
    assign(m_settings, settings, &AppModel::settingsChanged);

    if (!m_rcloneFound) {
        setProblem(missingPartText);
        co_return;
    }

    if (!co_await organise(keys->first, keys->second))
        co_return;

    QPointer<AppModel> self(this);
    m_network->start([self](bool online) {
        if (self)
            self->networkChanged(online);
    });

    co_await startDrive(*settings, keys->first, keys->second);
    startLoops(*settings);
}

QCoro::Task<bool> AppModel::organise(StorageSecrets secrets, QString passphrase)
{
    const std::optional<OrganiseKind> kind = OrganisePending::load(*m_defaults);
    if (!kind)
        co_return true;
    setPhase(Phase{Phase::starting, {}});
    assign(m_statusLine, organisingText, &AppModel::statusLineChanged);

    std::shared_ptr<SetupConnecting> connection = m_setupConnection;
    if (!connection)
        connection = std::make_shared<DriveConnection>(QStringLiteral("/nonexistent/rclone"));
    const CancelToken token = lifetime();
    bool wrongPassphrase = false;
    try {
        if (*kind == OrganiseKind::newDrive) {
            const PassphraseCheck check = co_await guarded(connection->checkPassphrase(passphrase, secrets, token));
            if (check == PassphraseCheck::newDrive)
                co_await guarded(connection->prepareNewDrive(passphrase, secrets, token));
            else if (check == PassphraseCheck::wrong) {
                wrongPassphrase = true;
                throw ConnectionError(ConnectionError::other,
                                      QStringLiteral("storage holds files this passphrase doesn't open"));
            }
        } else {
            co_await guarded(connection->migrateRootIntoDrive(passphrase, secrets, token));
        }
    } catch (const PassphraseNotConfirmed &error) {
        m_log.error("Organising failed: %{private}s", error.message);
        // Trying again cannot help: the passphrase is what is wrong, not the connection.
        setProblem(passphraseMismatchText);
        co_return false;
    } catch (const std::exception &) {
        m_log.error("Organising failed: %{private}s",
                    errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
        setProblem(wrongPassphrase ? passphraseMismatchText : organiseProblemText);
        co_return false;
    }
    OrganisePending::save(std::nullopt, *m_defaults);
    co_return true;
}

QCoro::Task<> AppModel::startDrive(DriveSettings settings, StorageSecrets secrets, QString passphrase)
{
    m_drained = false;
    setPhase(Phase{Phase::starting, {}});
    assign(m_statusLine, connectingText, &AppModel::statusLineChanged);
    std::set<std::string> folders = m_hooks.cacheFolders(settings);
    const DriveEngine engine = DriveEngine::load(*m_defaults);
    assign(m_engineInUse, engine, &AppModel::engineInUseChanged);

    if (engine == DriveEngine::fskit && !co_await extensionEnabled()) {
        setProblem(extensionOffText);
        co_return;
    }

    const std::shared_ptr<DriveSupervising> supervisor = m_supervisor;
    try {
        co_await guarded(supervisor->start(settings, secrets, passphrase, false, engine));
    } catch (const std::exception &) {
        followSupervisor();
        if (!m_phase.isProblem())
            setProblem(startFailedPrefix + errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
        co_return;
    }
    reconnectChangeSyncIfNeeded();
    followSupervisor();
    co_await recoverOldCache(std::move(settings), std::move(secrets), std::move(folders));
}

QCoro::Task<bool> AppModel::extensionEnabled()
{
    co_return co_await guarded(extensionAnswer(m_hooks, extensionLimit));
}

QCoro::Task<bool> AppModel::extensionAnswer(AppModelHooks hooks, Milliseconds limit)
{
    const auto race = std::make_shared<Race>();
    CancelSource stopSleep;
    // The question is not cancelled; an answer after the limit is dropped.
    [](std::shared_ptr<Race> race, std::function<QCoro::Task<bool>()> question) -> QCoro::Task<> {
        bool enabled = false;
        try {
            enabled = co_await question();
        } catch (const std::exception &) {
            // A question that fails counts as not enabled.
        }
        race->firstEnded = true;
        race->decide(enabled);
    }(race, hooks.fskitAvailable);
    if (!race->decided)
        timeLimit(race, limit, hooks.sleep, stopSleep.get_token());
    co_await waitUntil(race, [](const Race &race) { return race.decided; });
    stopSleep.request_stop();
    co_return race->answer;
}

void AppModel::startLoops(const DriveSettings &)
{
    stopLoops();
    QPointer<AppModel> self(this);
    m_refreshTask = TaskHandle<>::start([self](CancelToken token) -> QCoro::Task<> {
        while (self && !token.stop_requested()) {
            try {
                co_await self->refresh();
            } catch (const OwnerGone &) {
                co_return;
            }
            if (!self)
                co_return;
            const Milliseconds interval = self->m_openWindows < 1 ? idleInterval : busyInterval;
            const auto sleep = self->m_hooks.sleep;
            try {
                co_await sleep(interval, token);
            } catch (const std::exception &) {
                co_return;
            }
        }
    });
    m_purgeTask = daily([](AppModelHooks hooks, RCClient rc, CancelToken token) -> QCoro::Task<> {
        co_await hooks.purgeExpired(rc, token);
    });
}

void AppModel::stopLoops()
{
    if (m_refreshTask.isStarted())
        m_refreshTask = TaskHandle<>();
    if (m_purgeTask.isStarted())
        m_purgeTask = TaskHandle<>();
}

TaskHandle<> AppModel::daily(std::function<QCoro::Task<>(AppModelHooks, RCClient, CancelToken)> job)
{
    QPointer<AppModel> self(this);
    return TaskHandle<>::start([self, job](CancelToken token) -> QCoro::Task<> {
        while (self && !token.stop_requested()) {
            Milliseconds wait = retryWait;
            if (const std::optional<RCClient> rc = self->runningClient()) {
                const Log log = self->m_log;
                try {
                    co_await job(self->m_hooks, *rc, token);
                    wait = dailyWait;
                } catch (const CancelledError &) {
                    co_return;
                } catch (const std::exception &) {
                    log.info("Scheduled job failed; retrying in 5 min: %{private}s",
                             errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
                }
            }
            if (!self)
                co_return;
            const auto sleep = self->m_hooks.sleep;
            try {
                co_await sleep(wait, token);
            } catch (const std::exception &) {
                co_return;
            }
        }
    });
}

// --- Refresh ---

QCoro::Task<> AppModel::refresh()
{
    if (m_phase.kind == Phase::needsSetup || signOutRunning() || m_isChangingDrive)
        co_return;

    if (m_phase.isProblem() && m_phase.text == extensionOffText) {
        assign(m_isChangingDrive, true, &AppModel::isChangingDriveChanged);
        const bool enabled = co_await extensionEnabled();
        if (enabled) {
            try {
                co_await guarded(restartDrive());
            } catch (const std::exception &) {
                // Whatever the restart left in the phase stands.
            }
        }
        assign(m_isChangingDrive, false, &AppModel::isChangingDriveChanged);
        if (!enabled)
            co_return;
    }

    followSupervisor();
    reconnectChangeSyncIfNeeded();

    const std::optional<RCClient> rc = runningClient();
    if (!rc)
        co_return;
    co_await refreshKept(*rc);
    const auto snapshot = m_hooks.snapshot;
    std::optional<UploadSnapshot> taken;
    try {
        taken = co_await guarded(snapshot(*rc, lifetime()));
    } catch (const std::exception &) {
        // The next refresh tries again; meanwhile quitting asks first.
    }
    if (taken) {
        apply(*taken);
        co_return;
    }
    assign(m_pendingUploads, qint64(1), &AppModel::pendingUploadsChanged);
    if (m_phase.kind == Phase::running)
        assign(m_statusLine, checkingText, &AppModel::statusLineChanged);
    else if (m_phase.kind == Phase::offline)
        assign(m_statusLine, waitingText, &AppModel::statusLineChanged);
}

void AppModel::windowOpened()
{
    ++m_openWindows;
    emit openWindowsChanged();
    [](QPointer<AppModel> self) -> QCoro::Task<> {
        if (!self)
            co_return;
        try {
            co_await self->refresh();
        } catch (const OwnerGone &) {
        }
    }(QPointer<AppModel>(this));
}

void AppModel::windowClosed()
{
    assign(m_openWindows, std::max(0, m_openWindows - 1), &AppModel::openWindowsChanged);
}

// --- Following the supervisor ---

void AppModel::followSupervisor()
{
    const SupervisorState state = m_supervisor->state();
    assign(m_isEjected, state.kind == SupervisorState::running && m_supervisor->fskitEjected(),
           &AppModel::isEjectedChanged);
    switch (m_supervisor->state().kind) {
    case SupervisorState::stopped:
        break;
    case SupervisorState::starting:
    case SupervisorState::restarting:
        setPhase(Phase{m_online ? Phase::starting : Phase::offline, {}});
        break;
    case SupervisorState::running:
        setPhase(Phase{m_online ? Phase::running : Phase::offline, {}});
        break;
    case SupervisorState::failed:
        setProblem(m_supervisor->state().text);
        break;
    }
}

void AppModel::reconnectChangeSyncIfNeeded()
{
    if (stopping())
        return;
    const std::optional<RCClient> rc = runningClient();
    if (!rc || !m_settings)
        return;
    if (m_changeSyncPort == rc->port())
        return;
    if (m_changeSync)
        m_changeSync->stop();
    std::shared_ptr<ChangeSyncing> changeSync = m_hooks.makeChangeSync(*rc, *m_settings);
    // The callbacks may come from any thread: one only queues, the other only hops.
    changeSync->onConflictSaved([lines = m_conflictLines](const QString &path) { lines->send(path); });
    QPointer<AppModel> self(this);
    changeSync->onRefreshed([self] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (!self)
                    return;
                const std::optional<RCClient> rc = self->runningClient();
                if (!rc)
                    return;
                scanPins(self->m_hooks.pinScan, *rc, self->lifetime());
            },
            Qt::QueuedConnection);
    });
    changeSync->start();
    m_changeSync = std::move(changeSync);
    emit changeSyncChanged();
    m_changeSyncPort = rc->port();
}

void AppModel::apply(const UploadSnapshot &snapshot)
{
    QList<UploadRow> rows = UploadStatus::rows(snapshot.stats, snapshot.transferred, snapshot.vfs, m_online);
    const DiskCache &cache = snapshot.vfs.diskCache;
    const bool outOfSpace = cache.outOfSpace.value_or(false);
    if (outOfSpace != std::exchange(m_cacheOutOfSpace, outOfSpace)) {
        if (outOfSpace)
            m_log.error("The cache disk is out of space: files being written may be cut short before they upload");
        else
            m_log.info("The cache disk has room again");
    }
    bool problem = cache.erroredFiles > 0 || outOfSpace;
    for (const UploadRow &row : rows)
        problem = problem || std::holds_alternative<UploadRow::Problem>(row.state);
    assign(m_uploads, rows, &AppModel::uploadsChanged);
    assign(m_pendingUploads, qint64(saturatingSum(cache.uploadsInProgress, cache.uploadsQueued)),
           &AppModel::pendingUploadsChanged);
    assign(m_hasUploadProblem, problem, &AppModel::hasUploadProblemChanged);
    std::optional<QString> summary;
    if (cache.uploadsQueued >= 1) {
        summary = QStringLiteral("%1 more %2 waiting %3")
                      .arg(cache.uploadsQueued)
                      .arg(cache.uploadsQueued == 1 ? QStringLiteral("file") : QStringLiteral("files"))
                      .arg(m_online ? QStringLiteral("to upload") : QStringLiteral("for internet"));
    }
    assign(m_queuedSummary, std::move(summary), &AppModel::queuedSummaryChanged);

    if (m_phase.kind != Phase::running && m_phase.kind != Phase::offline)
        return;
    QString line = UploadStatus::statusLine(m_uploads, snapshot.vfs, m_online);
    // A full cache disk cuts files short whether or not the network is there: nothing is safe.
    if ((m_online || outOfSpace) && m_hasUploadProblem && line == allSafeText)
        line = uploadProblemText;
    if (m_isEjected)
        line = ejectedText;
    assign(m_statusLine, std::move(line), &AppModel::statusLineChanged);
}

QCoro::Task<> AppModel::restartDrive()
{
    if (!m_settings)
        throw AppModelError(keysUnreadableText);
    const std::shared_ptr<SecretStoring> secrets = m_secrets;
    const std::optional<std::pair<StorageSecrets, QString>> keys = co_await guarded(secrets->load());
    if (!keys)
        throw AppModelError(keysUnreadableText);
    co_await stopDrive(false);
    if (!m_settings)
        throw AppModelError(keysUnreadableText);
    co_await startDrive(*m_settings, keys->first, keys->second);
    if (m_phase.isProblem())
        throw AppModelError(m_phase.text);
}

QCoro::Task<> AppModel::reconnect()
{
    if (!m_isEjected)
        co_return;
    const std::shared_ptr<DriveSupervising> supervisor = m_supervisor;
    co_await guarded(supervisor->reconnectFSKit());
    co_await refresh();
}

// --- Network ---

void AppModel::networkChanged(bool online)
{
    assign(m_online, online, &AppModel::onlineChanged);
    [](QPointer<AppModel> self) -> QCoro::Task<> {
        if (!self)
            co_return;
        try {
            const std::shared_ptr<DriveSupervising> supervisor = self->m_supervisor;
            co_await whileAlive(self, supervisor->checkHealthNow());
            co_await self->refresh();
        } catch (const OwnerGone &) {
        }
    }(QPointer<AppModel>(this));
}

// --- Quit and stop ---

QCoro::Task<bool> AppModel::freshCanQuit()
{
    if (stopping())
        co_return m_pendingUploads == 0;
    if (const std::optional<RCClient> rc = runningClient()) {
        const auto pendingUploads = m_hooks.pendingUploads;
        qint64 count = 1;
        try {
            count = co_await guarded(pendingUploads(*rc, lifetime()));
        } catch (const std::exception &) {
            // Unknown counts as one, so the user is asked.
        }
        assign(m_pendingUploads, count, &AppModel::pendingUploadsChanged);
    }
    co_return m_pendingUploads == 0;
}

QCoro::Task<bool> AppModel::shouldRelaunchForUpdate(std::function<bool()> confirm)
{
    if (co_await freshCanQuit())
        co_return true;
    co_return confirm();
}

QCoro::Task<> AppModel::shutdown()
{
    // A refresh meanwhile (a window opening, the plug-in's hello) must not start change sync
    // again for the engine being stopped.
    const StoppingHold hold(*this);
    stopLoops();
    co_await stopCopyAll();
    co_await stopRecovery();
    m_network->stop();
    co_await endChangeSync();
    const std::shared_ptr<DriveSupervising> supervisor = m_supervisor;
    co_await guarded(supervisor->stop(false));
    if (const std::optional<QString> mount = mountPath())
        m_hooks.postFinderBadges(KeepShared::FinderBadgeSnapshot(mount->toStdString(), {}, {}, false, m_online));
}

QCoro::Task<> AppModel::endChangeSync()
{
    if (const std::shared_ptr<ChangeSyncing> changeSync = m_changeSync) {
        if (m_online)
            co_await withTimeout(flushLimit,
                                 [changeSync](CancelToken token) { return changeSync->stopAndFlush(token); });
        else
            changeSync->stop();
    }
    m_changeSync.reset();
    emit changeSyncChanged();
    m_changeSyncPort.reset();
}

AppModel::StoppingHold::StoppingHold(AppModel &model) : m_model(&model)
{
    ++model.m_stopping;
}

AppModel::StoppingHold::~StoppingHold()
{
    if (m_model)
        --m_model->m_stopping;
}

QCoro::Task<> AppModel::stopCopyAll()
{
    if (!m_copyAllRun->isRunning())
        co_return;
    // The engine is interrupted, and the file it was writing is removed once it has ended: the
    // process must not exit before that, or the next copy would skip the file cut short.
    m_copyAllRun->stop();
    co_await withTimeout(flushLimit, [run = m_copyAllRun](CancelToken token) { return run->ended(token); });
}

QCoro::Task<> AppModel::stopDrive(bool waitForUploads)
{
    const StoppingHold hold(*this);
    co_await stopRecovery();
    // Offline, a flush would wait on a storage it cannot reach: the changes are published on
    // the next start instead.
    co_await endChangeSync();
    bool drained = false;
    if (waitForUploads) {
        if (const std::optional<RCClient> rc = m_supervisor->rc()) {
            const auto pendingUploads = m_hooks.pendingUploads;
            try {
                drained = co_await guarded(pendingUploads(*rc, lifetime())) == 0;
            } catch (const std::exception &) {
                drained = false;
            }
        }
    }
    const std::shared_ptr<DriveSupervising> supervisor = m_supervisor;
    co_await guarded(supervisor->stop(waitForUploads));
    m_drained = drained;
}

QCoro::Task<> AppModel::withTimeout(Milliseconds limit, std::function<QCoro::Task<>(CancelToken)> op)
{
    const auto race = std::make_shared<Race>();
    CancelSource stopOperation;
    CancelSource stopSleep;
    [](std::shared_ptr<Race> race, std::function<QCoro::Task<>(CancelToken)> op, CancelToken token) -> QCoro::Task<> {
        try {
            co_await op(token);
        } catch (const std::exception &) {
            // Cut short by the limit, or failed: either way the stop goes on.
        }
        race->firstEnded = true;
        race->decide(true);
    }(race, std::move(op), stopOperation.get_token());
    timeLimit(race, limit, m_hooks.sleep, stopSleep.get_token());
    co_await waitUntil(race, [](const Race &race) { return race.decided; });
    stopOperation.request_stop();
    stopSleep.request_stop();
    co_await guarded(waitUntil(race, [](const Race &race) { return race.firstEnded && race.secondEnded; }));
}

// --- Rescue of old cache folders ---

QCoro::Task<> AppModel::recoverOldCache(DriveSettings settings, StorageSecrets secrets, std::set<std::string> folders)
{
    co_await stopRecovery();
    if (m_recoveryTask.isStarted())
        co_return;
    const std::optional<RCClient> rc = runningClient();
    if (!rc)
        co_return;
    m_recoveryTask =
        TaskHandle<>::start([hooks = m_hooks, rc = *rc, settings = std::move(settings), secrets = std::move(secrets),
                             folders = std::move(folders)](CancelToken token) -> QCoro::Task<> {
            co_await hooks.recoverCache(rc, settings, secrets, folders, token);
        });
}

QCoro::Task<> AppModel::stopRecovery()
{
    if (!m_recoveryTask.isStarted())
        co_return;
    TaskHandle<> task = std::move(m_recoveryTask);
    m_recoveryTask = TaskHandle<>();
    task.cancel();
    try {
        co_await guarded(task.result());
    } catch (const std::exception &) {
        // A cancelled rescue leaves its folders for the next start.
    }
}

} // namespace DriveCore
