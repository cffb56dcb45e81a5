#include "DriveCore/platform/LocalizedText.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>

using namespace DriveCore;

TEST(LocalizedText, SortsNamesAsAFileManagerDoes)
{
    QStringList names{QStringLiteral("file10.txt"), QStringLiteral("File2.txt"), QStringLiteral("file1.txt"),
                      QStringLiteral("éclair"), QStringLiteral("Zebra"), QStringLiteral("eclair"),
                      QStringLiteral("apple")};
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return LocalizedText::compare(a, b) < 0; });
    EXPECT_EQ(names, (QStringList{QStringLiteral("apple"), QStringLiteral("eclair"), QStringLiteral("éclair"),
                                  QStringLiteral("file1.txt"), QStringLiteral("File2.txt"),
                                  QStringLiteral("file10.txt"), QStringLiteral("Zebra")}));
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
