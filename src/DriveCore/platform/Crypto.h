#pragma once

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>

struct evp_cipher_ctx_st;

namespace DriveCore::Crypto {

// The library refused: a tag that does not verify, sealed bytes shorter than a tag, or a
// failure inside OpenSSL. Carries no user text.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    Error(const char *what, int status) : std::runtime_error(what), status(status) {}

    int status = 0; // OpenSSL's reason code when it refused, else 0
};

// `count` bytes from the system's secure random generator. Throws Error.
QByteArray randomBytes(qsizetype count);

QByteArray sha256(const QByteArray &data);

// PBKDF2 with HMAC-SHA256 (RFC 8018); nothing when OpenSSL refuses (0 rounds, for one).
std::optional<QByteArray> pbkdf2(const QByteArray &password, const QByteArray &salt, uint64_t rounds, qsizetype length);

// HKDF with SHA-256 (RFC 5869), extract then expand; an empty salt is the RFC's default salt.
// Throws Error.
QByteArray hkdf(const QByteArray &keyMaterial, const QByteArray &salt, const QByteArray &info, qsizetype length);

// AES-256 in counter mode: `data` combined with the key stream that starts at the 16-byte `iv`,
// which counts up as one 128-bit big-endian number (a carry out of the top is dropped). The
// same call encrypts and decrypts. Throws Error.
QByteArray aes256Ctr(const QByteArray &key, const QByteArray &iv, const QByteArray &data);

// An AEAD cipher with a 32-byte key and 12-byte nonces, no associated data. The sealed form
// is the ciphertext (as long as the plaintext) followed by the 16-byte tag. One object
// seals and opens any number of messages under its key, on one thread at a time.
class Aead {
public:
    enum class Algorithm { chaCha20Poly1305, aes256Gcm };
    static constexpr qsizetype keySize = 32;
    static constexpr qsizetype nonceSize = 12;
    static constexpr qsizetype tagSize = 16;

    Aead(Algorithm algorithm, QByteArray key);
    ~Aead();
    Aead(const Aead &) = delete;
    Aead &operator=(const Aead &) = delete;

    // Seals `length` bytes into `sealed`, reusing its storage, so a stream of chunks costs
    // no allocation per chunk. Throws Error.
    void seal(const QByteArray &nonce, const char *plaintext, qsizetype length, QByteArray &sealed);
    QByteArray seal(const QByteArray &nonce, const QByteArray &plaintext);

    // The plaintext, or Error when the tag does not verify or `sealed` is shorter than a tag.
    QByteArray open(const QByteArray &nonce, const QByteArray &sealed);

private:
    void begin(const QByteArray &nonce, bool encrypt);
    void update(unsigned char *out, const char *in, qsizetype length);

    Algorithm m_algorithm;
    QByteArray m_key;
    std::unique_ptr<evp_cipher_ctx_st, void (*)(evp_cipher_ctx_st *)> m_context;
};

} // namespace DriveCore::Crypto
