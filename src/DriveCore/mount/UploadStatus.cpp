#include "DriveCore/mount/UploadStatus.h"

#include "DriveCore/engine/MountUploads.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <limits>

namespace DriveCore {

namespace {

bool countsAsUpload(const std::optional<QString> &group, const std::optional<QString> &dstFs)
{
    return MountUploads::isIntoDrive(group, dstFs, QLatin1String(RCClient::mountFs));
}

QString lastPiece(const QString &path)
{
    const QStringList pieces = path.split(u'/', Qt::SkipEmptyParts);
    return pieces.isEmpty() ? path : pieces.last();
}

// The engine's figures are taken as they are; absurd ones must not overflow.
qint64 saturatingSum(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (!__builtin_add_overflow(a, b, &sum))
        return sum;
    return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

} // namespace

QList<UploadRow> UploadStatus::rows(const CoreStats &stats, const QList<Transferred> &transferred,
                                    const VFSStats & /*vfs*/, bool online)
{
    QList<UploadRow> rows;
    QSet<QString> uploading;
    for (const Transferring &transfer : stats.transferring) {
        if (!countsAsUpload(transfer.group, transfer.dstFs))
            continue;
        UploadRow::State state = UploadRow::Waiting{QLatin1String(waitingText)};
        if (online)
            state = UploadRow::Uploading{transfer.percentage, transfer.eta};
        rows.append({transfer.name, lastPiece(transfer.name), transfer.size, state});
        uploading.insert(transfer.name);
    }

    // A file finished more than once shows once, where it first appeared, as it last ended.
    QList<QString> order;
    QHash<QString, const Transferred *> last;
    for (const Transferred &done : transferred) {
        if (!countsAsUpload(done.group, done.dstFs) || uploading.contains(done.name))
            continue;
        if (!last.contains(done.name))
            order.append(done.name);
        last.insert(done.name, &done);
    }
    for (const QString &name : order) {
        const Transferred &done = *last.value(name);
        UploadRow::State state = UploadRow::Safe{};
        if (!done.error.isEmpty())
            state = UploadRow::Problem{QString::fromUtf8(problemText)};
        rows.append({name, lastPiece(name), done.size, state});
    }
    return rows;
}

QString UploadStatus::statusLine(const QList<UploadRow> &rows, const VFSStats &vfs, bool online)
{
    const qint64 pending = saturatingSum(vfs.diskCache.uploadsInProgress, vfs.diskCache.uploadsQueued);
    if (pending < 1)
        return QString::fromUtf8(allSafeText);
    if (!online)
        return QLatin1String(waitingText);
    qint64 maxEta = 0;
    bool anyEta = false;
    for (const UploadRow &row : rows) {
        const auto *uploading = std::get_if<UploadRow::Uploading>(&row.state);
        if (uploading && uploading->etaSeconds) {
            maxEta = anyEta ? std::max(maxEta, *uploading->etaSeconds) : *uploading->etaSeconds;
            anyEta = true;
        }
    }
    const qint64 minutes = std::max<qint64>(saturatingSum(maxEta, 59) / 60, 1);
    return QStringLiteral("Uploading %1 %2 \u2014 %3 min left")
        .arg(pending)
        .arg(pending == 1 ? QStringLiteral("file") : QStringLiteral("files"))
        .arg(minutes);
}

} // namespace DriveCore
