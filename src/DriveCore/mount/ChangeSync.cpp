#include "DriveCore/mount/ChangeSync.h"

#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/mount/MountNudge.h"
#include "DriveCore/support/JsonReader.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/UserError.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <system_error>
#include <utility>

namespace DriveCore {

namespace {

// Change sync goes on past every failure by design; each one absorbed is logged here, so that
// "the other machine's changes never appear" leaves a trace.
const Log log("change-sync");

// The cause of the failure being handled, for the log.
QString cause()
{
    return errorText(std::current_exception()).value_or(QStringLiteral("cancelled"));
}

QString trimSlashes(const QString &path)
{
    qsizetype begin = 0;
    qsizetype end = path.size();
    while (begin < end && path[begin] == u'/')
        ++begin;
    while (end > begin && path[end - 1] == u'/')
        --end;
    return path.mid(begin, end - begin);
}

QString uuidText()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// The note's time form: UTC, whole seconds, "Z".
QString timeText(const QDateTime &time)
{
    const QDateTime utc = time.toUTC();
    const QTime clock = utc.time();
    return QDateTime(utc.date(), QTime(clock.hour(), clock.minute(), clock.second()), Qt::UTC).toString(Qt::ISODate);
}

// Removes a local file when the operation that made it ends, however it ends.
struct RemoveWhenDone {
    QString path;
    ~RemoveWhenDone() { QFile::remove(path); }
};

class RCChangeSyncRemote : public ChangeSyncRemote {
public:
    explicit RCChangeSyncRemote(RCClient rc) : m_rc(std::move(rc)) {}

    QCoro::Task<std::optional<ListItem>> stat(QString fs, QString remote, CancelToken token) override
    {
        return m_rc.stat(std::move(fs), std::move(remote), true, std::move(token));
    }
    QCoro::Task<> copy(QString srcFs, QString srcRemote, QString dstFs, QString dstRemote, CancelToken token) override
    {
        return m_rc.copyFile(std::move(srcFs), std::move(srcRemote), std::move(dstFs), std::move(dstRemote),
                             std::move(token));
    }
    QCoro::Task<> forgetDirs(QStringList dirs, CancelToken token) override
    {
        return m_rc.forgetDirs(std::move(dirs), QString::fromLatin1(RCClient::mountFs), std::move(token));
    }
    QCoro::Task<> forgetFiles(QStringList files, CancelToken token) override
    {
        return m_rc.forgetFiles(std::move(files), QString::fromLatin1(RCClient::mountFs), std::move(token));
    }

private:
    RCClient m_rc;
};

} // namespace

// ---- The change note ----

QByteArray ChangeMarker::encoded() const
{
    QJsonArray list;
    for (const QString &dir : dirs)
        list.append(dir);
    // QJsonObject keeps its keys sorted.
    const QJsonObject object{
        {QStringLiteral("deviceID"), DriveSettings::deviceIDText(deviceID)},
        {QStringLiteral("dirs"), list},
        {QStringLiteral("time"), timeText(time)},
    };
    // Compact JSON holds "/" only inside strings, so every one is escaped the way the other
    // machines' encoder writes it.
    return QJsonDocument(object).toJson(QJsonDocument::Compact).replace("/", "\\/");
}

ChangeMarker ChangeMarker::decode(const QByteArray &json)
{
    const JsonReader reader = JsonReader::parse(json, u"The change note");
    const QString deviceText = reader.value<QString>(u"deviceID");
    const QString timeValue = reader.value<QString>(u"time");
    QStringList dirs = reader.value<QList<QString>>(u"dirs");

    const std::optional<QUuid> deviceID = DriveSettings::parseDeviceID(deviceText);
    if (!deviceID)
        throw JsonDecodingError(QStringLiteral("The change note's device identifier is not a UUID"));
    static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}Z$"));
    const QDateTime time = QDateTime::fromString(timeValue, Qt::ISODate);
    if (!form.match(timeValue).hasMatch() || !time.isValid())
        throw JsonDecodingError(QStringLiteral("The change note's time is not in the ISO 8601 form"));
    return {*deviceID, time.toUTC(), std::move(dirs)};
}

std::shared_ptr<ChangeSyncRemote> ChangeSyncRemote::of(RCClient rc)
{
    return std::make_shared<RCChangeSyncRemote>(std::move(rc));
}

