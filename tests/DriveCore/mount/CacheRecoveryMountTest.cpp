// The rescue against real mounts: a bindfs layer, as the file-system layer shows the drive,
// and the upstream engine's own FUSE mount of a local folder.
#include "DriveCore/mount/CacheRecovery.h"
#include "DriveCore/support/Tasks.h"

#include "CacheFixture.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace DriveCore;
namespace fs = std::filesystem;
using CacheFixture::contents;
using CacheFixture::Names;
using CacheFixture::tree;

namespace {

// Whether another file system is mounted at the folder.
bool mountedByDevice(const fs::path &folder)
{
    struct stat info {};
    struct stat parent {};
    return ::stat(folder.c_str(), &info) == 0 && ::stat(folder.parent_path().c_str(), &parent) == 0
        && info.st_dev != parent.st_dev;
}

QString qpath(const fs::path &path)
{
    return QString::fromStdString(path.string());
}

void unmount(const fs::path &folder)
{
    if (!mountedByDevice(folder))
        return;
    if (QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), qpath(folder)}) != 0)
        QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), qpath(folder)});
}

// A bindfs layer over a temporary backing folder, showing the file-system type `type`;
// unmounted when the test ends, however it ends.
class BindfsDrive {
public:
    explicit BindfsDrive(const QString &type = QStringLiteral("ovra"))
    {
        fs::create_directories(backing());
        fs::create_directories(mount());
        const int status = QProcess::execute(QStringLiteral("bindfs"),
                                             {QStringLiteral("-o"), QStringLiteral("subtype=") + type, qpath(backing()),
                                              qpath(mount())});
        EXPECT_EQ(status, 0) << "bindfs could not mount";
        EXPECT_TRUE(TestSupport::spinUntil([&] { return mountedByDevice(mount()); }));
    }
    ~BindfsDrive() { unmount(mount()); }

    fs::path backing() const { return root() / "backing"; }
    fs::path mount() const { return root() / "mount"; }

private:
    fs::path root() const { return m_dir.path().toStdString(); }

    QTemporaryDir m_dir;
};

// The upstream engine's FUSE mount of a local folder.
class EngineDrive {
public:
    EngineDrive()
    {
        fs::create_directories(backing());
        fs::create_directories(mount());
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
        environment.insert(QStringLiteral("HOME"), m_dir.path());
        m_engine.setProcessEnvironment(environment);
        m_engine.setProcessChannelMode(QProcess::ForwardedChannels);
        m_engine.start(QStringLiteral("rclone"),
                       {QStringLiteral("mount"), qpath(backing()), qpath(mount()), QStringLiteral("--config"),
                        QStringLiteral("/dev/null"), QStringLiteral("--cache-dir"), qpath(root() / "cache"),
                        QStringLiteral("--vfs-cache-mode"), QStringLiteral("writes")});
        EXPECT_TRUE(m_engine.waitForStarted());
        EXPECT_TRUE(TestSupport::spinUntil([&] { return mountedByDevice(mount()); }));
    }
    ~EngineDrive()
    {
        unmount(mount());
        m_engine.terminate();
        if (!m_engine.waitForFinished(10000))
            m_engine.kill();
        m_engine.waitForFinished();
    }

    fs::path backing() const { return root() / "backing"; }
    fs::path mount() const { return root() / "mount"; }

private:
    fs::path root() const { return m_dir.path().toStdString(); }

    QTemporaryDir m_dir;
    QProcess m_engine;
};

// Runs the driver as the app runs it, with the active folder "drivecrypt".
std::optional<CacheRecovery::Outcome> rescueInto(const CacheFixture::Cache &cache, const fs::path &mount,
                                                 const CacheRecovery::Copier &copier = CacheRecovery::fileCopier,
                                                 CancelToken token = {})
{
    const CacheRecovery::ActiveName activeName = [](CancelToken) -> QCoro::Task<std::optional<std::string>> {
        co_return std::string("drivecrypt");
    };
    const CacheRecovery::Sleep pause = [](std::chrono::milliseconds duration, CancelToken cancel) {
        return DriveCore::sleep(duration, std::move(cancel));
    };
    return TestSupport::await(CacheRecovery::recoverWhenMounted(cache.root(), CacheRecovery::folders(cache.root()),
                                                                mount, 3, activeName, mountedByDevice, copier, pause,
                                                                std::move(token)));
}

} // namespace

