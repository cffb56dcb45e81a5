#include "DriveCore/mount/FSKitMount.h"
#include "DriveCore/platform/MountTable.h"
#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/support/Tasks.h"
#include "support/FuseMount.h"
#include "support/LogCapture.h"
#include "support/ManualSleeps.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using TestSupport::failureOf;
using TestSupport::FuseMount;

namespace {

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

const QString failedText = QString::fromUtf8(FSKitMount::mountFailedText);

} // namespace

class FSKitMountTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("Backing")));
        ASSERT_TRUE(QDir(root.path()).mkpath(mountPoint));
        writeFile(root.filePath(QStringLiteral("Backing/notes \u00e9.txt")), "first");
    }

    // A stand-in for bindfs that notes its arguments and then runs `body`.
    FSKitMount::Setup fakeProgram(const QString &body)
    {
        return {.program = TestSupport::writeScript(root.filePath(QStringLiteral("fake-bindfs")),
                                                    QStringLiteral("printf '%s\\n' \"$@\" > '%1'\n").arg(calls) + body),
                .limit = 300ms};
    }

    QTemporaryDir root;
    const QString backing = root.filePath(QStringLiteral("Backing"));
    const QString mountPoint = root.filePath(QStringLiteral("Mounts/My Drive"));
    const QString calls = root.filePath(QStringLiteral("calls"));
    FuseMount guard{mountPoint};
};

TEST_F(FSKitMountTest, BuildsTheCommandLine)
{
    EXPECT_EQ(
        FSKitMount::mountArguments(backing, mountPoint, QStringLiteral("My Drive"), false),
        (QStringList{"-o", "subtype=ovra,attr_timeout=0,entry_timeout=0,big_writes,xattr-none", backing, mountPoint}));
    EXPECT_EQ(FSKitMount::mountArguments(backing, mountPoint, QStringLiteral("My Drive"), true),
              (QStringList{"-r", "-o", "subtype=ovra,attr_timeout=0,entry_timeout=0,big_writes,xattr-none", backing,
                           mountPoint}));
    EXPECT_EQ(failedText.toUtf8().size(), 177);
}

TEST_F(FSKitMountTest, RefusesNamesThatCannotBeUsedAndRunsNothing)
{
    const FSKitMount::Setup setup = fakeProgram(QStringLiteral("exit 0"));
    for (const QString &name : {QString(), QStringLiteral("a,b"), QStringLiteral("a=b")}) {
        const auto problem = failureOf<FSKitMount::Problem>(FSKitMount::mount(backing, mountPoint, name, false, setup));
        ASSERT_TRUE(problem) << name.toStdString();
        EXPECT_EQ(problem->description,
                  QStringLiteral("The drive name \u201c%1\u201d can't be used with the new drive engine.").arg(name));
    }
    EXPECT_FALSE(QFile::exists(calls));
}

TEST_F(FSKitMountTest, MountsTheLayerAndShowsChangesBelowItAtOnce)
{
    await(FSKitMount::mount(backing, mountPoint, QStringLiteral("My Drive"), false));
    EXPECT_EQ(MountTable::typesMountedAt(mountPoint), QStringList{"ovra"});
    EXPECT_TRUE(FSKitMount::isFSKitMounted(mountPoint));
    EXPECT_TRUE(FSKitMount::isDriveMounted(mountPoint));

    const QString through = mountPoint + QStringLiteral("/notes \u00e9.txt");
    EXPECT_EQ(readFile(through), "first");
    EXPECT_EQ(QFileInfo(through).size(), 5);
    // Changed below the layer: no cached size or contents may show.
    writeFile(backing + QStringLiteral("/notes \u00e9.txt"), "second version");
    EXPECT_EQ(QFileInfo(through).size(), 14);
    EXPECT_EQ(readFile(through), "second version");
    // Same size and the same modification time: only a page cache dropped at open shows it.
    const QByteArray below = QFile::encodeName(backing + QStringLiteral("/notes \u00e9.txt"));
    struct stat before{};
    ASSERT_EQ(::stat(below.constData(), &before), 0);
    writeFile(backing + QStringLiteral("/notes \u00e9.txt"), "SECOND VERSION");
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, below.constData(), times, 0), 0);
    EXPECT_EQ(readFile(through), "SECOND VERSION");
    writeFile(backing + QStringLiteral("/new.txt"), "n");
    EXPECT_TRUE(QFileInfo::exists(mountPoint + QStringLiteral("/new.txt")));
    QFile::remove(backing + QStringLiteral("/new.txt"));
    EXPECT_FALSE(QFileInfo::exists(mountPoint + QStringLiteral("/new.txt")));
}

