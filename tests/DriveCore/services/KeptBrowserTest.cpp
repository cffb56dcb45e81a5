#include "DriveCore/services/KeptBrowser.h"

#include <gtest/gtest.h>

#include <limits>

using namespace DriveCore;

namespace {

constexpr qint64 GB = 1'000'000'000;

PinStatus row(const QString &path, qint64 bytes = 0, bool isDir = false, qint64 bytesDone = 0)
{
    return {path, isDir, 1, 1, bytes, bytesDone, QStringLiteral("done")};
}

QStringList paths(const QList<PinStatus> &rows)
{
    QStringList paths;
    for (const PinStatus &r : rows)
        paths.append(r.path);
    return paths;
}

QStringList shown(const QStringList &input, const QString &query, KeptBrowser::Sort sort)
{
    QList<PinStatus> rows;
    for (const QString &path : input)
        rows.append(row(path));
    return paths(KeptBrowser::items(rows, query, sort));
}

} // namespace

TEST(KeptBrowser, SortOrdersAndTheirTexts)
{
    using KeptBrowser::Sort;
    EXPECT_EQ(KeptBrowser::allSorts(), (QList<Sort>{Sort::name, Sort::size, Sort::folder}));
    for (const Sort sort : KeptBrowser::allSorts())
        EXPECT_EQ(KeptBrowser::sort(KeptBrowser::text(sort)), sort);
    EXPECT_EQ(KeptBrowser::text(Sort::folder), QStringLiteral("Folder"));
    EXPECT_EQ(KeptBrowser::sort(QStringLiteral("size")), std::nullopt);
    EXPECT_EQ(KeptBrowser::sort(QStringLiteral("Size ")), std::nullopt);
}

TEST(KeptBrowser, SearchesTheWholePathIgnoringCaseAndAccents)
{
    // Already in name order, so only the filter shows.
    const QStringList rows{QStringLiteral("Docs/a.txt"), QStringLiteral("Docs"), QStringLiteral("notes.txt"),
                           QStringLiteral("Photos/Résumé.pdf")};
    const struct {
        const char16_t *query;
        QStringList expected;
    } cases[] = {
        {u"", rows},
        {u" \t\n", rows},
        {u"  docs ", {QStringLiteral("Docs/a.txt"), QStringLiteral("Docs")}},
        {u"RESUME", {QStringLiteral("Photos/Résumé.pdf")}},
        {u"photos/r", {QStringLiteral("Photos/Résumé.pdf")}},
        {u"missing", {}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(shown(rows, QString::fromUtf16(c.query), KeptBrowser::Sort::name).join(u'|'), c.expected.join(u'|'))
            << QString::fromUtf16(c.query).toStdString();
    }
}

TEST(KeptBrowser, SortsByNameSizeAndFolder)
{
    using KeptBrowser::Sort;
    // Numeric collation, case ignored, and same names ordered by their whole paths.
    EXPECT_EQ(shown({QStringLiteral("x/file10"), QStringLiteral("File2"), QStringLiteral("b/a.txt"),
                     QStringLiteral("a/a.txt")},
                    {}, Sort::name),
              (QStringList{QStringLiteral("a/a.txt"), QStringLiteral("b/a.txt"), QStringLiteral("File2"),
                           QStringLiteral("x/file10")}));

    const QList<PinStatus> sized{row(QStringLiteral("z.mov"), 5 * GB), row(QStringLiteral("small"), 1 * GB),
                                 row(QStringLiteral("a.mov"), 5 * GB)};
    EXPECT_EQ(paths(KeptBrowser::items(sized, {}, Sort::size)),
              (QStringList{QStringLiteral("a.mov"), QStringLiteral("z.mov"), QStringLiteral("small")}));

    EXPECT_EQ(shown({QStringLiteral("Photos 10/a.jpg"), QStringLiteral("Photos 2/b.jpg"), QStringLiteral("top.txt"),
                     QStringLiteral("Photos 2/a.jpg")},
                    {}, Sort::folder),
              (QStringList{QStringLiteral("top.txt"), QStringLiteral("Photos 2/a.jpg"),
                           QStringLiteral("Photos 2/b.jpg"), QStringLiteral("Photos 10/a.jpg")}));
}

TEST(KeptBrowser, KeepsInputOrderOfRowsItCannotTellApart)
{
    // The same path twice, once composed and once decomposed: canonically equal.
    QList<PinStatus> rows{row(QStringLiteral("caf\u00E9"), 2), row(QStringLiteral("cafe\u0301"), 1)};
    EXPECT_EQ(KeptBrowser::items(rows, {}, KeptBrowser::Sort::name), rows);
    std::swap(rows[0], rows[1]);
    EXPECT_EQ(KeptBrowser::items(rows, {}, KeptBrowser::Sort::name), rows);
}

TEST(KeptBrowser, ActionPaths)
{
    const QStringList visible{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    const QSet<QString> checked{QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("hidden")};
    EXPECT_EQ(KeptBrowser::actionPaths(QStringLiteral("b"), checked, visible), QStringList{QStringLiteral("b")});
    EXPECT_EQ(KeptBrowser::actionPaths(QStringLiteral("c"), checked, visible),
              (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
    EXPECT_EQ(KeptBrowser::actionPaths(QStringLiteral("hidden"), checked, visible), QStringList{});
}

TEST(KeptBrowser, LocalBytesCountNestedRowsOnceThroughTheirFolder)
{
    const struct {
        const char *name;
        QList<PinStatus> rows;
        qint64 bytes;
    } cases[] = {
        {"a file kept inside a kept folder",
         {row(QStringLiteral("Docs"), 0, true, 3 * GB), row(QStringLiteral("Docs/big.mov"), 0, false, 2 * GB)},
         3 * GB},
        {"only folders contain",
         {row(QStringLiteral("Docs"), 0, false, 3 * GB), row(QStringLiteral("Docs/a.txt"), 0, false, 2 * GB)},
         5 * GB},
        {"a sibling that only shares a prefix",
         {row(QStringLiteral("Docs"), 0, true, 3 * GB), row(QStringLiteral("Docs2/a"), 0, false, 2 * GB)},
         5 * GB},
        {"nested folders",
         {row(QStringLiteral("a/b/c"), 0, false, 1), row(QStringLiteral("a"), 0, true, 7),
          row(QStringLiteral("a/b"), 0, true, 5)},
         7},
        {"negative figures", {row(QStringLiteral("x"), 0, false, -4), row(QStringLiteral("y"), 0, false, 2)}, 2},
        // The engine's figures are taken as they come; absurd ones hold the total at the top.
        {"figures past the range",
         {row(QStringLiteral("x"), 0, false, std::numeric_limits<qint64>::max()),
          row(QStringLiteral("y"), 0, false, 2 * GB)},
         std::numeric_limits<qint64>::max()},
        {"nothing kept", {}, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(KeptBrowser::localBytes(c.rows), c.bytes) << c.name;
}
