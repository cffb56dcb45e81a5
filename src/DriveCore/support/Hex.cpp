#include "DriveCore/support/Hex.h"

#include <algorithm>

namespace DriveCore::Hex {

namespace {

int digit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

bool isDigits(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return digit(c) >= 0; });
}

QString encode(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

std::optional<QByteArray> decode(const QString &text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    QByteArray bytes;
    bytes.reserve(text.size() / 2);
    for (qsizetype i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.append(char(high << 4 | low));
    }
    return bytes;
}

} // namespace DriveCore::Hex
