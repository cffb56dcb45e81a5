#pragma once

#include "DriveCore/drive/RcloneSupervisor.h"
#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/RCClient.h"
#include "DriveCore/keys/DriveConnection.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/keys/SignOut.h"
#include "DriveCore/model/AppModelHooks.h"
#include "DriveCore/model/ConflictLines.h"
#include "DriveCore/model/CopyAllRun.h"
#include "DriveCore/model/PathMonitor.h"
#include "DriveCore/mount/ChangeSync.h"
#include "DriveCore/mount/UploadStatus.h"
#include "DriveCore/platform/HTTPSend.h"
#include "DriveCore/services/CloudflareBill.h"
#include "DriveCore/services/ConflictResolver.h"
#include "DriveCore/services/CopyAllFiles.h"
#include "DriveCore/services/DriveSearch.h"
#include "DriveCore/services/KeepOnMac.h"
#include "DriveCore/services/RecentlyDeleted.h"
#include "DriveCore/services/StorageUsage.h"
#include "DriveCore/shares/ShareContext.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/SetOnceFlag.h"
#include "DriveCore/support/Tasks.h"
#include "KeepShared/KeepBridge.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace DriveCore {

class AppModelIPhone;
class SetupState;
class UserDefaults;

// The drive's top-level state as the user sees it.
struct AppModelPhase {
    enum Kind { problem, needsSetup, starting, running, offline };

    static AppModelPhase makeProblem(QString text) { return {problem, std::move(text)}; }

    bool operator==(const AppModelPhase &) const = default;
    bool isProblem() const { return kind == problem; }

    Kind kind = starting;
    QString text; // only with problem: the user's text
};

// The application's one model: a main-thread object that launches the drive, follows the
// engine supervisor into a phase and a status line, polls the engine while the drive runs,
// stops everything on quit, and holds everything the windows show. Built once (live()), before
// any window, and kept for the life of the process.
//
// Observation: each observable field has a change signal. Assigning a value equal to the
// stored one notifies nobody, except `changeSync`, which notifies on every assignment, and
// windowOpened(), which always notifies openWindowsChanged.
//
// Background work (loops, the rescue, refreshes started by windows and the network) holds the
// model weakly and ends quietly once it is gone; a coroutine of the model that was suspended
// when the model went away ends with OwnerGone.
class AppModel : public QObject {
    Q_OBJECT
public:
    using Phase = AppModelPhase;
    using Milliseconds = std::chrono::milliseconds;

    // Texts of the model, read by other parts and windows.
    static inline const QString allSafeText = QStringLiteral("All files safe in cloud \u2713");
    static inline const QString ejectedText = QStringLiteral("Ejected \u2014 your uploads keep going");
    static inline const QString extensionOffText = QStringLiteral(
        "Turn on Ovra File System to see your drive (install bindfs and make sure FUSE mounts are allowed: "
        "/dev/fuse must be usable). Your files are safe; anything waiting uploads once it's on.");
    static inline const QString uploadProblemText =
        QStringLiteral("Some files couldn't upload yet \u2014 will keep trying");
    static inline const QString quitMessage = QStringLiteral("Some files are still uploading. Quit anyway?");
    static inline const QString quitDetail = QStringLiteral("They'll finish uploading next time you open Ovra.");
    static inline const QString deleteConfirmText = QStringLiteral("Delete permanently? This can't be undone.");
    static inline const QString organiseProblemText =
        QStringLiteral("Your drive couldn't be organised yet. Check your internet connection and try again.");
    static inline const QString lowDiskText =
        QStringLiteral("Free up some disk space to use the cache (at least 25 GB free is needed).");
    // A wrong passphrase, in the organise step and wherever the storage is checked.
    static inline const QString passphraseMismatchText =
        QStringLiteral("Your passphrase doesn't open the drive in that storage.");
    static inline const QString notConnectedText =
        QStringLiteral("The drive isn't connected right now. Try again in a moment.");
    static inline const QString settingsUnreadableText = QStringLiteral("Settings couldn't be read");
    static inline const QString keysUnreadableText = QStringLiteral("Your keys couldn't be read from your keyring");
    static inline const QString missingPartText =
        QStringLiteral("Ovra is missing a part it needs. Please reinstall the app.");
    static inline const QString startFailedPrefix = QStringLiteral("Could not start the drive: ");
    static inline const QString notSetUpText = QStringLiteral("Not set up yet");
    static inline const QString startingText = QStringLiteral("Starting\u2026");
    static inline const QString connectingText = QStringLiteral("Connecting\u2026");
    static inline const QString organisingText = QStringLiteral("Organising your drive\u2026");
    static inline const QString waitingText = QStringLiteral("Waiting for internet");
    static inline const QString checkingText = QStringLiteral("Checking your files\u2026");

