#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Unpadded base64url (RFC 4648, section 5): share ids, secrets and the access header.
namespace DriveCore::Base64URL {

QString encode(const QByteArray &bytes);

// Every character is A-Z, a-z, 0-9, "-" or "_".
bool isAlphabet(const QString &text);

// Nothing for any character outside A-Z, a-z, 0-9, "-" and "_" (so also for "=" padding),
// or for a length that no byte string encodes to.
std::optional<QByteArray> decode(const QString &text);

} // namespace DriveCore::Base64URL
