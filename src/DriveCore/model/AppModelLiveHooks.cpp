// The production hooks: each closure turns one need of the app model into a call on a service
// or a platform layer, built afresh from its arguments for every call. Only the engine
// program's path and the phone store are captured.
#include "DriveCore/model/AppModelHooks.h"

#include "DriveCore/drive/SupervisorHooks.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/keys/DriveConnection.h"
#include "DriveCore/mount/CacheRecovery.h"
#include "DriveCore/mount/FSKitMount.h"
#include "DriveCore/mount/MountNudge.h"
#include "DriveCore/platform/FreeSpace.h"
#include "DriveCore/platform/KeepNotifications.h"
#include "DriveCore/platform/LoginItem.h"
#include "DriveCore/platform/StandardFolders.h"
#include "DriveCore/shares/RcloneShareStorage.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Clock.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Tasks.h"
#include "DriveCore/support/Threads.h"

#include <QCoreApplication>

namespace DriveCore {

namespace {

using namespace std::chrono_literals;

const QString filesFs = QStringLiteral("drivecrypt:Drive");
const QString trashFs = QStringLiteral("drivecrypt:Recently Deleted");
const QString metaFs = QStringLiteral("drivecrypt:.corvane");

RecentlyDeletedService::Nudge mountNudge()
{
    return [](QString mountPath, QString folder) { return MountNudge::background(mountPath, folder); };
}

RecentlyDeletedService trash(const RCClient &rc, std::optional<QString> mountPath)
{
    return RecentlyDeletedService(rc, trashFs, filesFs, std::move(mountPath), mountNudge());
}

// Awaits a task whose sibling failed, so that nothing outlives the snapshot; its own outcome
// no longer matters.
template<typename T>
QCoro::Task<> settle(QCoro::Task<T> &task)
{
    try {
        co_await task;
    } catch (const std::exception &) {
        // The snapshot already failed with the first error.
    }
}

QCoro::Task<UploadSnapshot> liveSnapshot(RCClient rc, CancelToken token)
{
    LinkedCancelSource children(token);
    QCoro::Task<CoreStats> stats = rc.coreStats(children.token());
    QCoro::Task<QList<Transferred>> transferred = rc.transferred(children.token());
    QCoro::Task<VFSStats> vfs = rc.vfsStats(filesFs, children.token());
    UploadSnapshot snapshot;
    int step = 0;
    std::exception_ptr error;
    try {
        snapshot.stats = co_await stats;
        step = 1;
        snapshot.transferred = co_await transferred;
        step = 2;
        snapshot.vfs = co_await vfs;
        step = 3;
    } catch (const std::exception &) {
        error = std::current_exception();
    }
    if (error) {
        children.cancel();
        if (step < 1)
            co_await settle(transferred);
        if (step < 2)
            co_await settle(vfs);
        std::rethrow_exception(error);
    }
    co_return snapshot;
}

QCoro::Task<TrashStats> liveTrashStats(RCClient rc, CancelToken token)
{
    const VFSStats stats = co_await rc.vfsStats(filesFs, token);
    co_return stats.trash.value_or(TrashStats{.pending = 0, .failing = 0});
}

QCoro::Task<> liveVerifyStorage(QString rclone, StorageSecrets secrets, QString passphrase, CancelToken token)
{
    DriveConnection connection(rclone);
    if (const std::optional<ConnectionError> problem = co_await connection.testStorage(secrets, token))
        throw AppModelError(problem->message());
    const PassphraseCheck check = co_await connection.checkPassphrase(passphrase, secrets, token);
    if (check != PassphraseCheck::correct)
        throw AppModelError(QStringLiteral("Your passphrase doesn't open the drive in that storage."));
}

QString logFolder()
{
    return DriveLayout::logDir();
}

// Waits for the drive, then copies the files left in old cache folders, this device's and
// those of earlier device ids of the same drive, into it.
QCoro::Task<> liveRecoverCache(RCClient rc, DriveSettings settings, StorageSecrets secrets,
                               std::set<std::string> folders, CancelToken token)
{
    static const Log log("cache-recovery");
    const QString cacheDir = DriveLayout::cacheDir(settings.deviceID, DriveProfile::current());
    const CacheRecovery::DriveIdentity drive{secrets.endpoint, secrets.bucket};
    // Named at every start, so that a later setup of this drive under a new device id (the
    // settings lost) finds what this device leaves unuploaded.
    const QStringList earlier = co_await runInPool([cacheDir, drive] {
        if (!CacheRecovery::markDrive(cacheDir, drive))
            log.error("Could not name the drive in its cache folder %{private}s", cacheDir);
        return CacheRecovery::earlierDeviceCaches(cacheDir, drive);
    });
    if (folders.empty() && earlier.isEmpty())
        co_return;
    const QString mount = DriveLayout::mountPath(settings.driveName);
    const CacheRecovery::ActiveName active = [rc](CancelToken token) -> QCoro::Task<std::optional<std::string>> {
        QStringList names;
        try {
            names = co_await rc.vfsList(token);
        } catch (const CancelledError &) {
            throw;
        } catch (const std::exception &) {
            // An engine that does not answer yet has no active cache.
        }
        co_return CacheRecovery::activeFolder(names);
    };
    const Sleep sleep = liveSleep();
    std::optional<CacheRecovery::Outcome> outcome;
    try {
        outcome = co_await CacheRecovery::recoverWhenMounted(cacheDir, std::move(folders), earlier, mount, 60, active,
                                                             CacheRecovery::isDriveMounted, CacheRecovery::fileCopier,
                                                             sleep, token);
    } catch (const CancelledError &) {
        co_return;
    }
    if (outcome) {
        log.info("Rescued %ld files; removed %ld old cache folders, kept %ld", qint64(outcome->recovered.size()),
                 qint64(outcome->removed.size()), qint64(outcome->kept.size()));
    }
}

// Posts `value` for the file-manager plug-in. One too large for a notification is not posted
// (the plug-in would drop it): the error line is the visible cause of blank badges.
template<typename T>
void postToPlugIn(std::string_view name, const T &value)
{
    if (const std::optional<std::string> json = KeepShared::KeepBridge::encode(value)) {
        KeepNotifications::post(name, json);
        return;
    }
    static const Log log("app");
    log.error("Not posting %{public}s: %ld bytes (the limit is %ld)", name,
              qint64(KeepShared::KeepBridge::encodedSize(value)), qint64(KeepShared::KeepBridge::maxPayloadBytes));
}

// Posts the badges. A snapshot too large for one notification goes out as its kept items
// alone when they fit, else not at all; either way the error line says what was dropped.
void postBadges(const KeepShared::FinderBadgeSnapshot &snapshot)
{
    using KeepShared::KeepBridge::badgesName;
    const std::optional<KeepShared::FinderBadgeSnapshot> posted = snapshot.notificationState();
    const std::optional<std::string> json = posted ? KeepShared::KeepBridge::encode(*posted) : std::nullopt;
    if (posted && *posted == snapshot) {
        KeepNotifications::post(badgesName, json);
        return;
    }
    static const Log log("app");
    const qint64 size = qint64(KeepShared::KeepBridge::encodedSize(snapshot));
    const qint64 limit = qint64(KeepShared::KeepBridge::maxPayloadBytes);
    if (json) {
        log.error("Posting %{public}s with its kept items alone, without %ld pending uploads: %ld bytes (the limit "
                  "is %ld)",
                  badgesName, qint64(snapshot.pending().size()), size, limit);
        KeepNotifications::post(badgesName, json);
        return;
    }
    log.error("Not posting %{public}s: %ld bytes (the limit is %ld)", badgesName, size, limit);
}

std::shared_ptr<ChangeSyncing> liveChangeSync(RCClient rc, DriveSettings settings)
{
    return ChangeSync::make(std::move(rc), settings.deviceID, DriveLayout::mountPath(settings.driveName), metaFs,
                            std::chrono::seconds(30), std::chrono::seconds(600),
                            logFolder() + QStringLiteral("/rclone.log"));
}

} // namespace

AppModelHooks AppModelHooks::live(const QString &rcloneURL)
{
    const QString rclone = rcloneURL;
    return AppModelHooks{
        .snapshot = liveSnapshot,
        .pendingUploads = SupervisorHooks::live().pendingUploads,
        .trashStats = liveTrashStats,
        .listDeleted = [](RCClient rc, QString mountPath,
                          CancelToken token) { return trash(rc, mountPath).list(token); },
        .restore = [](RCClient rc, QString mountPath, DeletedItem item,
                      CancelToken token) { return trash(rc, mountPath).restore(std::move(item), token); },
        .deleteNow = [](RCClient rc, DeletedItem item,
                        CancelToken token) { return trash(rc, std::nullopt).deleteNow(std::move(item), token); },
        .emptyTrash = [](RCClient rc, CancelToken token) { return trash(rc, std::nullopt).empty(token); },
        .purgeExpired = [](RCClient rc, CancelToken token) { return trash(rc, std::nullopt).purgeExpired(token); },
        .resolveConflict =
            [](RCClient rc, std::optional<QString> mountPath, DriveConflict conflict, ConflictChoice choice,
               CancelToken token) {
                return ConflictResolver(rc, filesFs, trashFs, mountNudge(), std::move(mountPath))
                    .resolve(std::move(conflict), choice, token);
            },
        .makeChangeSync = liveChangeSync,
        .verifyStorage =
            [rclone](StorageSecrets secrets, QString passphrase, CancelToken token) {
                return liveVerifyStorage(rclone, std::move(secrets), std::move(passphrase), token);
            },
        .setLoginItem =
            [](bool on) { LoginItem::set(on, QCoreApplication::applicationFilePath(), DriveProfile::current()); },
        .freeDiskBytes = [] { return FreeSpace::available(StandardFolders::home()); },
        .localData =
            [](const DriveSettings &settings) {
                const std::optional<QString> &profile = DriveProfile::current();
                return DriveLocalData{
                    .cache = DriveLayout::cacheDir(settings.deviceID, profile),
                    .logs = logFolder(),
                    .keep = DriveLayout::keepDir(profile),
                    .mountFolder = DriveLayout::mountPath(settings.driveName),
                    .backing = DriveLayout::backingPath(settings.deviceID, profile),
                };
            },
        .cacheFolders =
            [](const DriveSettings &settings) {
                return CacheRecovery::folders(DriveLayout::cacheDir(settings.deviceID, DriveProfile::current()));
            },
        .recoverCache = liveRecoverCache,
        .sleep = [](Milliseconds duration, CancelToken token) { return DriveCore::sleep(duration, std::move(token)); },
        .now = [] { return QDateTime::currentDateTime(); },
        .fskitAvailable = [] { return FSKitMount::extensionEnabled(); },
        .phoneSync = std::make_shared<NoPhoneSync>(),
        .copyAll =
            [rclone](StorageSecrets secrets, QString passphrase, QString destination,
                     std::function<void(const CopyProgress &)> progress, CancelToken token) {
                return CopyAllFiles::copyAll(DriveConnection(rclone), std::move(destination), std::move(secrets),
                                             std::move(passphrase), std::move(progress), token);
            },
        .driveSize =
            [rclone](StorageSecrets secrets, QString passphrase, CancelToken token) {
                return CopyAllFiles::driveSize(DriveConnection(rclone), std::move(secrets), std::move(passphrase),
                                               token);
            },
        .postFinderBadges = postBadges,
        .postKeepState =
            [](const KeepShared::KeepState &state) { postToPlugIn(KeepShared::KeepBridge::stateName, state); },
        .shareStorage = [rclone](const StorageSecrets &secrets) -> std::shared_ptr<ShareStorage> {
            Environment environment;
            const Environment all = RcloneCommand::environment(secrets, QString());
            for (auto it = all.cbegin(); it != all.cend(); ++it) {
                if (it.key().startsWith(QLatin1String("RCLONE_CONFIG_DRIVE_")))
                    environment.insert(it.key(), it.value());
            }
            environment.insert(QStringLiteral("RCLONE_CONFIG"), QStringLiteral("/dev/null"));
            return std::make_shared<RcloneShareStorage>(
                RcloneShareStorage::forDrive(rclone, environment, secrets.bucket));
        },
    };
}

} // namespace DriveCore