    // Keep on this machine.
    static inline const QString keepFailedText =
        QStringLiteral("Couldn't keep these on this computer. Check your internet connection and try again.");
    static inline const QString removeKeptFailedText =
        QStringLiteral("Couldn't remove these from Keep on This Computer. Try again in a moment.");
    // Conflicts.
    static inline const QString alreadySortedOutText = QStringLiteral("This was already sorted out.");
    // Usage figures.
    static inline const QString cloudflareNoFiguresPrefix =
        QStringLiteral("Cloudflare didn't give the usage figures: ");
    // Copy-all and share context.
    static inline const QString copyFolderName = QStringLiteral("Ovra files");
    static inline const QString copyInsideDriveText =
        QStringLiteral("Choose a folder outside your Ovra drive, for example on this computer or an external disk.");
    static inline const QString shareNotConnectedText =
        QStringLiteral("Your drive isn't connected right now. Try again when Ovra shows your drive.");
    // Settings. The General tab shows the start-at-login text for any failure of setStartAtLogin.
    static inline const QString startAtLoginFailedText = QStringLiteral(
        "Start at login couldn't be changed. Check that your autostart folder (~/.config/autostart) can be "
        "written, and try again.");
    static inline const QString badNameText =
        QStringLiteral("Choose a name without slashes, colons or control characters (up to 255 bytes).");
    static inline const QString sameNameText =
        QStringLiteral("Choose a name that differs by more than capital letters or accents.");
    static inline const QString renameBusyText =
        QStringLiteral("Wait until the drive is connected and other changes have finished, then try again.");
    static inline const QString renameUploadsText =
        QStringLiteral("Wait for uploads and deleted files to finish moving, then rename the drive.");
    static inline const QString renameFailedOldNameText =
        QStringLiteral("The new name couldn't be used. Your old name is saved; try reconnecting the drive.");
    static inline const QString driveChangeBusyText = QStringLiteral("Wait for the drive change to finish.");
    // Storage keys, Recovery Kit, setup.
    static inline const QString recoveryKitMismatchText = QStringLiteral("That passphrase doesn't match this drive.");
    static inline const QString settingsNotSavedText = QStringLiteral("Your settings couldn't be saved. Try again.");
    // Sign-out.
    static inline const QString signOutFailedText = QStringLiteral("Sign out didn't finish. Try again from Settings.");

    static constexpr qint64 minCacheGB = 5;
    // The help page of the file-system layer, installed beside the application.
    static QUrl extensionSettingsURL();
    static inline const QString extensionHelpPageName = QStringLiteral("file-system-layer.html");

    // The user defaults keys the model reads.
    static constexpr const char *engineChoiceKey = "OvraShowEngineChoice";

    // Intervals and limits.
    static constexpr Milliseconds busyInterval = std::chrono::seconds(2); // a window is open
    static constexpr Milliseconds idleInterval = std::chrono::seconds(10); // no window open
    static constexpr Milliseconds extensionLimit = std::chrono::seconds(5);
    static constexpr Milliseconds flushLimit = std::chrono::seconds(5);
    static constexpr Milliseconds dailyWait = std::chrono::hours(24);
    static constexpr Milliseconds retryWait = std::chrono::minutes(5);
    static constexpr Milliseconds deletedStaleAfter = std::chrono::seconds(120); // a listing this old is read again
    static constexpr Milliseconds deletedRetryWait = std::chrono::seconds(10); // after a failed listing
    static constexpr Milliseconds signOutPause = std::chrono::seconds(2);
    static constexpr Milliseconds setupExtensionLimit = std::chrono::seconds(5);

