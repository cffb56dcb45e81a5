#pragma once

#include "DriveCore/mount/FSKitMount.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <functional>

namespace DriveCore {

// Makes the file manager re-read a folder of the mounted drive whose contents changed without
// its doing (another computer's changes arriving): a short-lived hidden folder is made in it
// and removed at once, which the file manager's watch on the folder reports.
namespace MountNudge {

inline constexpr const char *prefix = ".corvane-refresh-";

// Names of nudge folders.
bool isNudgeName(const QString &name);
// Names the drive's own machinery makes, which watchers and refreshers skip: nudge folders
// and the cache rescue's copies (beginning or ending with ".corvane-recovering").
bool isIgnoredName(const QString &name);

using FSKitTest = std::function<bool(const QString &mountPath)>;
using Refresh = std::function<int(const QString &folder)>;

// FSKitRefresh::refreshFiles at the current time.
int refreshFilesNow(const QString &folder);

// Nudges `folder` (a path inside the drive; "" is its root; empty pieces are ignored; a ".."
// piece makes it do nothing) below `mountPath`, then, when the layer is mounted there,
// refreshes the folder's files. Never fails; problems are logged.
void nudge(const QString &mountPath, const QString &folder, const FSKitTest &isFSKit = FSKitMount::isFSKitMounted,
           const Refresh &refresh = refreshFilesNow);

// The names of the folders directly in the mount folder, hidden ones left out, sorted.
QStringList topLevelFolders(const QString &mountPath);

// Replaceable for the whole process (tests replace them). The initial values run nudge() and
// topLevelFolders() off the main thread and wait for the end, or the result.
using Background = std::function<QCoro::Task<>(QString mountPath, QString folder)>;
using BackgroundTopFolders = std::function<QCoro::Task<QStringList>(QString mountPath)>;
extern Background background;
extern BackgroundTopFolders backgroundTopFolders;

} // namespace MountNudge

} // namespace DriveCore
