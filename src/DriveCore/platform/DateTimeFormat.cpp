#include "DriveCore/platform/DateTimeFormat.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <memory>

namespace DriveCore::DateTimeFormat {

namespace {

// kNone for a style leaves that part out.
QString format(const QDateTime &when, const QLocale &locale, const QTimeZone &zone, icu::DateFormat::EStyle dateStyle,
               icu::DateFormat::EStyle timeStyle)
{
    if (!when.isValid())
        return {};
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale icuLocale = icu::Locale::forLanguageTag(locale.bcp47Name().toStdString(), status);
    if (U_FAILURE(status))
        return when.toString(Qt::ISODate);
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(dateStyle, timeStyle, icuLocale));
    if (!format)
        return when.toString(Qt::ISODate);
    const QByteArray zoneID = zone.isValid() ? zone.id() : QByteArrayLiteral("UTC");
    format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneID.toStdString())));
    icu::UnicodeString text;
    format->format(UDate(when.toMSecsSinceEpoch()), text);
    return QString(reinterpret_cast<const QChar *>(text.getBuffer()), text.length());
}

} // namespace

QString abbreviated(const QDateTime &when, const QLocale &locale, const QTimeZone &zone)
{
    return format(when, locale, zone, icu::DateFormat::kMedium, icu::DateFormat::kShort);
}

QString date(const QDateTime &when, const QLocale &locale, const QTimeZone &zone)
{
    return format(when, locale, zone, icu::DateFormat::kMedium, icu::DateFormat::kNone);
}

QString time(const QDateTime &when, const QLocale &locale, const QTimeZone &zone)
{
    return format(when, locale, zone, icu::DateFormat::kNone, icu::DateFormat::kShort);
}

} // namespace DriveCore::DateTimeFormat