    AppModel(std::shared_ptr<DriveSupervising> supervisor, std::shared_ptr<SecretStoring> secrets,
             std::shared_ptr<UserDefaults> defaults, std::shared_ptr<NetworkMonitoring> network, AppModelHooks hooks,
             bool rcloneFound, std::shared_ptr<SetupConnecting> setupConnection, QObject *parent = nullptr);
    ~AppModel() override;

    // The production model for the engine program found (none: "/nonexistent/rclone", and
    // launch reports the missing part). Starts nothing.
    static std::unique_ptr<AppModel> live(const std::optional<QString> &rcloneURL);

    // --- Observable fields ---
    const Phase &phase() const { return m_phase; }
    const QString &statusLine() const { return m_statusLine; }
    const QList<UploadRow> &uploads() const { return m_uploads; }
    const std::optional<QString> &queuedSummary() const { return m_queuedSummary; }
    const QList<DeletedItem> &deleted() const { return m_deleted; }
    const std::optional<TrashStats> &deletedTrashStats() const { return m_deletedTrashStats; }
    const std::optional<DriveSettings> &settings() const { return m_settings; }
    bool isChangingDrive() const { return m_isChangingDrive; }
    qint64 pendingUploads() const { return m_pendingUploads; }
    bool online() const { return m_online; }
    bool isEjected() const { return m_isEjected; }
    bool iPhoneSyncOn() const;
    DriveEngine engineInUse() const { return m_engineInUse; }
    const DriveSearch::Index &searchIndex() const { return m_searchIndex; }
    const std::optional<QDateTime> &searchIndexedAt() const { return m_searchIndexedAt; }
    const std::optional<SignOutStep> &signOutStep() const { return m_signOutStep; }
    bool signOutDiscardedFiles() const { return m_signOutDiscardedFiles; }
    bool signOutPendingKnown() const { return m_signOutPendingKnown; }
    bool hasUploadProblem() const { return m_hasUploadProblem; }
    const QList<DriveConflict> &conflicts() const { return m_conflicts; }
    const std::optional<QString> &keepProgress() const { return m_keepProgress; }
    const QList<PinStatus> &keptItems() const { return m_keptItems; }
    const std::optional<QString> &keepAlert() const { return m_keepAlert; }
    const std::optional<KeepShared::KeepState> &lastKeepState() const { return m_lastKeepState; }
    const std::shared_ptr<ChangeSyncing> &changeSync() const { return m_changeSync; }
    int openWindows() const { return m_openWindows; }

    // --- Dependencies ---
    DriveSupervising &supervisor() const { return *m_supervisor; }
    const std::shared_ptr<SecretStoring> &secrets() const { return m_secrets; }
    const std::shared_ptr<UserDefaults> &defaults() const { return m_defaults; }
    const AppModelHooks &hooks() const { return m_hooks; }
    bool rcloneFound() const { return m_rcloneFound; }
    const std::shared_ptr<SetupConnecting> &setupConnection() const { return m_setupConnection; }
    AppModelIPhone &iPhone() const { return *m_iPhone; }
    // The sending end of the conflict lines; may be used from any thread.
    const std::shared_ptr<ConflictLines> &conflictLines() const { return m_conflictLines; }

    // --- Derived values ---
    // ~/Mounts/<drive name>; none before setup.
    std::optional<QString> mountPath() const;
    // A symbol name: "cloud", "exclamationmark.icloud", "icloud.and.arrow.up", "icloud.slash".
    QString menuIcon() const;
    bool needsExtensionSwitch() const;
    DriveEngine driveEngineSetting() const;
    bool showsEngineChoice() const;
    qint64 maxCacheGB() const;
    bool canChangeCache() const;
    bool canRetryLaunch() const;
    QString trashFooter() const;
    static QString trashFooter(qint64 bytes);
    std::optional<QString> trashMoveMessage() const;
    std::optional<qint64> signOutWaitingCount() const;
    std::optional<DriveConflict> currentConflict() const;
    std::optional<QString> conflictCounter() const;

    // The client of the running engine; throws AppModelError(notConnectedText) otherwise.
    RCClient requireRC() const;

