// The rescue against real mounts: a bindfs layer, as the file-system layer shows the drive,
// and the upstream engine's own FUSE mount of a local folder.
#include "DriveCore/mount/CacheRecovery.h"
#include "DriveCore/support/Tasks.h"

#include "CacheFixture.h"
#include "support/FuseMount.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

using namespace DriveCore;
namespace fs = std::filesystem;
using CacheFixture::contents;
using CacheFixture::Names;
using CacheFixture::tree;

namespace {

QString qpath(const fs::path &path)
{
    return QString::fromStdString(path.string());
}

// A drive in a temporary folder: a backing folder shown at a mount point by a real FUSE mount.
struct Drive {
    explicit Drive(bool engine = false, const QString &type = QStringLiteral("ovra"))
    {
        fs::create_directories(backing());
        fs::create_directories(mount());
        const bool mounted = engine
            ? fuse.mountEngine(qpath(backing()))
            : fuse.mountBindfs(qpath(backing()), {QStringLiteral("-o"), QStringLiteral("subtype=") + type});
        EXPECT_TRUE(mounted) << fuse.output().toStdString();
    }

    fs::path root() const { return dir.path().toStdString(); }
    fs::path backing() const { return root() / "backing"; }
    fs::path mount() const { return root() / "mount"; }

    QTemporaryDir dir;
    TestSupport::FuseMount fuse{qpath(mount())};
};

// Runs the driver as the app runs it, with the active folder "drivecrypt" and the real mount
// check; pauses are cut short.
std::optional<CacheRecovery::Outcome> rescueInto(const CacheFixture::Cache &cache, const fs::path &mount,
                                                 const CacheRecovery::Copier &copier = CacheRecovery::fileCopier,
                                                 CancelToken token = {}, int attempts = 3)
{
    const CacheRecovery::ActiveName activeName = [](CancelToken) -> QCoro::Task<std::optional<std::string>> {
        co_return std::string("drivecrypt");
    };
    const Sleep pause = [](std::chrono::milliseconds, CancelToken cancel) {
        return DriveCore::sleep(std::chrono::milliseconds(1), std::move(cancel));
    };
    return TestSupport::await(
        CacheRecovery::recoverWhenMounted(cache.dir(), CacheRecovery::folders(cache.dir()), {}, qpath(mount), attempts,
                                          activeName, CacheRecovery::isDriveMounted, copier, pause, std::move(token)));
}

} // namespace

TEST(CacheRecoveryMount, RescuedFilesLandInTheLayerUnderFreeNames)
{
    const Drive drive;
    const CacheFixture::Cache cache;
    cache.pending("drivecrypt", "Reports/active.txt", "the engine's own");
    cache.pending("drivecrypt{old}", "Reports/q3.pdf", "rescued q3");
    cache.pending("drivecrypt{old}", "Photos/2024/new.jpg", "jpeg");
    fs::create_directories(drive.mount() / "Reports");
    std::ofstream(drive.mount() / "Reports/q3.pdf") << "q3 in the drive";

    const auto outcome = rescueInto(cache, drive.mount());

    EXPECT_EQ(outcome,
              (CacheRecovery::Outcome{
                  {"Photos/2024/new.jpg", "Reports/q3 (recovered).pdf"}, {"drivecrypt{old}"}, {}, false}));
    // What the layer shows is what its backing folder holds: nothing else, nothing written over.
    EXPECT_EQ(tree(drive.backing()),
              (Names{"Photos", "Photos/2024", "Photos/2024/new.jpg", "Reports", "Reports/q3 (recovered).pdf",
                     "Reports/q3.pdf"}));
    EXPECT_EQ(contents(drive.backing() / "Reports/q3.pdf"), "q3 in the drive");
    EXPECT_EQ(contents(drive.backing() / "Reports/q3 (recovered).pdf"), "rescued q3");
    EXPECT_EQ(contents(drive.backing() / "Photos/2024/new.jpg"), "jpeg");
    EXPECT_EQ(CacheRecovery::folders(cache.dir()), std::set<std::string>{"drivecrypt"});
}

TEST(CacheRecoveryMount, AStopInTheMiddleLeavesTheOldFolderAndNoHalfCopies)
{
    const Drive drive;
    const CacheFixture::Cache cache;
    const std::string big(3 << 20, 'x');
    cache.pending("drivecrypt{old}", "1.bin", big);
    cache.pending("drivecrypt{old}", "2.bin", big);
    cache.pending("drivecrypt{old}", "3.bin", big);

    // The stop arrives while the first copy runs; that copy finishes, nothing after it starts.
    CancelSource stop;
    const auto copyThenStop = [&](const fs::path &source, const fs::path &target) {
        stop.request_stop();
        CacheRecovery::fileCopier(source, target);
    };
    auto outcome = rescueInto(cache, drive.mount(), copyThenStop, stop.get_token());

    EXPECT_EQ(outcome, (CacheRecovery::Outcome{{"1.bin"}, {}, {}, true}));
    EXPECT_EQ(tree(drive.backing()), Names{"1.bin"});
    EXPECT_EQ(contents(drive.backing() / "1.bin"), big);
    EXPECT_EQ(tree(cache.root() / "vfsMeta/drivecrypt{old}/Drive"), (Names{"2.bin", "3.bin"}));
    EXPECT_EQ(tree(cache.root() / "vfs/drivecrypt{old}/Drive"), (Names{"2.bin", "3.bin"}));

    // The next start takes the rest.
    outcome = rescueInto(cache, drive.mount());
    EXPECT_EQ(outcome, (CacheRecovery::Outcome{{"2.bin", "3.bin"}, {"drivecrypt{old}"}, {}, false}));
    EXPECT_EQ(tree(drive.backing()), (Names{"1.bin", "2.bin", "3.bin"}));
}

