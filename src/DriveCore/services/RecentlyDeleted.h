#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Clock.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <functional>
#include <optional>
#include <utility>

namespace DriveCore {

// One deleted file as the trash lists it.
struct DeletedItem {
    QString id; // its path in the trash remote, date folder included: "2026-03-04/Photos/beach.jpg"
    QString originalPath; // the drive-relative path it had: `id` after its first "/"
    QDateTime deletedOn; // the start of the date folder's day (the day of deletion, not its time)
    qint64 size = 0;

    bool operator==(const DeletedItem &) const = default;

    // Whole days left before its folder is purged: 30 on the day of deletion, never below 0.
    int daysLeft(const QDateTime &today, const QTimeZone &zone = QTimeZone::systemTimeZone()) const;
};

// The 30-day trash in the bucket: one folder per day of deletion ("YYYY-MM-DD", named by
// DriveLayout::dateFolder), holding each deleted file at the drive-relative path it had. Lists,
// restores, deletes, empties and purges it, and moves drive paths into it. A value built per
// call; it keeps no state. Operations send their requests one after another and fail with the
// failing request's error (RCError, HTTPTransportError, ...), unchanged. Dates are taken in the
// system time zone, in the Gregorian calendar.
class RecentlyDeletedService {
public:
    // Makes the engine drop what it has cached about these drive-relative paths.
    using Forget = std::function<QCoro::Task<>(QStringList paths, CancelToken token)>;
    // Makes the file manager read a folder of the mount again: (mount folder, drive-relative
    // folder, "" for the top). Never fails.
    using Nudge = std::function<QCoro::Task<>(QString mountPath, QString folder)>;

    // Without `now` the system clock is used; without `forget` one "vfs/forget" of the paths as
    // files of `filesFs` (nothing for no paths). Without a mount folder nothing is looked up
    // locally and nothing is nudged.
    RecentlyDeletedService(RCClient rc, QString trashFs, QString filesFs, std::optional<QString> mountPath, Nudge nudge,
                           Clock now = {}, Forget forget = {});

    // Every deleted file, in the engine's listing order. Entries outside a date folder are left
    // out; no trash folder yet is an empty trash.
    QCoro::Task<QList<DeletedItem>> list(CancelToken token = {}) const;
    // Moves the item back to its path, or to the first free "<name> (restored[ n])<ext>";
    // returns the drive-relative path it now has.
    QCoro::Task<QString> restore(DeletedItem item, CancelToken token = {}) const;
    QCoro::Task<> deleteNow(DeletedItem item, CancelToken token = {}) const;
    // Removes everything at the trash's top level, date folder or not; stops at the first failure.
    QCoro::Task<> empty(CancelToken token = {}) const;
    // Purges the date folders 31 days old or older; returns how many files they held.
    QCoro::Task<int> purgeExpired(CancelToken token = {}) const;
    // Moves a drive-relative path into today's date folder, numbering the name when a file of
    // that name is there already; returns its path in the trash remote. Forgets and nudges nothing.
    QCoro::Task<QString> moveToTrash(QString path, CancelToken token = {}) const;
    // Forgets `path` in the engine, then nudges its parent folder. A failing forget is logged
    // and nothing is nudged; never fails.
    QCoro::Task<> refreshMount(QString path, CancelToken token = {}) const;
    // The sum of the listed items' sizes.
    QCoro::Task<qint64> totalSize(CancelToken token = {}) const;

    // The deleted files of a recursive listing of the trash, in its order: files inside a date
    // folder, each dated by its folder.
    static QList<DeletedItem> deletedItems(const QList<ListItem> &trash,
                                           const QTimeZone &zone = QTimeZone::systemTimeZone());
    // The start of the day a date-folder name stands for; none unless the name is exactly the
    // folder name of an existing day in ASCII digits ("2026-02-30" and "2026-2-03" are none).
    static std::optional<QDateTime> parseDateFolder(const QString &name,
                                                    const QTimeZone &zone = QTimeZone::systemTimeZone());
    // "Docs/report.pdf" with attempt 1 gives "Docs/report (restored).pdf", with 2 "Docs/report (restored 2).pdf".
    static QString restoredName(const QString &path, int attempt);
    // The stem and the extension ("." included) of the last component: "a/b.tar.gz" gives
    // ("a/b.tar", ".gz"); a name whose only "." comes first, or none, has no extension.
    static std::pair<QString, QString> splitExtension(const QString &path);
    // The shallowest ancestor folder of `destination` that `exists` says is missing, asked from
    // the top down; `destination` itself when every ancestor exists.
    static QCoro::Task<QString> forgetTarget(QString destination, std::function<QCoro::Task<bool>(QString)> exists);
    // Calendar days from a's day to b's day.
    static int daysBetween(const QDateTime &a, const QDateTime &b, const QTimeZone &zone = QTimeZone::systemTimeZone());

    const RCClient &rc() const { return m_rc; }
    const QString &trashFs() const { return m_trashFs; }
    const QString &filesFs() const { return m_filesFs; }
    const std::optional<QString> &mountPath() const { return m_mountPath; }

private:
    // The operations run on a copy of the service, so that a caller may drop it meanwhile.
    static QCoro::Task<QList<DeletedItem>> listing(RecentlyDeletedService self, CancelToken token);
    static QCoro::Task<QString> restoring(RecentlyDeletedService self, DeletedItem item, CancelToken token);
    static QCoro::Task<> emptying(RecentlyDeletedService self, CancelToken token);
    static QCoro::Task<int> purging(RecentlyDeletedService self, CancelToken token);
    static QCoro::Task<QString> trashing(RecentlyDeletedService self, QString path, CancelToken token);
    static QCoro::Task<> refreshing(RecentlyDeletedService self, QString path, CancelToken token);
    static QCoro::Task<qint64> summing(RecentlyDeletedService self, CancelToken token);

    // The trash's top level or all of it; no trash folder yet lists nothing.
    QCoro::Task<QList<ListItem>> listTrash(bool recurse, CancelToken token) const;
    // Whether something is at the drive-relative path: in the mount folder, else in the bucket.
    static QCoro::Task<bool> isTaken(RecentlyDeletedService self, QString path, CancelToken token);

    RCClient m_rc;
    QString m_trashFs;
    QString m_filesFs;
    std::optional<QString> m_mountPath;
    Clock m_now;
    Forget m_forget;
    Nudge m_nudge;
};

} // namespace DriveCore
