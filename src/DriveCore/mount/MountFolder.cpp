#include "DriveCore/mount/MountFolder.h"

#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/mount/FSKitMount.h"
#include "DriveCore/platform/Folders.h"
#include "DriveCore/platform/MountTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace DriveCore {

namespace {

std::optional<dev_t> deviceOf(const QString &path)
{
    struct stat status{};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return status.st_dev;
}

std::optional<QString> realPath(const QString &path)
{
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), resolved))
        return std::nullopt;
    return QFile::decodeName(resolved);
}

} // namespace

QString MountFolder::inUseText(const QString &driveName)
{
    return driveName + QStringLiteral("'s folder is already in use. Quit any other copy of the drive, then try again.");
}

QString MountFolder::strayFilesText(const QString &folder)
{
    return QStringLiteral("There are files in ") + folder
        + QStringLiteral(" that aren't in your drive yet. Move them somewhere else, then try again.");
}

QString MountFolder::deadMountText(const QString &driveName)
{
    return driveName
        + QStringLiteral(
               "'s folder is still held by a drive that stopped unexpectedly. Restart your computer, then try again.");
}

bool MountFolder::isDeadMount(const QString &path)
{
    // A plain stat may be answered from the attributes cached while the daemon lived.
    const int error = MountTable::statAfresh(path).error;
    return error == ENOTCONN || error == ECONNABORTED;
}

bool MountFolder::isMountPoint(const QString &path)
{
    // The table first: it answers without touching the mount, which matters for a FUSE mount
    // whose daemon died (every stat there fails with ENOTCONN).
    const QString standardised = QDir::cleanPath(path);
    if (MountTable::isListedMountPoint(standardised))
        return true;
    if (const auto resolved = realPath(standardised); resolved && MountTable::isListedMountPoint(*resolved))
        return true;
    const auto device = deviceOf(standardised);
    const auto parentDevice = deviceOf(QFileInfo(standardised).path());
    return device && parentDevice && *device != *parentDevice;
}

void MountFolder::check(const QString &folder, const QString &driveName, const PathTest &isMountPoint)
{
    if (isMountPoint(folder))
        throw Problem(inUseText(driveName));
    struct stat status{};
    if (::stat(QFile::encodeName(folder).constData(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return;
        // There, but not to be looked into: the same as a listing that fails.
        throw Problem(inUseText(driveName));
    }
    if (!S_ISDIR(status.st_mode))
        throw Problem(strayFilesText(folder));
    const auto names = Folders::names(folder);
    if (!names)
        throw Problem(inUseText(driveName));
    for (const QString &name : *names) {
        if (name != QLatin1String(".DS_Store"))
            throw Problem(strayFilesText(folder));
    }
}

QStringList MountFolder::fileSystemTypes(const QString &mountedAt)
{
    return MountTable::typesMountedAt(mountedAt);
}

bool MountFolder::isNFSMounted(const QString &path)
{
    return fileSystemTypes(path).contains(QLatin1String(DriveEngine::engineMountType));
}

QCoro::Task<> MountFolder::waitForNFSMount(QString path, std::chrono::milliseconds limit, PathTest isMounted,
                                           CancelToken token)
{
    // The same loop as the layer's wait; only the text of its time-out differs.
    try {
        co_await FSKitMount::waitForMount(std::move(path), limit, std::move(isMounted), std::move(token));
    } catch (const FSKitMount::Problem &) {
        throw Problem(QString::fromUtf8(notAppearedText));
    }
}

} // namespace DriveCore
