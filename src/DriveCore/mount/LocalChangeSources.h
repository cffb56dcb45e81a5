#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Clock.h"
#include "DriveCore/support/Tasks.h"

#include <QCoroTask>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace DriveCore {

// One change this machine made to the drive, as a change source reports it.
struct LocalChange {
    enum class Kind {
        changed, // the item at `path` was written, removed, moved, uploaded or trashed
        conflictSaved, // the engine saved a conflict copy at `path`
        folder, // the folder at `path` ("" for the top level) must be re-read whole
    };

    Kind kind = Kind::changed;
    QString path; // drive-relative

    static LocalChange changed(QString path) { return {Kind::changed, std::move(path)}; }
    static LocalChange conflictSaved(QString path) { return {Kind::conflictSaved, std::move(path)}; }
    static LocalChange folder(QString path) { return {Kind::folder, std::move(path)}; }

    bool operator==(const LocalChange &) const = default;
};

// Reports this machine's changes to the drive. Sources live on the main thread and call
// their callback there, in the order the changes were seen.
class LocalChangeSource {
public:
    using OnChange = std::function<void(const LocalChange &)>;

    // How far a source that watches folders looks below a folder it is told of.
    enum class Walk {
        newFolders, // the folder itself, and every folder below it not watched yet
        everyFolder, // the folder and every folder below it
    };

    virtual ~LocalChangeSource() = default;

    // Starts reporting from now on; starting again replaces the earlier run.
    virtual void start(OnChange onChange) = 0;
    // Stops reporting: nothing is reported once it returns. Safe when not started.
    virtual void stop() = 0;
    // Folders of the drive ("" for the top level) that were read again without a local event,
    // such as another machine's folders arriving: a source that watches folders watches them
    // from now on, looking below each as `walk` says. Nothing is reported for what it finds.
    // Sources that watch no folders ignore it.
    virtual void watchFolders(const QStringList &dirs, Walk walk)
    {
        Q_UNUSED(dirs);
        Q_UNUSED(walk);
    }
};

// File events on the mount, read through inotify on a thread of its own: one watch per
// folder, added as folders appear (made here, or told of through watchFolders when another
// machine's arrive), and made again for the whole tree when the drive is mounted on (or
// leaves) the mount point after the start. Events are gathered for `latency`
// after the first one and reported together, each once. A queue overflow reports the whole
// drive (folder "").
class FSEventsChangeSource : public LocalChangeSource {
public:
    // Names of other systems' housekeeping files, never reported.
    static const QSet<QString> ignoredNames;

    explicit FSEventsChangeSource(QString mountPath,
                                  std::chrono::milliseconds latency = std::chrono::milliseconds(500));
    ~FSEventsChangeSource() override;
    FSEventsChangeSource(const FSEventsChangeSource &) = delete;
    FSEventsChangeSource &operator=(const FSEventsChangeSource &) = delete;

    void start(OnChange onChange) override;
    void stop() override;
    // The walk runs on the watch thread, after the walks asked for before it.
    void watchFolders(const QStringList &dirs, Walk walk) override;

    // How many folders the running watch covers after its latest walk (the first one, one
    // asked for through watchFolders, or the one after the drive was mounted again); none
    // before the first, and when not running. For measurements and tests.
    std::optional<std::size_t> watchedFolders() const;

    // The clean form of `mountPath` and, when it differs, its resolved real path, each with
    // one trailing "/"; the clean form first.
    static QStringList prefixes(const QString &mountPath);
    // The drive-relative path of an event path: none outside the mount, for the mount point
    // itself, and for paths through ignored, "._", nudge or rescue names.
    static std::optional<QString> relativePath(const QString &path, const QStringList &prefixes);

private:
    struct Run;
    static void watch(const std::shared_ptr<Run> &run);

    QString m_mountPath;
    QStringList m_prefixes;
    std::chrono::milliseconds m_latency;
    mutable std::mutex m_mutex;
    std::shared_ptr<Run> m_running;
};