// ---- Change sync ----

ChangeSync::ChangeSync(Options options)
    : m_remote(std::move(options.remote)), m_deviceID(options.deviceID), m_metaFs(std::move(options.metaFs)),
      m_sources(std::move(options.sources)), m_pollEvery(options.pollEvery),
      m_fullRefreshEvery(options.fullRefreshEvery), m_debounce(options.debounce), m_now(std::move(options.now)),
      m_sleep(std::move(options.sleep)), m_mountPath(std::move(options.mountPath)), m_nudge(std::move(options.nudge)),
      m_topFolders(std::move(options.topFolders))
{
    m_state.lastFullRefresh = m_now();
}

std::shared_ptr<ChangeSync> ChangeSync::make(Options options)
{
    return std::shared_ptr<ChangeSync>(new ChangeSync(std::move(options)));
}

// Looked up at each call: tests replace MountNudge's operations for the whole process.
ChangeSync::Nudge ChangeSync::defaultNudge()
{
    return [](QString mountPath, QString folder) { return MountNudge::background(mountPath, folder); };
}

ChangeSync::TopFolders ChangeSync::defaultTopFolders()
{
    return [](QString mountPath) { return MountNudge::backgroundTopFolders(mountPath); };
}

std::shared_ptr<ChangeSync> ChangeSync::make(RCClient rc, QUuid deviceID, QString mountPath, QString metaFs,
                                             std::chrono::seconds pollEvery, std::chrono::seconds fullRefreshEvery,
                                             QString logFile, Nudge nudge, TopFolders topFolders)
{
    Options options;
    options.remote = ChangeSyncRemote::of(rc);
    options.deviceID = deviceID;
    options.metaFs = std::move(metaFs);
    options.sources = {
        std::make_shared<FSEventsChangeSource>(mountPath),
        CompletedUploadsChangeSource::make(rc, QString::fromLatin1(RCClient::mountFs), std::chrono::seconds(2)),
        RcloneLogChangeSource::make(std::move(logFile), std::chrono::seconds(1)),
    };
    options.pollEvery = pollEvery;
    options.fullRefreshEvery = fullRefreshEvery;
    options.mountPath = std::move(mountPath);
    options.nudge = std::move(nudge);
    options.topFolders = std::move(topFolders);
    return make(std::move(options));
}

ChangeSync::~ChangeSync()
{
    stop();
}

QString ChangeSync::parent(const QString &path)
{
    QStringList pieces = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!pieces.isEmpty())
        pieces.removeLast();
    return pieces.join(QLatin1Char('/'));
}

void ChangeSync::State::addFolders(const QStringList &dirs)
{
    if (pendingEverything)
        return;
    for (const QString &dir : dirs) {
        const QString trimmed = trimSlashes(dir);
        pending.removeAll(trimmed);
        pending.prepend(trimmed);
    }
    if (pending.size() > maxDirs) {
        pending.clear();
        pendingEverything = true;
    }
}

void ChangeSync::start()
{
    const std::weak_ptr<ChangeSync> weak = weak_from_this();
    TaskHandle<> poll = TaskHandle<>::start([weak, sleep = m_sleep, every = m_pollEvery](CancelToken token) {
        return repeatWhileAlive(weak, sleep, every, token, [](ChangeSync &self, CancelToken step) -> QCoro::Task<> {
            try {
                co_await self.tick(step);
            } catch (const CancelledError &) {
                // A stop, not a failure: the loop ends on the cancelled token.
            }
        });
    });
    TaskHandle<> replaced;
    {
        const std::lock_guard lock(m_stateMutex);
        replaced = std::exchange(m_state.pollTask, std::move(poll));
    }
    replaced.cancel();
    for (const auto &source : m_sources) {
        source->start([weak](const LocalChange &change) {
            if (auto self = weak.lock())
                self->handle(change);
        });
    }
}

void ChangeSync::stop()
{
    for (const auto &source : m_sources)
        source->stop();
    TaskHandle<> poll;
    TaskHandle<> debounce;
    {
        const std::lock_guard lock(m_stateMutex);
        poll = std::exchange(m_state.pollTask, {});
        debounce = std::exchange(m_state.debounceTask, {});
        m_state.writeScheduled = false;
    }
    poll.cancel();
    debounce.cancel();
}

