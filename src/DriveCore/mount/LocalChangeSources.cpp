#include "DriveCore/mount/LocalChangeSources.h"

#include "DriveCore/engine/MountUploads.h"
#include "DriveCore/mount/MountNudge.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Threads.h"
#include "DriveCore/support/UserError.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace DriveCore {

namespace {

// The sources go quiet on failure by design; each failure is logged once here.
const Log log("change-sync");

bool holdsMachineryName(const QString &path)
{
    const QStringList pieces = path.split(u'/', Qt::SkipEmptyParts);
    return std::any_of(pieces.begin(), pieces.end(), MountNudge::isIgnoredName);
}

// Changes in the order first seen, each once.
class ChangeBatch {
public:
    void add(LocalChange change)
    {
        const QString key = QString::number(int(change.kind)) + u'|' + change.path;
        if (!m_keys.contains(key)) {
            m_keys.insert(key);
            m_changes.append(std::move(change));
        }
    }
    bool isEmpty() const { return m_changes.isEmpty(); }
    QList<LocalChange> take()
    {
        m_keys.clear();
        return std::exchange(m_changes, {});
    }

private:
    QSet<QString> m_keys;
    QList<LocalChange> m_changes;
};

constexpr uint32_t watchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM
    | IN_MOVED_TO | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

// Reads at most this many buffers per pass, so that a flood of events still gets reported.
constexpr int readsPerPass = 64;

std::optional<long long> readLimit(const char *path)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const long long value = file.readAll().trimmed().toLongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

// The number of inotify watches the user may hold: the system's limit, or a smaller one of the
// user namespace we run in.
std::optional<long long> watchLimit()
{
    const auto system = readLimit("/proc/sys/fs/inotify/max_user_watches");
    const auto here = readLimit("/proc/sys/user/max_inotify_watches");
    if (system && here)
        return std::min(*system, *here);
    return system ? system : here;
}

} // namespace

// ---- File events ----

const QSet<QString> FSEventsChangeSource::ignoredNames = {
    QStringLiteral(".DS_Store"),       QStringLiteral(".Trashes"),        QStringLiteral(".fseventsd"),
    QStringLiteral(".Spotlight-V100"), QStringLiteral(".TemporaryItems"),
};

// One run of the watch thread. The thread owns the inotify state; the main thread only reads
// `active` and calls `onChange`.
struct FSEventsChangeSource::Run {
    QString root; // the clean mount path
    QStringList prefixes;
    std::chrono::milliseconds latency;
    OnChange onChange; // main thread only
    std::atomic<bool> active{true};
    std::atomic<long long> watched{-1}; // folders under watch after the last walk; -1 before
    int inotify = -1;
    int wake = -1; // an eventfd that ends the thread
    int asked = -1; // an eventfd that says `walks` holds more
    std::mutex walksMutex;
    QList<std::pair<QString, Walk>> walks; // folders to watch, as absolute paths
    std::thread thread;

