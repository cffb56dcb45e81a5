#include "DriveCore/platform/ByteCountFormat.h"

#include <array>

namespace DriveCore::ByteCountFormat {

namespace {

struct Unit {
    const char *name;
    quint64 size;
    int decimals;
};

constexpr std::array<Unit, 7> units{{
    {"bytes", 1, 0},
    {"kB", 1'000, 0},
    {"MB", 1'000'000, 1},
    {"GB", 1'000'000'000, 2},
    {"TB", 1'000'000'000'000, 2},
    {"PB", 1'000'000'000'000'000, 2},
    {"EB", 1'000'000'000'000'000'000, 2},
}};

quint64 powerOfTen(int exponent)
{
    quint64 value = 1;
    while (exponent-- > 0)
        value *= 10;
    return value;
}

// The magnitude in `unit`, times 10^decimals, rounded half up. 128 bits: EB with two decimals
// does not fit in 64.
quint64 scaled(quint64 magnitude, const Unit &unit)
{
    const unsigned __int128 numerator = (unsigned __int128)magnitude * powerOfTen(unit.decimals);
    return quint64((numerator * 2 + unit.size) / ((unsigned __int128)unit.size * 2));
}

QString grouped(quint64 whole)
{
    QString digits = QString::number(whole);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u',');
    return digits;
}

} // namespace

QString fileSize(qint64 bytes)
{
    // The magnitude of the most negative count still fits unsigned.
    const quint64 magnitude = bytes < 0 ? 0 - quint64(bytes) : quint64(bytes);
    const QString sign = bytes < 0 ? QStringLiteral("-") : QString();
    if (magnitude == 1)
        return sign + QStringLiteral("1 byte");

    std::size_t index = 0;
    while (index + 1 < units.size() && magnitude >= units[index + 1].size)
        ++index;
    quint64 value = scaled(magnitude, units[index]);
    if (index + 1 < units.size() && value >= 1000 * powerOfTen(units[index].decimals)) {
        ++index;
        value = scaled(magnitude, units[index]);
    }

    const Unit &unit = units[index];
    const quint64 factor = powerOfTen(unit.decimals);
    QString text = grouped(value / factor);
    if (unit.decimals > 0) {
        QString fraction = QString::number(value % factor).rightJustified(unit.decimals, u'0');
        while (fraction.endsWith(u'0'))
            fraction.chop(1);
        if (!fraction.isEmpty())
            text += u'.' + fraction;
    }
    return sign + text + u' ' + QLatin1String(unit.name);
}

} // namespace DriveCore::ByteCountFormat