QCoro::Task<> ChangeSync::stopAndFlush(CancelToken token)
{
    stop();
    co_await writeMarker(std::move(token));
}

void ChangeSync::noteLocalChange(const QStringList &dirs)
{
    if (dirs.isEmpty())
        return;
    {
        const std::lock_guard lock(m_stateMutex);
        m_state.addFolders(dirs);
    }
    scheduleWrite();
}

void ChangeSync::onConflictSaved(std::function<void(const QString &)> handler)
{
    {
        const std::lock_guard lock(m_conflictMutex);
        std::swap(m_conflictHandler, handler);
    }
}

void ChangeSync::onRefreshed(std::function<void()> handler)
{
    {
        const std::lock_guard lock(m_refreshedMutex);
        std::swap(m_refreshedHandler, handler);
    }
}

void ChangeSync::handle(const LocalChange &change)
{
    switch (change.kind) {
    case LocalChange::Kind::changed: {
        const std::lock_guard lock(m_stateMutex);
        m_state.addFolders({parent(change.path)});
        break;
    }
    case LocalChange::Kind::folder: {
        const std::lock_guard lock(m_stateMutex);
        m_state.addFolders({change.path});
        break;
    }
    case LocalChange::Kind::conflictSaved: {
        const std::lock_guard lock(m_stateMutex);
        m_state.pendingForgets.append(trimSlashes(change.path));
        m_state.addFolders({parent(change.path)});
        break;
    }
    }
    scheduleWrite();
    if (change.kind == LocalChange::Kind::conflictSaved) {
        std::function<void(const QString &)> handler;
        {
            const std::lock_guard lock(m_conflictMutex);
            handler = m_conflictHandler;
        }
        if (handler)
            handler(change.path);
    }
}

void ChangeSync::scheduleWrite()
{
    {
        const std::lock_guard lock(m_stateMutex);
        if (m_state.writeScheduled)
            return;
        m_state.writeScheduled = true;
    }
    const std::weak_ptr<ChangeSync> weak = weak_from_this();
    TaskHandle<> task =
        TaskHandle<>::start([weak, sleep = m_sleep, debounce = m_debounce](CancelToken token) -> QCoro::Task<> {
            if (weak.expired())
                co_return;
            try {
                co_await sleep(debounce, token);
            } catch (...) {
                co_return;
            }
            // Once the quiet period is over the write is no longer stopped: it runs to its end.
            if (auto self = weak.lock())
                co_await self->writeMarker({});
        });
    TaskHandle<> late;
    {
        const std::lock_guard lock(m_stateMutex);
        // Unless the write already took the schedule, or stop() dropped it.
        if (m_state.writeScheduled && !task.isFinished())
            m_state.debounceTask = std::move(task);
        else
            late = std::move(task);
    }
}