    ~Run()
    {
        for (const int fd : {inotify, wake, asked}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
};

namespace {

// The folders under watch, by watch descriptor. Lives on the watch thread.
class WatchedTree {
public:
    WatchedTree(int inotify, QString root, QStringList prefixes, const std::atomic<bool> &active)
        : m_inotify(inotify), m_root(std::move(root)), m_prefixes(std::move(prefixes)), m_active(active)
    {
    }

    // Watches `folder` and every folder below it, or with `newFolders` only those below it not
    // watched yet (watching a folder again keeps its descriptor and takes the new path, which
    // is how moved folders stay right). With `found`, every item below is reported as changed:
    // it may have appeared before its folder was watched.
    void add(const QString &folder, ChangeBatch *found,
             LocalChangeSource::Walk walk = LocalChangeSource::Walk::everyFolder)
    {
        QStringList folders{folder};
        while (!folders.isEmpty() && m_active.load(std::memory_order_relaxed)) {
            const QString current = folders.takeLast();
            if (current != m_root && !FSEventsChangeSource::relativePath(current, m_prefixes))
                continue;
            const QByteArray native = QFile::encodeName(current);
            const int wd = inotify_add_watch(m_inotify, native.constData(), watchMask);
            if (wd < 0) {
                if (errno == ENOSPC)
                    noteWatchLimit();
                continue;
            }
            const auto known = m_folders.find(wd);
            const bool watchedBefore = known != m_folders.end() && known->second == current;
            m_folders[wd] = current;
            // Below a folder watched before, every folder made since was watched as it came.
            if (watchedBefore && walk == LocalChangeSource::Walk::newFolders && current != folder)
                continue;
            DIR *dir = ::opendir(native.constData());
            if (!dir)
                continue;
            while (const dirent *entry = ::readdir(dir)) {
                const QString name = QFile::decodeName(entry->d_name);
                if (name == u"." || name == u"..")
                    continue;
                const QString child = current + u'/' + name;
                bool isDir = entry->d_type == DT_DIR;
                if (entry->d_type == DT_UNKNOWN) {
                    struct stat info{};
                    isDir = ::lstat(QFile::encodeName(child).constData(), &info) == 0 && S_ISDIR(info.st_mode);
                }
                if (found) {
                    if (const auto relative = FSEventsChangeSource::relativePath(child, m_prefixes))
                        found->add(LocalChange::changed(*relative));
                }
                if (isDir)
                    folders.append(child);
            }
            ::closedir(dir);
        }
    }

    // Watches the root and everything below it.
    void addRoot()
    {
        m_rootIdentity = identityOf(m_root);
        add(m_root, nullptr);
    }

    // Watches the whole tree again when another file system is now mounted at the root (the
    // drive appeared, went, or was mounted again): a watch stays with the folder it was put
    // on, and the folder under a mount sees nothing of the drive. Whether it walked again.
    bool followMounts()
    {
        if (identityOf(m_root) == m_rootIdentity)
            return false;
        for (const auto &[wd, folder] : m_folders)
            inotify_rm_watch(m_inotify, wd);
        m_folders.clear();
        addRoot();
        return true;
    }

    std::size_t watchedCount() const { return m_folders.size(); }

    // Turns one event into changes. Returns false for a queue overflow: events were lost.
    bool handle(const inotify_event &event, ChangeBatch &batch)
    {
        if (event.mask & IN_Q_OVERFLOW) {
            batch.add(LocalChange::folder(QString()));
            return false;
        }
        if (event.mask & IN_IGNORED) {
            m_folders.erase(event.wd);
            return true;
        }
        const auto folder = m_folders.find(event.wd);
        if (folder == m_folders.end() || event.len == 0)
            return true; // events about a watched folder itself come from its parent too
        const QString path = folder->second + u'/' + QFile::decodeName(event.name);
        const auto relative = FSEventsChangeSource::relativePath(path, m_prefixes);
        if (!relative)
            return true;
        batch.add(LocalChange::changed(*relative));
        if (event.mask & IN_ISDIR) {
            // A made folder may already hold items; a moved one was reported by its move.
            if (event.mask & IN_CREATE)
                add(path, &batch);
            else if (event.mask & IN_MOVED_TO)
                add(path, nullptr);
        }
        return true;
    }

private:
    // The folder and everything below it go unwatched; said once per run.
    void noteWatchLimit()
    {
        if (std::exchange(m_limitNoted, true))
            return;
        log.error("Not every folder of the drive is watched for changes: the limit of %ld inotify watches per user "
                  "is reached (fs.inotify.max_user_watches)",
                  watchLimit().value_or(-1));
    }

    using Identity = std::optional<std::pair<dev_t, ino_t>>;
    static Identity identityOf(const QString &path)
    {
        struct stat info{};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            return std::nullopt;
        return std::pair{info.st_dev, info.st_ino};
    }

    int m_inotify;
    QString m_root;
    Identity m_rootIdentity;
    QStringList m_prefixes;
    const std::atomic<bool> &m_active;
    std::unordered_map<int, QString> m_folders;
    bool m_limitNoted = false;
};

} // namespace

FSEventsChangeSource::FSEventsChangeSource(QString mountPath, std::chrono::milliseconds latency)
    : m_mountPath(std::move(mountPath)), m_prefixes(prefixes(m_mountPath)), m_latency(latency)
{
}

FSEventsChangeSource::~FSEventsChangeSource()
{
    stop();
}

QStringList FSEventsChangeSource::prefixes(const QString &mountPath)
{
    QStringList candidates{QDir::cleanPath(mountPath)};
    char resolved[PATH_MAX];
    if (::realpath(QFile::encodeName(mountPath).constData(), resolved))
        candidates.append(QFile::decodeName(resolved));
    QStringList prefixes;
    for (QString candidate : candidates) {
        if (!candidate.endsWith(u'/'))
            candidate += u'/';
        if (!prefixes.contains(candidate))
            prefixes.append(candidate);
    }
    return prefixes;
}

std::optional<QString> FSEventsChangeSource::relativePath(const QString &path, const QStringList &prefixes)
{
    const auto prefix = std::find_if(prefixes.begin(), prefixes.end(), [&](const QString &candidate) {
        return path.startsWith(candidate) && path.size() > candidate.size();
    });
    if (prefix == prefixes.end())
        return std::nullopt;
    const QStringList pieces = path.mid(prefix->size()).split(u'/', Qt::SkipEmptyParts);
    if (!pieces.isEmpty()) {
        for (const QString &piece : pieces) {
            if (ignoredNames.contains(piece))
                return std::nullopt;
        }
        if (pieces.last().startsWith(u"._"))
            return std::nullopt;
    }
    for (const QString &piece : pieces) {
        if (MountNudge::isIgnoredName(piece))
            return std::nullopt;
    }
    return pieces.join(u'/');
}

void FSEventsChangeSource::start(OnChange onChange)
{
    stop();
    auto run = std::make_shared<Run>();
    run->root = QDir::cleanPath(m_mountPath);
    run->prefixes = m_prefixes;
    run->latency = m_latency;
    run->onChange = std::move(onChange);
    run->inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    run->wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    run->asked = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // Without inotify the source stays silent, as designed for a stream that cannot be made.
    if (run->inotify < 0 || run->wake < 0 || run->asked < 0) {
        log.error("The file watch could not be made: %{public}s", std::strerror(errno));
        return;
    }
    try {
        run->thread = std::thread([run] { watch(run); });
    } catch (const std::system_error &error) {
        log.error("The file watch could not start its thread: %{public}s", error.what());
        return;
    }
    const std::lock_guard lock(m_mutex);
    m_running = std::move(run);
}

void FSEventsChangeSource::stop()
{
    std::shared_ptr<Run> run;
    {
        const std::lock_guard lock(m_mutex);
        run = std::exchange(m_running, nullptr);
    }
    if (!run)
        return;
    run->active.store(false, std::memory_order_release);
    run->onChange = nullptr;
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(run->wake, &one, sizeof one);
    // The thread may be inside a listing of the mount, which can take a while: it is joined
    // on the pool, never on the main thread.
    QThreadPool::globalInstance()->start([run] { run->thread.join(); });
}

void FSEventsChangeSource::watchFolders(const QStringList &dirs, Walk walk)
{
    std::shared_ptr<Run> run;
    {
        const std::lock_guard lock(m_mutex);
        run = m_running;
    }
    if (!run || dirs.isEmpty())
        return;
    {
        const std::lock_guard lock(run->walksMutex);
        for (const QString &dir : dirs) {
            const QStringList pieces = dir.split(u'/', Qt::SkipEmptyParts);
            if (pieces.contains(QStringLiteral("..")))
                continue;
            run->walks.append({pieces.isEmpty() ? run->root : run->root + u'/' + pieces.join(u'/'), walk});
        }
    }
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(run->asked, &one, sizeof one);
}

std::optional<std::size_t> FSEventsChangeSource::watchedFolders() const
{
    const std::lock_guard lock(m_mutex);
    const long long watched = m_running ? m_running->watched.load(std::memory_order_acquire) : -1;
    return watched < 0 ? std::nullopt : std::optional(std::size_t(watched));
}

void FSEventsChangeSource::watch(const std::shared_ptr<Run> &run)
{
    const auto deliver = [&run](QList<LocalChange> changes) {
        onMainThread([run, changes = std::move(changes)] {
            for (const LocalChange &change : changes) {
                if (!run->active.load(std::memory_order_acquire))
                    return;
                run->onChange(change);
            }
        });
    };
    WatchedTree tree(run->inotify, run->root, run->prefixes, run->active);
    // The mount table signals every mount and unmount.
    const int mounts = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    const auto closeMounts = qScopeGuard([mounts] {
        if (mounts >= 0)
            ::close(mounts);
    });
    tree.addRoot();
    run->watched.store((long long)tree.watchedCount(), std::memory_order_release);

    alignas(inotify_event) char buffer[64 * 1024];
    while (run->active.load(std::memory_order_acquire)) {
        pollfd all[] = {
            {run->inotify, POLLIN, 0}, {run->wake, POLLIN, 0}, {mounts, POLLPRI, 0}, {run->asked, POLLIN, 0}};
        if (::poll(all, 4, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (all[1].revents)
            return;
        if ((all[2].revents & (POLLPRI | POLLERR)) && tree.followMounts())
            run->watched.store((long long)tree.watchedCount(), std::memory_order_release);
        if (all[3].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(run->asked, &count, sizeof count);
            QList<std::pair<QString, Walk>> walks;
            {
                const std::lock_guard lock(run->walksMutex);
                walks = std::exchange(run->walks, {});
            }
            for (const auto &[folder, walk] : walks)
                tree.add(folder, nullptr, walk);
            run->watched.store((long long)tree.watchedCount(), std::memory_order_release);
        }
        if (!(all[0].revents & POLLIN))
            continue;
        // The kernel queue gathers (and merges) the events of the latency window.
        pollfd wake{run->wake, POLLIN, 0};
        if (::poll(&wake, 1, int(run->latency.count())) > 0)
            return;

        ChangeBatch batch;
        bool overflowed = false;
        for (int reads = 0; reads < readsPerPass; ++reads) {
            const ssize_t length = ::read(run->inotify, buffer, sizeof buffer);
            if (length <= 0)
                break;
            for (const char *at = buffer; at < buffer + length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(at);
                overflowed |= !tree.handle(*event, batch);
                at += sizeof(inotify_event) + event->len;
            }
        }
        // Folders made while events were lost are not watched yet.
        if (overflowed)
            tree.add(run->root, nullptr);
        if (!batch.isEmpty())
            deliver(batch.take());
    }
}

// ---- Polling sources ----

PollingChangeSource::~PollingChangeSource()
{
    stop();
}

void PollingChangeSource::start(OnChange onChange)
{
    stop();
    TaskHandle<> task = TaskHandle<>::start([weak = weak_from_this(), sleep = m_sleep, every = m_every,
                                             onChange = std::move(onChange)](CancelToken token) -> QCoro::Task<> {
        bool begun = false;
        co_await repeatWhileAlive(weak, sleep, every, token,
                                  [&](PollingChangeSource &source, CancelToken step) -> QCoro::Task<> {
                                      if (!std::exchange(begun, true)) {
                                          co_await source.begin(step);
                                          co_return;
                                      }
                                      const QList<LocalChange> changes = co_await source.pass(step);
                                      // Stopped meanwhile: nothing more is reported.
                                      for (const LocalChange &change : changes) {
                                          if (token.stop_requested())
                                              co_return;
                                          onChange(change);
                                      }
                                  });
    });
    const std::lock_guard lock(m_mutex);
    m_task = std::move(task);
}

void PollingChangeSource::stop()
{
    TaskHandle<> task;
    {
        const std::lock_guard lock(m_mutex);
        task = std::exchange(m_task, {});
    }
    task.cancel();
}

// ---- Completed uploads ----

namespace {

QString transferKey(const Transferred &record)
{
    return record.name + u'|' + record.completed_at;
}

QSet<QString> keysOf(const QList<Transferred> &list)
{
    QSet<QString> keys;
    keys.reserve(list.size());
    for (const Transferred &record : list)
        keys.insert(transferKey(record));
    return keys;
}

} // namespace

CompletedUploadsChangeSource::CompletedUploadsChangeSource(QString mountFs, ListTransferred transferred,
                                                           std::chrono::milliseconds every, Sleep sleep)
    : PollingChangeSource(every, std::move(sleep)), m_mountFs(std::move(mountFs)), m_transferred(std::move(transferred))
{
}

std::shared_ptr<CompletedUploadsChangeSource> CompletedUploadsChangeSource::make(QString mountFs,
                                                                                 ListTransferred transferred,
                                                                                 std::chrono::milliseconds every,
                                                                                 Sleep sleep)
{
    return std::shared_ptr<CompletedUploadsChangeSource>(
        new CompletedUploadsChangeSource(std::move(mountFs), std::move(transferred), every, std::move(sleep)));
}

std::shared_ptr<CompletedUploadsChangeSource> CompletedUploadsChangeSource::make(RCClient rc, QString mountFs,
                                                                                 std::chrono::milliseconds every)
{
    return make(std::move(mountFs), [rc](CancelToken token) { return rc.transferred(std::move(token)); }, every);
}

QCoro::Task<> CompletedUploadsChangeSource::prime(CancelToken token)
{
    QList<Transferred> list;
    try {
        list = co_await m_transferred(std::move(token));
    } catch (...) {
        log.info("Reading the finished uploads failed: %{public}s",
                 errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
        co_return;
    }
    const std::lock_guard lock(m_mutex);
    m_seen = keysOf(list);
    m_primed = true;
}

QCoro::Task<QList<LocalChange>> CompletedUploadsChangeSource::readNewChanges(CancelToken token)
{
    bool primed = false;
    {
        const std::lock_guard lock(m_mutex);
        primed = m_primed;
    }
    if (!primed) {
        co_await prime(std::move(token));
        co_return QList<LocalChange>{};
    }
    QList<Transferred> list;
    try {
        list = co_await m_transferred(std::move(token));
    } catch (...) {
        log.info("Reading the finished uploads failed: %{public}s",
                 errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
        co_return QList<LocalChange>{};
    }
    QList<Transferred> fresh;
    {
        const std::lock_guard lock(m_mutex);
        for (const Transferred &record : list) {
            if (!m_seen.contains(transferKey(record)))
                fresh.append(record);
        }
        m_seen = keysOf(list);
    }
    QList<LocalChange> changes;
    for (const Transferred &record : fresh) {
        if (record.error.isEmpty() && !record.checked.value_or(false)
            && MountUploads::isIntoDrive(record.group, record.dstFs, m_mountFs))
            changes.append(LocalChange::changed(record.name));
    }
    co_return changes;
}

// ---- The engine's log ----

RcloneLogChangeSource::RcloneLogChangeSource(QString logFile, std::chrono::milliseconds every, Sleep sleep)
    : PollingChangeSource(every, std::move(sleep)), m_logFile(std::move(logFile))
{
}

std::shared_ptr<RcloneLogChangeSource> RcloneLogChangeSource::make(QString logFile, std::chrono::milliseconds every,
                                                                   Sleep sleep)
{
    return std::shared_ptr<RcloneLogChangeSource>(
        new RcloneLogChangeSource(std::move(logFile), every, std::move(sleep)));
}

QCoro::Task<> RcloneLogChangeSource::begin(CancelToken)
{
    // Only lines written after the start count.
    const std::optional<uint64_t> size = fileSize();
    const std::lock_guard lock(m_mutex);
    m_offset = size.value_or(0);
    m_partial.clear();
    co_return;
}

QCoro::Task<QList<LocalChange>> RcloneLogChangeSource::pass(CancelToken)
{
    // The loop holds this source while the pool reads.
    co_return co_await runInPool([this] { return readNewChanges(); });
}

std::optional<uint64_t> RcloneLogChangeSource::fileSize() const
{
    struct stat info{};
    if (::stat(QFile::encodeName(m_logFile).constData(), &info) != 0)
        return std::nullopt;
    return uint64_t(info.st_size);
}

QList<LocalChange> RcloneLogChangeSource::readNewChanges()
{
    const std::optional<uint64_t> size = fileSize();
    if (!size)
        return {};
    QByteArray complete;
    {
        const std::lock_guard lock(m_mutex);
        if (m_offset > *size) {
            m_offset = 0;
            m_partial.clear();
        }
        QByteArray added;
        if (m_offset < *size) {
            QFile file(m_logFile);
            if (file.open(QIODevice::ReadOnly) && file.seek(qint64(m_offset))) {
                added = file.readAll();
                if (file.error() != QFileDevice::NoError)
                    added.clear();
            }
        }
        m_offset += uint64_t(added.size());
        const QByteArray buffer = m_partial + added;
        const qsizetype newline = buffer.lastIndexOf('\n');
        if (newline >= 0) {
            complete = buffer.left(newline);
            m_partial = buffer.mid(newline + 1);
        } else {
            m_partial = buffer;
        }
    }

    QList<LocalChange> changes;
    const QStringList lines = QString::fromUtf8(complete).split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        for (const Marker &marker : markers) {
            const QLatin1String text(marker.text);
            const qsizetype at = line.indexOf(text);
            if (at < 0)
                continue;
            const QString path = line.mid(at + text.size());
            if (!path.isEmpty() && !holdsMachineryName(path))
                changes.append({marker.kind, path});
            break;
        }
    }
    return changes;
}

} // namespace DriveCore
