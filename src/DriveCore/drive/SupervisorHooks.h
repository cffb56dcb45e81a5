#pragma once

#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/RCClient.h"
#include "DriveCore/platform/ContinuousClock.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Clock.h"

#include <QCoroTask>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace DriveCore {

// Everything the engine supervisor does to the platform besides starting processes, as
// replaceable operations. Any may be called from any task; none is bound to the main thread.
// Operations that wait take a cancel token and throw CancelledError once it is cancelled.
//
// Tests supply the first nine (designated initialisers); the last seven default to the
// production behaviour, as in live().
struct SupervisorHooks {
    using Instant = ContinuousClock::time_point;
    using Milliseconds = std::chrono::milliseconds;

    static std::optional<QString> liveLastLogLine();
    static void liveCheckBackingFolder(const DriveSettings &settings);
    static QCoro::Task<> liveWaitForBacking(QString path, CancelToken token);
    static QCoro::Task<> liveMountFSKit(QString backing, QString mount, QString volumeName, bool readOnly,
                                        CancelToken token);
    static bool liveIsFSKitMounted(const QString &path);
    static bool liveIsBackingMounted(const QString &path);
    static QCoro::Task<int> liveStopLeftovers(DriveSettings settings);
    static QCoro::Task<bool> liveIsDeadMount(QString path);

    // Every pause of the supervisor.
    Sleep sleep;
    // The wait between two health checks (30 s).
    std::function<QCoro::Task<>(CancelToken)> healthTick;
    // Whether the engine answers "core/version" (within 5 s); never throws.
    std::function<QCoro::Task<bool>(RCClient, CancelToken)> ping;
    // Uploads in progress plus queued of the mounted drive; throws the call's error.
    std::function<QCoro::Task<qint64>(RCClient, CancelToken)> pendingUploads;
    // The passphrase in the engine's obscured form; throws RcloneCommand::ObscureError.
    std::function<QCoro::Task<QString>(QString)> obscure;
    // Creates the log, keep, mount and backing folders, in that order; throws
    // std::system_error for the first that cannot be made.
    std::function<void(const DriveSettings &)> prepare;
    // Throws MountFolder::Problem when the mount folder cannot take the drive.
    std::function<void(const DriveSettings &)> checkMountFolder;
    // The current instant, time asleep included.
    std::function<Instant()> now;
    // The last non-empty line of the engine's log; never throws.
    std::function<std::optional<QString>()> lastLogLine;

    // The same check as checkMountFolder, on the backing folder.
    std::function<void(const DriveSettings &)> checkBackingFolder = liveCheckBackingFolder;
    // Waits up to 20 s for the engine's own mount at a path; throws MountFolder::Problem.
    std::function<QCoro::Task<>(QString, CancelToken)> waitForBacking = liveWaitForBacking;
    // Mounts the file-system layer (backing, mount folder, volume name, read-only); throws
    // FSKitMount::Problem or the launch error of its command.
    std::function<QCoro::Task<>(QString, QString, QString, bool, CancelToken)> mountFSKit = liveMountFSKit;
    std::function<bool(const QString &)> isFSKitMounted = liveIsFSKitMounted;
    // Whether the engine's own mount is at a path (on this platform a FUSE mount).
    std::function<bool(const QString &)> isBackingMounted = liveIsBackingMounted;
    // Stops engines left running for the settings' cache folder; how many it found. Never
    // throws.
    std::function<QCoro::Task<int>(DriveSettings)> stopLeftovers = liveStopLeftovers;
    // Whether a mount whose daemon died is at a path (MountFolder::isDeadMount, off the main
    // thread). Never throws.
    std::function<QCoro::Task<bool>(QString)> isDeadMount = liveIsDeadMount;

    // The production behaviour of all sixteen.
    static const SupervisorHooks &live();
};

} // namespace DriveCore
