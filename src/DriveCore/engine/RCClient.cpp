#include "DriveCore/engine/RCClient.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QUrl>

#include <coroutine>
#include <exception>
#include <memory>

namespace DriveCore {

namespace {

// Resumes the awaiting coroutine on the thread of `context`, through that thread's event loop;
// at once when it already runs there.
class ResumeOn {
public:
    explicit ResumeOn(QObject *context) : m_context(context) {}

    bool await_ready() const noexcept { return m_context->thread() == QThread::currentThread(); }
    void await_suspend(std::coroutine_handle<> coroutine) const
    {
        QMetaObject::invokeMethod(m_context, [coroutine] { coroutine.resume(); }, Qt::QueuedConnection);
    }
    void await_resume() const noexcept {}

private:
    QObject *m_context;
};

// The wrappers of replies whose callers want one member.
struct ListReply {
    QList<ListItem> list;
    static ListReply decode(const JsonReader &reader) { return {reader.value<QList<ListItem>>(u"list")}; }
};

struct QueueReply {
    struct Item {
        QString name;
        static Item decode(const JsonReader &reader) { return {reader.value<QString>(u"name")}; }
    };
    QList<Item> queue;

    static QueueReply decode(const JsonReader &reader) { return {reader.listOrEmpty<Item>(u"queue")}; }
    QStringList names() const
    {
        QStringList names;
        names.reserve(queue.size());
        for (const Item &item : queue)
            names.append(item.name);
        return names;
    }
};

struct TransferredList {
    QList<Transferred> transferred;
    static TransferredList decode(const JsonReader &reader)
    {
        return {reader.listOrEmpty<Transferred>(u"transferred")};
    }
};

struct VFSListReply {
    QStringList vfses;
    static VFSListReply decode(const JsonReader &reader) { return {reader.listOrEmpty<QString>(u"vfses")}; }
};

template<typename T, typename F>
auto then(QCoro::Task<T> task, F transform) -> QCoro::Task<std::invoke_result_t<F &, T>>
{
    co_return transform(co_await std::move(task));
}

QCoro::Task<> discard(QCoro::Task<RCClient::Empty> task)
{
    co_await std::move(task);
}

QCoro::Task<> nothing()
{
    co_return;
}

QCoro::Task<bool> answered(QCoro::Task<RCClient::Empty> task)
{
    try {
        co_await std::move(task);
        co_return true;
    } catch (...) {
        co_return false;
    }
}

// Looked up for a recursive listing; outside the table, so it gets the longest time-out.
constexpr QStringView recursiveListing = u"operations/list (recursive)";

struct TimeoutEntry {
    QStringView method;
    int seconds;
};

constexpr TimeoutEntry timeouts[] = {
    {u"core/version", 5},      {u"core/stats", 10},
    {u"core/transferred", 10}, {u"vfs/stats", 10},
    {u"vfs/forget", 10},       {u"vfs/list", 10},
    {u"operations/stat", 10},  {u"vfs/pins", 10},
    {u"vfs/pin-scan", 10},     {u"vfs/queue", 10},
    {u"vfs/unpin", 60},        {u"vfs/pin", 120},
    {u"operations/list", 60},  {u"operations/deletefile", 60},
};
constexpr int otherMethodsTimeout = 3600;

// The message of a failed reply: the JSON "error" string as sent, else the trimmed body,
// else the status's reason phrase.
QString errorMessage(const QByteArray &body, int status)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error == QJsonParseError::NoError && document.isObject()) {
        const QJsonValue error = document.object().value(u"error");
        if (error.isString())
            return error.toString();
    }
    const QString text = QString::fromUtf8(body).trimmed();
    if (!text.isEmpty())
        return text;
    return httpReasonPhrase(status);
}

} // namespace

Transferring Transferring::decode(const JsonReader &reader)
{
    return {reader.value<QString>(u"name"),      reader.value<qint64>(u"size"),   reader.value<qint64>(u"bytes"),
            reader.value<qint64>(u"percentage"), reader.optional<qint64>(u"eta"), reader.optional<QString>(u"group"),
            reader.optional<QString>(u"dstFs")};
}

CoreStats CoreStats::decode(const JsonReader &reader)
{
    return {reader.listOrEmpty<Transferring>(u"transferring")};
}

Transferred Transferred::decode(const JsonReader &reader)
{
    return {reader.value<QString>(u"name"),    reader.value<qint64>(u"size"),
            reader.value<QString>(u"error"),   reader.value<QString>(u"completed_at"),
            reader.optional<bool>(u"checked"), reader.optional<QString>(u"group"),
            reader.optional<QString>(u"dstFs")};
}

