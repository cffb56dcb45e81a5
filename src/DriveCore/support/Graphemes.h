#pragma once

#include <QString>

// User-perceived characters (extended grapheme clusters, through ICU): what a person counts
// as one character, so "é" written as e and a combining accent is one, and so is a flag.
namespace DriveCore::Graphemes {

qsizetype count(const QString &text);

// The first `limit` user-perceived characters of `text`, never cutting one apart.
QString prefix(const QString &text, qsizetype limit);

} // namespace DriveCore::Graphemes
