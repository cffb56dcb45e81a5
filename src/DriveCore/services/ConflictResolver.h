#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/services/RecentlyDeleted.h"
#include "DriveCore/support/Cancellation.h"

#include <QCoroTask>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace DriveCore {

// A conflict copy the engine kept beside a file that another machine changed meanwhile:
// "<stem> (conflict from <device>)<ext>", or "<stem> (conflict from <device> <n>)<ext>" for a
// counter n of 2 or more. The copy holds this machine's version, the original the other's.
struct DriveConflict {
    QString original; // drive-relative path of the file the copy belongs to
    QString copy; // drive-relative path of the copy, exactly as reported
    QString device; // the machine named in the copy's name, without the counter

    // The conflict a copy path stands for; none when the path is no conflict copy, that is when
    // no reading of its name rebuilds it exactly.
    static std::optional<DriveConflict> fromCopyPath(const QString &copyPath);

    const QString &id() const { return copy; }
    // The last path component of `original`.
    QString fileName() const;

    bool operator==(const DriveConflict &) const = default;
};

enum class ConflictChoice {
    keepBoth, // leave both files as they are
    keepThisMac, // the copy's content under the original name
    keepOther, // keep the original, drop the copy
};

struct ConflictOutcome {
    enum class Kind {
        resolved, // `folder`, the original's parent folder ("" at the top), changed
        keptBoth, // nothing changed: both were kept by choice
        alreadySortedOut, // the original or the copy is gone
        occupied, // a file involved is waiting to upload or changed again: both stay
    };

    Kind kind = Kind::keptBoth;
    QString folder; // only for resolved

    static ConflictOutcome resolved(QString folder) { return {Kind::resolved, std::move(folder)}; }
    static ConflictOutcome keptBoth() { return {Kind::keptBoth, {}}; }
    static ConflictOutcome alreadySortedOut() { return {Kind::alreadySortedOut, {}}; }
    static ConflictOutcome occupied() { return {Kind::occupied, {}}; }

    bool operator==(const ConflictOutcome &) const = default;
};

// Carries out the user's choice on a conflict in the bucket; the version not kept goes to
// Recently Deleted. Built per call; keeps nothing between calls. Nothing serialises two resolves
// of one conflict: the existence checks find the copy gone the second time.
class ConflictResolver {
public:
    // The drive-relative paths still waiting in the engine's upload queue.
    using QueuedUploads = std::function<QCoro::Task<QSet<QString>>(CancelToken token)>;

    // `nudge`, `mountPath`, `now` and `forget` go to the Recently Deleted service unchanged.
    // Without `queuedUploads` the engine's queue of the mounted drive is read, and a failure to
    // read it counts as an empty queue.
    ConflictResolver(RCClient rc, QString filesFs, QString trashFs, RecentlyDeletedService::Nudge nudge,
                     std::optional<QString> mountPath = {}, Clock now = {}, QueuedUploads queuedUploads = {},
                     RecentlyDeletedService::Forget forget = {});

    // Fails with the error of the first request or move into Recently Deleted that fails;
    // nothing done before it is rolled back.
    QCoro::Task<ConflictOutcome> resolve(DriveConflict conflict, ConflictChoice choice, CancelToken token = {}) const;

private:
    static QCoro::Task<ConflictOutcome> resolving(ConflictResolver self, DriveConflict conflict, ConflictChoice choice,
                                                  CancelToken token);
    // Whether a file (not a folder) is at the drive-relative path.
    QCoro::Task<bool> exists(QString path, CancelToken token) const;

    RCClient m_rc;
    QString m_filesFs;
    RecentlyDeletedService m_trash;
    QueuedUploads m_queuedUploads;
};

// Every text of the conflict window.
namespace ConflictText {

// "“<file name>” was changed on two computers"
QString title(const DriveConflict &conflict);
inline constexpr const char *body =
    "Another computer saved a newer version while this computer was editing it. Which version do you want to keep?";
inline constexpr const char *keepBoth = "Keep Both";
inline constexpr const char *keepThisMac = "Keep This Computer's Version";
inline constexpr const char *keepOther = "Keep the Other Version";
inline constexpr const char *smallPrint = "The version you don't keep goes to Recently Deleted for 30 days.";
inline constexpr const char *alreadySortedOut = "This was already sorted out.";
// "“<file name>” changed again while you were choosing, so both versions were kept."
QString occupied(const QString &fileName);
// "1 of <waiting>"
QString counter(int waiting);

} // namespace ConflictText

} // namespace DriveCore
