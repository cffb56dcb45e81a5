#include "DriveCore/drive/RcloneSupervisor.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/mount/FSKitMount.h"
#include "DriveCore/mount/MountFolder.h"
#include "DriveCore/platform/FreePort.h"
#include "DriveCore/platform/MountTableWatch.h"
#include "DriveCore/platform/SleepWatch.h"
#include "DriveCore/support/Clock.h"
#include "DriveCore/support/Graphemes.h"
#include "DriveCore/support/Tasks.h"
#include "DriveCore/support/Threads.h"
#include "DriveCore/support/UserError.h"

#include <QDir>
#include <QPointer>

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>
#include <vector>

namespace DriveCore {

using namespace std::chrono_literals;

namespace {

constexpr auto quickExitLimit = 30s;
constexpr int quickExitsBeforeGivingUp = 4;
constexpr std::array<std::chrono::seconds, 4> restartDelays{2s, 5s, 15s, 60s};
constexpr int unansweredPingsBeforeRestart = 3;
constexpr qsizetype detailCharacters = 300;
constexpr std::array<const char *, 4> secretSuffixes{"ACCESS_KEY_ID", "SECRET_ACCESS_KEY", "PASSWORD", "RC_PASS"};
constexpr auto exitPoll = 500ms;
constexpr int interruptGraceSeconds = 10;
constexpr int terminateGraceSeconds = 5;
constexpr int killGraceSeconds = 5;
constexpr auto uploadPoll = 1s;
constexpr auto uploadRetryPause = 2s;
constexpr int uploadRetries = 3;

const QString detailsSeparator = QStringLiteral(" Details: ");
const QString redactedText = QStringLiteral("<redacted>");
constexpr qsizetype minimumTail = 4;
const QString enginePath = QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin");

QString describe(const std::exception_ptr &error)
{
    return errorText(error).value_or(QStringLiteral("cancelled"));
}

QString redacted(const QString &line, const Environment &environment, const QString &rcPass)
{
    QStringList secrets;
    for (const char *suffix : secretSuffixes) {
        for (auto it = environment.begin(); it != environment.end(); ++it) {
            if (it.key().endsWith(QLatin1String(suffix)) && !it.value().isEmpty())
                secrets.append(it.value());
        }
    }
    if (!rcPass.isEmpty())
        secrets.append(rcPass);
    // Every occurrence is looked for in the line as it came, overlapping ones too: replacing one
    // secret after another would leave the rest of a secret that shares text with one replaced
    // before it. Occurrences that overlap become one marker.
    std::vector<std::pair<qsizetype, qsizetype>> found; // start, end
    for (const QString &secret : secrets) {
        for (qsizetype at = line.indexOf(secret); at >= 0; at = line.indexOf(secret, at + 1))
            found.emplace_back(at, at + secret.size());
    }
    // The log is read from 64 KiB before its end, so the line may begin inside a secret: a line
    // that opens with the last characters of one hides them too. Tails shorter than four
    // characters are taken as chance.
    for (const QString &secret : secrets) {
        for (qsizetype length = secret.size() - 1; length >= minimumTail; --length) {
            if (line.startsWith(QStringView(secret).right(length))) {
                found.emplace_back(0, length);
                break;
            }
        }
    }
    std::sort(found.begin(), found.end());
    QString result;
    qsizetype copied = 0;
    for (std::size_t i = 0; i < found.size();) {
        const qsizetype start = found[i].first;
        qsizetype end = found[i].second;
        for (++i; i < found.size() && found[i].first < end; ++i)
            end = std::max(end, found[i].second);
        result.append(QStringView(line).mid(copied, start - copied)).append(redactedText);
        copied = end;
    }
    result.append(QStringView(line).mid(copied));
    return result;
}

QString durationText(std::chrono::seconds delay)
{
    return QStringLiteral("%1 seconds").arg(delay.count());
}

// A watch that calls `notify` on `signal`, or none when it has nothing to watch.
template<typename Watch>
std::unique_ptr<QObject> watching(void (Watch::*signal)(), std::function<void()> notify)
{
    auto watch = std::make_unique<Watch>();
    if (!watch->isWatching())
        return nullptr;
    QObject::connect(watch.get(), signal, watch.get(), std::move(notify));
    return watch;
}

const Log &supervisorLog()
{
    static const Log log("supervisor");
    return log;
}

} // namespace

RcloneSupervisor::Observers RcloneSupervisor::Observers::live()
{
    return {
        .wake = [](std::function<void()> notify) { return watching<SleepWatch>(&SleepWatch::woke, std::move(notify)); },
        .unmount =
            [](std::function<void()> notify) {
                return watching<MountTableWatch>(&MountTableWatch::unmounted, std::move(notify));
            },
    };
}

RcloneSupervisor::RcloneSupervisor(RcloneCommand command, std::shared_ptr<ProcessLaunching> launcher,
                                   SupervisorHooks hooks, Observers observers, QObject *parent)
    : QObject(parent), m_command(std::move(command)), m_launcher(std::move(launcher)), m_hooks(std::move(hooks)),
      m_observers(std::move(observers))
{
}

RcloneSupervisor::~RcloneSupervisor()
{
    // The tasks end at their next wait; the engine itself is left as it is.
    cancel(m_healthTask);
    cancel(m_restartTask);
    cancel(m_layerTask);
}

// MARK: Jobs

namespace {

// Like a task queued on the main thread, the body begins after the code that started it.
QCoro::Task<> runJob(std::function<QCoro::Task<>(CancelToken)> body, CancelToken token)
{
    co_await DriveCore::sleep(0ms);
    try {
        co_await body(token);
    } catch (...) {
        // Bodies report their own failures; what escapes one still leaves a trace.
        if (const std::optional<QString> text = errorText(std::current_exception()))
            supervisorLog().error("A supervisor job failed: %{public}s", *text);
    }
}

} // namespace

RcloneSupervisor::JobPtr RcloneSupervisor::startJob(JobBody body)
{
    return std::make_shared<TaskHandle<>>(
        TaskHandle<>::start([body = std::move(body)](CancelToken token) { return runJob(body, std::move(token)); }));
}

void RcloneSupervisor::startDetached(JobBody body)
{
    runJob(std::move(body), {});
}

void RcloneSupervisor::cancel(const JobPtr &job)
{
    if (job)
        job->cancel();
}

QCoro::Task<> RcloneSupervisor::cancelAndWait(JobPtr &slot)
{
    if (!slot)
        co_return;
    const JobPtr job = slot;
    job->cancel();
    co_await job->ended();
    if (slot == job)
        slot.reset();
}

void RcloneSupervisor::clearIfCurrent(JobPtr &slot, const CancelToken &token)
{
    if (slot && slot->token() == token)
        slot.reset();
}

// MARK: Start and launch

void RcloneSupervisor::setState(State state)
{
    m_state = std::move(state);
}

QCoro::Task<> RcloneSupervisor::start(DriveSettings settings, StorageSecrets secrets, QString passphrase, bool readOnly)
{
    return start(std::move(settings), std::move(secrets), std::move(passphrase), readOnly, DriveEngine::nfs);
}

QCoro::Task<> RcloneSupervisor::start(DriveSettings settings, StorageSecrets secrets, QString passphrase, bool readOnly,
                                      DriveEngine engine)
{
    if (m_state.kind == State::starting || m_state.kind == State::running || m_state.kind == State::restarting)
        co_return;
    if (m_restartTask) {
        // The clean-up after giving up. A stop asked for meanwhile wins over this start.
        const bool stopWasRequested = m_stopRequested;
        const JobPtr cleanUp = m_restartTask;
        co_await cleanUp->ended();
        if (!stopWasRequested && m_stopRequested)
            co_return;
    }
    m_stopRequested = false;
    m_quickExits = 0;
    setState({State::starting});
    m_settings = settings;
    m_readOnly = readOnly;
    m_engine = engine;
    m_fskitFailed = false;

    try {
        if (m_stuck && !m_stuck->isSet())
            throw StillRunning(stillRunningText);
        m_stuck.reset();

        const QString obscured = co_await m_hooks.obscure(passphrase);
        if (m_stopRequested)
            co_return;

        m_rcPass = SupervisorTools::randomPassword();
        m_environment = RcloneCommand::environment(secrets, obscured);
        m_environment.insert(RcloneCommand::rcEnvironment(QString::fromLatin1(rcUser), m_rcPass));
        m_environment.insert(QStringLiteral("PATH"), enginePath);
        m_environment.insert(QStringLiteral("HOME"), QDir::homePath());

        const QString mountFolder = DriveLayout::mountPath(settings.driveName);
        const QString backing = DriveLayout::backingPath(settings.deviceID);
        if (co_await m_hooks.stopLeftovers(settings) > 0) {
            // A leftover engine may have left its mounts behind, alive or dead.
            co_await forceUnmountIgnoringRefusal(mountFolder);
            co_await forceUnmountIgnoringRefusal(backing);
        }
        // An engine that died with the application before it (a kill of both, a power cut
        // while suspended) is no leftover, but its mounts stay, dead: nothing can be made or
        // checked at those folders until they are cleared.
        for (const QString &folder : {mountFolder, backing}) {
            if (co_await m_hooks.isDeadMount(folder))
                co_await forceUnmountIgnoringRefusal(folder);
        }
        if (m_stopRequested)
            co_return;
        for (const QString &folder : {mountFolder, backing}) {
            if (co_await m_hooks.isDeadMount(folder))
                throw MountFolder::Problem(MountFolder::deadMountText(settings.driveName));
        }
        if (m_stopRequested)
            co_return;

        m_hooks.prepare(settings);
        launch();
    } catch (const MountFolder::Problem &problem) {
        m_log.error("Mount folder not usable: %{private}s", problem.description);
        setState(State::failure(problem.description));
        throw;
    } catch (const std::exception &error) {
        const QString description = QString::fromUtf8(error.what());
        m_log.error("Could not start the drive: %{public}s", description);
        setState(State::failure(startFailedText + description));
        throw;
    }
    m_restartAttempt = 0;
    observeWake();
}

void RcloneSupervisor::launch()
{
    if (!m_settings)
        return;
    const DriveSettings settings = *m_settings;
    m_hooks.checkMountFolder(settings);
    if (m_engine == DriveEngine::fskit)
        m_hooks.checkBackingFolder(settings);
    const int port = FreePort::find();
    const QStringList arguments = RcloneCommand::mountArguments(settings, port, m_readOnly, m_engine);
    const int generation = ++m_nextGeneration;
    auto flag = std::make_shared<SetOnceFlag>();
    const QPointer<RcloneSupervisor> self(this);
    auto process =
        m_launcher->launch(m_command.rcloneURL, arguments, m_environment, [flag, self, generation](int32_t status) {
            flag->set();
            onMainThread([self, generation, status] {
                if (self)
                    self->processExited(generation, status);
            });
        });
    m_process = std::move(process);
    m_exited = std::move(flag);
    m_launchedAt = m_hooks.now();
    m_liveGeneration = generation;
    m_rc.emplace(port, QString::fromLatin1(rcUser), m_rcPass);
    m_failedPings = 0;
    setState({State::running});
    m_log.info("rclone started (pid %d)", m_process->pid());
    startHealthLoop(generation);
    if (m_engine == DriveEngine::fskit)
        startFSKitLayer(generation, settings);
}

QCoro::Task<> RcloneSupervisor::forceUnmount(QString path)
{
    return SupervisorTools::forceUnmount(m_launcher, m_settings, std::move(path));
}

QCoro::Task<> RcloneSupervisor::forceUnmountIgnoringRefusal(QString path)
{
    // A drive name that is no safe folder name gives no mount folder of ours to unmount.
    try {
        co_await forceUnmount(path);
    } catch (const UnmountRefused &refusal) {
        m_log.error("Not unmounted: %{private}s", refusal.description);
    }
}

// MARK: Exits and restarts

void RcloneSupervisor::processExited(int generation, int32_t status)
{
    if (m_liveGeneration != generation || m_stopRequested)
        return;
    m_log.error("rclone exited unexpectedly (status %d)", status);
    if (m_launchedAt && m_hooks.now() - *m_launchedAt < quickExitLimit) {
        if (++m_quickExits >= quickExitsBeforeGivingUp)
            giveUp();
        else
            scheduleRestart();
    } else {
        m_quickExits = 0;
        scheduleRestart();
    }
}

void RcloneSupervisor::abandonLaunch()
{
    m_liveGeneration.reset();
    cancel(m_healthTask);
    m_healthTask.reset();
    cancel(m_layerTask);
    m_layerTask.reset();
    m_process.reset();
    m_exited.reset();
    m_rc.reset();
}

void RcloneSupervisor::scheduleRestart()
{
    std::shared_ptr<LaunchedProcess> oldProcess;
    std::shared_ptr<SetOnceFlag> oldFlag;
    if (m_process && m_exited) {
        oldProcess = m_process;
        oldFlag = m_exited;
    }
    abandonLaunch();
    setState({State::restarting});

    cancel(m_restartTask);
    const QPointer<RcloneSupervisor> self(this);
    m_restartTask = startJob([self, oldProcess, oldFlag](CancelToken token) -> QCoro::Task<> {
        if (!self)
            co_return;
        if (oldProcess) {
            const Sleep sleep = self->m_hooks.sleep;
            bool exited = co_await forceExit(sleep, oldProcess, oldFlag);
            if (!self)
                co_return;
            if (!exited) {
                co_await self->forceUnmountOwnMounts();
                exited = co_await waitForExit(sleep, oldFlag, 5);
                if (!self)
                    co_return;
            }
            if (!exited) {
                self->m_log.error("rclone (pid %d) will not exit; not relaunching beside it", oldProcess->pid());
                self->m_stuck = oldFlag;
                self->setState(State::failure(cannotRestartText));
                clearIfCurrent(self->m_restartTask, token);
                co_return;
            }
        }
        for (;;) {
            if (!self || self->m_stopRequested || token.stop_requested())
                co_return;
            co_await self->forceUnmountOwnMounts();
            if (!self)
                co_return;
            const auto delay = restartDelays[size_t(std::min(self->m_restartAttempt, 3))];
            ++self->m_restartAttempt;
            self->m_log.info("Restarting rclone in %{public}s", durationText(delay));
            co_await pause(self->m_hooks.sleep, delay, token);
            if (!self || self->m_stopRequested || token.stop_requested())
                co_return;
            try {
                self->launch();
                clearIfCurrent(self->m_restartTask, token);
                co_return;
            } catch (const MountFolder::Problem &problem) {
                self->m_log.error("Mount folder not usable: %{private}s", problem.description);
                self->setState(State::failure(problem.description));
                clearIfCurrent(self->m_restartTask, token);
                co_return;
            } catch (const std::exception &error) {
                self->m_log.error("Relaunch failed: %{public}s", error.what());
            }
        }
    });
}

void RcloneSupervisor::giveUp()
{
    m_log.error("rclone stopped %ld times in a row soon after launching; not restarting", m_quickExits);
    abandonLaunch();

    setState(State::failure(keepsStoppingMessage(m_hooks.lastLogLine(), m_environment, m_rcPass)));

    cancel(m_restartTask);
    const QPointer<RcloneSupervisor> self(this);
    m_restartTask = startJob([self](CancelToken token) -> QCoro::Task<> {
        if (!self)
            co_return;
        co_await self->forceUnmountOwnMounts();
        if (self)
            clearIfCurrent(self->m_restartTask, token);
    });
}

QString RcloneSupervisor::keepsStoppingMessage(const std::optional<QString> &lastLogLine,
                                               const Environment &environment, const QString &rcPass)
{
    QString message = keepsStoppingText;
    if (lastLogLine) {
        const QString detail = redacted(*lastLogLine, environment, rcPass);
        if (!detail.isEmpty())
            message += detailsSeparator + Graphemes::prefix(detail, detailCharacters);
    }
    return message;
}

QCoro::Task<bool> RcloneSupervisor::forceExit(Sleep sleep, std::shared_ptr<LaunchedProcess> process,
                                              std::shared_ptr<SetOnceFlag> flag)
{
    if (flag->isSet())
        co_return true;
    process->terminate();
    if (co_await waitForExit(sleep, flag, terminateGraceSeconds))
        co_return true;
    supervisorLog().error("rclone ignored SIGTERM; sending SIGKILL to pid %d", process->pid());
    process->kill();
    co_return co_await waitForExit(sleep, flag, killGraceSeconds);
}

QCoro::Task<bool> RcloneSupervisor::waitForExit(Sleep sleep, std::shared_ptr<SetOnceFlag> flag, int seconds)
{
    for (int poll = 0; poll < 2 * seconds; ++poll) {
        if (flag->isSet())
            co_return true;
        co_await pause(sleep, exitPoll, CancelToken());
    }
    co_return flag->isSet();
}

QCoro::Task<> RcloneSupervisor::forceUnmountOwnMounts()
{
    if (!m_settings)
        co_return;
    m_fskitLayerMounted = false;
    m_fskitEjected = false;
    // Everything is taken before the first wait: the supervisor may be gone after it.
    const std::shared_ptr<ProcessLaunching> launcher = m_launcher;
    const DriveSettings settings = *m_settings;
    const bool layered = m_engine == DriveEngine::fskit;
    QStringList paths{DriveLayout::mountPath(settings.driveName)};
    if (layered)
        paths.append(DriveLayout::backingPath(settings.deviceID));
    for (const QString &path : paths) {
        try {
            co_await SupervisorTools::forceUnmount(launcher, settings, path);
        } catch (const std::exception &) {
            // Stopping goes on: the next start unmounts leftovers again.
            Log("supervisor")
                .info("Unmounting %{private}s failed: %{public}s", path, describe(std::current_exception()));
        }
    }
}

// MARK: Health

void RcloneSupervisor::startHealthLoop(int generation)
{
    cancel(m_healthTask);
    const QPointer<RcloneSupervisor> self(this);
    m_healthTask = startJob([self, hooks = m_hooks, generation](CancelToken token) -> QCoro::Task<> {
        for (;;) {
            if (token.stop_requested())
                co_return;
            try {
                co_await hooks.healthTick(token);
            } catch (...) {
                co_return;
            }
            if (token.stop_requested() || !self || self->m_liveGeneration != generation)
                co_return;
            co_await self->healthCheck();
        }
    });
}

QCoro::Task<> RcloneSupervisor::checkHealthNow()
{
    co_await healthCheck();
}

QCoro::Task<> RcloneSupervisor::healthCheck()
{
    if (m_healthCheckInFlight || m_state.kind != State::running || !m_rc || !m_liveGeneration)
        co_return;
    const int generation = *m_liveGeneration;
    m_healthCheckInFlight = true;
    const QPointer<RcloneSupervisor> self(this);
    const auto ping = m_hooks.ping;
    const bool answered = co_await ping(*m_rc, CancelToken());
    if (!self)
        co_return;
    if (m_liveGeneration == generation && !m_stopRequested) {
        if (!answered) {
            ++m_failedPings;
            m_log.error("rclone did not answer (%ld/%ld)", m_failedPings, unansweredPingsBeforeRestart);
            if (m_failedPings >= unansweredPingsBeforeRestart)
                scheduleRestart();
        } else {
            m_failedPings = 0;
            if (backingLost()) {
                m_log.error("FSKit backing mount gone while rclone runs; restarting the drive");
                scheduleRestart();
            } else {
                m_restartAttempt = 0;
                noticeFSKitEject();
            }
        }
    }
    m_healthCheckInFlight = false;
}

bool RcloneSupervisor::backingLost() const
{
    return m_engine == DriveEngine::fskit && (m_fskitLayerMounted || m_fskitEjected) && m_settings
        && !m_hooks.isBackingMounted(DriveLayout::backingPath(m_settings->deviceID));
}

void RcloneSupervisor::observeWake()
{
    const QPointer<RcloneSupervisor> self(this);
    const auto notify = [self] {
        startDetached([self](CancelToken) -> QCoro::Task<> {
            if (self)
                co_await self->healthCheck();
        });
    };
    if (!m_wakeObserver && m_observers.wake)
        m_wakeObserver = m_observers.wake(notify);
    if (!m_unmountObserver && m_observers.unmount)
        m_unmountObserver = m_observers.unmount(notify);
}

// MARK: File-system layer

void RcloneSupervisor::startFSKitLayer(int generation, const DriveSettings &settings)
{
    cancel(m_layerTask);
    const QString backing = DriveLayout::backingPath(settings.deviceID);
    const QString mountFolder = DriveLayout::mountPath(settings.driveName);
    const QPointer<RcloneSupervisor> self(this);
    m_layerTask = startJob([self, hooks = m_hooks, backing, mountFolder, settings, readOnly = m_readOnly,
                            generation](CancelToken token) -> QCoro::Task<> {
        const auto current = [&] { return self && self->m_liveGeneration == generation && !token.stop_requested(); };
        std::exception_ptr failure;
        try {
            co_await hooks.waitForBacking(backing, token);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!failure) {
            if (!current())
                co_return;
            if (hooks.isFSKitMounted(mountFolder)) {
                // A volume left from before.
                try {
                    co_await self->forceUnmount(mountFolder);
                } catch (const std::exception &) {
                    // The mount below reports the volume that stays in the way.
                    self->m_log.info("Unmounting the volume left from before failed: %{public}s",
                                     describe(std::current_exception()));
                }
                if (!current())
                    co_return;
            }
            try {
                co_await hooks.mountFSKit(backing, mountFolder, settings.driveName, readOnly, token);
            } catch (...) {
                failure = std::current_exception();
            }
            if (!failure) {
                if (current()) {
                    self->m_fskitLayerMounted = true;
                    self->m_log.info("FSKit volume mounted");
                }
                co_return;
            }
        }
        // A restart or a stop that took over meanwhile owns what follows.
        if (current())
            co_await self->failFSKitLayer(failure, generation);
    });
}

QCoro::Task<> RcloneSupervisor::failFSKitLayer(std::exception_ptr error, int generation)
{
    QString message = QString::fromUtf8(FSKitMount::mountFailedText);
    try {
        std::rethrow_exception(error);
    } catch (const FSKitMount::Problem &problem) {
        message = problem.description;
    } catch (...) {
        // Any other failure shows the general text; its cause is logged below.
    }
    m_log.error("FSKit volume not mounted: %{public}s", describe(error));

    m_liveGeneration.reset();
    cancel(m_healthTask);
    m_healthTask.reset();
    // The layer task (this one) stays in place, so that a stop waits for it to end. The
    // process is the one that failed; a stop or a new launch during the waits below makes
    // this failure stale, and then it changes nothing more.
    const std::shared_ptr<LaunchedProcess> process = m_process;
    const std::shared_ptr<SetOnceFlag> flag = m_exited;
    const Sleep sleep = m_hooks.sleep;
    const QPointer<RcloneSupervisor> self(this);
    const auto stale = [&] { return !self || self->m_stopRequested || self->m_nextGeneration != generation; };

    if (process && flag) {
        process->interrupt();
        bool exited = co_await waitForExit(sleep, flag, interruptGraceSeconds);
        if (stale())
            co_return;
        if (!exited) {
            exited = co_await forceExit(sleep, process, flag);
            if (stale())
                co_return;
            if (!exited)
                m_stuck = flag;
        }
    }
    m_process.reset();
    m_exited.reset();
    m_rc.reset();
    co_await forceUnmountOwnMounts();
    if (stale())
        co_return;
    m_fskitFailed = true;
    setState(State::failure(message));
}

void RcloneSupervisor::noticeFSKitEject()
{
    if (m_engine != DriveEngine::fskit || !m_fskitLayerMounted || !m_settings)
        return;
    if (!m_hooks.isFSKitMounted(DriveLayout::mountPath(m_settings->driveName))) {
        m_log.info("FSKit volume gone (ejected); rclone keeps running");
        m_fskitLayerMounted = false;
        m_fskitEjected = true;
    }
}

QCoro::Task<> RcloneSupervisor::reconnectFSKit()
{
    if (m_engine != DriveEngine::fskit || m_state.kind != State::running || !m_fskitEjected || m_reconnecting
        || !m_settings || !m_liveGeneration)
        throw FSKitMount::Problem(notEjectedText);
    m_reconnecting = true;
    const DriveSettings settings = *m_settings;
    const int generation = *m_liveGeneration;
    try {
        m_hooks.prepare(settings);
        m_hooks.checkMountFolder(settings);
    } catch (...) {
        m_reconnecting = false;
        throw;
    }
    const QPointer<RcloneSupervisor> self(this);
    try {
        co_await m_hooks.mountFSKit(DriveLayout::backingPath(settings.deviceID),
                                    DriveLayout::mountPath(settings.driveName), settings.driveName, m_readOnly,
                                    CancelToken());
    } catch (...) {
        if (self)
            m_reconnecting = false;
        throw;
    }
    if (!self)
        co_return;
    m_reconnecting = false;
    // A restart or stop meanwhile owns the layer now.
    if (m_liveGeneration != generation || m_stopRequested)
        co_return;
    m_fskitLayerMounted = true;
    m_fskitEjected = false;
}

QCoro::Task<> RcloneSupervisor::stopFSKitLayer()
{
    co_await cancelAndWait(m_layerTask);
    if (m_engine != DriveEngine::fskit || !m_settings)
        co_return;
    const QString mountFolder = DriveLayout::mountPath(m_settings->driveName);
    if (m_hooks.isFSKitMounted(mountFolder)) {
        co_await m_launcher->unmount(mountFolder, false);
        if (m_hooks.isFSKitMounted(mountFolder)) {
            m_log.error("FSKit volume busy; forcing unmount");
            co_await m_launcher->unmount(mountFolder, true);
            if (m_hooks.isFSKitMounted(mountFolder))
                m_log.error("FSKit volume still mounted after a forced unmount");
        }
    }
    m_fskitLayerMounted = false;
    m_fskitEjected = false;
}

// MARK: Stop

QCoro::Task<> RcloneSupervisor::stop(bool waitForUploads, CancelToken token)
{
    m_stopRequested = true;
    cancel(m_healthTask);
    m_healthTask.reset();
    co_await cancelAndWait(m_restartTask);
    m_wakeObserver.reset();
    m_unmountObserver.reset();

    if (waitForUploads && m_rc)
        co_await this->waitForUploads(*m_rc, token);

    co_await stopFSKitLayer();
    m_liveGeneration.reset();

    if (m_process && m_exited) {
        const std::shared_ptr<LaunchedProcess> process = m_process;
        const std::shared_ptr<SetOnceFlag> flag = m_exited;
        process->interrupt();
        if (!co_await waitForExit(m_hooks.sleep, flag, interruptGraceSeconds)) {
            m_log.error("rclone did not stop after 10s (pid %d)", process->pid());
            if (!co_await forceExit(m_hooks.sleep, process, flag))
                m_stuck = flag;
            // An engine ended by force leaves its mount behind, listed but dead, and the next
            // start would find the folder in use.
            co_await forceUnmountOwnMounts();
        }
    }
    m_process.reset();
    m_exited.reset();
    m_rc.reset();
    setState({State::stopped});
}

QCoro::Task<> RcloneSupervisor::waitForUploads(RCClient rc, CancelToken token)
{
    // The caller's cancellation ends the wait: a quit must not hang on a network that is gone.
    int failures = 0;
    while (!token.stop_requested()) {
        qint64 pending = 0;
        std::exception_ptr failure;
        try {
            pending = co_await m_hooks.pendingUploads(rc, token);
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            if (token.stop_requested())
                break;
            if (failures >= uploadRetries) {
                m_log.error("Gave up waiting for uploads: %{public}s", describe(failure));
                co_return;
            }
            co_await pause(m_hooks.sleep, uploadRetryPause, token);
            ++failures;
            continue;
        }
        if (pending <= 0)
            co_return;
        co_await pause(m_hooks.sleep, uploadPoll, token);
        failures = 0;
    }
    m_log.info("Stopped waiting for uploads: the stop was hurried");
}

} // namespace DriveCore
