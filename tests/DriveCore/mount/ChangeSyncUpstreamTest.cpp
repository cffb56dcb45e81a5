#include "DriveCore/mount/ChangeSync.h"

#include "support/S3Server.h"
#include "support/TestSupport.h"
#include "support/UpstreamEngine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::UpstreamEngine;

namespace {

QCoro::Task<> done()
{
    co_return;
}

// Runs the event loop until `holds` is true, testing it every 100 ms; false after `limit`.
bool eventually(const std::function<bool()> &holds, std::chrono::milliseconds limit = 60s)
{
    QElapsedTimer timer;
    timer.start();
    while (!holds()) {
        if (timer.elapsed() > limit.count())
            return false;
        TestSupport::spinUntil([] { return false; }, 100ms);
    }
    return true;
}

QStringList listing(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

// One machine: its engine, mounted over FUSE, and its change sync with the production sources.
struct Machine {
    Machine(const TestSupport::S3Server &server, const QString &name)
        : engine(
              server,
              {.settings = {.driveName = QStringLiteral("Drive"), .deviceID = QUuid::createUuid(), .deviceName = name},
               // Upstream names no destination for its uploads, so only the file
               // events carry a change: the upload must land before that note.
               .extraArguments = {QStringLiteral("--vfs-write-back"), QStringLiteral("1s")}})
    {
    }

    void startSync()
    {
        sync = ChangeSync::make(
            engine.client(), engine.settings().deviceID, engine.mountPoint(), QStringLiteral("drivecrypt:.corvane"), 1s,
            600s, engine.logFile(),
            [this](const QString &, const QString &folder) {
                nudged.append(folder);
                return done();
            },
            [](const QString &) -> QCoro::Task<QStringList> { co_return QStringList(); });
        sync->onRefreshed([this] { ++refreshed; });
        sync->start();
    }

    QString path(const QString &relative) const { return engine.mountPoint() + u'/' + relative; }
    bool uploaded(const QString &name)
    {
        const QList<Transferred> list = QCoro::waitFor(engine.client().transferred());
        return std::any_of(list.begin(), list.end(),
                           [&](const Transferred &record) { return record.name == name && record.error.isEmpty(); });
    }

    UpstreamEngine engine;
    std::shared_ptr<ChangeSync> sync;
    QStringList nudged;
    int refreshed = 0;
};

class TwoMachines : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start()) << server.output().toStdString();
        a = std::make_unique<Machine>(server, QStringLiteral("Laptop"));
        b = std::make_unique<Machine>(server, QStringLiteral("Desktop"));
        ASSERT_TRUE(a->engine.start()) << a->engine.output().toStdString();
        ASSERT_TRUE(b->engine.start()) << b->engine.output().toStdString();
    }
    void TearDown() override
    {
        if (a && a->sync)
            a->sync->stop();
        if (b && b->sync)
            b->sync->stop();
        a.reset();
        b.reset();
    }

    // A's file events are watched from a thread of their own, ready a moment after the start:
    // A writes at the top level until B lists it. A note for the top level refreshes it.
    void startBothSyncs()
    {
        a->startSync();
        b->startSync();
        bool ready = false;
        for (int attempt = 0; attempt < 5 && !ready; ++attempt) {
            write(a->path(QStringLiteral("ready.txt")), "ready\n");
            ready = eventually([&] { return listing(b->path(QString())).contains(QStringLiteral("ready.txt")); }, 15s);
        }
        ASSERT_TRUE(ready) << a->engine.output().toStdString();
    }

    TestSupport::S3Server server;
    std::unique_ptr<Machine> a;
    std::unique_ptr<Machine> b;
};

