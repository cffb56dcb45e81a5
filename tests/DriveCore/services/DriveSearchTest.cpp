#include "DriveCore/services/DriveSearch.h"

#include "DriveCore/platform/LocalizedText.h"
#include "DriveCore/support/Tasks.h"
#include "support/TestSupport.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <algorithm>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;

namespace {

ListItem file(const QString &path, qint64 size = 1, const QString &modTime = QStringLiteral("2026-12-09T10:08:29Z"))
{
    return {path, path.mid(path.lastIndexOf(u'/') + 1), size, modTime, false};
}

ListItem folder(const QString &path)
{
    return {path, path.mid(path.lastIndexOf(u'/') + 1), -1, QStringLiteral("2026-12-09T10:08:29Z"), true};
}

QStringList paths(const QList<DriveSearchEntry> &entries)
{
    QStringList found;
    for (const DriveSearchEntry &entry : entries)
        found.append(entry.path);
    return found;
}

const DriveSearchEntry *findEntry(const QList<DriveSearchEntry> &entries, const QString &path)
{
    const auto found =
        std::find_if(entries.begin(), entries.end(), [&](const auto &entry) { return entry.path == path; });
    return found == entries.end() ? nullptr : &*found;
}

DriveSearch::Index indexOf(const QStringList &filePaths)
{
    QList<ListItem> listing;
    for (const QString &path : filePaths)
        listing.append(file(path));
    return DriveSearch::Index(DriveSearch::entries(listing, {}));
}

QStringList found(const DriveSearch::Index &index, const QString &query, qsizetype limit = 500)
{
    return paths(DriveSearch::results(index, query, limit).items);
}

TEST(DriveSearch, BuildsEntriesFromTheListingAndTheUploadQueue)
{
    const QString decomposed = QStringLiteral("Cafe\u0301/Menu.pdf");
    const QString composed = QStringLiteral("Caf\u00e9/Menu.pdf");
    const QList<DriveSearchEntry> entries = DriveSearch::entries(
        {folder(QStringLiteral("Work")),
         file(QStringLiteral("Work/a.txt"), 12, QStringLiteral("2026-12-09T10:08:29.123456789Z")), file(decomposed, 5),
         file(composed, 7), file(QStringLiteral("Work/b.txt"), 3, QStringLiteral("yesterday"))},
        {QStringLiteral("Work/b.txt"), QStringLiteral("New/upload.bin")});

    EXPECT_EQ(entries.size(), 5);
    EXPECT_EQ(*findEntry(entries, QStringLiteral("Work")),
              (DriveSearchEntry{"Work", "Work", true, std::nullopt,
                                QDateTime(QDate(2026, 12, 9), QTime(10, 8, 29), Qt::UTC), false}));
    EXPECT_EQ(*findEntry(entries, QStringLiteral("Work/a.txt")),
              (DriveSearchEntry{"Work/a.txt", "a.txt", false, 12,
                                QDateTime(QDate(2026, 12, 9), QTime(10, 8, 29, 123), Qt::UTC), false}));
    // Two spellings of one path are one entry, the later one.
    ASSERT_TRUE(findEntry(entries, composed));
    EXPECT_EQ(findEntry(entries, composed)->size, 7);
    EXPECT_EQ(findEntry(entries, composed)->name, QStringLiteral("Menu.pdf"));
    // A waiting upload replaces the listing's entry.
    EXPECT_EQ(*findEntry(entries, QStringLiteral("Work/b.txt")),
              (DriveSearchEntry{"Work/b.txt", "b.txt", false, std::nullopt, std::nullopt, true}));
    EXPECT_EQ(*findEntry(entries, QStringLiteral("New/upload.bin")),
              (DriveSearchEntry{"New/upload.bin", "upload.bin", false, std::nullopt, std::nullopt, true}));
}

TEST(DriveSearch, ReadsModificationTimesAsInternetDates)
{
    const QDateTime utc(QDate(2026, 12, 9), QTime(10, 8, 29), Qt::UTC);
    const struct {
        const char *text;
        std::optional<QDateTime> date;
    } cases[] = {
        {"2026-12-09T10:08:29Z", utc},
        {"2026-12-09T10:08:29.5Z", utc.addMSecs(500)},
        {"2026-12-09T10:08:29.123456789Z", utc.addMSecs(123)},
        {"2026-12-09T11:38:29+01:30", utc},
        {"2026-12-09T08:08:29.000-02:00", utc},
        {"2026-12-09T10:08:29", std::nullopt},
        {"2026-12-09T10:08:29.Z", std::nullopt},
        {"2026-12-09 10:08:29Z", std::nullopt},
        {"2026-02-30T10:08:29Z", std::nullopt},
        {"2026-12-09T24:08:29Z", std::nullopt},
        {"2026-12-09T10:08:29+0100", std::nullopt},
        {"2026-12-09T10:08:29Z ", std::nullopt},
        {"-026-12-09T10:08:29Z", std::nullopt},
        {"２026-12-09T10:08:29Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &c : cases) {
        const QList<DriveSearchEntry> entries =
            DriveSearch::entries({file(QStringLiteral("a"), 1, QString::fromUtf8(c.text))}, {});
        ASSERT_EQ(entries.size(), 1);
        EXPECT_EQ(entries.front().modified, c.date) << c.text;
    }
}

TEST(DriveSearch, UnusablePathsAreDroppedAndNeverRevealed)
{
    const QUrl mount = QUrl::fromLocalFile(QStringLiteral("/home/me/Mounts/My Drive"));
    const QStringList unusable{
        "/a", "a//b", "a/./b", "a/../b", "a/", "", ".", "..", QStringLiteral("a") + QChar(0) + "b"};
    for (const QString &path : unusable) {
        EXPECT_TRUE(DriveSearch::entries({file(path)}, {path}).isEmpty()) << path.toStdString();
        EXPECT_EQ(DriveSearch::revealURL(path, mount), std::nullopt) << path.toStdString();
    }
    EXPECT_EQ(DriveSearch::revealURL(QStringLiteral("Work/Q1 report.pdf"), mount),
              QUrl::fromLocalFile(QStringLiteral("/home/me/Mounts/My Drive/Work/Q1 report.pdf")));
    EXPECT_EQ(DriveSearch::revealURL(QStringLiteral("..a/b.."), QUrl::fromLocalFile(QStringLiteral("/m/"))),
              QUrl::fromLocalFile(QStringLiteral("/m/..a/b..")));
    EXPECT_EQ(DriveSearch::revealURL(QStringLiteral("Caf\u00e9"), mount),
              QUrl::fromLocalFile(QStringLiteral("/home/me/Mounts/My Drive/Caf\u00e9")));
    // Not in composed form: the mount's path of it is another text.
    EXPECT_EQ(DriveSearch::revealURL(QStringLiteral("Cafe\u0301"), mount), std::nullopt);
    EXPECT_EQ(DriveSearch::revealURL(QStringLiteral("a"), QUrl(QStringLiteral("https://example.com/m"))), std::nullopt);
}

TEST(DriveSearch, FindsEveryWordInThePathNamesHoldingThemFirst)
{
    const DriveSearch::Index index = indexOf({
        "Work/Reports/Q1 report 2024.pdf",
        "Work/Reports/summary.xlsx",
        "Work/Reports/2024/plan.txt",
        "Home/report-2024.txt",
        "Home/Report 2023.txt",
        "Work/Reports",
    });

    EXPECT_EQ(found(index, QStringLiteral("Report 2024")),
              (QStringList{"Work/Reports/Q1 report 2024.pdf", "Home/report-2024.txt", "Work/Reports/2024/plan.txt"}));
    // A folder's name finds everything below it; names holding the word come first.
    EXPECT_EQ(found(index, QStringLiteral("REPORT")),
              (QStringList{"Work/Reports/Q1 report 2024.pdf", "Home/Report 2023.txt", "Home/report-2024.txt",
                           "Work/Reports", "Work/Reports/2024/plan.txt", "Work/Reports/summary.xlsx"}));
    EXPECT_EQ(found(index, QStringLiteral("  \n\t report \u2003 2023\r\n")), (QStringList{"Home/Report 2023.txt"}));
}

TEST(DriveSearch, OrdersNamesAsTheFileManagerThenByPath)
{
    const DriveSearch::Index index = indexOf({"b/file 10", "b/file 2", "a/file 2", "c/File 1", "c/\u00e9t\u00e9"});
    EXPECT_EQ(found(index, QStringLiteral("file")), (QStringList{"c/File 1", "a/file 2", "b/file 2", "b/file 10"}));
    EXPECT_EQ(found(index, QStringLiteral("ETE")), (QStringList{"c/\u00e9t\u00e9"}));
}

TEST(DriveSearch, LimitsItemsButCountsEveryMatch)
{
    const DriveSearch::Index index = indexOf({"x/a1", "x/a2", "x/a3", "y/b"});
    const struct {
        QString query;
        qsizetype limit;
        QStringList items;
        qsizetype total;
    } cases[] = {
        {"a", 2, {"x/a1", "x/a2"}, 3},
        {"a", 0, {}, 3},
        {"a", -5, {}, 3},
        {"x", 500, {"x/a1", "x/a2", "x/a3"}, 3},
        {"   ", 500, {}, 0},
        {"", 500, {}, 0},
        {"a b", 500, {}, 0},
        // A mark after a space belongs to it; a word of only a mark folds to nothing and is
        // found nowhere.
        {"a \u0301", 500, {"x/a1", "x/a2", "x/a3"}, 3},
        {"\u0301a", 500, {"x/a1", "x/a2", "x/a3"}, 3},
        {"\u0301 a", 500, {}, 0},
        {"a1/", 500, {}, 0},
        {"x/a", 500, {"x/a1", "x/a2", "x/a3"}, 3},
        // Entries never run into one another.
        {"a1x", 500, {}, 0},
    };
    for (const auto &c : cases) {
        const DriveSearch::Results results = DriveSearch::results(index, c.query, c.limit);
        EXPECT_EQ(paths(results.items), c.items) << c.query.toStdString() << " " << c.limit;
        EXPECT_EQ(results.total, c.total) << c.query.toStdString();
    }
    EXPECT_EQ(DriveSearch::results(DriveSearch::Index(), QStringLiteral("a"), 10), DriveSearch::Results{});
}

// The prepared index answers as the plain rule does: every word by the localized containment
// test, then a stable sort by the three keys.
TEST(DriveSearch, PreparedIndexAnswersAsThePlainRule)
{
    QRandomGenerator random(42);
    const QStringList pieces{"a", "b", "ab", "Ä", "é", "e\u0301", "ß", "ss", "1", "2", "10", " ", "ﬁ", "Ⅻ", "😀", "x"};
    const auto randomText = [&](int length) {
        QString text;
        for (int i = 0; i < length; ++i)
            text += pieces[random.bounded(int(pieces.size()))];
        return text;
    };
    QList<DriveSearchEntry> entries;
    for (int i = 0; i < 1500; ++i) {
        QString path = randomText(1 + random.bounded(3));
        for (int depth = random.bounded(3); depth > 0; --depth)
            path = randomText(1 + random.bounded(2)) + u'/' + path;
        if (!DriveSearch::isUsablePath(path))
            continue;
        entries.append({path, path.mid(path.lastIndexOf(u'/') + 1), false, std::nullopt, std::nullopt, false});
    }
    const DriveSearch::Index index(entries);

    for (int round = 0; round < 200; ++round) {
        const QString query = randomText(1 + random.bounded(4));
        const QStringList words = query.split(u' ', Qt::SkipEmptyParts);
        const auto holdsAll = [&](const QString &text) {
            return !words.isEmpty() && std::all_of(words.begin(), words.end(), [&](const QString &word) {
                return LocalizedText::contains(text, word);
            });
        };
        std::vector<qsizetype> order;
        for (qsizetype i = 0; i < entries.size(); ++i) {
            if (holdsAll(entries[i].path))
                order.push_back(i);
        }
        // Stable: equal entries keep the index's order.
        std::sort(order.begin(), order.end(), [&](qsizetype i, qsizetype j) {
            const DriveSearchEntry &a = entries[i], &b = entries[j];
            const bool aName = holdsAll(a.name), bName = holdsAll(b.name);
            if (aName != bName)
                return aName;
            if (const int byName = LocalizedText::compare(a.name, b.name))
                return byName < 0;
            if (a.path != b.path)
                return a.path.toUcs4() < b.path.toUcs4();
            return i < j;
        });
        QList<DriveSearchEntry> expected;
        for (const qsizetype i : order)
            expected.append(entries[i]);
        const qsizetype limit = random.bounded(40);
        const DriveSearch::Results results = DriveSearch::results(index, query, limit);
        ASSERT_EQ(results.total, expected.size()) << query.toStdString();
        ASSERT_EQ(paths(results.items), paths(expected.first(std::min(limit, expected.size())))) << query.toStdString();
    }
}

// An app model stand-in: its state is set by the test, and its listing waits for the event loop
// so that the test can change the state while it runs.
class Model : public DriveSearch::SearchRefreshing {
public:
    bool isOnline = true;
    bool running = true;
    std::optional<RCClient> client = RCClient(5572, QStringLiteral("u"), QStringLiteral("p"));
    std::optional<DriveSettings> driveSettings =
        DriveSettings{QStringLiteral("Drive"), 30, QUuid::createUuid(), QStringLiteral("Mac"), true};
    bool changing = false;
    bool signOut = false;
    QDateTime clock = QDateTime(QDate(2026, 12, 9), QTime(10, 8, 29), Qt::UTC);

    std::function<void()> duringListing = [] {};
    std::exception_ptr listingFailure;
    QList<DriveSearchEntry> listing{{"Work/a.txt", "a.txt", false, 1, std::nullopt, false}};
    int listings = 0;

    std::optional<DriveSearch::Index> index;
    std::optional<QDateTime> indexedAt;

    bool online() const override { return isOnline; }
    bool supervisorRunning() const override { return running; }
    std::optional<RCClient> rc() const override { return client; }
    std::optional<DriveSettings> settings() const override { return driveSettings; }
    bool isChangingDrive() const override { return changing; }
    bool signingOut() const override { return signOut; }
    QDateTime now() const override { return clock; }
    QCoro::Task<QList<DriveSearchEntry>> searchListing(RCClient, CancelToken) override
    {
        ++listings;
        co_await DriveCore::sleep(1ms);
        duringListing();
        if (listingFailure)
            std::rethrow_exception(listingFailure);
        co_return QList<DriveSearchEntry>(listing);
    }
    void setSearchIndex(DriveSearch::Index value) override { index = std::move(value); }
    void setSearchIndexedAt(QDateTime date) override { indexedAt = date; }
};

std::optional<QString> refusal(Model &model)
{
    const auto refused = TestSupport::failureOf<AppModelError>(DriveSearch::refreshSearchIndex(model));
    return refused ? std::optional(refused->message) : std::nullopt;
}

TEST(DriveSearchRefresh, StoresTheNewIndexAndThenItsDate)
{
    Model model;
    await(DriveSearch::refreshSearchIndex(model));
    ASSERT_TRUE(model.index);
    EXPECT_EQ(model.index->entries(), model.listing);
    EXPECT_EQ(found(*model.index, QStringLiteral("A.TXT")), QStringList{"Work/a.txt"});
    EXPECT_EQ(model.indexedAt, model.clock);
}

TEST(DriveSearchRefresh, IsRefusedUnlessTheDriveRuns)
{
    const struct {
        const char *state;
        std::function<void(Model &)> set;
        QString message;
    } cases[] = {
        {"offline", [](Model &m) { m.isOnline = false; }, DriveSearch::offlineText},
        {"offline and stopped",
         [](Model &m) {
             m.isOnline = false;
             m.running = false;
         },
         DriveSearch::offlineText},
        {"stopped", [](Model &m) { m.running = false; }, DriveSearch::notConnectedText},
        {"no client", [](Model &m) { m.client.reset(); }, DriveSearch::notConnectedText},
        {"no settings", [](Model &m) { m.driveSettings.reset(); }, DriveSearch::notConnectedText},
        {"changing", [](Model &m) { m.changing = true; }, DriveSearch::notConnectedText},
        {"signing out", [](Model &m) { m.signOut = true; }, DriveSearch::notConnectedText},
    };
    for (const auto &c : cases) {
        Model model;
        c.set(model);
        EXPECT_EQ(refusal(model), c.message) << c.state;
        EXPECT_EQ(model.listings, 0) << c.state;
        EXPECT_FALSE(model.index) << c.state;
    }
    EXPECT_EQ(DriveSearch::offlineText,
              QStringLiteral("Connect to the internet to refresh search. Your previous results are still available."));
    EXPECT_EQ(DriveSearch::notConnectedText, QStringLiteral("Wait for your drive to connect, then try again."));
}

TEST(DriveSearchRefresh, ADriveChangedDuringTheListingKeepsThePreviousIndex)
{
    const struct {
        const char *change;
        std::function<void(Model &)> apply;
    } cases[] = {
        {"stopped", [](Model &m) { m.running = false; }},
        {"client gone", [](Model &m) { m.client.reset(); }},
        {"restarted on another port",
         [](Model &m) { m.client = RCClient(5573, QStringLiteral("u"), QStringLiteral("p")); }},
        {"settings gone", [](Model &m) { m.driveSettings.reset(); }},
        {"another drive", [](Model &m) { m.driveSettings->deviceID = QUuid::createUuid(); }},
        {"signing out", [](Model &m) { m.signOut = true; }},
    };
    for (const auto &c : cases) {
        Model model;
        model.duringListing = [&] { c.apply(model); };
        EXPECT_THROW(await(DriveSearch::refreshSearchIndex(model)), CancelledError) << c.change;
        EXPECT_FALSE(model.index) << c.change;
        EXPECT_FALSE(model.indexedAt) << c.change;
    }

    // A new client on the same port, or settings changed otherwise, is the same drive.
    Model model;
    model.duringListing = [&] {
        model.client = RCClient(5572, QStringLiteral("other"), QStringLiteral("pass"));
        model.driveSettings->driveName = QStringLiteral("Renamed");
    };
    await(DriveSearch::refreshSearchIndex(model));
    EXPECT_TRUE(model.index);
}

TEST(DriveSearchRefresh, CancellingOrAFailingListingKeepsThePreviousIndex)
{
    Model model;
    CancelSource cancel;
    model.duringListing = [&] { cancel.request_stop(); };
    EXPECT_THROW(await(DriveSearch::refreshSearchIndex(model, cancel.get_token())), CancelledError);
    EXPECT_FALSE(model.index);

    model.duringListing = [] {};
    model.listingFailure =
        std::make_exception_ptr(RCError(QStringLiteral("operations/list"), 500, QStringLiteral("boom")));
    EXPECT_THROW(await(DriveSearch::refreshSearchIndex(model)), RCError);
    EXPECT_FALSE(model.index);
    EXPECT_FALSE(model.indexedAt);
}

} // namespace
