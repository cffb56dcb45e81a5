#include "DriveCore/shares/ShareFormat.h"

#include "DriveCore/platform/Crypto.h"
#include "DriveCore/shares/ShareManifest.h"
#include "DriveCore/support/Base64URL.h"
#include "DriveCore/support/Hex.h"

#include <QtEndian>

#include <stdexcept>
#include <utility>

namespace DriveCore::ShareFormat {

using Crypto::Aead;

const char *Failure::what() const noexcept
{
    return code == pbkdf2 ? "ShareFormat::Failure::pbkdf2" : "ShareFormat::Failure::badShareID";
}

QString newShareID()
{
    return Base64URL::encode(randomBytes(16));
}

QByteArray newSecret()
{
    return randomBytes(32);
}

QByteArray randomBytes(qsizetype count)
{
    return Crypto::randomBytes(count);
}

bool isShareID(const QString &text)
{
    // 22 UTF-16 units that are all ASCII are 22 UTF-8 bytes.
    return text.size() == 22 && Base64URL::isAlphabet(text);
}

QByteArray passwordKey(const QString &password, const QString &shareID, uint32_t rounds)
{
    // Composed form, so the same password typed on another keyboard gives the same key.
    const QByteArray utf8 = password.normalized(QString::NormalizationForm_C).toUtf8();
    const QByteArray salt = QByteArrayLiteral("ovra-share-pw:") + shareID.toUtf8();
    std::optional<QByteArray> key = Crypto::pbkdf2(utf8, salt, rounds, 32);
    if (!key)
        throw Failure(Failure::pbkdf2);
    return *key;
}

Keys deriveKeys(const QString &shareID, const QByteArray &secret, const std::optional<QString> &password,
                uint32_t rounds)
{
    QByteArray material = secret;
    if (password)
        material += passwordKey(*password, shareID, rounds);
    const QByteArray salt = shareID.toUtf8();
    Keys keys;
    keys.contentKey = hkdf(material, salt, QStringLiteral("ovra-share v1 content"));
    keys.accessToken = hkdf(material, salt, QStringLiteral("ovra-share v1 access"));
    keys.accessHash = Hex::encode(Crypto::sha256(keys.accessToken));
    return keys;
}

QByteArray hkdf(const QByteArray &keyMaterial, const QByteArray &salt, const QString &info)
{
    return Crypto::hkdf(keyMaterial, salt, info.toUtf8(), 32);
}

QByteArray fileKey(const QByteArray &contentKey, qint64 index)
{
    return hkdf(contentKey, {}, QStringLiteral("ovra-share v1 file ") + QString::number(index));
}

QByteArray manifestKey(const QByteArray &contentKey)
{
    return hkdf(contentKey, {}, QStringLiteral("ovra-share v1 manifest"));
}

namespace {

// Sizes reach the reader from a manifest, so they are checked before any arithmetic.
void checkSizes(qint64 plainSize, qint64 chunkSize)
{
    if (chunkSize <= 0)
        throw Crypto::Error("the chunk size is not positive");
    if (plainSize < 0)
        throw Crypto::Error("the plain size is negative");
}

} // namespace

qint64 chunkCount(qint64 plainSize, qint64 chunkSize)
{
    checkSizes(plainSize, chunkSize);
    // Rounded up without adding first, which could overflow.
    return std::max<qint64>(1, plainSize / chunkSize + (plainSize % chunkSize != 0 ? 1 : 0));
}

qint64 encryptedSize(qint64 plainSize, qint64 chunkSize)
{
    const qint64 count = chunkCount(plainSize, chunkSize);
    qint64 tags = 0;
    qint64 total = 0;
    if (__builtin_mul_overflow(count, qint64(tagSize), &tags) || __builtin_add_overflow(plainSize, tags, &total))
        throw Crypto::Error("the sealed size of the file is beyond 64 bits");
    return total;
}

QByteArray chunkNonce(qint64 index, bool last)
{
    QByteArray nonce(Aead::nonceSize, '\0');
    qToBigEndian(quint64(index), nonce.data() + 3);
    nonce[11] = last ? 1 : 0;
    return nonce;
}

QByteArray sealChunk(const QByteArray &plaintext, const QByteArray &key, qint64 index, bool last)
{
    return Aead(Aead::Algorithm::aes256Gcm, key).seal(chunkNonce(index, last), plaintext);
}

QByteArray openChunk(const QByteArray &sealed, const QByteArray &key, qint64 index, bool last)
{
    return Aead(Aead::Algorithm::aes256Gcm, key).open(chunkNonce(index, last), sealed);
}

namespace {

// Reads until the chunk is full or a read comes back empty; short reads are fine. A read
// that fills the chunk at once is kept as it is, without a copy.
QByteArray fill(const ReadOperation &read, qint64 chunkSize)
{
    QByteArray chunk;
    while (chunk.size() < chunkSize) {
        const qint64 wanted = chunkSize - chunk.size();
        QByteArray piece = read(wanted);
        if (piece.isEmpty())
            break;
        if (piece.size() > wanted)
            throw std::out_of_range("a read returned more bytes than were asked for");
        if (chunk.isEmpty()) {
            chunk = std::move(piece);
        } else {
            chunk.reserve(chunkSize); // one allocation, however short the reads
            chunk += piece;
        }
    }
    return chunk;
}

} // namespace

qint64 encryptStream(const QByteArray &contentKey, qint64 index, qint64 chunkSize, const ReadOperation &read,
                     const WriteOperation &write)
{
    if (chunkSize <= 0)
        throw Crypto::Error("the chunk size is not positive");
    Aead cipher(Aead::Algorithm::aes256Gcm, fileKey(contentKey, index));
    QByteArray current = fill(read, chunkSize);
    QByteArray sealed;
    qint64 total = 0;
    for (qint64 k = 0;; ++k) {
        // One chunk of lookahead tells whether this one is the last, without knowing the size.
        QByteArray next = current.size() == chunkSize ? fill(read, chunkSize) : QByteArray();
        const bool last = next.isEmpty();
        cipher.seal(chunkNonce(k, last), current.constData(), current.size(), sealed);
        write(sealed);
        total += current.size();
        if (last)
            return total;
        current = std::move(next);
    }
}

QByteArray encryptFile(const QByteArray &plaintext, const QByteArray &contentKey, qint64 index, qint64 chunkSize)
{
    QByteArray output;
    output.reserve(encryptedSize(plaintext.size(), chunkSize));
    qint64 offset = 0;
    // Views into `plaintext`, which outlives the call.
    encryptStream(
        contentKey, index, chunkSize,
        [&](qint64 maxBytes) {
            const qint64 count = std::min(maxBytes, plaintext.size() - offset);
            offset += count;
            return QByteArray::fromRawData(plaintext.constData() + offset - count, count);
        },
        [&](const QByteArray &chunk) { output += chunk; });
    return output;
}

QByteArray decryptFile(const QByteArray &sealed, const QByteArray &contentKey, qint64 index, qint64 plainSize,
                       qint64 chunkSize)
{
    // A cut-off object must fail rather than return a shortened file, and no slice may run
    // past the end of the data. Every size below is bounded by the object's own size.
    if (sealed.size() != encryptedSize(plainSize, chunkSize))
        throw Crypto::Error("the sealed file does not have the size its plain size implies");
    Aead cipher(Aead::Algorithm::aes256Gcm, fileKey(contentKey, index));
    const qint64 count = chunkCount(plainSize, chunkSize);
    QByteArray output;
    output.reserve(plainSize);
    qint64 offset = 0;
    for (qint64 k = 0; k < count; ++k) {
        const bool last = k == count - 1;
        const qint64 length = (last ? plainSize - k * chunkSize : chunkSize) + tagSize;
        output += cipher.open(chunkNonce(k, last), sealed.mid(offset, length));
        offset += length;
    }
    return output;
}

QByteArray encryptManifest(const ShareManifest &manifest, const QByteArray &contentKey)
{
    const QByteArray zeroNonce(Aead::nonceSize, '\0');
    return Aead(Aead::Algorithm::aes256Gcm, manifestKey(contentKey)).seal(zeroNonce, manifest.json());
}

ShareManifest decryptManifest(const QByteArray &object, const QByteArray &contentKey)
{
    const QByteArray zeroNonce(Aead::nonceSize, '\0');
    return ShareManifest::fromJson(Aead(Aead::Algorithm::aes256Gcm, manifestKey(contentKey)).open(zeroNonce, object));
}

} // namespace DriveCore::ShareFormat
