#pragma once

#include "DriveCore/platform/HTTPSend.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/JsonReader.h"

#include <QCoroTask>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QNetworkReply>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

class QNetworkAccessManager;

namespace DriveCore {

// One transfer in progress ("core/stats").
struct Transferring {
    QString name; // the file's path inside its remote
    qint64 size = 0;
    qint64 bytes = 0; // done so far
    qint64 percentage = 0;
    std::optional<qint64> eta; // seconds; none when the engine has no estimate
    std::optional<QString> group; // the engine's stats group
    std::optional<QString> dstFs;

    bool operator==(const Transferring &) const = default;
    static Transferring decode(const JsonReader &reader);
};

// The reply of "core/stats".
struct CoreStats {
    QList<Transferring> transferring;

    static CoreStats decode(const JsonReader &reader);
};

// One finished transfer ("core/transferred").
struct Transferred {
    QString name;
    qint64 size = 0;
    QString error; // empty when the transfer succeeded
    QString completed_at; // the engine's time stamp, kept as text
    std::optional<bool> checked;
    std::optional<QString> group;
    std::optional<QString> dstFs;

    bool operator==(const Transferred &) const = default;
    static Transferred decode(const JsonReader &reader);
};

struct DiskCache {
    qint64 uploadsInProgress = 0;
    qint64 uploadsQueued = 0;
    qint64 erroredFiles = 0;
    // Whether a write into the cache failed for want of disk space; none when not said. The
    // file being written is then cut short, whatever the counts say.
    std::optional<bool> outOfSpace;

    bool operator==(const DiskCache &) const = default;
    static DiskCache decode(const JsonReader &reader);
};

// Deletions still to be moved into Recently Deleted.
struct TrashStats {
    qint64 pending = 0;
    std::optional<qint64> failing; // how many of them keep failing

    bool operator==(const TrashStats &) const = default;
    static TrashStats decode(const JsonReader &reader);
};

// The reply of "vfs/stats".
struct VFSStats {
    DiskCache diskCache;
    std::optional<TrashStats> trash; // none when the engine has no trash section

    static VFSStats decode(const JsonReader &reader);
};

// One entry of a listing or a stat, with the engine's capitalised keys.
struct ListItem {
    QString Path; // relative to the listed file system
    QString Name;
    qint64 Size = 0;
    QString ModTime; // the engine's time text, kept as text
    bool IsDir = false;

    bool operator==(const ListItem &) const = default;
    static ListItem decode(const JsonReader &reader);
};

// A refused request: an HTTP status outside 200-299 (0 when the answer was not HTTP).
class RCError : public std::runtime_error {
public:
    RCError(QString method, int status, QString message);

    QString method;
    int status;
    QString message;

    // "rclone rc <method> failed (HTTP <status>): <message>"
    QString description() const;
};

// The remote-control client of one engine launch: POSTs a JSON object to
// http://127.0.0.1:<port>/<method> with basic authentication and decodes the JSON reply.
// A plain value: copies share the process's one network session, and calls keep their own
// copy, so a client may go away while its calls run. Requests always go out from the main
// thread; a call made on another thread resumes there through that thread's event loop, which
// must therefore run while it waits.
class RCClient {
public:
    using Seconds = std::chrono::seconds;

    // For methods whose answer is not read: any well-formed JSON is accepted, scalars included.
    struct Empty {};

    // The engine's file-system string of the mounted drive.
    static constexpr const char *mountFs = "drivecrypt:Drive";

    // The reply of "operations/stat".
    struct StatReply {
        std::optional<ListItem> item; // none when nothing is at the path

        static StatReply decode(const JsonReader &reader);
    };

    RCClient(int port, QString user, QString pass) : m_port(port), m_user(std::move(user)), m_pass(std::move(pass)) {}

    int port() const { return m_port; }
    const QString &user() const { return m_user; }
    const QString &pass() const { return m_pass; }

    // The time-out of a method; the same for every call of it.
    static Seconds timeout(QStringView method);

