#include "DriveCore/support/JsonReader.h"

#include <gtest/gtest.h>

#include <functional>

using namespace DriveCore;

namespace {

// The error's text, or "no error" when the action succeeds.
std::string failure(const std::function<void()> &action)
{
    try {
        action();
    } catch (const JsonDecodingError &error) {
        return error.description.toStdString();
    }
    return "no error";
}

} // namespace

TEST(JsonReader, ParsesOnlyAnObjectAndNamesWhatItRead)
{
    EXPECT_EQ(JsonReader::parse(R"({"a": "b"})").value<QString>(u"a"), QStringLiteral("b"));
    struct Case {
        QByteArray bytes;
        std::string expected;
    };
    const Case cases[] = {
        {.bytes = "[1]", .expected = "The note is not a JSON object"},
        {.bytes = "\"text\"", .expected = "The note is not valid JSON: "},
        {.bytes = "", .expected = "The note is not valid JSON: "},
        {.bytes = "{\"a\": ", .expected = "The note is not valid JSON: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes.toStdString());
        EXPECT_EQ(failure([&] { JsonReader::parse(c.bytes, u"The note"); }).substr(0, c.expected.size()), c.expected);
    }
}

TEST(JsonReader, IntegersAreWholeNumbersInRange)
{
    const JsonReader reader =
        JsonReader::parse(R"({"whole": 30, "point": 30.0, "exp": 3e1, "half": 30.5, "huge": 1e300, "text": "30"})");
    for (const char16_t *key : {u"whole", u"point", u"exp"})
        EXPECT_EQ(reader.value<qint64>(key), 30);
    for (const char16_t *key : {u"half", u"huge", u"text"})
        EXPECT_EQ(failure([&] { reader.value<qint64>(key); }),
                  "Expected an integer at " + QString::fromUtf16(key).toStdString());
    EXPECT_EQ(failure([&] { reader.value<qint64>(u"missing"); }), "The reply has no value at missing");
}

TEST(JsonReader, OptionalValuesMayBeMissingOrNullButNotOfAnotherKind)
{
    const JsonReader reader = JsonReader::parse(R"({"null": null, "number": 1.5, "flag": true})");
    EXPECT_FALSE(reader.optional<QString>(u"missing"));
    EXPECT_FALSE(reader.optional<QString>(u"null"));
    EXPECT_FALSE(reader.has(u"null"));
    EXPECT_TRUE(reader.has(u"flag"));
    EXPECT_EQ(reader.value<double>(u"number"), 1.5);
    EXPECT_EQ(failure([&] { reader.optional<QString>(u"flag"); }), "Expected a string at flag");
    EXPECT_EQ(failure([&] { reader.value<double>(u"flag"); }), "Expected a number at flag");
}
