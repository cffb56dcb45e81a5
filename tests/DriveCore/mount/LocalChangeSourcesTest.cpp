#include "DriveCore/mount/LocalChangeSources.h"

#include "support/fake-engine/FakeEngine.h"
#include "support/LogCapture.h"
#include "support/OwnNamespaces.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::spinUntil;

namespace DriveCore {
// Readable failure messages.
void PrintTo(const LocalChange &change, std::ostream *out)
{
    static const char *const kinds[] = {"changed", "conflictSaved", "folder"};
    *out << kinds[int(change.kind)] << "(\"" << change.path.toStdString() << "\")";
}
} // namespace DriveCore

namespace {

void write(const QString &path, const QByteArray &bytes = "x", QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    ASSERT_TRUE(file.open(mode)) << path.toStdString();
    file.write(bytes);
}

TEST(FSEventsChangeSource, RelativePathsLeaveOutHousekeepingAndTheDrivesOwnNames)
{
    const QStringList prefixes{QStringLiteral("/m/drive/"), QStringLiteral("/real/drive/")};
    const std::pair<const char *, std::optional<QString>> cases[] = {
        {"/m/drive/Work/a.txt", QStringLiteral("Work/a.txt")},
        {"/real/drive/Work/a.txt", QStringLiteral("Work/a.txt")},
        {"/m/drive//Work//a.txt", QStringLiteral("Work/a.txt")},
        {"/m/drive/._Work/a.txt", QStringLiteral("._Work/a.txt")},
        {"/m/drive/", std::nullopt},
        {"/m/drive", std::nullopt},
        {"/m/drivers/a.txt", std::nullopt},
        {"/elsewhere/a.txt", std::nullopt},
        {"/m/drive/Work/.DS_Store/x", std::nullopt},
        {"/m/drive/.Trashes", std::nullopt},
        {"/m/drive/Work/._a.txt", std::nullopt},
        {"/m/drive/.corvane-refresh-6F1C", std::nullopt},
        {"/m/drive/Work/.corvane-refresh-6F1C/x", std::nullopt},
        {"/m/drive/.corvane-recovering-2/a.txt", std::nullopt},
        {"/m/drive/Work/a.txt.corvane-recovering", std::nullopt},
    };
    for (const auto &[path, relative] : cases)
        EXPECT_EQ(FSEventsChangeSource::relativePath(QString::fromUtf8(path), prefixes), relative) << path;
}

TEST(FSEventsChangeSource, PrefixesHoldTheResolvedPathOfALinkedMountPoint)
{
    QTemporaryDir folder;
    const QString real = folder.filePath(QStringLiteral("real"));
    const QString link = folder.filePath(QStringLiteral("link"));
    QDir().mkpath(real);
    ASSERT_TRUE(QFile::link(real, link));
    EXPECT_EQ(FSEventsChangeSource::prefixes(link + u'/'), (QStringList{link + u'/', real + u'/'}));
    EXPECT_EQ(FSEventsChangeSource::prefixes(real), QStringList{real + u'/'});
}

// The file-event source on a real folder, reporting into `changes`.
class FSEventsOnAFolder : public ::testing::Test {
protected:
    void start(std::chrono::milliseconds latency = 100ms)
    {
        source = std::make_unique<FSEventsChangeSource>(watched, latency);
        source->start([this](const LocalChange &change) { changes.append(change); });
        // The watches are made on the source's own thread: touch a file until they see it.
        const LocalChange ready = LocalChange::changed(QStringLiteral("ready"));
        for (int attempt = 0; attempt < 100 && !changes.contains(ready); ++attempt) {
            write(path(QStringLiteral("ready")));
            spinUntil([&] { return changes.contains(ready); }, latency + 100ms);
        }
        ASSERT_TRUE(changes.contains(ready));
        QFile::remove(path(QStringLiteral("ready")));
        spinUntil([] { return false; }, latency + 100ms);
        changes.clear();
    }
    QString path(const QString &relative) const { return watched + u'/' + relative; }
    bool sees(const LocalChange &change)
    {
        return spinUntil([&] { return changes.contains(change); });
    }

