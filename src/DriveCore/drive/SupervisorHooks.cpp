#include "DriveCore/drive/SupervisorHooks.h"

#include "DriveCore/drive/SupervisorTools.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/mount/FSKitMount.h"
#include "DriveCore/mount/LeftoverDrive.h"
#include "DriveCore/mount/MountFolder.h"
#include "DriveCore/platform/Folders.h"
#include "DriveCore/support/Tasks.h"
#include "DriveCore/support/Threads.h"

namespace DriveCore {

namespace {

using namespace std::chrono_literals;

constexpr auto healthInterval = 30s;
constexpr auto backingLimit = 20s;

SupervisorHooks makeLive()
{
    return SupervisorHooks{
        .sleep = [](std::chrono::milliseconds duration,
                    CancelToken token) { return DriveCore::sleep(duration, token); },
        .healthTick = [](CancelToken token) { return DriveCore::sleep(healthInterval, token); },
        .ping = [](RCClient rc, CancelToken token) -> QCoro::Task<bool> { co_return co_await rc.ping(token); },
        .pendingUploads = [](RCClient rc, CancelToken token) -> QCoro::Task<qint64> {
            const VFSStats stats = co_await rc.vfsStats(QString::fromLatin1(RCClient::mountFs), token);
            co_return stats.diskCache.uploadsInProgress + stats.diskCache.uploadsQueued;
        },
        .obscure = [](QString text) -> QCoro::Task<QString> { co_return RcloneCommand::obscure(text); },
        .prepare =
            [](const DriveSettings &settings) {
                Folders::makePath(DriveLayout::logDir());
                Folders::makePath(DriveLayout::keepDir());
                Folders::makePath(DriveLayout::mountPath(settings.driveName));
                Folders::makePath(DriveLayout::backingPath(settings.deviceID));
            },
        .checkMountFolder =
            [](const DriveSettings &settings) {
                MountFolder::check(DriveLayout::mountPath(settings.driveName), settings.driveName);
            },
        .now = [] { return ContinuousClock::now(); },
        .lastLogLine = SupervisorHooks::liveLastLogLine,
    };
}

} // namespace

std::optional<QString> SupervisorHooks::liveLastLogLine()
{
    return SupervisorTools::lastNonEmptyLine(DriveLayout::logFile());
}

void SupervisorHooks::liveCheckBackingFolder(const DriveSettings &settings)
{
    MountFolder::check(DriveLayout::backingPath(settings.deviceID), settings.driveName);
}

QCoro::Task<> SupervisorHooks::liveWaitForBacking(QString path, CancelToken token)
{
    return MountFolder::waitForNFSMount(std::move(path), backingLimit, MountFolder::isNFSMounted, std::move(token));
}

QCoro::Task<> SupervisorHooks::liveMountFSKit(QString backing, QString mount, QString volumeName, bool readOnly,
                                              CancelToken token)
{
    return FSKitMount::mount(std::move(backing), std::move(mount), std::move(volumeName), readOnly, std::move(token));
}

bool SupervisorHooks::liveIsFSKitMounted(const QString &path)
{
    return FSKitMount::isFSKitMounted(path);
}

bool SupervisorHooks::liveIsBackingMounted(const QString &path)
{
    return MountFolder::isNFSMounted(path);
}

QCoro::Task<int> SupervisorHooks::liveStopLeftovers(DriveSettings settings)
{
    return LeftoverDrive::stop(DriveLayout::cacheDir(settings.deviceID));
}

QCoro::Task<bool> SupervisorHooks::liveIsDeadMount(QString path)
{
    co_return co_await runInPool([path] { return MountFolder::isDeadMount(path); });
}

const SupervisorHooks &SupervisorHooks::live()
{
    static const SupervisorHooks hooks = makeLive();
    return hooks;
}

} // namespace DriveCore
