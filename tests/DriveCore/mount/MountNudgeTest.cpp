#include "DriveCore/mount/MountNudge.h"
#include "DriveCore/mount/FSKitRefresh.h"
#include "support/FuseMount.h"
#include "support/LogCapture.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::FuseMount;
using TestSupport::LogCapture;

namespace {

// What happened directly in one folder, as the file manager's watch sees it.
class FolderEvents {
public:
    explicit FolderEvents(const QString &folder) : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        ::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_CREATE | IN_DELETE);
    }
    ~FolderEvents() { ::close(m_fd); }

    // "+name/" for a folder made, "-name/" for one removed.
    QStringList take()
    {
        QStringList events;
        alignas(inotify_event) char buffer[4096];
        ssize_t length;
        while ((length = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (char *at = buffer; at < buffer + length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(at);
                events << QString(event->mask & IN_CREATE ? u'+' : u'-') + QString::fromUtf8(event->name)
                        + (event->mask & IN_ISDIR ? QStringLiteral("/") : QString());
                at += sizeof(inotify_event) + event->len;
            }
        }
        return events;
    }

private:
    int m_fd;
};

// A nudge: one hidden folder made and removed at once.
void expectNudge(const QStringList &events)
{
    ASSERT_EQ(events.size(), 2) << events.join(u' ').toStdString();
    static const QRegularExpression name(
        QStringLiteral("^\\+\\.corvane-refresh-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}/$"));
    EXPECT_TRUE(name.match(events[0]).hasMatch()) << events[0].toStdString();
    EXPECT_EQ(events[1], u'-' + events[0].mid(1));
}

void makeFile(const QString &path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

} // namespace

class MountNudgeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QDir(mount).mkpath(QStringLiteral("Photos/2024"))); }

    // Nudges with the layer said to be there or not, noting the folders refreshed.
    void nudge(const QString &folder, bool fskit)
    {
        MountNudge::nudge(
            mount, folder, [fskit](const QString &) { return fskit; },
            [this](const QString &target) {
                refreshed << target;
                return 0;
            });
    }

    QTemporaryDir root;
    const QString mount = root.filePath(QStringLiteral("My Dr\u00efve"));
    QStringList refreshed;
};

