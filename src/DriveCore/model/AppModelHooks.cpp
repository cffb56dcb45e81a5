#include "DriveCore/model/AppModelHooks.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/mount/FSKitMount.h"
#include "DriveCore/mount/MountFolder.h"
#include "DriveCore/mount/VFSCacheScan.h"
#include "DriveCore/platform/ContinuousClock.h"
#include "DriveCore/support/Tasks.h"
#include "DriveCore/support/Threads.h"

namespace DriveCore {

QCoro::Task<> AppModelHooks::defaultCheckMountDestination(QString driveName, CancelToken token)
{
    checkCancelled(token);
    co_await runInPool([driveName] { MountFolder::check(DriveLayout::mountPath(driveName), driveName); });
}

QCoro::Task<> AppModelHooks::defaultWaitForMount(QString driveName, CancelToken token)
{
    const QString folder = DriveLayout::mountPath(driveName);
    co_await pollForMount([folder] { return FSKitMount::isDriveMounted(MountFolder::fileSystemTypes(folder)); },
                          liveSleep(), ContinuousClock::now, token);
}

QCoro::Task<> AppModelHooks::pollForMount(std::function<bool()> mounted, Sleep sleep,
                                          std::function<ContinuousClock::time_point()> now, CancelToken token)
{
    const ContinuousClock::time_point deadline = now() + mountWaitLimit;
    for (;;) {
        checkCancelled(token);
        if (mounted())
            co_return;
        if (now() >= deadline)
            throw MountFolder::Problem(QString::fromUtf8(MountFolder::notAppearedText));
        co_await sleep(mountPollInterval, token);
    }
}

bool AppModelHooks::defaultCacheHasPendingWork(const DriveSettings &settings)
{
    const QString cacheDir = DriveLayout::cacheDir(settings.deviceID, DriveProfile::current());
    return VFSCacheScan::hasUnuploadedFiles(cacheDir) || VFSCacheScan::hasPendingTrashMoves(cacheDir);
}

QCoro::Task<PinsReply> AppModelHooks::defaultPins(RCClient rc, CancelToken token)
{
    co_return co_await DriveCore::pins(rc, QString::fromLatin1(RCClient::mountFs), token);
}

QCoro::Task<PinResult> AppModelHooks::defaultPin(RCClient rc, QStringList paths, CancelToken token)
{
    co_return co_await DriveCore::pin(rc, std::move(paths), QString::fromLatin1(RCClient::mountFs), token);
}

QCoro::Task<> AppModelHooks::defaultUnpin(RCClient rc, QStringList paths, CancelToken token)
{
    // The freed byte count is not shown anywhere.
    co_await DriveCore::unpin(rc, std::move(paths), QString::fromLatin1(RCClient::mountFs), token);
}

QCoro::Task<> AppModelHooks::defaultPinScan(RCClient rc, CancelToken token)
{
    co_await DriveCore::pinScan(rc, QString::fromLatin1(RCClient::mountFs), token);
}

QCoro::Task<QList<DriveSearchEntry>> AppModelHooks::defaultSearchListing(RCClient rc, CancelToken token)
{
    co_return co_await DriveSearch::searchListing(rc, token);
}

QCoro::Task<QStringList> AppModelHooks::defaultBadgeQueue(RCClient rc, CancelToken token)
{
    co_return co_await rc.queuedUploads(QString::fromLatin1(RCClient::mountFs), token);
}

} // namespace DriveCore
