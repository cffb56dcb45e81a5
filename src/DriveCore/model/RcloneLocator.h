#pragma once

#include <QMap>
#include <QString>

#include <optional>

namespace DriveCore {

// Finds the engine program the whole drive runs. Usable means a regular file with an execute
// bit, nothing more: not its version, not that it is the engine.
namespace RcloneLocator {

inline constexpr const char *environmentKey = "CORVANE_DRIVE_RCLONE";
// Relative to the installation prefix (the folder above the executable's folder).
inline constexpr const char *helperPath = "libexec/corvane-drive/rclone";
// Relative to a development tree: an engine a developer built or put there, and the marker that
// the tree is this project's source tree (the application's own build file). Found from a program
// built inside the tree (<tree>/build/bin/corvane-drive); a build folder elsewhere names its
// engine through CORVANE_DRIVE_RCLONE or <build>/libexec/corvane-drive/rclone.
inline constexpr const char *repoBuildPath = "build/rclone";
inline constexpr const char *repoMarkerPath = "src/CorvaneDrive/CMakeLists.txt";

// The first usable of: the installed helper beside `executable` (<prefix>/libexec/...), the
// program named by CORVANE_DRIVE_RCLONE in `environment`, the development build above
// `executable`. None when none is usable. An installed helper always wins over the variable.
std::optional<QString> locate(const QString &executable, const QMap<QString, QString> &environment);
// The same for this process: its executable (/proc/self/exe) and environment.
std::optional<QString> locate();

// Walks up from the folder of `executable` (symbolic links resolved) to a folder holding an
// executable "build/rclone" and the marker; the root is never searched.
std::optional<QString> repoBuild(const QString &executable);

bool isUsable(const QString &path);

} // namespace RcloneLocator

} // namespace DriveCore
