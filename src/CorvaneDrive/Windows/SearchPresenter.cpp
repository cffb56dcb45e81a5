#include "CorvaneDrive/Windows/SearchPresenter.h"

#include "CorvaneDrive/Windows/WindowErrors.h"
#include "DriveCore/platform/ByteCountFormat.h"
#include "DriveCore/platform/DateTimeFormat.h"
#include "DriveCore/support/Threads.h"

#include <QFileInfo>

namespace CorvaneDrive {

using DriveCore::DriveSearchEntry;
namespace DriveSearch = DriveCore::DriveSearch;

SearchPresenter::SearchPresenter(SearchContext context, QObject *parent)
    : QObject(parent), m_context(std::move(context))
{
    m_context.observeIndexedAt(this, [this] { indexChanged(); });
    m_context.observeSettings(this, [this] { settingsChanged(); });
    m_context.observe(this, [this] { emit changed(); });
}

SearchPresenter::~SearchPresenter() = default;

std::optional<SearchPresenter::Placeholder> SearchPresenter::placeholder() const
{
    if (!m_results.items.isEmpty())
        return std::nullopt;
    return placeholderFor(m_query, m_loading);
}

std::optional<QString> SearchPresenter::updatedText() const
{
    const std::optional<QDateTime> at = m_context.searchIndexedAt();
    if (!at)
        return std::nullopt;
    return QStringLiteral("Updated ") + DriveCore::DateTimeFormat::time(*at);
}

QString SearchPresenter::countText(qsizetype total)
{
    if (total > limit)
        return QStringLiteral("Showing 500 of %1 matches \u2014 narrow your search").arg(total);
    return QStringLiteral("%1 matches").arg(total);
}

SearchPresenter::Placeholder SearchPresenter::placeholderFor(const QString &query, bool loading)
{
    return {query.trimmed().isEmpty() ? QStringLiteral("Search your Ovra drive") : QStringLiteral("No matches"),
            loading ? QStringLiteral("Reading file names and folders\u2026")
                    : QStringLiteral("Search names and folder paths without downloading file contents.")};
}

QString SearchPresenter::folderText(const DriveSearchEntry &entry)
{
    const qsizetype slash = entry.path.lastIndexOf(u'/');
    return slash < 0 ? QString() : entry.path.left(slash);
}

QString SearchPresenter::modifiedText(const DriveSearchEntry &entry)
{
    if (entry.pendingUpload)
        return pendingText;
    return entry.modified ? DriveCore::DateTimeFormat::date(*entry.modified) : QString();
}

QString SearchPresenter::sizeText(const DriveSearchEntry &entry)
{
    return entry.size ? DriveCore::ByteCountFormat::fileSize(*entry.size) : QString();
}

QList<QUrl> SearchPresenter::urls(const QStringList &paths, const std::optional<QString> &mountPath)
{
    QList<QUrl> found;
    if (!mountPath)
        return found;
    const QUrl mount = QUrl::fromLocalFile(*mountPath);
    for (const QString &path : paths)
        if (const std::optional<QUrl> url = DriveSearch::revealURL(path, mount))
            found.append(*url);
    return found;
}

void SearchPresenter::setQuery(const QString &query)
{
    if (query == m_query)
        return;
    m_query = query;
    emit changed();
    startQueryRun();
}

void SearchPresenter::setSelection(std::optional<QString> path)
{
    if (path == m_selection)
        return;
    m_selection = std::move(path);
    emit changed();
}

void SearchPresenter::startQueryRun()
{
    // A new query's run replaces the last one.
    m_queryRun = DriveCore::TaskHandle<>::start(
        [self = QPointer(this)](DriveCore::CancelToken token) { return search(self, token, true); });
}

void SearchPresenter::indexChanged()
{
    emit changed();
    if (!m_shown)
        return;
    // A run of its own, which a later keystroke does not cancel.
    search(this, {}, true);
}

void SearchPresenter::settingsChanged()
{
    emit changed();
    if (!m_shown)
        return;
    const std::optional<QUuid> device = m_context.deviceID();
    if (device == m_shownDevice)
        return;
    m_shownDevice = device;
    cancelLoad();
    m_selection.reset();
    m_results = {};
    emit changed();
    if (device)
        refresh();
}

struct SearchPresenter::Snapshot {
    QString query;
    std::optional<QDateTime> indexedAt;
    std::optional<QUuid> device;

