#include "DriveCore/shares/ShareLinks.h"

#include "DriveCore/shares/ShareRecords.h"

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

const QString id = QStringLiteral("AAECAwQFBgcICQoLDA0ODw");
const QString secret = QStringLiteral("ICEiIyQlJicoKSorLC0uLzAxMjM0NTY3ODk6Ozw9Pj8");

ShareRecord minimalRecord()
{
    ShareRecord record;
    record.id = id;
    record.secret = secret;
    record.title = QStringLiteral("Photos and 1 more");
    record.items = {QStringLiteral("Photos"), QStringLiteral("Notes/a.txt")};
    record.fileCount = 2;
    record.totalBytes = 10;
    record.createdAt = QDateTime::fromMSecsSinceEpoch(1'769'850'300'900, Qt::UTC); // 2026-01-31T09:05:00.9Z
    record.workerURL = QUrl(QStringLiteral("https://ovra-share-b.alice.workers.dev"));
    record.createdBy = QStringLiteral("Kitchen Mac");
    return record;
}

TEST(ShareLinks, ExpiryChoicesAreStoredByTheirExactNames)
{
    const std::vector<std::tuple<ShareExpiry::Value, QString, std::optional<qint64>>> cases{
        {ShareExpiry::oneHour, "oneHour", 3600},       {ShareExpiry::oneDay, "oneDay", 86400},
        {ShareExpiry::sevenDays, "sevenDays", 604800}, {ShareExpiry::thirtyDays, "thirtyDays", 2592000},
        {ShareExpiry::never, "never", std::nullopt},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto &[value, text, seconds] = cases[i];
        EXPECT_EQ(ShareExpiry::allCases[i], value);
        EXPECT_EQ(ShareExpiry(value).text(), text);
        EXPECT_EQ(ShareExpiry(value).seconds(), seconds);
        EXPECT_EQ(ShareExpiry::fromText(text), ShareExpiry(value));
    }
    for (const char *other : {"OneHour", "NEVER", "", "sevenDays "})
        EXPECT_FALSE(ShareExpiry::fromText(QString::fromUtf8(other))) << other;
    EXPECT_EQ(ShareExpiry(), ShareExpiry(ShareExpiry::sevenDays));
}

TEST(ShareLinks, ProgressOfNothingIsComplete)
{
    EXPECT_EQ((ShareProgress{0, 0}).fraction(), 1.0);
    EXPECT_EQ((ShareProgress{1, 4}).fraction(), 0.25);
}

TEST(ShareLinks, TheLinkCarriesTheSecretOnlyInItsFragment)
{
    const QString expected = QStringLiteral("https://x.workers.dev/s/") + id + u'#' + secret;
    for (const char *base : {"https://x.workers.dev", "https://x.workers.dev/", "https://x.workers.dev///"})
        EXPECT_EQ(ShareLink::url(QUrl(QString::fromUtf8(base)), id, secret).toString(), expected) << base;
    const QUrl withPath = ShareLink::url(QUrl(QStringLiteral("https://host.example/links/")), id, secret);
    EXPECT_EQ(withPath.path(), QStringLiteral("/links/s/") + id);
    EXPECT_EQ(withPath.fragment(), secret);
    EXPECT_EQ(minimalRecord().link().toString(),
              QStringLiteral("https://ovra-share-b.alice.workers.dev/s/") + id + u'#' + secret);
}

TEST(ShareLinks, ALinkExpiresAtItsExpiry)
{
    ShareRecord record = minimalRecord();
    const QDateTime expiry = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    EXPECT_FALSE(record.isExpired(expiry));
    record.expiresAt = expiry;
    EXPECT_FALSE(record.isExpired(expiry.addSecs(-1)));
    EXPECT_TRUE(record.isExpired(expiry));
    EXPECT_TRUE(record.isExpired(expiry.addSecs(1)));
}

TEST(ShareRecords, ARecordIsWrittenSortedWithWholeSecondsAndWithoutAbsentFields)
{
    EXPECT_EQ(
        ShareRecords::encoded(minimalRecord()),
        QByteArray(R"({"createdAt":"2026-01-31T09:05:00Z","createdBy":"Kitchen Mac","fileCount":2,"id":")")
            + id.toUtf8() + R"(","items":["Photos","Notes\/a.txt"],"secret":")" + secret.toUtf8()
            + R"(","title":"Photos and 1 more","totalBytes":10,"workerURL":"https:\/\/ovra-share-b.alice.workers.dev"})");

    ShareRecord full = minimalRecord();
    full.password = QStringLiteral("pässword");
    full.expiresAt = QDateTime::fromSecsSinceEpoch(1'770'455'100, Qt::UTC);
    full.maxDownloads = 10000;
    const QByteArray json = ShareRecords::encoded(full);
    EXPECT_TRUE(json.contains(R"("expiresAt":"2026-02-07T09:05:00Z","fileCount")")) << json.toStdString();
    EXPECT_TRUE(json.contains(R"("maxDownloads":10000,"password":"pässword","secret")")) << json.toStdString();

    for (ShareRecord record : {minimalRecord(), full}) {
        record.createdAt = QDateTime::fromSecsSinceEpoch(1'769'850'300, Qt::UTC); // the fraction is not kept
        EXPECT_EQ(ShareRecords::decoded(ShareRecords::encoded(record)), record);
    }
}

TEST(ShareRecords, ReadingNeedsEveryKeyThatIsAlwaysWritten)
{
    const QJsonObject stored = ShareRecords::decode(ShareRecords::encoded(minimalRecord()));
    for (const QString &key : stored.keys()) {
        QJsonObject without = stored;
        without.remove(key);
        EXPECT_THROW(ShareRecords::decoded(ShareRecords::encode(without)), JsonDecodingError) << key.toStdString();
    }
    const std::vector<std::pair<QString, QJsonValue>> wrong{
        {"fileCount", "2"},
        {"fileCount", 2.5},
        {"items", "Photos"},
        {"createdAt", "2026-01-31 09:05:00"},
        {"createdAt", "2026-01-31T09:05:00.5Z"},
        {"expiresAt", "tomorrow"},
        // In UTC beyond the years a stored date has: the record could not be stored again.
        {"createdAt", "9999-12-31T23:59:59-01:00"},
        {"expiresAt", "0001-01-01T00:00:00+01:00"},
        {"workerURL", "/relative"},
        {"password", 7},
    };
    for (const auto &[key, value] : wrong) {
        QJsonObject changed = stored;
        changed.insert(key, value);
        EXPECT_THROW(ShareRecords::decoded(ShareRecords::encode(changed)), JsonDecodingError) << key.toStdString();
    }
    EXPECT_THROW(ShareRecords::decoded("[]"), JsonDecodingError);

    QJsonObject other = stored;
    other.insert(QStringLiteral("createdAt"), QStringLiteral("2026-01-31T10:05:00+01:00"));
    other.insert(QStringLiteral("futureKey"), true);
    other.insert(QStringLiteral("maxDownloads"), QJsonValue::Null);
    const ShareRecord read = ShareRecords::decoded(ShareRecords::encode(other));
    EXPECT_EQ(read.createdAt, QDateTime::fromSecsSinceEpoch(1'769'850'300, Qt::UTC));
    EXPECT_FALSE(read.maxDownloads);
    EXPECT_FALSE(read.password);
}

} // namespace
