#include "DriveCore/platform/MountTable.h"
#include "DriveCore/platform/MountTableWatch.h"
#include "support/FuseMount.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace DriveCore;
using TestSupport::FuseMount;

TEST(MountTable, ParsesTheKernelsLines)
{
    const QByteArray text = "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                            "46 28 0:41 / /tmp/a\\040b/mnt\\011\\134x\\303\\251 rw,nosuid shared:12 master:3 - "
                            "fuse.ovra ovra rw,user_id=0\n"
                            "47 46 0:42 /sub /home/u/Mounts/Drive rw - fuse.rclone drivecrypt:Drive rw\n"
                            "48 28 0:43 / /run/user rw - fuse none rw\n"
                            "49 28 0:44 / /empty\\040source rw - tmpfs  rw\n"
                            "broken line\n"
                            "50 28 x:1 / /bad-device rw - ext4 /dev/x rw\n"
                            "51 28 0:45 / /no-separator rw ext4 /dev/x rw\n"
                            "\n";
    const std::vector<MountEntry> entries = MountTable::parse(text);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0], (MountEntry{28, 1, makedev(254, 0), "/", "/", "ext4", "/dev/vda"}));
    // Octal escapes of the kernel (space, tab, backslash), and UTF-8 names as they are.
    EXPECT_EQ(entries[1].mountPoint, QStringLiteral("/tmp/a b/mnt\t\\x\u00e9"));
    EXPECT_EQ(entries[1].type, QStringLiteral("ovra"));
    EXPECT_EQ(entries[1].device, makedev(0, 41));
    EXPECT_EQ(entries[2].type, QStringLiteral("rclone"));
    EXPECT_EQ(entries[2].root, QStringLiteral("/sub"));
    EXPECT_EQ(entries[2].source, QStringLiteral("drivecrypt:Drive"));
    EXPECT_EQ(entries[3].type, QStringLiteral("fuse")) << "a FUSE mount without subtype keeps its type";
    EXPECT_EQ(entries[4].mountPoint, QStringLiteral("/empty source"));
    EXPECT_EQ(entries[4].source, QString());
}

TEST(MountTable, DecodesEscapesStrictly)
{
    struct Case {
        QByteArray field;
        QString decoded;
    };
    const std::vector<Case> cases{
        {"a\\040b", "a b"},
        {"\\134040", "\\040"}, // an escaped backslash is not the start of another escape
        {"end\\04", "end\\04"}, // too short to be an escape
        {"x\\09y", "x\\09y"}, // 9 is not octal
        {"\\303\\251t\\303\\251", "\u00e9t\u00e9"},
        {"\\377", "\ufffd"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(MountTable::decodeField(c.field), c.decoded) << c.field.constData();
}

class MountTableMounts : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("source/inner")));
        ASSERT_TRUE(QDir(root.path()).mkpath(mountPoint));
    }

    QTemporaryDir root;
    // A space and a name beyond ASCII: the kernel escapes the one and not the other.
    const QString mountPoint = root.filePath(QStringLiteral("My Dr\u00efve"));
    const QString source = root.filePath(QStringLiteral("source"));
};

TEST_F(MountTableMounts, FindsARealMountByItsExactPath)
{
    FuseMount mount(mountPoint);
    ASSERT_TRUE(mount.mountBindfs(source)) << mount.output().toStdString();
    EXPECT_EQ(MountTable::typesMountedAt(mountPoint), QStringList{"ovra"});
    EXPECT_EQ(MountTable::typesMountedAt(mountPoint + QStringLiteral("/")), QStringList{"ovra"});
    EXPECT_EQ(MountTable::typesMountedAt(mountPoint + QStringLiteral("/../My Dr\u00efve/.")), QStringList{"ovra"});
    EXPECT_TRUE(MountTable::typesMountedAt(mountPoint + QStringLiteral("/inner")).isEmpty());
    EXPECT_TRUE(MountTable::typesMountedAt(root.path()).isEmpty());
    EXPECT_TRUE(MountTable::isListedMountPoint(mountPoint));
    EXPECT_FALSE(MountTable::isListedMountPoint(source));

    // The file system a path lies on, by its device.
    EXPECT_EQ(MountTable::typeOfFileSystem(mountPoint + QStringLiteral("/inner")), QStringLiteral("ovra"));
    EXPECT_NE(MountTable::typeOfFileSystem(source), QStringLiteral("ovra"));
    EXPECT_EQ(MountTable::typeOfFileSystem(root.filePath(QStringLiteral("missing"))), std::nullopt);
}

TEST_F(MountTableMounts, ListsStackedMountsInOrderAndFindsThemThroughALinkedParent)
{
    // bindfs (libfuse 2) refuses a mount point that shows anything: the lower mount shows an
    // empty folder.
    ASSERT_TRUE(QDir(root.path()).mkdir(QStringLiteral("empty")));
    FuseMount lower(mountPoint);
    ASSERT_TRUE(lower.mountBindfs(root.filePath(QStringLiteral("empty")), {"-o", "subtype=lower"}))
        << lower.output().toStdString();
    FuseMount upper(mountPoint);
    ASSERT_TRUE(QFile::link(root.path(), root.filePath(QStringLiteral("link"))));
    const QString throughLink = root.filePath(QStringLiteral("link/My Dr\u00efve"));
    ASSERT_TRUE(upper.mountBindfs(source, {"-o", "subtype=ovra"})) << upper.output().toStdString();
    EXPECT_EQ(MountTable::typesMountedAt(mountPoint), (QStringList{"lower", "ovra"}));
    EXPECT_EQ(MountTable::typesMountedAt(throughLink), (QStringList{"lower", "ovra"}));
}

// On a desktop the volume monitor and the indexer stat every new mount as it appears, which
// fills the kernel's cache of its attributes. The stats below do the same, under a cache time
// long enough that the dead daemon's answers are still cached when the check runs.
TEST_F(MountTableMounts, AMountWhoseDaemonDiedStaysListedButCannotBeStatedEvenWhenADesktopStatedIt)
{
    FuseMount mount(mountPoint);
    ASSERT_TRUE(mount.mountBindfs(source, {"-o", "subtype=ovra,attr_timeout=600,entry_timeout=600"}))
        << mount.output().toStdString();
    const QStringList paths{mountPoint, mountPoint + QStringLiteral("/inner")};
    for (const QString &path : paths) {
        struct stat status{};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0) << path.toStdString();
    }
    mount.killDaemon();
    EXPECT_EQ(MountTable::typesMountedAt(mountPoint), QStringList{"ovra"});
    for (const QString &path : paths) {
        EXPECT_EQ(MountTable::typeOfFileSystem(path), std::nullopt) << path.toStdString();
        EXPECT_EQ(MountTable::statAfresh(path).error, ENOTCONN) << path.toStdString();
    }
}

TEST_F(MountTableMounts, WatchReportsAnUnmount)
{
    FuseMount mount(mountPoint);
    ASSERT_TRUE(mount.mountBindfs(source)) << mount.output().toStdString();
    MountTableWatch watch;
    ASSERT_TRUE(watch.isWatching());
    int unmounted = 0;
    QObject::connect(&watch, &MountTableWatch::unmounted, [&] { ++unmounted; });

    mount.unmount();
    EXPECT_TRUE(TestSupport::spinUntil([&] { return unmounted > 0; }));
}
