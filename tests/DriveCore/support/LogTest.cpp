#include "DriveCore/support/Log.h"

#include <gtest/gtest.h>

#include <vector>

using namespace DriveCore;

namespace {

QString format(const char *f, std::vector<LogArg> args, bool showPrivate = false)
{
    return formatLogMessage(f, args, showPrivate);
}

} // namespace

TEST(Log, PrivacyOfArguments)
{
    struct Case {
        const char *format;
        std::vector<LogArg> args;
        bool showPrivate;
        const char *expected;
    };
    const std::vector<Case> cases{
        {"rclone started (pid %d)", {4242}, false, "rclone started (pid 4242)"},
        {"Mount folder not usable: %{private}s", {"/home/a/Mounts/X"}, false, "Mount folder not usable: <private>"},
        {"Mount folder not usable: %{private}s", {"/home/a/Mounts/X"}, true, "Mount folder not usable: /home/a/Mounts/X"},
        {"Start at login failed: %{public}s", {"denied"}, false, "Start at login failed: denied"},
        {"unmarked %s", {"secret"}, false, "unmarked <private>"},
        {"Left %{public}s in place (errno %d)", {"Mounts", 16}, false, "Left Mounts in place (errno 16)"},
        {"Rescued %ld files; removed %ld old cache folders, kept %ld", {3, 1, 0}, false,
         "Rescued 3 files; removed 1 old cache folders, kept 0"},
        {"%{private}d items", {5}, false, "<private> items"},
        {"100%% done, %lu left, %.1f s", {size_t(2), 1.25}, false, "100% done, 2 left, 1.2 s"},
        {"%05d|%x", {42, 255u}, false, "00042|ff"},
        {"missing %d and %s", {1}, false, "missing 1 and <missing>"},
        {"%{public}@ as object", {"text"}, false, "text as object"},
        {"number as text %{public}s", {7}, false, "number as text 7"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(format(c.format, c.args, c.showPrivate), QString::fromUtf8(c.expected)) << c.format;
}

TEST(Log, CategoryNames)
{
    const Log supervisor("supervisor");
    const Log again("supervisor");
    EXPECT_STREQ(supervisor.category().categoryName(), "com.corvane.drive.supervisor");
    EXPECT_EQ(&supervisor.category(), &again.category());
}
