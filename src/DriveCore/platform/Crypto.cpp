#include "DriveCore/platform/Crypto.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <stdexcept>
#include <vector>

namespace DriveCore::Crypto {

namespace {

// Drops OpenSSL's queued errors, so a refusal here never shows up in an unrelated later call;
// the first one's reason goes with the error.
[[noreturn]] void fail(const char *what)
{
    const int status = ERR_GET_REASON(ERR_peek_error());
    ERR_clear_error();
    throw Error(what, status);
}

// EVP takes int lengths: `update` is called in steps that fit one.
template<typename Update>
void inSteps(const char *in, unsigned char *out, qsizetype length, Update update)
{
    for (qsizetype done = 0; done < length;) {
        const int step = int(std::min<qsizetype>(length - done, INT_MAX / 2));
        int produced = 0;
        if (update(out + done, &produced, reinterpret_cast<const unsigned char *>(in + done), step) != 1)
            fail("the cipher failed");
        if (produced != step)
            throw Error("the cipher gave fewer bytes than it was given", 0);
        done += step;
    }
}

unsigned char *bytes(QByteArray &data)
{
    return reinterpret_cast<unsigned char *>(data.data());
}

void *mutableData(const QByteArray &data)
{
    return const_cast<char *>(data.constData());
}

std::optional<QByteArray> derive(const char *algorithm, std::vector<OSSL_PARAM> params, qsizetype length)
{
    params.push_back(OSSL_PARAM_construct_end());
    const std::unique_ptr<EVP_KDF, decltype(&EVP_KDF_free)> kdf(EVP_KDF_fetch(nullptr, algorithm, nullptr),
                                                                &EVP_KDF_free);
    const std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)> context(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr,
                                                                            &EVP_KDF_CTX_free);
    QByteArray output(length, Qt::Uninitialized);
    if (!context || EVP_KDF_derive(context.get(), bytes(output), size_t(length), params.data()) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    return output;
}

} // namespace

QByteArray randomBytes(qsizetype count)
{
    QByteArray output(count, Qt::Uninitialized);
    if (count > 0 && RAND_bytes(bytes(output), int(count)) != 1)
        fail("the random generator failed");
    return output;
}

QByteArray sha256(const QByteArray &data)
{
    QByteArray digest(32, Qt::Uninitialized);
    if (EVP_Digest(data.constData(), size_t(data.size()), bytes(digest), nullptr, EVP_sha256(), nullptr) != 1)
        fail("SHA-256 failed");
    return digest;
}

std::optional<QByteArray> pbkdf2(const QByteArray &password, const QByteArray &salt, uint64_t rounds, qsizetype length)
{
    static char digest[] = "SHA256";
    int compatible = 1; // no SP 800-132 lower bounds: the formats fix their own counts
    return derive(
        OSSL_KDF_NAME_PBKDF2,
        {
            OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, mutableData(password), size_t(password.size())),
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, mutableData(salt), size_t(salt.size())),
            OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_ITER, &rounds),
            OSSL_PARAM_construct_int(OSSL_KDF_PARAM_PKCS5, &compatible),
        },
        length);
}

QByteArray hkdf(const QByteArray &keyMaterial, const QByteArray &salt, const QByteArray &info, qsizetype length)
{
    static char digest[] = "SHA256";
    std::vector<OSSL_PARAM> params{
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, mutableData(keyMaterial), size_t(keyMaterial.size())),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, mutableData(info), size_t(info.size())),
    };
    if (!salt.isEmpty())
        params.push_back(
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, mutableData(salt), size_t(salt.size())));
    std::optional<QByteArray> output = derive(OSSL_KDF_NAME_HKDF, std::move(params), length);
    if (!output)
        fail("HKDF failed");
    return *output;
}

QByteArray aes256Ctr(const QByteArray &key, const QByteArray &iv, const QByteArray &data)
{
    if (key.size() != 32 || iv.size() != 16)
        throw std::invalid_argument("AES-256-CTR takes a 32-byte key and a 16-byte IV");
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                                  &EVP_CIPHER_CTX_free);
    if (!context
        || EVP_EncryptInit_ex(context.get(), EVP_aes_256_ctr(), nullptr,
                              reinterpret_cast<const unsigned char *>(key.constData()),
                              reinterpret_cast<const unsigned char *>(iv.constData()))
            != 1)
        fail("the cipher could not start");
    QByteArray output(data.size(), Qt::Uninitialized);
    const auto update = [&](unsigned char *out, int *produced, const unsigned char *in, int length) {
        return EVP_EncryptUpdate(context.get(), out, produced, in, length);
    };
    inSteps(data.constData(), bytes(output), data.size(), update);
    return output;
}

Aead::Aead(Algorithm algorithm, QByteArray key)
    : m_algorithm(algorithm), m_key(std::move(key)), m_context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free)
{
    if (m_key.size() != keySize)
        throw std::invalid_argument("an AEAD key has 32 bytes");
    if (!m_context)
        fail("no cipher context");
}

Aead::~Aead() = default;

void Aead::begin(const QByteArray &nonce, bool encrypt)
{
    if (nonce.size() != nonceSize)
        throw std::invalid_argument("an AEAD nonce has 12 bytes");
    const EVP_CIPHER *cipher = m_algorithm == Algorithm::aes256Gcm ? EVP_aes_256_gcm() : EVP_chacha20_poly1305();
    if (EVP_CipherInit_ex(m_context.get(), cipher, nullptr, reinterpret_cast<const unsigned char *>(m_key.constData()),
                          reinterpret_cast<const unsigned char *>(nonce.constData()), encrypt ? 1 : 0)
        != 1)
        fail("the cipher could not start");
}

void Aead::update(unsigned char *out, const char *in, qsizetype length)
{
    inSteps(in, out, length, [this](unsigned char *to, int *produced, const unsigned char *from, int step) {
        return EVP_CipherUpdate(m_context.get(), to, produced, from, step);
    });
}

void Aead::seal(const QByteArray &nonce, const char *plaintext, qsizetype length, QByteArray &sealed)
{
    begin(nonce, true);
    sealed.resize(length + tagSize);
    unsigned char *out = bytes(sealed);
    update(out, plaintext, length);
    int produced = 0;
    if (EVP_EncryptFinal_ex(m_context.get(), out + length, &produced) != 1 || produced != 0
        || EVP_CIPHER_CTX_ctrl(m_context.get(), EVP_CTRL_AEAD_GET_TAG, int(tagSize), out + length) != 1)
        fail("the cipher failed");
}

QByteArray Aead::seal(const QByteArray &nonce, const QByteArray &plaintext)
{
    QByteArray sealed;
    seal(nonce, plaintext.constData(), plaintext.size(), sealed);
    return sealed;
}

QByteArray Aead::open(const QByteArray &nonce, const QByteArray &sealed)
{
    if (sealed.size() < tagSize)
        fail("sealed bytes shorter than a tag");
    const qsizetype length = sealed.size() - tagSize;
    begin(nonce, false);
    QByteArray plaintext(length, Qt::Uninitialized);
    update(bytes(plaintext), sealed.constData(), length);
    int produced = 0;
    void *tag = const_cast<char *>(sealed.constData() + length);
    if (EVP_CIPHER_CTX_ctrl(m_context.get(), EVP_CTRL_AEAD_SET_TAG, int(tagSize), tag) != 1
        || EVP_DecryptFinal_ex(m_context.get(), bytes(plaintext) + length, &produced) != 1)
        fail("authentication failed");
    return plaintext;
}

} // namespace DriveCore::Crypto