DiskCache DiskCache::decode(const JsonReader &reader)
{
    return {reader.value<qint64>(u"uploadsInProgress"), reader.value<qint64>(u"uploadsQueued"),
            reader.value<qint64>(u"erroredFiles"), reader.optional<bool>(u"outOfSpace")};
}

TrashStats TrashStats::decode(const JsonReader &reader)
{
    return {reader.value<qint64>(u"pending"), reader.optional<qint64>(u"failing")};
}

VFSStats VFSStats::decode(const JsonReader &reader)
{
    return {reader.value<DiskCache>(u"diskCache"), reader.optional<TrashStats>(u"trash")};
}

ListItem ListItem::decode(const JsonReader &reader)
{
    return {reader.value<QString>(u"Path"), reader.value<QString>(u"Name"), reader.value<qint64>(u"Size"),
            reader.value<QString>(u"ModTime"), reader.value<bool>(u"IsDir")};
}

RCClient::StatReply RCClient::StatReply::decode(const JsonReader &reader)
{
    return {reader.optional<ListItem>(u"item")};
}

static QString describe(const QString &method, int status, const QString &message)
{
    return QStringLiteral("rclone rc %1 failed (HTTP %2): %3").arg(method, QString::number(status), message);
}

RCError::RCError(QString method, int status, QString message)
    : std::runtime_error(describe(method, status, message).toStdString()), method(std::move(method)), status(status),
      message(std::move(message))
{
}

QString RCError::description() const
{
    return describe(method, status, message);
}

RCClient::Seconds RCClient::timeout(QStringView method)
{
    for (const TimeoutEntry &entry : timeouts) {
        if (entry.method == method)
            return Seconds(entry.seconds);
    }
    return Seconds(otherMethodsTimeout);
}

QJsonObject RCClient::statParams(const QString &fs, const QString &remote, bool filesOnly)
{
    QJsonObject params{{QStringLiteral("fs"), fs}, {QStringLiteral("remote"), remote}};
    if (filesOnly)
        params.insert(QStringLiteral("opt"), QJsonObject{{QStringLiteral("filesOnly"), true}});
    return params;
}

QJsonObject RCClient::forgetParams(const QString &key, const QStringList &paths, const QString &fs)
{
    QJsonObject params{{QStringLiteral("fs"), fs}};
    for (qsizetype i = 0; i < paths.size(); ++i)
        params.insert(key + QString::number(i), paths[i]);
    return params;
}

QNetworkAccessManager &RCClient::session()
{
    // One manager on the main thread for every client, so connections to the engine are
    // reused by the polls. It lives as long as the application object, and post() only ever
    // reaches it on the main thread.
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        // The engine is on the loopback address: never through a proxy.
        manager->setProxy(QNetworkProxy::NoProxy);
        // The engine never redirects; following one would carry the password elsewhere.
        manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    return *manager;
}

void RCClient::checkWellFormed(const QByteArray &body)
{
    // Qt reads only an object or an array at the top; inside brackets any one JSON value is an
    // array of exactly one element, and nothing else is.
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson('[' + body + ']', &parseError);
    if (parseError.error != QJsonParseError::NoError || document.array().size() != 1)
        throw JsonDecodingError(QStringLiteral("The reply is not valid JSON"));
}

