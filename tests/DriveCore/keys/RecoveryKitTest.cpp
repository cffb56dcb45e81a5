#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/Crypto.h"
#include "DriveCore/support/Base64URL.h"

#include <QList>
#include <QStringList>

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

// Known answers from recovery-kit-kat.mjs (Node's crypto module). The passphrase holds a
// decomposed "é", so a normalising implementation would miss them.
const QString passphrase = QStringLiteral("cafe\u0301 \u2713 horse");
const QByteArray salt = QByteArray::fromHex("101112131415161718191a1b1c1d1e1f");
const QByteArray nonce = QByteArray::fromHex("a0a1a2a3a4a5a6a7a8a9aaab");
const QByteArray key = QByteArray::fromHex("67dee553e605b937523c678eccbaa2967315ade72b559c135a238bff14d0a87a");
const QString withToken = QStringLiteral(
    "CDKIT1.EBESExQVFhcYGRobHB0eH6ChoqOkpaanqKmqq2isMkJMCHcQIgezddL6MmXU3zDagc8AzJzcCtbKzfHaQAgtBb0VMTGdY8GIXsiP4FPrJ"
    "PvnguqFjz1byvo9FPE_g_IzWBtwSUPGn51IryyAUX1qSYvavk9ThsCU_wM8aPhJeDpr6cVMYW7cUy3KIWtRb5ALFaBGpLePwKzPkCt3PX-6unmK"
    "lKdVXjlWnhiK9mVGViA7faSQz__soEMmjoIn_KPFg2l_xoSbDUyGdqnQTvZS3TjqmE5Qtm6Gy7JRfMV0tE8XY9SsIutnILZ5f4ojNJUNpRUQdCNh"
    "TdWyojYYbd-kGfwgsd8Ae4pEGn_X4B7G");
const QString withoutToken = QStringLiteral(
    "CDKIT1.EBESExQVFhcYGRobHB0eH6ChoqOkpaanqKmqq2isMkJMCHcQIgezddL6MmXU3zDagc8AzJzcCtbKzfHaQAgtBb0VMTGdY8GIXsiP4FT1I"
    "vjmqueJmHoqjcJ7T_QvxZs1XgZwB_5vLIxGoWuKR2RzRavP8RBT1Jah6xEhNPc9O2EuuNCYztfHHm3MK2pHMMhXUrZJsOjDjb3eyWA9a2D6u2Pcz"
    "v8YAz5YnA6K4yEYFnJoLbzEmKuv7gIxjod76-Wqg2Z1wJO2BFTWKfjXEudBiSnr0EpY7X-GlPVELJoxiO-VnTbKg-faBIVIyQj2EUw");

RecoveryKitPayload payloadWithoutToken()
{
    return RecoveryKitPayload::make(
        StorageSecrets{QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com"),
                       QStringLiteral("my-drive"), QStringLiteral("AKIA-test"), QStringLiteral("s3cr3t/+key=")},
        QStringLiteral("Ada's Drive \u2601"));
}

RecoveryKitPayload payloadWithToken()
{
    RecoveryKitPayload payload = payloadWithoutToken();
    payload.cloudflareKey = QStringLiteral("cf-token_123");
    return payload;
}

RecoveryKitError::Code failure(const std::function<void()> &action)
{
    try {
        action();
    } catch (const RecoveryKitError &error) {
        return error.code;
    }
    ADD_FAILURE() << "no RecoveryKitError";
    return RecoveryKitError::Code(-1);
}

// The code of unwrapped bytes, written as encode writes it.
QString codeOf(const QByteArray &bytes)
{
    return QLatin1String(RecoveryKit::prefix) + Base64URL::encode(bytes);
}

// Unwrapped code bytes around any plaintext, sealed under the known key.
QByteArray sealedBytes(const QByteArray &plaintext)
{
    return salt + nonce + Crypto::Aead(Crypto::Aead::Algorithm::chaCha20Poly1305, key).seal(nonce, plaintext);
}

} // namespace

TEST(RecoveryKit, MatchesAnIndependentImplementation)
{
    EXPECT_EQ(RecoveryKit::deriveKey(passphrase, salt).toHex(), key.toHex());
    EXPECT_EQ(RecoveryKit::seal(payloadWithToken(), key, salt, nonce), withToken);
    // No token: no "cloudflareKey" key in the sealed JSON at all.
    EXPECT_EQ(RecoveryKit::seal(payloadWithoutToken(), key, salt, nonce), withoutToken);
    EXPECT_EQ(RecoveryKit::open(RecoveryKit::unwrap(withoutToken), key), payloadWithoutToken());
}

TEST(RecoveryKit, OpensACodeWrappedOverLinesWithSpaces)
{
    QString code = withToken;
    code.insert(100, QStringLiteral("\r\n"));
    code.insert(60, QStringLiteral("\u00a0 \t"));
    code.insert(20, QStringLiteral("\u2028"));
    code = QStringLiteral("  \n") + code + QStringLiteral(" \u3000\n");
    EXPECT_EQ(RecoveryKit::decode(code, passphrase), payloadWithToken());
}

