#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/platform/Crypto.h"
#include "DriveCore/support/Base64URL.h"
#include "DriveCore/support/Hex.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <stdexcept>

using namespace DriveCore;

namespace {

// Known answers from share-format-kat.mjs (Node's crypto module).
const QString shareID = QStringLiteral("AAECAwQFBgcICQoLDA0ODw");
const QByteArray secret = QByteArray::fromHex("202122232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f");
const QByteArray contentKey = QByteArray::fromHex("e6db6d33b8e7dc664c4083ab1f4515d7bfbc67a234e393ca67ba183fdc7cbdd0");
constexpr uint32_t testRounds = 1000;

// 41 bytes sealed as file 3 in chunks of 16: two full chunks and a last one of 9 bytes.
QByteArray smallPlaintext()
{
    QByteArray bytes;
    for (int i = 0; i < 41; ++i)
        bytes.append(char(i * 7));
    return bytes;
}
const QByteArray smallSealed = QByteArray::fromHex(
    "ffbb500f7353bb7d90e98aa9c5c51e586eac417e050b2ab80d3e6eb7de2d26058cb29518a190967fedbee43d42df9825339239b93e5303"
    "06232b81372afa969c8c8c3b5b3b53c457a098d84ec784230b065577e1e916c187c6");

// Two and a half chunks of the real chunk size.
QByteArray largePlaintext()
{
    QByteArray bytes(2621440, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 31 + (i >> 11));
    return bytes;
}
const QByteArray largeSealedSHA256 =
    QByteArray::fromHex("4822cfe27cfa352bb63a068f693f463f282d8eb790eb800e7f7382c895a6ecd9");

// A read operation over `data` that hands out at most `most` bytes a call and counts calls.
struct Source {
    QByteArray data;
    qint64 most = std::numeric_limits<qint64>::max();
    qint64 offset = 0;
    int calls = 0;
    int callsAfterEnd = 0;
    bool ended = false;

    QByteArray operator()(qint64 maxBytes)
    {
        ++calls;
        if (ended)
            ++callsAfterEnd;
        const qint64 count = std::min({maxBytes, most, data.size() - offset});
        offset += count;
        ended = count == 0;
        return data.mid(offset - count, count);
    }
};

bool opens(const std::function<void()> &action)
{
    try {
        action();
        return true;
    } catch (const Crypto::Error &) {
        return false;
    }
}

} // namespace

TEST(Base64URL, EncodesAndDecodesUnpadded)
{
    EXPECT_EQ(Base64URL::encode(QByteArray::fromHex("fbff")), QStringLiteral("-_8"));
    EXPECT_EQ(Base64URL::decode(QStringLiteral("-_8")), QByteArray::fromHex("fbff"));
    EXPECT_EQ(Base64URL::decode(QString()), QByteArray());
    EXPECT_EQ(Base64URL::encode(secret).size(), 43);
    EXPECT_EQ(Base64URL::decode(Base64URL::encode(secret)), secret);
    for (const char *bad : {"+_8", "/_8", "-_8=", "-_ 8", "A", "AAAAA", "-_\u00e98"})
        EXPECT_EQ(Base64URL::decode(QString::fromUtf8(bad)), std::nullopt) << bad;
}

TEST(Hex, EncodesLowerCaseAndDecodesEitherCase)
{
    EXPECT_EQ(Hex::encode("abc"), QStringLiteral("616263"));
    EXPECT_EQ(Hex::encode(QByteArray::fromHex("00ff7fAB")), QStringLiteral("00ff7fab"));
    EXPECT_EQ(Hex::encode({}), QString());
    EXPECT_EQ(Hex::decode(QString()), QByteArray());
    EXPECT_EQ(Hex::decode(QStringLiteral("4A")), QByteArray("\x4a"));
    EXPECT_EQ(Hex::decode(QStringLiteral("00fFaB")), QByteArray::fromHex("00ffab"));
    for (const char *bad : {"6", "6G", "+f", " 4a", "4a0"})
        EXPECT_EQ(Hex::decode(QString::fromLatin1(bad)), std::nullopt) << bad;
}

