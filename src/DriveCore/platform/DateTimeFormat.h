#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

// Dates as the windows show them: the platform's wording for a locale, not a fixed pattern.
namespace DriveCore::DateTimeFormat {

// The abbreviated date and the shortened time of `when` in `zone`, worded for `locale` by ICU's
// medium date and short time styles: "Jan 2, 2026, 3:04 PM" in en-US, "2 Jan 2026, 15:04" in
// en-GB. An invalid date gives the empty text.
QString abbreviated(const QDateTime &when, const QLocale &locale = QLocale(),
                    const QTimeZone &zone = QTimeZone::systemTimeZone());

// The abbreviated date alone (day, abbreviated month and year): "Jan 2, 2026" in en-US.
QString date(const QDateTime &when, const QLocale &locale = QLocale(),
             const QTimeZone &zone = QTimeZone::systemTimeZone());

// The shortened time alone: "3:04 PM" in en-US, "15:04" in en-GB.
QString time(const QDateTime &when, const QLocale &locale = QLocale(),
             const QTimeZone &zone = QTimeZone::systemTimeZone());

} // namespace DriveCore::DateTimeFormat
