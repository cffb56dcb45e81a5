#pragma once

#include <QString>
#include <QtGlobal>

// Byte counts as every screen shows them: file sizes in decimal units (1 kB = 1,000 bytes), in
// fixed English whatever the locale, with the unit's name.
namespace DriveCore::ByteCountFormat {

// "0 bytes", "1 byte", "999 bytes", "1 kB", "1.5 MB", "1.23 GB", "10 TB": the largest unit that
// keeps the number at 1 or more; no decimals for bytes and kB, one for MB, two above, rounded
// half up, trailing zeros dropped. A value that rounds up to 1,000 of a unit is written in the
// next one. Negative counts carry a minus sign.
QString fileSize(qint64 bytes);

} // namespace DriveCore::ByteCountFormat