    QTemporaryDir root;
    QString watched = root.path();
    std::unique_ptr<FSEventsChangeSource> source;
    QList<LocalChange> changes;
};

TEST_F(FSEventsOnAFolder, ReportsChangesInFoldersMadeAfterTheStartEachOnce)
{
    QDir().mkpath(path(QStringLiteral("Old")));
    start();

    write(path(QStringLiteral("Old/a.txt")), "hello");
    ASSERT_TRUE(sees(LocalChange::changed(QStringLiteral("Old/a.txt"))));
    EXPECT_EQ(changes.count(LocalChange::changed(QStringLiteral("Old/a.txt"))), 1) << "create, write and close join";

    // Items made before their folder is watched are found when it is.
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("New/Deep/Er"))));
    write(path(QStringLiteral("New/Deep/Er/f.txt")));
    ASSERT_TRUE(sees(LocalChange::changed(QStringLiteral("New"))));
    ASSERT_TRUE(sees(LocalChange::changed(QStringLiteral("New/Deep/Er/f.txt"))));
    write(path(QStringLiteral("New/Deep/Er/g.txt")));
    EXPECT_TRUE(sees(LocalChange::changed(QStringLiteral("New/Deep/Er/g.txt"))));

    // A moved folder keeps its watch under its new name.
    changes.clear();
    ASSERT_TRUE(QDir(root.path()).rename(QStringLiteral("New"), QStringLiteral("Moved")));
    EXPECT_TRUE(sees(LocalChange::changed(QStringLiteral("New"))));
    EXPECT_TRUE(sees(LocalChange::changed(QStringLiteral("Moved"))));
    write(path(QStringLiteral("Moved/Deep/Er/h.txt")));
    EXPECT_TRUE(sees(LocalChange::changed(QStringLiteral("Moved/Deep/Er/h.txt"))));

    changes.clear();
    QFile::remove(path(QStringLiteral("Old/a.txt")));
    EXPECT_TRUE(sees(LocalChange::changed(QStringLiteral("Old/a.txt"))));
}

TEST_F(FSEventsOnAFolder, IgnoresHousekeepingFilesAndTheDrivesOwnNames)
{
    QDir().mkpath(path(QStringLiteral("Work")));
    start();
    write(path(QStringLiteral(".DS_Store")));
    write(path(QStringLiteral("Work/._report.txt")));
    write(path(QStringLiteral("Work/report.txt.corvane-recovering")));
    QDir().mkpath(path(QStringLiteral("Work/.corvane-refresh-6F1C")));
    write(path(QStringLiteral("Work/.corvane-refresh-6F1C/inside")));
    QDir().mkdir(path(QStringLiteral(".corvane-refresh-0A2B")));
    QDir().rmdir(path(QStringLiteral(".corvane-refresh-0A2B")));
    write(path(QStringLiteral("Work/last.txt")));
    ASSERT_TRUE(sees(LocalChange::changed(QStringLiteral("Work/last.txt"))));
    spinUntil([] { return false; }, 300ms);
    EXPECT_EQ(changes, QList<LocalChange>{LocalChange::changed(QStringLiteral("Work/last.txt"))});
}

TEST_F(FSEventsOnAFolder, ReportsNothingOnceStopped)
{
    start();
    source->stop();
    write(path(QStringLiteral("late.txt")));
    spinUntil([] { return false; }, 400ms);
    EXPECT_TRUE(changes.isEmpty());
    source->stop();
}

// A lazily unmounted FUSE mount of a folder over another (bindfs), for as long as this lives.
class BindMount {
public:
    BindMount(const QString &from, const QString &at) : m_at(at)
    {
        m_mounted = QProcess::execute(QStringLiteral("bindfs"), {from, at}) == 0;
    }
    ~BindMount() { unmount(); }
    bool mounted() const { return m_mounted; }
    void unmount()
    {
        if (std::exchange(m_mounted, false))
            QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-uz"), m_at});
    }

private:
    QString m_at;
    bool m_mounted = false;
};

// The drive is mounted on its folder after the source started, and may go and come back.
TEST_F(FSEventsOnAFolder, FollowsTheDriveMountedOnItsFolderLater)
{
    const QString drive = root.filePath(QStringLiteral("drive"));
    watched = root.filePath(QStringLiteral("mount"));
    QDir().mkpath(drive + QStringLiteral("/Work"));
    QDir().mkpath(watched);
    start();

    BindMount mount(drive, watched);
    ASSERT_TRUE(mount.mounted()) << "bindfs is installed by scripts/bootstrap";
    // The new watches come with the mount table's change.
    bool seen = false;
    for (int attempt = 0; attempt < 20 && !seen; ++attempt) {
        write(path(QStringLiteral("Work/new.txt")));
        seen = spinUntil([&] { return changes.contains(LocalChange::changed(QStringLiteral("Work/new.txt"))); }, 500ms);
    }
    EXPECT_TRUE(seen);

    mount.unmount();
    changes.clear();
    seen = false;
    for (int attempt = 0; attempt < 20 && !seen; ++attempt) {
        write(path(QStringLiteral("under.txt")));
        seen = spinUntil([&] { return changes.contains(LocalChange::changed(QStringLiteral("under.txt"))); }, 500ms);
    }
    EXPECT_TRUE(seen);
}

