#include "DriveCore/mount/ChangeSync.h"

#include "support/ManualSleeps.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sys/stat.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::ManualSleeps;
using TestSupport::spinUntil;

namespace {

QCoro::Task<> done()
{
    co_return;
}

// Waits until opened; open() lets every waiter through, now and later.
class Gate {
public:
    QCoro::Task<> pass()
    {
        if (m_open)
            co_return;
        co_await qCoro(&m_waker, &detail::Waker::fired);
    }
    void open()
    {
        m_open = true;
        m_waker.fire();
    }
    void close() { m_open = false; }

private:
    bool m_open = true;
    detail::Waker m_waker;
};

// The bucket's note folder, shared by the machines of a test. Every note written gets a new
// version, as the engine's modification times would give it.
struct FakeBucket {
    QTemporaryDir folder;
    int versions = 0;
    QString notePath() const { return folder.filePath(QStringLiteral("changes.json")); }
    void write(const QByteArray &json)
    {
        QFile file(notePath());
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(json);
        ++versions;
    }
    ChangeMarker note() const
    {
        QFile file(notePath());
        file.open(QIODevice::ReadOnly);
        return ChangeMarker::decode(file.readAll());
    }
};

// One machine's engine over the shared bucket: "meta" is the note folder, other file systems
// are local folders. It records what it was asked and fails or holds operations on request.
class FakeRemote : public ChangeSyncRemote {
public:
    explicit FakeRemote(std::shared_ptr<FakeBucket> bucket) : m_bucket(std::move(bucket)) {}

    QCoro::Task<std::optional<ListItem>> stat(QString fs, QString remote, CancelToken) override
    {
        fail("stat");
        const QFileInfo info(path(fs, remote));
        if (!info.isFile())
            return ready(std::optional<ListItem>());
        return ready(std::optional<ListItem>(
            ListItem{remote, info.fileName(), info.size(), QStringLiteral("v%1").arg(m_bucket->versions), false}));
    }

    // Copies at once; the answer (or the injected failure) waits for the gate.
    QCoro::Task<> copy(QString srcFs, QString srcRemote, QString dstFs, QString dstRemote, CancelToken) override
    {
        const bool upload = dstFs == meta;
        if (upload)
            ++uploads;
        else
            downloadFolders.append(dstFs);
        const bool failing = takeFailure(upload ? "upload" : "download");
        if (!failing) {
            QFile source(path(srcFs, srcRemote));
            source.open(QIODevice::ReadOnly);
            const QByteArray bytes = source.readAll();
            if (upload) {
                m_bucket->write(bytes);
            } else {
                QFile target(path(dstFs, dstRemote));
                target.open(QIODevice::WriteOnly | QIODevice::Truncate);
                target.write(bytes);
            }
        }
        co_await (upload ? uploadGate : downloadGate).pass();
        if (failing)
            throw RCError(QStringLiteral("operations/copyfile"), 500, QStringLiteral("injected"));
    }

    QCoro::Task<> forgetDirs(QStringList dirs, CancelToken) override
    {
        fail("forgetDirs");
        forgottenDirs.append(dirs);
        return done();
    }

    QCoro::Task<> forgetFiles(QStringList files, CancelToken) override
    {
        fail("forgetFiles");
        forgottenFiles.append(files);
        return done();
    }

    void failNext(const std::string &operation, int times = 1) { m_failures[operation] += times; }

    static inline const QString meta = QStringLiteral("drivecrypt:.corvane");
    int uploads = 0;
    QStringList downloadFolders;
    QList<QStringList> forgottenDirs;
    QList<QStringList> forgottenFiles;
    Gate uploadGate;
    Gate downloadGate;

private:
    template<typename T>
    static QCoro::Task<T> ready(T value)
    {
        co_return value;
    }
    bool takeFailure(const std::string &operation)
    {
        if (m_failures[operation] == 0)
            return false;
        --m_failures[operation];
        return true;
    }
    void fail(const std::string &operation)
    {
        if (takeFailure(operation))
            throw RCError(QString::fromStdString(operation), 500, QStringLiteral("injected"));
    }
    QString path(const QString &fs, const QString &remote) const
    {
        return (fs == meta ? m_bucket->folder.path() : fs) + u'/' + remote;
    }