    // Sends `method` with `params` and decodes a 2xx reply into Reply (a type with a static
    // decode(), QJsonObject, or Empty). `timeout` is an inactivity limit: the call fails when
    // no data arrives for that long. Throws RCError for any other status, JsonDecodingError for
    // a reply that does not fit, HTTPTransportError when no answer came, and CancelledError
    // once `token` is cancelled (the request is aborted).
    template<typename Reply = QJsonObject>
    QCoro::Task<Reply> call(QString method, QJsonObject params, std::chrono::milliseconds timeout,
                            CancelToken token = {}) const
    {
        return decoded<Reply>(post(*this, std::move(method), std::move(params), timeout, std::move(token)));
    }

    template<typename Reply = QJsonObject>
    QCoro::Task<Reply> call(QString method, QJsonObject params, CancelToken token = {}) const
    {
        const Seconds limit = timeout(method);
        return call<Reply>(std::move(method), std::move(params), limit, std::move(token));
    }

    // Whether the engine answers "core/version" within 5 s; never throws.
    QCoro::Task<bool> ping(CancelToken token = {}) const;

    QCoro::Task<QList<ListItem>> list(QString fs, QString remote, bool recurse, CancelToken token = {}) const;
    // The names of the uploads waiting in the engine's queue, in its order.
    QCoro::Task<QStringList> queuedUploads(QString fs, CancelToken token = {}) const;
    QCoro::Task<CoreStats> coreStats(CancelToken token = {}) const;
    QCoro::Task<QList<Transferred>> transferred(CancelToken token = {}) const;
    QCoro::Task<VFSStats> vfsStats(QString fs, CancelToken token = {}) const;
    // The names of the engine's running file-system caches.
    QCoro::Task<QStringList> vfsList(CancelToken token = {}) const;
    // The object at `remote`, or none.
    QCoro::Task<std::optional<ListItem>> stat(QString fs, QString remote, bool filesOnly, CancelToken token = {}) const;
    // No paths forgets the engine's whole folder cache of `fs`.
    QCoro::Task<> forgetDirs(QStringList dirs, QString fs, CancelToken token = {}) const;
    // No paths sends nothing.
    QCoro::Task<> forgetFiles(QStringList files, QString fs, CancelToken token = {}) const;
    QCoro::Task<> copyFile(QString srcFs, QString src, QString dstFs, QString dst, CancelToken token = {}) const;
    QCoro::Task<> moveFile(QString srcFs, QString src, QString dstFs, QString dst, CancelToken token = {}) const;
    QCoro::Task<> deleteFile(QString fs, QString remote, CancelToken token = {}) const;
    // Deletes the folder `remote` with everything in it.
    QCoro::Task<> purge(QString fs, QString remote, CancelToken token = {}) const;
    // Moves everything from `srcFs` into `dstFs`, removing the emptied source folders.
    QCoro::Task<> moveDir(QString srcFs, QString dstFs, CancelToken token = {}) const;

    // {"fs", "remote"}, plus "opt": {"filesOnly": true} only when filesOnly.
    static QJsonObject statParams(const QString &fs, const QString &remote, bool filesOnly);
    // {"fs"} plus <key>0, <key>1, ... holding the paths in order.
    static QJsonObject forgetParams(const QString &key, const QStringList &paths, const QString &fs);

private:
    // Sends the request and gives the body of a 2xx answer; throws otherwise.
    static QCoro::Task<QByteArray> post(RCClient client, QString method, QJsonObject params,
                                        std::chrono::milliseconds timeout, CancelToken token);
    static QNetworkAccessManager &session();
    static void checkWellFormed(const QByteArray &body);

    template<typename Reply>
    static QCoro::Task<Reply> decoded(QCoro::Task<QByteArray> body)
    {
        if constexpr (std::is_same_v<Reply, Empty>) {
            checkWellFormed(co_await std::move(body));
            co_return Empty{};
        } else {
            const JsonReader reader = JsonReader::parse(co_await std::move(body));
            if constexpr (std::is_same_v<Reply, QJsonObject>)
                co_return reader.object();
            else
                co_return Reply::decode(reader);
        }
    }

    int m_port;
    QString m_user;
    QString m_pass;
};

} // namespace DriveCore
