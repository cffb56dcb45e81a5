#include "DriveCore/platform/DateTimeFormat.h"

#include <gtest/gtest.h>

using namespace DriveCore;

TEST(DateTimeFormat, WordsTheDateAndTimeAsTheLocaleDoes)
{
    // 2026-01-02 15:04:05 UTC
    const QDateTime when = QDateTime::fromSecsSinceEpoch(1'767'366'245, Qt::UTC);
    const QTimeZone utc(QByteArrayLiteral("UTC"));
    const QTimeZone tokyo(QByteArrayLiteral("Asia/Tokyo"));
    const struct {
        const char *locale;
        QTimeZone zone;
        QString both;
        QString date;
        QString time;
    } cases[] = {
        {"en_US", utc, QStringLiteral("Jan 2, 2026, 3:04\u202fPM"), QStringLiteral("Jan 2, 2026"),
         QStringLiteral("3:04\u202fPM")},
        {"en_GB", utc, QStringLiteral("2 Jan 2026, 15:04"), QStringLiteral("2 Jan 2026"), QStringLiteral("15:04")},
        {"de_DE", utc, QStringLiteral("02.01.2026, 15:04"), QStringLiteral("02.01.2026"), QStringLiteral("15:04")},
        {"en_US", tokyo, QStringLiteral("Jan 3, 2026, 12:04\u202fAM"), QStringLiteral("Jan 3, 2026"),
         QStringLiteral("12:04\u202fAM")},
    };
    for (const auto &c : cases) {
        const QLocale locale(QString::fromLatin1(c.locale));
        EXPECT_EQ(DateTimeFormat::abbreviated(when, locale, c.zone), c.both) << c.locale;
        EXPECT_EQ(DateTimeFormat::date(when, locale, c.zone), c.date) << c.locale;
        EXPECT_EQ(DateTimeFormat::time(when, locale, c.zone), c.time) << c.locale;
    }
    EXPECT_EQ(DateTimeFormat::abbreviated(QDateTime(), QLocale(QStringLiteral("en_US")), utc), QString());
    EXPECT_EQ(DateTimeFormat::date(QDateTime(), QLocale(QStringLiteral("en_US")), utc), QString());
}
