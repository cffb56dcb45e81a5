#pragma once

#include <QString>
#include <QStringList>

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

} // namespace Folders

} // namespace DriveCore