// Runs `step` on the object behind `weak`, then waits `every`, over and over, until the
// token is cancelled, the object is gone or the wait throws. The object is held only while
// its step runs.
template<typename T, typename Step>
QCoro::Task<> repeatWhileAlive(std::weak_ptr<T> weak, Sleep sleep, std::chrono::milliseconds every, CancelToken token,
                               Step step)
{
    while (!token.stop_requested()) {
        if (auto self = weak.lock())
            co_await step(*self, token);
        else
            co_return;
        try {
            co_await sleep(every, token);
        } catch (...) {
            co_return;
        }
    }
}

// A change source that reads on the event loop every `every` until stopped.
class PollingChangeSource : public LocalChangeSource, public std::enable_shared_from_this<PollingChangeSource> {
public:
    ~PollingChangeSource() override;

    void start(OnChange onChange) override;
    void stop() override;

protected:
    PollingChangeSource(std::chrono::milliseconds every, Sleep sleep) : m_every(every), m_sleep(std::move(sleep)) {}

    // The fresh beginning of a run, before its first wait.
    virtual QCoro::Task<> begin(CancelToken token) = 0;
    // The changes since the last pass.
    virtual QCoro::Task<QList<LocalChange>> pass(CancelToken token) = 0;

    std::mutex m_mutex; // guards the source's state

private:
    std::chrono::milliseconds m_every;
    Sleep m_sleep;
    TaskHandle<> m_task;
};

// Uploads into the mounted drive that the engine reports as finished ("core/transferred"),
// read every `every`. The first listing only primes: uploads finished before the start are
// never reported.
class CompletedUploadsChangeSource : public PollingChangeSource {
public:
    using ListTransferred = std::function<QCoro::Task<QList<Transferred>>(CancelToken)>;

    static std::shared_ptr<CompletedUploadsChangeSource>
    make(QString mountFs, ListTransferred transferred, std::chrono::milliseconds every, Sleep sleep = liveSleep());
    // Lists through the client's "core/transferred".
    static std::shared_ptr<CompletedUploadsChangeSource> make(RCClient rc, QString mountFs,
                                                              std::chrono::milliseconds every);

    // Remembers the current listing; a failed request leaves the source unprimed.
    QCoro::Task<> prime(CancelToken token = {});
    // The uploads into the drive that finished since the last listing; primes instead and
    // gives nothing while unprimed. A failed request gives nothing.
    QCoro::Task<QList<LocalChange>> readNewChanges(CancelToken token = {});

private:
    CompletedUploadsChangeSource(QString mountFs, ListTransferred transferred, std::chrono::milliseconds every,
                                 Sleep sleep);
    QCoro::Task<> begin(CancelToken token) override { return prime(std::move(token)); }
    QCoro::Task<QList<LocalChange>> pass(CancelToken token) override { return readNewChanges(std::move(token)); }

    QString m_mountFs;
    ListTransferred m_transferred;
    QSet<QString> m_seen; // keys of the latest listing
    bool m_primed = false;
};

// The engine's log, read every `every` from its size at the start: its trash and conflict
// notices. A log that became shorter (rotated) is read again from its start.
class RcloneLogChangeSource : public PollingChangeSource {
public:
    struct Marker {
        const char *text;
        LocalChange::Kind kind;
    };
    // Looked for in this order; the path is the rest of the line after the marker.
    static constexpr Marker markers[] = {
        {"NOTICE: trash: moved ", LocalChange::Kind::changed},
        {"NOTICE: conflict: saved ", LocalChange::Kind::conflictSaved},
    };

    static std::shared_ptr<RcloneLogChangeSource> make(QString logFile, std::chrono::milliseconds every,
                                                       Sleep sleep = liveSleep());

    // The notices in the complete lines added since the last read. Blocking file work: the
    // loop runs it on the thread pool.
    QList<LocalChange> readNewChanges();
    // The log's size, or none when it cannot be read.
    std::optional<uint64_t> fileSize() const;

private:
    RcloneLogChangeSource(QString logFile, std::chrono::milliseconds every, Sleep sleep);
    QCoro::Task<> begin(CancelToken token) override;
    QCoro::Task<QList<LocalChange>> pass(CancelToken token) override;

    QString m_logFile;
    uint64_t m_offset = 0;
    QByteArray m_partial; // an unfinished last line
};

} // namespace DriveCore
