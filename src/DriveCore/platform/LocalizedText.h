#pragma once

#include <QByteArray>
#include <QString>

// Comparison and search of names as a file manager does them: in the user's locale, ignoring
// case, with runs of digits compared by value ("file2" before "file10").
namespace DriveCore::LocalizedText {

// Negative, zero or positive. Case is ignored and accents are not; texts that still tie are
// ordered by their case and finally by code point, so only equal texts compare equal.
int compare(const QString &a, const QString &b);

// Whether `text` contains `part`, ignoring case, accents and character width. An empty part is
// contained in nothing.
bool contains(const QString &text, const QString &part);

// Bytes whose plain order (memcmp, shorter first on a tie) is compare()'s order. Make each text's
// key once when sorting many texts.
QByteArray sortKey(const QString &text);

// The form contains() compares: compatibility-decomposed, accents dropped, case folded. Fold
// texts once and compare folded forms with QString::contains when searching many times.
QString folded(const QString &text);

} // namespace DriveCore::LocalizedText
