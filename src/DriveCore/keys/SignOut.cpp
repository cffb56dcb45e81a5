#include "DriveCore/keys/SignOut.h"

namespace DriveCore {

QString SignOutStep::text(bool discardedFiles) const
{
    switch (kind) {
    case waitingForUploads:
        return QStringLiteral("Waiting for %1 %2 to finish uploading\u2026")
            .arg(count)
            .arg(count == 1 ? QStringLiteral("file") : QStringLiteral("files"));
    case finishingDeletes:
        if (stuck) {
            return QStringLiteral("Some deleted files can't be moved to Recently Deleted right now. If you sign out "
                                  "anyway, they stay where they were in your drive.");
        }
        return QStringLiteral("Finishing moving deleted files to Recently Deleted\u2026");
    case stopping:
        return QStringLiteral("Disconnecting the drive\u2026");
    case removingKeys:
        return QStringLiteral("Removing your keys from this computer\u2026");
    case removingLocalFiles:
        return QStringLiteral("Removing the drive's files from this computer\u2026");
    case done:
        return discardedFiles ? SignOut::doneDiscardedText
                              : QStringLiteral("Signed out. Your files are safe in the cloud.");
    case cancelled:
        break;
    }
    return QStringLiteral("Sign out cancelled. Nothing was changed.");
}

QString SignOut::forceTitle(std::optional<qint64> count)
{
    if (!count || *count < 1)
        return QStringLiteral("Some files haven't uploaded yet.");
    if (*count == 1)
        return QStringLiteral("1 file hasn't uploaded yet.");
    return QString::number(*count) + QStringLiteral(" files haven't uploaded yet.");
}

QString SignOut::failureText(const std::exception &error)
{
    QString text = QString::fromUtf8(error.what());
    while (text.endsWith(u'.'))
        text.chop(1);
    return QStringLiteral("Sign out didn't finish: ") + text
        + QStringLiteral(". Nothing was removed after that step. Try again.");
}

QCoro::Task<bool> SignOut::run(std::shared_ptr<SignOutDeps> deps, std::function<void(const SignOutStep &)> progress,
                               std::function<bool()> isCancelled, std::function<bool()> force) const
{
    const auto report = [&](SignOutStep::Kind kind) { progress(SignOutStep{kind}); };
    // Keep a copy: the closure must outlive a caller that lets go of the SignOut meanwhile.
    const std::function<QCoro::Task<>()> pause = sleep;

    if (isCancelled()) {
        report(SignOutStep::cancelled);
        co_return false;
    }

    bool forced = false;
    bool discarded = false;
    bool waitForUploads = false;
    if (force()) {
        // Forced from the start ("Sign Out Anyway" after a refusal): the files that refused it
        // are in the cache, not necessarily in the engine's queue, so no count can clear them.
        forced = true;
        discarded = true;
    } else {
        std::optional<SignOutStep> last;
        const auto reportWaiting = [&](const SignOutStep &step) {
            if (last != step) {
                progress(step);
                last = step;
            }
        };
        for (;;) {
            const qint64 uploads = co_await deps->pendingUploads();
            if (uploads >= 1) {
                reportWaiting(SignOutStep::waiting(uploads));
            } else if (co_await deps->pendingTrashMoves() >= 1) {
                reportWaiting(SignOutStep::deleting(co_await deps->trashMovesFailing()));
            } else {
                if (isCancelled()) {
                    report(SignOutStep::cancelled);
                    co_return false;
                }
                forced = force();
                waitForUploads = !forced;
                break;
            }
            co_await pause();
            if (isCancelled()) {
                report(SignOutStep::cancelled);
                co_return false;
            }
            if (force()) {
                forced = true;
                discarded = uploads > 0;
                break;
            }
        }
    }

    report(SignOutStep::stopping);
    co_await deps->stopDrive(waitForUploads);

    if (!discarded) {
        bool leftovers = co_await deps->hasUnuploadedFiles();
        if (!leftovers && !forced)
            leftovers = co_await deps->hasPendingTrashMoves();
        if (leftovers) {
            co_await deps->restartDrive();
            throw UnuploadedFiles();
        }
    }

    report(SignOutStep::removingKeys);
    co_await deps->deleteSecrets();
    report(SignOutStep::removingLocalFiles);
    co_await deps->deleteLocalData();
    deps->clearSettings();
    report(SignOutStep::done);
    co_return discarded;
}

} // namespace DriveCore
