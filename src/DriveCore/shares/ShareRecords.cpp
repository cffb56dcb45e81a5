#include "DriveCore/shares/ShareRecords.h"

#include "DriveCore/shares/ScratchFolder.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/support/JsonReader.h"
#include "DriveCore/support/Threads.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <memory>
#include <numeric>

namespace DriveCore {

namespace {

const QString recordsFolder = QStringLiteral("shares");

QString recordName(const QString &id)
{
    return id + QStringLiteral(".json");
}

void checkID(const QString &id)
{
    if (!ShareFormat::isShareID(id))
        throw ShareFormat::Failure(ShareFormat::Failure::badShareID);
}

QDateTime dateValue(const QString &text, QStringView key)
{
    const std::optional<QDateTime> date = ShareRecords::date(text);
    if (!date)
        throw JsonDecodingError(QStringLiteral("Expected a date at %1").arg(key));
    return *date;
}

std::shared_ptr<ScratchFolder> makeScratchFolder()
{
    return std::make_shared<ScratchFolder>(QLatin1String(ShareRecords::scratchPrefix));
}

QString fileName(const QString &remote)
{
    return remote.mid(remote.lastIndexOf(u'/') + 1);
}

// Removing the folder walks it: in the pool, not on the caller's thread.
QCoro::Task<> discard(std::shared_ptr<ScratchFolder> folder)
{
    co_await runInPool([folder = std::move(folder)]() mutable { folder.reset(); });
}

} // namespace

QByteArray ShareRecords::encode(const QJsonObject &object)
{
    // Keys come out sorted (a QJsonObject keeps them so). "/" only ever stands inside strings,
    // where the other platforms' encoder escapes it.
    QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    json.replace("/", "\\/");
    return json;
}

QJsonObject ShareRecords::decode(const QByteArray &json)
{
    return JsonReader::parse(json, u"The record").object();
}

QString ShareRecords::dateText(const QDateTime &date)
{
    // Qt's ISO form has no fraction of a second: it is cut off, not rounded.
    return date.toUTC().toString(Qt::ISODate);
}

std::optional<QDateTime> ShareRecords::date(const QString &text)
{
    static const QRegularExpression internetDate(
        QStringLiteral("\\A[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(Z|[+-][0-9]{2}:[0-9]{2})\\z"));
    if (!internetDate.match(text).hasMatch())
        return std::nullopt;
    const QDateTime date = QDateTime::fromString(text, Qt::ISODate).toUTC();
    // An offset may carry the instant out of the years that the stored form can write.
    if (!date.isValid() || date.date().year() < 1 || date.date().year() > 9999)
        return std::nullopt;
    return date;
}

QByteArray ShareRecords::encoded(const ShareRecord &record)
{
    QJsonObject object{
        {QStringLiteral("id"), record.id},
        {QStringLiteral("secret"), record.secret},
        {QStringLiteral("title"), record.title},
        {QStringLiteral("items"), QJsonArray::fromStringList(record.items)},
        {QStringLiteral("fileCount"), record.fileCount},
        {QStringLiteral("totalBytes"), record.totalBytes},
        {QStringLiteral("createdAt"), dateText(record.createdAt)},
        {QStringLiteral("workerURL"), record.workerURL.toString(QUrl::FullyEncoded)},
        {QStringLiteral("createdBy"), record.createdBy},
    };
    if (record.password)
        object.insert(QStringLiteral("password"), *record.password);
    if (record.expiresAt)
        object.insert(QStringLiteral("expiresAt"), dateText(*record.expiresAt));
    if (record.maxDownloads)
        object.insert(QStringLiteral("maxDownloads"), *record.maxDownloads);
    return encode(object);
}

ShareRecord ShareRecords::decoded(const QByteArray &json)
{
    const JsonReader reader(decode(json));
    ShareRecord record;
    record.id = reader.value<QString>(u"id");
    record.secret = reader.value<QString>(u"secret");
    record.password = reader.optional<QString>(u"password");
    record.title = reader.value<QString>(u"title");
    record.items = reader.value<QList<QString>>(u"items");
    record.fileCount = reader.value<qint64>(u"fileCount");
    record.totalBytes = reader.value<qint64>(u"totalBytes");
    record.createdAt = dateValue(reader.value<QString>(u"createdAt"), u"createdAt");
    if (const auto expiresAt = reader.optional<QString>(u"expiresAt"))
        record.expiresAt = dateValue(*expiresAt, u"expiresAt");
    record.maxDownloads = reader.optional<qint64>(u"maxDownloads");
    record.workerURL = QUrl(reader.value<QString>(u"workerURL"), QUrl::StrictMode);
    if (!record.workerURL.isValid() || record.workerURL.isRelative())
        throw JsonDecodingError(QStringLiteral("Expected an absolute address at workerURL"));
    record.createdBy = reader.value<QString>(u"createdBy");
    return record;
}

QCoro::Task<> ShareRecords::save(ShareRecord record, CancelToken token) const
{
    checkID(record.id);
    co_await putFile(m_rc, QLatin1String(scratchPrefix), encoded(record), m_metaFs,
                     recordsFolder + u'/' + recordName(record.id), token);
}

QCoro::Task<> ShareRecords::putFile(RCClient rc, QString prefix, QByteArray data, QString fs, QString remote,
                                    CancelToken token)
{
    const QString name = fileName(remote);
    std::shared_ptr<ScratchFolder> folder = co_await runInPool([prefix, name, data] {
        auto made = std::make_shared<ScratchFolder>(prefix);
        made->write(name, data);
        return made;
    });
    std::exception_ptr failure;
    try {
        co_await rc.copyFile(folder->path(), name, fs, remote, token);
    } catch (...) {
        failure = std::current_exception();
    }
    co_await discard(std::move(folder));
    if (failure)
        std::rethrow_exception(failure);
}

QCoro::Task<QByteArray> ShareRecords::fetchFile(RCClient rc, QString prefix, QString fs, QString remote,
                                                CancelToken token)
{
    const QString name = fileName(remote);
    std::shared_ptr<ScratchFolder> folder =
        co_await runInPool([prefix] { return std::make_shared<ScratchFolder>(prefix); });
    QByteArray data;
    std::exception_ptr failure;
    try {
        co_await rc.copyFile(fs, remote, folder->path(), name, token);
        const ScratchFolder *scratch = folder.get();
        data = co_await runInPool([scratch, name] { return scratch->take(name); });
    } catch (...) {
        failure = std::current_exception();
    }
    co_await discard(std::move(folder));
    if (failure)
        std::rethrow_exception(failure);
    co_return data;
}

QCoro::Task<> ShareRecords::remove(QString id, CancelToken token) const
{
    const RCClient rc = m_rc;
    const QString metaFs = m_metaFs;
    checkID(id);
    try {
        co_await rc.deleteFile(metaFs, recordsFolder + u'/' + recordName(id), token);
    } catch (const RCError &error) {
        if (!error.message.contains(u"not found"))
            throw;
    }
}

QCoro::Task<QList<ShareRecord>> ShareRecords::all(CancelToken token) const
{
    const RCClient rc = m_rc;
    const QString metaFs = m_metaFs;
    QList<ListItem> listed;
    bool noFolder = false;
    try {
        listed = co_await rc.list(metaFs, recordsFolder, false, token);
    } catch (const RCError &error) {
        if (!error.message.contains(u"directory not found"))
            throw;
        noFolder = true;
    }
    QList<ShareRecord> records;
    if (noFolder)
        co_return records;

    const std::shared_ptr<ScratchFolder> folder = co_await runInPool(makeScratchFolder);
    for (const ListItem &entry : listed) {
        if (entry.IsDir || !entry.Name.endsWith(u".json"))
            continue;
        const QString local = QUuid::createUuid().toString(QUuid::WithoutBraces);
        bool copied = true;
        try {
            co_await rc.copyFile(metaFs, entry.Path, folder->path(), local, token);
        } catch (const CancelledError &) {
            throw;
        } catch (const std::exception &) {
            copied = false; // one record that cannot be fetched does not hide the others
        }
        if (!copied)
            continue;
        // The folder stays this coroutine's alone, so it goes when the coroutine ends.
        const ScratchFolder *scratch = folder.get();
        const std::optional<ShareRecord> record = co_await runInPool([scratch, local]() -> std::optional<ShareRecord> {
            try {
                return decoded(scratch->take(local));
            } catch (const std::exception &) {
                return std::nullopt;
            }
        });
        if (record && ShareFormat::isShareID(record->id))
            records.append(*record);
    }
    // Newest first; equal times keep the listing's order.
    QList<qsizetype> order(records.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&records](qsizetype a, qsizetype b) {
        return records[a].createdAt != records[b].createdAt ? records[a].createdAt > records[b].createdAt : a < b;
    });
    QList<ShareRecord> sorted;
    sorted.reserve(records.size());
    for (const qsizetype index : order)
        sorted.append(records[index]);
    co_return sorted;
}

} // namespace DriveCore
