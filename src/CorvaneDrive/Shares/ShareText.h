#pragma once

#include "DriveCore/shares/ShareLinks.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>

// How a link is described wherever it is shown, so the result and the list word it alike.
namespace ShareText {

// Up to three parts joined with " · ": "expires " and the date (abbreviated date, shortened
// time) or "no expiry"; "1 download" or "<n> downloads" when the link has a limit; "password"
// when it has one.
QString rules(const DriveCore::ShareRecord &record, const QLocale &locale = QLocale(),
              const QTimeZone &zone = QTimeZone::systemTimeZone());

// The link's absolute text, whole, as the copy buttons write it.
QString link(const DriveCore::ShareRecord &record);

// "1 download" for 1, else the number and " downloads" (also for 0).
QString downloads(qint64 count);

} // namespace ShareText
