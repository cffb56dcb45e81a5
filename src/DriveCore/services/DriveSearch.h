#pragma once

#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/RCClient.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Cancellation.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

namespace DriveCore {

// One file or folder of the drive in the name-search index.
struct DriveSearchEntry {
    QString path; // drive-relative, composed (NFC)
    QString name; // the last component of `path`
    bool isDirectory = false;
    std::optional<qint64> size; // none for folders and waiting uploads
    std::optional<QDateTime> modified; // none when unreadable, and for waiting uploads
    bool pendingUpload = false; // made from the upload queue

    const QString &id() const { return path; }
    bool operator==(const DriveSearchEntry &) const = default;
};

// Search of the drive by file and folder name, over an index held in memory.
namespace DriveSearch {

// What a refresh may be refused with, as the app model's error.
inline const QString offlineText =
    QStringLiteral("Connect to the internet to refresh search. Your previous results are still available.");
inline const QString notConnectedText = QStringLiteral("Wait for your drive to connect, then try again.");

struct Results {
    QList<DriveSearchEntry> items; // at most the limit, in display order
    qsizetype total = 0; // every entry that matches

    bool operator==(const Results &) const = default;
};

class Index;
Results results(const Index &index, const QString &query, qsizetype limit);

// The index entries prepared for searching: each path and name folded once and each name's
// sort key made once, so a query is one pass over prepared data. Immutable; copies share.
// Built on the thread pool, then read on the main thread.
class Index {
public:
    Index();
    explicit Index(QList<DriveSearchEntry> entries);

    const QList<DriveSearchEntry> &entries() const;
    qsizetype size() const { return entries().size(); }
    // The same entries in the same order.
    bool operator==(const Index &other) const;

private:
    friend Results results(const Index &index, const QString &query, qsizetype limit);
    struct Data;
    std::shared_ptr<const Data> m_data;
};

// Whether `path` can name an entry of the drive: not empty, relative, no NUL, and no empty,
// "." or ".." component (so no trailing or doubled "/").
bool isUsablePath(QStringView path);

// The index entries of a recursive listing of the drive and the paths waiting to upload.
// Unusable paths are dropped; a later listing entry with the same composed path replaces an
// earlier one, and a waiting upload replaces a listing entry. Order: first appearance.
// Called on the thread pool.
QList<DriveSearchEntry> entries(const QList<ListItem> &remote, const QStringList &pending);

// The entries whose path contains every word of `query` (ignoring case and accents), those whose
// name contains every word first, then in file-manager name order, then by path. A query
// without words matches nothing.
Results results(const Index &index, const QString &query, qsizetype limit);

// The file URL of `path` inside the mounted drive, only when the mount's drive-relative path of
// that URL is exactly `path` (so a path not in composed form gives none).
std::optional<QUrl> revealURL(const QString &path, const QUrl &mount);

// The production search listing: a recursive listing of the drive and its upload queue, asked
// at the same time, made into entries. An engine without the queue method has nothing waiting.
// Fails with the error of either request.
QCoro::Task<QList<DriveSearchEntry>> searchListing(RCClient rc, CancelToken token = {});

// What a refresh reads and writes of the app model, which lives on the main thread.
class SearchRefreshing {
public:
    virtual ~SearchRefreshing() = default;

    virtual bool online() const = 0;
    // The supervisor's state is `running`.
    virtual bool supervisorRunning() const = 0;
    // The supervisor's client of the running engine; none when it is not running.
    virtual std::optional<RCClient> rc() const = 0;
    virtual std::optional<DriveSettings> settings() const = 0;
    virtual bool isChangingDrive() const = 0;
    // A sign-out step is under way.
    virtual bool signingOut() const = 0;
    virtual QDateTime now() const = 0;
    virtual QCoro::Task<QList<DriveSearchEntry>> searchListing(RCClient rc, CancelToken token) = 0;

    virtual void setSearchIndex(Index index) = 0;
    virtual void setSearchIndexedAt(QDateTime date) = 0;
};

// Lists the drive and stores a new index, then its date. Refused with AppModelError (offline,
// or the drive not running, not set up, being changed or signing out); the listing's error is
// passed on. Ends with CancelledError, keeping the previous index, when `token` is cancelled or
// the drive stopped, restarted on another port, was switched or began signing out meanwhile.
// Touches `model` after its awaits only when `token` is not cancelled, so an owner that cancels
// before it goes away is safe.
QCoro::Task<> refreshSearchIndex(SearchRefreshing &model, CancelToken token = {});

} // namespace DriveSearch

} // namespace DriveCore