TEST(ShareFormat, RecognisesShareIDs)
{
    for (int i = 0; i < 50; ++i) {
        const QString id = ShareFormat::newShareID();
        EXPECT_EQ(id.size(), 22);
        EXPECT_TRUE(ShareFormat::isShareID(id)) << id.toStdString();
    }
    EXPECT_TRUE(ShareFormat::isShareID(shareID));
    const QStringList notIDs{
        shareID.left(21),
        shareID + u'A',
        shareID.left(21) + u'+',
        shareID.left(21) + u'/',
        shareID.left(21) + u'=',
        shareID.left(21) + u' ',
        shareID.left(21) + QStringLiteral("\u00e9"), // 22 characters, 23 bytes in UTF-8
        QStringLiteral("../../../../../../../x"),
    };
    for (const QString &text : notIDs)
        EXPECT_FALSE(ShareFormat::isShareID(text)) << text.toStdString();
    EXPECT_EQ(ShareFormat::newSecret().size(), 32);
    EXPECT_EQ(ShareFormat::randomBytes(0), QByteArray());
}

TEST(ShareFormat, DerivesTheKeysAnIndependentImplementationDerives)
{
    struct Case {
        const char *name;
        QByteArray secret;
        std::optional<QString> password;
        const char *content;
        const char *access;
        const char *hash;
    };
    const QList<Case> cases{
        {"no password", secret, std::nullopt, "e6db6d33b8e7dc664c4083ab1f4515d7bfbc67a234e393ca67ba183fdc7cbdd0",
         "8fa821821e789c13f1d46fc7ea52af8c12ef18551bb0a88b9cdf35be21dcca66",
         "39f5cce0f07cb0d95e4a0aac3a974cfe38fe23881b04324e6e9529cd13b7e072"},
        {"composed password", secret, QStringLiteral("p\u00e4ssw\u00f6rd"),
         "74b0f5869ce2b8fd1e6e188548e1b33540d32c355bc08654a927cdc4ab88605b",
         "1d01ed3e08803811e3f1e3f7ed5b8788cccf511bd0d7d7acc68e6cd8ff1e579c",
         "5c3778d9965eb47fc3e5b2e46d49a19a41efda277ed7e1c322c1733d057f83eb"},
        // Base letters with combining marks: the same password once composed.
        {"decomposed password", secret, QStringLiteral("pa\u0308sswo\u0308rd"),
         "74b0f5869ce2b8fd1e6e188548e1b33540d32c355bc08654a927cdc4ab88605b",
         "1d01ed3e08803811e3f1e3f7ed5b8788cccf511bd0d7d7acc68e6cd8ff1e579c",
         "5c3778d9965eb47fc3e5b2e46d49a19a41efda277ed7e1c322c1733d057f83eb"},
        {"empty password", secret, QString(), "e365cf17daae4a191c14c11d613e82e246f084066569cf44f63976f94db46f94",
         "f43a95498e526492ce9981ccc1217ab5cb7f0f14cd0c488f583471bbb64b782f",
         "c3da1d8ec33aa923543e2ed19709901973170391088d3cf9d997218bab3be463"},
        {"empty secret", QByteArray(), std::nullopt, "e611ac68add0e394ca8fdadb89488c15c42bf6d00ab32865b001617e0b6cc1df",
         nullptr, nullptr},
    };
    const QRegularExpression lowerHex(QStringLiteral("^[0-9a-f]{64}$"));
    for (const Case &c : cases) {
        const ShareFormat::Keys keys = ShareFormat::deriveKeys(shareID, c.secret, c.password, testRounds);
        EXPECT_EQ(keys.contentKey.toHex(), QByteArray(c.content)) << c.name;
        if (c.access) {
            EXPECT_EQ(keys.accessToken.toHex(), QByteArray(c.access)) << c.name;
            EXPECT_EQ(keys.accessHash, QLatin1String(c.hash)) << c.name;
        }
        EXPECT_TRUE(lowerHex.match(keys.accessHash).hasMatch()) << c.name;
        EXPECT_EQ(ShareFormat::deriveKeys(shareID, c.secret, c.password, testRounds), keys) << c.name;
    }
}

