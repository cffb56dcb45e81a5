#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Lower-case hexadecimal, two digits a byte, no separators (access hashes, ticket keys), and the
// check of ids written in hexadecimal (Cloudflare account and token ids).
namespace DriveCore::Hex {

// Whether every character is a hexadecimal digit in either case (true for no characters).
bool isDigits(QStringView text);

QString encode(const QByteArray &bytes);

// Digits in either case; nothing for an odd length or any character that is not a digit.
std::optional<QByteArray> decode(const QString &text);

} // namespace DriveCore::Hex
