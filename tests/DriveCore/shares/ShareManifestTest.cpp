#include "DriveCore/shares/ShareManifest.h"
#include "DriveCore/platform/Crypto.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/ShareMeta.h"

#include <QList>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

// Known answers from share-format-kat.mjs (Node's crypto module and JSON.stringify).
const QByteArray contentKey = QByteArray::fromHex("e6db6d33b8e7dc664c4083ab1f4515d7bfbc67a234e393ca67ba183fdc7cbdd0");
const QByteArray manifestJSON =
    R"({"chunkSize":1048576,"files":[{"modified":"2026-03-04T05:06:07Z","path":"Photos/a b.jpg","size":5},)"
    R"({"path":"notes.txt","size":0}],"title":"Holiday / Été","v":1})";
const QByteArray manifestObject = QByteArray::fromHex(
    "1dbfacbb2d799dc46c2b19ca3ea4109964cfeaac5751c99cc4f5db49de2fd411dc28d35256179cec869e57478412ed4094d27833d513e2"
    "1029cb3887ffe2c0440dd0d71faff445de92908b584ff12e68aa21a577544471a8290e374c5ef888623e5eb5e4b50edf413eb0b8d385ea"
    "346986586e4854405d4d9b6988203800fb1414ad177e2b4b66a871381baafe23163de01cddce8931a6d12298ec0fe7bbd8b32159fcb37a"
    "7b30526f6a172af13fc4d020b0");
const QString accessHash = QStringLiteral("39f5cce0f07cb0d95e4a0aac3a974cfe38fe23881b04324e6e9529cd13b7e072");

ShareManifest manifest()
{
    return ShareManifest(QStringLiteral("Holiday / \u00c9t\u00e9"), ShareFormat::chunkSize,
                         {{QStringLiteral("Photos/a b.jpg"), 5, QStringLiteral("2026-03-04T05:06:07Z")},
                          {QStringLiteral("notes.txt"), 0, std::nullopt}});
}

ShareMeta meta(std::optional<qint64> expiresAt, std::optional<qint64> maxDownloads)
{
    return ShareMeta(accessHash, false, ShareFormat::passwordRounds, 1767225600, expiresAt, maxDownloads, 2, 5,
                     {21, 16});
}

} // namespace

TEST(ShareManifest, SealsAsAnIndependentImplementationDoes)
{
    EXPECT_EQ(manifest().v, 1);
    EXPECT_EQ(manifest().json(), manifestJSON);
    const QByteArray object = ShareFormat::encryptManifest(manifest(), contentKey);
    EXPECT_EQ(object.toHex(), manifestObject.toHex());
    EXPECT_EQ(object.size(), manifestJSON.size() + 16);
    EXPECT_EQ(ShareFormat::decryptManifest(manifestObject, contentKey), manifest());
}

TEST(ShareManifest, OpensOnlyUnchangedUnderItsOwnKey)
{
    const auto fails = [](const QByteArray &object, const QByteArray &key) {
        try {
            ShareFormat::decryptManifest(object, key);
            return false;
        } catch (const Crypto::Error &) {
            return true;
        }
    };
    for (qsizetype i = 0; i < manifestObject.size(); ++i) {
        QByteArray changed = manifestObject;
        changed[i] = char(changed[i] ^ 0x01);
        EXPECT_TRUE(fails(changed, contentKey)) << i;
    }
    const QByteArray otherShare = ShareFormat::deriveKeys(ShareFormat::newShareID(), ShareFormat::newSecret(),
                                                          std::nullopt, ShareFormat::passwordRounds)
                                      .contentKey;
    EXPECT_TRUE(fails(manifestObject, otherShare));
    EXPECT_TRUE(fails(manifestObject.left(15), contentKey));
    EXPECT_TRUE(fails(manifestObject.chopped(1), contentKey));
}

TEST(ShareManifest, ReadsRequiredKeysAndIgnoresOthers)
{
    const ShareManifest read = ShareManifest::fromJson(
        R"({"v":1,"title":"T","chunkSize":16,"extra":{"x":1},)"
        R"("files":[{"path":"a","size":9007199254740993,"modified":null,"more":true},{"path":"b/c","size":0}]})");
    EXPECT_EQ(
        read,
        ShareManifest(QStringLiteral("T"), 16, {{"a", 9007199254740993, std::nullopt}, {"b/c", 0, std::nullopt}}));

    const QList<QByteArray> bad{
        "",
        "[]",
        R"({"title":"T","chunkSize":16,"files":[]})",
        R"({"v":1,"chunkSize":16,"files":[]})",
        R"({"v":1,"title":"T","files":[]})",
        R"({"v":1,"title":"T","chunkSize":16})",
        R"({"v":1,"title":"T","chunkSize":16,"files":[{"size":1}]})",
        R"({"v":1,"title":"T","chunkSize":16,"files":[{"path":"a"}]})",
        R"({"v":1,"title":"T","chunkSize":16,"files":[{"path":"a","size":"1"}]})",
        R"({"v":1,"title":"T","chunkSize":16,"files":[{"path":"a","size":1.5}]})",
        R"({"v":1,"title":"T","chunkSize":16,"files":[{"path":"a","size":1,"modified":5}]})",
        R"({"v":1,"title":"T","chunkSize":16,"files":[7]})",
        // Sizes no sealed file can have, and a version beyond int that would wrap to 1.
        R"({"v":1,"title":"T","chunkSize":0,"files":[]})",
        R"({"v":1,"title":"T","chunkSize":-16,"files":[]})",
        R"({"v":1,"title":"T","chunkSize":16,"files":[{"path":"a","size":-1}]})",
        R"({"v":4294967297,"title":"T","chunkSize":16,"files":[]})",
        R"({"v":-4294967295,"title":"T","chunkSize":16,"files":[]})",
    };
    for (const QByteArray &json : bad)
        EXPECT_THROW(ShareManifest::fromJson(json), ShareManifest::DecodingError) << json.toStdString();
}

TEST(ShareMeta, WritesAllTwelveKeysSorted)
{
    const ShareMeta made = meta(std::nullopt, std::nullopt);
    EXPECT_EQ(made.v, 1);
    EXPECT_EQ(made.downloads, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9a-f]{64}$")).match(made.ticketKey).hasMatch());

    // Two values made alike differ only in their ticket keys.
    ShareMeta again = meta(std::nullopt, std::nullopt);
    EXPECT_NE(again.ticketKey, made.ticketKey);
    again.ticketKey = made.ticketKey;
    EXPECT_EQ(again, made);

    const QString ticket = QStringLiteral("ab").repeated(32);
    const QByteArray head = R"({"accessHash":"39f5cce0f07cb0d95e4a0aac3a974cfe38fe23881b04324e6e9529cd13b7e072",)"
                            R"("createdAt":1767225600,"downloads":0,"encryptedSizes":[21,16],)";
    const QByteArray tail = R"("needsPassword":false,"pwRounds":600000,)"
                            R"("ticketKey":"abababababababababababababababababababababababababababababababab",)"
                            R"("totalBytes":5,"v":1})";
    ShareMeta open = meta(std::nullopt, std::nullopt);
    open.ticketKey = ticket;
    EXPECT_EQ(open.encoded(), head + R"("expiresAt":null,"fileCount":2,"maxDownloads":null,)" + tail);
    ShareMeta limited = meta(1767830400, 10);
    limited.ticketKey = ticket;
    EXPECT_EQ(limited.encoded(), head + R"("expiresAt":1767830400,"fileCount":2,"maxDownloads":10,)" + tail);
}
