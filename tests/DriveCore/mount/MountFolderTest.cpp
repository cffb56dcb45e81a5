#include "DriveCore/mount/MountFolder.h"
#include "DriveCore/mount/FSKitMount.h"
#include "support/FuseMount.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::failureOf;
using TestSupport::FuseMount;

namespace {

void writeFile(const QString &path, const QByteArray &contents = "x")
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

std::optional<QString> problemOf(const QString &folder,
                                 const MountFolder::PathTest &isMountPoint = MountFolder::isMountPoint)
{
    try {
        MountFolder::check(folder, QStringLiteral("My Drive"), isMountPoint);
    } catch (const MountFolder::Problem &problem) {
        return problem.description;
    }
    return std::nullopt;
}

const QString inUse =
    QStringLiteral("My Drive's folder is already in use. Quit any other copy of the drive, then try again.");

QString strayFiles(const QString &folder)
{
    return QStringLiteral(
               "There are files in %1 that aren't in your drive yet. Move them somewhere else, then try again.")
        .arg(folder);
}

} // namespace

class MountFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("source/inner")));
        writeFile(root.filePath(QStringLiteral("source/file.txt")));
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("Mounts/My Dr\u00efve")));
    }

    QString path(const QString &relative) const { return root.filePath(relative); }

    QTemporaryDir root;
    const QString mountPoint = root.filePath(QStringLiteral("Mounts/My Dr\u00efve"));
    const QString source = root.filePath(QStringLiteral("source"));
};

TEST_F(MountFolderTest, ChecksWhatIsAtTheFolder)
{
    const auto notMounted = [](const QString &) { return false; };
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("empty")));
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("dsstore")));
    writeFile(path(QStringLiteral("dsstore/.DS_Store")));
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("hidden")));
    writeFile(path(QStringLiteral("hidden/.localized")));
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("folder/sub")));
    writeFile(path(QStringLiteral("plain")));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("nowhere")), path(QStringLiteral("dangling"))));

    struct Case {
        QString folder;
        std::optional<QString> problem;
    };
    const std::vector<Case> cases{
        {path(QStringLiteral("missing")), std::nullopt},
        {path(QStringLiteral("dangling")), std::nullopt},
        {path(QStringLiteral("empty")), std::nullopt},
        {path(QStringLiteral("dsstore")), std::nullopt},
        {path(QStringLiteral("hidden")), strayFiles(path(QStringLiteral("hidden")))},
        {path(QStringLiteral("folder")), strayFiles(path(QStringLiteral("folder")))},
        {path(QStringLiteral("plain")), strayFiles(path(QStringLiteral("plain")))},
    };
    for (const Case &c : cases)
        EXPECT_EQ(problemOf(c.folder, notMounted), c.problem) << c.folder.toStdString();

    // Whatever it holds, a folder something is mounted on is in use.
    for (const QString &folder : {path(QStringLiteral("missing")), path(QStringLiteral("hidden"))})
        EXPECT_EQ(problemOf(folder, [](const QString &) { return true; }), inUse);
}

TEST_F(MountFolderTest, TellsMountPoints)
{
    FuseMount mount(mountPoint);
    ASSERT_TRUE(mount.mountBindfs(source)) << mount.output().toStdString();
    ASSERT_TRUE(QFile::link(mountPoint, path(QStringLiteral("link"))));

    EXPECT_TRUE(MountFolder::isMountPoint(QStringLiteral("/")));
    EXPECT_TRUE(MountFolder::isMountPoint(mountPoint));
    EXPECT_TRUE(MountFolder::isMountPoint(mountPoint + QStringLiteral("/")));
    EXPECT_TRUE(MountFolder::isMountPoint(path(QStringLiteral("link"))));
    EXPECT_FALSE(MountFolder::isMountPoint(mountPoint + QStringLiteral("/inner")));
    EXPECT_FALSE(MountFolder::isMountPoint(source));
    EXPECT_FALSE(MountFolder::isMountPoint(path(QStringLiteral("missing"))));

    EXPECT_EQ(problemOf(mountPoint), inUse);
    EXPECT_EQ(problemOf(source), strayFiles(source));
}

TEST_F(MountFolderTest, AMountWhoseDaemonDiedIsInUse)
{
    FuseMount mount(mountPoint);
    ASSERT_TRUE(mount.mountBindfs(source)) << mount.output().toStdString();
    mount.killDaemon();
    ASSERT_FALSE(QFileInfo::exists(mountPoint + QStringLiteral("/file.txt")));

    EXPECT_TRUE(MountFolder::isMountPoint(mountPoint));
    EXPECT_EQ(problemOf(mountPoint), inUse);
    EXPECT_EQ(MountFolder::fileSystemTypes(mountPoint), QStringList{"ovra"});
}

TEST_F(MountFolderTest, RecognisesTheEnginesOwnMount)
{
    FuseMount engine(mountPoint);
    ASSERT_TRUE(engine.mountEngine(source)) << engine.output().toStdString();

    EXPECT_EQ(MountFolder::fileSystemTypes(mountPoint), QStringList{"rclone"});
    EXPECT_TRUE(MountFolder::isNFSMounted(mountPoint));
    EXPECT_FALSE(MountFolder::isNFSMounted(source));
    EXPECT_FALSE(FSKitMount::isFSKitMounted(mountPoint));
    EXPECT_TRUE(FSKitMount::isDriveMounted(mountPoint));
    await(MountFolder::waitForNFSMount(mountPoint, 0ms, MountFolder::isNFSMounted));

    // The layer over it, as the file-system engine stacks them.
    FuseMount layer(path(QStringLiteral("layer")));
    ASSERT_TRUE(QDir(root.path()).mkdir(QStringLiteral("layer")));
    ASSERT_TRUE(layer.mountBindfs(mountPoint)) << layer.output().toStdString();
    EXPECT_TRUE(FSKitMount::isFSKitMounted(path(QStringLiteral("layer"))));
    EXPECT_FALSE(MountFolder::isNFSMounted(path(QStringLiteral("layer"))));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("layer/file.txt"))));
}

TEST_F(MountFolderTest, WaitingForTheEnginesMountGivesUpOrIsCancelled)
{
    int tests = 0;
    const auto never = [&](const QString &) {
        ++tests;
        return false;
    };
    const auto problem = failureOf<MountFolder::Problem>(MountFolder::waitForNFSMount(mountPoint, 300ms, never));
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->description,
              QStringLiteral("The drive didn't appear in the file manager. Try reconnecting it."));
    EXPECT_EQ(problem->description.size(), 65);
    EXPECT_GE(tests, 2);
    EXPECT_LE(tests, 3);

    int calls = 0;
    const auto thirdTime = [&](const QString &) { return ++calls == 3; };
    await(MountFolder::waitForNFSMount(mountPoint, 5s, thirdTime));
    EXPECT_EQ(calls, 3);

    CancelSource cancel;
    QTimer::singleShot(50ms, [&] { cancel.request_stop(); });
    EXPECT_TRUE(failureOf<CancelledError>(MountFolder::waitForNFSMount(mountPoint, 5s, never, cancel.get_token())));
}