    std::shared_ptr<FakeBucket> m_bucket;
    std::map<std::string, int> m_failures;
};

// A change source the test speaks through.
class FakeSource : public LocalChangeSource {
public:
    void start(OnChange onChange) override { m_onChange = std::move(onChange); }
    void stop() override { m_onChange = nullptr; }
    void watchFolders(const QStringList &dirs, Walk walk) override { watched.append({dirs, walk}); }
    bool running() const { return bool(m_onChange); }
    void report(const LocalChange &change) { m_onChange(change); }

    QList<std::pair<QStringList, Walk>> watched;

private:
    OnChange m_onChange;
};

const QDateTime noon(QDate(2026, 12, 9), QTime(12, 0, 0), Qt::UTC);

// One machine: its engine, its change source, what it nudged, and its change sync.
struct Machine {
    Machine(std::shared_ptr<FakeBucket> bucket, QDateTime &clock, ManualSleeps &sleeps)
        : remote(std::make_shared<FakeRemote>(std::move(bucket))), source(std::make_shared<FakeSource>())
    {
        ChangeSync::Options options;
        options.remote = remote;
        options.deviceID = deviceID;
        options.metaFs = FakeRemote::meta;
        options.sources = {source};
        options.now = [&clock] { return clock; };
        options.sleep = sleeps.sleep();
        options.mountPath = QStringLiteral("/mnt/drive");
        options.nudge = [this](const QString &mount, const QString &folder) {
            EXPECT_EQ(mount, QStringLiteral("/mnt/drive"));
            nudged.append(folder);
            return done();
        };
        options.topFolders = [](const QString &) -> QCoro::Task<QStringList> {
            co_return QStringList{QStringLiteral("Docs"), QStringLiteral("Photos")};
        };
        sync = ChangeSync::make(std::move(options));
        sync->onRefreshed([this] { ++refreshed; });
        sync->onConflictSaved([this](const QString &path) { conflicts.append(path); });
    }

    QUuid deviceID = QUuid::createUuid();
    std::shared_ptr<FakeRemote> remote;
    std::shared_ptr<FakeSource> source;
    QStringList nudged;
    QStringList conflicts;
    int refreshed = 0;
    std::shared_ptr<ChangeSync> sync;
};

class ChangeSyncTest : public ::testing::Test {
protected:
    // Ends the quiet period and waits for the note it writes.
    void publish(Machine &machine)
    {
        const int before = machine.remote->uploads;
        ASSERT_EQ(sleeps.waiting(5s), 1) << "a quiet period runs";
        sleeps.release(5s);
        ASSERT_TRUE(spinUntil([&] { return machine.remote->uploads > before && sleeps.waiting(5s) == 0; }));
    }
    // Runs the next tick of a started machine's poll loop.
    void nextPoll() { sleeps.release(30s); }

    QDateTime clock = noon;
    ManualSleeps sleeps;
    std::shared_ptr<FakeBucket> bucket = std::make_shared<FakeBucket>();
    std::optional<Machine> a{std::in_place, bucket, clock, sleeps};
    std::optional<Machine> b{std::in_place, bucket, clock, sleeps};

