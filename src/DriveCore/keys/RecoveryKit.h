#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <exception>
#include <optional>

namespace DriveCore {

struct StorageSecrets;

// What a Recovery Kit code carries: the storage keys, the drive's name and, when one is kept,
// the Cloudflare API token. Never the passphrase.
struct RecoveryKitPayload {
    // v 1 and the storage keys, without a token.
    static RecoveryKitPayload make(const StorageSecrets &secrets, const QString &driveName);

    bool operator==(const RecoveryKitPayload &) const = default;

    qint64 v = 1; // read back as it is, not checked
    QString endpoint;
    QString bucket;
    QString accessKeyID;
    QString secretAccessKey;
    QString driveName;
    std::optional<QString> cloudflareKey; // left out of the JSON when absent
};

// How opening a code fails. No text of its own: setup chooses the sentence for each.
class RecoveryKitError : public std::exception {
public:
    enum Code {
        badFormat, // not a well-formed code, or what it opened is not a payload
        wrongPassphrase, // the sealed part did not open: a wrong passphrase or a damaged code
    };
    explicit RecoveryKitError(Code code) : code(code) {}
    const char *what() const noexcept override;
    bool operator==(const RecoveryKitError &other) const { return code == other.code; }

    Code code;
};

// A Recovery Kit code: "CDKIT1." and the unpadded base64url of 16 bytes of salt, then a
// ChaCha20-Poly1305 box (12-byte nonce, the payload's JSON encrypted, 16-byte tag) under the
// key PBKDF2-HMAC-SHA256 derives from the passphrase's UTF-8 bytes in 600,000 rounds. The
// iPhone pairing code is one too.
//
// Each encode and decode costs one such derivation, a noticeable fraction of a second: run
// them through runInPool, never on the main thread.
namespace RecoveryKit {

inline constexpr const char *prefix = "CDKIT1.";
inline constexpr uint32_t rounds = 600000;
inline constexpr qsizetype saltSize = 16;

// A new code, with fresh salt and nonce every time. Throws RecoveryKitError::badFormat when
// the key cannot be derived. Both directions derive a key: called on the thread pool.
QString encode(const RecoveryKitPayload &payload, const QString &passphrase);

// Throws RecoveryKitError and nothing else. White space anywhere is ignored, and both base64
// alphabets and "=" padding are accepted, so a code wrapped or pasted with spaces opens.
RecoveryKitPayload decode(const QString &code, const QString &passphrase);

// The steps of the two, apart so that tests can pin each without paying for a derivation
// every time.
QByteArray deriveKey(const QString &passphrase, const QByteArray &salt);
QString seal(const RecoveryKitPayload &payload, const QByteArray &key, const QByteArray &salt, const QByteArray &nonce);
// The code's bytes: at least 44 (salt, nonce and tag). Throws RecoveryKitError::badFormat.
QByteArray unwrap(const QString &code);
// Opens unwrapped bytes with the key derived from their salt.
RecoveryKitPayload open(const QByteArray &bytes, const QByteArray &key);

} // namespace RecoveryKit

} // namespace DriveCore
