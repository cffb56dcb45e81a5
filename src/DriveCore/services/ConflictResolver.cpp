#include "DriveCore/services/ConflictResolver.h"

#include "DriveCore/mount/ChangeSync.h"

namespace DriveCore {

namespace {

const QString marker = QStringLiteral(" (conflict from ");

// The copy name of `original` for this device and counter.
QString copyName(const QString &original, const QString &device, qint64 counter)
{
    const auto [stem, extension] = RecentlyDeletedService::splitExtension(original);
    const QString label = counter < 2 ? device : device + u' ' + QString::number(counter);
    return stem + marker + label + u')' + extension;
}

// The engine's queue of the mounted drive; a queue that cannot be read counts as empty.
QCoro::Task<QSet<QString>> engineQueue(RCClient rc, CancelToken token)
{
    QStringList names;
    try {
        names = co_await rc.queuedUploads(QString::fromLatin1(RCClient::mountFs), token);
    } catch (const CancelledError &) {
        throw;
    } catch (...) {
        co_return QSet<QString>{};
    }
    co_return QSet<QString>(names.begin(), names.end());
}

} // namespace

std::optional<DriveConflict> DriveConflict::fromCopyPath(const QString &copyPath)
{
    const qsizetype slash = copyPath.lastIndexOf(u'/');
    const QString dir = copyPath.left(slash + 1);
    const QString name = copyPath.mid(slash + 1);
    const qsizetype at = name.lastIndexOf(marker);
    if (at <= 0)
        return std::nullopt; // no marker, or nothing in front of it
    const QString before = name.left(at);
    const QString after = name.mid(at + marker.size());

    // (label, extension): the label closed by ")" in front of the last ".", or at the very end.
    QList<std::pair<QString, QString>> candidates;
    if (const qsizetype dot = after.lastIndexOf(u'.'); dot > 0 && after[dot - 1] == u')')
        candidates.append({after.left(dot - 1), after.mid(dot)});
    if (after.endsWith(u')'))
        candidates.append({after.chopped(1), QString()});

    for (const auto &[label, extension] : candidates) {
        if (label.isEmpty())
            continue;
        const QString original = dir + before + extension;
        // (device, counter): "Mac 2" reads as Mac with counter 2, and always as itself too.
        QList<std::pair<QString, qint64>> readings;
        if (const qsizetype blank = label.lastIndexOf(u' '); blank > 0) {
            bool isNumber = false;
            const qint64 counter = label.mid(blank + 1).toLongLong(&isNumber);
            if (isNumber && counter >= 2)
                readings.append({label.left(blank), counter});
        }
        readings.append({label, 1});
        // Only a reading that rebuilds the copy's name exactly counts, so "Mac 02" or "Mac 1"
        // stay whole device names.
        for (const auto &[device, counter] : readings) {
            if (copyName(original, device, counter) == copyPath)
                return DriveConflict{original, copyPath, device};
        }
    }
    return std::nullopt;
}

QString DriveConflict::fileName() const
{
    return original.mid(original.lastIndexOf(u'/') + 1);
}

ConflictResolver::ConflictResolver(RCClient rc, QString filesFs, QString trashFs, RecentlyDeletedService::Nudge nudge,
                                   std::optional<QString> mountPath, Clock now, QueuedUploads queuedUploads,
                                   RecentlyDeletedService::Forget forget)
    : m_rc(rc), m_filesFs(filesFs), m_trash(rc, std::move(trashFs), std::move(filesFs), std::move(mountPath),
                                            std::move(nudge), std::move(now), std::move(forget)),
      m_queuedUploads(std::move(queuedUploads))
{
    if (!m_queuedUploads)
        m_queuedUploads = [rc = m_rc](CancelToken token) { return engineQueue(rc, std::move(token)); };
}

QCoro::Task<ConflictOutcome> ConflictResolver::resolve(DriveConflict conflict, ConflictChoice choice,
                                                       CancelToken token) const
{
    return resolving(*this, std::move(conflict), choice, std::move(token));
}

QCoro::Task<bool> ConflictResolver::exists(QString path, CancelToken token) const
{
    co_return (co_await m_rc.stat(m_filesFs, path, true, token)).has_value();
}

QCoro::Task<ConflictOutcome> ConflictResolver::resolving(ConflictResolver self, DriveConflict conflict,
                                                         ConflictChoice choice, CancelToken token)
{
    if (choice == ConflictChoice::keepBoth)
        co_return ConflictOutcome::keptBoth();
    if (!co_await self.exists(conflict.original, token) || !co_await self.exists(conflict.copy, token))
        co_return ConflictOutcome::alreadySortedOut();
    const QSet<QString> queued = co_await self.m_queuedUploads(token);

    if (choice == ConflictChoice::keepOther) {
        if (queued.contains(conflict.copy))
            co_return ConflictOutcome::occupied();
        co_await self.m_trash.moveToTrash(conflict.copy, token);
    } else {
        if (queued.contains(conflict.original) || queued.contains(conflict.copy))
            co_return ConflictOutcome::occupied();
        co_await self.m_trash.moveToTrash(conflict.original, token);
        if (co_await self.exists(conflict.original, token)) {
            // A newer version arrived meanwhile: it and the copy both stay.
            co_await self.m_trash.refreshMount(conflict.original, token);
            co_return ConflictOutcome::occupied();
        }
        co_await self.m_rc.moveFile(self.m_filesFs, conflict.copy, self.m_filesFs, conflict.original, token);
    }
    co_await self.m_trash.refreshMount(conflict.original, token);
    co_return ConflictOutcome::resolved(ChangeSync::parent(conflict.original));
}

namespace ConflictText {

QString title(const DriveConflict &conflict)
{
    return u'\u201C' + conflict.fileName() + QStringLiteral("\u201D was changed on two computers");
}

QString occupied(const QString &fileName)
{
    return u'\u201C' + fileName
        + QStringLiteral("\u201D changed again while you were choosing, so both versions were kept.");
}

QString counter(int waiting)
{
    return QStringLiteral("1 of ") + QString::number(waiting);
}

} // namespace ConflictText

} // namespace DriveCore
