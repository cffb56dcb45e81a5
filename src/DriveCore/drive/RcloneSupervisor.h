#pragma once

#include "DriveCore/drive/SupervisorHooks.h"
#include "DriveCore/drive/SupervisorTools.h"
#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/RCClient.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/ProcessLaunching.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/SetOnceFlag.h"
#include "DriveCore/support/Tasks.h"
#include "DriveCore/support/UserTextError.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace DriveCore {

// Where the supervisor stands, as the app model sees it.
struct SupervisorState {
    enum Kind {
        stopped, // no engine; the initial state
        starting, // start is preparing the launch
        running, // the engine was launched and a remote-control client exists
        restarting, // the engine exited or stopped answering; a restart owns the next launch
        failed, // the supervisor gave up; `text` says why, for the user
    };

    static SupervisorState failure(QString text) { return {failed, std::move(text)}; }

    bool operator==(const SupervisorState &) const = default;

    Kind kind = stopped;
    QString text; // only with failed
};

// The engine supervisor as the app model holds it. Main-thread object: every member runs on
// the main thread and its waits suspend.
class DriveSupervising {
public:
    virtual ~DriveSupervising() = default;

    virtual SupervisorState state() const = 0;
    // The client of the running engine; none unless running.
    virtual std::optional<RCClient> rc() const = 0;
    // Starts the drive from stopped or failed, and does nothing in the other states. Throws
    // what made the start fail, after recording it in the state.
    virtual QCoro::Task<> start(DriveSettings settings, StorageSecrets secrets, QString passphrase, bool readOnly,
                                DriveEngine engine) = 0;
    // Stops the drive, first waiting for its uploads when asked; ends in stopped and never
    // throws. Cancelling `token` ends only the wait for uploads.
    virtual QCoro::Task<> stop(bool waitForUploads, CancelToken token = {}) = 0;
    // One health check now.
    virtual QCoro::Task<> checkHealthNow() = 0;
    // The user ejected the file-system layer while the engine runs on.
    virtual bool fskitEjected() const = 0;
    // The file-system layer failed to mount and the drive was stopped.
    virtual bool fskitFailed() const = 0;
    // Mounts the layer again after an eject. Throws FSKitMount::Problem(notEjectedText) when
    // the drive is not ejected, and the mount's own error.
    virtual QCoro::Task<> reconnectFSKit() = 0;
};

// Owns the engine process: launches it for the drive (every launch tagged with a generation),
// hands out its remote-control client while it runs, restarts it with back-off when it exits
// or stops answering, gives up when it keeps dying right after launch, lays the file-system
// layer over its mount with the fskit engine, and stops everything again in order.
//
// Main-thread object. Every background task holds it weakly and, after each of its waits,
// checks again that its launch is still the live one and that no stop was asked for. The
// supervisor must outlive the calls awaited on it.
class RcloneSupervisor : public QObject, public DriveSupervising {
    Q_OBJECT
public:
    using State = SupervisorState;
    // A process of an earlier launch has not exited yet.
    using StillRunning = UserTextError<struct StillRunningTag>;
    using UnmountRefused = SupervisorTools::UnmountRefused;

    static inline const QString stillRunningText =
        QStringLiteral("The previous drive process has not exited yet. Restart your computer if this continues.");
    static inline const QString startFailedText = QStringLiteral("Could not start the drive: ");
    static inline const QString keepsStoppingText = QStringLiteral("The drive keeps stopping unexpectedly.");
    static inline const QString cannotRestartText =
        QStringLiteral("The drive stopped responding and could not be restarted. Restart your computer to fix this.");
    static inline const QString notEjectedText = QStringLiteral("The drive isn't ejected.");

    // The remote-control user of every launch.
    static constexpr const char *rcUser = "corvane";

    // Where wake-ups and unmounts come from. Each makes a watcher that calls `notify` on the
    // main thread while it exists, or none where the platform offers none (not an error).
    struct Observers {
        using Make = std::function<std::unique_ptr<QObject>(std::function<void()> notify)>;

        Make wake;
        Make unmount;

        // logind's wake from sleep on the system bus, and the mount table.
        static Observers live();
    };

    RcloneSupervisor(RcloneCommand command, std::shared_ptr<ProcessLaunching> launcher, SupervisorHooks hooks,
                     Observers observers = Observers::live(), QObject *parent = nullptr);
    ~RcloneSupervisor() override;

    State state() const override { return m_state; }
    std::optional<RCClient> rc() const override { return m_rc; }
    QCoro::Task<> start(DriveSettings settings, StorageSecrets secrets, QString passphrase, bool readOnly,
                        DriveEngine engine) override;
    // The same with the nfs engine.
    QCoro::Task<> start(DriveSettings settings, StorageSecrets secrets, QString passphrase, bool readOnly);
    QCoro::Task<> stop(bool waitForUploads, CancelToken token = {}) override;
    QCoro::Task<> checkHealthNow() override;
    bool fskitEjected() const override { return m_fskitEjected; }
    bool fskitFailed() const override { return m_fskitFailed; }
    QCoro::Task<> reconnectFSKit() override;