    void TearDown() override
    {
        a.reset();
        b.reset();
        // Cancelled sleeps end on the event loop.
        spinUntil([&] { return sleeps.idle(); });
    }
};

TEST(ChangeMarker, EncodesSortedKeysWholeSecondsAndEscapedSlashes)
{
    const QUuid id = QUuid::fromString(QStringLiteral("0c3f5d2a-1b2c-4d5e-8f90-a1b2c3d4e5f6"));
    const ChangeMarker marker{id, noon.addMSecs(26'789), {QStringLiteral("Work/2024"), QString()}};
    EXPECT_EQ(
        marker.encoded(),
        R"({"deviceID":"0C3F5D2A-1B2C-4D5E-8F90-A1B2C3D4E5F6","dirs":["Work\/2024",""],"time":"2026-12-09T12:00:26Z"})");
    const ChangeMarker read = ChangeMarker::decode(marker.encoded());
    EXPECT_EQ(read, (ChangeMarker{id, noon.addSecs(26), marker.dirs}));
}

TEST(ChangeMarker, DecodesOnlyTheNotesOwnForm)
{
    const QByteArray id = "\"deviceID\":\"0c3f5d2a-1b2c-4d5e-8f90-a1b2c3d4e5f6\"";
    const struct {
        QByteArray json;
        bool decodes;
    } cases[] = {
        {"{" + id + R"(,"dirs":["Work\/2024"],"time":"2026-12-09T09:20:26Z"})", true},
        {"{" + id + R"(,"dirs":["Work/2024"],"time":"2026-12-09T09:20:26Z","extra":1})", true},
        {"{" + id + R"(,"dirs":[],"time":"2026-12-09T09:20:26.5Z"})", false},
        {"{" + id + R"(,"dirs":[],"time":"2026-12-09T09:20:26+01:00"})", false},
        {"{" + id + R"(,"dirs":[],"time":"2026-12-09T09:20:26"})", false},
        {"{" + id + R"(,"dirs":[],"time":"2026-13-09T09:20:26Z"})", false},
        {"{" + id + R"(,"time":"2026-12-09T09:20:26Z"})", false},
        {"{" + id + R"(,"dirs":"Work","time":"2026-12-09T09:20:26Z"})", false},
        {"{" + id + R"(,"dirs":[7],"time":"2026-12-09T09:20:26Z"})", false},
        {R"({"deviceID":"Mac","dirs":[],"time":"2026-12-09T09:20:26Z"})", false},
        {R"([])", false},
        {R"({"deviceID":)", false},
    };
    for (const auto &[json, decodes] : cases) {
        bool decoded = true;
        try {
            const ChangeMarker marker = ChangeMarker::decode(json);
            if (!marker.dirs.isEmpty())
                EXPECT_EQ(marker.dirs, QStringList{QStringLiteral("Work/2024")});
        } catch (const JsonDecodingError &) {
            decoded = false;
        }
        EXPECT_EQ(decoded, decodes) << json.toStdString();
    }
}

TEST(ChangeSync, ParentOfADriveRelativePath)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("a/b/c.txt"), QStringLiteral("a/b")},
        {QStringLiteral("/a/b/"), QStringLiteral("a")},
        {QStringLiteral("a//b"), QStringLiteral("a")},
        {QStringLiteral("c.txt"), QString()},
        {QStringLiteral("/"), QString()},
        {QString(), QString()},
    };
    for (const auto &[path, parent] : cases)
        EXPECT_EQ(ChangeSync::parent(path), parent) << path.toStdString();
}

