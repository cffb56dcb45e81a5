#pragma once

#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/RCClient.h"
#include "DriveCore/keys/PhoneSync.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/mount/ChangeSync.h"
#include "DriveCore/platform/ContinuousClock.h"
#include "DriveCore/services/ConflictResolver.h"
#include "DriveCore/services/CopyAllFiles.h"
#include "DriveCore/services/DriveSearch.h"
#include "DriveCore/services/KeepOnMac.h"
#include "DriveCore/services/RecentlyDeleted.h"
#include "DriveCore/shares/ShareStorage.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Clock.h"
#include "KeepShared/FinderBadges.h"
#include "KeepShared/KeepBridge.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace DriveCore {

// One poll of the engine's transfer state: exactly the three replies, nothing else.
struct UploadSnapshot {
    CoreStats stats;
    QList<Transferred> transferred;
    VFSStats vfs;
};

// The drive's local folders, for sign-out. Nothing is made or tested on disk.
struct DriveLocalData {
    QString cache;
    QString logs;
    QString keep;
    QString mountFolder;
    QString backing;

    bool operator==(const DriveLocalData &) const = default;
};

// Everything the app model reaches outside itself, besides the supervisor, the key store, the
// defaults and the network monitor, as replaceable operations. A value: copies share nothing
// mutable, and each closure may be called from any task. Operations that wait take a cancel
// token last and throw CancelledError once it is cancelled.
//
// Tests build a record with designated initialisers; the nine operations with a default
// below (and phoneSync) may be left out. The engine calls name the file system
// "drivecrypt:Drive" (RCClient::mountFs).
struct AppModelHooks {
    using Milliseconds = std::chrono::milliseconds;

    // How long the default mount wait waits, and how often it looks.
    static constexpr Milliseconds mountWaitLimit = std::chrono::seconds(20);
    static constexpr Milliseconds mountPollInterval = std::chrono::milliseconds(200);

    // Production defaults of the operations that need nothing but their arguments.
    static QCoro::Task<> defaultCheckMountDestination(QString driveName, CancelToken token);
    static QCoro::Task<> defaultWaitForMount(QString driveName, CancelToken token);
    // The default mount wait over its parts: reads `mounted` at once and after each pause of
    // mountPollInterval through `sleep` until it holds; MountFolder::Problem(notAppearedText)
    // once mountWaitLimit has passed on `now`; CancelledError once `token` is cancelled.
    static QCoro::Task<> pollForMount(std::function<bool()> mounted, Sleep sleep,
                                      std::function<ContinuousClock::time_point()> now, CancelToken token);
    static bool defaultCacheHasPendingWork(const DriveSettings &settings);
    static QCoro::Task<PinsReply> defaultPins(RCClient rc, CancelToken token);
    static QCoro::Task<PinResult> defaultPin(RCClient rc, QStringList paths, CancelToken token);
    static QCoro::Task<> defaultUnpin(RCClient rc, QStringList paths, CancelToken token);
    static QCoro::Task<> defaultPinScan(RCClient rc, CancelToken token);
    static QCoro::Task<QList<DriveSearchEntry>> defaultSearchListing(RCClient rc, CancelToken token);
    static QCoro::Task<QStringList> defaultBadgeQueue(RCClient rc, CancelToken token);

