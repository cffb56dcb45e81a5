#pragma once

#include <QString>

#include <chrono>

namespace DriveCore {

// Makes the file-system layer show the current state of a folder's files after they changed
// below it.
//
// Elsewhere the layer caches attributes and pages, and a refresh touches each file (chmod,
// truncate, msync) to drop them. Here the layer is a bindfs passthrough: those touches would
// reach the engine as real changes and could queue every touched file for upload again. The
// layer is instead mounted with the kernel's attribute and entry caches off, and FUSE drops a
// file's cached pages whenever it is opened again, so there is nothing left to drop: the walk,
// its limits and its age rule stay, and the step per file only looks at the file.
namespace FSKitRefresh {

using Clock = std::chrono::system_clock;

inline constexpr qsizetype maxItems = 2000;
inline constexpr std::chrono::seconds minimumAge{30};

// Refreshes the files directly in `folder` that the drive's own machinery did not make, and
// returns how many were refreshed. A folder of more than maxItems entries is left alone.
int refreshFiles(const QString &folder, Clock::time_point now);

// Whether the file at `path` was refreshed: a regular file (links not followed) last modified
// at least minimumAge before `now`. Changes nothing on disk.
bool refresh(const QString &path, Clock::time_point now);

} // namespace FSKitRefresh

} // namespace DriveCore