TEST(ShareFormat, DerivesFileAndManifestKeys)
{
    // Index 10 is the label followed by "10", not by a padded or binary index.
    EXPECT_EQ(ShareFormat::fileKey(contentKey, 0).toHex(),
              "65487ce4009f6a27c7cb4df39a222978d66e9304c6c95065d621180bf7dfe7de");
    EXPECT_EQ(ShareFormat::fileKey(contentKey, 10).toHex(),
              "e1dede14a03e0a8cae02763af611f5baa98d18745e7961282eaa51a295ae36c1");
    EXPECT_EQ(ShareFormat::manifestKey(contentKey).toHex(),
              "7f16a0ff55c9f2581920d63fea55ec3ff8b33af5fa49587c4239548f886aeb06");
}

TEST(ShareFormat, PasswordKeyFailureIsReported)
{
    try {
        ShareFormat::passwordKey(QStringLiteral("pw"), shareID, 0);
        FAIL() << "0 rounds derived a key";
    } catch (const ShareFormat::Failure &failure) {
        EXPECT_EQ(failure.code, ShareFormat::Failure::pbkdf2);
    }
    // Without a password no derivation runs, so the count does not matter.
    EXPECT_NO_THROW(ShareFormat::deriveKeys(shareID, secret, std::nullopt, 0));
}

TEST(ShareFormat, LaysOutChunks)
{
    EXPECT_EQ(ShareFormat::chunkNonce(0, true).toHex(), "000000000000000000000001");
    EXPECT_EQ(ShareFormat::chunkNonce(258, false).toHex(), "000000000000000000010200");
    EXPECT_EQ(ShareFormat::chunkNonce(0x0102030405060708, false).toHex(), "000000010203040506070800");

    struct Case {
        qint64 plainSize;
        qint64 chunks;
        qint64 sealed;
    };
    const qint64 mib = ShareFormat::chunkSize;
    for (const Case &c : QList<Case>{
             {0, 1, 16}, {1, 1, 17}, {mib, 1, 1048592}, {mib + 1, 2, 1048609}, {5 * mib / 2, 3, 5 * mib / 2 + 48}}) {
        EXPECT_EQ(ShareFormat::chunkCount(c.plainSize, mib), c.chunks) << c.plainSize;
        EXPECT_EQ(ShareFormat::encryptedSize(c.plainSize, mib), c.sealed) << c.plainSize;
    }
}

// Sizes come from a manifest: every one that does not fit is a Crypto::Error, never an
// overflow, another exception or an allocation of the size claimed.
TEST(ShareFormat, RefusesSizesThatDoNotFit)
{
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    // 17 times this is 16 modulo 2^64: with chunks of 1 the sealed size would wrap to 16.
    constexpr qint64 wrapsTo16 = 1085102592571150096;
    struct Case {
        const char *name;
        qint64 plainSize;
        qint64 chunkSize;
    };
    const QList<Case> cases{
        {"no chunk size", 5, 0},
        {"negative chunk size", 5, -16},
        {"negative plain size", -1, 16},
        {"tags beyond 64 bits", wrapsTo16, 1},
        {"largest plain size", max, 16},
        {"largest plain size in one chunk", max, max},
        {"rounding up at the top", max - 1, max / 2},
    };
    const auto isCryptoError = [](const std::function<void()> &action) {
        try {
            action();
        } catch (const Crypto::Error &) {
            return true;
        } catch (...) {
            return false;
        }
        return false;
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray sixteen(16, '\0');
        EXPECT_TRUE(isCryptoError([&] { ShareFormat::encryptedSize(c.plainSize, c.chunkSize); }));
        EXPECT_TRUE(isCryptoError([&] { ShareFormat::decryptFile(sixteen, contentKey, 0, c.plainSize, c.chunkSize); }));
    }
    EXPECT_TRUE(isCryptoError([] { ShareFormat::encryptFile("x", contentKey, 0, 0); }));

    // Large but representable sizes still follow the layout.
    EXPECT_EQ(ShareFormat::chunkCount(max, max), 1);
    EXPECT_EQ(ShareFormat::chunkCount(max - 1, max / 2), 2);
    EXPECT_EQ(ShareFormat::chunkCount(max, max / 2), 3);
    EXPECT_EQ(ShareFormat::encryptedSize(max - 16, max), max);
    // A chunk size far beyond the file is one chunk, which opens.
    EXPECT_EQ(ShareFormat::decryptFile(ShareFormat::encryptFile(smallPlaintext(), contentKey, 3, 64), contentKey, 3,
                                       smallPlaintext().size(), max),
              smallPlaintext());
}