    // 1. One poll of upload state for the refresh loop; fails as a whole.
    std::function<QCoro::Task<UploadSnapshot>(RCClient, CancelToken)> snapshot;
    // 2. Files uploading plus queued; 0 is nothing pending.
    std::function<QCoro::Task<qint64>(RCClient, CancelToken)> pendingUploads;
    // 3. Deletions still moving to Recently Deleted.
    std::function<QCoro::Task<TrashStats>(RCClient, CancelToken)> trashStats;
    // 4. The Recently Deleted listing (client, mount folder).
    std::function<QCoro::Task<QList<DeletedItem>>(RCClient, QString, CancelToken)> listDeleted;
    // 5. Restores one item; the drive path it was restored to.
    std::function<QCoro::Task<QString>(RCClient, QString, DeletedItem, CancelToken)> restore;
    // 6. Removes one item from Recently Deleted for good.
    std::function<QCoro::Task<>(RCClient, DeletedItem, CancelToken)> deleteNow;
    // 7. Removes everything in Recently Deleted.
    std::function<QCoro::Task<>(RCClient, CancelToken)> emptyTrash;
    // 8. Removes the entries past their 30 days; how many.
    std::function<QCoro::Task<int>(RCClient, CancelToken)> purgeExpired;
    // 9. Resolves one conflict copy (client, mount folder if known, conflict, choice).
    std::function<QCoro::Task<ConflictOutcome>(RCClient, std::optional<QString>, DriveConflict, ConflictChoice,
                                               CancelToken)>
        resolveConflict;
    // 10. A new change-sync engine for one engine launch, not started.
    std::function<std::shared_ptr<ChangeSyncing>(RCClient, DriveSettings)> makeChangeSync;
    // 11. Succeeds only when the storage answers and the passphrase opens the drive there.
    std::function<QCoro::Task<>(StorageSecrets, QString, CancelToken)> verifyStorage;
    // 12. Registers (true) or removes (false) the login item; throws on failure.
    std::function<void(bool)> setLoginItem;
    // 13. Free bytes on the user's disk; 0 when unknown.
    std::function<qint64()> freeDiskBytes;
    // 14. The drive's local folders.
    std::function<DriveLocalData(const DriveSettings &)> localData;
    // 15. The names of the drive's cache folders present now.
    std::function<std::set<std::string>(const DriveSettings &)> cacheFolders;
    // 16. Rescues unuploaded files from those old cache folders, and from the caches that
    // earlier device ids of the same drive (the storage's endpoint and bucket) left on this
    // computer, after naming the drive in this device's cache; never throws.
    std::function<QCoro::Task<>(RCClient, DriveSettings, StorageSecrets, std::set<std::string>, CancelToken)>
        recoverCache;
    // 17. Waits; throws CancelledError once the token is cancelled.
    std::function<QCoro::Task<>(Milliseconds, CancelToken)> sleep;
    // 18. The current date and time.
    std::function<QDateTime()> now;
    // 19. Fails (MountFolder::Problem) when the mount folder for the drive name can't be used.
    std::function<QCoro::Task<>(QString, CancelToken)> checkMountDestination = defaultCheckMountDestination;
    // 20. Returns once the drive is mounted at its folder; fails after 20 s.
    std::function<QCoro::Task<>(QString, CancelToken)> waitForMount = defaultWaitForMount;
    // 21. Whether the file-system layer can be used.
    std::function<QCoro::Task<bool>()> fskitAvailable;
    // 22. The phone sync store.
    std::shared_ptr<PhoneSyncStoring> phoneSync = std::make_shared<NoPhoneSync>();
    // 23. Whether the cache folder still holds unuploaded files or unfinished deletions. Blocks.
    std::function<bool(const DriveSettings &)> cacheHasPendingWork = defaultCacheHasPendingWork;
    // 24. Copies every file of the drive into a local folder.
    std::function<QCoro::Task<>(StorageSecrets, QString, QString, std::function<void(const CopyProgress &)>,
                                CancelToken)>
        copyAll;
    // 25. Total size of the drive's files.
    std::function<QCoro::Task<qint64>(StorageSecrets, QString, CancelToken)> driveSize;
    // 26.-29. The engine's pins.
    std::function<QCoro::Task<PinsReply>(RCClient, CancelToken)> pins = defaultPins;
    std::function<QCoro::Task<PinResult>(RCClient, QStringList, CancelToken)> pin = defaultPin;
    std::function<QCoro::Task<>(RCClient, QStringList, CancelToken)> unpin = defaultUnpin;
    std::function<QCoro::Task<>(RCClient, CancelToken)> pinScan = defaultPinScan;
    // 30. The name index for search.
    std::function<QCoro::Task<QList<DriveSearchEntry>>(RCClient, CancelToken)> searchListing = defaultSearchListing;
    // 31. Paths waiting to upload, for the badges.
    std::function<QCoro::Task<QStringList>(RCClient, CancelToken)> badgeQueue = defaultBadgeQueue;
    // 32. Sends the badge snapshot to the file-manager plug-in.
    std::function<void(const KeepShared::FinderBadgeSnapshot &)> postFinderBadges;
    // 33. Sends the keep state to the plug-in.
    std::function<void(const KeepShared::KeepState &)> postKeepState;
    // 34. The store share links are written to, for these keys.
    std::function<std::shared_ptr<ShareStorage>(const StorageSecrets &)> shareStorage;

    // The production record for the engine program (AppModelLiveHooks.cpp). Builds nothing but
    // the phone store; every call makes the services it needs afresh.
    static AppModelHooks live(const QString &rcloneURL);
};

} // namespace DriveCore