QCoro::Task<> ChangeSync::writeMarker(CancelToken token)
{
    QStringList dirs;
    bool everything = false;
    QStringList forgets;
    TaskHandle<> quietPeriod;
    {
        const std::lock_guard lock(m_stateMutex);
        dirs = std::exchange(m_state.pending, {});
        everything = std::exchange(m_state.pendingEverything, false);
        forgets = std::exchange(m_state.pendingForgets, {});
        m_state.writeScheduled = false;
        quietPeriod = std::exchange(m_state.debounceTask, {});
    }
    // This write is where that quiet period ends; its token is not used here.
    quietPeriod = {};

    if (!forgets.isEmpty()) {
        bool forgotten = false;
        try {
            co_await m_remote->forgetFiles(forgets, token);
            forgotten = true;
        } catch (...) {
            const std::lock_guard lock(m_stateMutex);
            for (const QString &path : forgets) {
                if (!m_state.pendingForgets.contains(path))
                    m_state.pendingForgets.append(path);
            }
        }
        if (forgotten) {
            QStringList parents;
            for (const QString &path : forgets)
                parents.append(parent(path));
            co_await nudgeFolders(parents);
        }
    }
    if (!everything && dirs.isEmpty())
        co_return;

    // Brings lastMarker and origins up to date with the note in the bucket now.
    try {
        co_await pollOnce(token);
    } catch (...) {
        log.info("Reading the change note before writing ours failed: %{public}s", cause());
    }

    const QDateTime now = m_now();
    ChangeMarker note;
    {
        const std::lock_guard lock(m_stateMutex);
        std::optional<QStringList> list;
        if (!everything)
            list = dirs;
        for (const QString &dir : dirs)
            m_state.origins.insert(dir, now);
        // A folder stays in every note written within two polls of its change, also after
        // another machine's note replaced the one that carried it first.
        if (list && m_state.lastMarker) {
            for (const QString &dir : m_state.lastMarker->dirs) {
                if (list->contains(dir))
                    continue;
                const auto origin = m_state.origins.constFind(dir);
                if (origin != m_state.origins.constEnd() && origin->msecsTo(now) < 2 * m_pollEvery.count())
                    list->append(dir);
            }
        }
        m_state.origins.removeIf([&](const QHash<QString, QDateTime>::iterator &entry) {
            return entry.value().msecsTo(now) >= m_fullRefreshEvery.count();
        });
        if (list && list->size() > maxDirs)
            list.reset();
        note = {m_deviceID, now, list.value_or(QStringList{})};
    }

    try {
        co_await upload(note, token);
        const std::lock_guard lock(m_stateMutex);
        m_state.lastMarker = note;
    } catch (...) {
        // Nothing is rescheduled: the next poll writes again.
        const std::lock_guard lock(m_stateMutex);
        for (const QString &dir : dirs) {
            if (!m_state.pending.contains(dir))
                m_state.pending.append(dir);
        }
        if (!m_state.pendingEverything && !everything) {
            if (m_state.pending.size() > maxDirs) {
                m_state.pendingEverything = true;
                m_state.pending.clear();
            }
        } else {
            m_state.pendingEverything = true;
            m_state.pending.clear();
        }
    }
}

QCoro::Task<> ChangeSync::tick(CancelToken token)
{
    bool fullRefresh = false;
    {
        const std::lock_guard lock(m_stateMutex);
        const QDateTime now = m_now();
        if (m_state.lastFullRefresh.msecsTo(now) >= m_fullRefreshEvery.count()) {
            m_state.lastFullRefresh = now;
            fullRefresh = true;
        }
    }
    if (fullRefresh) {
        bool forgotten = false;
        try {
            co_await m_remote->forgetDirs({}, token);
            forgotten = true;
        } catch (const CancelledError &) {
            throw;
        } catch (...) {
            log.info("Forgetting the whole drive's listings failed: %{public}s", cause());
        }
        if (forgotten) {
            co_await nudgeFolders({QString()});
            watchFolders({QString()}, LocalChangeSource::Walk::newFolders);
        }
    }

    try {
        co_await pollOnce(token);
    } catch (const CancelledError &) {
        throw;
    } catch (...) {
        log.info("Reading the change note failed: %{public}s", cause());
    }

    // A write that failed left its folders pending; this is where they go out again.
    bool retry = false;
    {
        const std::lock_guard lock(m_stateMutex);
        retry = !m_state.writeScheduled
            && (m_state.pendingEverything || !m_state.pending.isEmpty() || !m_state.pendingForgets.isEmpty());
    }
    if (retry)
        co_await writeMarker(token);
}

QCoro::Task<bool> ChangeSync::pollOnce(CancelToken token)
{
    const std::optional<ListItem> item = co_await m_remote->stat(m_metaFs, QString::fromLatin1(noteName), token);
    if (!item)
        co_return false;
    const QString key = item->ModTime + u'|' + QString::number(item->Size);
    bool seen = false;
    {
        const std::lock_guard lock(m_stateMutex);
        seen = m_state.seenMarker == key;
    }
    if (seen)
        co_return false;

    const ChangeMarker note = co_await download(token);
    {
        const std::lock_guard lock(m_stateMutex);
        m_state.lastMarker = note;
        for (const QString &dir : note.dirs) {
            if (!m_state.origins.contains(dir))
                m_state.origins.insert(dir, note.time);
        }
    }
    if (note.deviceID == m_deviceID) {
        // This machine's own note is not applied again.
        const std::lock_guard lock(m_stateMutex);
        m_state.seenMarker = key;
        co_return false;
    }

    co_await refresh(note.dirs, token);
    {
        const std::lock_guard lock(m_stateMutex);
        m_state.seenMarker = key;
    }
    callRefreshed();
    co_return true;
}

