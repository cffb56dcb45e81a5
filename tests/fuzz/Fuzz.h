#pragma once

// What the fuzz targets share: the layout of a structured input, a check that turns a broken
// promise into a finding, and the application object the Qt code needs. The seed generator
// (FuzzSeeds.cpp) writes inputs in the same layout. Targets that need the Qt event loop link
// FuzzApplication.cpp, which makes the application object before the first input.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A promise of the code under test that the input broke: reported and ended like a crash.
#define FUZZ_CHECK(...)                                                                                                \
    do {                                                                                                               \
        if (!(__VA_ARGS__)) {                                                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #__VA_ARGS__);                       \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

namespace Fuzz {

// A structured input is its fields joined by NUL bytes; the last field keeps the rest,
// NULs included, and fields missing at the end are empty.
inline QList<QByteArray> fields(const uint8_t *data, size_t size, qsizetype count)
{
    QList<QByteArray> result;
    // A copy, so every field is a NUL-terminated array of its own.
    const QByteArray all(reinterpret_cast<const char *>(data), qsizetype(size));
    qsizetype start = 0;
    while (result.size() < count - 1) {
        const qsizetype end = all.indexOf('\0', start);
        if (end < 0)
            break;
        result.append(all.mid(start, end - start));
        start = end + 1;
    }
    result.append(start <= all.size() ? all.mid(start) : QByteArray());
    while (result.size() < count)
        result.append(QByteArray());
    return result;
}

inline QByteArray joined(const QList<QByteArray> &parts)
{
    QByteArray out;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += '\0';
        out += parts[i];
    }
    return out;
}

// Text from outside: UTF-8 (invalid sequences become U+FFFD), or with a first byte of 1 raw
// UTF-16 units, so unpaired surrogates and byte-order marks arrive as they are.
inline QString text(const QByteArray &bytes)
{
    if (!bytes.isEmpty() && bytes[0] == 1) {
        const QByteArray units = bytes.mid(1);
        QString result(units.size() / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < result.size(); ++i)
            result[i] = QChar(char16_t(uint8_t(units[2 * i]) | uint8_t(units[2 * i + 1]) << 8));
        return result;
    }
    return QString::fromUtf8(bytes);
}

} // namespace Fuzz