TEST(CacheRecoveryMount, RescuedFilesLandInTheLayerUnderFreeNames)
{
    const BindfsDrive drive;
    const CacheFixture::Cache cache;
    cache.pending("drivecrypt", "Reports/active.txt", "the engine's own");
    cache.pending("drivecrypt{old}", "Reports/q3.pdf", "rescued q3");
    cache.pending("drivecrypt{old}", "Photos/2024/new.jpg", "jpeg");
    fs::create_directories(drive.mount() / "Reports");
    std::ofstream(drive.mount() / "Reports/q3.pdf") << "q3 in the drive";

    const auto outcome = rescueInto(cache, drive.mount());

    EXPECT_EQ(outcome, (CacheRecovery::Outcome{{"Photos/2024/new.jpg", "Reports/q3 (recovered).pdf"}, {"drivecrypt{old}"}, {}, false}));
    // What the layer shows is what its backing folder holds: nothing else, nothing written over.
    EXPECT_EQ(tree(drive.backing()), (Names{"Photos", "Photos/2024", "Photos/2024/new.jpg", "Reports",
                                            "Reports/q3 (recovered).pdf", "Reports/q3.pdf"}));
    EXPECT_EQ(contents(drive.backing() / "Reports/q3.pdf"), "q3 in the drive");
    EXPECT_EQ(contents(drive.backing() / "Reports/q3 (recovered).pdf"), "rescued q3");
    EXPECT_EQ(contents(drive.backing() / "Photos/2024/new.jpg"), "jpeg");
    EXPECT_EQ(CacheRecovery::folders(cache.root()), std::set<std::string>{"drivecrypt"});
}

TEST(CacheRecoveryMount, AStopInTheMiddleLeavesTheOldFolderAndNoHalfCopies)
{
    const BindfsDrive drive;
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

TEST(CacheRecoveryMount, TheDriveGoingAwayStopsTheRescueAndKeepsTheCache)
{
    BindfsDrive drive;
    const CacheFixture::Cache cache;
    cache.pending("drivecrypt{old}", "1.txt", "one");
    cache.pending("drivecrypt{old}", "2.txt", "two");

    const auto copyThenEject = [&](const fs::path &source, const fs::path &target) {
        CacheRecovery::fileCopier(source, target);
        unmount(drive.mount());
    };
    const auto outcome = rescueInto(cache, drive.mount(), copyThenEject);

    EXPECT_EQ(outcome, (CacheRecovery::Outcome{{}, {}, {}, true}));
    EXPECT_EQ(tree(cache.root() / "vfsMeta/drivecrypt{old}/Drive"), (Names{"1.txt", "2.txt"}));
    EXPECT_EQ(tree(cache.root() / "vfs/drivecrypt{old}/Drive"), (Names{"1.txt", "2.txt"}));
    EXPECT_TRUE(tree(drive.mount()).empty());
}

TEST(CacheRecoveryMount, RescuedFilesLandInTheEnginesOwnMountUnderFreeNames)
{
    // The engine's mount refuses both the exclusive rename and hard links, so the name is
    // tested before a plain rename.
    const EngineDrive drive;
    const CacheFixture::Cache cache;
    cache.pending("drivecrypt{old}", "notes.txt", "rescued notes");
    std::ofstream(drive.mount() / "notes.txt") << "notes in the drive";

    const auto outcome = rescueInto(cache, drive.mount());

    EXPECT_EQ(outcome, (CacheRecovery::Outcome{{"notes (recovered).txt"}, {"drivecrypt{old}"}, {}, false}));
    EXPECT_EQ(tree(drive.mount()), (Names{"notes (recovered).txt", "notes.txt"}));
    EXPECT_EQ(contents(drive.mount() / "notes.txt"), "notes in the drive");
    EXPECT_EQ(contents(drive.mount() / "notes (recovered).txt"), "rescued notes");
}
