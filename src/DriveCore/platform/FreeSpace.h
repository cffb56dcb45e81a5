#pragma once

#include <QString>

#include <optional>

namespace DriveCore {

// Free space of a file system, as the user may use it.
namespace FreeSpace {

// The bytes available to an unprivileged user on the file system of `path` (statvfs); 0 when
// it cannot be read.
qint64 available(const QString &path);
// The same, or none when it cannot be read (no such folder, no access).
std::optional<qint64> read(const QString &path);

} // namespace FreeSpace

} // namespace DriveCore
