#include "DriveCore/platform/ByteCountFormat.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <limits>

using namespace DriveCore;

TEST(ByteCountFormat, WritesFileSizesInDecimalUnits)
{
    const struct {
        qint64 bytes;
        const char *text;
    } cases[] = {
        {0, "0 bytes"},
        {1, "1 byte"},
        {999, "999 bytes"},
        {1'000, "1 kB"},
        {1'499, "1 kB"},
        {1'500, "2 kB"},
        {999'499, "999 kB"},
        {999'500, "1 MB"}, // rounds up into the next unit, not "1,000 kB"
        {1'500'000, "1.5 MB"},
        {2'000'000, "2 MB"},
        {999'950'000, "1 GB"},
        {1'234'567'890, "1.23 GB"},
        {1'005'000'000, "1.01 GB"}, // half up, exactly
        {3'000'000'000, "3 GB"},
        {10'300'000'000, "10.3 GB"},
        {110'000'000'000, "110 GB"},
        {1'000'000'000'000, "1 TB"},
        {2'500'000'000'000'000, "2.5 PB"},
        {std::numeric_limits<qint64>::max(), "9.22 EB"},
        {-1, "-1 byte"},
        {-1'500'000, "-1.5 MB"},
        {std::numeric_limits<qint64>::min(), "-9.22 EB"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ByteCountFormat::fileSize(c.bytes), QString::fromUtf8(c.text)) << c.bytes;
}

TEST(ByteCountFormat, IgnoresTheLocale)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = ByteCountFormat::fileSize(1'234'567'890);
    QLocale::setDefault(previous);
    EXPECT_EQ(text, QStringLiteral("1.23 GB"));
}