TEST(MountNudge, NamesTheDrivesMachineryMakes)
{
    struct Case {
        const char *name;
        bool nudge;
        bool ignored;
    };
    const std::vector<Case> cases{
        {".corvane-refresh-1234", true, true},      {".corvane-recovering", false, true},
        {".corvane-recovering-a.txt", false, true}, {"a.txt.corvane-recovering", false, true},
        {"corvane-refresh-1234", false, false},     {".corvane-refres", false, false},
        {"a.corvane-recovering.txt", false, false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(MountNudge::isNudgeName(QString::fromUtf8(c.name)), c.nudge) << c.name;
        EXPECT_EQ(MountNudge::isIgnoredName(QString::fromUtf8(c.name)), c.ignored) << c.name;
    }
}

TEST_F(MountNudgeTest, NudgesTheNamedFolderHowEverItIsWritten)
{
    FolderEvents events(mount + QStringLiteral("/Photos/2024"));
    for (const QString &folder :
         {QStringLiteral("Photos/2024/"), QStringLiteral("/Photos/2024"), QStringLiteral("Photos//2024")}) {
        nudge(folder, false);
        expectNudge(events.take());
    }
    EXPECT_TRUE(refreshed.isEmpty());

    FolderEvents top(mount);
    nudge(QString(), true);
    expectNudge(top.take());
    EXPECT_EQ(refreshed, QStringList{mount}) << "under the layer the folder's files are refreshed too";
}

TEST_F(MountNudgeTest, DoesNothingOutsideTheDrive)
{
    LogCapture log;
    FolderEvents events(mount);
    nudge(QStringLiteral("Photos/../.."), true);
    nudge(QStringLiteral(".."), true);
    EXPECT_TRUE(events.take().isEmpty());
    EXPECT_TRUE(refreshed.isEmpty());
    EXPECT_TRUE(log.messages(QStringLiteral("mount-nudge")).isEmpty());

    makeFile(mount + QStringLiteral("/file.txt"));
    nudge(QStringLiteral("Missing"), true);
    nudge(QStringLiteral("file.txt"), true);
    EXPECT_TRUE(refreshed.isEmpty());
    EXPECT_EQ(log.messages(QStringLiteral("mount-nudge")),
              (QStringList{"Nothing to nudge: folder is not there", "Nothing to nudge: folder is not there"}));
}

TEST_F(MountNudgeTest, AFolderThatCannotBeMadeIsLoggedAndTheFilesAreStillRefreshed)
{
    const QString readOnly = root.filePath(QStringLiteral("read-only"));
    ASSERT_TRUE(QDir().mkdir(readOnly));
    FuseMount layer(readOnly);
    ASSERT_TRUE(layer.mountBindfs(mount, {"-r"})) << layer.output().toStdString();
    LogCapture log;
    MountNudge::nudge(
        readOnly, QStringLiteral("Photos"), [](const QString &) { return true; },
        [this](const QString &target) {
            refreshed << target;
            return 0;
        });
    EXPECT_EQ(log.messages(QStringLiteral("mount-nudge")), QStringList{"Could not nudge folder: <private>"});
    EXPECT_EQ(refreshed, QStringList{readOnly + QStringLiteral("/Photos")});
}

TEST_F(MountNudgeTest, NudgesThroughTheLayerInTheBackground)
{
    const QString visible = root.filePath(QStringLiteral("visible"));
    ASSERT_TRUE(QDir().mkdir(visible));
    FuseMount layer(visible);
    ASSERT_TRUE(layer.mountBindfs(mount)) << layer.output().toStdString();
    // The nudge passes through the layer into the folder below it.
    FolderEvents below(mount + QStringLiteral("/Photos"));
    await(MountNudge::background(visible, QStringLiteral("Photos")));
    expectNudge(below.take());
}

TEST_F(MountNudgeTest, ListsTopLevelFolders)
{
    for (const char *folder : {"b", "a", ".hidden", "A"})
        ASSERT_TRUE(QDir(mount).mkdir(QString::fromUtf8(folder)));
    makeFile(mount + QStringLiteral("/file.txt"));
    ASSERT_TRUE(QFile::link(mount + QStringLiteral("/a"), mount + QStringLiteral("/link")));
    ASSERT_TRUE(QFile::link(mount + QStringLiteral("/none"), mount + QStringLiteral("/broken")));

    const QStringList expected{"A", "Photos", "a", "b", "link"};
    EXPECT_EQ(MountNudge::topLevelFolders(mount), expected);
    EXPECT_EQ(await(MountNudge::backgroundTopFolders(mount)), expected);
    EXPECT_TRUE(MountNudge::topLevelFolders(root.filePath(QStringLiteral("missing"))).isEmpty());
}

class FSKitRefreshTest : public ::testing::Test {
protected:
    // Makes a file last modified at `modified`.
    QString file(const QString &name, const QByteArray &contents = "data")
    {
        const QString path = root.filePath(name);
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(contents);
        out.close();
        const timespec times[2] = {{modified, 0}, {modified, 0}};
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
        return path;
    }

    static FSKitRefresh::Clock::time_point at(qint64 seconds)
    {
        return FSKitRefresh::Clock::time_point(std::chrono::seconds(seconds));
    }

    QTemporaryDir root;
    const time_t modified = 1'700'000'000;
};

TEST_F(FSKitRefreshTest, RefreshesFilesLeftAloneForThirtySecondsWithoutChangingThem)
{
    const QString path = file(QStringLiteral("a.txt"));
    const QString empty = file(QStringLiteral("empty"), QByteArray());
    ASSERT_TRUE(QDir(root.path()).mkdir(QStringLiteral("folder")));
    ASSERT_TRUE(QFile::link(path, root.filePath(QStringLiteral("link"))));

    EXPECT_FALSE(FSKitRefresh::refresh(path, at(modified + 29)));
    EXPECT_TRUE(FSKitRefresh::refresh(path, at(modified + 30)));
    EXPECT_TRUE(FSKitRefresh::refresh(empty, at(modified + 30)));
    EXPECT_FALSE(FSKitRefresh::refresh(root.filePath(QStringLiteral("folder")), at(modified + 3600)));
    EXPECT_FALSE(FSKitRefresh::refresh(root.filePath(QStringLiteral("link")), at(modified + 3600)));
    EXPECT_FALSE(FSKitRefresh::refresh(root.filePath(QStringLiteral("missing")), at(modified + 3600)));

    // Nothing reaches the disk: not even the change time moves.
    struct stat before{};
    struct stat after{};
    ::stat(QFile::encodeName(path).constData(), &before);
    EXPECT_TRUE(FSKitRefresh::refresh(path, at(modified + 3600)));
    ::stat(QFile::encodeName(path).constData(), &after);
    EXPECT_EQ(after.st_ctim.tv_sec, before.st_ctim.tv_sec);
    EXPECT_EQ(after.st_ctim.tv_nsec, before.st_ctim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, modified);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_size, 4);
}

TEST_F(FSKitRefreshTest, WalksOneFolderSkippingTheDrivesOwnNames)
{
    for (const char *name : {"a.txt", ".hidden", ".corvane-refresh-1", ".corvane-recovering-b", "c.corvane-recovering"})
        file(QString::fromUtf8(name));
    ASSERT_TRUE(QDir(root.path()).mkdir(QStringLiteral("sub")));
    EXPECT_EQ(FSKitRefresh::refreshFiles(root.path(), at(modified + 60)), 2);
    EXPECT_EQ(FSKitRefresh::refreshFiles(root.path(), at(modified + 10)), 0);
    EXPECT_EQ(FSKitRefresh::refreshFiles(root.filePath(QStringLiteral("missing")), at(modified + 60)), 0);
}

TEST_F(FSKitRefreshTest, LeavesFoldersOfMoreThanTwoThousandItemsAlone)
{
    for (int i = 0; i < 2000; ++i)
        file(QStringLiteral("f%1").arg(i));
    EXPECT_EQ(FSKitRefresh::refreshFiles(root.path(), at(modified + 60)), 2000);

    LogCapture log;
    file(QStringLiteral("one more"));
    EXPECT_EQ(FSKitRefresh::refreshFiles(root.path(), at(modified + 60)), 0);
    EXPECT_EQ(log.messages(QStringLiteral("fskit-refresh")), QStringList{"Not refreshing a folder of 2001 items"});
}
