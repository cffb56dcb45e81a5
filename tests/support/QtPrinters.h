#pragma once

#include <QString>

#include <ostream>

// Lets GoogleTest print texts in failure messages (lists of them too) instead of their bytes.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
