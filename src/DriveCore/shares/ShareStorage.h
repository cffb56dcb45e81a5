#pragma once

#include "DriveCore/support/Cancellation.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>

#include <functional>

namespace DriveCore {

// Where a share link's objects are written and removed: one folder per link, named by its
// share id, holding "f/<index>", "manifest" and "meta.json". Implementations check the id and
// the object name before they do anything. Operations may run at the same time.
class ShareStorage {
public:
    // Appends one piece to the object; blocks until it is taken. Throws to fail.
    using Write = std::function<void(const QByteArray &piece)>;
    // Writes the whole object through `write` before it returns; may run on any thread, and
    // `write` is valid only while it runs. Throws to fail the upload.
    using Produce = std::function<void(const Write &write)>;

    virtual ~ShareStorage() = default;

    // Streams one object of exactly `size` bytes. Cancelling `token` stops the upload and
    // throws CancelledError.
    virtual QCoro::Task<> upload(QString id, QString name, qint64 size, Produce produce,
                                 CancelToken token = {}) const = 0;
    // Writes one small object whole.
    virtual QCoro::Task<> put(QString id, QString name, QByteArray data, CancelToken token = {}) const = 0;
    // Removes one object; one that is already gone counts as removed.
    virtual QCoro::Task<> deleteObject(QString id, QString name, CancelToken token = {}) const = 0;
    // Removes the link's folder with everything in it, what a failed upload left included.
    virtual QCoro::Task<> deleteAll(QString id, CancelToken token = {}) const = 0;
};

// The storage of a drive that cannot make links: every operation fails at once with
// AppModelError carrying unavailableText.
class UnavailableShareStorage : public ShareStorage {
public:
    static constexpr const char *unavailableText = "Share links aren't available.";

    QCoro::Task<> upload(QString id, QString name, qint64 size, Produce produce, CancelToken token = {}) const override;
    QCoro::Task<> put(QString id, QString name, QByteArray data, CancelToken token = {}) const override;
    QCoro::Task<> deleteObject(QString id, QString name, CancelToken token = {}) const override;
    QCoro::Task<> deleteAll(QString id, CancelToken token = {}) const override;
};

} // namespace DriveCore
