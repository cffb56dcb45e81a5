#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/mount/LocalChangeSources.h"
#include "DriveCore/platform/StandardFolders.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Clock.h"
#include "DriveCore/support/Tasks.h"

#include <QByteArray>
#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace DriveCore {

// The change note: the folders one machine changed last, shared through the bucket as
// ".corvane/changes.json". Each writer replaces the whole object.
struct ChangeMarker {
    QUuid deviceID; // the writing machine
    QDateTime time; // when the note was built
    QStringList dirs; // drive-relative folders; "" is the top level; none at all means everything

    bool operator==(const ChangeMarker &) const = default;

    // Compact, keys sorted: {"deviceID":…,"dirs":[…],"time":…}, the identifier in upper case,
    // the time in UTC with whole seconds and "Z", "/" written as "\/".
    QByteArray encoded() const;
    // Every key is required and other members are ignored; "/" may be escaped or not; a time
    // in any other form (fractions, offsets) does not decode. Throws JsonDecodingError.
    static ChangeMarker decode(const QByteArray &json);
};

// What change sync asks of the engine.
class ChangeSyncRemote {
public:
    virtual ~ChangeSyncRemote() = default;

    // The file at `remote` in `fs`, or none ("operations/stat" with filesOnly).
    virtual QCoro::Task<std::optional<ListItem>> stat(QString fs, QString remote, CancelToken token) = 0;
    // "operations/copyfile".
    virtual QCoro::Task<> copy(QString srcFs, QString srcRemote, QString dstFs, QString dstRemote,
                               CancelToken token) = 0;
    // Forgets the drive's cached folders (dir0, dir1, …); no folders forgets the whole cache.
    virtual QCoro::Task<> forgetDirs(QStringList dirs, CancelToken token) = 0;
    // Forgets the drive's cached files (file0, file1, …); no files sends nothing.
    virtual QCoro::Task<> forgetFiles(QStringList files, CancelToken token) = 0;

    // The requests of one engine launch.
    static std::shared_ptr<ChangeSyncRemote> of(RCClient rc);
};

// Change sync as the app model sees it. Used on the main thread.
class ChangeSyncing {
public:
    virtual ~ChangeSyncing() = default;

    // Starts the poll loop and the change sources.
    virtual void start() = 0;
    // Stops the sources and the poll and quiet-period tasks; pending folders stay in memory.
    virtual void stop() = 0;
    // Stops, then writes whatever is pending at once.
    virtual QCoro::Task<> stopAndFlush(CancelToken token) = 0;
    // Folders this machine changed itself; no folders does nothing.
    virtual void noteLocalChange(const QStringList &dirs) = 0;
    // Called with the drive-relative path of each conflict copy the engine saved.
    virtual void onConflictSaved(std::function<void(const QString &)> handler) = 0;
    // Called after another machine's note was applied.
    virtual void onRefreshed(std::function<void()> handler) = 0;
};

// Carries change notes between machines that mount the same drive: publishes the folders
// this machine changed after a quiet period, polls the note, and makes the engine forget (and
// the file manager re-read) the folders another machine changed, which the change sources then
// watch with the new folders below them. The whole folder cache is forgotten every
// `fullRefreshEvery`. Failures are absorbed and retried by the next poll.
class ChangeSync : public ChangeSyncing, public std::enable_shared_from_this<ChangeSync> {
public:
    // Makes the file manager re-read a folder of the mounted drive (mount path, folder).
    using Nudge = std::function<QCoro::Task<>(QString, QString)>;
    // The names of the top-level folders of the mounted drive.
    using TopFolders = std::function<QCoro::Task<QStringList>(QString)>;
    // MountNudge's background operations.
    static Nudge defaultNudge();
    static TopFolders defaultTopFolders();

    // A note carries at most this many folders; more make it the everything form.
    static constexpr qsizetype maxDirs = 50;
    static constexpr const char *noteName = "changes.json";

