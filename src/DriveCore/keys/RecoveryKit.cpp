#include "DriveCore/keys/RecoveryKit.h"

#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/Crypto.h"
#include "DriveCore/support/Base64URL.h"
#include "DriveCore/support/JsonReader.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <unicode/uchar.h>

namespace DriveCore {

using Crypto::Aead;

RecoveryKitPayload RecoveryKitPayload::make(const StorageSecrets &secrets, const QString &driveName)
{
    return {1, secrets.endpoint, secrets.bucket, secrets.accessKeyID, secrets.secretAccessKey, driveName, std::nullopt};
}

const char *RecoveryKitError::what() const noexcept
{
    return code == badFormat ? "RecoveryKitError::badFormat" : "RecoveryKitError::wrongPassphrase";
}

namespace RecoveryKit {

namespace {

constexpr qsizetype minimumSize = saltSize + Aead::nonceSize + Aead::tagSize;

QByteArray json(const RecoveryKitPayload &payload)
{
    QJsonObject object{
        {QStringLiteral("v"), payload.v},
        {QStringLiteral("endpoint"), payload.endpoint},
        {QStringLiteral("bucket"), payload.bucket},
        {QStringLiteral("accessKeyID"), payload.accessKeyID},
        {QStringLiteral("secretAccessKey"), payload.secretAccessKey},
        {QStringLiteral("driveName"), payload.driveName},
    };
    if (payload.cloudflareKey)
        object.insert(QStringLiteral("cloudflareKey"), *payload.cloudflareKey);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

RecoveryKitPayload payload(const QByteArray &json)
{
    try {
        const JsonReader reader = JsonReader::parse(json, u"The kit's payload");
        return {reader.value<qint64>(u"v"),
                reader.value<QString>(u"endpoint"),
                reader.value<QString>(u"bucket"),
                reader.value<QString>(u"accessKeyID"),
                reader.value<QString>(u"secretAccessKey"),
                reader.value<QString>(u"driveName"),
                reader.optional<QString>(u"cloudflareKey")};
    } catch (const JsonDecodingError &) {
        throw RecoveryKitError(RecoveryKitError::badFormat);
    }
}

// Every scalar with the Unicode White_Space property goes, wherever it stands; everything else
// stays exactly, U+FEFF included (it is not white space, so a code holding one is refused).
QString withoutWhiteSpace(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const qsizetype length = pair ? 2 : 1;
        const char32_t scalar = pair ? QChar::surrogateToUcs4(text[i], text[i + 1]) : text[i].unicode();
        if (!u_hasBinaryProperty(UChar32(scalar), UCHAR_WHITE_SPACE))
            result.append(text.constData() + i, length);
        i += length;
    }
    return result;
}

} // namespace

QByteArray deriveKey(const QString &passphrase, const QByteArray &salt)
{
    // The passphrase exactly as typed: no trimming, no normalisation.
    std::optional<QByteArray> key = Crypto::pbkdf2(passphrase.toUtf8(), salt, rounds, Aead::keySize);
    if (!key)
        throw RecoveryKitError(RecoveryKitError::badFormat);
    return *key;
}

QString seal(const RecoveryKitPayload &payload, const QByteArray &key, const QByteArray &salt, const QByteArray &nonce)
{
    const QByteArray bytes = salt + nonce + Aead(Aead::Algorithm::chaCha20Poly1305, key).seal(nonce, json(payload));
    return QLatin1String(prefix) + Base64URL::encode(bytes);
}

QString encode(const RecoveryKitPayload &payload, const QString &passphrase)
{
    const QByteArray salt = Crypto::randomBytes(saltSize);
    const QByteArray key = deriveKey(passphrase, salt);
    return seal(payload, key, salt, Crypto::randomBytes(Aead::nonceSize));
}

QByteArray unwrap(const QString &code)
{
    const QString text = withoutWhiteSpace(code);
    if (!text.startsWith(QLatin1String(prefix)))
        throw RecoveryKitError(RecoveryKitError::badFormat);
    QString base64 = text.mid(qsizetype(qstrlen(prefix)));
    base64.replace(u'-', u'+').replace(u'_', u'/');
    base64.append(QString((4 - base64.size() % 4) % 4, u'='));
    // toLatin1 turns anything beyond Latin-1 into "?", which strict decoding refuses.
    const auto decoded = QByteArray::fromBase64Encoding(base64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() < minimumSize)
        throw RecoveryKitError(RecoveryKitError::badFormat);
    return decoded.decoded;
}

RecoveryKitPayload open(const QByteArray &bytes, const QByteArray &key)
{
    QByteArray plaintext;
    try {
        plaintext = Aead(Aead::Algorithm::chaCha20Poly1305, key)
                        .open(bytes.mid(saltSize, Aead::nonceSize), bytes.mid(saltSize + Aead::nonceSize));
    } catch (const std::exception &) {
        throw RecoveryKitError(RecoveryKitError::wrongPassphrase);
    }
    return payload(plaintext);
}

RecoveryKitPayload decode(const QString &code, const QString &passphrase)
{
    const QByteArray bytes = unwrap(code);
    return open(bytes, deriveKey(passphrase, bytes.left(saltSize)));
}

} // namespace RecoveryKit

} // namespace DriveCore
