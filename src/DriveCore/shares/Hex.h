#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Lower-case hexadecimal, two digits a byte, no separators: access hashes and ticket keys.
namespace DriveCore::Hex {

QString encode(const QByteArray &bytes);

// Digits in either case; nothing for an odd length or any character that is not a digit.
std::optional<QByteArray> decode(const QString &text);

} // namespace DriveCore::Hex
