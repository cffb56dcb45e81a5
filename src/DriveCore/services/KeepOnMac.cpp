#include "DriveCore/services/KeepOnMac.h"

#include "DriveCore/platform/ByteCountFormat.h"
#include "DriveCore/support/JsonReader.h"
#include "DriveCore/support/Saturating.h"
#include "KeepShared/KeepMenu.h"

#include <QSet>

#include <limits>

namespace DriveCore {

namespace {

struct UnpinReply {
    qint64 freed = 0;
    static UnpinReply decode(const JsonReader &reader) { return {reader.value<qint64>(u"freed")}; }
};

QJsonObject pathsParams(const QStringList &paths, const QString &fs)
{
    return {{QStringLiteral("fs"), fs}, {QStringLiteral("paths"), QJsonArray::fromStringList(paths)}};
}

} // namespace

PinStatus PinStatus::decode(const JsonReader &reader)
{
    return {reader.value<QString>(u"path"),     reader.value<bool>(u"isDir"),   reader.value<qint64>(u"files"),
            reader.value<qint64>(u"filesDone"), reader.value<qint64>(u"bytes"), reader.value<qint64>(u"bytesDone"),
            reader.value<QString>(u"state")};
}

PinsReply PinsReply::decode(const JsonReader &reader)
{
    return {reader.value<QList<PinStatus>>(u"pins"), reader.value<QString>(u"state")};
}

PinReply PinReply::decode(const JsonReader &reader)
{
    return {reader.value<qint64>(u"needed"), reader.value<qint64>(u"free"), reader.value<bool>(u"notEnoughSpace")};
}

QCoro::Task<PinsReply> pins(const RCClient &rc, QString fs, CancelToken token)
{
    return rc.call<PinsReply>(QStringLiteral("vfs/pins"), {{QStringLiteral("fs"), fs}}, std::move(token));
}

QCoro::Task<PinResult> pin(const RCClient &rc, QStringList paths, QString fs, CancelToken token)
{
    const PinReply reply =
        co_await rc.call<PinReply>(QStringLiteral("vfs/pin"), pathsParams(paths, fs), std::move(token));
    if (reply.notEnoughSpace)
        co_return PinResult::notEnoughSpace(reply.needed, reply.free);
    co_return PinResult::added();
}

QCoro::Task<qint64> unpin(const RCClient &rc, QStringList paths, QString fs, CancelToken token)
{
    const UnpinReply reply =
        co_await rc.call<UnpinReply>(QStringLiteral("vfs/unpin"), pathsParams(paths, fs), std::move(token));
    co_return reply.freed;
}

QCoro::Task<> pinScan(const RCClient &rc, QString fs, CancelToken token)
{
    co_await rc.call<RCClient::Empty>(QStringLiteral("vfs/pin-scan"), {{QStringLiteral("fs"), fs}}, std::move(token));
}

namespace KeepOnMac {

QString notEnoughSpaceText(qint64 needed, qint64 free)
{
    return QStringLiteral("Not enough space to keep these on this computer. They need %1; this computer has %2 free.")
        .arg(ByteCountFormat::fileSize(needed), ByteCountFormat::fileSize(free));
}

std::optional<QString> progressLine(const PinsReply &reply)
{
    if (reply.state == u"lowSpace")
        return QStringLiteral("Keeping on this computer paused: this computer is almost full");
    if (reply.state == u"done")
        return std::nullopt;
    // A file kept inside a kept folder is part of the folder's figures already.
    qint64 done = 0;
    qint64 total = 0;
    for (const PinStatus &pin : outermost(reply.pins)) {
        done = saturatingSum(done, pin.bytesDone);
        total = saturatingSum(total, pin.bytes);
    }
    if (done >= total)
        return std::nullopt;
    return QStringLiteral("Keeping on this computer: %1 of %2")
        .arg(ByteCountFormat::fileSize(done), ByteCountFormat::fileSize(total));
}

std::optional<QString> drivePath(const QString &location, const QString &mount)
{
    const std::optional<std::string> path =
        KeepShared::KeepMenu::drivePath(location.toStdString(), mount.toStdString());
    if (!path)
        return std::nullopt;
    return QString::fromStdString(*path);
}

QList<PinStatus> outermost(const QList<PinStatus> &rows)
{
    QSet<QString> folders;
    for (const PinStatus &row : rows) {
        if (row.isDir)
            folders.insert(row.path);
    }
    // A row lies inside folder f when its path is f, "/" and more: f is then its path up to
    // one of its slashes.
    const auto inside = [&](const QString &path) {
        for (qsizetype slash = path.indexOf(u'/'); slash >= 0; slash = path.indexOf(u'/', slash + 1)) {
            if (folders.contains(path.left(slash)))
                return true;
        }
        return false;
    };
    QList<PinStatus> kept;
    kept.reserve(rows.size());
    for (const PinStatus &row : rows) {
        if (!inside(row.path))
            kept.append(row);
    }
    return kept;
}

} // namespace KeepOnMac

} // namespace DriveCore