    bool operator==(const Snapshot &) const = default;
};

QCoro::Task<> SearchPresenter::search(QPointer<SearchPresenter> self, DriveCore::CancelToken token, bool debounced)
{
    if (!self)
        co_return;
    const Snapshot before{self->m_query, self->m_context.searchIndexedAt(), self->m_context.deviceID()};
    const DriveSearch::Index index = self->m_context.searchIndex();
    auto sleep = self->m_context.sleep;
    if (debounced) {
        try {
            co_await sleep(debounce, token);
        } catch (const DriveCore::CancelledError &) {
            co_return;
        }
    }
    if (!self || token.stop_requested())
        co_return;
    DriveSearch::Results found = co_await DriveCore::runInPool(
        [index, query = before.query] { return DriveSearch::results(index, query, limit); });
    if (!self || token.stop_requested())
        co_return;
    const Snapshot now{self->m_query, self->m_context.searchIndexedAt(), self->m_context.deviceID()};
    if (now != before)
        co_return;
    self->m_results = std::move(found);
    const bool kept = self->m_selection
        && std::any_of(self->m_results.items.cbegin(), self->m_results.items.cend(),
                       [&](const DriveSearchEntry &entry) { return entry.path == *self->m_selection; });
    if (!kept)
        self->m_selection.reset();
    emit self->changed();
    emit self->resultsApplied();
}

void SearchPresenter::refresh()
{
    cancelLoad();
    const QUuid id = QUuid::createUuid();
    m_loadID = id;
    m_loading = true;
    m_error.reset();
    emit changed();
    m_loadTask =
        DriveCore::TaskHandle<>::start([self = QPointer(this), refresh = m_context.refreshSearchIndex,
                                        id](DriveCore::CancelToken token) { return load(self, refresh, id, token); });
}

QCoro::Task<> SearchPresenter::load(QPointer<SearchPresenter> self,
                                    std::function<QCoro::Task<>(DriveCore::CancelToken)> refresh, QUuid id,
                                    DriveCore::CancelToken token)
{
    std::exception_ptr failure;
    try {
        co_await refresh(token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || self->m_loadID != id)
        co_return;
    if (failure && !token.stop_requested() && !WindowErrors::isCancellation(failure))
        self->m_error = WindowErrors::message(failure);
    self->m_loading = false;
    emit self->changed();
}

void SearchPresenter::cancelLoad()
{
    m_loadID = QUuid::createUuid();
    m_loadTask.cancel();
    m_loadTask = {};
    if (m_loading) {
        m_loading = false;
        emit changed();
    }
}

QUrl SearchPresenter::folderOf(const QList<QUrl> &items)
{
    if (items.isEmpty())
        return {};
    return QUrl::fromLocalFile(QFileInfo(items.front().toLocalFile()).path());
}

void SearchPresenter::reveal(const QStringList &paths)
{
    const QList<QUrl> found = urls(paths, m_context.mountPath());
    if (!found.isEmpty())
        m_context.reveal(found);
}

void SearchPresenter::open(const QStringList &paths)
{
    for (const QUrl &url : urls(paths, m_context.mountPath()))
        m_context.open(url);
}

void SearchPresenter::shown()
{
    m_shown = true;
    m_shownDevice = m_context.deviceID();
    m_context.windowOpened();
    if (!m_context.searchIndexedAt())
        refresh();
    startQueryRun();
}

void SearchPresenter::hidden()
{
    if (!m_shown)
        return;
    m_shown = false;
    cancelLoad();
    m_queryRun.cancel();
    m_context.windowClosed();
}

} // namespace CorvaneDrive
