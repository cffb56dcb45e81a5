// Work that runs outside the mounted drive with the drive's keys: copying every file into a
// local folder, measuring the drive first, and the context of one share action.
#include "DriveCore/model/AppModel.h"

#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Threads.h"

#include <QDir>
#include <QFileInfo>

namespace DriveCore {

namespace {

// The path with symbolic links resolved as far as it exists, and standardised, as components.
// The part below the deepest existing folder is kept as written, without "." and "..".
QStringList resolvedComponents(const QString &path)
{
    QString existing = QDir::cleanPath(QDir(path).absolutePath());
    QStringList rest;
    while (!QFileInfo::exists(existing) && existing != QStringLiteral("/")) {
        rest.prepend(QFileInfo(existing).fileName());
        existing = QFileInfo(existing).path();
    }
    QString canonical = QFileInfo(existing).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = existing;
    if (!rest.isEmpty())
        canonical = QDir::cleanPath(canonical + u'/' + rest.join(u'/'));
    return canonical.split(u'/', Qt::SkipEmptyParts);
}

bool startsWith(const QStringList &path, const QStringList &prefix)
{
    if (prefix.size() > path.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        if (path[i] != prefix[i])
            return false;
    }
    return true;
}

// Whether copying into `target` inside `folder` would copy the drive into itself: either lies in
// one of the drive's folders, or the target is a symbolic link (which may lead anywhere).
// Blocking: a hung mount stalls a resolve.
bool refusedDestination(const QString &folder, const QString &target, const QStringList &driveFolders)
{
    if (QFileInfo(target).isSymbolicLink())
        return true;
    const QStringList chosen = resolvedComponents(folder);
    const QStringList into = resolvedComponents(target);
    for (const QString &driveFolder : driveFolders) {
        const QStringList drive = resolvedComponents(driveFolder);
        if (startsWith(chosen, drive) || startsWith(into, drive))
            return true;
    }
    return false;
}

} // namespace

QString AppModel::copyFolder(const QString &folder)
{
    return QDir(folder).filePath(copyFolderName);
}

QCoro::Task<> AppModel::copyAllFiles(QString folder, std::function<void(const CopyProgress &)> progress,
                                     CancelToken token)
{
    const QString target = copyFolder(folder);
    // The mount folder is the drive; so are the engine's own mount under the file-system layer
    // and the cache, where a copy would copy the drive into itself.
    QStringList driveFolders;
    if (const std::optional<QString> mount = mountPath()) {
        const DriveLocalData local = m_hooks.localData(*m_settings);
        driveFolders = {*mount, local.backing, local.cache};
    }
    const bool refused = co_await guarded(
        runInPool([folder, target, driveFolders] { return refusedDestination(folder, target, driveFolders); }));
    if (refused)
        throw AppModelError(copyInsideDriveText);

    const std::optional<std::pair<StorageSecrets, QString>> keys = co_await storedKeys();
    const ActionToken cancel(token, lifetime());
    const auto copyAll = m_hooks.copyAll;
    co_await guarded(copyAll(keys->first, keys->second, target, std::move(progress), cancel.token()));
}

QCoro::Task<qint64> AppModel::driveSize(CancelToken token)
{
    const std::optional<std::pair<StorageSecrets, QString>> keys = co_await storedKeys();
    const ActionToken cancel(token, lifetime());
    const auto driveSize = m_hooks.driveSize;
    co_return co_await guarded(driveSize(keys->first, keys->second, cancel.token()));
}

QCoro::Task<ShareContext> AppModel::shareContext()
{
    const std::optional<RCClient> rc = m_supervisor->rc();
    const std::optional<QString> mount = mountPath();
    if (m_phase.kind != Phase::running || !rc || !m_settings || !mount)
        throw AppModelError(shareNotConnectedText);
    const QString deviceName = m_settings->deviceName;
    const std::optional<std::pair<StorageSecrets, QString>> keys = co_await storedKeys();
    std::optional<QString> cloudflareKey;
    try {
        const std::shared_ptr<SecretStoring> secrets = m_secrets;
        cloudflareKey = co_await guarded(secrets->loadCloudflareKey());
    } catch (const std::exception &) {
        // Share links work without it; only setting up the link page asks for it.
        m_log.info("Cloudflare API token unreadable: %{public}s",
                   errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
    }
    co_return ShareContext{
        .rc = *rc,
        .storage = m_hooks.shareStorage(keys->first),
        .deviceName = deviceName,
        .mountPath = *mount,
        .endpoint = keys->first.endpoint,
        .bucket = keys->first.bucket,
        .blockedReason = shareBlockedReason(),
        .cloudflareKey = cloudflareKey,
    };
}

std::optional<QString> AppModel::shareBlockedReason() const
{
    if (m_phase.kind == Phase::running)
        return std::nullopt;
    return shareNotConnectedText;
}

} // namespace DriveCore
