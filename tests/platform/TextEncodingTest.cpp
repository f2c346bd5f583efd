#include "platform/TextEncoding.h"

#include <QSet>

#include <gtest/gtest.h>

#include <ostream>

using namespace quorvit;

namespace {

QByteArray allBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

TEST(MacRoman, EveryByteRoundTripsThroughItsOwnCharacter)
{
    const QString text = decodeMacRoman(allBytes());
    ASSERT_EQ(text.size(), 256);
    QSet<QChar> distinct(text.begin(), text.end());
    EXPECT_EQ(distinct.size(), 256) << "two bytes decode to the same character";
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(text.at(i).unicode(), i);
    const auto encoded = encodeMacRoman(text);
    ASSERT_TRUE(encoded);
    EXPECT_EQ(*encoded, allBytes());
}

TEST(MacRoman, KnownCharacters)
{
    const QString text = decodeMacRoman("\x80\xA5\xCA\xD5\xDB\xF0\xFF");
    EXPECT_EQ(text, QStringLiteral("Ä•\u00A0’€\uF8FF\u02C7"));
}

TEST(MacRoman, CharacterWithoutAByteCannotBeEncoded)
{
    for (const QString& text :
         {QStringLiteral("日"), QStringLiteral("ok \u00A4"), QStringLiteral("🎉"), QStringLiteral("\u0100")})
        EXPECT_FALSE(encodeMacRoman(text)) << text.toStdString();
    EXPECT_EQ(encodeMacRoman(QStringLiteral("Café €")), QByteArray("Caf\x8E \xDB"));
}

struct Utf8Case
{
    const char* name;
    friend void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }
    QByteArray bytes;
    std::optional<QString> expected;
};

class StrictUtf8 : public testing::TestWithParam<Utf8Case>
{
};

TEST_P(StrictUtf8, DecodesOnlyValidText)
{
    EXPECT_EQ(decodeUtf8Strict(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrictUtf8,
    testing::Values(
        Utf8Case{"Ascii", "plain", QStringLiteral("plain")}, Utf8Case{"Empty", "", QString()},
        Utf8Case{"Multibyte", "Gr\xC3\xBC\xC3\x9F\x65 \xF0\x9F\x8E\x89", QStringLiteral("Grüße 🎉")},
        Utf8Case{"ByteOrderMarkDropped", "\xEF\xBB\xBFtext", QStringLiteral("text")},
        Utf8Case{"InvalidByte", "ab\xFF", std::nullopt}, Utf8Case{"Latin1Byte", "caf\xE9", std::nullopt},
        Utf8Case{"LoneContinuation", "\x80", std::nullopt},
        Utf8Case{"TruncatedAtEnd", "ok\xC3", std::nullopt},
        Utf8Case{"TruncatedFourByte", "ok\xF0\x9F\x8E", std::nullopt},
        Utf8Case{"Overlong", "\xC0\xAF", std::nullopt}, Utf8Case{"Surrogate", "\xED\xA0\x80", std::nullopt},
        Utf8Case{"BeyondUnicode", "\xF4\x90\x80\x80", std::nullopt}),
    [](const testing::TestParamInfo<Utf8Case>& info) { return std::string(info.param.name); });

} // namespace