    // --- Launch, refresh, quit ---
    // Reads the settings and keys, finishes a pending organise step, starts the network monitor,
    // the drive and the loops. Never throws; its outcome is the phase. A call while another
    // runs waits for that one instead of starting the drive again.
    QCoro::Task<> launch();
    // One refresh: follows the supervisor, keeps change sync on the current launch, re-reads
    // the kept files and badges and applies an uploads snapshot. Never throws; calls may
    // overlap.
    QCoro::Task<> refresh();
    // A window that shows model data appeared (refreshes at once) or went away.
    void windowOpened();
    void windowClosed();
    // Whether quitting leaves nothing behind, from the last refresh.
    bool canQuit() const { return m_pendingUploads == 0; }
    // The same, asking the engine when it runs (an unreadable count is one pending upload).
    QCoro::Task<bool> freshCanQuit();
    // True at once when nothing is pending; otherwise `confirm`'s answer, asked once.
    QCoro::Task<bool> shouldRelaunchForUpdate(std::function<bool()> confirm);
    // The last thing before exit: stops the loops, a running copy-all (awaiting its clean-up
    // within 5 s), the rescue, the network monitor, change sync (flushed within 5 s when online)
    // and the engine (without waiting for uploads), then clears the file-manager badges. No
    // change sync starts while it runs. Never throws.
    QCoro::Task<> shutdown();
    // Mounts the file-system layer again after an eject, then refreshes. Throws the
    // supervisor's error.
    QCoro::Task<> reconnect();

    // --- Keep on this machine (AppModelKeep.cpp). None of these throws: a failed keep or
    // remove ends in keepAlert; while the drive isn't running they do nothing. ---
    // Keeps the items at these absolute paths; paths outside the drive are dropped.
    QCoro::Task<> keep(QStringList paths);
    // Stops keeping these drive-relative paths.
    QCoro::Task<> removeKept(QStringList drivePaths);
    // A request of the file-manager plug-in.
    QCoro::Task<> handle(KeepShared::KeepRequest request);
    // Re-reads the pins and the upload queue through `rc`, posts the badges and, when it
    // changed, the keep state. A reply that comes back for another launch, another drive or
    // during a sign-out changes nothing.
    QCoro::Task<> refreshKept(RCClient rc);
    // The keep state of the drive's mount; none before setup.
    std::optional<KeepShared::KeepState> currentKeepState() const;
    // The plug-in said hello: it gets the last keep state again, changed or not.
    void keepAddOnSaidHello();
    void dismissKeepAlert();

    // --- Recently Deleted and conflicts (AppModelTrash.cpp) ---
    // Reads the trash statistics and, when due (forced, owed, stale after 120 s, another engine
    // launch), the listing. Returns at once while a refresh or a sign-out runs. Throws the
    // not-connected error, the listing's error, or CancelledError.
    QCoro::Task<> refreshDeleted(bool force, CancelToken token = {});
    // Each throws the not-connected error or the hook's error, changing nothing then.
    QCoro::Task<> restore(DeletedItem item);
    QCoro::Task<> deleteNow(DeletedItem item);
    QCoro::Task<> emptyRecentlyDeleted();
    // Resolves the current conflict; a notice for the user, or none. keepBoth needs no
    // connection.
    QCoro::Task<std::optional<QString>> resolveConflict(ConflictChoice choice);

    // --- Search (AppModelSearch.cpp) ---
    // Lists the drive into a new search index, then its date. Refused with AppModelError
    // (offline, or the drive not running, not set up, being changed or signing out); the
    // listing's error passes through; CancelledError, keeping the last index, when `token` is
    // cancelled or the drive stopped, restarted, was switched or began signing out meanwhile.
    QCoro::Task<> refreshSearchIndex(CancelToken token = {});

    // --- Usage figures (AppModelUsage.cpp) ---
    // The drive's and Recently Deleted's bytes in the bucket, through the running engine.
    QCoro::Task<StorageUsage> loadStorageUsage(CancelToken token = {});
    // Cloudflare's own R2 figures of the month; none without keys, without a kept token or for
    // storage that isn't R2. Needs no running drive.
    QCoro::Task<std::optional<R2MonthUsage>> loadCloudflareUsage(HTTPSend send, CancelToken token = {});