QCoro::Task<QByteArray> RCClient::post(RCClient client, QString method, QJsonObject params,
                                       std::chrono::milliseconds timeout, CancelToken token)
{
    checkCancelled(token);
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(client.m_port);
    url.setPath(u'/' + method);
    QNetworkRequest request(url);
    // Qt's transfer time-out fails a request that receives no data for that long.
    request.setTransferTimeout(int(timeout.count()));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("Authorization", "Basic " + (client.m_user + u':' + client.m_pass).toUtf8().toBase64());

    HTTPRequest post{request, "POST", QJsonDocument(params).toJson(QJsonDocument::Compact)};

    // The session belongs to the main thread: a call made on another thread is sent from there,
    // and its caller resumes on its own thread (through that thread's event loop) with the answer.
    QCoreApplication *const app = QCoreApplication::instance();
    const std::unique_ptr<QObject> caller(QThread::currentThread() == app->thread() ? nullptr : new QObject);
    co_await ResumeOn(app);
    HTTPResponse response;
    std::exception_ptr failure;
    try {
        response = co_await sendHTTP(session(), std::move(post), token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (caller)
        co_await ResumeOn(caller.get());
    if (failure)
        std::rethrow_exception(failure);
    if (response.status >= 200 && response.status <= 299)
        co_return response.body;
    throw RCError(method, response.status, errorMessage(response.body, response.status));
}

QCoro::Task<bool> RCClient::ping(CancelToken token) const
{
    return answered(call<Empty>(QStringLiteral("core/version"), {}, Seconds(5), std::move(token)));
}

QCoro::Task<QList<ListItem>> RCClient::list(QString fs, QString remote, bool recurse, CancelToken token) const
{
    const QJsonObject params{{QStringLiteral("fs"), fs},
                             {QStringLiteral("remote"), remote},
                             {QStringLiteral("opt"), QJsonObject{{QStringLiteral("recurse"), recurse}}}};
    const Seconds limit = timeout(recurse ? recursiveListing : u"operations/list");
    return then(call<ListReply>(QStringLiteral("operations/list"), params, limit, std::move(token)),
                [](const ListReply &reply) { return reply.list; });
}

QCoro::Task<QStringList> RCClient::queuedUploads(QString fs, CancelToken token) const
{
    return then(call<QueueReply>(QStringLiteral("vfs/queue"), {{QStringLiteral("fs"), fs}}, std::move(token)),
                [](const QueueReply &reply) { return reply.names(); });
}

QCoro::Task<CoreStats> RCClient::coreStats(CancelToken token) const
{
    return call<CoreStats>(QStringLiteral("core/stats"), {}, std::move(token));
}

QCoro::Task<QList<Transferred>> RCClient::transferred(CancelToken token) const
{
    return then(call<TransferredList>(QStringLiteral("core/transferred"), {}, std::move(token)),
                [](const TransferredList &reply) { return reply.transferred; });
}

QCoro::Task<VFSStats> RCClient::vfsStats(QString fs, CancelToken token) const
{
    return call<VFSStats>(QStringLiteral("vfs/stats"), {{QStringLiteral("fs"), fs}}, std::move(token));
}

QCoro::Task<QStringList> RCClient::vfsList(CancelToken token) const
{
    return then(call<VFSListReply>(QStringLiteral("vfs/list"), {}, std::move(token)),
                [](const VFSListReply &reply) { return reply.vfses; });
}

QCoro::Task<std::optional<ListItem>> RCClient::stat(QString fs, QString remote, bool filesOnly, CancelToken token) const
{
    return then(call<StatReply>(QStringLiteral("operations/stat"), statParams(fs, remote, filesOnly), std::move(token)),
                [](const StatReply &reply) { return reply.item; });
}

QCoro::Task<> RCClient::forgetDirs(QStringList dirs, QString fs, CancelToken token) const
{
    // Without paths this still goes out: the engine then forgets its whole folder cache.
    return discard(
        call<Empty>(QStringLiteral("vfs/forget"), forgetParams(QStringLiteral("dir"), dirs, fs), std::move(token)));
}

QCoro::Task<> RCClient::forgetFiles(QStringList files, QString fs, CancelToken token) const
{
    if (files.isEmpty())
        return nothing();
    return discard(
        call<Empty>(QStringLiteral("vfs/forget"), forgetParams(QStringLiteral("file"), files, fs), std::move(token)));
}

static QJsonObject transferParams(const QString &srcFs, const QString &src, const QString &dstFs, const QString &dst)
{
    return {{QStringLiteral("srcFs"), srcFs},
            {QStringLiteral("srcRemote"), src},
            {QStringLiteral("dstFs"), dstFs},
            {QStringLiteral("dstRemote"), dst}};
}

QCoro::Task<> RCClient::copyFile(QString srcFs, QString src, QString dstFs, QString dst, CancelToken token) const
{
    return discard(
        call<Empty>(QStringLiteral("operations/copyfile"), transferParams(srcFs, src, dstFs, dst), std::move(token)));
}

QCoro::Task<> RCClient::moveFile(QString srcFs, QString src, QString dstFs, QString dst, CancelToken token) const
{
    return discard(
        call<Empty>(QStringLiteral("operations/movefile"), transferParams(srcFs, src, dstFs, dst), std::move(token)));
}

QCoro::Task<> RCClient::deleteFile(QString fs, QString remote, CancelToken token) const
{
    return discard(call<Empty>(QStringLiteral("operations/deletefile"),
                               {{QStringLiteral("fs"), fs}, {QStringLiteral("remote"), remote}}, std::move(token)));
}

QCoro::Task<> RCClient::purge(QString fs, QString remote, CancelToken token) const
{
    return discard(call<Empty>(QStringLiteral("operations/purge"),
                               {{QStringLiteral("fs"), fs}, {QStringLiteral("remote"), remote}}, std::move(token)));
}

QCoro::Task<> RCClient::moveDir(QString srcFs, QString dstFs, CancelToken token) const
{
    return discard(call<Empty>(QStringLiteral("sync/move"),
                               {{QStringLiteral("srcFs"), srcFs},
                                {QStringLiteral("dstFs"), dstFs},
                                {QStringLiteral("deleteEmptySrcDirs"), true}},
                               std::move(token)));
}

} // namespace DriveCore