// More events than the kernel queues in one latency window: the whole drive is reported, and
// a folder made while events were lost is watched afterwards.
TEST_F(FSEventsOnAFolder, AQueueOverflowReportsTheWholeDrive)
{
    QFile limitFile(QStringLiteral("/proc/sys/fs/inotify/max_queued_events"));
    ASSERT_TRUE(limitFile.open(QIODevice::ReadOnly));
    const int limit = limitFile.readAll().trimmed().toInt();
    if (limit > 200'000)
        GTEST_SKIP() << "the kernel queues " << limit << " events; too many to overflow here";

    QDir().mkpath(path(QStringLiteral("Flood")));
    start(2s);
    QFile one(path(QStringLiteral("Flood/one")));
    QFile two(path(QStringLiteral("Flood/two")));
    ASSERT_TRUE(one.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    ASSERT_TRUE(two.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    // Writes to two files by turns: no event repeats the one before it, so none are merged.
    for (int i = 0; i <= limit / 2 + 100; ++i) {
        one.write("x", 1);
        two.write("x", 1);
    }
    QDir().mkpath(path(QStringLiteral("Unseen")));
    ASSERT_TRUE(sees(LocalChange::folder(QString())));

    changes.clear();
    write(path(QStringLiteral("Unseen/after.txt")));
    EXPECT_TRUE(
        spinUntil([&] { return changes.contains(LocalChange::changed(QStringLiteral("Unseen/after.txt"))); }, 15s));
}

// A drive with more folders than the user may watch: the folders past the limit go unwatched,
// and the log says so once, with the limit. In a user namespace of its own the test sets its
// own limit and leaves the machine's alone.
TEST_F(FSEventsOnAFolder, ReachingTheWatchLimitIsLoggedOnceWithTheLimit)
{
    CORVANE_TEST_IN_OWN_NAMESPACES(false);
    QFile limit(QStringLiteral("/proc/sys/user/max_inotify_watches"));
    ASSERT_TRUE(limit.open(QIODevice::WriteOnly));
    limit.write("8");
    limit.close();
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("Folder %1/Inner").arg(i))));

    const TestSupport::LogCapture log;
    start();
    const QString expected =
        QStringLiteral("Not every folder of the drive is watched for changes: the limit of 8 inotify "
                       "watches per user is reached (fs.inotify.max_user_watches)");
    EXPECT_TRUE(spinUntil([&] { return !log.messages(QStringLiteral("change-sync")).isEmpty(); }));
    EXPECT_TRUE(spinUntil([&] { return source->watchedFolders() == std::optional<std::size_t>(8); }))
        << source->watchedFolders().value_or(0);
    // Folders made later find no room either, and say nothing more.
    QDir().mkpath(path(QStringLiteral("Later")));
    EXPECT_TRUE(sees(LocalChange::changed(QStringLiteral("Later"))));
    EXPECT_EQ(log.messages(QStringLiteral("change-sync")), QStringList{expected});
}

// ---- Completed uploads, from the fake engine's scripted "core/transferred" ----

QJsonObject record(const QString &name, const QString &completedAt, QJsonObject extra = {})
{
    QJsonObject record{{QStringLiteral("name"), name},
                       {QStringLiteral("size"), 3},
                       {QStringLiteral("bytes"), 3},
                       {QStringLiteral("error"), QString()},
                       {QStringLiteral("completed_at"), completedAt},
                       {QStringLiteral("started_at"), completedAt},
                       {QStringLiteral("checked"), false},
                       {QStringLiteral("group"), QStringLiteral("global_stats")},
                       {QStringLiteral("dstFs"), QStringLiteral("drivecrypt{a1b2}:Drive")}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        it.value().isNull() ? void(record.remove(it.key())) : void(record.insert(it.key(), it.value()));
    return record;
}

QJsonObject transferred(const QJsonArray &records)
{
    return {
        {QStringLiteral("methods"),
         QJsonObject{{QStringLiteral("core/transferred"),
                      QJsonObject{{QStringLiteral("reply"), QJsonObject{{QStringLiteral("transferred"), records}}}}}}}};
}

class CompletedUploadsFromTheEngine : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine.start()) << engine.server().output().toStdString(); }
    std::shared_ptr<CompletedUploadsChangeSource> makeSource(std::chrono::milliseconds every = 1h)
    {
        return CompletedUploadsChangeSource::make(engine.client(), QStringLiteral("drivecrypt:Drive"), every);
    }

    const QJsonObject earlier = record(QStringLiteral("Work/earlier.txt"), QStringLiteral("2026-12-10T14:52:38.1Z"));
    TestSupport::FakeEngine engine{transferred({earlier})};
};

