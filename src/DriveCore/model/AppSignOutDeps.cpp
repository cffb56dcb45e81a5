#include "DriveCore/model/AppSignOutDeps.h"

#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/model/OrganisePending.h"
#include "DriveCore/platform/UserDefaults.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Threads.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace DriveCore {

namespace {

const Log log("sign-out");

// ENOTEMPTY, never its number: numbers differ between systems.
QString errnoName(int error)
{
    if (const char *name = ::strerrorname_np(error))
        return QString::fromLatin1(name);
    return QStringLiteral("errno %1").arg(error);
}

} // namespace

AppSignOutDeps::RemovalError::RemovalError(const QString &path, int error)
    : std::runtime_error(QStringLiteral("“%1” couldn't be removed (%2)")
                             .arg(QFileInfo(path).fileName(), QString::fromLocal8Bit(std::strerror(error)))
                             .toStdString()),
      path(path), error(error)
{
}

QCoro::Task<bool> AppSignOutDeps::hasUnuploadedFiles()
{
    co_return co_await runInPool([scan = scanUnuploaded, folder = cacheFolder] { return scan(folder); });
}

QCoro::Task<bool> AppSignOutDeps::hasPendingTrashMoves()
{
    co_return co_await runInPool([scan = scanPendingTrash, folder = cacheFolder] { return scan(folder); });
}

QCoro::Task<> AppSignOutDeps::deleteSecrets()
{
    const std::shared_ptr<SecretStoring> store = secrets;
    co_await store->deleteAll();
}

QCoro::Task<> AppSignOutDeps::deleteLocalData()
{
    co_await runInPool([local = localFolders, mount = mountFolder, backing = backingFolder] {
        removeLocalData(local, mount, backing);
    });
}

void AppSignOutDeps::removeLocalData(const QStringList &localFolders, const QString &mountFolder,
                                     const std::optional<QString> &backingFolder)
{
    for (const QString &folder : localFolders) {
        std::error_code error;
        // A folder that is already gone counts as removed.
        std::filesystem::remove_all(std::filesystem::path(folder.toStdString()), error);
        if (error)
            throw RemovalError(folder, error.value());
    }
    QStringList emptyOnly{mountFolder};
    if (backingFolder)
        emptyOnly.append(*backingFolder);
    for (const QString &folder : emptyOnly) {
        if (::rmdir(QFile::encodeName(folder).constData()) == 0)
            continue;
        const int error = errno;
        if (error == ENOTEMPTY || error == EEXIST || error == EBUSY) {
            // Something is still inside, or it is still mounted: never remove what is in it.
            log.error("Left %{public}s in place (%{public}s)", QFileInfo(folder).fileName(), errnoName(error));
            continue;
        }
        if (error != ENOENT)
            throw RemovalError(folder, error);
    }
}

void AppSignOutDeps::clearDefaults(UserDefaults &defaults)
{
    defaults.remove(QString::fromLatin1(DriveSettings::defaultsKey));
    defaults.remove(QString::fromLatin1(OrganisePending::defaultsKey));
}

} // namespace DriveCore