    // --- Copy-all, drive size, share context (AppModelCopyAll.cpp) ---
    // <folder>/Ovra files
    static QString copyFolder(const QString &folder);
    // Copies every file of the drive into copyFolder(folder), skipping files already there.
    // Refuses a folder that is part of the drive (its mount, the engine's backing mount, its
    // cache) or whose "Ovra files" is a symbolic link. `progress` may be called from any thread.
    QCoro::Task<> copyAllFiles(QString folder, std::function<void(const CopyProgress &)> progress,
                               CancelToken token = {});
    // The bytes of every file of the drive, read from the bucket with the stored keys.
    QCoro::Task<qint64> driveSize(CancelToken token = {});
    // The running copy-all of the copy-all window, kept here so that closing the window loses
    // nothing.
    CopyAllRun &copyAllRun() const { return *m_copyAllRun; }
    // What one share action needs of the running drive. Throws shareNotConnectedText, the
    // keys-unreadable text or the key store's error.
    QCoro::Task<ShareContext> shareContext();
    std::optional<QString> shareBlockedReason() const;

    // --- Settings (AppModelSettings.cpp) ---
    // Throws the login item's error unchanged (the window shows startAtLoginFailedText).
    void setStartAtLogin(bool on);
    // False, logged, and startAtLogin saved off when the login item fails.
    bool enableStartAtLoginAfterSetup();
    // Each runs as one drive change (isChangingDrive) and throws the user's text.
    QCoro::Task<> renameDrive(QString name, CancelToken token = {});
    QCoro::Task<> setDriveEngine(DriveEngine engine);
    QCoro::Task<> changeCache(qint64 gb);

    // --- Storage keys, Recovery Kit, setup (AppModelKeys.cpp) ---
    // New keys derived from a Cloudflare API token, then as below.
    QCoro::Task<> replaceStorageKeys(QString cloudflareKey, QString endpoint, QString bucket, HTTPSend send);
    // Checks that the stored passphrase opens the drive in the new storage, stores the keys
    // (and the token when given) and restarts the drive. A failed check stores nothing.
    QCoro::Task<> replaceStorageKeys(StorageSecrets secrets, std::optional<QString> cloudflareKey);
    QCoro::Task<> keepCloudflareKey(QString token);
    // The Recovery Kit code, for the stored passphrase typed exactly.
    QCoro::Task<QString> showRecoveryKit(QString passphrase);
    // A new first-run setup wired to this model.
    std::unique_ptr<SetupState> makeSetupState();
    // The setup's last step: launches again and throws unless the drive is on its way.
    QCoro::Task<> completeSetup();

    // --- Sign-out (AppModelSignOut.cpp) ---
    // Runs one sign-out: `done` or `cancelled`, or none when it refuses to start (no settings,
    // a sign-out or a drive change running). Throws SignOut::UnuploadedFiles (the drive was
    // started again) or the removal's error (the phase then says so).
    QCoro::Task<std::optional<SignOutStep>> signOut(bool force);
    // The sheet's buttons; nothing without a running sign-out.
    void cancelSignOut();
    void requestForceSignOut();

signals:
    void phaseChanged();
    void statusLineChanged();
    void uploadsChanged();
    void queuedSummaryChanged();
    void deletedChanged();
    void deletedTrashStatsChanged();
    void settingsChanged();
    void isChangingDriveChanged();
    void pendingUploadsChanged();
    void onlineChanged();
    void isEjectedChanged();
    void iPhoneSyncOnChanged();
    void engineInUseChanged();
    void searchIndexChanged();
    void searchIndexedAtChanged();
    void signOutStepChanged();
    void signOutDiscardedFilesChanged();
    void signOutPendingKnownChanged();
    void hasUploadProblemChanged();
    void conflictsChanged();
    void keepProgressChanged();
    void keptItemsChanged();
    void keepAlertChanged();
    void lastKeepStateChanged();
    void changeSyncChanged();
    void openWindowsChanged();

protected:
    // Stores `value` and emits `signal` when it differs from the stored value.
    template<typename T>
    void assign(T &field, T value, void (AppModel::*signal)())
    {
        if (field == value)
            return;
        field = std::move(value);
        emit(this->*signal)();
    }