TEST_F(CompletedUploadsFromTheEngine, ReportsUploadsIntoTheDriveThatFinishedAfterTheFirstListing)
{
    const auto source = makeSource();
    EXPECT_TRUE(await(source->readNewChanges()).isEmpty()) << "the first listing only primes";

    const QString at = QStringLiteral("2026-12-10T14:53:00.5Z");
    engine.setScenario(transferred({
        earlier,
        record(QStringLiteral("Work/new.txt"), at),
        record(QStringLiteral("Work/again.txt"), at, {{QStringLiteral("dstFs"), QStringLiteral("drivecrypt:Drive")}}),
        record(QStringLiteral("failed.txt"), at, {{QStringLiteral("error"), QStringLiteral("connection reset")}}),
        record(QStringLiteral("checked.txt"), at, {{QStringLiteral("checked"), true}}),
        record(QStringLiteral("job.txt"), at, {{QStringLiteral("group"), QStringLiteral("job/4")}}),
        record(QStringLiteral("nodest.txt"), at, {{QStringLiteral("dstFs"), QJsonValue::Null}}),
        record(QStringLiteral("nogroup.txt"), at, {{QStringLiteral("group"), QJsonValue::Null}}),
        record(QStringLiteral("elsewhere.txt"), at,
               {{QStringLiteral("dstFs"), QStringLiteral("drivecrypt:Recently Deleted")}}),
    }));
    EXPECT_EQ(await(source->readNewChanges()),
              (QList<LocalChange>{LocalChange::changed(QStringLiteral("Work/new.txt")),
                                  LocalChange::changed(QStringLiteral("Work/again.txt"))}));
    EXPECT_TRUE(await(source->readNewChanges()).isEmpty()) << "reported once while it stays listed";

    // The same file uploaded again finishes at another time.
    engine.setScenario(transferred({record(QStringLiteral("Work/new.txt"), QStringLiteral("2026-12-10T14:54:00Z"))}));
    EXPECT_EQ(await(source->readNewChanges()),
              QList<LocalChange>{LocalChange::changed(QStringLiteral("Work/new.txt"))});
}

TEST_F(CompletedUploadsFromTheEngine, StaysUnprimedWhileTheEngineFails)
{
    engine.setScenario({{QStringLiteral("methods"),
                         QJsonObject{{QStringLiteral("core/transferred"),
                                      QJsonObject{{QStringLiteral("status"), 500},
                                                  {QStringLiteral("error"), QStringLiteral("busy")}}}}}});
    const auto source = makeSource();
    EXPECT_TRUE(await(source->readNewChanges()).isEmpty());
    engine.setScenario(transferred({earlier}));
    EXPECT_TRUE(await(source->readNewChanges()).isEmpty()) << "primes now";
    const QJsonObject fresh = record(QStringLiteral("fresh.txt"), QStringLiteral("2026-12-10T14:55:00Z"));
    engine.setScenario(transferred({earlier, fresh}));
    EXPECT_EQ(await(source->readNewChanges()), QList<LocalChange>{LocalChange::changed(QStringLiteral("fresh.txt"))});
}

TEST_F(CompletedUploadsFromTheEngine, ReportsFromItsLoopUntilStopped)
{
    const auto source = makeSource(50ms);
    QList<LocalChange> changes;
    source->start([&](const LocalChange &change) { changes.append(change); });
    // Primed at the start; this one is new.
    spinUntil([] { return false; }, 200ms);
    engine.setScenario(transferred({earlier, record(QStringLiteral("a.txt"), QStringLiteral("2026-12-10T14:55:00Z"))}));
    ASSERT_TRUE(spinUntil([&] { return !changes.isEmpty(); }));
    EXPECT_EQ(changes, QList<LocalChange>{LocalChange::changed(QStringLiteral("a.txt"))});

    source->stop();
    engine.setScenario(transferred({earlier, record(QStringLiteral("b.txt"), QStringLiteral("2026-12-10T14:56:00Z"))}));
    spinUntil([] { return false; }, 300ms);
    EXPECT_EQ(changes.size(), 1);
}

// ---- The engine's log ----

class LogTail : public ::testing::Test {
protected:
    QString log() const { return folder.filePath(QStringLiteral("rclone.log")); }
    void append(const QByteArray &bytes) { write(log(), bytes, QIODevice::Append); }
    // A source whose own loop never runs: the test reads.
    std::shared_ptr<RcloneLogChangeSource> started()
    {
        auto source = RcloneLogChangeSource::make(log(), 1h);
        source->start([](const LocalChange &) {});
        return source;
    }

