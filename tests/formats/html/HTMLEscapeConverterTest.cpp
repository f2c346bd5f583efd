#include "formats/html/HTMLEscapeConverter.h"
#include "QStringPrinter.h"
#include "platform/QVLog.h"

#include <gtest/gtest.h>

namespace {

const HTMLEscapeConverter& converter()
{
    return HTMLEscapeConverter::sharedInstance();
}

TEST(HTMLEscapeConverter, TablesPairCharactersWithEntities)
{
    quorvit::LogCapture log;
    const HTMLEscapeConverter fresh;
    EXPECT_TRUE(log.lines().isEmpty());
    ASSERT_EQ(fresh.htmlValues().size(), 126);
    ASSERT_EQ(fresh.charValues().size(), 126);
    const std::pair<int, const char*> rows[] = {{0, "&iexcl;"}, {54, "&times;"},  {94, "&yuml;"},
                                                {95, "&euro;"}, {98, "&ldquor;"}, {102, ""},
                                                {125, "&Yuml;"}};
    for (const auto& [row, entity] : rows)
        EXPECT_EQ(fresh.htmlValues().at(row), QLatin1String(entity)) << row;
    EXPECT_EQ(fresh.charValues().at(54), QStringLiteral("\u00D7"));
    EXPECT_EQ(fresh.charValues().at(96), QStringLiteral("\u0082")); // U+0081 has no row
}

TEST(HTMLEscapeConverter, HighASCIITestLooksAtWholeCharacter)
{
    EXPECT_FALSE(converter().containsHighASCIIChar(QString()));
    EXPECT_FALSE(converter().containsHighASCIIChar(QStringLiteral("Plain name 42")));
    for (const QString& text : {QStringLiteral("a&b"), QStringLiteral("\""), QStringLiteral("<"),
                                QStringLiteral("\u0080"), QStringLiteral("\u4E00")}) // low byte 0x00
        EXPECT_TRUE(converter().containsHighASCIIChar(text)) << text.toStdString();
}

struct EscapeCase
{
    QString input;
    bool extended;
    bool unicode;
    QString expected;
};

class Escape : public testing::TestWithParam<EscapeCase>
{
};

TEST_P(Escape, GivesExpectedText)
{
    const EscapeCase& c = GetParam();
    EXPECT_EQ(converter().convertToHTMLCharacters(c.input, c.extended, c.unicode), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Escape,
    testing::Values(EscapeCase{"Tom & Jerry", false, false, "Tom &amp; Jerry"},
                    EscapeCase{"&amp;", false, false, "&amp;"}, EscapeCase{"&lt;", false, false, "&amp;lt;"},
                    EscapeCase{"&amp;amp;", false, false, "&amp;amp;"},
                    EscapeCase{"<a href=\"x\">", false, false, "&lt;a href=&quot;x&quot;&gt;"},
                    EscapeCase{"\u00E9", false, false, "\u00E9"},
                    EscapeCase{"\u00E9", true, false, "&eacute;"},
                    EscapeCase{"\u00E9", false, true, "&#233;"}, EscapeCase{"\u00E9", true, true, "&eacute;"},
                    EscapeCase{"a\u0088b", true, false, "ab"}, EscapeCase{"\u20AC", false, true, "&#8364;"},
                    EscapeCase{"\u0080", true, true, "&euro;"}, EscapeCase{"\u0080", false, true, "&#128;"},
                    EscapeCase{"\u0084", true, false, "&ldquor;"},
                    EscapeCase{"\u00A0", true, false, "\u00A0"}, EscapeCase{"\u00A0", true, true, "&#160;"},
                    EscapeCase{"\U0001F600", false, true, "&#55357;&#56832;"}));

class Unescape : public testing::TestWithParam<std::pair<QString, QString>>
{
};

TEST_P(Unescape, GivesExpectedText)
{
    EXPECT_EQ(converter().convertHTMLFromString(GetParam().first), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Unescape,
    testing::Values(
        std::pair<QString, QString>{"&amp;lt;", "<"}, std::pair<QString, QString>{"&quot;&gt;", "\">"},
        std::pair<QString, QString>{"AT&T", "AT&T"}, std::pair<QString, QString>{"R&D; x", "R&D; x"},
        std::pair<QString, QString>{"&eacute;&Eacute;", "\u00E9\u00C9"},
        // The C1 rows mean their Windows-1252 characters.
        std::pair<QString, QString>{"&euro;&ldquor;", "\u20AC\u201E"},
        std::pair<QString, QString>{"Bob&rsquo;s &mdash; X&trade;", "Bob\u2019s \u2014 X\u2122"},
        std::pair<QString, QString>{"&bdquo;&nbsp;", "&bdquo;&nbsp;"},
        std::pair<QString, QString>{"&#233;", "\u00E9"}, std::pair<QString, QString>{"&amp;#233;", "\u00E9"},
        std::pair<QString, QString>{"&#x41;", QString(QChar(0))},
        std::pair<QString, QString>{"&#;", QString(QChar(0))},
        std::pair<QString, QString>{"x&#12a;", "x\u000C"},
        std::pair<QString, QString>{"&#65601;", "A"}, // wraps to 16 bits
        std::pair<QString, QString>{"&#99999999999999999999;", "\uFFFF"},
        std::pair<QString, QString>{"a&#65;b&#66", "aAb&#66"}, std::pair<QString, QString>{"&#65;&#", "A&#"},
        std::pair<QString, QString>{"&#55357;&#56832;", "\U0001F600"},
        // A decoded "&" or "#" forms a new reference with its neighbours.
        std::pair<QString, QString>{"&#38;#65;", "A"}, std::pair<QString, QString>{"&&#35;66;", "B"}));

class RoundTrip : public testing::TestWithParam<QString>
{
};

TEST_P(RoundTrip, EscapeThenUnescapeGivesNameBack)
{
    for (const bool extended : {false, true}) {
        for (const bool unicode : {false, true}) {
            QString escaped = converter().convertToHTMLCharacters(GetParam(), extended, unicode);
            EXPECT_EQ(converter().convertHTMLFromString(escaped), GetParam()) << extended << unicode;
            if (unicode) {
                EXPECT_FALSE(converter().containsHighASCIIChar(escaped.remove(QLatin1Char('&'))));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(HostileNames, RoundTrip,
                         testing::Values("<script>alert(\"x\")</script>", "Tom & Jerry > Tom", "AT&T; R&D",
                                         "caf\u00E9 \u2615 \U0001F600", "\u00E9#65;", "#38;#60;",
                                         "\u00A0\u00FF\u0081\u0100", "\u0152\u20AC\u2014 \u00BD"));

TEST(HTMLEscapeConverter, AttributeValuesDecodeOnceAndRoundTrip)
{
    const std::pair<const char*, const char16_t*> decoded[] = {
        {"?q=qt&amp;hl=de", u"?q=qt&hl=de"},
        {"&amp;lt;", u"&lt;"}, // once only
        {"&#x41;&#66;&apos;&rsquo;&#146;", u"AB'\u2019\u2019"},
        {"AT&T; &bogus; &#xZZ; &#0;", u"AT&T; &bogus; &#xZZ; \uFFFD"},
    };
    for (const auto& [value, expected] : decoded)
        EXPECT_EQ(converter().decodeAttributeValue(QString::fromUtf8(value)), QString::fromUtf16(expected))
            << value;
    for (const QString& value :
         {QStringLiteral("javascript:(function(){alert(\"x\")})()"),
          QStringLiteral("http://x/\" onmouseover=\"alert(1)"), QStringLiteral("a&amp;b&#38;<c>\r\n\t'd'")}) {
        const QString escaped = HTMLEscapeConverter::escapeAttributeValue(value);
        EXPECT_FALSE(escaped.contains(QLatin1Char('"')) || escaped.contains(QLatin1Char('<')) ||
                     escaped.contains(QLatin1Char('\n')));
        EXPECT_EQ(converter().decodeAttributeValue(escaped), value);
    }
}

TEST(HTMLEscapeConverter, LongHostileTextDecodesInLinearTime)
{
    // Each case would take quadratic time if every reference rescanned or rebuilt the whole text.
    QString distinct;
    QString expected;
    for (int i = 0; i < 100000; ++i) {
        distinct += QLatin1String("&#") + QString::number(i % 60000 + 1) + QLatin1Char(';');
        expected += QChar(char16_t(i % 60000 + 1));
    }
    EXPECT_EQ(converter().convertHTMLFromString(distinct), expected);

    // Every decoded "&" starts the next reference: one character remains.
    EXPECT_EQ(converter().convertToUnicodeCharacters(QLatin1String("&") +
                                                     QString(QLatin1String("#38;")).repeated(250000)),
              QStringLiteral("&"));
    const QString unterminated =
        QString(QLatin1String("&#1;")) + QString(QLatin1String("&#")).repeated(500000);
    EXPECT_EQ(converter().convertHTMLFromString(unterminated).size(), unterminated.size() - 3);
    const QString named = QString(QLatin1String("&eacute&&amp;")).repeated(80000);
    EXPECT_EQ(converter().convertHTMLFromString(named), QString(QLatin1String("&eacute&&")).repeated(80000));
}

} // namespace