TEST(ShareFormat, SealsFilesAsAnIndependentImplementationDoes)
{
    EXPECT_EQ(ShareFormat::encryptFile(smallPlaintext(), contentKey, 3, 16).toHex(), smallSealed.toHex());
    EXPECT_EQ(ShareFormat::encryptFile({}, contentKey, 0, 16).toHex(), "5f98fec1a2a1ab21368c6dae73953668");

    // The real chunk size, read in short pieces that never line up with a chunk.
    Source source{largePlaintext(), 1000};
    QByteArray sealed;
    const qint64 count = ShareFormat::encryptStream(contentKey, 1, ShareFormat::chunkSize, std::ref(source),
                                                    [&](const QByteArray &chunk) { sealed += chunk; });
    EXPECT_EQ(count, source.data.size());
    EXPECT_EQ(sealed.size(), ShareFormat::encryptedSize(count, ShareFormat::chunkSize));
    EXPECT_EQ(Crypto::sha256(sealed).toHex(), largeSealedSHA256.toHex());
    EXPECT_EQ(sealed, ShareFormat::encryptFile(source.data, contentKey, 1, ShareFormat::chunkSize));
    EXPECT_EQ(ShareFormat::decryptFile(sealed, contentKey, 1, count, ShareFormat::chunkSize), source.data);
}

TEST(ShareFormat, ReadsOneChunkAheadAndNeverPastTheEnd)
{
    struct Case {
        qsizetype size;
        const char *events; // R: a read, W: a write
    };
    // Chunks of 16. A short chunk ends the input without another read; an exact multiple
    // needs one empty read to learn that its last full chunk is the last.
    const QList<Case> cases{
        {0, "RW"},
        {16, "RRW"},
        {40, "RRWRRWW"},
        {48, "RRWRWRW"},
    };
    for (const Case &c : cases) {
        QByteArray events;
        Source source{QByteArray(c.size, 'x')};
        QList<QByteArray> chunks;
        ShareFormat::encryptStream(
            contentKey, 0, 16,
            [&](qint64 maxBytes) {
                events += 'R';
                return source(maxBytes);
            },
            [&](const QByteArray &chunk) {
                events += 'W';
                chunks.append(chunk);
            });
        EXPECT_EQ(events, QByteArray(c.events)) << c.size;
        EXPECT_EQ(source.callsAfterEnd, 0) << c.size;
        // Every chunk but the last opens as not last; the last only as last.
        const QByteArray key = ShareFormat::fileKey(contentKey, 0);
        for (qsizetype k = 0; k < chunks.size(); ++k) {
            const bool last = k == chunks.size() - 1;
            EXPECT_TRUE(opens([&] { ShareFormat::openChunk(chunks[k], key, k, last); })) << c.size << " " << k;
            EXPECT_FALSE(opens([&] { ShareFormat::openChunk(chunks[k], key, k, !last); })) << c.size << " " << k;
        }
    }
}

