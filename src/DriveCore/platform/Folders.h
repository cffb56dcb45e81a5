#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace DriveCore {

// Plain folder operations with the system's answers kept: what Qt's folder classes fold
// into "empty" or "false" (a listing refused, a mount whose daemon died) stays apart here.
namespace Folders {

// The names in `folder`, one level, hidden ones included, in the system's order; none when
// the folder cannot be listed.
std::optional<QStringList> names(const QString &folder);

// Whether a folder is at `path`, links followed.
bool isDirectory(const QString &path);

// Creates `path` and its missing parents; an existing folder is fine. Throws
// std::system_error with the system's error for the first folder that cannot be made.
void makePath(const QString &path);

// Removes the regular file at `relative` below `folder` when `shouldRemove` holds for its size,
// and says whether it did. The path is walked one component at a time from `folder` and never
// leaves it: no symbolic link below `folder` is followed, and a path with an empty, "." or ".."
// component is refused. A missing file, a link or anything but a regular file is left alone.
// Throws std::system_error when what is there cannot be looked at or removed.
bool removeFileBeneath(const QString &folder, const QString &relative,
                       const std::function<bool(qint64 size)> &shouldRemove);

} // namespace Folders

} // namespace DriveCore