TEST_F(FSKitMountTest, LargeWritesArriveWholeAndExtendedAttributesAreNotSupported)
{
    await(FSKitMount::mount(backing, mountPoint, QStringLiteral("My Drive"), false));

    // Larger than one piece the layer passes on, and not a multiple of one.
    QByteArray contents(3 * 1024 * 1024 + 4097, Qt::Uninitialized);
    for (qsizetype i = 0; i < contents.size(); ++i)
        contents[i] = char((i * 7919) >> 3);
    writeFile(mountPoint + QStringLiteral("/large.bin"), contents);
    EXPECT_EQ(readFile(backing + QStringLiteral("/large.bin")), contents);
    EXPECT_EQ(readFile(mountPoint + QStringLiteral("/large.bin")), contents);

    // Not supported rather than an I/O error, so copies that keep attributes where they can
    // (cp -a) go through.
    const QByteArray through = QFile::encodeName(mountPoint + QStringLiteral("/large.bin"));
    char value[16];
    EXPECT_EQ(::getxattr(through.constData(), "user.note", value, sizeof value), -1);
    EXPECT_EQ(errno, EOPNOTSUPP);
    EXPECT_EQ(::setxattr(through.constData(), "user.note", "v", 1, 0), -1);
    EXPECT_EQ(errno, EOPNOTSUPP);
    EXPECT_EQ(::listxattr(through.constData(), value, sizeof value), -1);
    EXPECT_EQ(errno, EOPNOTSUPP);
}

TEST_F(FSKitMountTest, MountsReadOnly)
{
    await(FSKitMount::mount(backing, mountPoint, QStringLiteral("My Drive"), true));
    const int fd =
        ::open(QFile::encodeName(mountPoint + QStringLiteral("/other.txt")).constData(), O_CREAT | O_WRONLY, 0644);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(errno, EROFS);
    if (fd >= 0)
        ::close(fd);
}

TEST_F(FSKitMountTest, AFailingCommandIsLoggedAndReportedWithTheFailureText)
{
    TestSupport::LogCapture log;
    const FSKitMount::Setup setup = fakeProgram(QStringLiteral("echo 'fuse: device not found' >&2; exit 3"));
    const auto problem = failureOf<FSKitMount::Problem>(
        FSKitMount::mount(backing, mountPoint, QStringLiteral("My Drive"), false, setup));
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->description, failedText);
    EXPECT_EQ(log.messages(QStringLiteral("fskit-mount")), QStringList{"mount -t ovra failed (status 3): <private>"});
    // The command got the layer's arguments and nothing else.
    EXPECT_EQ(readFile(calls),
              "-o\nsubtype=ovra,attr_timeout=0,entry_timeout=0,big_writes,xattr-none\n" + QFile::encodeName(backing)
                  + '\n' + QFile::encodeName(mountPoint) + '\n');
}

TEST_F(FSKitMountTest, ACommandThatSucceedsWithoutAMountFailsAfterTheLimit)
{
    QElapsedTimer timer;
    timer.start();
    const auto problem = failureOf<FSKitMount::Problem>(FSKitMount::mount(
        backing, mountPoint, QStringLiteral("My Drive"), false, fakeProgram(QStringLiteral("exit 0"))));
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->description, failedText);
    EXPECT_GE(timer.elapsed(), 300);

    FSKitMount::Setup missing;
    missing.program = root.filePath(QStringLiteral("no-bindfs"));
    EXPECT_TRUE(failureOf<ProcessRunner::LaunchError>(
        FSKitMount::mount(backing, mountPoint, QStringLiteral("My Drive"), false, missing)));
}