    // Awaits `task` and throws OwnerGone when the model went away meanwhile.
    template<typename T>
    QCoro::Task<T> guarded(QCoro::Task<T> task)
    {
        return whileAlive(QPointer<AppModel>(this), std::move(task));
    }

    // Cancelled when the model goes away: the token of the hooks' calls.
    CancelToken lifetime() const { return m_lifetime.get_token(); }

    // --- Phase ---
    void setPhase(Phase phase);
    // The problem phase with the same text in the status line.
    void setProblem(const QString &text);

    // --- Launch and start ---
    QCoro::Task<> launching();
    // Ends in the phase the start reached; never throws.
    QCoro::Task<> startDrive(DriveSettings settings, StorageSecrets secrets, QString passphrase);
    // Whether an organise step pending for the keys is done (or none is pending).
    QCoro::Task<bool> organise(StorageSecrets secrets, QString passphrase);
    void startLoops(const DriveSettings &settings);
    void stopLoops();

    // --- Following the supervisor ---
    void followSupervisor();
    void reconnectChangeSyncIfNeeded();
    void apply(const UploadSnapshot &snapshot);
    // Stops and starts the drive with the stored settings and keys; throws AppModelError with
    // the problem the start ended in.
    QCoro::Task<> restartDrive();
    // The client of the running engine, or none.
    std::optional<RCClient> runningClient() const;

    // --- Loops ---
    // The daily job runner: runs `job` while the drive runs, once a day after a success and 5
    // minutes after a failure or while the drive is down.
    TaskHandle<> daily(std::function<QCoro::Task<>(AppModelHooks, RCClient, CancelToken)> job);
    // Whether the file-system layer answers enabled within 5 s.
    QCoro::Task<bool> extensionEnabled();
    // Whether the hooks' file-system layer answers enabled within `limit`; a late answer counts
    // as off.
    static QCoro::Task<bool> extensionAnswer(AppModelHooks hooks, Milliseconds limit);

    // --- Network ---
    void networkChanged(bool online);

    // --- Stop ---
    // Holds the stopping flag while it lives: no change sync starts for an engine being stopped.
    class StoppingHold {
    public:
        explicit StoppingHold(AppModel &model);
        ~StoppingHold();
        StoppingHold(const StoppingHold &) = delete;
        StoppingHold &operator=(const StoppingHold &) = delete;

    private:
        QPointer<AppModel> m_model;
    };
    bool stopping() const { return m_stopping > 0; }
    // Stops a running copy-all and waits, within flushLimit, until it has ended and removed
    // the file it was writing.
    QCoro::Task<> stopCopyAll();
    // Stops change sync (publishing its changes first; within 5 s when online, not at all
    // offline), then the engine; records in `drained` whether nothing was left to upload.
    QCoro::Task<> stopDrive(bool waitForUploads);
    // Stops change sync for good: flushed within the limit when online, stopped at once when
    // offline; then clears it.
    QCoro::Task<> endChangeSync();
    // Runs op with a time limit on the hooks' sleep: whichever ends first, the other is
    // cancelled, and it returns once both have ended.
    QCoro::Task<> withTimeout(Milliseconds limit, std::function<QCoro::Task<>(CancelToken)> op);

    // --- Rescue of old cache folders ---
    QCoro::Task<> recoverOldCache(DriveSettings settings, StorageSecrets secrets, std::set<std::string> folders);
    QCoro::Task<> stopRecovery();

    // --- Late results ---
    // A sign-out runs: from the first step of signOut, before it reports anything.
    bool signOutRunning() const { return m_signingOut || m_signOutStep.has_value(); }
    // Whether a result fetched through the launch on `port` for the drive `deviceID` may still
    // be applied: same launch, same drive, no sign-out.
    bool stillCurrent(int port, const std::optional<QUuid> &deviceID) const;
    std::optional<QUuid> currentDeviceID() const;

    // A token cancelled with the caller's or with the model's lifetime.
    class ActionToken {
    public:
        ActionToken(const CancelToken &caller, const CancelToken &lifetime);
        CancelToken token() const { return m_source.token(); }

    private:
        LinkedCancelSource m_source;
        std::stop_callback<std::function<void()>> m_lifetime;
    };