TEST_F(TwoMachines, AnotherMachinesNewFileDeletionAndFolderRenameAppearThroughTheChangeNote)
{
    // Without change sync, B's folder cache hides what A adds for its whole cache time.
    // (s3rver lists a folder only when a file lies directly in it, hence Work's own file.)
    ASSERT_TRUE(QDir().mkpath(a->path(QStringLiteral("Work/Sub"))));
    write(a->path(QStringLiteral("Work/intro.txt")), "intro\n");
    write(a->path(QStringLiteral("Work/Sub/s.txt")), "sub\n");
    ASSERT_TRUE(eventually([&] { return a->uploaded(QStringLiteral("Work/Sub/s.txt")); }));
    ASSERT_TRUE(eventually([&] { return a->uploaded(QStringLiteral("Work/intro.txt")); }));
    // B reads the drive afresh (forgetting a top-level file re-reads the top level).
    const QString mountFs = QString::fromLatin1(RCClient::mountFs);
    await(b->engine.client().forgetDirs({}, mountFs));
    await(b->engine.client().forgetFiles({QStringLiteral(".corvane-refresh")}, mountFs));
    EXPECT_EQ(listing(b->path(QString())), QStringList{QStringLiteral("Work")});
    EXPECT_EQ(listing(b->path(QStringLiteral("Work"))),
              (QStringList{QStringLiteral("Sub"), QStringLiteral("intro.txt")}));
    EXPECT_EQ(listing(b->path(QStringLiteral("Work/Sub"))), QStringList{QStringLiteral("s.txt")});

    // Upstream's finished uploads name no destination, so the uploads source finds none.
    const auto uploads = CompletedUploadsChangeSource::make(a->engine.client(), QStringLiteral("drivecrypt:Drive"), 1h);
    await(uploads->prime());
    write(a->path(QStringLiteral("Work/before.txt")), "before\n");
    ASSERT_TRUE(eventually([&] { return a->uploaded(QStringLiteral("Work/before.txt")); }));
    EXPECT_TRUE(await(uploads->readNewChanges()).isEmpty());
    EXPECT_EQ(listing(b->path(QStringLiteral("Work"))),
              (QStringList{QStringLiteral("Sub"), QStringLiteral("intro.txt")}))
        << "B's cache is stale";

    startBothSyncs();
    if (HasFatalFailure())
        return;

    // A new file.
    QElapsedTimer seen;
    seen.start();
    write(a->path(QStringLiteral("Work/new.txt")), "new\n");
    ASSERT_TRUE(eventually([&] {
        return listing(b->path(QStringLiteral("Work"))).contains(QStringLiteral("new.txt"));
    })) << a->engine.output().toStdString();
    const qint64 millis = seen.elapsed();
    RecordProperty("newFileSeenAfterMs", int(millis));
    std::cout << "[ measure  ] B listed A's new file " << millis << " ms after A wrote it\n";
    EXPECT_EQ(listing(b->path(QStringLiteral("Work"))),
              (QStringList{QStringLiteral("Sub"), QStringLiteral("before.txt"), QStringLiteral("intro.txt"),
                           QStringLiteral("new.txt")}));
    {
        QFile copy(b->path(QStringLiteral("Work/new.txt")));
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), "new\n");
    }
    // B lists the file as soon as its engine forgot the folder; the nudge and the count come
    // after the refresh's last call.
    EXPECT_TRUE(eventually([&] { return b->refreshed >= 2; }));
    EXPECT_TRUE(b->nudged.contains(QStringLiteral("Work")));
    EXPECT_EQ(a->refreshed, 0) << "A never applies its own note";

    // A deletion.
    ASSERT_TRUE(QFile::remove(a->path(QStringLiteral("Work/new.txt"))));
    ASSERT_TRUE(eventually([&] {
        return !listing(b->path(QStringLiteral("Work"))).contains(QStringLiteral("new.txt"));
    })) << b->engine.output().toStdString();

    // A folder renamed.
    ASSERT_TRUE(QDir(a->path(QStringLiteral("Work"))).rename(QStringLiteral("Sub"), QStringLiteral("Renamed")));
    ASSERT_TRUE(eventually([&] {
        return listing(b->path(QStringLiteral("Work")))
            == QStringList{QStringLiteral("Renamed"), QStringLiteral("before.txt"), QStringLiteral("intro.txt")};
    })) << b->engine.output().toStdString();
    EXPECT_EQ(listing(b->path(QStringLiteral("Work/Renamed"))), QStringList{QStringLiteral("s.txt")});
}

TEST_F(TwoMachines, AFileWrittenIntoAFolderTheOtherMachineMadeReachesThatMachine)
{
    startBothSyncs();
    if (HasFatalFailure())
        return;

    // B's folder appears here only through A's note: no event of B's own ever showed it.
    ASSERT_TRUE(QDir().mkpath(a->path(QStringLiteral("FromA/Inner"))));
    write(a->path(QStringLiteral("FromA/a.txt")), "a\n");
    write(a->path(QStringLiteral("FromA/Inner/i.txt")), "i\n");
    ASSERT_TRUE(eventually([&] {
        return listing(b->path(QStringLiteral("FromA"))).contains(QStringLiteral("a.txt"))
            && listing(b->path(QStringLiteral("FromA/Inner"))).contains(QStringLiteral("i.txt"));
    })) << b->engine.output().toStdString();

    // B watches the folders a moment after its refresh: it writes until A lists a file. A's
    // folder cache outlives the test, so only B's note can show the file there.
    for (const QString &folder : {QStringLiteral("FromA"), QStringLiteral("FromA/Inner")}) {
        QString name;
        bool seen = false;
        for (int attempt = 0; attempt < 4 && !seen; ++attempt) {
            name = QStringLiteral("from-b-%1.txt").arg(attempt);
            write(b->path(folder + u'/' + name), "b\n");
            seen = eventually([&] { return listing(a->path(folder)).contains(name); }, 20s);
        }
        ASSERT_TRUE(seen) << folder.toStdString() << " never reached A\n" << b->engine.output().toStdString();
        QFile copy(a->path(folder + u'/' + name));
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), "b\n");
    }
}

} // namespace