TEST_F(FSKitMountTest, WaitTestsBeforeTheDeadlineAndStopsWhenCancelled)
{
    int tests = 0;
    const auto count = [&](bool answer) {
        return [&tests, answer](const QString &) {
            ++tests;
            return answer;
        };
    };
    await(FSKitMount::waitForMount(mountPoint, 0ms, count(true)));
    EXPECT_EQ(tests, 1);
    tests = 0;
    EXPECT_EQ(failureOf<FSKitMount::Problem>(FSKitMount::waitForMount(mountPoint, 0ms, count(false))),
              FSKitMount::Problem(failedText));
    EXPECT_EQ(tests, 1);

    CancelSource cancel;
    cancel.request_stop();
    tests = 0;
    EXPECT_TRUE(failureOf<CancelledError>(FSKitMount::waitForMount(mountPoint, 5s, count(true), cancel.get_token())));
    EXPECT_EQ(tests, 0);
}

TEST(FSKitMount, DriveTypes)
{
    struct Case {
        QStringList types;
        bool mounted;
    };
    const std::vector<Case> cases{
        {{"ovra"}, true},    {{"OVRA"}, true},          {{"ext4", "rclone"}, true},
        {{"RCLONE"}, false}, // the engine's type is exact
        {{"nfs"}, false},    {{"ext4", "fuse"}, false}, {{}, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FSKitMount::isDriveMounted(c.types), c.mounted) << c.types.join(u',').toStdString();
}

TEST(FSKitMount, TheLayerIsEnabledWhenBindfsAndTheFuseDeviceCanBeUsed)
{
    EXPECT_TRUE(await(FSKitMount::extensionEnabled()));
    FSKitMount::Setup noProgram;
    noProgram.program = QStringLiteral("/nonexistent/bindfs");
    EXPECT_FALSE(await(FSKitMount::extensionEnabled(noProgram)));
    FSKitMount::Setup noDevice;
    noDevice.fuseDevice = QStringLiteral("/nonexistent/fuse");
    EXPECT_FALSE(await(FSKitMount::extensionEnabled(noDevice)));
}

TEST(FSKitMount, AnswerWithinALimit)
{
    TestSupport::ManualSleeps sleeps;
    const auto after = [&sleeps](std::chrono::milliseconds delay, bool value, bool *ended = nullptr) {
        return [&sleeps, delay, value, ended]() -> QCoro::Task<bool> {
            co_await sleeps.sleep()(delay, {});
            if (ended)
                *ended = true;
            co_return value;
        };
    };
    const auto start = [&](std::chrono::milliseconds limit, std::function<QCoro::Task<bool>()> body) {
        auto answer = std::make_shared<std::optional<bool>>();
        const auto keep = [](QCoro::Task<bool> task, std::shared_ptr<std::optional<bool>> into) -> QCoro::Task<> {
            into->emplace(co_await std::move(task));
        };
        {
            auto detached = keep(FSKitMount::answer(limit, std::move(body), sleeps.sleep()), answer);
        }
        return answer;
    };

    // An answer before the limit is the answer.
    auto early = start(1s, after(50ms, true));
    ASSERT_EQ(sleeps.waiting(50ms), 1);
    ASSERT_EQ(sleeps.waiting(1s), 1);
    sleeps.release(50ms);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return early->has_value(); }));
    EXPECT_TRUE(**early);
    sleeps.release(1s);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return sleeps.idle(); }));
    EXPECT_TRUE(**early) << "the limit running out afterwards changes nothing";

    // No answer in time is false; the late answer changes nothing, and the body runs on.
    bool bodyEnded = false;
    auto late = start(100ms, after(400ms, true, &bodyEnded));
    sleeps.release(100ms);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return late->has_value(); }));
    EXPECT_FALSE(**late);
    EXPECT_FALSE(bodyEnded);
    sleeps.release(400ms);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return bodyEnded; }));
    EXPECT_FALSE(**late);

    // A body that answers at once; a failing body answers false.
    EXPECT_TRUE(await(FSKitMount::answer(100ms, []() -> QCoro::Task<bool> { co_return true; }, sleeps.sleep())));
    EXPECT_FALSE(await(FSKitMount::answer(
        100ms,
        []() -> QCoro::Task<bool> {
            throw std::runtime_error("no");
            co_return true;
        },
        sleeps.sleep())));
    sleeps.releaseAll();
    EXPECT_TRUE(TestSupport::spinUntil([&] { return sleeps.idle(); }));
}