TEST(ShareFormat, StreamStopsAtTheFirstFailure)
{
    int writes = 0;
    int reads = 0;
    const auto failingRead = [&](qint64 maxBytes) {
        if (++reads == 2)
            throw std::runtime_error("disk gone");
        return QByteArray(maxBytes, 'x');
    };
    // The read for chunk 1 fails before chunk 0 is written.
    EXPECT_THROW(ShareFormat::encryptStream(contentKey, 0, 16, failingRead, [&](const QByteArray &) { ++writes; }),
                 std::runtime_error);
    EXPECT_EQ(writes, 0);

    Source source{QByteArray(100, 'x')};
    EXPECT_THROW(ShareFormat::encryptStream(contentKey, 0, 16, std::ref(source),
                                            [](const QByteArray &) { throw std::runtime_error("upload gone"); }),
                 std::runtime_error);
    EXPECT_EQ(source.calls, 2);
}

TEST(ShareFormat, AnyChangedChunkByteFailsToOpen)
{
    const QByteArray key = ShareFormat::fileKey(contentKey, 3);
    const qint64 size = smallPlaintext().size();
    ASSERT_EQ(ShareFormat::decryptFile(smallSealed, contentKey, 3, size, 16), smallPlaintext());
    for (qsizetype i = 0; i < smallSealed.size(); ++i) {
        QByteArray changed = smallSealed;
        changed[i] = char(changed[i] ^ 0x01);
        EXPECT_FALSE(opens([&] { ShareFormat::decryptFile(changed, contentKey, 3, size, 16); })) << i;
    }
    // The nonce is not stored, but a reader that computes another one must fail as well.
    const QByteArray chunk = smallSealed.left(32);
    for (qsizetype i = 0; i < 12; ++i) {
        QByteArray nonce = ShareFormat::chunkNonce(0, false);
        nonce[i] = char(nonce[i] ^ 0x01);
        EXPECT_FALSE(opens([&] { Crypto::Aead(Crypto::Aead::Algorithm::aes256Gcm, key).open(nonce, chunk); })) << i;
    }
    EXPECT_TRUE(opens([&] { ShareFormat::openChunk(chunk, key, 0, false); }));
    EXPECT_FALSE(opens([&] { ShareFormat::openChunk(chunk, key, 1, false); }));
    EXPECT_FALSE(opens([&] { ShareFormat::openChunk(chunk, ShareFormat::fileKey(contentKey, 2), 0, false); }));
    EXPECT_FALSE(opens([&] { ShareFormat::openChunk(chunk.left(15), key, 0, false); }));
}

TEST(ShareFormat, MovedOrMissingChunksFailToOpen)
{
    const qint64 size = smallPlaintext().size();
    const QByteArray first = smallSealed.mid(0, 32);
    const QByteArray second = smallSealed.mid(32, 32);
    const QByteArray last = smallSealed.mid(64);

    EXPECT_FALSE(opens([&] { ShareFormat::decryptFile(second + first + last, contentKey, 3, size, 16); }));
    // Cut off after two chunks, whether the reader expects the whole size or the shorter one.
    EXPECT_FALSE(opens([&] { ShareFormat::decryptFile(first + second, contentKey, 3, size, 16); }));
    EXPECT_FALSE(opens([&] { ShareFormat::decryptFile(first + second, contentKey, 3, 32, 16); }));
    // Short by a byte, or with bytes added: fails without reading past the end.
    EXPECT_FALSE(opens([&] { ShareFormat::decryptFile(smallSealed.chopped(1), contentKey, 3, size, 16); }));
    EXPECT_FALSE(opens([&] { ShareFormat::decryptFile(smallSealed + "x", contentKey, 3, size, 16); }));
    EXPECT_FALSE(opens([&] { ShareFormat::decryptFile(QByteArray(), contentKey, 3, 0, 16); }));
    // An authentic shorter file (36 bytes, a 4-byte last chunk) is not the 41 bytes promised.
    const QByteArray shorter = ShareFormat::encryptFile(smallPlaintext().left(36), contentKey, 3, 16);
    EXPECT_FALSE(opens([&] { ShareFormat::decryptFile(shorter, contentKey, 3, size, 16); }));
    // Another file of the same share.
    EXPECT_FALSE(opens([&] { ShareFormat::decryptFile(smallSealed, contentKey, 4, size, 16); }));
    EXPECT_NE(ShareFormat::encryptFile(smallPlaintext(), contentKey, 4, 16), smallSealed);
}
