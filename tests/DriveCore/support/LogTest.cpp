#include "DriveCore/support/Log.h"

#include <gtest/gtest.h>

#include <limits>
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
        {"Mount folder not usable: %{private}s",
         {"/home/a/Mounts/X"},
         true,
         "Mount folder not usable: /home/a/Mounts/X"},
        {"Start at login failed: %{public}s", {"denied"}, false, "Start at login failed: denied"},
        {"unmarked %s", {"secret"}, false, "unmarked <private>"},
        {"Left %{public}s in place (errno %d)", {"Mounts", 16}, false, "Left Mounts in place (errno 16)"},
        {"Rescued %ld files; removed %ld old cache folders, kept %ld",
         {3, 1, 0},
         false,
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

// Arguments of another kind than the conversion expects are written sensibly, never converted
// with undefined behaviour.
TEST(Log, ArgumentsOfAnotherKind)
{
    struct Case {
        const char *format;
        LogArg arg;
        QStringView expected; // UTF-16, so that U+FEFF stays
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const std::vector<Case> cases{
        {"%d", 42.9, u"42"},
        {"%d", -42.9, u"-42"},
        {"%d", 1e300, u"1e+300"},
        {"%d", -1e19, u"-1e+19"},
        {"%i", nan, u"nan"},
        {"%d", infinity, u"inf"},
        {"%x", 255.0, u"ff"},
        {"%x", -1.0, u"ffffffffffffffff"},
        {"%x", 1.8e19, u"f9ccd8a1c5080000"},
        {"%x", 1e20, u"1e+20"},
        {"%u", -infinity, u"-inf"},
        {"%p", 4096.0, u"0x1000"},
        {"%p", 1e30, u"1e+30"},
        {"%p", 255, u"0xff"},
        {"%d", std::numeric_limits<qulonglong>::max(), u"18446744073709551615"},
        {"%c", 0x41, u"A"},
        {"%c", 0xE9, u"\u00e9"},
        {"%c", 0x1F600, u"\U0001F600"},
        {"%c", 0xFEFF, u"\uFEFF"},
        {"%c", 0x110000, u"\uFFFD"},
        {"%c", 0xD800, u"\uFFFD"},
        {"%c", -1, u"\uFFFD"},
        {"%c", 65.0, u"A"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(format(c.format, {c.arg}).toStdString(), c.expected.toString().toStdString()) << c.format;
    // Longer than any fixed buffer: written in full.
    EXPECT_EQ(format("%.3f", {1e300}).size(), 305);
}

TEST(Log, TextThatIsNoDirectiveStaysAsWritten)
{
    EXPECT_EQ(format("%1-2d and %d", {7}), QStringLiteral("%1-2d and 7"));
    EXPECT_EQ(format("%5000d|%d", {7}), QStringLiteral("%5000d|7"));
    EXPECT_EQ(format("%y %d", {7}), QStringLiteral("%y 7"));
    EXPECT_EQ(format("ends in %", {}), QStringLiteral("ends in %"));
    EXPECT_EQ(format("open %{private", {7}), QStringLiteral("open %{private"));
}

TEST(Log, CategoryNames)
{
    const Log supervisor("supervisor");
    const Log again("supervisor");
    EXPECT_STREQ(supervisor.category().categoryName(), "com.corvane.drive.supervisor");
    EXPECT_EQ(&supervisor.category(), &again.category());
}