TEST(RecoveryKit, AcceptsTheStandardAlphabetAndPadding)
{
    const QByteArray bytes = RecoveryKit::unwrap(withToken);
    QString standard = withToken;
    standard.replace(u'-', u'+').replace(u'_', u'/');
    ASSERT_NE(standard, withToken);
    EXPECT_EQ(RecoveryKit::unwrap(standard), bytes);

    const QByteArray unaligned = sealedBytes("{}"); // 46 bytes: two "=" of padding
    const QString padded =
        QLatin1String(RecoveryKit::prefix) + QString::fromLatin1(unaligned.toBase64(QByteArray::Base64UrlEncoding));
    ASSERT_TRUE(padded.endsWith(QLatin1String("==")));
    EXPECT_EQ(RecoveryKit::unwrap(padded), unaligned);
}

TEST(RecoveryKit, RefusesMalformedCodes)
{
    QString lowerCase = withToken;
    lowerCase.replace(0, 5, QStringLiteral("cdkit"));
    const QString body = withToken.mid(7);
    const QStringList cases{
        QString(),
        body, // no prefix
        lowerCase, // prefix in the wrong case
        QStringLiteral("CDKIT2.") + body, // another version
        QStringLiteral("CDKIT1.") + body + u'*', // outside both alphabets
        QStringLiteral("CDKIT1.") + body.left(100) + QStringLiteral("\u00e9") + body.mid(101),
        QStringLiteral("CDKIT1.") + body.left(101), // a length no byte string encodes to
        QStringLiteral("CDKIT1.") + body.left(40) + QStringLiteral("=") + body.mid(40),
        codeOf(QByteArray(43, 'x')), // one byte short of salt, nonce and tag
        // U+FEFF is no white space, wherever it stands.
        QStringLiteral("\uFEFF") + withToken,
        QStringLiteral("CDKIT1.") + body.left(40) + QStringLiteral("\uFEFF") + body.mid(40),
    };
    for (const QString &text : cases)
        EXPECT_EQ(failure([&] { RecoveryKit::unwrap(text); }), RecoveryKitError::badFormat) << text.toStdString();
    EXPECT_EQ(RecoveryKit::unwrap(codeOf(QByteArray(44, 'x'))).size(), 44);
}

TEST(RecoveryKit, AnyChangedByteAfterTheSaltFailsAsWrongPassphrase)
{
    const QByteArray bytes = RecoveryKit::unwrap(withToken);
    for (qsizetype i = RecoveryKit::saltSize; i < bytes.size(); ++i) {
        QByteArray changed = bytes;
        changed[i] = char(changed[i] ^ 0x01);
        EXPECT_EQ(failure([&] { RecoveryKit::open(changed, key); }), RecoveryKitError::wrongPassphrase) << i;
    }
}

TEST(RecoveryKit, AChangedSaltOrPassphraseDoesNotOpen)
{
    QByteArray changedSalt = RecoveryKit::unwrap(withToken);
    changedSalt[3] = char(changedSalt[3] ^ 0x80);
    const QString changedCode = codeOf(changedSalt);
    EXPECT_EQ(failure([&] { RecoveryKit::decode(changedCode, passphrase); }), RecoveryKitError::wrongPassphrase);

    // A trailing space, or the same letters composed, is another passphrase.
    for (const QString &other : {passphrase + u' ', QStringLiteral("caf\u00e9 \u2713 horse")})
        EXPECT_EQ(failure([&] { RecoveryKit::decode(withToken, other); }), RecoveryKitError::wrongPassphrase);
}

TEST(RecoveryKit, ReadsThePayloadStrictlyButTolerantly)
{
    const QByteArray fields = R"("endpoint":"e","bucket":"b","accessKeyID":"a","secretAccessKey":"s","driveName":"d")";
    const RecoveryKitPayload expected{2, "e", "b", "a", "s", "d", std::nullopt};
    // A later version and a null token are read as they are; unknown keys are ignored.
    EXPECT_EQ(RecoveryKit::open(sealedBytes("{\"v\":2,\"cloudflareKey\":null,\"extra\":[1]," + fields + "}"), key),
              expected);

    const QList<QByteArray> bad{
        "", // exactly 44 bytes: nothing sealed
        "[]",
        "{" + fields + "}", // no version
        "{\"v\":\"1\"," + fields + "}",
        "{\"v\":1.5," + fields + "}",
        R"({"v":1,"endpoint":"e","bucket":"b","accessKeyID":"a","secretAccessKey":"s"})",
        R"({"v":1,"endpoint":"e","bucket":7,"accessKeyID":"a","secretAccessKey":"s","driveName":"d"})",
        "{\"v\":1,\"cloudflareKey\":5," + fields + "}",
    };
    for (const QByteArray &json : bad)
        EXPECT_EQ(failure([&] { RecoveryKit::open(sealedBytes(json), key); }), RecoveryKitError::badFormat)
            << json.toStdString();
}

TEST(RecoveryKit, EncodesFreshCodesThatOpen)
{
    const QString first = RecoveryKit::encode(payloadWithToken(), passphrase);
    const QString second = RecoveryKit::encode(payloadWithToken(), passphrase);
    EXPECT_TRUE(first.startsWith(QLatin1String("CDKIT1.")));
    EXPECT_FALSE(first.contains(u'=') || first.contains(u'+') || first.contains(u'/'));
    EXPECT_NE(first, second);
    EXPECT_EQ(RecoveryKit::decode(first, passphrase), payloadWithToken());
    EXPECT_EQ(RecoveryKit::decode(second, passphrase), payloadWithToken());
}
