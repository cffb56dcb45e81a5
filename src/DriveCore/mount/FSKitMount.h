#pragma once

#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Clock.h"
#include "DriveCore/support/UserTextError.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace DriveCore {

// The file-system layer that shows the engine's mount (in the backing folder) at the visible
// mount folder. Here it is a bindfs passthrough mounted with the FUSE subtype "ovra", so the
// mount table lists it as "fuse.ovra", read as "ovra".
namespace FSKitMount {

// A mount that failed.
using Problem = UserTextError<struct FSKitMountProblemTag>;

inline constexpr const char *extensionID = "com.corvane.drive.fskit";

// The failure text of every mount failure (177 bytes).
inline constexpr const char *mountFailedText =
    "Ovra couldn't show the drive in your file manager. Try again, or check that Ovra File System is on "
    "(bindfs installed and /dev/fuse usable; Show How\u2026 in Ovra's menu tells how).";
QString unusableNameText(const QString &volumeName);

// Where the layer's tools are, and how long a mount may take to appear. Tests point these at
// their own.
struct Setup {
    QString program = QStringLiteral("/usr/bin/bindfs");
    QString fuseDevice = QStringLiteral("/dev/fuse");
    std::chrono::milliseconds limit = std::chrono::seconds(20);
};

// bindfs's arguments: ["-r"] "-o" <options> <backing> <mount>, with the kernel's attribute
// and entry caches off, so that changes made below the layer show at once, writes in large
// pieces and extended attributes not supported (the engine keeps none). Throws Problem
// for a volume name that is empty or holds "," or "=" (the name once went into the mount
// options, and the rule stays).
QStringList mountArguments(const QString &backing, const QString &mount, const QString &volumeName, bool readOnly);

// Mounts the layer over `backing` at `at` and returns once the mount table shows it. Throws
// Problem for an unusable name, a failing command or a mount that does not appear within
// the limit; ProcessRunner::LaunchError when bindfs cannot be started; CancelledError.
QCoro::Task<> mount(QString backing, QString at, QString volumeName, bool readOnly, CancelToken token = {});
QCoro::Task<> mount(QString backing, QString at, QString volumeName, bool readOnly, Setup setup,
                    CancelToken token = {});

// Polls every 0.2 s until isMounted(path) holds, testing before the deadline (so a limit of 0
// still tests once); Problem(mountFailedText) once `limit` has passed; CancelledError when
// `token` is cancelled.
QCoro::Task<> waitForMount(QString path, std::chrono::milliseconds limit,
                           std::function<bool(const QString &)> isMounted, CancelToken token = {});

// Whether the layer (type "ovra", any case) is mounted at exactly `path`.
bool isFSKitMounted(const QString &path);

// Whether the drive is mounted under either engine: the engine's own type exactly
// (DriveEngine::engineMountType), or the layer's type in any case.
bool isDriveMounted(const QString &path);
bool isDriveMounted(const QStringList &types);

// Whether the layer can be mounted: bindfs is there and the FUSE device can be opened.
QCoro::Task<bool> extensionEnabled();
QCoro::Task<bool> extensionEnabled(Setup setup);

// body()'s answer, or false when it has not answered within `limit`. The body runs on to its
// end after a time-out; its late answer is dropped. The limit is waited through `sleep`.
QCoro::Task<bool> answer(std::chrono::milliseconds limit, std::function<QCoro::Task<bool>()> body,
                         Sleep sleep = liveSleep());

} // namespace FSKitMount

} // namespace DriveCore
