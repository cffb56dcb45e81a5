#include "DriveCore/platform/FreeSpace.h"

#include <QFile>

#include <limits>

#include <sys/statvfs.h>

namespace DriveCore {

qint64 FreeSpace::available(const QString &path)
{
    return read(path).value_or(0);
}

std::optional<qint64> FreeSpace::read(const QString &path)
{
    struct statvfs info{};
    if (::statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    const unsigned long long bytes = static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
    return bytes > static_cast<unsigned long long>(std::numeric_limits<qint64>::max())
        ? std::numeric_limits<qint64>::max()
        : static_cast<qint64>(bytes);
}

} // namespace DriveCore