// The layer is ejected between the copy and the check: the hidden copy, already in the drive,
// is removed from the drive (not looked for in the bare folder left behind), so it is never
// uploaded.
TEST(CacheRecoveryMount, TheDriveGoingAwayStopsTheRescueKeepsTheCacheAndLeavesNoCopy)
{
    Drive drive;
    const CacheFixture::Cache cache;
    cache.pending("drivecrypt{old}", "Reports/1.txt", "one");
    cache.pending("drivecrypt{old}", "Reports/2.txt", "two");

    const auto copyThenEject = [&](const fs::path &source, const fs::path &target) {
        CacheRecovery::fileCopier(source, target);
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), qpath(drive.mount())});
    };
    const auto outcome = rescueInto(cache, drive.mount(), copyThenEject);

    EXPECT_EQ(outcome, (CacheRecovery::Outcome{{}, {}, {}, true}));
    EXPECT_EQ(tree(cache.root() / "vfsMeta/drivecrypt{old}/Drive"),
              (Names{"Reports", "Reports/1.txt", "Reports/2.txt"}));
    EXPECT_EQ(tree(cache.root() / "vfs/drivecrypt{old}/Drive"), (Names{"Reports", "Reports/1.txt", "Reports/2.txt"}));
    EXPECT_TRUE(tree(drive.mount()).empty());
    EXPECT_EQ(tree(drive.backing()), Names{"Reports"});
}

TEST(CacheRecoveryMount, RescuedFilesLandInTheEnginesOwnMountUnderFreeNames)
{
    // The engine's mount refuses both the exclusive rename and hard links, so the name is
    // tested before a plain rename.
    const Drive drive(true);
    const CacheFixture::Cache cache;
    cache.pending("drivecrypt{old}", "notes.txt", "rescued notes");
    std::ofstream(drive.mount() / "notes.txt") << "notes in the drive";

    const auto outcome = rescueInto(cache, drive.mount());

    EXPECT_EQ(outcome, (CacheRecovery::Outcome{{"notes (recovered).txt"}, {"drivecrypt{old}"}, {}, false}));
    EXPECT_EQ(tree(drive.mount()), (Names{"notes (recovered).txt", "notes.txt"}));
    EXPECT_EQ(contents(drive.mount() / "notes.txt"), "notes in the drive");
    EXPECT_EQ(contents(drive.mount() / "notes (recovered).txt"), "rescued notes");
}

TEST(CacheRecoveryMount, TheDriveCountsAsMountedUnderEitherEngine)
{
    const QTemporaryDir plain;
    EXPECT_FALSE(CacheRecovery::isDriveMounted(plain.path()));
    EXPECT_FALSE(CacheRecovery::isDriveMounted(plain.path() + QStringLiteral("/missing")));
    struct Case {
        bool engine;
        QString type;
        bool mounted;
    };
    const std::vector<Case> cases = {
        {true, {}, true},
        {false, QStringLiteral("ovra"), true},
        {false, QStringLiteral("OVRA"), true},
        {false, QStringLiteral("other"), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.engine ? "engine" : c.type.toStdString());
        const Drive drive(c.engine, c.type);
        EXPECT_EQ(CacheRecovery::isDriveMounted(qpath(drive.mount())), c.mounted);
        EXPECT_FALSE(CacheRecovery::isDriveMounted(qpath(drive.mount() / "sub")));
    }
}

TEST(CacheRecoveryMount, AVolumeOfAnotherKindIsNoDrive)
{
    const TestSupport::LogCapture log;
    const Drive drive(false, QStringLiteral("other"));
    const CacheFixture::Cache cache;
    cache.pending("drivecrypt{old}", "a.txt", "a");

    EXPECT_EQ(rescueInto(cache, drive.mount(), CacheRecovery::fileCopier, {}, 60), std::nullopt);
    EXPECT_EQ(log.messages(QStringLiteral("cache-recovery")),
              QStringList{QStringLiteral("Drive did not come up; old cache folders left for next time")});
    EXPECT_TRUE(tree(drive.backing()).empty());
    EXPECT_EQ(CacheRecovery::folders(cache.dir()), std::set<std::string>{"drivecrypt{old}"});
}