    DriveEngine engine() const { return m_engine; }
    bool fskitLayerMounted() const { return m_fskitLayerMounted; }

    // Unmounts, with force, the drive's own mount folder or backing folder that `path` names;
    // throws UnmountRefused for any other path, running nothing.
    QCoro::Task<> forceUnmount(QString path);
    static std::optional<QString> allowedMountPath(const std::optional<QString> &driveName)
    {
        return SupervisorTools::allowedMountPath(driveName);
    }

    // What the supervisor shows when it gives up: keepsStoppingText and, when the engine left a
    // last log line, " Details: " and its first 300 characters with every occurrence of a secret
    // of the launch replaced by "<redacted>" (occurrences that overlap by one). The secrets are
    // `rcPass` and the values in `environment` whose names end in ACCESS_KEY_ID,
    // SECRET_ACCESS_KEY, PASSWORD or RC_PASS.
    static QString keepsStoppingMessage(const std::optional<QString> &lastLogLine, const Environment &environment,
                                        const QString &rcPass);

private:
    using Instant = SupervisorHooks::Instant;

    // A background task, cancelled when its last holder lets it go; any number of waiters may
    // await its end.
    using JobPtr = std::shared_ptr<TaskHandle<>>;
    using JobBody = std::function<QCoro::Task<>(CancelToken)>;

    // Starts `body` on the next turn of the event loop, as a task of its own.
    static JobPtr startJob(JobBody body);
    // Starts `body` like startJob, with no holder: nothing cancels it.
    static void startDetached(JobBody body);
    static void cancel(const JobPtr &job);
    // Cancels the job in `slot`, waits for its end and clears the slot (unless it was
    // replaced meanwhile).
    static QCoro::Task<> cancelAndWait(JobPtr &slot);
    // Clears `slot` when it holds the job of `token`.
    static void clearIfCurrent(JobPtr &slot, const CancelToken &token);

    // Polls the flag every 0.5 s, `seconds` long; whether it is set. Cancelling the caller
    // does not shorten the wait.
    static QCoro::Task<bool> waitForExit(Sleep sleep, std::shared_ptr<SetOnceFlag> flag, int seconds);
    // SIGTERM, 5 s, SIGKILL, 5 s; whether the process has exited.
    static QCoro::Task<bool> forceExit(Sleep sleep, std::shared_ptr<LaunchedProcess> process,
                                       std::shared_ptr<SetOnceFlag> flag);

    void setState(State state);
    void launch();
    void processExited(int generation, int32_t status);
    // Clears the generation, the health and layer tasks, the process and the client.
    void abandonLaunch();
    void scheduleRestart();
    void giveUp();
    QCoro::Task<> forceUnmountOwnMounts();
    // forceUnmount, with a refusal logged and not thrown.
    QCoro::Task<> forceUnmountIgnoringRefusal(QString path);
    void startHealthLoop(int generation);
    QCoro::Task<> healthCheck();
    bool backingLost() const;
    void observeWake();
    QCoro::Task<> waitForUploads(RCClient rc, CancelToken token);

    void startFSKitLayer(int generation, const DriveSettings &settings);
    QCoro::Task<> failFSKitLayer(std::exception_ptr error, int generation);
    void noticeFSKitEject();
    QCoro::Task<> stopFSKitLayer();

    State m_state;
    std::optional<RCClient> m_rc;
    RcloneCommand m_command;
    std::shared_ptr<ProcessLaunching> m_launcher;
    SupervisorHooks m_hooks;
    Observers m_observers;
    std::optional<DriveSettings> m_settings;
    bool m_readOnly = false;
    DriveEngine m_engine = DriveEngine::nfs;
    bool m_fskitLayerMounted = false;
    bool m_fskitEjected = false;
    bool m_fskitFailed = false;
    bool m_reconnecting = false;
    JobPtr m_layerTask;
    Environment m_environment;
    QString m_rcPass;
    std::shared_ptr<LaunchedProcess> m_process;
    std::shared_ptr<SetOnceFlag> m_exited;
    std::optional<int> m_liveGeneration;
    int m_nextGeneration = 0;
    int m_restartAttempt = 0;
    std::optional<Instant> m_launchedAt;
    int m_quickExits = 0;
    int m_failedPings = 0;
    bool m_stopRequested = false;
    JobPtr m_healthTask;
    JobPtr m_restartTask;
    std::unique_ptr<QObject> m_wakeObserver;
    std::unique_ptr<QObject> m_unmountObserver;
    bool m_healthCheckInFlight = false;
    std::shared_ptr<SetOnceFlag> m_stuck;
    Log m_log{"supervisor"};
};

} // namespace DriveCore
