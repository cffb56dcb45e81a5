#pragma once

#include <QCoroTask>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace DriveCore {

// The step a sign-out run reports to the sheet.
struct SignOutStep {
    enum Kind {
        waitingForUploads, // `count` files still to upload
        finishingDeletes, // deletions still moving into Recently Deleted; `stuck` when failing
        stopping,
        removingKeys,
        removingLocalFiles,
        done,
        cancelled, // nothing after the last wait was done
    };

    static SignOutStep waiting(qint64 count) { return {waitingForUploads, count, false}; }
    static SignOutStep deleting(bool stuck) { return {finishingDeletes, 0, stuck}; }

    bool operator==(const SignOutStep &) const = default;

    // The sheet's line for the step; `discardedFiles` changes only the `done` line.
    QString text(bool discardedFiles = false) const;

    Kind kind = done;
    qint64 count = 0;
    bool stuck = false;
};

// What a sign-out run needs of the app: counts, stopping and restarting the drive, the cache
// checks of the stopped drive, and the removals. The counts never throw: an implementation
// that cannot count answers 1, which keeps the run waiting and, when forced, reports the
// files as discarded. Calls are made on the main thread; blocking work runs off it.
class SignOutDeps {
public:
    virtual ~SignOutDeps() = default;

    // Files queued or uploading.
    virtual QCoro::Task<qint64> pendingUploads() = 0;
    // Deletions not yet moved into Recently Deleted.
    virtual QCoro::Task<qint64> pendingTrashMoves() { co_return 0; }
    // Whether those moves are failing.
    virtual QCoro::Task<bool> trashMovesFailing() { co_return false; }
    virtual QCoro::Task<> stopDrive(bool waitForUploads) = 0;
    // The stopped drive's cache still holds files not uploaded.
    virtual QCoro::Task<bool> hasUnuploadedFiles() = 0;
    // The stopped drive's cache still records deletions not moved.
    virtual QCoro::Task<bool> hasPendingTrashMoves() { co_return false; }
    virtual QCoro::Task<> restartDrive() = 0;
    virtual QCoro::Task<> deleteSecrets() = 0;
    virtual QCoro::Task<> deleteLocalData() = 0;
    virtual void clearSettings() = 0;
};

// The sign-out steps in their fixed order: wait for uploads and deletions (unless forced),
// stop the drive, make sure nothing exists only on this computer, then remove the keys, the
// local data and the settings.
class SignOut {
public:
    // Files were left that exist only in the stopped drive's cache; the drive was restarted and
    // nothing was removed.
    class UnuploadedFiles : public std::runtime_error {
    public:
        static inline const QString messageText =
            QStringLiteral("Some files haven't uploaded yet. Open Ovra again to let them finish, then sign out.");
        UnuploadedFiles() : std::runtime_error(messageText.toStdString()) {}
        bool operator==(const UnuploadedFiles &) const { return true; }
        QString message = messageText;
    };

    static inline const QString confirmText = QStringLiteral(
        "Your files stay safe in the cloud. This computer will no longer have access until you sign in again.");
    static inline const QString forceBody =
        QStringLiteral("If you sign out now, they'll be deleted from this computer and won't be in your drive.");
    static inline const QString forceButton = QStringLiteral("Sign Out Anyway");
    static inline const QString forceConfirmButton = QStringLiteral("Delete Them and Sign Out");
    static inline const QString doneDiscardedText =
        QStringLiteral("Signed out. Files that hadn't uploaded were removed from this computer.");
    static inline const QString forceDeletesTitle =
        QStringLiteral("Deleted files are still moving to Recently Deleted.");
    static inline const QString forceDeletesBody =
        QStringLiteral("If you sign out now, they'll stay where they were in your drive. Nothing is lost.");

    // The sheet's title for `count` files not uploaded (none when unknown).
    static QString forceTitle(std::optional<qint64> count);
    // "Sign out didn't finish: <the error's text without trailing full stops>. Nothing was
    // removed after that step. Try again."
    static QString failureText(const std::exception &error);

    // Pauses between two polls; the app passes 2 seconds.
    explicit SignOut(std::function<QCoro::Task<>()> sleep) : sleep(std::move(sleep)) {}

    std::function<QCoro::Task<>()> sleep;

    // Runs the steps. `progress` gets every reported step; `isCancelled` and `force` are read
    // anew at every decision point, so the user can cancel or force while the run waits (cancel
    // only until the drive is being stopped). True when files that had not uploaded were
    // discarded. Throws UnuploadedFiles, or what deleteSecrets or deleteLocalData threw.
    QCoro::Task<bool> run(std::shared_ptr<SignOutDeps> deps, std::function<void(const SignOutStep &)> progress,
                          std::function<bool()> isCancelled, std::function<bool()> force) const;
};

} // namespace DriveCore