    QTemporaryDir folder;
};

TEST_F(LogTail, ReadsTrashAndConflictNoticesWrittenAfterTheStart)
{
    append("2026/12/10 14:00:00 NOTICE: trash: moved Before/start.txt\n");
    const auto source = started();
    EXPECT_TRUE(source->readNewChanges().isEmpty()) << "lines already there are never reported";

    append("2026/12/10 14:00:01 NOTICE: trash: moved Work/a.txt\n"
           "2026/12/10 14:00:01 INFO  : Work/b.txt: Copied (new)\n"
           "2026/12/10 14:00:02 NOTICE: conflict: saved Work/a (Laptop).txt\n"
           "2026/12/10 14:00:02 NOTICE: trash: moved NOTICE: conflict: saved x\n"
           "2026/12/10 14:00:03 NOTICE: trash: moved \n"
           "2026/12/10 14:00:03 NOTICE: trash: moved Work/.corvane-refresh-6F1C\n"
           "2026/12/10 14:00:03 NOTICE: trash: moved a.txt.corvane-recovering\n"
           "2026/12/10 14:00:04 NOTICE: trash: moved Caf\xc3\xa9/\xff.txt\n"
           "2026/12/10 14:00:05 NOTICE: trash: moved Work/par");
    EXPECT_EQ(source->readNewChanges(),
              (QList<LocalChange>{LocalChange::changed(QStringLiteral("Work/a.txt")),
                                  LocalChange::conflictSaved(QStringLiteral("Work/a (Laptop).txt")),
                                  LocalChange::changed(QStringLiteral("NOTICE: conflict: saved x")),
                                  LocalChange::changed(QStringLiteral("Café/\uFFFD.txt"))}));
    EXPECT_TRUE(source->readNewChanges().isEmpty()) << "an unfinished line waits for its end";
    append("t.txt\n");
    EXPECT_EQ(source->readNewChanges(), QList<LocalChange>{LocalChange::changed(QStringLiteral("Work/part.txt"))});
}

TEST_F(LogTail, ARotatedLogIsReadFromItsStart)
{
    append(QByteArray(4096, 'x') + '\n');
    const auto source = started();
    append("2026/12/10 14:00:01 NOTICE: trash: moved One.txt\n2026/12/10 14:00:01 NOTICE: trash: moved Tw");
    EXPECT_EQ(source->readNewChanges(), QList<LocalChange>{LocalChange::changed(QStringLiteral("One.txt"))});

    // The engine moved the log aside and began a new, shorter one.
    ASSERT_TRUE(QFile::rename(log(), log() + QStringLiteral(".1")));
    append("2026/12/10 14:00:02 NOTICE: conflict: saved Two.txt\n");
    EXPECT_EQ(source->readNewChanges(), QList<LocalChange>{LocalChange::conflictSaved(QStringLiteral("Two.txt"))})
        << "the unfinished line of the old log is dropped";

    QFile::remove(log());
    EXPECT_TRUE(source->readNewChanges().isEmpty()) << "no log, nothing to read";
    append("2026/12/10 14:00:03 NOTICE: trash: moved Three.txt\n");
    EXPECT_EQ(source->readNewChanges(), QList<LocalChange>{LocalChange::changed(QStringLiteral("Three.txt"))});
}

TEST_F(LogTail, ReportsFromItsLoopUntilStopped)
{
    const auto source = RcloneLogChangeSource::make(log(), 20ms);
    QList<LocalChange> changes;
    source->start([&](const LocalChange &change) { changes.append(change); });
    append("2026/12/10 14:00:01 NOTICE: trash: moved Work/a.txt\n");
    ASSERT_TRUE(spinUntil([&] { return !changes.isEmpty(); }));
    EXPECT_EQ(changes, QList<LocalChange>{LocalChange::changed(QStringLiteral("Work/a.txt"))});

    source->stop();
    append("2026/12/10 14:00:02 NOTICE: trash: moved Work/b.txt\n");
    spinUntil([] { return false; }, 200ms);
    EXPECT_EQ(changes.size(), 1);

    // A new start reads from the log's size at that moment.
    source->start([&](const LocalChange &change) { changes.append(change); });
    append("2026/12/10 14:00:03 NOTICE: trash: moved Work/c.txt\n");
    ASSERT_TRUE(spinUntil([&] { return changes.size() == 2; }));
    EXPECT_EQ(changes.last(), LocalChange::changed(QStringLiteral("Work/c.txt")));
}

} // namespace
