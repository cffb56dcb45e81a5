#pragma once

#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/platform/ProcessLaunching.h"
#include "DriveCore/support/UserTextError.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace DriveCore {

// The engine supervisor's small operations that touch the platform: its remote-control
// password, the last line of the engine's log, and which folders it may force-unmount.
namespace SupervisorTools {

// A path that is not one of this drive's mount folders was to be force-unmounted.
using UnmountRefused = UserTextError<struct UnmountRefusedTag>;

// 32 bytes from the system's secure random source as 64 lower-case hexadecimal digits.
// Throws Crypto::Error.
QString randomPassword();

// The last line of the file that holds more than spaces and tabs, trimmed of them, read from
// its last 65,536 bytes as UTF-8 (invalid bytes replaced). Lines end at LF, VT, FF, CR, CR LF,
// NEL, U+2028 and U+2029. None when the file cannot be read or has no such line.
std::optional<QString> lastNonEmptyLine(const QString &path);

// ~/Mounts/<name>, for a name that is there, not empty, not "." or "..", and without "/" or
// NUL; none otherwise.
std::optional<QString> allowedMountPath(const std::optional<QString> &driveName);

// The folders that may be force-unmounted: the allowed mount path of the settings' drive name
// (when there is one), then their backing folder. None without settings.
QStringList allowedMountPaths(const std::optional<DriveSettings> &settings);

// Unmounts, with force, the allowed path that `path` names (compared without ".", ".." and
// trailing "/"). Throws UnmountRefused, running nothing, for any other path.
QCoro::Task<> forceUnmount(std::shared_ptr<ProcessLaunching> launcher, std::optional<DriveSettings> settings,
                           QString path);

} // namespace SupervisorTools

} // namespace DriveCore