    struct Options {
        std::shared_ptr<ChangeSyncRemote> remote;
        QUuid deviceID;
        QString metaFs; // where the note lives
        std::vector<std::shared_ptr<LocalChangeSource>> sources;
        std::chrono::milliseconds pollEvery = std::chrono::seconds(30);
        std::chrono::milliseconds fullRefreshEvery = std::chrono::seconds(600); // also how long origins are kept
        std::chrono::milliseconds debounce = std::chrono::seconds(5);
        Clock now = liveClock();
        Sleep sleep = liveSleep();
        std::optional<QString> mountPath; // nothing is nudged without one
        Nudge nudge = defaultNudge();
        TopFolders topFolders = defaultTopFolders();
    };

    static std::shared_ptr<ChangeSync> make(Options options);
    // The production set: the client's requests and the three change sources (file events on
    // the mount, the client's completed uploads every 2 s, the log every 1 s).
    static std::shared_ptr<ChangeSync> make(RCClient rc, QUuid deviceID, QString mountPath, QString metaFs,
                                            std::chrono::seconds pollEvery, std::chrono::seconds fullRefreshEvery,
                                            QString logFile, Nudge nudge = defaultNudge(),
                                            TopFolders topFolders = defaultTopFolders());
    ~ChangeSync() override;

    void start() override;
    void stop() override;
    QCoro::Task<> stopAndFlush(CancelToken token) override;
    void noteLocalChange(const QStringList &dirs) override;
    void onConflictSaved(std::function<void(const QString &)> handler) override;
    void onRefreshed(std::function<void()> handler) override;

    // Takes one change from a source.
    void handle(const LocalChange &change);
    // Reads the note and applies it when another machine wrote a version not seen yet;
    // returns whether it did. Throws when the note cannot be read or applied.
    QCoro::Task<bool> pollOnce(CancelToken token = {});

    // The parent folder of a drive-relative path: "a/b/c.txt" gives "a/b"; a top-level path,
    // "/" and "" give "".
    static QString parent(const QString &path);

private:
    explicit ChangeSync(Options options);

    struct State {
        QStringList pending; // newest first, unique
        bool pendingEverything = false;
        QStringList pendingForgets; // conflict copies to forget before the next note
        bool writeScheduled = false; // a quiet period runs; it ends in a write
        TaskHandle<> debounceTask; // that quiet period, once started
        TaskHandle<> pollTask;
        std::optional<QString> seenMarker; // version of the last note handled
        std::optional<ChangeMarker> lastMarker;
        QDateTime lastFullRefresh;
        QHash<QString, QDateTime> origins; // when each recent folder's change originated
        std::unique_ptr<TemporaryFolder> tempDir;

        void addFolders(const QStringList &dirs);
    };

    void scheduleWrite();
    QCoro::Task<> writeMarker(CancelToken token);
    QCoro::Task<> tick(CancelToken token);
    QCoro::Task<> refresh(QStringList dirs, CancelToken token);
    QCoro::Task<> nudgeFolders(QStringList paths);
    void watchFolders(const QStringList &dirs, LocalChangeSource::Walk walk);
    QCoro::Task<> upload(ChangeMarker note, CancelToken token);
    QCoro::Task<ChangeMarker> download(CancelToken token);
    QString tempDir();
    void callRefreshed();

    std::shared_ptr<ChangeSyncRemote> m_remote;
    QUuid m_deviceID;
    QString m_metaFs;
    std::vector<std::shared_ptr<LocalChangeSource>> m_sources;
    std::chrono::milliseconds m_pollEvery;
    std::chrono::milliseconds m_fullRefreshEvery;
    std::chrono::milliseconds m_debounce;
    Clock m_now;
    Sleep m_sleep;
    std::optional<QString> m_mountPath;
    Nudge m_nudge;
    TopFolders m_topFolders;

    std::mutex m_stateMutex;
    State m_state;
    std::mutex m_conflictMutex;
    std::function<void(const QString &)> m_conflictHandler;
    std::mutex m_refreshedMutex;
    std::function<void()> m_refreshedHandler;
};

} // namespace DriveCore
