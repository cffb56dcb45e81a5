#pragma once

#include "DriveCore/keys/SignOut.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace DriveCore {

class SecretStoring;
class UserDefaults;

// The app model's side of a sign-out run: closures back into the model for the counts, the
// stop and the restart, the cache checks of the stopped drive's cache folder, and the removal
// of the keys, the local folders and the settings.
class AppSignOutDeps final : public SignOutDeps {
public:
    // A local folder could not be removed.
    class RemovalError : public std::runtime_error {
    public:
        RemovalError(const QString &path, int error);
        QString path;
        int error; // errno
    };

    std::function<QCoro::Task<qint64>()> pending; // the model's upload count for sign-out
    std::function<QCoro::Task<qint64>()> trashPending; // deletions still moving
    std::function<QCoro::Task<bool>()> trashFailing; // those moves failing
    std::function<QCoro::Task<>(bool waitForUploads)> stop;
    std::function<QCoro::Task<>()> restart; // launches the drive again
    std::shared_ptr<SecretStoring> secrets;
    QString cacheFolder;
    QStringList localFolders; // removed with everything in them: cache, logs, keep
    QString mountFolder; // removed only when empty
    std::optional<QString> backingFolder; // removed only when empty
    std::function<void()> clear;
    // The engine's cache on disk: files not uploaded, deletions not moved. Blocking scans of
    // `cacheFolder`, run off the main thread.
    std::function<bool(const QString &cacheDir)> scanUnuploaded;
    std::function<bool(const QString &cacheDir)> scanPendingTrash;

    QCoro::Task<qint64> pendingUploads() override { return pending(); }
    QCoro::Task<qint64> pendingTrashMoves() override { return trashPending(); }
    QCoro::Task<bool> trashMovesFailing() override { return trashFailing(); }
    QCoro::Task<> stopDrive(bool waitForUploads) override { return stop(waitForUploads); }
    QCoro::Task<bool> hasUnuploadedFiles() override;
    QCoro::Task<bool> hasPendingTrashMoves() override;
    QCoro::Task<> restartDrive() override { return restart(); }
    // The store's deleteAll; its error passes through.
    QCoro::Task<> deleteSecrets() override;
    // removeLocalData of the folders, off the main thread.
    QCoro::Task<> deleteLocalData() override;
    void clearSettings() override { clear(); }

    // Removes each local folder with its contents (one already gone is fine), then the mount
    // and backing folders only when empty: one that still holds anything or is still mounted
    // is left in place with a log line. Stops at the first other failure, leaving the folders
    // after it untouched, and throws RemovalError. Blocking.
    static void removeLocalData(const QStringList &localFolders, const QString &mountFolder,
                                const std::optional<QString> &backingFolder);

    // Removes "driveSettings" and then "organisePending": what `clear` does for the model.
    static void clearDefaults(UserDefaults &defaults);
};

} // namespace DriveCore
