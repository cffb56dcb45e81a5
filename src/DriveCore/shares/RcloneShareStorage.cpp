#include "DriveCore/shares/RcloneShareStorage.h"

#include "DriveCore/platform/StreamingProcess.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/support/Log.h"

#include <QRegularExpression>

namespace DriveCore {

namespace {

const Log logger("share-storage");

// Only the end of standard error is kept while an object streams in.
constexpr qsizetype stderrKept = 4000;
constexpr qsizetype messageCharacters = 400;

bool isObjectName(const QString &name)
{
    if (name == u"manifest" || name == u"meta.json")
        return true;
    if (!name.startsWith(u"f/"))
        return false;
    static const QRegularExpression decimal(QStringLiteral("\\A[+-]?[0-9]+\\z"));
    const QString index = name.mid(2);
    bool ok = false;
    const qlonglong value = index.toLongLong(&ok, 10);
    return decimal.match(index).hasMatch() && ok && value >= 0;
}

// A cancelled run ends with an interrupted program: that is the cancellation, not a failure.
void checkRun(int32_t status, const CancelToken &token)
{
    if (status != 0)
        checkCancelled(token);
}

} // namespace

RcloneShareStorage RcloneShareStorage::forDrive(QString rclone, Environment environment, const QString &bucket)
{
    return RcloneShareStorage(std::move(rclone), std::move(environment),
                              QStringLiteral("drive:") + bucket + u'/' + QLatin1String(ShareFormat::sharesFolder));
}

QString RcloneShareStorage::path(const QString &id, const std::optional<QString> &name) const
{
    if (!ShareFormat::isShareID(id))
        throw ShareFormat::Failure(ShareFormat::Failure::badShareID);
    if (!name)
        return sharesFs + u'/' + id;
    if (!isObjectName(*name))
        throw Failure(QStringLiteral("bad share object name"));
    return sharesFs + u'/' + id + u'/' + *name;
}

QStringList RcloneShareStorage::rcatArguments(const QString &destination, qint64 size)
{
    return {QStringLiteral("rcat"), QStringLiteral("--size"),
            QString::number(size),  QStringLiteral("--s3-chunk-size"),
            QStringLiteral("64M"),  QStringLiteral("--retries"),
            QStringLiteral("1"),    QStringLiteral("--low-level-retries"),
            QStringLiteral("5"),    destination};
}

QString RcloneShareStorage::tail(const QByteArray &stderrBytes)
{
    QString text = QString::fromUtf8(stderrBytes);
    if (text.size() > messageCharacters) {
        text = text.right(messageCharacters);
        if (text.front().isLowSurrogate())
            text.remove(0, 1);
    }
    return text.trimmed();
}

QString RcloneShareStorage::failure(int32_t signal, const QByteArray &stderrBytes)
{
    // What a dying program wrote is no answer to trust.
    if (signal != 0)
        return QStringLiteral("the engine was stopped by ") + ProcessRunner::signalText(signal);
    return tail(stderrBytes);
}

bool RcloneShareStorage::isNotFound(const QByteArray &stderrBytes)
{
    const QString text = QString::fromUtf8(stderrBytes).toLower();
    // The last is how Debian's engine program words a missing object for "deletefile".
    return text.contains(u"not found") || text.contains(u"no such file") || text.contains(u"doesn't exist");
}

QCoro::Task<> RcloneShareStorage::upload(QString id, QString name, qint64 size, Produce produce,
                                         CancelToken token) const
{
    // Copies, so the storage may go away while the upload runs.
    const QString destination = path(id, name);
    const QString program = rclone;
    const Environment runEnvironment = environment;
    const StreamingProcess::Result result = co_await StreamingProcess::run(
        program, rcatArguments(destination, size), runEnvironment, std::move(produce), stderrKept, token);
    if (result.status != 0) {
        const QString message = QStringLiteral("upload failed: ") + failure(result.signal, result.stderrTail);
        logger.error("Share object not written: %{public}s", message);
        throw Failure(message);
    }
}

QCoro::Task<> RcloneShareStorage::put(QString id, QString name, QByteArray data, CancelToken token) const
{
    const QString destination = path(id, name);
    const QString program = rclone;
    const Environment runEnvironment = environment;
    const qint64 size = data.size();
    checkCancelled(token);
    const RcloneResult result =
        co_await ProcessRunner::run(program, rcatArguments(destination, size), runEnvironment, std::move(data), token);
    checkRun(result.status, token);
    if (result.status != 0) {
        const QString message = QStringLiteral("upload failed: ") + failure(result.signal, result.stderrBytes);
        logger.error("Share object not written: %{public}s", message);
        throw Failure(message);
    }
}

QCoro::Task<> RcloneShareStorage::deleteObject(QString id, QString name, CancelToken token) const
{
    const QString target = path(id, name);
    co_await remove(rclone, environment, {QStringLiteral("deletefile"), target}, std::move(token));
}

QCoro::Task<> RcloneShareStorage::deleteAll(QString id, CancelToken token) const
{
    const QString target = path(id, std::nullopt);
    co_await remove(rclone, environment, {QStringLiteral("purge"), target}, std::move(token));
}

QCoro::Task<> RcloneShareStorage::remove(QString program, Environment environment, QStringList arguments,
                                         CancelToken token)
{
    checkCancelled(token);
    const RcloneResult result = co_await ProcessRunner::run(program, arguments, environment, std::nullopt, token);
    checkRun(result.status, token);
    if (result.status != 0 && (result.signal != 0 || !isNotFound(result.stderrBytes))) {
        const QString message = QStringLiteral("delete failed: ") + failure(result.signal, result.stderrBytes);
        logger.error("Share objects not removed: %{public}s", message);
        throw Failure(message);
    }
}

} // namespace DriveCore
