#include "DriveCore/platform/LocalizedText.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>

using namespace DriveCore;

TEST(LocalizedText, SortsNamesAsAFileManagerDoes)
{
    QStringList names{QStringLiteral("file10.txt"), QStringLiteral("File2.txt"), QStringLiteral("file1.txt"),
                      QStringLiteral("éclair"),     QStringLiteral("Zebra"),     QStringLiteral("eclair"),
                      QStringLiteral("apple")};
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return LocalizedText::compare(a, b) < 0; });
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("apple"), QStringLiteral("eclair"), QStringLiteral("éclair"),
                           QStringLiteral("file1.txt"), QStringLiteral("File2.txt"), QStringLiteral("file10.txt"),
                           QStringLiteral("Zebra")}));
}

TEST(LocalizedText, OnlyEqualTextsCompareEqual)
{
    EXPECT_EQ(LocalizedText::compare(QStringLiteral("a"), QStringLiteral("a")), 0);
    EXPECT_NE(LocalizedText::compare(QStringLiteral("a"), QStringLiteral("A")), 0);
    EXPECT_EQ(LocalizedText::compare(QStringLiteral("a"), QStringLiteral("A")),
              -LocalizedText::compare(QStringLiteral("A"), QStringLiteral("a")));
    EXPECT_NE(LocalizedText::compare(QStringLiteral("x01"), QStringLiteral("x1")), 0);
}

TEST(LocalizedText, ContainsIgnoringCaseAccentsAndWidth)
{
    const struct {
        const char16_t *text, *part;
        bool contained;
    } cases[] = {
        {u"Résumé 2026.pdf", u"resume", true},
        {u"resume.pdf", u"RÉSUMÉ", true},
        {u"Straße", u"STRASSE", true},
        {u"ＡＢＣ report", u"abc", true},
        {u"Cafe\u0301", u"café", true},
        {u"notes.txt", u"note s", false},
        {u"notes.txt", u"", false},
        {u"", u"a", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LocalizedText::contains(QString::fromUtf16(c.text), QString::fromUtf16(c.part)), c.contained)
            << QString::fromUtf16(c.text).toStdString() << " / " << QString::fromUtf16(c.part).toStdString();
}

TEST(LocalizedText, SortKeysOrderAsCompareDoes)
{
    const QStringList texts{QStringLiteral("file10"),       QStringLiteral("file2"),  QStringLiteral("File2"),
                            QStringLiteral("éclair"),       QStringLiteral("eclair"), QStringLiteral("Eclair"),
                            QStringLiteral("e\u0301clair"), QStringLiteral("a b"),    QStringLiteral("a-b"),
                            QStringLiteral("ab"),           QStringLiteral(""),       QStringLiteral("\U0001F600"),
                            QStringLiteral("\uFB01"),       QStringLiteral("Straße"), QStringLiteral("strasse")};
    for (const QString &a : texts) {
        for (const QString &b : texts) {
            const int byKey = LocalizedText::sortKey(a).compare(LocalizedText::sortKey(b));
            const int byCompare = LocalizedText::compare(a, b);
            EXPECT_EQ((byKey > 0) - (byKey < 0), byCompare) << a.toStdString() << " / " << b.toStdString();
        }
    }
}

TEST(LocalizedText, FoldsPlainASCIIAsTheFullRuleDoes)
{
    QString ascii;
    for (char16_t c = 1; c < 0x80; ++c)
        ascii.append(QChar(c));
    // The accented letter sends the same text through the full rule.
    EXPECT_EQ(LocalizedText::folded(ascii) + u'e', LocalizedText::folded(ascii + QStringLiteral("\u00c9")));
    EXPECT_EQ(LocalizedText::folded(QStringLiteral("Q1 Report-2024.PDF")), QStringLiteral("q1 report-2024.pdf"));
}