    // The stored keys and passphrase; throws keysUnreadableText when none are stored, or the
    // store's error.
    QCoro::Task<std::pair<StorageSecrets, QString>> storedKeys();

    // --- Recently Deleted ---
    QCoro::Task<> loadDeleted(CancelToken token);

    // --- Settings ---
    // Writes "driveSettings" and the model's settings.
    void save(const DriveSettings &settings);
    // One drive change: sets isChangingDrive, and clears it again on every way out.
    class DriveChange {
    public:
        explicit DriveChange(AppModel &model);
        ~DriveChange();
        DriveChange(const DriveChange &) = delete;
        DriveChange &operator=(const DriveChange &) = delete;

    private:
        QPointer<AppModel> m_model;
    };
    // Whether a drive change may start: none runs and no sign-out does.
    bool driveChangeAllowed() const { return !m_isChangingDrive && !signOutRunning(); }

    // --- Sign-out ---
    QCoro::Task<qint64> pendingUploadsForSignOut();
    QCoro::Task<qint64> pendingTrashMovesForSignOut();
    QCoro::Task<bool> trashMovesFailingForSignOut();
    QCoro::Task<> stopForSignOut(bool waitForUploads);
    QCoro::Task<> finishSignOut();

    // Conflict copies reported by change sync, on the main thread.
    void takeConflictLines(const QStringList &lines);

    // --- State ---
    Phase m_phase;
    QString m_statusLine = startingText;
    QList<UploadRow> m_uploads;
    std::optional<QString> m_queuedSummary;
    QList<DeletedItem> m_deleted;
    std::optional<TrashStats> m_deletedTrashStats;
    bool m_deletedRefreshInProgress = false;
    std::optional<QDateTime> m_lastDeletedRefresh;
    std::optional<int> m_lastDeletedPort;
    bool m_deletedListOwed = false;
    std::optional<QDateTime> m_deletedRetryAt;
    int m_deletedRevision = 0;
    std::optional<DriveSettings> m_settings;
    bool m_isChangingDrive = false;
    qint64 m_pendingUploads = 0;
    bool m_online = true;
    bool m_isEjected = false;
    DriveEngine m_engineInUse = DriveEngine::nfs;
    DriveSearch::Index m_searchIndex;
    std::optional<QDateTime> m_searchIndexedAt;
    std::optional<SignOutStep> m_signOutStep;
    bool m_signOutDiscardedFiles = false;
    bool m_signOutPendingKnown = true;
    bool m_hasUploadProblem = false;
    bool m_cacheOutOfSpace = false; // as the last snapshot said
    QList<DriveConflict> m_conflicts;
    std::optional<QString> m_keepProgress;
    QList<PinStatus> m_keptItems;
    std::optional<QString> m_keepAlert;
    std::optional<KeepShared::KeepState> m_lastKeepState;

    std::shared_ptr<DriveSupervising> m_supervisor;
    std::shared_ptr<SecretStoring> m_secrets;
    std::shared_ptr<UserDefaults> m_defaults;
    std::shared_ptr<NetworkMonitoring> m_network;
    AppModelHooks m_hooks;
    bool m_rcloneFound;
    std::shared_ptr<SetupConnecting> m_setupConnection;
    AppModelIPhone *m_iPhone; // child object

    std::shared_ptr<ChangeSyncing> m_changeSync;
    std::optional<int> m_changeSyncPort;
    TaskHandle<> m_refreshTask;
    TaskHandle<> m_purgeTask;
    TaskHandle<> m_recoveryTask;
    bool m_signingOut = false;
    int m_openWindows = 0;
    bool m_drained = false;
    int m_stopping = 0; // StoppingHolds alive
    std::shared_ptr<SetOnceFlag> m_signOutCancel;
    std::shared_ptr<SetOnceFlag> m_signOutForce;
    std::shared_ptr<ConflictLines> m_conflictLines;
    CopyAllRun *m_copyAllRun; // child object

    // The launch in progress, which a second launch waits for.
    struct LaunchRun;
    std::shared_ptr<LaunchRun> m_launchRun;
    CancelSource m_lifetime;
    Log m_log{"app"};

    friend class AppModelTestAccess;
};

} // namespace DriveCore