TEST_F(ChangeSyncTest, PublishesTheChangedFoldersNewestFirstInOneNoteAfterTheQuietPeriod)
{
    a->sync->noteLocalChange({});
    EXPECT_EQ(sleeps.waiting(5s), 0) << "nothing noted, nothing scheduled";

    a->sync->noteLocalChange({QStringLiteral("a/b/"), QStringLiteral("/x")});
    a->sync->noteLocalChange({QStringLiteral("a/b")});
    a->sync->start();
    a->source->report(LocalChange::changed(QStringLiteral("Work/report.txt")));
    a->source->report(LocalChange::changed(QStringLiteral("top.txt")));
    a->source->report(LocalChange::folder(QStringLiteral("Photos/")));
    EXPECT_EQ(sleeps.waiting(5s), 1) << "changes join the running quiet period";
    EXPECT_EQ(a->remote->uploads, 0);

    clock = noon.addMSecs(5'400);
    publish(*a);
    const ChangeMarker note = bucket->note();
    EXPECT_EQ(note.deviceID, a->deviceID);
    EXPECT_EQ(note.time, noon.addSecs(5));
    EXPECT_EQ(note.dirs,
              (QStringList{QStringLiteral("Photos"), QString(), QStringLiteral("Work"), QStringLiteral("a/b"),
                           QStringLiteral("x")}));
    EXPECT_EQ(a->remote->uploads, 1);
}

TEST_F(ChangeSyncTest, AChangeWhileANoteIsWrittenOpensTheNextQuietPeriod)
{
    a->sync->noteLocalChange({QStringLiteral("one")});
    a->remote->uploadGate.close();
    sleeps.release(5s);
    ASSERT_TRUE(spinUntil([&] { return a->remote->uploads == 1; }));

    a->sync->noteLocalChange({QStringLiteral("two")});
    EXPECT_EQ(sleeps.waiting(5s), 1);
    a->remote->uploadGate.open();
    EXPECT_EQ(bucket->note().dirs, QStringList{QStringLiteral("one")});
    publish(*a);
    EXPECT_EQ(bucket->note().dirs, (QStringList{QStringLiteral("two"), QStringLiteral("one")}));
}

TEST_F(ChangeSyncTest, MoreThanFiftyFoldersMakeTheEverythingForm)
{
    QStringList fifty;
    for (int i = 0; i < 50; ++i)
        fifty.append(QStringLiteral("f%1").arg(i));
    a->sync->noteLocalChange(fifty);
    publish(*a);
    EXPECT_EQ(bucket->note().dirs.size(), 50);

    a->sync->noteLocalChange(fifty);
    a->sync->noteLocalChange({QStringLiteral("f50")});
    a->sync->noteLocalChange({QStringLiteral("dropped")});
    publish(*a);
    EXPECT_EQ(bucket->note().dirs, QStringList()) << "51 folders: everything changed";

    a->sync->noteLocalChange({QStringLiteral("after")});
    publish(*a);
    EXPECT_EQ(bucket->note().dirs, QStringList{QStringLiteral("after")});
}

TEST_F(ChangeSyncTest, AppliesAnotherMachinesNoteOnceAndNeverItsOwn)
{
    a->sync->noteLocalChange({QStringLiteral("Work/2024"), QString()});
    a->sync->start();
    publish(*a);
    nextPoll();
    ASSERT_TRUE(spinUntil([&] { return sleeps.waiting(30s) == 1; }));
    EXPECT_TRUE(a->remote->forgottenDirs.isEmpty());
    EXPECT_TRUE(a->nudged.isEmpty());
    EXPECT_EQ(a->refreshed, 0);

    EXPECT_TRUE(await(b->sync->pollOnce()));
    EXPECT_EQ(b->remote->forgottenDirs, QList<QStringList>{{QStringLiteral("Work/2024")}});
    EXPECT_EQ(b->remote->forgottenFiles, QList<QStringList>{{QStringLiteral(".corvane-refresh")}});
    EXPECT_EQ(b->nudged, (QStringList{QString(), QStringLiteral("Work/2024"), QStringLiteral("Work")}));
    EXPECT_EQ(b->refreshed, 1);
    using Walk = LocalChangeSource::Walk;
    EXPECT_EQ(b->source->watched,
              (QList<std::pair<QStringList, Walk>>{{{QString(), QStringLiteral("Work/2024")}, Walk::newFolders}}))
        << "the other machine's folders are watched with the new ones below them";
    EXPECT_TRUE(a->source->watched.isEmpty());

    EXPECT_FALSE(await(b->sync->pollOnce()));
    EXPECT_EQ(b->refreshed, 1);
    EXPECT_EQ(b->remote->forgottenDirs.size(), 1);
}

TEST_F(ChangeSyncTest, AnEverythingNoteRefreshesTheWholeDriveAndPostponesTheFullRefresh)
{
    b->sync->start();
    ASSERT_TRUE(spinUntil([&] { return sleeps.waiting(30s) == 1; }));
    EXPECT_TRUE(b->remote->forgottenDirs.isEmpty()) << "no note yet, no full refresh due";

    clock = noon.addSecs(300);
    bucket->write(ChangeMarker{a->deviceID, clock, {}}.encoded());
    nextPoll();
    ASSERT_TRUE(spinUntil([&] { return b->refreshed == 1; }));
    EXPECT_EQ(b->remote->forgottenDirs, QList<QStringList>{QStringList()});
    EXPECT_EQ(b->nudged, (QStringList{QString(), QStringLiteral("Docs"), QStringLiteral("Photos")}));
    using Walk = LocalChangeSource::Walk;
    EXPECT_EQ(b->source->watched, (QList<std::pair<QStringList, Walk>>{{{QString()}, Walk::everyFolder}}))
        << "new folders may lie anywhere";

    clock = noon.addSecs(600);
    nextPoll();
    ASSERT_TRUE(spinUntil([&] { return sleeps.waiting(30s) == 1; }));
    EXPECT_EQ(b->remote->forgottenDirs.size(), 1) << "the note's refresh counts as the full one";

    clock = noon.addSecs(900);
    nextPoll();
    ASSERT_TRUE(spinUntil([&] { return b->remote->forgottenDirs.size() == 2; }));
    EXPECT_EQ(b->remote->forgottenDirs.last(), QStringList());
    ASSERT_TRUE(spinUntil([&] { return b->nudged.size() == 4; }));
    EXPECT_EQ(b->nudged.last(), QString()) << "a full refresh nudges the top level only";
    EXPECT_EQ(b->refreshed, 1);
    ASSERT_TRUE(spinUntil([&] { return b->source->watched.size() == 2; }));
    EXPECT_EQ(b->source->watched.last(), (std::pair<QStringList, Walk>{{QString()}, Walk::newFolders}));
}

TEST_F(ChangeSyncTest, RecentFoldersStayInNotesForTwoPolls)
{
    a->sync->noteLocalChange({QStringLiteral("A")});
    publish(*a);
    clock = noon.addSecs(40);
    a->sync->noteLocalChange({QStringLiteral("B")});
    publish(*a);
    EXPECT_EQ(bucket->note().dirs, (QStringList{QStringLiteral("B"), QStringLiteral("A")}));
    clock = noon.addSecs(70);
    a->sync->noteLocalChange({QStringLiteral("C")});
    publish(*a);
    EXPECT_EQ(bucket->note().dirs, (QStringList{QStringLiteral("C"), QStringLiteral("B")}));

    // Another machine's folders are carried the same way, counted from that note's time.
    clock = noon.addSecs(80);
    bucket->write(ChangeMarker{b->deviceID, noon.addSecs(75), {QStringLiteral("Theirs")}}.encoded());
    a->sync->noteLocalChange({QStringLiteral("D")});
    publish(*a);
    EXPECT_EQ(bucket->note().dirs, (QStringList{QStringLiteral("D"), QStringLiteral("Theirs")}));
}

TEST_F(ChangeSyncTest, FailedWritesAreRetriedByTheNextPoll)
{
    a->sync->start();
    a->source->report(LocalChange::conflictSaved(QStringLiteral("/Work/a (Laptop).txt")));
    EXPECT_EQ(a->conflicts, QStringList{QStringLiteral("/Work/a (Laptop).txt")});
    a->remote->failNext("forgetFiles");
    a->remote->failNext("upload");
    sleeps.release(5s);
    ASSERT_TRUE(spinUntil([&] { return a->remote->uploads == 1 && sleeps.waiting(5s) == 0; }));
    EXPECT_EQ(bucket->versions, 0);
    EXPECT_TRUE(a->remote->forgottenFiles.isEmpty());
    EXPECT_EQ(sleeps.waiting(5s), 0) << "a failure schedules nothing";

    nextPoll();
    ASSERT_TRUE(spinUntil([&] { return bucket->versions == 1; }));
    EXPECT_EQ(bucket->note().dirs, QStringList{QStringLiteral("Work")});
    EXPECT_EQ(a->remote->forgottenFiles, QList<QStringList>{{QStringLiteral("Work/a (Laptop).txt")}});
    EXPECT_EQ(a->nudged, QStringList{QStringLiteral("Work")});

    // Folders noted while a failing note was written join the ones put back; past fifty
    // that is the everything form.
    QStringList fifty;
    for (int i = 0; i < 50; ++i)
        fifty.append(QStringLiteral("f%1").arg(i));
    a->sync->noteLocalChange(fifty);
    a->remote->failNext("upload");
    a->remote->uploadGate.close();
    sleeps.release(5s);
    ASSERT_TRUE(spinUntil([&] { return a->remote->uploads == 3; }));
    a->sync->noteLocalChange({QStringLiteral("late")});
    a->remote->uploadGate.open();
    publish(*a);
    EXPECT_EQ(bucket->versions, 2);
    EXPECT_EQ(bucket->note().dirs, QStringList());
}

TEST_F(ChangeSyncTest, StopDropsTheQuietPeriodAndStopAndFlushWritesAtOnce)
{
    a->sync->start();
    EXPECT_TRUE(a->source->running());
    a->sync->noteLocalChange({QStringLiteral("Work")});
    a->sync->stop();
    EXPECT_FALSE(a->source->running());
    ASSERT_TRUE(spinUntil([&] { return sleeps.waiting(5s) == 0 && sleeps.waiting(30s) == 0; }));
    EXPECT_EQ(a->remote->uploads, 0);

    await(a->sync->stopAndFlush({}));
    EXPECT_EQ(bucket->note().dirs, QStringList{QStringLiteral("Work")});
}

TEST_F(ChangeSyncTest, ANoteWithFractionalSecondsFailsEveryPollUntilReplaced)
{
    bucket->write(R"({"deviceID":")" + a->deviceID.toString(QUuid::WithoutBraces).toUtf8()
                  + R"(","dirs":["Work"],"time":"2026-12-09T09:20:26.5Z"})");
    EXPECT_THROW(await(b->sync->pollOnce()), JsonDecodingError);
    EXPECT_THROW(await(b->sync->pollOnce()), JsonDecodingError);
    EXPECT_TRUE(b->remote->forgottenDirs.isEmpty());

    bucket->write(ChangeMarker{a->deviceID, noon, {QStringLiteral("Work")}}.encoded());
    EXPECT_TRUE(await(b->sync->pollOnce()));
    EXPECT_EQ(b->remote->forgottenDirs, QList<QStringList>{{QStringLiteral("Work")}});
}

// Two reads of the note in flight at once, the first finishing first, must not take each
// other's file away.
TEST_F(ChangeSyncTest, OverlappingDownloadsEachReadTheirOwnCopyInAPrivateFolder)
{
    bucket->write(ChangeMarker{a->deviceID, noon, {QStringLiteral("Work")}}.encoded());
    b->remote->downloadGate.close();
    QCoro::Task<bool> first = b->sync->pollOnce();
    QCoro::Task<bool> second = b->sync->pollOnce();
    ASSERT_EQ(b->remote->downloadFolders.size(), 2);
    b->remote->downloadGate.open();
    EXPECT_TRUE(await(std::move(first)));
    EXPECT_TRUE(await(std::move(second)));

    const QString folder = b->remote->downloadFolders.first();
    EXPECT_EQ(b->remote->downloadFolders.last(), folder);
    EXPECT_TRUE(QFileInfo(folder).fileName().startsWith(u"CorvaneDrive-changes-"));
    struct stat info{};
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        << "downloads are removed";

    b->sync.reset();
    EXPECT_FALSE(QFileInfo::exists(folder));
}

} // namespace
