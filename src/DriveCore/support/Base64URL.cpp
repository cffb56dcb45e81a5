#include "DriveCore/support/Base64URL.h"

#include <algorithm>

namespace DriveCore::Base64URL {

QString encode(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

bool isAlphabet(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' || u == '_';
    });
}

std::optional<QByteArray> decode(const QString &text)
{
    if (!isAlphabet(text))
        return std::nullopt;
    QByteArray padded = text.toLatin1();
    padded.append((4 - padded.size() % 4) % 4, '=');
    auto result =
        QByteArray::fromBase64Encoding(padded, QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return std::move(result.decoded);
}

} // namespace DriveCore::Base64URL
