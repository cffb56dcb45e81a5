#include "DriveCore/platform/ProcessListing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace DriveCore;

TEST(ProcessListing, SplitsCommandLines)
{
    struct Case {
        QByteArray commandLine;
        QStringList arguments;
    };
    const std::vector<Case> cases{
        {QByteArray("rclone\0nfsmount\0--cache-dir\0/a b\0", 32), {"rclone", "nfsmount", "--cache-dir", "/a b"}},
        {QByteArray("a\0\0b\0", 5), {"a", "", "b"}},
        {QByteArray("a\0cut", 5), {"a", "cut"}},
        {QByteArray("caf\xc3\xa9\0\xff\0", 8), {"caf\u00e9", "\ufffd"}},
        {QByteArray(), {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ProcessListing::arguments(c.commandLine), c.arguments) << c.commandLine.toHex().constData();
}

TEST(ProcessListing, ReadsStatAndStatusFiles)
{
    const QByteArray status = "Name:\tx\nUid:\t1000\t0\t0\t0\n";
    const struct {
        const char *name;
        QByteArray stat;
        QByteArray status;
        std::optional<ProcessStatus> read;
    } cases[] = {
        {"plain", "7 (rclone) S 1 7 7 0 -1\n", status, ProcessStatus{7, 1, 1000, 'S', QStringLiteral("rclone")}},
        {"a name with a space and parentheses", "7 (a) (b c) Z 3 7\n", status,
         ProcessStatus{7, 3, 1000, 'Z', QStringLiteral("a) (b c")}},
        {"no parentheses", "7 rclone S 1\n", status, std::nullopt},
        {"closed before opened", "7 )x( S 1\n", status, std::nullopt},
        {"no parent", "7 (x) S\n", status, std::nullopt},
        {"a state of two letters", "7 (x) SS 1\n", status, std::nullopt},
        {"no Uid line", "7 (x) S 1\n", "Name:\tx\n", std::nullopt},
        {"an empty Uid line", "7 (x) S 1\n", "Uid:\n", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ProcessListing::parseStatus(7, c.stat, c.status), c.read) << c.name;
}

TEST(ProcessListing, DescribesThisProcess)
{
    const pid_t self = ::getpid();
    const std::vector<pid_t> all = ProcessListing::all();
    EXPECT_NE(std::find(all.begin(), all.end(), self), all.end());

    const auto status = ProcessListing::status(self);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->parent, ::getppid());
    EXPECT_EQ(status->uid, ::getuid());
    EXPECT_EQ(status->name, QStringLiteral("ProcessListingT")) << "the kernel keeps 15 bytes of the name";
    EXPECT_TRUE(ProcessListing::executable(self)->endsWith(QStringLiteral("/ProcessListingTest")));
    EXPECT_TRUE(ProcessListing::arguments(self).first().endsWith(QStringLiteral("ProcessListingTest")));

    const std::vector<pid_t> ancestors = ProcessListing::ancestorsOfSelf();
    ASSERT_FALSE(ancestors.empty());
    EXPECT_EQ(ancestors.front(), ::getppid());
    EXPECT_EQ(ancestors.back(), 1);
}

TEST(ProcessListing, AnEndedChildCountsAsEndedBeforeItIsReaped)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    // Not reaped yet: kill(pid, 0) still reaches it, but it has ended.
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, id_t(child), &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(ProcessListing::status(child)->state, 'Z');
    EXPECT_TRUE(ProcessListing::hasEnded(child));
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(ProcessListing::hasEnded(child));
    EXPECT_FALSE(ProcessListing::status(child));
    EXPECT_FALSE(ProcessListing::executable(child));
    EXPECT_TRUE(ProcessListing::arguments(child).isEmpty());

    EXPECT_FALSE(ProcessListing::hasEnded(::getpid()));
}

// A held process: ended once it exits, and keeping its id (signals still reach it, as a
// zombie) only until it is reaped; from then on nothing is sent through the handle.
TEST(ProcessHandle, HoldsOneProcessUntilItIsReaped)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        char go = 0;
        [[maybe_unused]] const auto got = ::read(ready[0], &go, 1);
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    auto handle = ProcessHandle::open(child);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->pid(), child);
    EXPECT_FALSE(handle->hasEnded());
    EXPECT_TRUE(handle->holdsItsID());

    // Moved, it is still the same hold.
    ProcessHandle moved = std::move(*handle);
    EXPECT_EQ(moved.pid(), child);
    ASSERT_EQ(::write(ready[1], "x", 1), 1);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, id_t(child), &info, WEXITED | WNOWAIT), 0);
    EXPECT_TRUE(moved.hasEnded());
    EXPECT_TRUE(moved.holdsItsID());
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(moved.hasEnded());
    EXPECT_FALSE(moved.holdsItsID());
    EXPECT_FALSE(moved.signal(SIGTERM));
    EXPECT_FALSE(ProcessHandle::open(child));
    ::close(ready[0]);
    ::close(ready[1]);
}