void ChangeSync::callRefreshed()
{
    std::function<void()> handler;
    {
        const std::lock_guard lock(m_refreshedMutex);
        handler = m_refreshedHandler;
    }
    if (handler)
        handler();
}

QCoro::Task<> ChangeSync::refresh(QStringList dirs, CancelToken token)
{
    if (dirs.isEmpty()) {
        co_await m_remote->forgetDirs({}, token);
        {
            const std::lock_guard lock(m_stateMutex);
            m_state.lastFullRefresh = m_now();
        }
        if (m_mountPath) {
            QStringList names;
            if (m_topFolders) {
                try {
                    names = co_await m_topFolders(*m_mountPath);
                } catch (...) {
                    log.info("Listing the drive's top folders failed: %{public}s", cause());
                }
            }
            co_await nudgeFolders(QStringList{QString()} + names);
        }
        // Many folders changed: new ones may lie below any folder.
        watchFolders({QString()}, LocalChangeSource::Walk::everyFolder);
        co_return;
    }

    QStringList named;
    for (const QString &dir : dirs) {
        if (!dir.isEmpty())
            named.append(dir);
    }
    if (!named.isEmpty())
        co_await m_remote->forgetDirs(named, token);
    // Forgetting a file of the top level makes the engine read the top level again without
    // dropping everything below it.
    if (dirs.contains(QString()))
        co_await m_remote->forgetFiles({QStringLiteral(".corvane-refresh")}, token);
    QStringList paths;
    for (const QString &dir : dirs)
        paths << trimSlashes(dir) << parent(dir);
    co_await nudgeFolders(paths);
    // Folders another machine made show only now: no local event ever watches them.
    QStringList watched;
    for (const QString &dir : dirs)
        watched << trimSlashes(dir);
    watchFolders(watched, LocalChangeSource::Walk::newFolders);
}

void ChangeSync::watchFolders(const QStringList &dirs, LocalChangeSource::Walk walk)
{
    for (const auto &source : m_sources)
        source->watchFolders(dirs, walk);
}

QCoro::Task<> ChangeSync::nudgeFolders(QStringList paths)
{
    if (!m_mountPath || !m_nudge)
        co_return;
    QSet<QString> nudged;
    for (const QString &path : paths) {
        if (nudged.contains(path))
            continue;
        nudged.insert(path);
        try {
            co_await m_nudge(*m_mountPath, path);
        } catch (...) {
            log.info("Nudging %{private}s failed: %{public}s", path, cause());
        }
    }
}

QString ChangeSync::tempDir()
{
    const std::lock_guard lock(m_stateMutex);
    // A folder removed by a clean-up of the temporary folder is made again.
    if (!m_state.tempDir || !QFileInfo(m_state.tempDir->path()).isDir())
        m_state.tempDir = std::make_unique<TemporaryFolder>(QStringLiteral("CorvaneDrive-changes"));
    return m_state.tempDir->path();
}

QCoro::Task<> ChangeSync::upload(ChangeMarker note, CancelToken token)
{
    const QString folder = tempDir();
    const QString name = QStringLiteral("outgoing-%1.json").arg(uuidText());
    const RemoveWhenDone local{folder + u'/' + name};
    {
        QFile file(local.path);
        const QByteArray bytes = note.encoded();
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()
            || !file.flush())
            throw std::system_error(EIO, std::generic_category(), "Could not write the change note");
    }
    co_await m_remote->copy(folder, name, m_metaFs, QString::fromLatin1(noteName), std::move(token));
}

QCoro::Task<ChangeMarker> ChangeSync::download(CancelToken token)
{
    const QString folder = tempDir();
    // Every download has a name of its own: a poll and a write may read the note at once.
    const QString name = QStringLiteral("incoming-%1.json").arg(uuidText());
    const RemoveWhenDone local{folder + u'/' + name};
    co_await m_remote->copy(m_metaFs, QString::fromLatin1(noteName), folder, name, std::move(token));
    QFile file(local.path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::system_error(ENOENT, std::generic_category(), "Could not read the change note");
    co_return ChangeMarker::decode(file.readAll());
}

} // namespace DriveCore
