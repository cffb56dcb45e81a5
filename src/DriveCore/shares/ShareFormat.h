#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>

namespace DriveCore {

struct ShareManifest;

// The encrypted share format: ids, keys, sealed file objects and the sealed manifest. The
// link page is built separately and reads these bytes, so every label, salt, nonce and
// order here is an interface with it. Pure functions, callable from any thread.
namespace ShareFormat {

inline constexpr const char *sharesFolder = "ovra-shares"; // on the plain remote, one folder per share
inline constexpr int version = 1;
inline constexpr qint64 chunkSize = 1048576; // plaintext bytes per sealed chunk
inline constexpr qsizetype tagSize = 16;
inline constexpr uint32_t passwordRounds = 600000;

// No user text of its own: the share windows show their generic wording for it.
class Failure : public std::exception {
public:
    enum Code {
        pbkdf2, // the password key could not be derived
        badShareID, // a text offered as a share id is not one
    };
    explicit Failure(Code code) : code(code) {}
    const char *what() const noexcept override;
    bool operator==(const Failure &other) const { return code == other.code; }

    Code code;
};

// The keys of one share. Equal when the content keys and the access tokens are.
struct Keys {
    QByteArray contentKey; // 32 bytes: root of the file keys and the manifest key
    QByteArray accessToken; // 32 bytes: what a holder of the link shows the link page
    QString accessHash; // lower-case hex SHA-256 of the token: the only form stored in the bucket

    bool operator==(const Keys &other) const
    {
        return contentKey == other.contentKey && accessToken == other.accessToken;
    }
};

// 16 fresh random bytes as unpadded base64url: always 22 characters.
QString newShareID();
// 32 fresh random bytes.
QByteArray newSecret();
QByteArray randomBytes(qsizetype count);

// Exactly 22 characters, each an ASCII letter, digit, "-" or "_". Checked before an id is
// ever used to build an object path.
bool isShareID(const QString &text);

// PBKDF2-HMAC-SHA256 of the NFC password, salted with "ovra-share-pw:" and the id; 32 bytes.
// Throws Failure::pbkdf2 (0 rounds, for one).
QByteArray passwordKey(const QString &password, const QString &shareID, uint32_t rounds);

// Secret, then the password key when a password is given (even an empty one), make the key
// material; the content key and the access token are expanded from it with the id as salt.
// Does not check the id. Throws Failure::pbkdf2.
Keys deriveKeys(const QString &shareID, const QByteArray &secret, const std::optional<QString> &password,
                uint32_t rounds);

// HKDF-SHA256 to 32 bytes, with the UTF-8 bytes of `info`.
QByteArray hkdf(const QByteArray &keyMaterial, const QByteArray &salt, const QString &info);

// The AES-256 key of file `index` ("f/<index>"), and the manifest's.
QByteArray fileKey(const QByteArray &contentKey, qint64 index);
QByteArray manifestKey(const QByteArray &contentKey);

// A sealed file is its chunks back to back, each ciphertext then tag; every chunk but the
// last holds `chunkSize` plaintext bytes, and an empty file is one empty chunk. Both throw
// Crypto::Error for a chunk size that is not positive, a negative plain size, or a sealed size
// beyond 64 bits.
qint64 chunkCount(qint64 plainSize, qint64 chunkSize);
qint64 encryptedSize(qint64 plainSize, qint64 chunkSize);

// Zero, the chunk index as 8 big-endian bytes, then 1 for the last chunk and 0 otherwise.
// Nothing stored: a reader recomputes it, so a moved or cut-off chunk fails to open.
QByteArray chunkNonce(qint64 index, bool last);

// AES-256-GCM without associated data. Both throw Crypto::Error (platform/Crypto.h); opening
// also for a wrong key, index or last flag, any changed byte, or fewer than 16 bytes.
QByteArray sealChunk(const QByteArray &plaintext, const QByteArray &key, qint64 index, bool last);
QByteArray openChunk(const QByteArray &sealed, const QByteArray &key, qint64 index, bool last);

// Returns up to `maxBytes` bytes: fewer is fine, none only at the end of the input. Throws
// to fail. A source already in memory may hand out QByteArray::fromRawData views: a full
// chunk is sealed straight from what the read returned.
using ReadOperation = std::function<QByteArray(qint64 maxBytes)>;
// Takes one sealed chunk. The bytes are reused for the next chunk once it returns, so keep
// a copy (a QByteArray copy is enough) rather than a pointer. Throws to fail.
using WriteOperation = std::function<void(const QByteArray &sealedChunk)>;

// Seals file `index` of the share as it is read, holding at most two plaintext chunks and one
// sealed chunk. Chunk k+1 is read before chunk k is written (to learn which chunk is last);
// nothing is read after a short chunk or an empty read. Returns the plaintext byte count,
// which the caller compares with the size it announced. The first failure of a read, a
// write or the cipher ends it; a chunk size that is not positive is a Crypto::Error.
qint64 encryptStream(const QByteArray &contentKey, qint64 index, qint64 chunkSize, const ReadOperation &read,
                     const WriteOperation &write);

// The same sealed object as encryptStream over `plaintext`.
QByteArray encryptFile(const QByteArray &plaintext, const QByteArray &contentKey, qint64 index, qint64 chunkSize);

// The plaintext of a sealed file of `plainSize` bytes. Sealed bytes of any other length than
// encryptedSize() fail before anything is opened. Throws Crypto::Error, also for any size
// encryptedSize() refuses.
QByteArray decryptFile(const QByteArray &sealed, const QByteArray &contentKey, qint64 index, qint64 plainSize,
                       qint64 chunkSize);

// The "manifest" object: its JSON sealed under the manifest key with an all-zero nonce,
// which is safe because a share seals exactly one manifest.
QByteArray encryptManifest(const ShareManifest &manifest, const QByteArray &contentKey);
// Throws Crypto::Error when it does not open, ShareManifest::DecodingError when the JSON does not read.
ShareManifest decryptManifest(const QByteArray &object, const QByteArray &contentKey);

} // namespace ShareFormat

} // namespace DriveCore
