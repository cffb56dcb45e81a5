#pragma once

#include <QString>

namespace DriveCore {

// Free space of a file system, as the user may use it.
namespace FreeSpace {

// The bytes available to an unprivileged user on the file system of `path` (statvfs); 0 when
// it cannot be read.
qint64 available(const QString &path);

} // namespace FreeSpace

} // namespace DriveCore
