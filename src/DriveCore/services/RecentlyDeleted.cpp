#include "DriveCore/services/RecentlyDeleted.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/mount/ChangeSync.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Saturating.h"
#include "DriveCore/support/Threads.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace DriveCore {

namespace {

const Log log("recently-deleted");

// A trash purged after 30 whole days: a file deleted on day D goes with the first purge on or
// after D+31.
constexpr int daysKept = 30;
constexpr int purgeAge = 31;

bool isAsciiDigits(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

} // namespace

int DeletedItem::daysLeft(const QDateTime &today, const QTimeZone &zone) const
{
    return std::max(0, daysKept - RecentlyDeletedService::daysBetween(deletedOn, today, zone));
}

RecentlyDeletedService::RecentlyDeletedService(RCClient rc, QString trashFs, QString filesFs,
                                               std::optional<QString> mountPath, Nudge nudge, Clock now, Forget forget)
    : m_rc(std::move(rc)), m_trashFs(std::move(trashFs)), m_filesFs(std::move(filesFs)),
      m_mountPath(std::move(mountPath)), m_now(std::move(now)), m_forget(std::move(forget)), m_nudge(std::move(nudge))
{
    if (!m_now)
        m_now = [] { return QDateTime::currentDateTime(); };
    if (!m_forget) {
        m_forget = [rc = m_rc, fs = m_filesFs](QStringList paths, CancelToken token) {
            return rc.forgetFiles(std::move(paths), fs, std::move(token));
        };
    }
}

QCoro::Task<QList<DeletedItem>> RecentlyDeletedService::list(CancelToken token) const
{
    return listing(*this, std::move(token));
}

QCoro::Task<QString> RecentlyDeletedService::restore(DeletedItem item, CancelToken token) const
{
    return restoring(*this, std::move(item), std::move(token));
}

QCoro::Task<> RecentlyDeletedService::deleteNow(DeletedItem item, CancelToken token) const
{
    return m_rc.deleteFile(m_trashFs, item.id, std::move(token));
}

QCoro::Task<> RecentlyDeletedService::empty(CancelToken token) const
{
    return emptying(*this, std::move(token));
}

QCoro::Task<int> RecentlyDeletedService::purgeExpired(CancelToken token) const
{
    return purging(*this, std::move(token));
}

QCoro::Task<QString> RecentlyDeletedService::moveToTrash(QString path, CancelToken token) const
{
    return trashing(*this, std::move(path), std::move(token));
}

QCoro::Task<> RecentlyDeletedService::refreshMount(QString path, CancelToken token) const
{
    return refreshing(*this, std::move(path), std::move(token));
}

QCoro::Task<qint64> RecentlyDeletedService::totalSize(CancelToken token) const
{
    return summing(*this, std::move(token));
}

QCoro::Task<QList<ListItem>> RecentlyDeletedService::listTrash(bool recurse, CancelToken token) const
{
    try {
        co_return co_await m_rc.list(m_trashFs, QString(), recurse, token);
    } catch (const RCError &error) {
        // Nothing has been deleted yet.
        if (!error.message.contains(u"directory not found"))
            throw;
    }
    co_return QList<ListItem>{};
}

QCoro::Task<QList<DeletedItem>> RecentlyDeletedService::listing(RecentlyDeletedService self, CancelToken token)
{
    co_return deletedItems(co_await self.listTrash(true, token));
}

QList<DeletedItem> RecentlyDeletedService::deletedItems(const QList<ListItem> &trash, const QTimeZone &zone)
{
    QList<DeletedItem> items;
    for (const ListItem &entry : trash) {
        const qsizetype slash = entry.Path.indexOf(u'/');
        if (entry.IsDir || slash < 0)
            continue;
        const std::optional<QDateTime> day = parseDateFolder(entry.Path.left(slash), zone);
        if (!day)
            continue;
        items.append({entry.Path, entry.Path.mid(slash + 1), *day, entry.Size});
    }
    return items;
}

QCoro::Task<bool> RecentlyDeletedService::isTaken(RecentlyDeletedService self, QString path, CancelToken token)
{
    if (self.m_mountPath) {
        // The mount may be slow to answer: asked off the main thread.
        const QString local = QDir(*self.m_mountPath).filePath(path);
        if (co_await runInPool([local] { return QFileInfo::exists(local); }))
            co_return true;
        checkCancelled(token);
    }
    co_return (co_await self.m_rc.stat(self.m_filesFs, path, false, token)).has_value();
}

QCoro::Task<QString> RecentlyDeletedService::restoring(RecentlyDeletedService self, DeletedItem item, CancelToken token)
{
    QString destination = item.originalPath;
    for (int attempt = 1; co_await isTaken(self, destination, token); ++attempt)
        destination = restoredName(item.originalPath, attempt);
    // Worked out before the move, while the folders it creates are still missing.
    const QString forgotten = co_await forgetTarget(
        destination, [self, token](QString path) { return isTaken(self, std::move(path), token); });
    co_await self.m_rc.moveFile(self.m_trashFs, item.id, self.m_filesFs, destination, token);
    co_await refreshing(self, forgotten, token);
    co_return destination;
}

QCoro::Task<> RecentlyDeletedService::emptying(RecentlyDeletedService self, CancelToken token)
{
    for (const ListItem &entry : co_await self.listTrash(false, token)) {
        if (entry.IsDir)
            co_await self.m_rc.purge(self.m_trashFs, entry.Path, token);
        else
            co_await self.m_rc.deleteFile(self.m_trashFs, entry.Path, token);
    }
}

QCoro::Task<int> RecentlyDeletedService::purging(RecentlyDeletedService self, CancelToken token)
{
    const QDateTime today = self.m_now();
    int removed = 0;
    for (const ListItem &entry : co_await self.listTrash(false, token)) {
        if (!entry.IsDir)
            continue;
        const std::optional<QDateTime> day = parseDateFolder(entry.Path);
        if (!day || daysBetween(*day, today) < purgeAge)
            continue;
        const QList<ListItem> contents = co_await self.m_rc.list(self.m_trashFs, entry.Path, true, token);
        const auto files = std::count_if(contents.begin(), contents.end(), [](const ListItem &e) { return !e.IsDir; });
        co_await self.m_rc.purge(self.m_trashFs, entry.Path, token);
        removed += int(files);
    }
    co_return removed;
}

QCoro::Task<QString> RecentlyDeletedService::trashing(RecentlyDeletedService self, QString path, CancelToken token)
{
    const QString base = DriveLayout::dateFolder(self.m_now()) + u'/' + path;
    QString candidate = base;
    // Files only: a folder of the same name does not take the name.
    for (int attempt = 2; co_await self.m_rc.stat(self.m_trashFs, candidate, true, token); ++attempt) {
        const auto [stem, extension] = splitExtension(base);
        candidate = stem + QStringLiteral(" (%1)").arg(attempt) + extension;
    }
    co_await self.m_rc.moveFile(self.m_filesFs, path, self.m_trashFs, candidate, token);
    co_return candidate;
}

QCoro::Task<> RecentlyDeletedService::refreshing(RecentlyDeletedService self, QString path, CancelToken token)
{
    try {
        co_await self.m_forget({path}, token);
    } catch (const std::exception &error) {
        log.info("Could not refresh folder listing: %{private}s", error.what());
        co_return;
    }
    if (self.m_mountPath && self.m_nudge)
        co_await self.m_nudge(*self.m_mountPath, ChangeSync::parent(path));
}

QCoro::Task<qint64> RecentlyDeletedService::summing(RecentlyDeletedService self, CancelToken token)
{
    qint64 total = 0;
    for (const DeletedItem &item : co_await listing(self, token))
        total = saturatingSum(total, item.size);
    co_return total;
}

std::optional<QDateTime> RecentlyDeletedService::parseDateFolder(const QString &name, const QTimeZone &zone)
{
    const QStringList parts = name.split(u'-');
    if (parts.size() != 3 || parts[0].size() != 4 || parts[1].size() != 2 || parts[2].size() != 2)
        return std::nullopt;
    if (!std::all_of(parts.begin(), parts.end(), [](const QString &part) { return isAsciiDigits(part); }))
        return std::nullopt;
    const QDate day(parts[0].toInt(), parts[1].toInt(), parts[2].toInt());
    if (!day.isValid())
        return std::nullopt;
    const QDateTime start = day.startOfDay(zone);
    // Only the name the engine would give that day counts.
    if (DriveLayout::dateFolder(start, zone) != name)
        return std::nullopt;
    return start;
}

QString RecentlyDeletedService::restoredName(const QString &path, int attempt)
{
    const qsizetype nameStart = path.lastIndexOf(u'/') + 1;
    const qsizetype dot = path.lastIndexOf(u'.');
    // An extension follows a "." that neither starts the name nor ends it.
    const bool hasExtension = dot > nameStart && dot < path.size() - 1;
    const QString base = hasExtension ? path.left(dot) : path;
    const QString marker = attempt == 1 ? QStringLiteral(" (restored)") : QStringLiteral(" (restored %1)").arg(attempt);
    return hasExtension ? base + marker + path.mid(dot) : base + marker;
}

std::pair<QString, QString> RecentlyDeletedService::splitExtension(const QString &path)
{
    const qsizetype nameStart = path.lastIndexOf(u'/') + 1;
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot <= nameStart)
        return {path, QString()};
    return {path.left(dot), path.mid(dot)};
}

QCoro::Task<QString> RecentlyDeletedService::forgetTarget(QString destination,
                                                          std::function<QCoro::Task<bool>(QString)> exists)
{
    QStringList folders = destination.split(u'/', Qt::SkipEmptyParts);
    if (!folders.isEmpty())
        folders.removeLast();
    QString prefix;
    for (const QString &folder : folders) {
        prefix = prefix.isEmpty() ? folder : prefix + u'/' + folder;
        if (!co_await exists(prefix))
            co_return prefix;
    }
    co_return destination;
}

int RecentlyDeletedService::daysBetween(const QDateTime &a, const QDateTime &b, const QTimeZone &zone)
{
    return int(a.toTimeZone(zone).date().daysTo(b.toTimeZone(zone).date()));
}

} // namespace DriveCore
