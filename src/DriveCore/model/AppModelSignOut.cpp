// Sign-out on the model: runs the sign-out steps over the model's own services, publishes each
// step for the sheet, lets the sheet cancel or force the run while it waits, and resets the
// model to a computer that was never set up once the run is done.
#include "DriveCore/model/AppModel.h"

#include "DriveCore/model/AppModelIPhone.h"
#include "DriveCore/model/AppSignOutDeps.h"
#include "DriveCore/mount/VFSCacheScan.h"
#include "DriveCore/platform/UserDefaults.h"

namespace DriveCore {

QCoro::Task<std::optional<SignOutStep>> AppModel::signOut(bool force)
{
    if (!m_settings || signOutRunning())
        co_return std::nullopt;
    m_signingOut = true;
    if (m_isChangingDrive) {
        m_signingOut = false;
        co_return std::nullopt;
    }
    const auto cancelFlag = std::make_shared<SetOnceFlag>();
    const auto forceFlag = std::make_shared<SetOnceFlag>();
    if (force)
        forceFlag->set();
    m_signOutCancel = cancelFlag;
    m_signOutForce = forceFlag;
    assign(m_signOutDiscardedFiles, false, &AppModel::signOutDiscardedFilesChanged);

    const DriveLocalData local = m_hooks.localData(*m_settings);
    const QPointer<AppModel> self(this);
    const auto deps = std::make_shared<AppSignOutDeps>();
    // The model's closures hold it weakly: a run that outlives it keeps waiting, harmlessly.
    deps->pending = [self]() -> QCoro::Task<qint64> {
        if (!self)
            co_return 1;
        co_return co_await self->pendingUploadsForSignOut();
    };
    deps->trashPending = [self]() -> QCoro::Task<qint64> {
        if (!self)
            co_return 1;
        co_return co_await self->pendingTrashMovesForSignOut();
    };
    deps->trashFailing = [self]() -> QCoro::Task<bool> {
        if (!self)
            co_return false;
        co_return co_await self->trashMovesFailingForSignOut();
    };
    deps->stop = [self](bool waitForUploads) -> QCoro::Task<> {
        if (self)
            co_await self->stopForSignOut(waitForUploads);
    };
    deps->restart = [self]() -> QCoro::Task<> {
        if (self)
            co_await self->launch();
    };
    deps->secrets = m_secrets;
    deps->cacheFolder = local.cache;
    deps->localFolders = {local.cache, local.logs, local.keep};
    deps->mountFolder = local.mountFolder;
    deps->backingFolder = local.backing;
    deps->clear = [defaults = m_defaults] { AppSignOutDeps::clearDefaults(*defaults); };
    deps->scanUnuploaded = VFSCacheScan::hasUnuploadedFiles;
    deps->scanPendingTrash = VFSCacheScan::hasPendingTrashMoves;

    // A failed pause is no reason to stop waiting; the model going away is.
    const SignOut machine([sleep = m_hooks.sleep, lifetime = lifetime()]() -> QCoro::Task<> {
        try {
            co_await sleep(signOutPause, lifetime);
        } catch (const std::exception &) {
            if (lifetime.stop_requested())
                throw OwnerGone();
        }
    });
    std::optional<SignOutStep> last;
    const auto progress = [self, &last](const SignOutStep &step) {
        last = step;
        if (self)
            self->assign(self->m_signOutStep, std::optional(step), &AppModel::signOutStepChanged);
    };
    const auto ended = [this] {
        assign(m_signOutStep, std::optional<SignOutStep>(), &AppModel::signOutStepChanged);
        m_signOutCancel.reset();
        m_signOutForce.reset();
        m_signingOut = false;
    };

    bool discarded = false;
    try {
        discarded = co_await guarded(machine.run(
            deps, progress, [cancelFlag] { return cancelFlag->isSet(); }, [forceFlag] { return forceFlag->isSet(); }));
    } catch (const SignOut::UnuploadedFiles &) {
        // The run started the drive again; the phase follows that launch.
        ended();
        throw;
    } catch (const std::exception &) {
        assign(m_signOutStep, std::optional<SignOutStep>(), &AppModel::signOutStepChanged);
        m_log.error("Sign out failed: %{public}s",
                    errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
        setProblem(signOutFailedText);
        ended();
        throw;
    }
    assign(m_signOutDiscardedFiles, discarded, &AppModel::signOutDiscardedFilesChanged);
    if (last && last->kind == SignOutStep::done)
        co_await finishSignOut();
    ended();
    co_return last;
}

void AppModel::cancelSignOut()
{
    if (m_signOutCancel)
        m_signOutCancel->set();
}

void AppModel::requestForceSignOut()
{
    if (m_signOutForce)
        m_signOutForce->set();
}

QCoro::Task<qint64> AppModel::pendingUploadsForSignOut()
{
    // The stop that drained the uploads already counted them.
    if (m_drained && m_supervisor->state().kind == SupervisorState::stopped)
        co_return 0;
    const std::optional<RCClient> rc = m_supervisor->rc();
    if (!rc) {
        assign(m_signOutPendingKnown, false, &AppModel::signOutPendingKnownChanged);
        co_return 1;
    }
    const auto pendingUploads = m_hooks.pendingUploads;
    std::optional<qint64> count;
    try {
        count = co_await guarded(pendingUploads(*rc, lifetime()));
    } catch (const std::exception &) {
        // Unknown counts as one: the sign-out keeps waiting.
    }
    assign(m_signOutPendingKnown, count.has_value(), &AppModel::signOutPendingKnownChanged);
    co_return count.value_or(1);
}

QCoro::Task<qint64> AppModel::pendingTrashMovesForSignOut()
{
    const std::optional<RCClient> rc = m_supervisor->rc();
    if (!rc)
        co_return 0;
    const auto trashStats = m_hooks.trashStats;
    try {
        co_return (co_await guarded(trashStats(*rc, lifetime()))).pending;
    } catch (const std::exception &) {
        co_return 1;
    }
}

QCoro::Task<bool> AppModel::trashMovesFailingForSignOut()
{
    const std::optional<RCClient> rc = m_supervisor->rc();
    if (!rc)
        co_return false;
    const auto trashStats = m_hooks.trashStats;
    try {
        const TrashStats stats = co_await guarded(trashStats(*rc, lifetime()));
        co_return stats.failing && *stats.failing > 0;
    } catch (const std::exception &) {
        co_return false;
    }
}

QCoro::Task<> AppModel::stopForSignOut(bool waitForUploads)
{
    stopLoops();
    m_network->stop();
    co_await stopDrive(waitForUploads);
}

QCoro::Task<> AppModel::finishSignOut()
{
    const std::optional<QString> oldMount = mountPath();
    co_await guarded(m_iPhone->removeIPhoneSyncForSignOut());
    assign(m_searchIndex, DriveSearch::Index(), &AppModel::searchIndexChanged);
    assign(m_searchIndexedAt, std::optional<QDateTime>(), &AppModel::searchIndexedAtChanged);
    assign(m_settings, std::optional<DriveSettings>(), &AppModel::settingsChanged);
    assign(m_deletedTrashStats, std::optional<TrashStats>(), &AppModel::deletedTrashStatsChanged);
    m_lastDeletedRefresh.reset();
    m_lastDeletedPort.reset();
    m_deletedListOwed = false;
    m_deletedRetryAt.reset();
    assign(m_uploads, QList<UploadRow>(), &AppModel::uploadsChanged);
    assign(m_queuedSummary, std::optional<QString>(), &AppModel::queuedSummaryChanged);
    // A Recently Deleted listing still on its way is dropped.
    ++m_deletedRevision;
    assign(m_deleted, QList<DeletedItem>(), &AppModel::deletedChanged);
    assign(m_pendingUploads, qint64(0), &AppModel::pendingUploadsChanged);
    assign(m_hasUploadProblem, false, &AppModel::hasUploadProblemChanged);
    assign(m_conflicts, QList<DriveConflict>(), &AppModel::conflictsChanged);
    // Nothing of the old drive's keeping may linger: a later hello would post its mount and pins
    // again.
    assign(m_keptItems, QList<PinStatus>(), &AppModel::keptItemsChanged);
    assign(m_keepProgress, std::optional<QString>(), &AppModel::keepProgressChanged);
    assign(m_keepAlert, std::optional<QString>(), &AppModel::keepAlertChanged);
    assign(m_lastKeepState, std::optional<KeepShared::KeepState>(), &AppModel::lastKeepStateChanged);
    assign(m_isEjected, false, &AppModel::isEjectedChanged);
    m_hooks.postKeepState(KeepShared::KeepState{});
    if (oldMount)
        m_hooks.postFinderBadges(KeepShared::FinderBadgeSnapshot(oldMount->toStdString(), {}, {}, false, m_online));
    setPhase(Phase{Phase::needsSetup, {}});
    assign(m_statusLine, notSetUpText, &AppModel::statusLineChanged);
}

} // namespace DriveCore
