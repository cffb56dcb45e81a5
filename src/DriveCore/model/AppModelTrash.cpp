// Recently Deleted and conflicts for their windows: the listing and the trash statistics, kept
// from ever showing a listing begun before a change, for another engine launch or another
// drive; restore, delete now and empty; and the user's choice on the oldest conflict.
#include "DriveCore/model/AppModel.h"

#include "DriveCore/model/AppModelError.h"

#include <QFileInfo>

namespace DriveCore {

namespace {

// The folder of a drive-relative path: "" at the top of the drive.
QString parentFolder(const QString &path)
{
    QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    if (!parts.isEmpty())
        parts.removeLast();
    return parts.join(u'/');
}

} // namespace

QCoro::Task<> AppModel::refreshDeleted(bool force, CancelToken token)
{
    if (m_deletedRefreshInProgress || signOutRunning())
        co_return;
    const RCClient rc = requireRC();
    const std::optional<QUuid> deviceID = currentDeviceID();
    const ActionToken cancel(token, lifetime());

    m_deletedRefreshInProgress = true;
    const std::optional<TrashStats> previous = m_deletedTrashStats;
    std::optional<TrashStats> stats;
    const auto trashStats = m_hooks.trashStats;
    try {
        stats = co_await guarded(trashStats(rc, cancel.token()));
    } catch (const std::exception &) {
        // No figures: the window says it is still checking.
    }
    if (cancel.token().stop_requested()) {
        m_deletedRefreshInProgress = false;
        throw CancelledError();
    }
    if (!stillCurrent(rc.port(), deviceID)) {
        m_deletedRefreshInProgress = false;
        co_return;
    }
    assign(m_deletedTrashStats, stats, &AppModel::deletedTrashStatsChanged);

    // Deletions that arrived in Recently Deleted since the last look are not in the listing.
    const bool movesLanded = stats && previous && stats->pending < previous->pending;
    const QDateTime now = m_hooks.now();
    const bool stale = m_lastDeletedRefresh
        && m_lastDeletedRefresh->msecsTo(now) >= std::chrono::milliseconds(deletedStaleAfter).count();
    const bool waiting = m_deletedRetryAt && now < *m_deletedRetryAt;
    if (movesLanded)
        m_deletedListOwed = true;

    bool reload = false;
    if (force)
        reload = true;
    else if (waiting)
        reload = false;
    else
        reload = m_deletedListOwed || !m_lastDeletedRefresh || stale || !m_lastDeletedPort
            || *m_lastDeletedPort != rc.port();
    if (!reload) {
        m_deletedRefreshInProgress = false;
        co_return;
    }

    m_lastDeletedRefresh.reset();
    try {
        co_await loadDeleted(cancel.token());
    } catch (const CancelledError &) {
        m_deletedRefreshInProgress = false;
        throw;
    } catch (const std::exception &) {
        m_deletedListOwed = true;
        m_deletedRetryAt = now.addMSecs(std::chrono::milliseconds(deletedRetryWait).count());
        m_deletedRefreshInProgress = false;
        throw;
    }
    // A listing that was dropped leaves the list owed.
    m_deletedListOwed = !m_lastDeletedRefresh.has_value();
    m_deletedRetryAt.reset();
    m_deletedRefreshInProgress = false;
}

QCoro::Task<> AppModel::loadDeleted(CancelToken token)
{
    const std::optional<QString> mount = mountPath();
    if (!mount || signOutRunning())
        co_return;
    const RCClient rc = requireRC();
    const std::optional<QUuid> deviceID = currentDeviceID();
    const int revision = m_deletedRevision;
    const auto listDeleted = m_hooks.listDeleted;
    QList<DeletedItem> listing = co_await guarded(listDeleted(rc, *mount, token));
    checkCancelled(token);
    // Restored, deleted or emptied meanwhile: this listing may still show what is gone.
    if (m_deletedRevision != revision || !stillCurrent(rc.port(), deviceID))
        co_return;
    assign(m_deleted, std::move(listing), &AppModel::deletedChanged);
    m_lastDeletedRefresh = m_hooks.now();
    m_lastDeletedPort = rc.port();
}

QCoro::Task<> AppModel::restore(DeletedItem item)
{
    const std::optional<QString> mount = mountPath();
    if (!mount)
        co_return;
    const RCClient rc = requireRC();
    const auto restore = m_hooks.restore;
    const QString restoredTo = co_await guarded(restore(rc, *mount, item, lifetime()));
    ++m_deletedRevision;
    QList<DeletedItem> remaining = m_deleted;
    remaining.removeIf([&](const DeletedItem &entry) { return entry.id == item.id; });
    assign(m_deleted, std::move(remaining), &AppModel::deletedChanged);
    // Other machines learn of the file back in its folder.
    if (m_changeSync)
        m_changeSync->noteLocalChange({parentFolder(restoredTo)});
}

QCoro::Task<> AppModel::deleteNow(DeletedItem item)
{
    const RCClient rc = requireRC();
    const auto deleteNow = m_hooks.deleteNow;
    co_await guarded(deleteNow(rc, item, lifetime()));
    ++m_deletedRevision;
    QList<DeletedItem> remaining = m_deleted;
    remaining.removeIf([&](const DeletedItem &entry) { return entry.id == item.id; });
    assign(m_deleted, std::move(remaining), &AppModel::deletedChanged);
}

QCoro::Task<> AppModel::emptyRecentlyDeleted()
{
    const RCClient rc = requireRC();
    const auto emptyTrash = m_hooks.emptyTrash;
    co_await guarded(emptyTrash(rc, lifetime()));
    ++m_deletedRevision;
    assign(m_deleted, QList<DeletedItem>(), &AppModel::deletedChanged);
}

QCoro::Task<std::optional<QString>> AppModel::resolveConflict(ConflictChoice choice)
{
    const std::optional<DriveConflict> conflict = currentConflict();
    if (!conflict)
        co_return std::nullopt;
    const auto drop = [this, &conflict] {
        QList<DriveConflict> remaining = m_conflicts;
        remaining.removeAll(*conflict);
        assign(m_conflicts, std::move(remaining), &AppModel::conflictsChanged);
    };
    if (choice == ConflictChoice::keepBoth) {
        // Both files simply stay: nothing to ask the engine.
        drop();
        co_return std::nullopt;
    }
    const RCClient rc = requireRC();
    const auto resolveConflict = m_hooks.resolveConflict;
    const ConflictOutcome outcome = co_await guarded(resolveConflict(rc, mountPath(), *conflict, choice, lifetime()));
    drop();
    switch (outcome.kind) {
    case ConflictOutcome::Kind::keptBoth:
        break;
    case ConflictOutcome::Kind::alreadySortedOut:
        co_return alreadySortedOutText;
    case ConflictOutcome::Kind::occupied:
        co_return QStringLiteral("\u201C") + QFileInfo(conflict->original).fileName()
            + QStringLiteral("\u201D changed again while you were choosing, so both versions were kept.");
    case ConflictOutcome::Kind::resolved:
        if (m_changeSync)
            m_changeSync->noteLocalChange({outcome.folder});
        break;
    }
    co_return std::nullopt;
}

} // namespace DriveCore
