#pragma once

#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/UserTextError.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace DriveCore {

// The folders the drive is mounted at: whether one can take the drive, what is mounted on
// it, and the wait for the engine's own mount.
namespace MountFolder {

// A folder that cannot take the drive.
using Problem = UserTextError<struct MountFolderProblemTag>;

using PathTest = std::function<bool(const QString &path)>;

inline constexpr const char *notAppearedText = "The drive didn't appear in the file manager. Try reconnecting it.";
QString inUseText(const QString &driveName);
QString strayFilesText(const QString &folder);
// A folder that still holds the mount of an engine that died, and could not be cleared.
QString deadMountText(const QString &driveName);

// Whether something is mounted at `path`: the mount table lists it or its resolved path, or
// it lies on another device than its parent folder. A FUSE mount whose daemon died counts,
// although nothing can be read from it any more.
bool isMountPoint(const QString &path);

// Whether a FUSE mount whose daemon died is at `path`: looking at it fails with ENOTCONN (or
// ECONNABORTED once the connection was aborted), past any attributes cached while it lived.
// Stats the path: run it off the main thread, since a live but stuck mount can hold the call.
bool isDeadMount(const QString &path);

// Throws Problem when `folder` cannot take the drive: something is mounted on it, it is not
// a folder, or it holds anything (".DS_Store" alone is fine). A folder that is not there is
// fine: the caller makes it. Stats the folder: called on the thread pool.
void check(const QString &folder, const QString &driveName, const PathTest &isMountPoint = MountFolder::isMountPoint);

// The file-system types mounted at exactly `path`, in table order ("fuse.<x>" read as "<x>").
QStringList fileSystemTypes(const QString &mountedAt);

// Whether the engine's own mount is at `path`. The name stays from the platforms where the
// engine serves NFS; on this platform the engine mounts through FUSE, so this tests for its
// FUSE type, DriveEngine::engineMountType, exactly.
bool isNFSMounted(const QString &path);

// Waits for the engine's own mount (named as isNFSMounted; here a FUSE mount): polls every
// 0.2 s until isMounted(path) holds; throws Problem(notAppearedText) once `limit` has passed,
// and CancelledError when `token` is cancelled.
QCoro::Task<> waitForNFSMount(QString path, std::chrono::milliseconds limit, PathTest isMounted,
                              CancelToken token = {});

} // namespace MountFolder

} // namespace DriveCore
