#include "CorvaneDrive/Windows/RecentlyDeletedPresenter.h"

#include "CorvaneDrive/Windows/WindowErrors.h"
#include "DriveCore/model/AppModel.h"
#include "DriveCore/platform/DateTimeFormat.h"

namespace CorvaneDrive {

using DriveCore::DeletedItem;
using DriveCore::TrashStats;

RecentlyDeletedPresenter::RecentlyDeletedPresenter(RecentlyDeletedContext context, QObject *parent)
    : QObject(parent), m_context(std::move(context))
{
    m_context.observe(this, [this] {
        // Rows that went away leave the selection.
        QSet<QString> present;
        for (const DeletedItem &item : m_context.deleted())
            if (m_selection.contains(item.id))
                present.insert(item.id);
        m_selection = std::move(present);
        emit changed();
    });
}

RecentlyDeletedPresenter::~RecentlyDeletedPresenter() = default;

QList<RecentlyDeletedPresenter::Row> RecentlyDeletedPresenter::rows() const
{
    const QDateTime today = m_context.now();
    const std::optional<QString> driveName = m_context.driveName();
    QList<Row> rows;
    for (const DeletedItem &item : m_context.deleted()) {
        const qsizetype slash = item.originalPath.lastIndexOf(u'/');
        rows.append({.id = item.id,
                     .name = item.originalPath.mid(slash + 1),
                     .folder = folder(item.originalPath, driveName),
                     .deleted = DriveCore::DateTimeFormat::date(item.deletedOn),
                     .daysLeft = QString::number(item.daysLeft(today))});
    }
    return rows;
}

std::optional<RecentlyDeletedPresenter::Panel> RecentlyDeletedPresenter::panel() const
{
    if (m_loading || !m_context.deleted().isEmpty())
        return std::nullopt;
    return emptyPanel(m_context.trashStats());
}

QString RecentlyDeletedPresenter::confirmTitle()
{
    return DriveCore::AppModel::deleteConfirmText;
}

void RecentlyDeletedPresenter::setSelection(QSet<QString> ids)
{
    if (ids == m_selection)
        return;
    m_selection = std::move(ids);
    emit changed();
}

QList<DeletedItem> RecentlyDeletedPresenter::selectedItems() const
{
    QList<DeletedItem> items;
    for (const DeletedItem &item : m_context.deleted())
        if (m_selection.contains(item.id))
            items.append(item);
    return items;
}

void RecentlyDeletedPresenter::beginWork()
{
    m_working = true;
    // Cleared once for the whole action: a later item's success must not hide an earlier failure.
    m_error.reset();
    m_errorFromRefresh = false;
    emit changed();
}

void RecentlyDeletedPresenter::endWork(std::optional<QString> error)
{
    m_error = std::move(error);
    m_errorFromRefresh = false;
    m_selection.clear();
    m_working = false;
    emit changed();
}

void RecentlyDeletedPresenter::restoreSelected()
{
    if (!canRestore())
        return;
    beginWork();
    runOverItems(this, selectedItems(), m_context.restore, QStringLiteral("restored"));
}

void RecentlyDeletedPresenter::askDeleteNow()
{
    if (!canDeleteNow())
        return;
    m_confirming = PermanentAction::deleteSelected;
    emit changed();
}

void RecentlyDeletedPresenter::askEmpty()
{
    if (!canEmpty())
        return;
    m_confirming = PermanentAction::emptyAll;
    emit changed();
}

void RecentlyDeletedPresenter::confirm()
{
    const std::optional<PermanentAction> action = std::exchange(m_confirming, std::nullopt);
    emit changed();
    if (!action || m_working)
        return;
    if (*action == PermanentAction::emptyAll) {
        beginWork();
        runEmpty(this, m_context.emptyRecentlyDeleted);
        return;
    }
    beginWork();
    runOverItems(this, selectedItems(), m_context.deleteNow, QStringLiteral("deleted"));
}

void RecentlyDeletedPresenter::dismissConfirmation()
{
    if (!m_confirming)
        return;
    m_confirming.reset();
    emit changed();
}

QCoro::Task<> RecentlyDeletedPresenter::runOverItems(QPointer<RecentlyDeletedPresenter> self, QList<DeletedItem> items,
                                                     std::function<QCoro::Task<>(DeletedItem)> action, QString verb)
{
    int failed = 0;
    QString first;
    // The model's actions go on for every item even when the window has gone meanwhile.
    for (const DeletedItem &item : items) {
        try {
            co_await action(item);
        } catch (...) {
            if (failed++ == 0)
                first = WindowErrors::message(std::current_exception());
        }
    }
    if (!self)
        co_return;
    self->endWork(failed ? std::optional(failureText(failed, int(items.size()), first, verb)) : std::nullopt);
}

QCoro::Task<> RecentlyDeletedPresenter::runEmpty(QPointer<RecentlyDeletedPresenter> self,
                                                 std::function<QCoro::Task<>()> action)
{
    std::optional<QString> error;
    try {
        co_await action();
    } catch (...) {
        error = WindowErrors::message(std::current_exception());
    }
    if (self)
        self->endWork(std::move(error));
}

void RecentlyDeletedPresenter::shown()
{
    m_context.windowOpened();
    m_refresh =
        DriveCore::TaskHandle<>::start([self = QPointer(this), context = m_context](DriveCore::CancelToken token) {
            return refreshWhileVisible(self, context, token);
        });
}

void RecentlyDeletedPresenter::hidden()
{
    m_refresh.cancel();
    m_context.windowClosed();
    if (m_loading) {
        m_loading = false;
        emit changed();
    }
}

QCoro::Task<> RecentlyDeletedPresenter::refreshWhileVisible(QPointer<RecentlyDeletedPresenter> self,
                                                            RecentlyDeletedContext context,
                                                            DriveCore::CancelToken token)
{
    bool force = true;
    bool spinner = true;
    while (self && !token.stop_requested()) {
        // No refresh while an action runs; the first refresh's treatment waits for the next turn.
        if (!self->m_working) {
            if (spinner) {
                self->m_loading = true;
                emit self->changed();
            }
            std::exception_ptr failure;
            try {
                co_await context.refreshDeleted(force);
            } catch (...) {
                failure = std::current_exception();
            }
            if (!self || token.stop_requested())
                co_return;
            if (failure) {
                if (!WindowErrors::isCancellation(failure)) {
                    self->m_error = WindowErrors::description(failure);
                    self->m_errorFromRefresh = true;
                }
            } else if (self->m_errorFromRefresh) {
                // A good refresh takes back only a refresh's own failure; an action's failure
                // stays until the next action, or it would be gone within 2 s.
                self->m_error.reset();
                self->m_errorFromRefresh = false;
            }
            self->m_loading = false;
            force = spinner = false;
            emit self->changed();
        }
        try {
            co_await context.sleep(refreshEvery, token);
        } catch (...) {
            co_return;
        }
    }
}

QString RecentlyDeletedPresenter::folder(const QString &originalPath, const std::optional<QString> &driveName)
{
    const qsizetype slash = originalPath.lastIndexOf(u'/');
    if (slash > 0)
        return originalPath.left(slash);
    return driveName.value_or(driveFallback);
}

std::optional<RecentlyDeletedPresenter::Panel>
RecentlyDeletedPresenter::emptyPanel(const std::optional<TrashStats> &stats)
{
    if (!stats)
        return Panel{QStringLiteral("Checking Recently Deleted"), moveIcon,
                     QStringLiteral("The list will update when the drive responds.")};
    if (stats->pending >= 1)
        return Panel{QStringLiteral("Moving files to Recently Deleted"), moveIcon,
                     QStringLiteral("They\u2019ll appear here when the move finishes.")};
    return Panel{QStringLiteral("Nothing in Recently Deleted"), trashIcon,
                 QStringLiteral("Deleted files stay here for 30 days.")};
}

QString RecentlyDeletedPresenter::failureText(int failed, int total, const QString &first, const QString &verb)
{
    if (total <= 1)
        return first;
    return QStringLiteral("%1 of %2 couldn't be %3: %4").arg(failed).arg(total).arg(verb, first);
}

} // namespace CorvaneDrive
